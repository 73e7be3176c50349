// The one place that knows a mechanism: which key it takes, what it hashes, what the token is
// given to sign, and which of the token's capabilities it needs. Signing, verifying, digests
// and the mechanism list all read these records, so a mechanism is added by adding a row.
#pragma once

#include "Crypto.h"
#include "Objects.h"

#include "skf/skfapi.h"

#include <p11-kit/pkcs11.h>

#include <memory>
#include <optional>

namespace skfp11 {

enum class KeyKind { None, Rsa, Sm2 };

// What the token signs, made from what the caller gives.
enum class InputRule {
    None, // no signature: key generation, digests
    Pkcs1Raw, // the caller's bytes as they are, padded by the token
    DigestInfo, // the DigestInfo of the hash of the caller's data
    Sm2Digest, // a 32-byte digest the caller made
    Sm2ZThenHash, // the hash of Z (the key and an ID, the mechanism's parameter) and the caller's data
};

struct Mechanism
{
    CK_MECHANISM_TYPE type;
    KeyKind key;
    std::optional<HashKind> hash;
    InputRule input;
    const char* digestName; // OpenSSL's name of the hash, or nullptr
    ULONG asymmetricCap; // DEVINFO.AlgAsymCap bits the token must have, 0 for none
    ULONG hashCap; // DEVINFO.AlgHashCap bits, 0 for none
    CK_ULONG minKeySize, maxKeySize;
    CK_FLAGS flags;
};

// Every mechanism the module knows, in the order C_GetMechanismList gives them.
const std::vector<Mechanism>& mechanismTable();
// The record of a type, or nullptr.
const Mechanism* findMechanism(CK_MECHANISM_TYPE type);
// Whether a token with these capabilities can do the mechanism.
bool tokenOffers(const DEVINFO& info, const Mechanism& mechanism);

enum class OperationKind { Sign, Verify };

// A signature or verification in progress, generic over the mechanism's record. Errors are
// P11Errors (CKR_MECHANISM_PARAM_INVALID, CKR_DATA_LEN_RANGE).
class SignatureOperation
{
public:
    // The key must be of the mechanism's kind; the parameter is the SM2 ID where the rule
    // takes one (empty for the default ID), and must be empty otherwise.
    SignatureOperation(OperationKind kind, const Mechanism& mechanism, const KeyPairFacts& key,
                       const uint8_t* parameter, size_t parameterSize);

    OperationKind kind() const { return m_kind; }
    const Mechanism& mechanism() const { return *m_mechanism; }
    const KeyPairFacts& key() const { return m_key; }
    // True until the first update.
    bool fresh() const { return !m_updated; }
    void update(const uint8_t* data, size_t size);
    size_t signatureSize() const;
    // What the token signs (or the signature is checked against); ends the hash.
    Bytes input();
    // Checks a signature over input() with the operation's public key.
    bool verify(const Bytes& signature);

private:
    OperationKind m_kind;
    const Mechanism* m_mechanism;
    KeyPairFacts m_key;
    std::unique_ptr<Hasher> m_hasher;
    Bytes m_data;
    bool m_updated = false;
};

class DigestOperation
{
public:
    explicit DigestOperation(const Mechanism& mechanism);

    bool fresh() const { return !m_updated; }
    void update(const uint8_t* data, size_t size);
    size_t size() const;
    Bytes finish() { return m_hasher.finish(); }

private:
    HashKind m_kind;
    Hasher m_hasher;
    bool m_updated = false;
};

} // namespace skfp11
