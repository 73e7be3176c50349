// The mechanism records and the operations that read them.
#include "Mechanisms.h"

#include "Errors.h"
#include "skf/sm2defaults.h"
#include "skfp11.h"

namespace skfp11 {

namespace {

// The most a raw mechanism collects before the token is asked: more than any key signs.
constexpr size_t kMaxRawInput = 64 * 1024;
// An SM2 ID's length in bits must fit the two bytes of ENTL.
constexpr size_t kMaxSm2Id = 8191;

constexpr CK_FLAGS kSm2Curve = CKF_EC_F_P | CKF_EC_UNCOMPRESS;
constexpr CK_FLAGS kSignVerify = CKF_HW | CKF_SIGN | CKF_VERIFY;

} // namespace

const std::vector<Mechanism>& mechanismTable()
{
    static const std::vector<Mechanism> table = {
        {CKM_RSA_PKCS_KEY_PAIR_GEN, KeyKind::Rsa, std::nullopt, InputRule::None, nullptr, SGD_RSA, 0, 1024, 2048,
         CKF_HW | CKF_GENERATE_KEY_PAIR},
        {CKM_RSA_PKCS, KeyKind::Rsa, std::nullopt, InputRule::Pkcs1Raw, nullptr, SGD_RSA, 0, 1024, 2048, kSignVerify},
        {CKM_SHA1_RSA_PKCS, KeyKind::Rsa, HashKind::Sha1, InputRule::DigestInfo, "SHA1", SGD_RSA, SGD_SHA1, 1024, 2048,
         kSignVerify},
        {CKM_SHA256_RSA_PKCS, KeyKind::Rsa, HashKind::Sha256, InputRule::DigestInfo, "SHA256", SGD_RSA, SGD_SHA256,
         1024, 2048, kSignVerify},
        {CKM_SHA_1, KeyKind::None, HashKind::Sha1, InputRule::None, "SHA1", 0, SGD_SHA1, 0, 0, CKF_DIGEST},
        {CKM_SHA256, KeyKind::None, HashKind::Sha256, InputRule::None, "SHA256", 0, SGD_SHA256, 0, 0, CKF_DIGEST},
        {CKM_EC_KEY_PAIR_GEN, KeyKind::Sm2, std::nullopt, InputRule::None, nullptr, SGD_SM2_1, 0, 256, 256,
         CKF_HW | CKF_GENERATE_KEY_PAIR | kSm2Curve | CKF_EC_NAMEDCURVE},
        {CKM_SKF_SM2_KEY_PAIR_GEN, KeyKind::Sm2, std::nullopt, InputRule::None, nullptr, SGD_SM2_1, 0, 256, 256,
         CKF_HW | CKF_GENERATE_KEY_PAIR | kSm2Curve | CKF_EC_NAMEDCURVE},
        {CKM_SKF_SM2, KeyKind::Sm2, std::nullopt, InputRule::Sm2Digest, nullptr, SGD_SM2_1, 0, 256, 256,
         kSignVerify | kSm2Curve},
        {CKM_SKF_SM3_SM2, KeyKind::Sm2, HashKind::Sm3, InputRule::Sm2ZThenHash, "SM3", SGD_SM2_1, SGD_SM3, 256, 256,
         kSignVerify | kSm2Curve},
        {CKM_SKF_SM3, KeyKind::None, HashKind::Sm3, InputRule::None, "SM3", 0, SGD_SM3, 0, 0, CKF_DIGEST},
    };
    return table;
}

const Mechanism* findMechanism(CK_MECHANISM_TYPE type)
{
    for (const Mechanism& mechanism : mechanismTable()) {
        if (mechanism.type == type) {
            return &mechanism;
        }
    }
    return nullptr;
}

bool tokenOffers(const DEVINFO& info, const Mechanism& mechanism)
{
    return (info.AlgAsymCap & mechanism.asymmetricCap) == mechanism.asymmetricCap
        && (info.AlgHashCap & mechanism.hashCap) == mechanism.hashCap;
}

SignatureOperation::SignatureOperation(OperationKind kind, const Mechanism& mechanism, const KeyPairFacts& key,
                                       const uint8_t* parameter, size_t parameterSize)
    : m_kind(kind)
    , m_mechanism(&mechanism)
    , m_key(key)
{
    if ((mechanism.key == KeyKind::Rsa) != key.isRsa || mechanism.input == InputRule::None) {
        fail(CKR_KEY_TYPE_INCONSISTENT);
    }
    const bool takesParameter = mechanism.input == InputRule::Sm2ZThenHash;
    if (parameterSize && (!takesParameter || !parameter || parameterSize > kMaxSm2Id)) {
        fail(CKR_MECHANISM_PARAM_INVALID);
    }
    m_key.certificate.clear();
    if (mechanism.hash) {
        m_hasher = std::make_unique<Hasher>(*mechanism.hash);
    }
    if (takesParameter) {
        const Bytes id = parameterSize ? Bytes(parameter, parameter + parameterSize)
                                       : Bytes(sm2defaults::kId, sm2defaults::kId + sm2defaults::kIdSize);
        const Bytes z = sm2Z(m_key.ecX, m_key.ecY, id);
        m_hasher->update(z.data(), z.size());
    }
}

void SignatureOperation::update(const uint8_t* data, size_t size)
{
    m_updated = true;
    if (m_hasher) {
        m_hasher->update(data, size);
        return;
    }
    if (m_data.size() + size > kMaxRawInput) {
        fail(CKR_DATA_LEN_RANGE);
    }
    m_data.insert(m_data.end(), data, data + size);
}

size_t SignatureOperation::signatureSize() const
{
    return m_key.isRsa ? m_key.modulus.size() : 64;
}

Bytes SignatureOperation::input()
{
    switch (m_mechanism->input) {
    case InputRule::DigestInfo: {
        Bytes input = digestInfoPrefix(*m_mechanism->hash);
        const Bytes digest = m_hasher->finish();
        input.insert(input.end(), digest.begin(), digest.end());
        return input;
    }
    case InputRule::Sm2ZThenHash:
        return m_hasher->finish();
    case InputRule::Pkcs1Raw:
        // PKCS#1 v1.5 type 1 padding needs at least 11 bytes of the modulus.
        if (m_data.size() + 11 > m_key.modulus.size()) {
            fail(CKR_DATA_LEN_RANGE);
        }
        return m_data;
    case InputRule::Sm2Digest:
        if (m_data.size() != 32) {
            fail(CKR_DATA_LEN_RANGE);
        }
        return m_data;
    case InputRule::None:
        break;
    }
    fail(CKR_MECHANISM_INVALID);
}

bool SignatureOperation::verify(const Bytes& signature)
{
    const Bytes data = input();
    return m_key.isRsa ? rsaVerifyPkcs1(m_key.modulus, m_key.exponent, data, signature)
                       : sm2VerifyDigest(m_key.ecX, m_key.ecY, data, signature);
}

DigestOperation::DigestOperation(const Mechanism& mechanism)
    : m_kind(mechanism.hash.value_or(HashKind::Sha256))
    , m_hasher(m_kind)
{
    if (!mechanism.hash || !(mechanism.flags & CKF_DIGEST)) {
        fail(CKR_MECHANISM_INVALID);
    }
}

void DigestOperation::update(const uint8_t* data, size_t size)
{
    m_updated = true;
    m_hasher.update(data, size);
}

size_t DigestOperation::size() const
{
    return Hasher::sizeOf(m_kind);
}

} // namespace skfp11
