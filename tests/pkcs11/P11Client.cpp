// Loading the module for the tests and the small calls every test repeats.
#include "P11Client.h"

#include <dlfcn.h>

#include <cstdlib>
#include <stdexcept>

namespace p11test {

P11Client::P11Client(const std::string& path)
{
    m_library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_library) {
        throw std::runtime_error(dlerror());
    }
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(m_library, "C_GetFunctionList"));
    if (!getList || getList(&m_functions) != CKR_OK) {
        throw std::runtime_error("no function list");
    }
}

P11Client::~P11Client()
{
    dlclose(m_library);
}

std::vector<CK_SLOT_ID> P11Client::slots() const
{
    CK_ULONG count = 0;
    if (m_functions->C_GetSlotList(CK_TRUE, nullptr, &count) != CKR_OK) {
        return {};
    }
    std::vector<CK_SLOT_ID> ids(count);
    if (m_functions->C_GetSlotList(CK_TRUE, ids.data(), &count) != CKR_OK) {
        return {};
    }
    ids.resize(count);
    return ids;
}

CK_SESSION_HANDLE P11Client::open(CK_SLOT_ID slot, bool readWrite) const
{
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    const CK_FLAGS flags = CKF_SERIAL_SESSION | (readWrite ? CKF_RW_SESSION : 0);
    if (m_functions->C_OpenSession(slot, flags, nullptr, nullptr, &session) != CKR_OK) {
        return CK_INVALID_HANDLE;
    }
    return session;
}

std::vector<CK_OBJECT_HANDLE> P11Client::find(CK_SESSION_HANDLE session, std::vector<CK_ATTRIBUTE> wanted) const
{
    std::vector<CK_OBJECT_HANDLE> found;
    if (m_functions->C_FindObjectsInit(session, wanted.data(), wanted.size()) != CKR_OK) {
        return found;
    }
    CK_OBJECT_HANDLE batch[4];
    CK_ULONG count = 0;
    while (m_functions->C_FindObjects(session, batch, 4, &count) == CKR_OK && count > 0) {
        found.insert(found.end(), batch, batch + count);
    }
    m_functions->C_FindObjectsFinal(session);
    return found;
}

Bytes P11Client::attribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type, CK_RV* rv) const
{
    CK_ATTRIBUTE query{type, nullptr, 0};
    CK_RV result = m_functions->C_GetAttributeValue(session, object, &query, 1);
    Bytes value;
    if (result == CKR_OK) {
        value.resize(query.ulValueLen);
        query.pValue = value.data();
        result = m_functions->C_GetAttributeValue(session, object, &query, 1);
    }
    if (rv) {
        *rv = result;
    }
    return result == CKR_OK ? value : Bytes();
}

CK_RV P11Client::sign(CK_SESSION_HANDLE session, CK_MECHANISM mechanism, CK_OBJECT_HANDLE key, const Bytes& data,
                      Bytes& signature) const
{
    CK_RV rv = m_functions->C_SignInit(session, &mechanism, key);
    if (rv != CKR_OK) {
        return rv;
    }
    CK_ULONG size = 0;
    rv = m_functions->C_Sign(session, const_cast<unsigned char*>(data.data()), data.size(), nullptr, &size);
    if (rv != CKR_OK) {
        return rv;
    }
    signature.resize(size);
    rv = m_functions->C_Sign(session, const_cast<unsigned char*>(data.data()), data.size(), signature.data(), &size);
    signature.resize(rv == CKR_OK ? size : 0);
    return rv;
}

CK_ATTRIBUTE classIs(CK_OBJECT_CLASS& value)
{
    return CK_ATTRIBUTE{CKA_CLASS, &value, sizeof value};
}

CK_ATTRIBUTE idIs(Bytes& value)
{
    return CK_ATTRIBUTE{CKA_ID, value.data(), value.size()};
}

int run(const std::string& command)
{
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace p11test
