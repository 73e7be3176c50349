// A catalogue text with a printf conversion, formatted with its value and cut to a buffer
// of fixed size at a character boundary: the expiry messages and the PIN pages' counts.
#pragma once

#include "namelist.h"
#include "stringcatalogue.h"

#include <cstddef>
#include <cstdio>
#include <string>

namespace textfit {

// The text as it fits size bytes with its terminator; empty when the format gives nothing.
template <typename Value> std::string formatted(const catalogue::CatalogueText& entry, Value value, std::size_t size)
{
    const std::string format = catalogue::formatText(entry);
    const int length = std::snprintf(nullptr, 0, format.c_str(), value);
    if (length <= 0) {
        return std::string();
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format.c_str(), value);
    text.resize(static_cast<std::size_t>(length));
    return namelist::cut(text, size - 1);
}

} // namespace textfit
