// What a PIN becomes: one slow salted hash split into a verifier that is stored and a
// wrapping key that seals the application key. The PIN itself is never stored.
#pragma once

#include "Secure.h"

#include <string>
#include <vector>

namespace softskf::crypto {

// PBKDF2-HMAC-SHA256 rounds for new PINs; each PIN record keeps its own count.
constexpr uint32_t kPinIterations = 60000;
constexpr size_t kPinSaltSize = 16;
constexpr size_t kAppKeySize = 32;

struct PinSecret
{
    SecureBytes verifier;
    SecureBytes wrappingKey;
};

PinSecret derivePinSecret(const char* pin, size_t pinSize, const std::vector<uint8_t>& salt, uint32_t iterations);

} // namespace softskf::crypto
