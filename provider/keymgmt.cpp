// Key management for RSA and SM2 keys of a token: a key object holds the public part in
// software (so public-key output, key and certificate matching and CSR public keys work)
// and what finds the private part on its token again.
#include "Provider.h"

#include <openssl/core_names.h>
#include <openssl/err.h>

#include <cstring>

namespace skfprov {

namespace {

template <bool Rsa> void* newKey(void* provctx)
{
    auto* key = new Key;
    key->provider = static_cast<ProviderContext*>(provctx);
    key->rsa = Rsa;
    return key;
}

void freeKey(void* keydata)
{
    delete static_cast<Key*>(keydata);
}

Key* copyKey(const Key* original)
{
    auto* copy = new Key;
    copy->provider = original->provider;
    copy->rsa = original->rsa;
    EVP_PKEY_up_ref(original->publicKey.get());
    copy->publicKey.reset(original->publicKey.get());
    copy->onToken = original->onToken;
    copy->ref = original->ref;
    copy->tokenLabel = original->tokenLabel;
    copy->pin = original->pin;
    return copy;
}

// The store hands over a key by reference: the address of its own key object, copied here.
template <bool Rsa> void* loadKey(const void* reference, size_t size)
{
    if (!reference || size != sizeof(Key*)) {
        return nullptr;
    }
    const Key* original = nullptr;
    std::memcpy(&original, reference, sizeof original);
    if (!original || original->rsa != Rsa || !original->publicKey) {
        return nullptr;
    }
    return copyKey(original);
}

void* dupKey(const void* keydata, int)
{
    const auto* original = static_cast<const Key*>(keydata);
    if (!original->publicKey) {
        return nullptr;
    }
    return copyKey(original);
}

int hasKey(const void* keydata, int selection)
{
    const auto* key = static_cast<const Key*>(keydata);
    if (!key || !key->publicKey) {
        return 0;
    }
    if ((selection & OSSL_KEYMGMT_SELECT_PRIVATE_KEY) && !key->onToken) {
        return 0;
    }
    return 1;
}

int matchKeys(const void* first, const void* second, int selection)
{
    const auto* a = static_cast<const Key*>(first);
    const auto* b = static_cast<const Key*>(second);
    if (!a->publicKey || !b->publicKey) {
        return 0;
    }
    if ((selection & OSSL_KEYMGMT_SELECT_PRIVATE_KEY) && a->onToken && b->onToken
        && (a->ref.serial != b->ref.serial || a->ref.app != b->ref.app || a->ref.container != b->ref.container
            || a->ref.sign != b->ref.sign)) {
        return 0;
    }
    return EVP_PKEY_eq(a->publicKey.get(), b->publicKey.get()) == 1;
}

// Size, bits, security bits, default digest and the public values: all the public key's.
int getKeyParams(void* keydata, OSSL_PARAM params[])
{
    auto* key = static_cast<Key*>(keydata);
    if (!key->publicKey) {
        return 0;
    }
    EVP_PKEY_get_params(key->publicKey.get(), params);
    ERR_clear_error();
    return 1;
}

template <bool Rsa> const OSSL_PARAM* gettableKeyParams(void*)
{
    static const OSSL_PARAM rsa[] = {
        OSSL_PARAM_int(OSSL_PKEY_PARAM_BITS, nullptr),
        OSSL_PARAM_int(OSSL_PKEY_PARAM_SECURITY_BITS, nullptr),
        OSSL_PARAM_int(OSSL_PKEY_PARAM_MAX_SIZE, nullptr),
        OSSL_PARAM_utf8_string(OSSL_PKEY_PARAM_DEFAULT_DIGEST, nullptr, 0),
        OSSL_PARAM_BN(OSSL_PKEY_PARAM_RSA_N, nullptr, 0),
        OSSL_PARAM_BN(OSSL_PKEY_PARAM_RSA_E, nullptr, 0),
        OSSL_PARAM_END,
    };
    static const OSSL_PARAM sm2[] = {
        OSSL_PARAM_int(OSSL_PKEY_PARAM_BITS, nullptr),
        OSSL_PARAM_int(OSSL_PKEY_PARAM_SECURITY_BITS, nullptr),
        OSSL_PARAM_int(OSSL_PKEY_PARAM_MAX_SIZE, nullptr),
        OSSL_PARAM_utf8_string(OSSL_PKEY_PARAM_DEFAULT_DIGEST, nullptr, 0),
        OSSL_PARAM_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, nullptr, 0),
        OSSL_PARAM_octet_string(OSSL_PKEY_PARAM_PUB_KEY, nullptr, 0),
        OSSL_PARAM_octet_string(OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, nullptr, 0),
        OSSL_PARAM_END,
    };
    return Rsa ? rsa : sm2;
}

// Public keys come in (a certificate's key compared with a token's); private ones never do.
template <bool Rsa> int importKey(void* keydata, int selection, const OSSL_PARAM params[])
{
    auto* key = static_cast<Key*>(keydata);
    if (!(selection & OSSL_KEYMGMT_SELECT_PUBLIC_KEY)) {
        return 0;
    }
    ossl::PkeyCtx context(EVP_PKEY_CTX_new_from_name(nullptr, Rsa ? "RSA" : "SM2", kSoftwarePropq));
    EVP_PKEY* imported = nullptr;
    if (!context || EVP_PKEY_fromdata_init(context.get()) != 1
        || EVP_PKEY_fromdata(context.get(), &imported, EVP_PKEY_PUBLIC_KEY, const_cast<OSSL_PARAM*>(params)) != 1) {
        return 0;
    }
    key->publicKey.reset(imported);
    key->onToken = false;
    return 1;
}

template <bool Rsa> const OSSL_PARAM* keyTypes(int)
{
    static const OSSL_PARAM rsa[] = {
        OSSL_PARAM_BN(OSSL_PKEY_PARAM_RSA_N, nullptr, 0),
        OSSL_PARAM_BN(OSSL_PKEY_PARAM_RSA_E, nullptr, 0),
        OSSL_PARAM_END,
    };
    static const OSSL_PARAM sm2[] = {
        OSSL_PARAM_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, nullptr, 0),
        OSSL_PARAM_octet_string(OSSL_PKEY_PARAM_PUB_KEY, nullptr, 0),
        OSSL_PARAM_END,
    };
    return Rsa ? rsa : sm2;
}

