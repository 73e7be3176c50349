// skf: URIs, in the form of RFC 7512's pkcs11: URIs. Path attributes (separated by ';')
// select objects: serial, app, container, usage (sign, enc) and type (private, public,
// cert); an attribute left out matches every value. Query attributes (separated by '&')
// carry the PIN: pin-value, or pin-source naming a file whose first line is the PIN.
// Values are percent-encoded.
#pragma once

#include <optional>
#include <string>

namespace skfprov {

enum class ObjectType { PrivateKey, PublicKey, Certificate };

struct SkfUri
{
    std::optional<std::string> serial;
    std::optional<std::string> app;
    std::optional<std::string> container;
    std::optional<bool> sign; // usage: true for sign, false for enc
    std::optional<ObjectType> type;
    std::optional<std::string> pinValue;
    std::optional<std::string> pinSource;

    // Whether the URI names no attribute of the path at all ("skf:").
    bool selectsEverything() const { return !serial && !app && !container && !sign && !type; }
};

// Parses an skf: URI; on a fault returns false and says which part is wrong in error.
bool parseUri(const std::string& text, SkfUri& uri, std::string& error);

// The URI of one object: every path attribute, percent-encoded, no query.
std::string formatUri(const std::string& serial, const std::string& app, const std::string& container, bool sign,
                      ObjectType type);

std::string percentEncode(const std::string& value);

} // namespace skfprov
