// Signatures on the token and digests: the start of each over the objects of a session, and
// the signature itself. What a mechanism takes and gives is in its record (Mechanisms.h); the
// parts after the start run on the session.
#include "Module.h"

#include "Errors.h"

#include <cstring>

namespace skfp11 {

namespace {

// The token's signature over the input with the pair's private key: r||s for SM2.
ULONG signWithContainer(const DriverFunctions& driver, HCONTAINER container, const SignatureOperation& operation,
                        Bytes input, Bytes& signature)
{
    if (operation.key().isRsa) {
        signature.resize(operation.signatureSize());
        ULONG length = ULONG(signature.size());
        const ULONG result
            = driver.RSASignData(container, input.data(), ULONG(input.size()), signature.data(), &length);
        // A driver that signs with another key size than it reported fails.
        return result == SAR_OK && length != signature.size() ? SAR_FAIL : result;
    }
    ECCSIGNATUREBLOB blob{};
    const ULONG result = driver.ECCSignData(container, input.data(), ULONG(input.size()), &blob);
    signature.assign(blob.r + 32, blob.r + 64);
    signature.insert(signature.end(), blob.s + 32, blob.s + 64);
    return result;
}

} // namespace

void Module::signatureInit(CK_SESSION_HANDLE handle, OperationKind kind, const CK_MECHANISM& mechanism,
                           CK_OBJECT_HANDLE keyHandle)
{
    Session& current = m_sessions.get(handle);
    if (current.signatureActive()) {
        fail(CKR_OPERATION_ACTIVE);
    }
    Slot& found = presentSlot(current.slot());
    const Object* key = nullptr;
    try {
        key = &object(handle, keyHandle);
    } catch (const P11Error& error) {
        fail(error.rv() == CKR_OBJECT_HANDLE_INVALID ? CKR_KEY_HANDLE_INVALID : error.rv());
    }
    const CK_OBJECT_CLASS wanted = kind == OperationKind::Sign ? CKO_PRIVATE_KEY : CKO_PUBLIC_KEY;
    if (key->objectClass != wanted) {
        fail(CKR_KEY_TYPE_INCONSISTENT);
    }
    CK_MECHANISM_INFO info{};
    try {
        mechanismInfo(current.slot(), mechanism.mechanism, info);
    } catch (const P11Error&) {
        fail(CKR_MECHANISM_INVALID);
    }
    if (!(info.flags & (kind == OperationKind::Sign ? CKF_SIGN : CKF_VERIFY))) {
        fail(CKR_MECHANISM_INVALID);
    }
    const Mechanism& record = *findMechanism(mechanism.mechanism);
    if (!record.signing || (record.signing->key == skfmech::KeyKind::Rsa) != (key->keyType == CKK_RSA)) {
        fail(CKR_KEY_TYPE_INCONSISTENT);
    }
    if (!key->signPair) {
        fail(CKR_KEY_FUNCTION_NOT_PERMITTED);
    }
    const KeyPairFacts* pair = found.store.pair(key->container, key->signPair);
    if (!pair) {
        fail(CKR_KEY_HANDLE_INVALID);
    }
    current.startSignature(SignatureOperation(kind, record, *pair, static_cast<const uint8_t*>(mechanism.pParameter),
                                              mechanism.ulParameterLen));
}

CK_RV Module::signFinal(CK_SESSION_HANDLE handle, CK_BYTE* out, CK_ULONG* outSize)
{
    Session& current = m_sessions.get(handle);
    SignatureOperation& operation = current.signature(OperationKind::Sign);
    const size_t size = operation.signatureSize();
    if (!out) {
        *outSize = size;
        return CKR_OK;
    }
    if (*outSize < size) {
        *outSize = size;
        return CKR_BUFFER_TOO_SMALL;
    }
    Slot& found = presentSlot(current.slot());
    const Bytes input = operation.input();
    found.requireUser();
    const std::string& container = operation.key().container;
    Bytes signature;
    const ULONG result = signWithContainer(
        fn(found), found.store.signingContainer(fn(found), found.application, container), operation, input, signature);
    if (result != SAR_OK) {
        // The handle may be what failed (a token pulled and put back): the next signature opens it anew.
        found.store.dropSigningContainer(fn(found), container);
        fail(rvFromSar(result));
    }
    std::memcpy(out, signature.data(), signature.size());
    *outSize = signature.size();
    current.endSignature();
    return CKR_OK;
}

void Module::digestInit(CK_SESSION_HANDLE handle, CK_MECHANISM_TYPE mechanism)
{
    Session& current = m_sessions.get(handle);
    if (current.digestActive()) {
        fail(CKR_OPERATION_ACTIVE);
    }
    CK_MECHANISM_INFO info{};
    try {
        mechanismInfo(current.slot(), mechanism, info);
    } catch (const P11Error&) {
        fail(CKR_MECHANISM_INVALID);
    }
    if (!(info.flags & CKF_DIGEST)) {
        fail(CKR_MECHANISM_INVALID);
    }
    current.startDigest(*findMechanism(mechanism));
}

} // namespace skfp11
