// The module as a client sees it: loaded with dlopen from its built path and reached only
// through the function list, the way pkcs11-tool or NSS reach it.
#pragma once

#include <p11-kit/pkcs11.h>

#include <string>
#include <vector>

namespace p11test {

using Bytes = std::vector<unsigned char>;

class P11Client
{
public:
    explicit P11Client(const std::string& path);
    ~P11Client();
    CK_FUNCTION_LIST* operator->() const { return m_functions; }

    std::vector<CK_SLOT_ID> slots() const;
    CK_SESSION_HANDLE open(CK_SLOT_ID slot, bool readWrite = false) const;
    std::vector<CK_OBJECT_HANDLE> find(CK_SESSION_HANDLE session, std::vector<CK_ATTRIBUTE> wanted) const;
    // The attribute's value, empty with rv set when the module refuses.
    Bytes attribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type,
                    CK_RV* rv = nullptr) const;
    CK_RV sign(CK_SESSION_HANDLE session, CK_MECHANISM mechanism, CK_OBJECT_HANDLE key, const Bytes& data,
               Bytes& signature) const;

private:
    void* m_library = nullptr;
    CK_FUNCTION_LIST* m_functions = nullptr;
};

CK_ATTRIBUTE classIs(CK_OBJECT_CLASS& value);
CK_ATTRIBUTE idIs(Bytes& value);

// Runs a shell command, returns its exit status.
int run(const std::string& command);

} // namespace p11test
