// What a PIN becomes: one slow salted hash split into a verifier that is stored and a
// wrapping key that seals the PIN's private wrap key. The PIN itself is never stored.
#pragma once

#include "Secure.h"

#include <cstdint>
#include <string>
#include <vector>

namespace softskf::crypto {

// PBKDF2-HMAC-SHA256 rounds of older records, still verified with their own count.
constexpr uint32_t kPinIterations = 60000;
// scrypt for new records: 16 MiB, about 45 ms of one core.
constexpr uint64_t kScryptN = uint64_t{1} << 14;
constexpr uint32_t kScryptR = 8;
constexpr uint32_t kScryptP = 1;
constexpr size_t kPinSaltSize = 16;
constexpr size_t kAppKeySize = 32;

struct PinKdfParams
{
    bool scrypt = true; // else PBKDF2 with iterations
    uint32_t iterations = 0;
    uint64_t n = 0;
    uint32_t r = 0;
    uint32_t p = 0;
};

// The parameters for a record made now. SOFTSKF_TEST_SCRYPT_N (a power of two from 1024
// up to below kScryptN) lowers N for test suites; it weakens the records made while set.
PinKdfParams newPinKdfParams();

struct PinSecret
{
    SecureBytes verifier;
    SecureBytes wrappingKey;
};

// True for exactly the parameters some version of the library writes: scrypt with r 8,
// p 1 and N a power of two from 1024 to kScryptN, or PBKDF2 with kPinIterations rounds.
bool isWrittenPinKdf(const PinKdfParams& params);

// Throws CryptoInputError for parameters isWrittenPinKdf refuses.
PinSecret derivePinSecret(const char* pin, size_t pinSize, const std::vector<uint8_t>& salt,
                          const PinKdfParams& params);

// A short check value of an application key, stored so a login holding a replaced key
// is noticed.
std::vector<uint8_t> appKeyCheck(const SecureBytes& appKey);

} // namespace softskf::crypto
