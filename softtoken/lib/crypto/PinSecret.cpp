// PIN hashing: one PBKDF2 run, two HMAC-derived halves.
#include "PinSecret.h"

#include "Crypto.h"

namespace softskf::crypto {

PinSecret derivePinSecret(const char* pin, size_t pinSize, const std::vector<uint8_t>& salt, uint32_t iterations)
{
    const SecureBytes master = pbkdf2Sha256(pin, pinSize, salt, iterations, 32);
    return PinSecret{hmacSha256(master, "softskf PIN verifier"), hmacSha256(master, "softskf application key wrap")};
}

} // namespace softskf::crypto
