// The standard's blob layouts: public key blobs (from the shared codec, include/skfcodec),
// the SM2 cipher blob and name lists. Big integers sit big-endian and right-aligned in their
// fields.
#pragma once

#include "skf/skfapi.h"
#include "skfcodec/Codec.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace softskf::codec {

using skfcodec::CodecError;
using skfcodec::eccPointFromBlob;
using skfcodec::eccPublicKeyBlob;
using skfcodec::putRightAligned;
using skfcodec::rsaPublicKeyBlob;

// The DER SM2Ciphertext (SEQUENCE of x, y, hash, ciphertext) for an ECCCIPHERBLOB whose
// Cipher carries CipherLen bytes.
std::vector<uint8_t> sm2CiphertextDer(const ECCCIPHERBLOB& blob);

// "a\0bb\0\0"; an empty list is empty (size 0): the manager hides its tray icon only
// when the device list's size is 0.
std::string multiString(const std::vector<std::string>& names);

} // namespace softskf::codec
