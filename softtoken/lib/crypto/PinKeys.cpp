// scrypt and X25519 wrapping through OpenSSL 3.
#include "PinKeys.h"

#include "Crypto.h"
#include "ossl/Ossl.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>

#include <memory>

namespace softskf::crypto {

namespace {

constexpr size_t kX25519Size = 32;

using ossl::Pkey;

void require(bool ok, const char* what)
{
    if (!ok) {
        throw CryptoError(what);
    }
}

Pkey x25519Private(const SecureBytes& key)
{
    if (key.size() != kX25519Size) {
        throw CryptoInputError("an X25519 private key has 32 bytes");
    }
    Pkey pkey(EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, key.data(), key.size()));
    require(pkey != nullptr, "X25519 is not available");
    return pkey;
}

std::vector<uint8_t> publicOf(EVP_PKEY* key)
{
    std::vector<uint8_t> out(kX25519Size);
    size_t size = out.size();
    require(EVP_PKEY_get_raw_public_key(key, out.data(), &size) == 1 && size == kX25519Size,
            "cannot read an X25519 public key");
    return out;
}

// The sealing key both sides compute: HMAC of the shared secret, bound to both public keys
// through the sealed data's additional bytes.
SecureBytes sharedKey(EVP_PKEY* own, const std::vector<uint8_t>& peerPublic)
{
    if (peerPublic.size() != kX25519Size) {
        throw CryptoInputError("an X25519 public key has 32 bytes");
    }
    Pkey peer(EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, peerPublic.data(), peerPublic.size()));
    require(peer != nullptr, "X25519 is not available");
    ossl::PkeyCtx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, own, nullptr));
    SecureBytes shared(kX25519Size);
    size_t size = shared.size();
    if (!ctx || EVP_PKEY_derive_init(ctx.get()) != 1 || EVP_PKEY_derive_set_peer(ctx.get(), peer.get()) != 1
        || EVP_PKEY_derive(ctx.get(), shared.data(), &size) != 1 || size != kX25519Size) {
        throw CryptoInputError("X25519 agreement failed"); // a low-order point, for one
    }
    return hmacSha256(shared, "softskf X25519 key wrap");
}

std::vector<uint8_t> wrapAad(const std::vector<uint8_t>& aad, const std::vector<uint8_t>& ephemeral,
                             const std::vector<uint8_t>& recipient)
{
    std::vector<uint8_t> all(aad);
    all.insert(all.end(), ephemeral.begin(), ephemeral.end());
    all.insert(all.end(), recipient.begin(), recipient.end());
    return all;
}

} // namespace

SecureBytes scrypt(const char* password, size_t passwordSize, const std::vector<uint8_t>& salt, uint64_t n, uint32_t r,
                   uint32_t p, size_t length)
{
    ossl::Kdf kdf(EVP_KDF_fetch(nullptr, "SCRYPT", nullptr));
    require(kdf != nullptr, "scrypt is not available");
    ossl::KdfCtx ctx(EVP_KDF_CTX_new(kdf.get()));
    require(ctx != nullptr, "cannot allocate a KDF context");
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_PASSWORD, const_cast<char*>(password), passwordSize),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, const_cast<uint8_t*>(salt.data()), salt.size()),
        OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_SCRYPT_N, &n),
        OSSL_PARAM_construct_uint32(OSSL_KDF_PARAM_SCRYPT_R, &r),
        OSSL_PARAM_construct_uint32(OSSL_KDF_PARAM_SCRYPT_P, &p),
        OSSL_PARAM_construct_end(),
    };
    SecureBytes out(length);
    if (EVP_KDF_derive(ctx.get(), out.data(), out.size(), params) != 1) {
        // Parameters read from a record may be out of range: wrong data, not a broken library.
        throw CryptoInputError("scrypt failed");
    }
    return out;
}

std::vector<uint8_t> wrapPublicOf(const SecureBytes& privateKey)
{
    return publicOf(x25519Private(privateKey).get());
}

WrapKeyPair generateWrapKeyPair()
{
    Pkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "X25519"));
    require(key != nullptr, "X25519 key generation failed");
    WrapKeyPair pair;
    pair.privateKey.resize(kX25519Size);
    size_t size = pair.privateKey.size();
    require(EVP_PKEY_get_raw_private_key(key.get(), pair.privateKey.data(), &size) == 1 && size == kX25519Size,
            "cannot read an X25519 private key");
    pair.publicKey = publicOf(key.get());
    return pair;
}

std::vector<uint8_t> wrapTo(const std::vector<uint8_t>& recipientPublic, const SecureBytes& secret,
                            const std::vector<uint8_t>& aad)
{
    const WrapKeyPair ephemeral = generateWrapKeyPair();
    const Pkey own = x25519Private(ephemeral.privateKey);
    const SecureBytes key = sharedKey(own.get(), recipientPublic);
    auto sealed = seal(key, secret.data(), secret.size(), wrapAad(aad, ephemeral.publicKey, recipientPublic));
    std::vector<uint8_t> out(ephemeral.publicKey);
    out.insert(out.end(), sealed.begin(), sealed.end());
    return out;
}

SecureBytes unwrapWith(const SecureBytes& recipientPrivate, const std::vector<uint8_t>& wrapped,
                       const std::vector<uint8_t>& aad)
{
    if (wrapped.size() < kX25519Size) {
        throw CryptoInputError("the wrapped key is too short");
    }
    const std::vector<uint8_t> ephemeral(wrapped.begin(), wrapped.begin() + kX25519Size);
    const Pkey own = x25519Private(recipientPrivate);
    const SecureBytes key = sharedKey(own.get(), ephemeral);
    const std::vector<uint8_t> sealed(wrapped.begin() + kX25519Size, wrapped.end());
    return open(key, sealed, wrapAad(aad, ephemeral, publicOf(own.get())));
}

} // namespace softskf::crypto
