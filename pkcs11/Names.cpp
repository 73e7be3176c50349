// Reading and writing the table of IDs and labels, and putting them on objects.
#include "Names.h"

#include <sstream>

namespace skfp11 {

namespace {

std::string hexOf(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char byte : bytes) {
        out += digits[byte >> 4];
        out += digits[byte & 15];
    }
    return out;
}

std::optional<std::string> fromHex(const std::string& hex)
{
    if (hex.size() % 2) {
        return std::nullopt;
    }
    std::string out;
    for (size_t i = 0; i < hex.size(); i += 2) {
        int value = 0;
        for (char c : {hex[i], hex[i + 1]}) {
            const int nibble = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (nibble < 0) {
                return std::nullopt;
            }
            value = value * 16 + nibble;
        }
        out += char(value);
    }
    return out;
}

} // namespace

std::string pairKey(const std::string& container, bool signPair)
{
    return container + (signPair ? "/sign" : "/enc");
}

NameTable parseNames(const std::string& text)
{
    NameTable table;
    std::istringstream lines(text.substr(0, text.find('\0')));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string keyHex, field, valueHex;
        if (!(fields >> keyHex >> field >> valueHex)) {
            continue;
        }
        const auto key = fromHex(keyHex);
        const auto value = fromHex(valueHex == "-" ? std::string() : valueHex);
        if (!key || !value) {
            continue;
        }
        PairNames& names = table[*key];
        if (field == "key-id") {
            names.keyId = Bytes(value->begin(), value->end());
        } else if (field == "cert-id") {
            names.certificateId = Bytes(value->begin(), value->end());
        } else if (field == "key-label") {
            names.keyLabel = *value;
        } else if (field == "cert-label") {
            names.certificateLabel = *value;
        }
    }
    return table;
}

std::string formatNames(const NameTable& table)
{
    std::string out;
    auto line = [&](const std::string& key, const char* field, const std::string& value) {
        out += hexOf(key) + ' ' + field + ' ' + (value.empty() ? "-" : hexOf(value)) + '\n';
    };
    for (const auto& entry : table) {
        const PairNames& names = entry.second;
        if (names.keyId) {
            line(entry.first, "key-id", std::string(names.keyId->begin(), names.keyId->end()));
        }
        if (names.keyLabel) {
            line(entry.first, "key-label", *names.keyLabel);
        }
        if (names.certificateId) {
            line(entry.first, "cert-id", std::string(names.certificateId->begin(), names.certificateId->end()));
        }
        if (names.certificateLabel) {
            line(entry.first, "cert-label", *names.certificateLabel);
        }
    }
    return out;
}

void applyNames(const PairNames& names, std::vector<Object>& objects)
{
    for (Object& object : objects) {
        const bool certificate = object.objectClass == CKO_CERTIFICATE;
        const auto& id = certificate && names.certificateId ? names.certificateId : names.keyId;
        const auto& label = certificate ? names.certificateLabel : names.keyLabel;
        if (id) {
            object.attributes[CKA_ID] = *id;
        }
        if (label) {
            object.attributes[CKA_LABEL] = textValue(*label);
        }
    }
}

} // namespace skfp11
