// Catalogue lookups, with a guard that keeps translated printf formats safe to use.
#include "stringcatalogue.h"

#include "wxmultilang.h"

#include <cctype>
#include <cstring>
#include <optional>
#include <vector>

namespace catalogue {

namespace {

// The conversion specifications of a printf format, each as written ("%d", "%5ld"), or
// nothing when the format is malformed (a lone "%" at the end, an unknown conversion).
std::optional<std::vector<std::string>> conversionsOf(const std::string& format)
{
    static const char* const flags = "-+ #0'I";
    static const char* const lengths = "hlLqjzZt";
    static const char* const conversions = "diouxXeEfFgGaAcsSpnmC";
    std::vector<std::string> found;
    size_t pos = 0;
    while ((pos = format.find('%', pos)) != std::string::npos) {
        size_t end = pos + 1;
        if (end < format.size() && format[end] == '%') {
            pos = end + 1; // "%%" prints a percent sign
            continue;
        }
        auto skip = [&](auto accept) {
            while (end < format.size() && accept(format[end]))
                ++end;
        };
        auto isDigit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
        skip([&](char c) { return isDigit(c) || c == '$'; }); // positional argument
        skip([&](char c) { return c != '\0' && std::strchr(flags, c) != nullptr; });
        skip([&](char c) { return isDigit(c) || c == '*'; });
        if (end < format.size() && format[end] == '.') {
            ++end;
            skip([&](char c) { return isDigit(c) || c == '*'; });
        }
        skip([&](char c) { return c != '\0' && std::strchr(lengths, c) != nullptr; });
        if (end >= format.size() || format[end] == '\0' || !std::strchr(conversions, format[end]))
            return std::nullopt;
        found.push_back(format.substr(pos, end + 1 - pos));
        pos = end + 1;
    }
    return found;
}

} // namespace

std::string text(const CatalogueText& t)
{
    return __(t.number, t.defaultText);
}

bool hasSameConversions(const std::string& format, const std::string& reference)
{
    auto used = conversionsOf(format);
    if (!used)
        return false;
    return used->empty() || *used == conversionsOf(reference);
}

std::string formatText(const CatalogueText& t)
{
    std::string translated = text(t);
    return hasSameConversions(translated, t.defaultText) ? translated : std::string(t.defaultText);
}

} // namespace catalogue
