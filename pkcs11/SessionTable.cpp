// Sessions, their operations and their table.
#include "SessionTable.h"

#include "Errors.h"

#include <algorithm>
#include <cstring>

namespace skfp11 {

void Session::requireWritable() const
{
    if (!readWrite()) {
        fail(CKR_SESSION_READ_ONLY);
    }
}

void Session::startFind(std::vector<CK_OBJECT_HANDLE> found)
{
    if (m_found) {
        fail(CKR_OPERATION_ACTIVE);
    }
    m_found = std::move(found);
    m_foundNext = 0;
}

std::vector<CK_OBJECT_HANDLE> Session::findNext(CK_ULONG max)
{
    if (!m_found) {
        fail(CKR_OPERATION_NOT_INITIALIZED);
    }
    const size_t take = std::min<size_t>(max, m_found->size() - m_foundNext);
    const auto first = m_found->begin() + long(m_foundNext);
    m_foundNext += take;
    return std::vector<CK_OBJECT_HANDLE>(first, first + long(take));
}

void Session::findFinal()
{
    if (!m_found) {
        fail(CKR_OPERATION_NOT_INITIALIZED);
    }
    m_found.reset();
}

void Session::startSignature(SignatureOperation operation)
{
    if (m_signature) {
        fail(CKR_OPERATION_ACTIVE);
    }
    m_signature.emplace(std::move(operation));
}

SignatureOperation& Session::signature(OperationKind kind)
{
    if (!m_signature || m_signature->kind() != kind) {
        fail(CKR_OPERATION_NOT_INITIALIZED);
    }
    return *m_signature;
}

CK_RV Session::finishVerify(const uint8_t* given, size_t size)
{
    SignatureOperation operation = std::move(signature(OperationKind::Verify));
    m_signature.reset();
    if (size != operation.signatureSize()) {
        return CKR_SIGNATURE_LEN_RANGE;
    }
    return operation.verify(Bytes(given, given + size)) ? CKR_OK : CKR_SIGNATURE_INVALID;
}

void Session::startDigest(const Mechanism& mechanism)
{
    if (m_digest) {
        fail(CKR_OPERATION_ACTIVE);
    }
    m_digest.emplace(mechanism);
}

DigestOperation& Session::digest()
{
    if (!m_digest) {
        fail(CKR_OPERATION_NOT_INITIALIZED);
    }
    return *m_digest;
}

CK_RV Session::finishDigest(CK_BYTE* out, CK_ULONG* outSize)
{
    DigestOperation& operation = digest();
    const size_t size = operation.size();
    if (!out) {
        *outSize = size;
        return CKR_OK;
    }
    if (*outSize < size) {
        *outSize = size;
        return CKR_BUFFER_TOO_SMALL;
    }
    const Bytes value = operation.finish();
    std::memcpy(out, value.data(), value.size());
    *outSize = value.size();
    m_digest.reset();
    return CKR_OK;
}

void Session::endPrivateOperations()
{
    m_signature.reset();
    m_found.reset();
}

CK_SESSION_HANDLE SessionTable::open(CK_SLOT_ID slot, CK_FLAGS flags)
{
    while (m_next == CK_INVALID_HANDLE || m_sessions.count(m_next)) {
        ++m_next;
    }
    const CK_SESSION_HANDLE handle = m_next++;
    m_sessions.emplace(handle, Session(handle, slot, flags));
    return handle;
}

Session& SessionTable::get(CK_SESSION_HANDLE handle)
{
    Session* found = find(handle);
    if (!found) {
        fail(CKR_SESSION_HANDLE_INVALID);
    }
    return *found;
}

Session* SessionTable::find(CK_SESSION_HANDLE handle)
{
    auto found = m_sessions.find(handle);
    return found == m_sessions.end() ? nullptr : &found->second;
}

bool SessionTable::close(CK_SESSION_HANDLE handle)
{
    const CK_SLOT_ID slot = get(handle).slot();
    m_sessions.erase(handle);
    return count(slot).all == 0;
}

void SessionTable::closeSlot(CK_SLOT_ID slot)
{
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        it = it->second.slot() == slot ? m_sessions.erase(it) : std::next(it);
    }
}

SessionTable::Count SessionTable::count(CK_SLOT_ID slot) const
{
    Count count;
    for (const auto& entry : m_sessions) {
        if (entry.second.slot() == slot) {
            ++count.all;
            count.readWrite += entry.second.readWrite() ? 1 : 0;
        }
    }
    return count;
}

bool SessionTable::hasReadOnly(CK_SLOT_ID slot) const
{
    const Count sessions = count(slot);
    return sessions.all > sessions.readWrite;
}

void SessionTable::endPrivateOperations(CK_SLOT_ID slot)
{
    for (auto& entry : m_sessions) {
        if (entry.second.slot() == slot) {
            entry.second.endPrivateOperations();
        }
    }
}

} // namespace skfp11
