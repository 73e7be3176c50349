// Building the objects of a key pair from what the driver exports.
#include "Objects.h"

#include "Errors.h"

#include "skfp11.h"

#include "skf/skfapi.h"
#include "skfcodec/Codec.h"

#include <cstring>

namespace skfp11 {

std::string Object::identity() const
{
    return container + (signPair ? "/sign/" : "/enc/") + std::to_string(objectClass);
}

bool Object::matches(const CK_ATTRIBUTE* pTemplate, CK_ULONG count) const
{
    for (CK_ULONG i = 0; i < count; ++i) {
        const CK_ATTRIBUTE& wanted = pTemplate[i];
        if (sensitive.count(wanted.type)) {
            return false;
        }
        const auto found = attributes.find(wanted.type);
        if (found == attributes.end() || found->second.size() != wanted.ulValueLen) {
            return false;
        }
        if (wanted.ulValueLen && std::memcmp(found->second.data(), wanted.pValue, wanted.ulValueLen) != 0) {
            return false;
        }
    }
    return true;
}

CK_RV Object::readAttributes(CK_ATTRIBUTE* pTemplate, CK_ULONG count) const
{
    // Every entry is answered; the result is the last problem met, as the standard asks.
    CK_RV rv = CKR_OK;
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_ATTRIBUTE& attribute = pTemplate[i];
        if (sensitive.count(attribute.type)) {
            attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = CKR_ATTRIBUTE_SENSITIVE;
            continue;
        }
        const auto found = attributes.find(attribute.type);
        if (found == attributes.end()) {
            attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = CKR_ATTRIBUTE_TYPE_INVALID;
            continue;
        }
        const Bytes& value = found->second;
        if (!attribute.pValue) {
            attribute.ulValueLen = value.size();
        } else if (attribute.ulValueLen < value.size()) {
            attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = CKR_BUFFER_TOO_SMALL;
        } else {
            if (!value.empty()) {
                std::memcpy(attribute.pValue, value.data(), value.size());
            }
            attribute.ulValueLen = value.size();
        }
    }
    return rv;
}

CK_ULONG Object::size() const
{
    if (objectClass == CKO_PRIVATE_KEY) {
        fail(CKR_INFORMATION_SENSITIVE); // its size would tell about a key that never leaves the token
    }
    CK_ULONG total = 0;
    for (const auto& entry : attributes) {
        total += entry.second.size();
    }
    return total;
}

bool readPublicKeyBlob(const Bytes& blob, bool isRsa, KeyPairFacts& facts)
{
    try {
        if (isRsa) {
            RSAPUBLICKEYBLOB key;
            if (blob.size() != sizeof key) {
                return false;
            }
            std::memcpy(&key, blob.data(), sizeof key);
            facts.isRsa = true;
            facts.modulus = skfcodec::rsaModulusFromBlob(key);
            facts.exponent = skfcodec::rsaExponentFromBlob(key);
            return facts.modulus.size() > 1;
        }
        ECCPUBLICKEYBLOB key;
        if (blob.size() != sizeof key) {
            return false;
        }
        std::memcpy(&key, blob.data(), sizeof key);
        const Bytes point = skfcodec::eccPointFromBlob(key);
        facts.isRsa = false;
        facts.ecX.assign(point.begin() + 1, point.begin() + 1 + skfcodec::kSm2CoordinateSize);
        facts.ecY.assign(point.begin() + 1 + skfcodec::kSm2CoordinateSize, point.end());
        return true;
    } catch (const skfcodec::CodecError&) {
        return false;
    }
}

Bytes keyIdOf(const KeyPairFacts& facts)
{
    if (facts.isRsa) {
        return hash("SHA1", facts.modulus.data(), facts.modulus.size());
    }
    Bytes point = facts.ecX;
    point.insert(point.end(), facts.ecY.begin(), facts.ecY.end());
    return hash("SHA1", point.data(), point.size());
}

Bytes ulongValue(CK_ULONG value)
{
    Bytes out(sizeof value);
    std::memcpy(out.data(), &value, sizeof value);
    return out;
}

Bytes boolValue(bool value)
{
    return Bytes{uint8_t(value ? CK_TRUE : CK_FALSE)};
}

