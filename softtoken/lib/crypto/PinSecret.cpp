// PIN hashing: one scrypt (or, for older records, PBKDF2) run, two HMAC-derived halves.
#include "PinSecret.h"

#include "Crypto.h"
#include "PinKeys.h"

#include <cstdlib>

namespace softskf::crypto {

namespace {

constexpr uint64_t kMinTestScryptN = 1024;
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

bool isWrittenPinKdf(const PinKdfParams& params)
{
    // A record's parameters decide the time and memory taken under the library's lock:
    // exactly what some version writes, N lowered only as far as the test knob goes.
    if (params.scrypt) {
        return isPowerOfTwo(params.n) && params.n >= kMinTestScryptN && params.n <= kScryptN && params.r == kScryptR
            && params.p == kScryptP;
    }
    return params.iterations == kPinIterations;
}

PinSecret derivePinSecret(const char* pin, size_t pinSize, const std::vector<uint8_t>& salt, const PinKdfParams& params)
{
    if (!isWrittenPinKdf(params)) {
        throw CryptoInputError("PIN hash parameters no version writes");
    }
    const SecureBytes master = params.scrypt ? scrypt(pin, pinSize, salt, params.n, params.r, params.p, 32)
                                             : pbkdf2Sha256(pin, pinSize, salt, params.iterations, 32);
    return PinSecret{hmacSha256(master, "softskf PIN verifier"), hmacSha256(master, "softskf application key wrap")};
}

std::vector<uint8_t> appKeyCheck(const SecureBytes& appKey)
{
    const SecureBytes mac = hmacSha256(appKey, "softskf application key check");
    return std::vector<uint8_t>(mac.begin(), mac.begin() + kCheckSize);
}

} // namespace softskf::crypto
