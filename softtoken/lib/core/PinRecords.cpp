// PIN record binding: additional data and the record MAC.
#include "PinRecords.h"

#include "crypto/Crypto.h"

#include <string>

namespace softskf::core::pins {

namespace {

void appendNumber(std::string& out, uint64_t value)
{
    for (int shift = 56; shift >= 0; shift -= 8) {
        out.push_back(static_cast<char>((value >> shift) & 0xff));
    }
}

void appendField(std::string& out, const std::vector<uint8_t>& field)
{
    appendNumber(out, field.size());
    out.append(field.begin(), field.end());
}

} // namespace

std::vector<uint8_t> appKeyAad(const std::vector<uint8_t>& appUid, uint32_t pinType)
{
    std::vector<uint8_t> aad(appUid);
    aad.push_back(static_cast<uint8_t>(pinType));
    return aad;
}

std::vector<uint8_t> wrapPrivateAad(const std::vector<uint8_t>& appUid, uint32_t pinType, bool boundForm)
{
    std::vector<uint8_t> aad = appKeyAad(appUid, pinType);
    aad.push_back('W');
    if (boundForm) {
        aad.push_back('2');
    }
    return aad;
}

std::vector<uint8_t> recordMac(const crypto::SecureBytes& appKey, const std::vector<uint8_t>& appUid, uint32_t pinType,
                               const store::PinRecord& record, bool peerBound)
{
    std::string data = "softskf PIN record";
    appendField(data, appUid);
    appendNumber(data, pinType);
    for (const auto* field :
         {&record.salt, &record.verifier, &record.wrappedAppKey, &record.wrapPublic, &record.wrapPrivate}) {
        appendField(data, *field);
    }
    for (const uint64_t value : {uint64_t{static_cast<uint32_t>(record.kdf)}, uint64_t{record.iterations},
                                 record.scryptN, uint64_t{record.scryptR}, uint64_t{record.scryptP},
                                 uint64_t{record.maxRetries}, uint64_t{record.isDefault}, uint64_t{peerBound}}) {
        appendNumber(data, value);
    }
    const crypto::SecureBytes macKey = crypto::hmacSha256(appKey, "softskf PIN record key");
    const crypto::SecureBytes mac = crypto::hmacSha256(macKey, data);
    return std::vector<uint8_t>(mac.begin(), mac.end());
}

Binding binding(const crypto::SecureBytes& appKey, const std::vector<uint8_t>& appUid, uint32_t pinType,
                const store::PinRecord& record, bool peerBound)
{
    if (record.recordMac.empty()) {
        return Binding::Unbound;
    }
    const auto expected = recordMac(appKey, appUid, pinType, record, peerBound);
    return crypto::constantTimeEqual(expected.data(), expected.size(), record.recordMac.data(), record.recordMac.size())
        ? Binding::Bound
        : Binding::Damaged;
}

bool sameSecret(const store::PinRecord& a, const store::PinRecord& b)
{
    return a.salt == b.salt && a.verifier == b.verifier && a.kdf == b.kdf && a.iterations == b.iterations
        && a.scryptN == b.scryptN && a.scryptR == b.scryptR && a.scryptP == b.scryptP && a.wrapPublic == b.wrapPublic
        && a.wrapPrivate == b.wrapPrivate;
}

} // namespace softskf::core::pins
