// SM2: signatures over a prepared digest, encryption to a public point, and the key
// exchange of GM/T 0003.3 on EC_POINT / BIGNUM (OpenSSL 3.0 has no EVP for it).
#include "ossl/Ossl.h"
#include "Services.h"

#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/obj_mac.h>
#include <openssl/param_build.h>

#include <cstring>

namespace softskf::crypto {

namespace {

void check(bool ok, const char* what)
{
    if (!ok) {
        throw CryptoError(what);
    }
}

const EC_GROUP* sm2Group()
{
    static const EC_GROUP* group = EC_GROUP_new_by_curve_name(NID_sm2);
    check(group != nullptr, "SM2 is not available");
    return group;
}

std::vector<uint8_t> padded(const BIGNUM* value)
{
    std::vector<uint8_t> out(kSm2Coordinate);
    check(BN_bn2binpad(value, out.data(), static_cast<int>(out.size())) == static_cast<int>(out.size()),
          "an SM2 value does not fit 32 bytes");
    return out;
}

ossl::EcPoint pointFrom(const std::vector<uint8_t>& bytes)
{
    ossl::EcPoint point(EC_POINT_new(sm2Group()));
    check(point != nullptr, "cannot allocate a point");
    if (bytes.size() != 1 + 2 * kSm2Coordinate || bytes[0] != 0x04
        || EC_POINT_oct2point(sm2Group(), point.get(), bytes.data(), bytes.size(), nullptr) != 1) {
        throw CryptoInputError("not a point of the SM2 curve");
    }
    return point;
}

ossl::Bignum bignumFrom(const uint8_t* bytes, size_t size)
{
    ossl::Bignum value(BN_bin2bn(bytes, static_cast<int>(size), nullptr));
    check(value != nullptr, "cannot allocate a number");
    return value;
}

// x̄ = 2^w + (x mod 2^w), w = 127 for the 256-bit order.
ossl::Bignum xBar(const std::vector<uint8_t>& point)
{
    auto x = bignumFrom(point.data() + 1, kSm2Coordinate);
    constexpr int w = 127;
    check(BN_mask_bits(x.get(), w) == 1 && BN_set_bit(x.get(), w) == 1, "SM2 exchange arithmetic failed");
    return x;
}

} // namespace

PublicKey::PublicKey(EVP_PKEY* key)
    : m_key(key)
{
    check(key != nullptr, "no key");
}

PublicKey::PublicKey(PublicKey&&) noexcept = default;
PublicKey::~PublicKey() = default;

PublicKey PublicKey::sm2(const std::vector<uint8_t>& point)
{
    pointFrom(point); // refuses points off the curve before OpenSSL sees them
    ossl::ParamBld builder(OSSL_PARAM_BLD_new());
    check(builder && OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0) == 1
              && OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size())
                  == 1,
          "cannot build SM2 key parameters");
    ossl::Params params(OSSL_PARAM_BLD_to_param(builder.get()));
    ossl::PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr));
    EVP_PKEY* key = nullptr;
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1
        || EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
        throw CryptoInputError("not an SM2 public key");
    }
    return PublicKey(key);
}

PublicKey PublicKey::rsa(const std::vector<uint8_t>& modulus, const std::vector<uint8_t>& exponent)
{
    auto n = bignumFrom(modulus.data(), modulus.size());
    auto e = bignumFrom(exponent.data(), exponent.size());
    if (BN_num_bits(n.get()) < 512 || !BN_is_odd(n.get()) || BN_is_zero(e.get())) {
        throw CryptoInputError("not an RSA public key");
    }
    ossl::ParamBld builder(OSSL_PARAM_BLD_new());
    check(builder && OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_N, n.get()) == 1
              && OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_E, e.get()) == 1,
          "cannot build RSA key parameters");
    ossl::Params params(OSSL_PARAM_BLD_to_param(builder.get()));
    ossl::PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* key = nullptr;
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1
        || EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
        throw CryptoInputError("not an RSA public key");
    }
    return PublicKey(key);
}

Sm2Signature sm2SignDigest(const KeyPair& key, const uint8_t* digest, size_t size)
{
    if (!key.isSm2()) {
        throw CryptoInputError("not an SM2 key");
    }
    // On an SM2 key, EVP_PKEY_sign signs its input as the digest e.
    ossl::PkeyCtx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.raw(), nullptr));
    check(ctx && EVP_PKEY_sign_init(ctx.get()) == 1, "cannot start an SM2 signature");
    std::vector<uint8_t> der(80);
    size_t derSize = der.size();
    check(EVP_PKEY_sign(ctx.get(), der.data(), &derSize, digest, size) == 1, "SM2 signing failed");
    const unsigned char* cursor = der.data();
    ossl::EcdsaSig sig(d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(derSize)));
    check(sig != nullptr, "cannot read an SM2 signature");
    return {padded(ECDSA_SIG_get0_r(sig.get())), padded(ECDSA_SIG_get0_s(sig.get()))};
}

bool sm2VerifyDigest(const PublicKey& key, const uint8_t* digest, size_t size, const Sm2Signature& signature)
{
    ossl::EcdsaSig sig(ECDSA_SIG_new());
    auto r = bignumFrom(signature.r.data(), signature.r.size());
    auto s = bignumFrom(signature.s.data(), signature.s.size());
    check(sig && ECDSA_SIG_set0(sig.get(), r.get(), s.get()) == 1, "cannot build an SM2 signature");
    r.release();
    s.release();
    unsigned char* der = nullptr;
    const int derSize = i2d_ECDSA_SIG(sig.get(), &der);
    check(derSize > 0, "cannot encode an SM2 signature");
    std::unique_ptr<unsigned char, void (*)(unsigned char*)> derOwner(der, [](unsigned char* p) { OPENSSL_free(p); });
    ossl::PkeyCtx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.raw(), nullptr));
    check(ctx && EVP_PKEY_verify_init(ctx.get()) == 1, "cannot start an SM2 verification");
    return EVP_PKEY_verify(ctx.get(), der, static_cast<size_t>(derSize), digest, size) == 1;
}

