// What the handle table holds for session keys, hashes, MACs and key agreements.
#pragma once

#include "HandleTable.h"
#include "crypto/Services.h"

#include <memory>
#include <optional>

namespace softskf::core {

struct SessionKey : HandleObject
{
    explicit SessionKey(HANDLE parent)
        : HandleObject(HandleKind::SessionKey, parent)
    {
    }
    ULONG algorithm = 0; // SGD_SM4_ECB, _CBC, _CFB or _OFB: the mode of the next Init
    crypto::SecureBytes key;
    // The operation between Init and Final, and its direction.
    std::optional<crypto::Sm4Cipher> cipher;
    bool encrypting = false;
};

struct HashSession : HandleObject
{
    HashSession(HANDLE parent, crypto::DigestAlgorithm algorithm)
        : HandleObject(HandleKind::Hash, parent)
        , digest(algorithm)
    {
    }
    std::optional<crypto::Digest> digest; // empty once finished
};

struct MacSession : HandleObject
{
    MacSession(HANDLE key, crypto::Sm4Mac mac)
        : HandleObject(HandleKind::Mac, key)
        , mac(std::move(mac))
    {
    }
    std::optional<crypto::Sm4Mac> mac; // empty once finished
};

struct AgreementSession : HandleObject
{
    explicit AgreementSession(HANDLE container)
        : HandleObject(HandleKind::Agreement, container)
    {
    }
    ULONG algorithm = 0;
    crypto::Sm2ExchangeParty party;
};

} // namespace softskf::core
