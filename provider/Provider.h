// What the provider's parts share: the provider context with its tokens, the key object,
// raising errors, and the dispatch tables of each operation.
#pragma once

#include "Tokens.h"

#include "ossl/Ossl.h"

#include <openssl/core.h>
#include <openssl/core_dispatch.h>

#include <memory>
#include <mutex>
#include <string>

namespace skfprov {

// The property query for the provider's own use of keys in software (public keys,
// verification): any provider but this one, so OpenSSL never hands such a key back to it.
inline constexpr char kSoftwarePropq[] = "provider!=skf";

class ProviderContext
{
public:
    explicit ProviderContext(const OSSL_CORE_HANDLE* core)
        : m_core(core)
    {
    }
    // The tokens, with the drivers loaded on first use.
    Tokens& tokens()
    {
        std::call_once(m_loaded, [this] { m_tokens = std::make_unique<Tokens>(); });
        return *m_tokens;
    }

private:
    const OSSL_CORE_HANDLE* m_core;
    std::once_flag m_loaded;
    std::unique_ptr<Tokens> m_tokens;
};

// The PIN a loaded key signs with, shared by copies of the key. After a wrong PIN it is
// spent: the provider never offers the same PIN twice.
struct PinState
{
    std::mutex mutex;
    std::string pin;
    bool given = false;
    bool spent = false;
    std::string spentBecause;
    ~PinState();
};

// A key object: its public part in software, and for a token's key what finds it again.
struct Key
{
    ProviderContext* provider = nullptr;
    bool rsa = true;
    ossl::Pkey publicKey;
    bool onToken = false;
    KeyRef ref;
    std::string tokenLabel;
    std::shared_ptr<PinState> pin;
};

// Raises an error of this provider with a reason openssl prints and a message.
void raiseError(Reason reason, const std::string& message);
// Raises what an exception says: a ProviderError's reason, else a driver failure.
void raiseError(const std::exception& error);

// One entry of a dispatch table.
#define SKFPROV_FN(id, function)                                                                                       \
    {                                                                                                                  \
        id, reinterpret_cast<void (*)()>(function)                                                                     \
    }

extern const OSSL_DISPATCH kStoreFunctions[];
extern const OSSL_DISPATCH kRsaKeymgmtFunctions[];
extern const OSSL_DISPATCH kSm2KeymgmtFunctions[];
extern const OSSL_DISPATCH kRsaSignatureFunctions[];
extern const OSSL_DISPATCH kSm2SignatureFunctions[];
extern const OSSL_DISPATCH kRefusingCipherFunctions[];
extern const OSSL_DISPATCH kDerEncoderFunctions[];
extern const OSSL_DISPATCH kPemEncoderFunctions[];

// The core's BIO writer, for the encoders.
extern OSSL_FUNC_BIO_write_ex_fn* g_coreBioWrite;

} // namespace skfprov
