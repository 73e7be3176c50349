// Signatures on the token and their checks, and digests, over the objects of a session.
#include "Module.h"

#include "Errors.h"
#include "skf/sm2defaults.h"
#include "skfp11.h"

#include <cstring>

namespace skfp11 {

namespace {

constexpr size_t kMaxRawInput = 64 * 1024;

bool isSm2Mechanism(CK_MECHANISM_TYPE type)
{
    return type == CKM_SKF_SM2 || type == CKM_SKF_SM3_SM2;
}

bool isRsaMechanism(CK_MECHANISM_TYPE type)
{
    return type == CKM_RSA_PKCS || type == CKM_SHA1_RSA_PKCS || type == CKM_SHA256_RSA_PKCS;
}

} // namespace

// --- Signatures and digests ---

void Module::requireKey(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE key)
{
    try {
        requireObject(handle, key);
    } catch (const P11Error& error) {
        fail(error.rv() == CKR_OBJECT_HANDLE_INVALID ? CKR_KEY_HANDLE_INVALID : error.rv());
    }
}

void Module::signatureInit(CK_SESSION_HANDLE handle, OperationKind kind, const CK_MECHANISM& mechanism,
                           CK_OBJECT_HANDLE keyHandle)
{
    Session& current = session(handle);
    if (current.signature) {
        fail(CKR_OPERATION_ACTIVE);
    }
    Slot& found = presentSlot(current.slot);
    const Object* key = nullptr;
    try {
        key = &visibleObject(current, keyHandle);
    } catch (const P11Error& error) {
        fail(error.rv() == CKR_OBJECT_HANDLE_INVALID ? CKR_KEY_HANDLE_INVALID : error.rv());
    }
    const CK_OBJECT_CLASS wanted = kind == OperationKind::Sign ? CKO_PRIVATE_KEY : CKO_PUBLIC_KEY;
    if (key->objectClass != wanted) {
        fail(CKR_KEY_TYPE_INCONSISTENT);
    }
    CK_MECHANISM_INFO info{};
    try {
        mechanismInfo(current.slot, mechanism.mechanism, info);
    } catch (const P11Error&) {
        fail(CKR_MECHANISM_INVALID);
    }
    if (!(info.flags & (kind == OperationKind::Sign ? CKF_SIGN : CKF_VERIFY))) {
        fail(CKR_MECHANISM_INVALID);
    }
    if ((isRsaMechanism(mechanism.mechanism) && key->keyType != CKK_RSA)
        || (isSm2Mechanism(mechanism.mechanism) && key->keyType != CKK_EC)) {
        fail(CKR_KEY_TYPE_INCONSISTENT);
    }
    if (!key->signPair) {
        fail(CKR_KEY_FUNCTION_NOT_PERMITTED);
    }
    const bool takesParameter = mechanism.mechanism == CKM_SKF_SM3_SM2;
    if (mechanism.ulParameterLen && (!takesParameter || !mechanism.pParameter)) {
        fail(CKR_MECHANISM_PARAM_INVALID);
    }
    // The ID's length in bits must fit the two bytes of ENTL.
    if (takesParameter && mechanism.ulParameterLen > 8191) {
        fail(CKR_MECHANISM_PARAM_INVALID);
    }
    SignatureOperation operation;
    operation.kind = kind;
    operation.mechanism = mechanism.mechanism;
    bool pairFound = false;
    for (const KeyPairFacts& pair : found.pairs) {
        if (pair.container == key->container && pair.signPair == key->signPair) {
            operation.key = pair;
            pairFound = true;
        }
    }
    if (!pairFound) {
        fail(CKR_KEY_HANDLE_INVALID);
    }
    operation.key.certificate.clear();
    switch (mechanism.mechanism) {
    case CKM_SHA1_RSA_PKCS:
        operation.hasher = std::make_unique<Hasher>(HashKind::Sha1);
        break;
    case CKM_SHA256_RSA_PKCS:
        operation.hasher = std::make_unique<Hasher>(HashKind::Sha256);
        break;
    case CKM_SKF_SM3_SM2: {
        const auto* parameter = static_cast<const uint8_t*>(mechanism.pParameter);
        const Bytes id = mechanism.ulParameterLen ? Bytes(parameter, parameter + mechanism.ulParameterLen)
                                                  : Bytes(sm2defaults::kId, sm2defaults::kId + sm2defaults::kIdSize);
        const Bytes z = sm2Z(operation.key.ecX, operation.key.ecY, id);
        operation.hasher = std::make_unique<Hasher>(HashKind::Sm3);
        operation.hasher->update(z.data(), z.size());
        break;
    }
    default:
        break;
    }
    current.signature = std::move(operation);
}

bool Module::signatureIsFresh(CK_SESSION_HANDLE handle, OperationKind kind)
{
    Session& current = session(handle);
    if (!current.signature || current.signature->kind != kind) {
        fail(CKR_OPERATION_NOT_INITIALIZED);
    }
    return !current.signature->updated;
}

void Module::signatureUpdate(CK_SESSION_HANDLE handle, OperationKind kind, const uint8_t* data, size_t size)
{
    Session& current = session(handle);
    if (!current.signature || current.signature->kind != kind) {
        fail(CKR_OPERATION_NOT_INITIALIZED);
    }
    SignatureOperation& operation = *current.signature;
    operation.updated = true;
    if (operation.hasher) {
        operation.hasher->update(data, size);
        return;
    }
    if (operation.data.size() + size > kMaxRawInput) {
        fail(CKR_DATA_LEN_RANGE);
    }
    operation.data.insert(operation.data.end(), data, data + size);
}

size_t Module::signatureSize(const SignatureOperation& operation) const
{
    return operation.key.isRsa ? operation.key.modulus.size() : 64;
}

Bytes Module::signatureInput(SignatureOperation& operation)
{
    switch (operation.mechanism) {
    case CKM_SHA1_RSA_PKCS:
    case CKM_SHA256_RSA_PKCS: {
        Bytes input = digestInfoPrefix(operation.mechanism == CKM_SHA1_RSA_PKCS ? HashKind::Sha1 : HashKind::Sha256);
        const Bytes digest = operation.hasher->finish();
        input.insert(input.end(), digest.begin(), digest.end());
        return input;
    }
    case CKM_SKF_SM3_SM2:
        return operation.hasher->finish();
    case CKM_RSA_PKCS:
        // PKCS#1 v1.5 type 1 padding needs at least 11 bytes of the modulus.
        if (operation.data.size() + 11 > operation.key.modulus.size()) {
            fail(CKR_DATA_LEN_RANGE);
        }
        return operation.data;
    case CKM_SKF_SM2:
        if (operation.data.size() != 32) {
            fail(CKR_DATA_LEN_RANGE);
        }
        return operation.data;
    default:
        fail(CKR_MECHANISM_INVALID);
    }
}

Bytes Module::signOnToken(Slot& slot, const SignatureOperation& operation, const Bytes& input)
{
    requireUser(slot);
    const HCONTAINER container = signingContainer(slot, operation.key.container);
    Bytes input2 = input; // the driver's prototypes take non-const buffers
    ULONG result = SAR_OK;
    Bytes signature;
    ECCSIGNATUREBLOB blob{};
    if (operation.key.isRsa) {
        signature.resize(operation.key.modulus.size());
        ULONG length = ULONG(signature.size());
        result = fn(slot).RSASignData(container, input2.data(), ULONG(input2.size()), signature.data(), &length);
        if (result == SAR_OK && length != signature.size()) {
            result = SAR_FAIL; // a driver that signs with another key size than it reported
        }
    } else {
        result = fn(slot).ECCSignData(container, input2.data(), ULONG(input2.size()), &blob);
    }
    if (result != SAR_OK) {
        // The handle may be what failed (a token pulled and put back): the next signature opens it anew.
        fn(slot).CloseContainer(container);
        slot.signingContainers.erase(operation.key.container);
        fail(rvFromSar(result));
    }
    if (operation.key.isRsa) {
        return signature;
    }
    signature.assign(blob.r + 32, blob.r + 64);
    signature.insert(signature.end(), blob.s + 32, blob.s + 64);
    return signature;
}

CK_RV Module::signFinal(CK_SESSION_HANDLE handle, CK_BYTE* out, CK_ULONG* outSize)
{
    Session& current = session(handle);
    if (!current.signature || current.signature->kind != OperationKind::Sign) {
        fail(CKR_OPERATION_NOT_INITIALIZED);
    }
    const size_t size = signatureSize(*current.signature);
    if (!out) {
        *outSize = size;
        return CKR_OK;
    }
    if (*outSize < size) {
        *outSize = size;
        return CKR_BUFFER_TOO_SMALL;
    }
    Slot& found = presentSlot(current.slot);
    const Bytes input = signatureInput(*current.signature);
    const Bytes signature = signOnToken(found, *current.signature, input);
    std::memcpy(out, signature.data(), signature.size());
    *outSize = signature.size();
    current.signature.reset();
    return CKR_OK;
}

CK_RV Module::verifyFinal(CK_SESSION_HANDLE handle, const uint8_t* signature, size_t size)
{
    Session& current = session(handle);
    if (!current.signature || current.signature->kind != OperationKind::Verify) {
        fail(CKR_OPERATION_NOT_INITIALIZED);
    }
    SignatureOperation operation = std::move(*current.signature);
    current.signature.reset();
    if (size != signatureSize(operation)) {
        return CKR_SIGNATURE_LEN_RANGE;
    }
    const Bytes input = signatureInput(operation);
    const Bytes given(signature, signature + size);
    const bool good = operation.key.isRsa ? rsaVerifyPkcs1(operation.key.modulus, operation.key.exponent, input, given)
                                          : sm2VerifyDigest(operation.key.ecX, operation.key.ecY, input, given);
    return good ? CKR_OK : CKR_SIGNATURE_INVALID;
}

void Module::endSignature(CK_SESSION_HANDLE handle)
{
    auto found = m_sessions.find(handle);
    if (found != m_sessions.end()) {
        found->second.signature.reset();
    }
}

void Module::digestInit(CK_SESSION_HANDLE handle, CK_MECHANISM_TYPE mechanism)
{
    Session& current = session(handle);
    if (current.digest) {
        fail(CKR_OPERATION_ACTIVE);
    }
    CK_MECHANISM_INFO info{};
    try {
        mechanismInfo(current.slot, mechanism, info);
    } catch (const P11Error&) {
        fail(CKR_MECHANISM_INVALID);
    }
    if (!(info.flags & CKF_DIGEST)) {
        fail(CKR_MECHANISM_INVALID);
    }
    DigestOperation operation;
    operation.kind = mechanism == CKM_SHA_1 ? HashKind::Sha1
        : mechanism == CKM_SHA256           ? HashKind::Sha256
                                            : HashKind::Sm3;
    operation.hasher = std::make_unique<Hasher>(operation.kind);
    current.digest = std::move(operation);
}

bool Module::digestIsFresh(CK_SESSION_HANDLE handle)
{
    Session& current = session(handle);
    if (!current.digest) {
        fail(CKR_OPERATION_NOT_INITIALIZED);
    }
    return !current.digest->updated;
}

void Module::digestUpdate(CK_SESSION_HANDLE handle, const uint8_t* data, size_t size)
{
    Session& current = session(handle);
    if (!current.digest) {
        fail(CKR_OPERATION_NOT_INITIALIZED);
    }
    current.digest->updated = true;
    current.digest->hasher->update(data, size);
}

CK_RV Module::digestFinal(CK_SESSION_HANDLE handle, CK_BYTE* out, CK_ULONG* outSize)
{
    Session& current = session(handle);
    if (!current.digest) {
        fail(CKR_OPERATION_NOT_INITIALIZED);
    }
    const size_t size = Hasher::sizeOf(current.digest->kind);
    if (!out) {
        *outSize = size;
        return CKR_OK;
    }
    if (*outSize < size) {
        *outSize = size;
        return CKR_BUFFER_TOO_SMALL;
    }
    const Bytes digest = current.digest->hasher->finish();
    std::memcpy(out, digest.data(), digest.size());
    *outSize = digest.size();
    current.digest.reset();
    return CKR_OK;
}

void Module::endDigest(CK_SESSION_HANDLE handle)
{
    auto found = m_sessions.find(handle);
    if (found != m_sessions.end()) {
        found->second.digest.reset();
    }
}

} // namespace skfp11
