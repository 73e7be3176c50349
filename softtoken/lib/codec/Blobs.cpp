// The SM2 ciphertext's DER form and name lists.
#include "Blobs.h"

#include <cstring>

namespace softskf::codec {

namespace {

void appendLength(std::vector<uint8_t>& out, size_t length)
{
    if (length < 0x80) {
        out.push_back(static_cast<uint8_t>(length));
        return;
    }
    std::vector<uint8_t> bytes;
    for (size_t rest = length; rest > 0; rest >>= 8) {
        bytes.insert(bytes.begin(), static_cast<uint8_t>(rest & 0xff));
    }
    out.push_back(static_cast<uint8_t>(0x80 | bytes.size()));
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void appendElement(std::vector<uint8_t>& out, uint8_t tag, const std::vector<uint8_t>& content)
{
    out.push_back(tag);
    appendLength(out, content.size());
    out.insert(out.end(), content.begin(), content.end());
}

// A positive DER INTEGER from big-endian bytes: minimal, with a 0x00 before a high bit.
std::vector<uint8_t> derInteger(const uint8_t* value, size_t size)
{
    size_t start = 0;
    while (start < size && value[start] == 0) {
        ++start;
    }
    std::vector<uint8_t> content(value + start, value + size);
    if (content.empty() || (content[0] & 0x80)) {
        content.insert(content.begin(), 0x00);
    }
    return content;
}

} // namespace

std::vector<uint8_t> sm2CiphertextDer(const ECCCIPHERBLOB& blob)
{
    std::vector<uint8_t> content;
    appendElement(content, 0x02, derInteger(blob.XCoordinate, sizeof blob.XCoordinate));
    appendElement(content, 0x02, derInteger(blob.YCoordinate, sizeof blob.YCoordinate));
    appendElement(content, 0x04, std::vector<uint8_t>(blob.HASH, blob.HASH + sizeof blob.HASH));
    appendElement(content, 0x04, std::vector<uint8_t>(blob.Cipher, blob.Cipher + blob.CipherLen));
    std::vector<uint8_t> der;
    appendElement(der, 0x30, content);
    return der;
}

std::string multiString(const std::vector<std::string>& names)
{
    std::string list;
    for (const auto& name : names) {
        list += name;
        list.push_back('\0');
    }
    if (!names.empty()) {
        list.push_back('\0');
    }
    return list;
}

} // namespace softskf::codec
