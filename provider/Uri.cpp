// Parsing and writing skf: URIs.
#include "Uri.h"

#include <strings.h>

#include <cctype>
#include <vector>

namespace skfprov {

namespace {

constexpr char kScheme[] = "skf:";

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool percentDecode(const std::string& text, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) {
            return false;
        }
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) {
            return false;
        }
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return true;
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t stop = text.find(separator, start);
        const std::string part = text.substr(start, stop == std::string::npos ? std::string::npos : stop - start);
        if (!part.empty()) {
            parts.push_back(part);
        }
        if (stop == std::string::npos) {
            break;
        }
        start = stop + 1;
    }
    return parts;
}

// Sets field once; a second value of the same attribute is a fault.
template <typename T> bool setOnce(std::optional<T>& field, T value, const std::string& name, std::string& error)
{
    if (field) {
        error = "the attribute '" + name + "' appears twice";
        return false;
    }
    field = std::move(value);
    return true;
}

bool pathAttribute(const std::string& name, const std::string& value, SkfUri& uri, std::string& error)
{
    if (name == "serial") {
        return setOnce(uri.serial, value, name, error);
    }
    if (name == "app") {
        return setOnce(uri.app, value, name, error);
    }
    if (name == "container") {
        return setOnce(uri.container, value, name, error);
    }
    if (name == "usage") {
        if (value != "sign" && value != "enc") {
            error = "usage is 'sign' or 'enc', not '" + value + "'";
            return false;
        }
        return setOnce(uri.sign, value == "sign", name, error);
    }
    if (name == "type") {
        ObjectType type;
        if (value == "private") {
            type = ObjectType::PrivateKey;
        } else if (value == "public") {
            type = ObjectType::PublicKey;
        } else if (value == "cert") {
            type = ObjectType::Certificate;
        } else {
            error = "type is 'private', 'public' or 'cert', not '" + value + "'";
            return false;
        }
        return setOnce(uri.type, type, name, error);
    }
    // Vendor attributes (x-...) are allowed and ignored, as RFC 7512 allows.
    if (name.compare(0, 2, "x-") == 0) {
        return true;
    }
    error = "unknown attribute '" + name + "'";
    return false;
}

bool queryAttribute(const std::string& name, const std::string& value, SkfUri& uri, std::string& error)
{
    if (name == "pin-value") {
        return setOnce(uri.pinValue, value, name, error);
    }
    if (name == "pin-source") {
        return setOnce(uri.pinSource, value, name, error);
    }
    if (name.compare(0, 2, "x-") == 0) {
        return true;
    }
    error = "unknown query attribute '" + name + "'";
    return false;
}

template <typename Handler>
bool attributes(const std::string& part, char separator, Handler handler, std::string& error)
{
    for (const std::string& attribute : split(part, separator)) {
        const size_t equals = attribute.find('=');
        if (equals == std::string::npos || equals == 0) {
            error = "'" + attribute + "' is not name=value";
            return false;
        }
        std::string value;
        if (!percentDecode(attribute.substr(equals + 1), value)) {
            error = "bad percent-encoding in '" + attribute + "'";
            return false;
        }
        if (!handler(attribute.substr(0, equals), value, error)) {
            return false;
        }
    }
    return true;
}

} // namespace

bool parseUri(const std::string& text, SkfUri& uri, std::string& error)
{
    uri = SkfUri();
    if (text.size() < sizeof kScheme - 1 || strncasecmp(text.c_str(), kScheme, sizeof kScheme - 1) != 0) {
        error = "not an skf: URI";
        return false;
    }
    const std::string rest = text.substr(sizeof kScheme - 1);
    const size_t question = rest.find('?');
    const std::string path = rest.substr(0, question);
    const std::string query = question == std::string::npos ? std::string() : rest.substr(question + 1);
    if (!attributes(
            path, ';',
            [&](const std::string& name, const std::string& value, std::string& fault) {
                return pathAttribute(name, value, uri, fault);
            },
            error)) {
        return false;
    }
    if (!attributes(
            query, '&',
            [&](const std::string& name, const std::string& value, std::string& fault) {
                return queryAttribute(name, value, uri, fault);
            },
            error)) {
        return false;
    }
    if (uri.pinValue && uri.pinSource) {
        error = "pin-value and pin-source both given";
        return false;
    }
    return true;
}

std::string percentEncode(const std::string& value)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : value) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 0x0f]);
        }
    }
    return out;
}

std::string formatUri(const std::string& serial, const std::string& app, const std::string& container, bool sign,
                      ObjectType type)
{
    const char* typeName = type == ObjectType::PrivateKey ? "private"
        : type == ObjectType::PublicKey                   ? "public"
                                                          : "cert";
    return std::string(kScheme) + "serial=" + percentEncode(serial) + ";app=" + percentEncode(app)
        + ";container=" + percentEncode(container) + ";usage=" + (sign ? "sign" : "enc") + ";type=" + typeName;
}

} // namespace skfprov
