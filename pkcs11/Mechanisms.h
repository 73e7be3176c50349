// The mechanisms the module offers: one record each, which signing, verifying, digests and
// the mechanism list all read, so a mechanism is added by adding a row.
#pragma once

#include "Crypto.h"
#include "Objects.h"

#include "skf/skfapi.h"
#include "skfcodec/Mechanisms.h"

#include <p11-kit/pkcs11.h>

#include <memory>
#include <vector>

namespace skfp11 {

// A mechanism as the module offers it. What a signature mechanism does (its key, its hash,
// how the caller's data becomes what the token signs) is its row of the table the module
// shares with the OpenSSL provider; the module adds what a token must be able to do for it
// and what C_GetMechanismInfo says.
struct Mechanism
{
    CK_MECHANISM_TYPE type;
    const skfmech::Mechanism* signing; // a signature mechanism's shared row, else nullptr
    const char* digest; // a digest mechanism's hash, by OpenSSL's name, else nullptr
    ULONG asymmetricCap; // DEVINFO.AlgAsymCap bits the token must have, 0 for none
    ULONG hashCap; // DEVINFO.AlgHashCap bits, 0 for none
    CK_ULONG minKeySize, maxKeySize;
    CK_FLAGS flags;
};

// Every mechanism the module offers, in the order C_GetMechanismList gives them.
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
    // A signature mechanism with a key of its kind (else CKR_KEY_TYPE_INCONSISTENT); the
    // parameter is the SM2 ID where the mechanism takes one (empty for the default ID), and
    // must be empty otherwise.
    SignatureOperation(OperationKind kind, const Mechanism& mechanism, const KeyPairFacts& key,
                       const uint8_t* parameter, size_t parameterSize);

    OperationKind kind() const { return m_kind; }
    const skfmech::Mechanism& mechanism() const { return *m_mechanism; }
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
    const skfmech::Mechanism* m_mechanism;
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
    size_t size() const { return m_size; }
    Bytes finish() { return m_hasher.finish(); }

private:
    Hasher m_hasher;
    size_t m_size;
    bool m_updated = false;
};

} // namespace skfp11
