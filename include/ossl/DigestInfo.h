// The DER prefixes that turn a digest into a PKCS#1 v1.5 DigestInfo: the prefix, then the
// hash's bytes, is what an RSA signature of that hash signs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <strings.h>
#include <vector>

namespace ossl {

inline constexpr uint8_t kSha1DigestInfoPrefix[]
    = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e, 0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
inline constexpr uint8_t kSha256DigestInfoPrefix[] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                                      0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
inline constexpr uint8_t kSha384DigestInfoPrefix[] = {0x30, 0x41, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                                      0x65, 0x03, 0x04, 0x02, 0x02, 0x05, 0x00, 0x04, 0x30};
inline constexpr uint8_t kSha512DigestInfoPrefix[] = {0x30, 0x51, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                                      0x65, 0x03, 0x04, 0x02, 0x03, 0x05, 0x00, 0x04, 0x40};
inline constexpr uint8_t kSm3DigestInfoPrefix[]
    = {0x30, 0x30, 0x30, 0x0c, 0x06, 0x08, 0x2a, 0x81, 0x1c, 0xcf, 0x55, 0x01, 0x83, 0x11, 0x05, 0x00, 0x04, 0x20};

// The prefix followed by the hash.
template <size_t N> std::vector<uint8_t> digestInfo(const uint8_t (&prefix)[N], const std::vector<uint8_t>& hash)
{
    std::vector<uint8_t> info(N + hash.size());
    std::memcpy(info.data(), prefix, N);
    if (!hash.empty()) {
        std::memcpy(info.data() + N, hash.data(), hash.size());
    }
    return info;
}

// The prefix of a hash named as OpenSSL names it ("SHA1", "SHA2-256", "SHA256", "SHA384",
// "SHA512", "SM3", any case); an empty prefix for another hash.
inline std::vector<uint8_t> digestInfoPrefixOf(const char* name)
{
    struct Row
    {
        const char* names[3];
        const uint8_t* prefix;
        size_t size;
    };
    static const Row rows[] = {
        {{"SHA1", "SHA-1", "SHA-1"}, kSha1DigestInfoPrefix, sizeof kSha1DigestInfoPrefix},
        {{"SHA256", "SHA2-256", "SHA-256"}, kSha256DigestInfoPrefix, sizeof kSha256DigestInfoPrefix},
        {{"SHA384", "SHA2-384", "SHA-384"}, kSha384DigestInfoPrefix, sizeof kSha384DigestInfoPrefix},
        {{"SHA512", "SHA2-512", "SHA-512"}, kSha512DigestInfoPrefix, sizeof kSha512DigestInfoPrefix},
        {{"SM3", "SM3", "SM3"}, kSm3DigestInfoPrefix, sizeof kSm3DigestInfoPrefix},
    };
    for (const Row& row : rows) {
        for (const char* known : row.names) {
            if (name && strcasecmp(name, known) == 0) {
                return std::vector<uint8_t>(row.prefix, row.prefix + row.size);
            }
        }
    }
    return {};
}

} // namespace ossl
