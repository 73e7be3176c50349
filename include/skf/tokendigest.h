// Hashing on the token through a loaded driver: SKF_DigestInit, one SKF_Digest and
// SKF_CloseHandle, whatever table the three functions were bound into.
#pragma once

#include "skf/skfapi.h"

#include <string>
#include <vector>

namespace skfloader {

struct DigestCalls
{
    decltype(&::SKF_DigestInit) init;
    decltype(&::SKF_Digest) digest;
    decltype(&::SKF_CloseHandle) close;
};

// The token's hash of data; with an SM2 public key and ID (SM3 only) the Z value goes in
// first. check(result, "SKF_Name") is given each call's result and throws on a failure;
// the hash handle is closed before a failed SKF_Digest is reported.
template <typename Check>
std::vector<uint8_t> tokenDigest(const DigestCalls& calls, const Check& check, DEVHANDLE device, ULONG algorithm,
                                 ECCPUBLICKEYBLOB* key, const std::string& id, const std::vector<uint8_t>& data)
{
    HANDLE hash = nullptr;
    check(calls.init(device, algorithm, key, key ? reinterpret_cast<BYTE*>(const_cast<char*>(id.data())) : nullptr,
                     key ? static_cast<ULONG>(id.size()) : 0, &hash),
          "SKF_DigestInit");
    std::vector<uint8_t> out(64);
    ULONG size = static_cast<ULONG>(out.size());
    const ULONG rc
        = calls.digest(hash, const_cast<BYTE*>(data.data()), static_cast<ULONG>(data.size()), out.data(), &size);
    calls.close(hash);
    check(rc, "SKF_Digest");
    out.resize(size);
    return out;
}

} // namespace skfloader
