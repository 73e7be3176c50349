// The shared codec: blob layouts, OpenSSL keys, the Z value and SM2 signature forms.
#include "Codec.h"

#include "skf/sm2defaults.h"

#include <openssl/core_names.h>
#include <openssl/err.h>

#include <cstring>

namespace skfcodec {

namespace {

constexpr size_t kFieldPad = sizeof(ECCPUBLICKEYBLOB::XCoordinate) - kSm2CoordinateSize;

void requireZeros(const uint8_t* data, size_t size, const char* what)
{
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != 0) {
            throw CodecError(std::string(what) + " does not fit 256 bits");
        }
    }
}

Bytes stripped(const uint8_t* data, size_t size)
{
    size_t first = 0;
    while (first < size && data[first] == 0) {
        ++first;
    }
    return Bytes(data + first, data + size);
}

ossl::Pkey keyFromParams(const char* type, OSSL_PARAM_BLD* build)
{
    ossl::Params params(OSSL_PARAM_BLD_to_param(build));
    ossl::PkeyCtx context(EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr));
    EVP_PKEY* key = nullptr;
    if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1
        || EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
        ERR_clear_error();
        throw CodecError(std::string("the ") + type + " public key is not valid");
    }
    return ossl::Pkey(key);
}

Bytes bignumParam(EVP_PKEY* key, const char* name)
{
    BIGNUM* raw = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &raw) != 1) {
        ERR_clear_error();
        throw CodecError(std::string("the key has no ") + name);
    }
    ossl::Bignum number(raw);
    Bytes out(static_cast<size_t>(BN_num_bytes(number.get())));
    BN_bn2bin(number.get(), out.data());
    return out;
}

template <typename Blob> Bytes bytesOf(const Blob& blob)
{
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&blob);
    return Bytes(bytes, bytes + sizeof blob);
}

} // namespace

void putRightAligned(uint8_t* field, size_t fieldSize, const uint8_t* value, size_t size)
{
    while (size > 0 && *value == 0) {
        ++value;
        --size;
    }
    if (size > fieldSize) {
        throw CodecError("a value does not fit its field");
    }
    std::memset(field, 0, fieldSize - size);
    if (size > 0) {
        std::memcpy(field + fieldSize - size, value, size);
    }
}

ECCPUBLICKEYBLOB eccPublicKeyBlob(const Bytes& point)
{
    if (point.size() != kSm2PointSize || point[0] != 0x04) {
        throw CodecError("not an uncompressed SM2 point");
    }
    ECCPUBLICKEYBLOB blob{};
    blob.BitLen = 256;
    putRightAligned(blob.XCoordinate, sizeof blob.XCoordinate, point.data() + 1, kSm2CoordinateSize);
    putRightAligned(blob.YCoordinate, sizeof blob.YCoordinate, point.data() + 1 + kSm2CoordinateSize,
                    kSm2CoordinateSize);
    return blob;
}

Bytes eccPointFromBlob(const ECCPUBLICKEYBLOB& blob)
{
    if (blob.BitLen != 256) {
        throw CodecError("the SM2 public key states " + std::to_string(blob.BitLen) + " bits, not 256");
    }
    requireZeros(blob.XCoordinate, kFieldPad, "the X coordinate");
    requireZeros(blob.YCoordinate, kFieldPad, "the Y coordinate");
    Bytes point{0x04};
    point.insert(point.end(), blob.XCoordinate + kFieldPad, blob.XCoordinate + sizeof blob.XCoordinate);
    point.insert(point.end(), blob.YCoordinate + kFieldPad, blob.YCoordinate + sizeof blob.YCoordinate);
    return point;
}

RSAPUBLICKEYBLOB rsaPublicKeyBlob(uint32_t bits, const Bytes& modulus, const Bytes& exponent)
{
    RSAPUBLICKEYBLOB blob{};
    blob.AlgID = SGD_RSA;
    blob.BitLen = bits;
    putRightAligned(blob.Modulus, sizeof blob.Modulus, modulus.data(), modulus.size());
    putRightAligned(blob.PublicExponent, sizeof blob.PublicExponent, exponent.data(), exponent.size());
    return blob;
}

Bytes rsaModulusFromBlob(const RSAPUBLICKEYBLOB& blob)
{
    if (blob.BitLen < 1024 || blob.BitLen > 8 * sizeof blob.Modulus || blob.BitLen % 8 != 0) {
        throw CodecError("the RSA public key states " + std::to_string(blob.BitLen) + " bits");
    }
    const size_t size = blob.BitLen / 8;
    requireZeros(blob.Modulus, sizeof blob.Modulus - size, "the modulus");
    return stripped(blob.Modulus + sizeof blob.Modulus - size, size);
}

