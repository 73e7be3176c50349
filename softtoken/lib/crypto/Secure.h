// The shared wiping buffers under the names the soft token's layers use.
#pragma once

#include "ossl/Secure.h"

namespace softskf::crypto {

using ossl::cleanse;
using ossl::CleansingAllocator;
using ossl::SecureBytes;
using ossl::secureCopy;
using ossl::SecureString;

} // namespace softskf::crypto
