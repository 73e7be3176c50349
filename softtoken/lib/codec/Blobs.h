// The standard's blob layouts: public key blobs, the SM2 cipher blob and name lists.
// Big integers sit big-endian and right-aligned in their fields.
#pragma once

#include "skf/skfapi.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace softskf::codec {

class CodecError : public std::invalid_argument
{
public:
    using std::invalid_argument::invalid_argument;
};

// Writes value right-aligned into a field of fieldSize bytes, zeros before it. Leading
// zero bytes of value are dropped first; a value still too long throws.
void putRightAligned(uint8_t* field, size_t fieldSize, const uint8_t* value, size_t size);

// SM2: from the uncompressed point 04 || X(32) || Y(32), and back.
ECCPUBLICKEYBLOB eccPublicKeyBlob(const std::vector<uint8_t>& point);
std::vector<uint8_t> eccPointFromBlob(const ECCPUBLICKEYBLOB& blob);

RSAPUBLICKEYBLOB rsaPublicKeyBlob(uint32_t bits, const std::vector<uint8_t>& modulus,
                                  const std::vector<uint8_t>& exponent);

// The DER SM2Ciphertext (SEQUENCE of x, y, hash, ciphertext) for an ECCCIPHERBLOB whose
// Cipher carries CipherLen bytes.
std::vector<uint8_t> sm2CiphertextDer(const ECCCIPHERBLOB& blob);

// "a\0bb\0\0"; an empty list is empty (size 0): the manager hides its tray icon only
// when the device list's size is 0.
std::string multiString(const std::vector<std::string>& names);

} // namespace softskf::codec