// A token's key is never exported: OpenSSL 3.0 exports a key to the first provider that
// offers its operation and would sign there with the public half alone. Public keys
// (imported to be compared with a token's) go out.
int exportKey(void* keydata, int selection, OSSL_CALLBACK* callback, void* argument)
{
    auto* key = static_cast<Key*>(keydata);
    if (!key->publicKey || key->onToken
        || !(selection & (OSSL_KEYMGMT_SELECT_PUBLIC_KEY | OSSL_KEYMGMT_SELECT_DOMAIN_PARAMETERS))) {
        return 0;
    }
    OSSL_PARAM* params = nullptr;
    if (EVP_PKEY_todata(key->publicKey.get(), EVP_PKEY_PUBLIC_KEY, &params) != 1) {
        return 0;
    }
    const int result = callback(params, argument);
    OSSL_PARAM_free(params);
    return result;
}

template <bool Rsa> const char* operationName(int)
{
    return Rsa ? "RSA" : "SM2";
}

#define SKFPROV_KEYMGMT(Rsa)                                                                                           \
    {                                                                                                                  \
        SKFPROV_FN(OSSL_FUNC_KEYMGMT_NEW, newKey<Rsa>), SKFPROV_FN(OSSL_FUNC_KEYMGMT_FREE, freeKey),                   \
            SKFPROV_FN(OSSL_FUNC_KEYMGMT_LOAD, loadKey<Rsa>), SKFPROV_FN(OSSL_FUNC_KEYMGMT_HAS, hasKey),               \
            SKFPROV_FN(OSSL_FUNC_KEYMGMT_DUP, dupKey), SKFPROV_FN(OSSL_FUNC_KEYMGMT_MATCH, matchKeys),                 \
            SKFPROV_FN(OSSL_FUNC_KEYMGMT_GET_PARAMS, getKeyParams),                                                    \
            SKFPROV_FN(OSSL_FUNC_KEYMGMT_GETTABLE_PARAMS, gettableKeyParams<Rsa>),                                     \
            SKFPROV_FN(OSSL_FUNC_KEYMGMT_IMPORT, importKey<Rsa>),                                                      \
            SKFPROV_FN(OSSL_FUNC_KEYMGMT_IMPORT_TYPES, keyTypes<Rsa>),                                                 \
            SKFPROV_FN(OSSL_FUNC_KEYMGMT_EXPORT, exportKey),                                                           \
            SKFPROV_FN(OSSL_FUNC_KEYMGMT_EXPORT_TYPES, keyTypes<Rsa>),                                                 \
            SKFPROV_FN(OSSL_FUNC_KEYMGMT_QUERY_OPERATION_NAME, operationName<Rsa>), {0, nullptr},                      \
    }

} // namespace

const OSSL_DISPATCH kRsaKeymgmtFunctions[] = SKFPROV_KEYMGMT(true);
const OSSL_DISPATCH kSm2KeymgmtFunctions[] = SKFPROV_KEYMGMT(false);

} // namespace skfprov