Bytes textValue(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

Bytes ecPointValue(const Bytes& x, const Bytes& y)
{
    Bytes out{0x04, 0x41, 0x04};
    out.insert(out.end(), x.begin(), x.end());
    out.insert(out.end(), y.begin(), y.end());
    return out;
}

Bytes sm2EcParams()
{
    return Bytes(SKFP11_SM2_EC_PARAMS, SKFP11_SM2_EC_PARAMS + SKFP11_SM2_EC_PARAMS_LEN);
}

namespace {

Object baseObject(const KeyPairFacts& facts, CK_OBJECT_CLASS objectClass, const Bytes& id, const std::string& label)
{
    Object object;
    object.objectClass = objectClass;
    object.keyType = facts.isRsa ? CKK_RSA : CKK_EC;
    object.container = facts.container;
    object.signPair = facts.signPair;
    object.isPrivate = objectClass == CKO_PRIVATE_KEY;
    auto& a = object.attributes;
    a[CKA_CLASS] = ulongValue(objectClass);
    a[CKA_TOKEN] = boolValue(true);
    a[CKA_PRIVATE] = boolValue(object.isPrivate);
    a[CKA_MODIFIABLE] = boolValue(true); // CKA_ID and CKA_LABEL, kept in the module's file
    a[CKA_COPYABLE] = boolValue(false);
    a[CKA_DESTROYABLE] = boolValue(objectClass == CKO_PRIVATE_KEY);
    a[CKA_LABEL] = textValue(label);
    a[CKA_ID] = id;
    return object;
}

void addKeyCommon(Object& object, const KeyPairFacts& facts, const Bytes& subject)
{
    auto& a = object.attributes;
    a[CKA_KEY_TYPE] = ulongValue(object.keyType);
    a[CKA_SUBJECT] = subject;
    a[CKA_START_DATE] = Bytes();
    a[CKA_END_DATE] = Bytes();
    a[CKA_DERIVE] = boolValue(false);
    a[CKA_LOCAL] = boolValue(false);
    a[CKA_KEY_GEN_MECHANISM] = ulongValue(CK_UNAVAILABLE_INFORMATION);
    if (facts.isRsa) {
        a[CKA_MODULUS] = facts.modulus;
        a[CKA_PUBLIC_EXPONENT] = facts.exponent;
    } else {
        a[CKA_EC_PARAMS] = sm2EcParams();
    }
}

} // namespace

std::vector<Object> objectsOfPair(const KeyPairFacts& facts)
{
    const Bytes id = keyIdOf(facts);
    std::vector<Object> objects;
    CertificateFacts certificate;
    const bool hasCertificate = !facts.certificate.empty() && readCertificate(facts.certificate, certificate);
    // A certificate the token stores but that cannot be read is left out rather than shown wrong.
    if (hasCertificate) {
        const std::string label = certificate.commonName.empty() ? facts.container : certificate.commonName;
        Object object = baseObject(facts, CKO_CERTIFICATE, id, label);
        auto& a = object.attributes;
        a[CKA_CERTIFICATE_TYPE] = ulongValue(CKC_X_509);
        a[CKA_TRUSTED] = boolValue(false);
        a[CKA_CERTIFICATE_CATEGORY] = ulongValue(1); // a token user's own certificate
        a[CKA_SUBJECT] = certificate.subject;
        a[CKA_ISSUER] = certificate.issuer;
        a[CKA_SERIAL_NUMBER] = certificate.serial;
        a[CKA_VALUE] = facts.certificate;
        a[CKA_START_DATE] = Bytes();
        a[CKA_END_DATE] = Bytes();
        objects.push_back(std::move(object));
    }
    const Bytes subject = hasCertificate ? certificate.subject : Bytes();
    const std::string keyLabel = facts.signPair ? facts.container : facts.container + " (encryption)";

    Object publicKey = baseObject(facts, CKO_PUBLIC_KEY, id, keyLabel);
    addKeyCommon(publicKey, facts, subject);
    {
        auto& a = publicKey.attributes;
        a[CKA_VERIFY] = boolValue(facts.signPair);
        a[CKA_VERIFY_RECOVER] = boolValue(false);
        // The module offers no encryption mechanism (C_EncryptInit refuses every one), so no
        // key says it encrypts or wraps, or clients would try and fail.
        a[CKA_ENCRYPT] = boolValue(false);
        a[CKA_WRAP] = boolValue(false);
        a[CKA_TRUSTED] = boolValue(false);
        if (facts.isRsa) {
            a[CKA_MODULUS_BITS] = ulongValue(facts.modulus.size() * 8);
        } else {
            a[CKA_EC_POINT] = ecPointValue(facts.ecX, facts.ecY);
        }
    }
    objects.push_back(std::move(publicKey));

    Object privateKey = baseObject(facts, CKO_PRIVATE_KEY, id, keyLabel);
    addKeyCommon(privateKey, facts, subject);
    {
        auto& a = privateKey.attributes;
        a[CKA_SIGN] = boolValue(facts.signPair);
        a[CKA_SIGN_RECOVER] = boolValue(false);
        // The SKF functions decrypt with a container's key only into a session key handle,
        // never handing the plaintext back, so the module cannot offer decryption.
        a[CKA_DECRYPT] = boolValue(false);
        a[CKA_UNWRAP] = boolValue(false);
        a[CKA_SENSITIVE] = boolValue(true);
        a[CKA_ALWAYS_SENSITIVE] = boolValue(true);
        a[CKA_EXTRACTABLE] = boolValue(false);
        a[CKA_NEVER_EXTRACTABLE] = boolValue(true);
        a[CKA_ALWAYS_AUTHENTICATE] = boolValue(false);
        a[CKA_WRAP_WITH_TRUSTED] = boolValue(false);
        if (facts.isRsa) {
            privateKey.sensitive
                = {CKA_PRIVATE_EXPONENT, CKA_PRIME_1, CKA_PRIME_2, CKA_EXPONENT_1, CKA_EXPONENT_2, CKA_COEFFICIENT};
        } else {
            a[CKA_EC_POINT] = ecPointValue(facts.ecX, facts.ecY);
            privateKey.sensitive = {CKA_VALUE};
        }
    }
    objects.push_back(std::move(privateKey));
    return objects;
}

} // namespace skfp11
