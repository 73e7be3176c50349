// namelist: reading, walking and cutting the driver's name lists.
#include "namelist.h"

#include <algorithm>
#include <cstring>

namespace namelist {

std::vector<std::string> split(const char* list, std::size_t size)
{
    std::vector<std::string> names;
    for (std::size_t at = 0; at < size && list[at] != '\0';) {
        const std::size_t length = strnlen(list + at, size - at);
        names.emplace_back(list + at, length);
        at += length + 1;
    }
    return names;
}

ULONG read(const ListCall& call, std::vector<std::string>& names)
{
    names.clear();
    ULONG size = 0;
    const ULONG queried = call(nullptr, &size);
    if (queried != SAR_OK) {
        return queried;
    }
    if (size > MaxListSize) {
        return ListTooLarge;
    }
    if (size < 2) {
        return SAR_OK;
    }
    std::vector<char> list(size, '\0');
    ULONG filled = size;
    const ULONG result = call(list.data(), &filled);
    if (result != SAR_OK) {
        return result;
    }
    names = split(list.data(), std::min<std::size_t>(filled, list.size()));
    return SAR_OK;
}

std::size_t fittingLength(const char* text, std::size_t length, std::size_t maxBytes)
{
    if (length <= maxBytes) {
        return length;
    }
    // A continuation byte at the cut means a character would be split: step back over at
    // most three of them to that character's lead byte and cut before it.
    std::size_t end = maxBytes;
    for (int steps = 0; steps < 3 && end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80; ++steps) {
        --end;
    }
    if ((static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        return maxBytes;
    }
    return end;
}

std::string cut(const std::string& text, std::size_t maxBytes)
{
    return text.substr(0, fittingLength(text.data(), text.size(), maxBytes));
}

} // namespace namelist
