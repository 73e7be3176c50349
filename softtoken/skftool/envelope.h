// The envelopes that carry an encryption key pair into a container: the private key is
// encrypted under a fresh SM4 key, and that key under the container's signature public key.
#pragma once

#include "clientcrypto.h"

#include <cstdint>
#include <vector>

namespace skftool {

// An ENVELOPEDKEYBLOB for SKF_ImportECCKeyPair, with its 16 cipher bytes in place of
// Cipher[1] (so sizeof(ENVELOPEDKEYBLOB) + 15 bytes).
std::vector<uint8_t> buildEccEnvelope(EVP_PKEY* signPublicKey, EVP_PKEY* encryptionPair);

// The two buffers SKF_ImportRSAKeyPair takes with SGD_SM4_ECB.
struct RsaEnvelope
{
    std::vector<uint8_t> wrappedKey; // RSA PKCS#1 v1.5 encryption of the SM4 key
    std::vector<uint8_t> encryptedData; // SM4-ECB, PKCS#5 padding, of the DER RSAPrivateKey
};
RsaEnvelope buildRsaEnvelope(EVP_PKEY* signPublicKey, EVP_PKEY* encryptionPair);

// SM2 encryption to the standard's ECCCIPHERBLOB layout (C1 right-aligned, HASH = C3,
// Cipher = C2), returned as 164 + plain.size() bytes.
std::vector<uint8_t> sm2EncryptToCipherBlob(EVP_PKEY* publicKey, ByteView plain);

} // namespace skftool
