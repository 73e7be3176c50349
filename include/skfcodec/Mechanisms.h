// What each signing mechanism does, in one table the PKCS#11 module and the OpenSSL provider
// share: its PKCS#11 value, the key it needs, the hash it runs (by OpenSSL's name), and how
// the caller's data becomes what the token signs.
#pragma once

#include <cstddef>
#include <cstring>
#include <strings.h>

namespace skfmech {

enum class KeyKind { Rsa, Sm2 };

enum class Input {
    // The caller's bytes go to the token as they are: a DigestInfo (RSA, PKCS#1 v1.5 padded by
    // the token) or a 32-byte digest (SM2).
    Raw,
    // The data is hashed and the hash's DigestInfo is signed with PKCS#1 v1.5 padding.
    HashThenDigestInfo,
    // SM3 over Z || data, Z from the public key and the signer's ID; the SM3 hash is signed.
    Sm2WithZ,
};

struct Mechanism
{
    unsigned long ckm; // the PKCS#11 mechanism value
    const char* name; // its PKCS#11 name
    KeyKind key;
    const char* digest; // OpenSSL's canonical name of the hash, nullptr for raw input
    size_t digestSize; // bytes of that hash; for raw SM2 the digest the caller gives
    Input input;
};

// The module's vendor values: CKM_VENDOR_DEFINED + 0x534B4600 + n (pkcs11/include/skfp11.h).
inline constexpr unsigned long kCkmSkfSm2 = 0x80000000UL + 0x534B4600UL + 0x01UL;
inline constexpr unsigned long kCkmSkfSm3Sm2 = 0x80000000UL + 0x534B4600UL + 0x02UL;

inline constexpr Mechanism kMechanisms[] = {
    {0x00000001UL, "CKM_RSA_PKCS", KeyKind::Rsa, nullptr, 0, Input::Raw},
    {0x00000006UL, "CKM_SHA1_RSA_PKCS", KeyKind::Rsa, "SHA1", 20, Input::HashThenDigestInfo},
    {0x00000040UL, "CKM_SHA256_RSA_PKCS", KeyKind::Rsa, "SHA2-256", 32, Input::HashThenDigestInfo},
    {0x00000041UL, "CKM_SHA384_RSA_PKCS", KeyKind::Rsa, "SHA2-384", 48, Input::HashThenDigestInfo},
    {0x00000042UL, "CKM_SHA512_RSA_PKCS", KeyKind::Rsa, "SHA2-512", 64, Input::HashThenDigestInfo},
    {kCkmSkfSm2, "CKM_SKF_SM2", KeyKind::Sm2, nullptr, 32, Input::Raw},
    {kCkmSkfSm3Sm2, "CKM_SKF_SM3_SM2", KeyKind::Sm2, "SM3", 32, Input::Sm2WithZ},
};

inline const Mechanism* byCkm(unsigned long ckm)
{
    for (const Mechanism& row : kMechanisms) {
        if (row.ckm == ckm) {
            return &row;
        }
    }
    return nullptr;
}

// The mechanism that hashes with the named digest for a key of that kind. The name is any
// of OpenSSL's spellings: the canonical one, or an alias with or without "2-" or a dash
// ("SHA256", "SHA-256", "sha2-256"), in any case.
inline const Mechanism* byDigest(KeyKind key, const char* digest)
{
    if (!digest) {
        return nullptr;
    }
    // Compare without dashes and the "2" of "SHA2-": "SHA2-256" and "SHA-256" are "SHA256".
    auto squeeze = [](const char* text, char* out, size_t size) {
        size_t n = 0;
        for (size_t i = 0; text[i] && n + 1 < size; ++i) {
            if (text[i] == '-') {
                continue;
            }
            if ((text[i] == '2') && text[i + 1] == '-' && n == 3) {
                continue;
            }
            out[n++] = text[i];
        }
        out[n] = '\0';
    };
    char wanted[32];
    squeeze(digest, wanted, sizeof wanted);
    for (const Mechanism& row : kMechanisms) {
        if (row.key != key || !row.digest) {
            continue;
        }
        char known[32];
        squeeze(row.digest, known, sizeof known);
        if (strcasecmp(wanted, known) == 0) {
            return &row;
        }
    }
    return nullptr;
}

} // namespace skfmech