Bytes rsaExponentFromBlob(const RSAPUBLICKEYBLOB& blob)
{
    return stripped(blob.PublicExponent, sizeof blob.PublicExponent);
}

ossl::Pkey sm2PublicKey(const Bytes& point)
{
    if (point.size() != kSm2PointSize || point[0] != 0x04) {
        throw CodecError("not an uncompressed SM2 point");
    }
    ossl::ParamBld build(OSSL_PARAM_BLD_new());
    if (!build || OSSL_PARAM_BLD_push_utf8_string(build.get(), OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0) != 1
        || OSSL_PARAM_BLD_push_octet_string(build.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size()) != 1) {
        throw CodecError("building an SM2 key failed");
    }
    return keyFromParams("SM2", build.get());
}

ossl::Pkey rsaPublicKey(const Bytes& modulus, const Bytes& exponent)
{
    ossl::Bignum n(BN_bin2bn(modulus.data(), static_cast<int>(modulus.size()), nullptr));
    ossl::Bignum e(BN_bin2bn(exponent.data(), static_cast<int>(exponent.size()), nullptr));
    ossl::ParamBld build(OSSL_PARAM_BLD_new());
    if (!n || !e || BN_is_zero(e.get()) || !BN_is_odd(n.get()) || !build
        || OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_N, n.get()) != 1
        || OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_E, e.get()) != 1) {
        throw CodecError("the RSA public key is not valid");
    }
    return keyFromParams("RSA", build.get());
}

ossl::Pkey publicKeyFromBlob(const ECCPUBLICKEYBLOB& blob)
{
    ossl::Pkey key = sm2PublicKey(eccPointFromBlob(blob));
    // fromdata takes any bytes as a point; a key a signature could never verify is refused.
    ossl::PkeyCtx check(EVP_PKEY_CTX_new(key.get(), nullptr));
    if (!check || EVP_PKEY_public_check(check.get()) != 1) {
        ERR_clear_error();
        throw CodecError("the SM2 public key is not a point of the curve");
    }
    return key;
}

ossl::Pkey publicKeyFromBlob(const RSAPUBLICKEYBLOB& blob)
{
    return rsaPublicKey(rsaModulusFromBlob(blob), rsaExponentFromBlob(blob));
}

ossl::Pkey publicKeyFromBlob(const uint8_t* blob, size_t size)
{
    if (size == sizeof(ECCPUBLICKEYBLOB)) {
        ECCPUBLICKEYBLOB ecc;
        std::memcpy(&ecc, blob, sizeof ecc);
        return publicKeyFromBlob(ecc);
    }
    if (size == sizeof(RSAPUBLICKEYBLOB)) {
        RSAPUBLICKEYBLOB rsa;
        std::memcpy(&rsa, blob, sizeof rsa);
        return publicKeyFromBlob(rsa);
    }
    throw CodecError("a public key blob of " + std::to_string(size) + " bytes is neither an SM2 ("
                     + std::to_string(sizeof(ECCPUBLICKEYBLOB)) + ") nor an RSA ("
                     + std::to_string(sizeof(RSAPUBLICKEYBLOB)) + ") blob");
}

Bytes blobFromPublicKey(EVP_PKEY* key)
{
    if (isSm2Key(key)) {
        return bytesOf(eccPublicKeyBlob(sm2PointOf(key)));
    }
    if (EVP_PKEY_is_a(key, "RSA") == 1) {
        const int bits = EVP_PKEY_get_bits(key);
        return bytesOf(
            rsaPublicKeyBlob(static_cast<uint32_t>(bits), bignumParam(key, OSSL_PKEY_PARAM_RSA_N),
                             bignumParam(key, OSSL_PKEY_PARAM_RSA_E)));
    }
    throw CodecError("only SM2 and RSA keys have SKF blobs");
}

bool isSm2Key(EVP_PKEY* key)
{
    return EVP_PKEY_is_a(key, "SM2") == 1;
}

unsigned blobBitLength(const uint8_t* blob, size_t size)
{
    ULONG bits = 0;
    if (size == sizeof(ECCPUBLICKEYBLOB)) {
        std::memcpy(&bits, blob + offsetof(ECCPUBLICKEYBLOB, BitLen), sizeof bits);
    } else if (size == sizeof(RSAPUBLICKEYBLOB)) {
        std::memcpy(&bits, blob + offsetof(RSAPUBLICKEYBLOB, BitLen), sizeof bits);
    }
    return bits;
}

