// The OpenSSL side of the interoperability tests: keys built from the standard's blobs,
// SM2 signatures with an identifier, SM2 and RSA encryption in the standard's layouts,
// and SM4 through EVP, so every token result is checked by an independent implementation.
#pragma once

#include "TestKeys.h"

#include "ossl/Ossl.h"

#include <openssl/evp.h>

#include <string>
#include <vector>

namespace softskf::test {

using Pkey = ossl::Pkey;

Pkey sm2PublicKey(const ECCPUBLICKEYBLOB& blob);
Pkey sm2PrivateKey(const Sm2TestPair& pair);
Pkey rsaPublicKey(const RSAPUBLICKEYBLOB& blob);
Pkey rsaPrivateKey(const RsaTestPair& pair);

// SM2 with Z over the message (EVP_DigestSign / EVP_DigestVerify with the ID set).
ECCSIGNATUREBLOB sm2SignMessage(EVP_PKEY* key, const std::vector<uint8_t>& message, const std::string& id);
bool sm2VerifyMessage(EVP_PKEY* key, const std::vector<uint8_t>& message, const std::string& id,
                      const ECCSIGNATUREBLOB& signature);

// SM2 encryption to an ECCCIPHERBLOB (bytes, CipherLen bytes of Cipher) and back.
std::vector<uint8_t> sm2EncryptToBlob(EVP_PKEY* key, const std::vector<uint8_t>& plain);
std::vector<uint8_t> sm2DecryptBlob(EVP_PKEY* key, const uint8_t* blob);

std::vector<uint8_t> rsaPkcs1Encrypt(EVP_PKEY* key, const std::vector<uint8_t>& plain);
std::vector<uint8_t> rsaPkcs1Decrypt(EVP_PKEY* key, const std::vector<uint8_t>& data);
// SHA-256 DigestInfo || hash: what RSASignData signs for an RSA-SHA256 signature.
std::vector<uint8_t> sha256DigestInfo(const std::vector<uint8_t>& message);
std::vector<uint8_t> rsaSignSha256(EVP_PKEY* key, const std::vector<uint8_t>& message);
bool rsaVerifySha256(EVP_PKEY* key, const std::vector<uint8_t>& message, const std::vector<uint8_t>& signature);

// SM4 with EVP: cipher is "SM4-ECB", "SM4-CBC", "SM4-CFB" or "SM4-OFB".
std::vector<uint8_t> evpSm4(const char* cipher, const std::vector<uint8_t>& key, const std::vector<uint8_t>& iv,
                            const std::vector<uint8_t>& data, bool padding, bool encrypt);
std::vector<uint8_t> evpDigest(const char* name, const std::vector<uint8_t>& data);

std::vector<uint8_t> fromHex(const std::string& hex);
std::string toHex(const uint8_t* data, size_t size);
inline std::string toHex(const std::vector<uint8_t>& data)
{
    return toHex(data.data(), data.size());
}

} // namespace softskf::test
