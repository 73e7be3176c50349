// The costly half of a PIN and the keys that let one PIN's change re-wrap the application
// key for the other PIN without knowing it: scrypt, and X25519 key wrapping.
#pragma once

#include "Secure.h"

#include <cstdint>
#include <vector>

namespace softskf::crypto {

SecureBytes scrypt(const char* password, size_t passwordSize, const std::vector<uint8_t>& salt, uint64_t n, uint32_t r,
                   uint32_t p, size_t length);

// An X25519 pair: the public half is stored in the clear, the private half sealed.
struct WrapKeyPair
{
    std::vector<uint8_t> publicKey; // 32 bytes
    SecureBytes privateKey; // 32 bytes
};
WrapKeyPair generateWrapKeyPair();
// The public half of a private X25519 key; throws CryptoInputError for a malformed one.
std::vector<uint8_t> wrapPublicOf(const SecureBytes& privateKey);

// Seals secret so that only the holder of recipient's private half opens it:
// ephemeral public key (32) || AES-256-GCM sealed secret under an X25519-derived key.
std::vector<uint8_t> wrapTo(const std::vector<uint8_t>& recipientPublic, const SecureBytes& secret,
                            const std::vector<uint8_t>& aad);
// Throws CryptoInputError when the wrap was not made for this key or was changed.
SecureBytes unwrapWith(const SecureBytes& recipientPrivate, const std::vector<uint8_t>& wrapped,
                       const std::vector<uint8_t>& aad);

} // namespace softskf::crypto
