// The DER prefixes that turn a digest into a PKCS#1 v1.5 DigestInfo: the prefix, then the
// hash's bytes, is what an RSA signature of that hash signs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace ossl {

inline constexpr uint8_t kSha1DigestInfoPrefix[]
    = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e, 0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
inline constexpr uint8_t kSha256DigestInfoPrefix[] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                                      0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
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

} // namespace ossl
