// skftool's view of the shared codec: its refusals become skftool's own errors.
#include "blobs.h"

#include "errors.h"

#include "skfcodec/Codec.h"

namespace skftool {

ossl::Pkey publicKeyFromBlob(const std::vector<uint8_t>& blob)
{
    try {
        return skfcodec::publicKeyFromBlob(blob);
    } catch (const skfcodec::CodecError& error) {
        throw ToolError(std::string("the token's public key: ") + error.what());
    }
}

std::vector<uint8_t> blobFromPublicKey(EVP_PKEY* key)
{
    try {
        return skfcodec::blobFromPublicKey(key);
    } catch (const skfcodec::CodecError& error) {
        throw ToolError(error.what());
    }
}

bool isSm2Key(EVP_PKEY* key)
{
    return skfcodec::isSm2Key(key);
}

unsigned blobBitLength(const std::vector<uint8_t>& blob)
{
    return skfcodec::blobBitLength(blob.data(), blob.size());
}

void writeRightAligned(const BIGNUM* number, uint8_t* field, size_t width)
{
    if (BN_bn2binpad(number, field, static_cast<int>(width)) < 0) {
        throw ToolError("a number does not fit its " + std::to_string(width) + "-byte field");
    }
}

std::vector<uint8_t> sm2SignatureDer(const ECCSIGNATUREBLOB& blob)
{
    try {
        return skfcodec::sm2SignatureDer(blob);
    } catch (const skfcodec::CodecError& error) {
        throw ToolError(std::string("the token's SM2 signature: ") + error.what());
    }
}

ECCSIGNATUREBLOB sm2SignatureBlob(const std::vector<uint8_t>& der)
{
    try {
        return skfcodec::sm2SignatureBlob(der.data(), der.size());
    } catch (const skfcodec::CodecError& error) {
        throw ToolError(std::string("the signature file is not a DER SM2 signature: ") + error.what());
    }
}

} // namespace skftool
