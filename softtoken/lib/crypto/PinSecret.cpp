// PIN hashing: one scrypt (or, for older records, PBKDF2) run, two HMAC-derived halves.
#include "PinSecret.h"

#include "Crypto.h"
#include "PinKeys.h"

#include <cstdlib>

namespace softskf::crypto {

namespace {

constexpr uint64_t kMinTestScryptN = 1024;
constexpr uint64_t kMaxScryptN = uint64_t{1} << 20;
constexpr uint32_t kMaxScryptR = 32;
constexpr uint32_t kMaxScryptP = 16;
constexpr uint32_t kMaxIterations = 10000000;
constexpr size_t kCheckSize = 16;

bool isPowerOfTwo(uint64_t value)
{
    return value != 0 && (value & (value - 1)) == 0;
}

} // namespace

PinKdfParams newPinKdfParams()
{
    PinKdfParams params{true, 0, kScryptN, kScryptR, kScryptP};
    if (const char* text = std::getenv("SOFTSKF_TEST_SCRYPT_N")) {
        char* end = nullptr;
        const unsigned long long value = std::strtoull(text, &end, 10);
        if (end != text && *end == '\0' && isPowerOfTwo(value) && value >= kMinTestScryptN && value < kScryptN) {
            params.n = value;
        }
    }
    return params;
}

PinSecret derivePinSecret(const char* pin, size_t pinSize, const std::vector<uint8_t>& salt, const PinKdfParams& params)
{
    SecureBytes master;
    if (params.scrypt) {
        // A record's parameters decide the memory taken: refuse what we never write.
        if (!isPowerOfTwo(params.n) || params.n < 2 || params.n > kMaxScryptN || params.r == 0 || params.r > kMaxScryptR
            || params.p == 0 || params.p > kMaxScryptP) {
            throw CryptoInputError("scrypt parameters out of range");
        }
        master = scrypt(pin, pinSize, salt, params.n, params.r, params.p, 32);
    } else {
        if (params.iterations == 0 || params.iterations > kMaxIterations) {
            throw CryptoInputError("PBKDF2 iterations out of range");
        }
        master = pbkdf2Sha256(pin, pinSize, salt, params.iterations, 32);
    }
    return PinSecret{hmacSha256(master, "softskf PIN verifier"), hmacSha256(master, "softskf application key wrap")};
}

std::vector<uint8_t> appKeyCheck(const SecureBytes& appKey)
{
    const SecureBytes mac = hmacSha256(appKey, "softskf application key check");
    return std::vector<uint8_t>(mac.begin(), mac.begin() + kCheckSize);
}

} // namespace softskf::crypto
