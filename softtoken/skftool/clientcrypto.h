// skftool's own cryptography with OpenSSL 3: SM4-ECB, random bytes, hex, key pairs, and
// turning OpenSSL's error queue into a ToolError. Keys are held in the shared owning pointers.
#pragma once

#include "ossl/Ossl.h"

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace skftool {

// Throws ToolError with what, followed by OpenSSL's first queued error when there is one.
[[noreturn]] void throwOpenSslError(const std::string& what);

// Bytes read in place from a plain or a wiping buffer, so a secret is never copied into
// memory nobody wipes.
class ByteView
{
public:
    template <typename Bytes>
    ByteView(const Bytes& bytes)
        : m_data(bytes.data())
        , m_size(bytes.size())
    {
    }
    const uint8_t* data() const { return m_data; }
    size_t size() const { return m_size; }

private:
    const uint8_t* m_data;
    size_t m_size;
};

// SM4 in ECB mode; without padding the data must be a whole number of 16-byte blocks.
std::vector<uint8_t> sm4EcbEncrypt(ByteView key, ByteView data, bool pkcs5Padding);

void randomBytes(uint8_t* buffer, size_t size);

// Hex digits (upper or lower case, even count) to bytes; throws UsageError otherwise.
std::vector<uint8_t> fromHex(const std::string& hex);

// A fresh key pair: "SM2" or RSA with the given modulus size.
ossl::Pkey generateSm2KeyPair();
ossl::Pkey generateRsaKeyPair(unsigned bits);

} // namespace skftool
