// The PKCS#11 objects a container shows: per key pair a certificate (when the token holds
// one), a public key and a private key, all three with one CKA_ID made from the public key.
#pragma once

#include "Crypto.h"

#include <p11-kit/pkcs11.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace skfp11 {

struct Object
{
    CK_OBJECT_HANDLE handle = 0;
    CK_OBJECT_CLASS objectClass = CKO_DATA;
    CK_KEY_TYPE keyType = CKK_RSA;
    bool isPrivate = false;
    std::string container;
    bool signPair = true;
    std::map<CK_ATTRIBUTE_TYPE, Bytes> attributes;
    // Attribute types that exist but are never revealed.
    std::set<CK_ATTRIBUTE_TYPE> sensitive;

    // The key the module uses to keep a handle stable across rebuilds of the object list.
    std::string identity() const;
    bool matches(const CK_ATTRIBUTE* pTemplate, CK_ULONG count) const;
    // Answers every entry of a C_GetAttributeValue template; returns the last problem met.
    CK_RV readAttributes(CK_ATTRIBUTE* pTemplate, CK_ULONG count) const;
    // The bytes of its values; throws CKR_INFORMATION_SENSITIVE for a private key.
    CK_ULONG size() const;
};

// A key pair as the token reports it.
struct KeyPairFacts
{
    std::string container;
    bool signPair = true;
    bool isRsa = true;
    Bytes modulus, exponent; // RSA, without leading zeros
    Bytes ecX, ecY; // SM2, 32 bytes each
    Bytes certificate; // DER as stored, empty when there is none
};

// Reads an RSAPUBLICKEYBLOB or ECCPUBLICKEYBLOB exported by the driver; false when the
// bytes are not a well-formed blob.
bool readPublicKeyBlob(const Bytes& blob, bool isRsa, KeyPairFacts& facts);

// The CKA_ID of a pair: SHA-1 of the modulus, or of x||y.
Bytes keyIdOf(const KeyPairFacts& facts);

// The certificate (if any), public key and private key objects of a pair.
std::vector<Object> objectsOfPair(const KeyPairFacts& facts);

Bytes ulongValue(CK_ULONG value);
Bytes boolValue(bool value);
Bytes textValue(const std::string& text);

// The DER OCTET STRING around an uncompressed SM2 point, the value of CKA_EC_POINT.
Bytes ecPointValue(const Bytes& x, const Bytes& y);
Bytes sm2EcParams();

} // namespace skfp11
