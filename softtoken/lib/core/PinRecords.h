// What binds a PIN record to its application: the additional data of its sealings, the
// MAC under the application key over the fields that matter, and the form a record of
// this version has. Someone who can write the database once cannot make a record that
// passes these checks without a PIN or the application key.
#pragma once

#include "crypto/Secure.h"
#include "store/TokenDb.h"

#include <cstdint>
#include <vector>

namespace softskf::core::pins {

std::vector<uint8_t> appKeyAad(const std::vector<uint8_t>& appUid, uint32_t pinType);
// The private wrap key's sealing; records of this version add a mark, so a record of the
// bound form cannot pass for an older one by losing its MAC.
std::vector<uint8_t> wrapPrivateAad(const std::vector<uint8_t>& appUid, uint32_t pinType, bool boundForm);

// Covers everything but the retry counter, and whether the other PIN's record is bound:
// taking that record's MAC away breaks this one.
std::vector<uint8_t> recordMac(const crypto::SecureBytes& appKey, const std::vector<uint8_t>& appUid, uint32_t pinType,
                               const store::PinRecord& record, bool peerBound);

enum class Binding {
    Unbound, // a record of an older version: no MAC yet
    Bound,
    Damaged, // a MAC that does not match: changed by someone without the key
};
// peerBound: whether the other PIN's record of the application carries a MAC.
Binding binding(const crypto::SecureBytes& appKey, const std::vector<uint8_t>& appUid, uint32_t pinType,
                const store::PinRecord& record, bool peerBound);

// What a verified PIN's record opens.
struct OpenedRecord
{
    crypto::SecureBytes appKey;
    bool boundForm = false; // of this version's form, which never lacks its MAC
};

// The same PIN behind both: salt, hash parameters, verifier and sealed private half. A
// change of the other PIN rewrites only the wrapped key and the MAC.
bool sameSecret(const store::PinRecord& a, const store::PinRecord& b);

} // namespace softskf::core::pins
