// The envelopes that carry an encryption key pair into a container.
#include "envelope.h"

#include "blobs.h"
#include "errors.h"
#include "secret.h"

#include "skf/skfapi.h"

#include <openssl/asn1.h>
#include <openssl/core_names.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstring>

namespace skftool {

namespace {

using AsnSequencePtr = std::unique_ptr<ASN1_SEQUENCE_ANY, void (*)(ASN1_SEQUENCE_ANY*)>;

void freeSequence(ASN1_SEQUENCE_ANY* sequence)
{
    sk_ASN1_TYPE_pop_free(sequence, ASN1_TYPE_free);
}

std::vector<uint8_t> encryptWith(EVP_PKEY* publicKey, ByteView plain, bool rsaPkcs1)
{
    ossl::PkeyCtx context(EVP_PKEY_CTX_new_from_pkey(nullptr, publicKey, nullptr));
    if (!context || EVP_PKEY_encrypt_init(context.get()) != 1) {
        throwOpenSslError("cannot encrypt to the container's signature key");
    }
    if (rsaPkcs1 && EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1) {
        throwOpenSslError("cannot choose PKCS#1 v1.5 padding");
    }
    size_t size = 0;
    if (EVP_PKEY_encrypt(context.get(), nullptr, &size, plain.data(), plain.size()) != 1) {
        throwOpenSslError("encrypting to the container's signature key failed");
    }
    std::vector<uint8_t> cipher(size);
    if (EVP_PKEY_encrypt(context.get(), cipher.data(), &size, plain.data(), plain.size()) != 1) {
        throwOpenSslError("encrypting to the container's signature key failed");
    }
    cipher.resize(size);
    return cipher;
}

const ASN1_STRING* sequenceItem(ASN1_SEQUENCE_ANY* sequence, int index, int type)
{
    const ASN1_TYPE* item = sk_ASN1_TYPE_value(sequence, index);
    if (!item || item->type != type) {
        throw ToolError("OpenSSL's SM2 ciphertext has an unexpected layout");
    }
    return item->value.asn1_string;
}

void copyInteger(const ASN1_STRING* integer, uint8_t* field)
{
    ossl::Bignum number(ASN1_INTEGER_to_BN(integer, nullptr));
    if (!number) {
        throwOpenSslError("reading the SM2 ciphertext point failed");
    }
    // The 256-bit coordinate goes into the last 32 bytes of its 64-byte field.
    writeRightAligned(number.get(), field + 32, 32);
}

// The private scalar, big-endian in the last 32 bytes of a 64-byte field.
void sm2PrivateField(EVP_PKEY* pair, ossl::SecureBytes& field)
{
    BIGNUM* raw = nullptr;
    if (EVP_PKEY_get_bn_param(pair, OSSL_PKEY_PARAM_PRIV_KEY, &raw) != 1) {
        throwOpenSslError("reading the SM2 private key failed");
    }
    ossl::Bignum scalar(raw);
    writeRightAligned(scalar.get(), field.data() + 32, 32);
}

} // namespace

std::vector<uint8_t> sm2EncryptToCipherBlob(EVP_PKEY* publicKey, ByteView plain)
{
    // OpenSSL gives SEQUENCE { INTEGER x, INTEGER y, OCTET STRING C3, OCTET STRING C2 }.
    const std::vector<uint8_t> der = encryptWith(publicKey, plain, false);
    const unsigned char* cursor = der.data();
    AsnSequencePtr sequence(d2i_ASN1_SEQUENCE_ANY(nullptr, &cursor, static_cast<long>(der.size())), freeSequence);
    if (!sequence || sk_ASN1_TYPE_num(sequence.get()) != 4) {
        throw ToolError("OpenSSL's SM2 ciphertext has an unexpected layout");
    }
    const ASN1_STRING* hash = sequenceItem(sequence.get(), 2, V_ASN1_OCTET_STRING);
    const ASN1_STRING* c2 = sequenceItem(sequence.get(), 3, V_ASN1_OCTET_STRING);
    if (ASN1_STRING_length(hash) != 32 || static_cast<size_t>(ASN1_STRING_length(c2)) != plain.size()) {
        throw ToolError("OpenSSL's SM2 ciphertext has unexpected lengths");
    }
    std::vector<uint8_t> blob(offsetof(ECCCIPHERBLOB, Cipher) + plain.size(), 0);
    ECCCIPHERBLOB* cipher = reinterpret_cast<ECCCIPHERBLOB*>(blob.data());
    copyInteger(sequenceItem(sequence.get(), 0, V_ASN1_INTEGER), cipher->XCoordinate);
    copyInteger(sequenceItem(sequence.get(), 1, V_ASN1_INTEGER), cipher->YCoordinate);
    std::memcpy(cipher->HASH, ASN1_STRING_get0_data(hash), 32);
    cipher->CipherLen = static_cast<ULONG>(plain.size());
    std::memcpy(cipher->Cipher, ASN1_STRING_get0_data(c2), plain.size());
    return blob;
}

std::vector<uint8_t> buildEccEnvelope(EVP_PKEY* signPublicKey, EVP_PKEY* encryptionPair)
{
    if (!isSm2Key(signPublicKey) || !isSm2Key(encryptionPair)) {
        throw ToolError("an SM2 envelope needs SM2 keys");
    }
    ossl::SecureBytes sessionKey(16);
    randomBytes(sessionKey.data(), sessionKey.size());
    ossl::SecureBytes privateField(64);
    sm2PrivateField(encryptionPair, privateField);
    const std::vector<uint8_t> encryptedPrivate = sm4EcbEncrypt(sessionKey, privateField, false);
    const std::vector<uint8_t> publicBlob = blobFromPublicKey(encryptionPair);
    const std::vector<uint8_t> cipherBlob = sm2EncryptToCipherBlob(signPublicKey, sessionKey);

    std::vector<uint8_t> envelope(offsetof(ENVELOPEDKEYBLOB, ECCCipherBlob) + cipherBlob.size(), 0);
    ENVELOPEDKEYBLOB* blob = reinterpret_cast<ENVELOPEDKEYBLOB*>(envelope.data());
    blob->Version = 1;
    blob->ulSymmAlgID = SGD_SM4_ECB;
    blob->ulBits = 256;
    std::memcpy(blob->cbEncryptedPriKey, encryptedPrivate.data(), sizeof(blob->cbEncryptedPriKey));
    std::memcpy(&blob->PubKey, publicBlob.data(), sizeof(blob->PubKey));
    std::memcpy(&blob->ECCCipherBlob, cipherBlob.data(), cipherBlob.size());
    return envelope;
}

RsaEnvelope buildRsaEnvelope(EVP_PKEY* signPublicKey, EVP_PKEY* encryptionPair)
{
    if (isSm2Key(signPublicKey) || isSm2Key(encryptionPair)) {
        throw ToolError("an RSA envelope needs RSA keys");
    }
    ossl::SecureBytes sessionKey(16);
    randomBytes(sessionKey.data(), sessionKey.size());
    const int derSize = i2d_PrivateKey(encryptionPair, nullptr);
    if (derSize <= 0) {
        throwOpenSslError("encoding the RSA private key failed");
    }
    ossl::SecureBytes der(static_cast<size_t>(derSize));
    unsigned char* cursor = der.data();
    i2d_PrivateKey(encryptionPair, &cursor);

    RsaEnvelope envelope;
    envelope.wrappedKey = encryptWith(signPublicKey, sessionKey, true);
    envelope.encryptedData = sm4EcbEncrypt(sessionKey, der, true);
    return envelope;
}

} // namespace skftool
