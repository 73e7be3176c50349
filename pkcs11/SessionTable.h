// The module's sessions: each with its token's slot, its flags and the operations it runs
// (a search, a signature or verification, a digest), and the table that hands out and takes
// back their handles. The table has no lock of its own: like the rest of the module, it is
// used only under the entry layer's lock.
#pragma once

#include "Mechanisms.h"

#include <p11-kit/pkcs11.h>

#include <map>
#include <optional>
#include <vector>

namespace skfp11 {

class Session
{
public:
    Session(CK_SESSION_HANDLE handle, CK_SLOT_ID slot, CK_FLAGS flags)
        : m_handle(handle)
        , m_slot(slot)
        , m_flags(flags)
    {
    }

    CK_SESSION_HANDLE handle() const { return m_handle; }
    CK_SLOT_ID slot() const { return m_slot; }
    CK_FLAGS flags() const { return m_flags; }
    bool readWrite() const { return m_flags & CKF_RW_SESSION; }
    // Throws CKR_SESSION_READ_ONLY for a read-only session.
    void requireWritable() const;

    // A search: the handles found at its start, given out in pieces. Starting one while one
    // runs is CKR_OPERATION_ACTIVE; the others without one are CKR_OPERATION_NOT_INITIALIZED.
    bool finding() const { return m_found.has_value(); }
    void startFind(std::vector<CK_OBJECT_HANDLE> found);
    std::vector<CK_OBJECT_HANDLE> findNext(CK_ULONG max);
    void findFinal();

    // A signature or verification, and a digest, by the same rules.
    bool signatureActive() const { return m_signature.has_value(); }
    void startSignature(SignatureOperation operation);
    SignatureOperation& signature(OperationKind kind);
    void endSignature() { m_signature.reset(); }
    // Checks the signature and ends the verification, whatever the answer.
    CK_RV finishVerify(const uint8_t* given, size_t size);
    bool digestActive() const { return m_digest.has_value(); }
    void startDigest(const Mechanism& mechanism);
    DigestOperation& digest();
    void endDigest() { m_digest.reset(); }
    // A null output asks for the size; a short one answers CKR_BUFFER_TOO_SMALL; both leave
    // the digest running.
    CK_RV finishDigest(CK_BYTE* out, CK_ULONG* outSize);

    // A login ended: the operations that used private keys, or saw private objects, end.
    void endPrivateOperations();

private:
    CK_SESSION_HANDLE m_handle;
    CK_SLOT_ID m_slot;
    CK_FLAGS m_flags;
    std::optional<std::vector<CK_OBJECT_HANDLE>> m_found;
    size_t m_foundNext = 0;
    std::optional<SignatureOperation> m_signature;
    std::optional<DigestOperation> m_digest;
};

class SessionTable
{
public:
    // A new session; handles are never 0 and never given twice.
    CK_SESSION_HANDLE open(CK_SLOT_ID slot, CK_FLAGS flags);
    // Throws CKR_SESSION_HANDLE_INVALID for a handle that is not an open session.
    Session& get(CK_SESSION_HANDLE handle);
    Session* find(CK_SESSION_HANDLE handle);
    // Closes one session; true when it was its slot's last.
    bool close(CK_SESSION_HANDLE handle);
    void closeSlot(CK_SLOT_ID slot);

    struct Count
    {
        CK_ULONG all = 0;
        CK_ULONG readWrite = 0;
    };
    Count count(CK_SLOT_ID slot) const;
    bool hasReadOnly(CK_SLOT_ID slot) const;
    void endPrivateOperations(CK_SLOT_ID slot);

private:
    std::map<CK_SESSION_HANDLE, Session> m_sessions;
    CK_SESSION_HANDLE m_next = 1;
};

} // namespace skfp11
