// The mechanism records and the operations that read them.
#include "Mechanisms.h"

#include "Errors.h"
#include "ossl/DigestInfo.h"
#include "skf/sm2defaults.h"
#include "skfcodec/Codec.h"
#include "skfp11.h"

namespace skfp11 {

static_assert(skfmech::kCkmSkfSm2 == CKM_SKF_SM2 && skfmech::kCkmSkfSm3Sm2 == CKM_SKF_SM3_SM2,
              "the shared table and the module's header name the vendor mechanisms alike");

namespace {

// The most a raw mechanism collects before the token is asked: more than any key signs.
constexpr size_t kMaxRawInput = 64 * 1024;
// An SM2 ID's length in bits must fit the two bytes of ENTL.
constexpr size_t kMaxSm2Id = 8191;

constexpr CK_FLAGS kSm2Curve = CKF_EC_F_P | CKF_EC_UNCOMPRESS;
constexpr CK_FLAGS kSignVerify = CKF_HW | CKF_SIGN | CKF_VERIFY;

const skfmech::Mechanism* shared(CK_MECHANISM_TYPE type)
{
    const skfmech::Mechanism* row = skfmech::byCkm(type);
    if (!row) {
        throw std::logic_error("a signature mechanism without its shared row");
    }
    return row;
}

Bytes pointOf(const KeyPairFacts& key)
{
    Bytes point{0x04};
    point.insert(point.end(), key.ecX.begin(), key.ecX.end());
    point.insert(point.end(), key.ecY.begin(), key.ecY.end());
    return point;
}

} // namespace

const std::vector<Mechanism>& mechanismTable()
{
    static const std::vector<Mechanism> table = {
        {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, nullptr, SGD_RSA, 0, 1024, 2048, CKF_HW | CKF_GENERATE_KEY_PAIR},
        {CKM_RSA_PKCS, shared(CKM_RSA_PKCS), nullptr, SGD_RSA, 0, 1024, 2048, kSignVerify},
        {CKM_SHA1_RSA_PKCS, shared(CKM_SHA1_RSA_PKCS), nullptr, SGD_RSA, SGD_SHA1, 1024, 2048, kSignVerify},
        {CKM_SHA256_RSA_PKCS, shared(CKM_SHA256_RSA_PKCS), nullptr, SGD_RSA, SGD_SHA256, 1024, 2048, kSignVerify},
        {CKM_SHA_1, nullptr, "SHA1", 0, SGD_SHA1, 0, 0, CKF_DIGEST},
        {CKM_SHA256, nullptr, "SHA2-256", 0, SGD_SHA256, 0, 0, CKF_DIGEST},
        {CKM_EC_KEY_PAIR_GEN, nullptr, nullptr, SGD_SM2_1, 0, 256, 256,
         CKF_HW | CKF_GENERATE_KEY_PAIR | kSm2Curve | CKF_EC_NAMEDCURVE},
        {CKM_SKF_SM2_KEY_PAIR_GEN, nullptr, nullptr, SGD_SM2_1, 0, 256, 256,
         CKF_HW | CKF_GENERATE_KEY_PAIR | kSm2Curve | CKF_EC_NAMEDCURVE},
        {CKM_SKF_SM2, shared(CKM_SKF_SM2), nullptr, SGD_SM2_1, 0, 256, 256, kSignVerify | kSm2Curve},
        {CKM_SKF_SM3_SM2, shared(CKM_SKF_SM3_SM2), nullptr, SGD_SM2_1, SGD_SM3, 256, 256, kSignVerify | kSm2Curve},
        {CKM_SKF_SM3, nullptr, "SM3", 0, SGD_SM3, 0, 0, CKF_DIGEST},
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
    , m_mechanism(mechanism.signing)
    , m_key(key)
{
    if (!m_mechanism || (m_mechanism->key == skfmech::KeyKind::Rsa) != key.isRsa) {
        fail(CKR_KEY_TYPE_INCONSISTENT);
    }
    const bool takesParameter = m_mechanism->input == skfmech::Input::Sm2WithZ;
    if (parameterSize && (!takesParameter || !parameter || parameterSize > kMaxSm2Id)) {
        fail(CKR_MECHANISM_PARAM_INVALID);
    }
    m_key.certificate.clear();
    if (m_mechanism->digest) {
        m_hasher = std::make_unique<Hasher>(m_mechanism->digest);
    }
    if (takesParameter) {
        const Bytes z = parameterSize
            ? skfcodec::sm2Z(pointOf(m_key), parameter, parameterSize)
            : skfcodec::sm2Z(pointOf(m_key), reinterpret_cast<const uint8_t*>(sm2defaults::kId), sm2defaults::kIdSize);
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
    return m_key.isRsa ? m_key.modulus.size() : 2 * skfcodec::kSm2CoordinateSize;
}

Bytes SignatureOperation::input()
{
    switch (m_mechanism->input) {
    case skfmech::Input::HashThenDigestInfo: {
        Bytes input = ossl::digestInfoPrefixOf(m_mechanism->digest);
        const Bytes digest = m_hasher->finish();
        input.insert(input.end(), digest.begin(), digest.end());
        return input;
    }
    case skfmech::Input::Sm2WithZ:
        return m_hasher->finish();
    case skfmech::Input::Raw:
        // PKCS#1 v1.5 type 1 padding needs at least 11 bytes of the modulus; SM2 signs a digest
        // of exactly the hash's size.
        if (m_key.isRsa ? m_data.size() + 11 > m_key.modulus.size() : m_data.size() != m_mechanism->digestSize) {
            fail(CKR_DATA_LEN_RANGE);
        }
        return m_data;
    }
    fail(CKR_MECHANISM_INVALID);
}

bool SignatureOperation::verify(const Bytes& signature)
{
    const Bytes data = input();
    try {
        if (m_key.isRsa) {
            const ossl::Pkey key = skfcodec::rsaPublicKey(m_key.modulus, m_key.exponent);
            return verifySignature(key.get(), data, signature);
        }
        const ossl::Pkey key = skfcodec::sm2PublicKey(pointOf(m_key));
        return verifySignature(key.get(), data, skfcodec::sm2SignatureDerFromRs(signature));
    } catch (const skfcodec::CodecError&) {
        return false; // a key or signature that makes no value verifies nothing
    }
}

DigestOperation::DigestOperation(const Mechanism& mechanism)
    : m_hasher(mechanism.digest ? mechanism.digest : throw P11Error(CKR_MECHANISM_INVALID))
    , m_size(Hasher::sizeOf(mechanism.digest))
{
}

void DigestOperation::update(const uint8_t* data, size_t size)
{
    m_updated = true;
    m_hasher.update(data, size);
}

} // namespace skfp11
