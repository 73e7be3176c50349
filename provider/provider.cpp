// The skf provider's entry: initialisation, the algorithms it offers and its error strings.
#include "Provider.h"

#include "skfcodec/Codec.h"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/params.h>

namespace skfprov {

namespace {

int g_errorLibrary = 0;

ERR_STRING_DATA g_reasonStrings[] = {
    {ERR_PACK(0, 0, 0), "skf provider"},
    {ERR_PACK(0, 0, kReasonDriver), "SKF driver failure"},
    {ERR_PACK(0, 0, kReasonWrongPin), "wrong PIN"},
    {ERR_PACK(0, 0, kReasonPinLocked), "PIN locked"},
    {ERR_PACK(0, 0, kReasonNoToken), "token not present"},
    {ERR_PACK(0, 0, kReasonNoObject), "no such object on the tokens"},
    {ERR_PACK(0, 0, kReasonAmbiguous), "ambiguous URI"},
    {ERR_PACK(0, 0, kReasonBadUri), "malformed skf URI"},
    {ERR_PACK(0, 0, kReasonUnsupported), "the token cannot do this"},
    {ERR_PACK(0, 0, kReasonNoPin), "no PIN"},
    {ERR_PACK(0, 0, kReasonNoDriver), "no SKF driver"},
    {0, nullptr},
};

const OSSL_ALGORITHM kKeymgmt[] = {
    {"RSA:rsaEncryption:1.2.840.113549.1.1.1", "provider=skf", kRsaKeymgmtFunctions, "RSA keys on SKF tokens"},
    {"SM2:1.2.156.10197.1.301", "provider=skf", kSm2KeymgmtFunctions, "SM2 keys on SKF tokens"},
    {nullptr, nullptr, nullptr, nullptr},
};
const OSSL_ALGORITHM kSignature[] = {
    {"RSA:rsaEncryption:1.2.840.113549.1.1.1", "provider=skf", kRsaSignatureFunctions, "PKCS#1 v1.5 on SKF tokens"},
    {"SM2:1.2.156.10197.1.301", "provider=skf", kSm2SignatureFunctions, "SM2 with SM3 on SKF tokens"},
    {nullptr, nullptr, nullptr, nullptr},
};
const OSSL_ALGORITHM kAsymCipher[] = {
    {"RSA:rsaEncryption:1.2.840.113549.1.1.1", "provider=skf", kRefusingCipherFunctions, nullptr},
    {"SM2:1.2.156.10197.1.301", "provider=skf", kRefusingCipherFunctions, nullptr},
    {nullptr, nullptr, nullptr, nullptr},
};
#define SKFPROV_SPKI(output) "provider=skf,output=" output ",structure=SubjectPublicKeyInfo"
const OSSL_ALGORITHM kEncoder[] = {
    {"RSA:rsaEncryption:1.2.840.113549.1.1.1", SKFPROV_SPKI("der"), kDerEncoderFunctions, nullptr},
    {"RSA:rsaEncryption:1.2.840.113549.1.1.1", SKFPROV_SPKI("pem"), kPemEncoderFunctions, nullptr},
    {"SM2:1.2.156.10197.1.301", SKFPROV_SPKI("der"), kDerEncoderFunctions, nullptr},
    {"SM2:1.2.156.10197.1.301", SKFPROV_SPKI("pem"), kPemEncoderFunctions, nullptr},
    {nullptr, nullptr, nullptr, nullptr},
};
const OSSL_ALGORITHM kStore[] = {
    {"skf", "provider=skf", kStoreFunctions, "keys and certificates of SKF tokens by skf: URI"},
    {nullptr, nullptr, nullptr, nullptr},
};

const OSSL_ALGORITHM* queryOperation(void*, int operation, int* noCache)
{
    *noCache = 0;
    switch (operation) {
    case OSSL_OP_KEYMGMT:
        return kKeymgmt;
    case OSSL_OP_SIGNATURE:
        return kSignature;
    case OSSL_OP_ASYM_CIPHER:
        return kAsymCipher;
    case OSSL_OP_STORE:
        return kStore;
    case OSSL_OP_ENCODER:
        return kEncoder;
    default:
        return nullptr;
    }
}

const OSSL_PARAM* gettableParams(void*)
{
    static const OSSL_PARAM params[] = {
        OSSL_PARAM_DEFN(OSSL_PROV_PARAM_NAME, OSSL_PARAM_UTF8_PTR, nullptr, 0),
        OSSL_PARAM_DEFN(OSSL_PROV_PARAM_VERSION, OSSL_PARAM_UTF8_PTR, nullptr, 0),
        OSSL_PARAM_DEFN(OSSL_PROV_PARAM_BUILDINFO, OSSL_PARAM_UTF8_PTR, nullptr, 0),
        OSSL_PARAM_DEFN(OSSL_PROV_PARAM_STATUS, OSSL_PARAM_INTEGER, nullptr, 0),
        OSSL_PARAM_END,
    };
    return params;
}

int getParams(void*, OSSL_PARAM params[])
{
    OSSL_PARAM* p = OSSL_PARAM_locate(params, OSSL_PROV_PARAM_NAME);
    if (p && !OSSL_PARAM_set_utf8_ptr(p, "SKF token provider")) {
        return 0;
    }
    p = OSSL_PARAM_locate(params, OSSL_PROV_PARAM_VERSION);
    if (p && !OSSL_PARAM_set_utf8_ptr(p, SKFPROV_VERSION)) {
        return 0;
    }
    p = OSSL_PARAM_locate(params, OSSL_PROV_PARAM_BUILDINFO);
    if (p && !OSSL_PARAM_set_utf8_ptr(p, SKFPROV_VERSION)) {
        return 0;
    }
    p = OSSL_PARAM_locate(params, OSSL_PROV_PARAM_STATUS);
    return !p || OSSL_PARAM_set_int(p, 1);
}

void teardown(void* provctx)
{
    delete static_cast<ProviderContext*>(provctx);
}

const OSSL_DISPATCH kProviderFunctions[] = {
    {OSSL_FUNC_PROVIDER_TEARDOWN, reinterpret_cast<void (*)()>(teardown)},
    {OSSL_FUNC_PROVIDER_GETTABLE_PARAMS, reinterpret_cast<void (*)()>(gettableParams)},
    {OSSL_FUNC_PROVIDER_GET_PARAMS, reinterpret_cast<void (*)()>(getParams)},
    {OSSL_FUNC_PROVIDER_QUERY_OPERATION, reinterpret_cast<void (*)()>(queryOperation)},
    {0, nullptr},
};

} // namespace

PinState::~PinState()
{
    OPENSSL_cleanse(&pin[0], pin.size());
}

void raiseError(Reason reason, const std::string& message)
{
    ERR_raise_data(g_errorLibrary, reason, "%s", message.c_str());
}

void raiseError(const std::exception& error)
{
    if (const auto* own = dynamic_cast<const ProviderError*>(&error)) {
        raiseError(own->reason(), own->what());
    } else if (dynamic_cast<const skfcodec::CodecError*>(&error)) {
        raiseError(kReasonDriver, std::string("the token gave a value that makes no key: ") + error.what());
    } else {
        raiseError(kReasonDriver, error.what());
    }
}

} // namespace skfprov

extern "C" __attribute__((visibility("default"))) int
OSSL_provider_init(const OSSL_CORE_HANDLE* handle, const OSSL_DISPATCH* in, const OSSL_DISPATCH** out, void** provctx)
{
    using namespace skfprov;
    for (; in && in->function_id != 0; ++in) {
        if (in->function_id == OSSL_FUNC_BIO_WRITE_EX) {
            g_coreBioWrite = OSSL_FUNC_BIO_write_ex(in);
        }
    }
    static std::once_flag strings;
    std::call_once(strings, [] {
        // The library's name is the entry whose reason is 0; OpenSSL reads a list only up to
        // an entry whose code is 0, so every code is packed with the library here.
        g_errorLibrary = ERR_get_next_error_library();
        for (ERR_STRING_DATA* entry = g_reasonStrings; entry->string; ++entry) {
            entry->error = ERR_PACK(g_errorLibrary, 0, ERR_GET_REASON(entry->error));
        }
        ERR_load_strings(0, g_reasonStrings);
    });
    *provctx = new ProviderContext(handle);
    *out = kProviderFunctions;
    return 1;
}