Bytes sm2PointOf(EVP_PKEY* key)
{
    Bytes point(kSm2PointSize);
    size_t size = 0;
    if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size(), &size) != 1
        || size != kSm2PointSize || point[0] != 0x04) {
        ERR_clear_error();
        throw CodecError("the key has no uncompressed 256-bit public point");
    }
    return point;
}

Bytes sm2Z(const Bytes& point, const uint8_t* id, size_t idSize)
{
    if (point.size() != kSm2PointSize || point[0] != 0x04) {
        throw CodecError("not an uncompressed SM2 point");
    }
    if (idSize >= 8192) {
        throw CodecError("the SM2 identifier is too long");
    }
    const size_t bits = idSize * 8;
    const uint8_t entl[2] = {static_cast<uint8_t>(bits >> 8), static_cast<uint8_t>(bits)};
    ossl::MdCtx context(EVP_MD_CTX_new());
    Bytes z(32);
    unsigned int size = 0;
    bool ok = context && EVP_DigestInit_ex(context.get(), EVP_sm3(), nullptr) == 1
        && EVP_DigestUpdate(context.get(), entl, sizeof entl) == 1
        && (idSize == 0 || EVP_DigestUpdate(context.get(), id, idSize) == 1);
    for (const uint8_t* constant : {sm2defaults::kA, sm2defaults::kB, sm2defaults::kGx, sm2defaults::kGy}) {
        ok = ok && EVP_DigestUpdate(context.get(), constant, 32) == 1;
    }
    ok = ok && EVP_DigestUpdate(context.get(), point.data() + 1, point.size() - 1) == 1
        && EVP_DigestFinal_ex(context.get(), z.data(), &size) == 1 && size == z.size();
    if (!ok) {
        ERR_clear_error();
        throw CodecError("OpenSSL has no SM3");
    }
    return z;
}

Bytes sm2SignatureDerFromRs(const Bytes& rs)
{
    if (rs.size() != 2 * kSm2CoordinateSize) {
        throw CodecError("an SM2 signature r || s is 64 bytes, not " + std::to_string(rs.size()));
    }
    ossl::EcdsaSig sig(ECDSA_SIG_new());
    BIGNUM* r = BN_bin2bn(rs.data(), kSm2CoordinateSize, nullptr);
    BIGNUM* s = BN_bin2bn(rs.data() + kSm2CoordinateSize, kSm2CoordinateSize, nullptr);
    if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
        BN_free(r);
        BN_free(s);
        throw CodecError("building an SM2 signature failed");
    }
    const int size = i2d_ECDSA_SIG(sig.get(), nullptr);
    Bytes der(static_cast<size_t>(size > 0 ? size : 0));
    unsigned char* cursor = der.data();
    if (size <= 0 || i2d_ECDSA_SIG(sig.get(), &cursor) != size) {
        throw CodecError("encoding an SM2 signature failed");
    }
    return der;
}

Bytes sm2SignatureDer(const ECCSIGNATUREBLOB& blob)
{
    requireZeros(blob.r, kFieldPad, "the signature's r");
    requireZeros(blob.s, kFieldPad, "the signature's s");
    Bytes rs(blob.r + kFieldPad, blob.r + sizeof blob.r);
    rs.insert(rs.end(), blob.s + kFieldPad, blob.s + sizeof blob.s);
    return sm2SignatureDerFromRs(rs);
}

Bytes sm2SignatureRs(const uint8_t* der, size_t size)
{
    const unsigned char* cursor = der;
    ossl::EcdsaSig sig(d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(size)));
    if (!sig || cursor != der + size) {
        ERR_clear_error();
        throw CodecError("not a DER SM2 signature");
    }
    Bytes rs(2 * kSm2CoordinateSize);
    if (BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), rs.data(), kSm2CoordinateSize) != static_cast<int>(kSm2CoordinateSize)
        || BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), rs.data() + kSm2CoordinateSize, kSm2CoordinateSize)
            != static_cast<int>(kSm2CoordinateSize)) {
        throw CodecError("an SM2 signature value does not fit 256 bits");
    }
    return rs;
}

ECCSIGNATUREBLOB sm2SignatureBlob(const uint8_t* der, size_t size)
{
    const Bytes rs = sm2SignatureRs(der, size);
    ECCSIGNATUREBLOB blob{};
    std::memcpy(blob.r + kFieldPad, rs.data(), kSm2CoordinateSize);
    std::memcpy(blob.s + kFieldPad, rs.data() + kSm2CoordinateSize, kSm2CoordinateSize);
    return blob;
}

} // namespace skfcodec