std::vector<uint8_t> sm2Encrypt(const PublicKey& key, const uint8_t* plain, size_t size)
{
    if (size == 0) {
        throw CryptoInputError("SM2 cannot encrypt empty data");
    }
    ossl::PkeyCtx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.raw(), nullptr));
    check(ctx && EVP_PKEY_encrypt_init(ctx.get()) == 1, "cannot start SM2 encryption");
    size_t outSize = 0;
    check(EVP_PKEY_encrypt(ctx.get(), nullptr, &outSize, plain, size) == 1, "SM2 encryption failed");
    std::vector<uint8_t> out(outSize);
    check(EVP_PKEY_encrypt(ctx.get(), out.data(), &outSize, plain, size) == 1, "SM2 encryption failed");
    out.resize(outSize);
    return out;
}

SecureBytes sm2Scalar(const KeyPair& key)
{
    BIGNUM* value = nullptr;
    check(key.isSm2() && EVP_PKEY_get_bn_param(key.raw(), OSSL_PKEY_PARAM_PRIV_KEY, &value) == 1,
          "cannot read the SM2 private key");
    ossl::Bignum owner(value);
    SecureBytes out(kSm2Coordinate);
    check(BN_bn2binpad(value, out.data(), static_cast<int>(out.size())) == static_cast<int>(out.size()),
          "the SM2 private key does not fit 32 bytes");
    return out;
}

void sm2NewEphemeral(Sm2ExchangeParty& party)
{
    const auto key = KeyPair::generateSm2();
    party.ephemeralScalar = sm2Scalar(key);
    party.ephemeralPoint = key.sm2PublicPoint();
}

SecureBytes sm2Kdf(const uint8_t* z, size_t size, size_t keySize)
{
    SecureBytes out;
    for (uint32_t counter = 1; out.size() < keySize; ++counter) {
        const uint8_t ct[4] = {static_cast<uint8_t>(counter >> 24), static_cast<uint8_t>(counter >> 16),
                               static_cast<uint8_t>(counter >> 8), static_cast<uint8_t>(counter)};
        Digest digest(DigestAlgorithm::Sm3);
        digest.update(z, size);
        digest.update(ct, sizeof ct);
        const auto block = digest.final();
        out.insert(out.end(), block.begin(), block.end());
    }
    out.resize(keySize);
    return out;
}

SecureBytes sm2ExchangeKey(const Sm2ExchangeParty& self, bool initiator, const std::vector<uint8_t>& peerStatic,
                           const std::vector<uint8_t>& peerEphemeral, const std::vector<uint8_t>& peerId,
                           size_t keySize)
{
    const EC_GROUP* group = sm2Group();
    ossl::BnCtx bn(BN_CTX_new());
    ossl::Bignum order(BN_new());
    check(bn && order && EC_GROUP_get_order(group, order.get(), bn.get()) == 1, "SM2 is not available");
    const auto peerP = pointFrom(peerStatic);
    const auto peerR = pointFrom(peerEphemeral);

    // t = (d + x̄_self · r) mod n
    auto d = bignumFrom(self.staticScalar.data(), self.staticScalar.size());
    auto r = bignumFrom(self.ephemeralScalar.data(), self.ephemeralScalar.size());
    ossl::Bignum t(BN_new());
    check(t && BN_mod_mul(t.get(), xBar(self.ephemeralPoint).get(), r.get(), order.get(), bn.get()) == 1
              && BN_mod_add(t.get(), t.get(), d.get(), order.get(), bn.get()) == 1,
          "SM2 exchange arithmetic failed");

    // U = [t](P_peer + [x̄_peer] R_peer); the cofactor of SM2 is 1.
    ossl::EcPoint sum(EC_POINT_new(group));
    ossl::EcPoint shared(EC_POINT_new(group));
    check(sum && shared
              && EC_POINT_mul(group, sum.get(), nullptr, peerR.get(), xBar(peerEphemeral).get(), bn.get()) == 1
              && EC_POINT_add(group, sum.get(), sum.get(), peerP.get(), bn.get()) == 1
              && EC_POINT_mul(group, shared.get(), nullptr, sum.get(), t.get(), bn.get()) == 1,
          "SM2 exchange arithmetic failed");
    if (EC_POINT_is_at_infinity(group, shared.get()) == 1) {
        throw CryptoInputError("the SM2 exchange reached the point at infinity");
    }
    SecureBytes material(1 + 2 * kSm2Coordinate);
    check(EC_POINT_point2oct(group, shared.get(), POINT_CONVERSION_UNCOMPRESSED, material.data(), material.size(),
                             bn.get())
              == material.size(),
          "cannot encode the shared point");
    material.erase(material.begin()); // x || y

    const auto ownZ = sm2Z(self.staticPoint, self.id.data(), self.id.size());
    const auto peerZ = sm2Z(peerStatic, peerId.data(), peerId.size());
    const auto& zInitiator = initiator ? ownZ : peerZ;
    const auto& zResponder = initiator ? peerZ : ownZ;
    material.insert(material.end(), zInitiator.begin(), zInitiator.end());
    material.insert(material.end(), zResponder.begin(), zResponder.end());
    return sm2Kdf(material.data(), material.size(), keySize);
}

} // namespace softskf::crypto
