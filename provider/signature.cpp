// Signatures made on the token: RSA PKCS#1 v1.5 with SHA-1, SHA-256, SHA-384 or SHA-512
// (the hash and its DigestInfo made here, the padding and the private-key operation on the
// token) and SM2 with SM3 (Z from the public key and the signer's ID hashed in first).
// What the token cannot make (PSS, raw RSA) is refused with a reason that says so.
#include "Provider.h"

#include "ossl/DigestInfo.h"
#include "skf/sm2defaults.h"
#include "skfcodec/Codec.h"
#include "skfcodec/Mechanisms.h"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstring>

namespace skfprov {

namespace {

struct SignatureContext
{
    ProviderContext* provider = nullptr;
    bool rsa = true;
    const Key* key = nullptr;
    const skfmech::Mechanism* mechanism = nullptr; // nullptr: input signed as given
    std::string digestName;
    ossl::MdCtx hashing;
    bool hashStarted = false;
    std::string distid = sm2defaults::kId;
};

template <bool Rsa> void* newContext(void* provctx, const char*)
{
    auto* context = new SignatureContext;
    context->provider = static_cast<ProviderContext*>(provctx);
    context->rsa = Rsa;
    return context;
}

void freeContext(void* ctx)
{
    delete static_cast<SignatureContext*>(ctx);
}

void* dupContext(void* ctx)
{
    const auto* source = static_cast<SignatureContext*>(ctx);
    auto* copy = new SignatureContext;
    copy->provider = source->provider;
    copy->rsa = source->rsa;
    copy->key = source->key;
    copy->mechanism = source->mechanism;
    copy->digestName = source->digestName;
    copy->hashStarted = source->hashStarted;
    copy->distid = source->distid;
    if (source->hashing) {
        copy->hashing.reset(EVP_MD_CTX_new());
        if (!copy->hashing || EVP_MD_CTX_copy_ex(copy->hashing.get(), source->hashing.get()) != 1) {
            delete copy;
            return nullptr;
        }
    }
    return copy;
}

const char* algorithmName(const SignatureContext& context)
{
    return context.rsa ? "RSA" : "SM2";
}

bool chooseDigest(SignatureContext& context, const char* name)
{
    const skfmech::Mechanism* mechanism
        = skfmech::byDigest(context.rsa ? skfmech::KeyKind::Rsa : skfmech::KeyKind::Sm2, name);
    if (!mechanism) {
        raiseError(kReasonUnsupported,
                   std::string("the token cannot make ") + algorithmName(context) + " signatures with " + name
                       + " (RSA: SHA-1, SHA-256, SHA-384, SHA-512; SM2: SM3)");
        return false;
    }
    context.mechanism = mechanism;
    context.digestName = mechanism->digest;
    return true;
}

bool refusePadding(int padding)
{
    if (padding == RSA_PKCS1_PADDING) {
        return true;
    }
    raiseError(kReasonUnsupported,
               padding == RSA_PKCS1_PSS_PADDING ? "the token cannot make PSS signatures, only PKCS#1 v1.5"
                                                : "the token cannot make raw RSA signatures, only PKCS#1 v1.5");
    return false;
}

int setContextParams(void* ctx, const OSSL_PARAM params[])
{
    auto* context = static_cast<SignatureContext*>(ctx);
    if (!params) {
        return 1;
    }
    const OSSL_PARAM* p = OSSL_PARAM_locate_const(params, OSSL_SIGNATURE_PARAM_DIGEST);
    if (p) {
        const char* name = nullptr;
        if (!OSSL_PARAM_get_utf8_string_ptr(p, &name) || !chooseDigest(*context, name)) {
            return 0;
        }
    }
    p = OSSL_PARAM_locate_const(params, OSSL_SIGNATURE_PARAM_PAD_MODE);
    if (p && context->rsa) {
        int padding = 0;
        const char* word = nullptr;
        if (p->data_type == OSSL_PARAM_UTF8_STRING && OSSL_PARAM_get_utf8_string_ptr(p, &word)) {
            padding = std::strcmp(word, OSSL_PKEY_RSA_PAD_MODE_PKCSV15) == 0 ? RSA_PKCS1_PADDING
                : std::strcmp(word, OSSL_PKEY_RSA_PAD_MODE_PSS) == 0         ? RSA_PKCS1_PSS_PADDING
                                                                             : RSA_NO_PADDING;
        } else if (!OSSL_PARAM_get_int(p, &padding)) {
            return 0;
        }
        if (!refusePadding(padding)) {
            return 0;
        }
    }
    p = OSSL_PARAM_locate_const(params, OSSL_PKEY_PARAM_DIST_ID);
    if (p && !context->rsa) {
        void* id = nullptr;
        size_t size = 0;
        if (context->hashStarted || !OSSL_PARAM_get_octet_string(p, &id, 0, &size)) {
            return 0;
        }
        context->distid.assign(static_cast<const char*>(id), size);
        OPENSSL_free(id);
    }
    return 1;
}

template <bool Rsa> const OSSL_PARAM* settableContextParams(void*, void*)
{
    static const OSSL_PARAM rsa[] = {
        OSSL_PARAM_utf8_string(OSSL_SIGNATURE_PARAM_DIGEST, nullptr, 0),
        OSSL_PARAM_utf8_string(OSSL_SIGNATURE_PARAM_PAD_MODE, nullptr, 0),
        OSSL_PARAM_END,
    };
    static const OSSL_PARAM sm2[] = {
        OSSL_PARAM_utf8_string(OSSL_SIGNATURE_PARAM_DIGEST, nullptr, 0),
        OSSL_PARAM_octet_string(OSSL_PKEY_PARAM_DIST_ID, nullptr, 0),
        OSSL_PARAM_END,
    };
    return Rsa ? rsa : sm2;
}

// The DER AlgorithmIdentifier of the signature (sha256WithRSAEncryption, SM2-with-SM3...).
bool algorithmId(const SignatureContext& context, std::vector<uint8_t>& der)
{
    if (!context.mechanism || !context.mechanism->digest) {
        return false;
    }
    const int digestNid = OBJ_sn2nid(context.rsa ? context.digestName.c_str() : "SM3");
    int mdNid = digestNid;
    if (mdNid == NID_undef) {
        const EVP_MD* md = EVP_get_digestbyname(context.digestName.c_str());
        mdNid = md ? EVP_MD_get_type(md) : NID_undef;
    }
    int signatureNid = NID_undef;
    if (!OBJ_find_sigid_by_algs(&signatureNid, mdNid, context.rsa ? NID_rsaEncryption : NID_sm2)) {
        return false;
    }
    X509_ALGOR* algorithm = X509_ALGOR_new();
    if (!algorithm
        || !X509_ALGOR_set0(algorithm, OBJ_nid2obj(signatureNid), context.rsa ? V_ASN1_NULL : V_ASN1_UNDEF, nullptr)) {
        X509_ALGOR_free(algorithm);
        return false;
    }
    unsigned char* out = nullptr;
    const int size = i2d_X509_ALGOR(algorithm, &out);
    X509_ALGOR_free(algorithm);
    if (size <= 0) {
        return false;
    }
    der.assign(out, out + size);
    OPENSSL_free(out);
    return true;
}

int getContextParams(void* ctx, OSSL_PARAM params[])
{
    auto* context = static_cast<SignatureContext*>(ctx);
    OSSL_PARAM* p = OSSL_PARAM_locate(params, OSSL_SIGNATURE_PARAM_ALGORITHM_ID);
    if (p) {
        std::vector<uint8_t> der;
        if (!algorithmId(*context, der) || !OSSL_PARAM_set_octet_string(p, der.data(), der.size())) {
            return 0;
        }
    }
    p = OSSL_PARAM_locate(params, OSSL_SIGNATURE_PARAM_DIGEST);
    if (p && !OSSL_PARAM_set_utf8_string(p, context->digestName.c_str())) {
        return 0;
    }
    p = OSSL_PARAM_locate(params, OSSL_SIGNATURE_PARAM_PAD_MODE);
    if (p && context->rsa && !OSSL_PARAM_set_int(p, RSA_PKCS1_PADDING)) {
        return 0;
    }
    return 1;
}

const OSSL_PARAM* gettableContextParams(void*, void*)
{
    static const OSSL_PARAM params[] = {
        OSSL_PARAM_octet_string(OSSL_SIGNATURE_PARAM_ALGORITHM_ID, nullptr, 0),
        OSSL_PARAM_utf8_string(OSSL_SIGNATURE_PARAM_DIGEST, nullptr, 0),
        OSSL_PARAM_int(OSSL_SIGNATURE_PARAM_PAD_MODE, nullptr),
        OSSL_PARAM_END,
    };
    return params;
}

// A null key starts again with the key of the last start (OpenSSL's re-initialisation).
bool takeKey(SignatureContext& context, void* provkey, const OSSL_PARAM params[])
{
    const auto* key = provkey ? static_cast<const Key*>(provkey) : context.key;
    if (!key || !key->onToken) {
        raiseError(kReasonNoObject, "the key is not a key of a token (load it by its skf: URI with type=private)");
        return false;
    }
    context.key = key;
    context.mechanism = nullptr;
    context.digestName.clear();
    context.hashing.reset();
    context.hashStarted = false;
    return setContextParams(&context, params) == 1;
}

int signInit(void* ctx, void* provkey, const OSSL_PARAM params[])
{
    return takeKey(*static_cast<SignatureContext*>(ctx), provkey, params) ? 1 : 0;
}

size_t signatureSize(const SignatureContext& context)
{
    return static_cast<size_t>(EVP_PKEY_get_size(context.key->publicKey.get()));
}

// Signs input on the token with the key's PIN; a wrong PIN spends it.
bool signOnToken(const SignatureContext& context, const std::vector<uint8_t>& input, std::vector<uint8_t>& signature)
{
    const Key& key = *context.key;
    std::lock_guard<std::mutex> lock(key.pin->mutex);
    if (key.pin->spent) {
        raiseError(kReasonWrongPin, key.pin->spentBecause + "; the provider does not try it again");
        return false;
    }
    if (!key.pin->given) {
        raiseError(kReasonNoPin,
                   "no PIN for token " + key.ref.serial
                       + ": give it with ?pin-value= or ?pin-source= in the URI, or at the prompt");
        return false;
    }
    try {
        const std::vector<uint8_t> raw = key.provider->tokens().sign(key.ref, key.pin->pin, input, context.rsa);
        signature = context.rsa ? raw : skfcodec::sm2SignatureDerFromRs(raw);
        return true;
    } catch (const ProviderError& error) {
        if (error.reason() == kReasonWrongPin || error.reason() == kReasonPinLocked) {
            key.pin->spent = true;
            key.pin->spentBecause = error.what();
        }
        raiseError(error);
    } catch (const std::exception& error) {
        raiseError(error);
    }
    return false;
}

bool deliver(const std::vector<uint8_t>& signature, unsigned char* sig, size_t* siglen, size_t sigsize)
{
    if (signature.size() > sigsize) {
        raiseError(kReasonDriver, "the signature does not fit the caller's buffer");
        return false;
    }
    std::memcpy(sig, signature.data(), signature.size());
    *siglen = signature.size();
    return true;
}

// A signature of a digest the caller made (pkeyutl -sign): RSA wraps it in its DigestInfo
// when a digest is set, else signs the caller's DigestInfo; SM2 signs the 32-byte e.
int sign(void* ctx, unsigned char* sig, size_t* siglen, size_t sigsize, const unsigned char* tbs, size_t tbslen)
{
    auto* context = static_cast<SignatureContext*>(ctx);
    if (!sig) {
        *siglen = signatureSize(*context);
        return 1;
    }
    std::vector<uint8_t> input(tbs, tbs + tbslen);
    if (context->rsa && context->mechanism) {
        if (tbslen != context->mechanism->digestSize) {
            raiseError(kReasonUnsupported, "the data is not a " + context->digestName + " digest");
            return 0;
        }
        input = ossl::digestInfoPrefixOf(context->digestName.c_str());
        input.insert(input.end(), tbs, tbs + tbslen);
    } else if (!context->rsa && tbslen != 32) {
        raiseError(kReasonUnsupported, "an SM2 signature signs a 32-byte digest");
        return 0;
    }
    std::vector<uint8_t> signature;
    return signOnToken(*context, input, signature) && deliver(signature, sig, siglen, sigsize) ? 1 : 0;
}

int digestSignInit(void* ctx, const char* mdname, void* provkey, const OSSL_PARAM params[])
{
    auto* context = static_cast<SignatureContext*>(ctx);
    if (!takeKey(*context, provkey, params)) {
        return 0;
    }
    if (!chooseDigest(*context, mdname && *mdname ? mdname : (context->rsa ? "SHA256" : "SM3"))) {
        return 0;
    }
    ossl::MdCtx hashing(EVP_MD_CTX_new());
    const EVP_MD* md = EVP_get_digestbyname(context->digestName.c_str());
    if (!hashing || !md || EVP_DigestInit_ex(hashing.get(), md, nullptr) != 1) {
        raiseError(kReasonUnsupported, "OpenSSL has no " + context->digestName);
        return 0;
    }
    context->hashing = std::move(hashing);
    return 1;
}

// SM2 hashes Z first, once the ID is known for good: at the first data or the end.
bool startHash(SignatureContext& context)
{
    if (context.hashStarted) {
        return true;
    }
    context.hashStarted = true;
    if (context.rsa) {
        return true;
    }
    try {
        const auto z = skfcodec::sm2Z(skfcodec::sm2PointOf(context.key->publicKey.get()), context.distid);
        return EVP_DigestUpdate(context.hashing.get(), z.data(), z.size()) == 1;
    } catch (const std::exception& error) {
        raiseError(error);
        return false;
    }
}

int digestSignUpdate(void* ctx, const unsigned char* data, size_t size)
{
    auto* context = static_cast<SignatureContext*>(ctx);
    if (!context->hashing || !startHash(*context)) {
        return 0;
    }
    return EVP_DigestUpdate(context->hashing.get(), data, size);
}

int digestSignFinal(void* ctx, unsigned char* sig, size_t* siglen, size_t sigsize)
{
    auto* context = static_cast<SignatureContext*>(ctx);
    if (!context->hashing) {
        return 0;
    }
    if (!sig) {
        *siglen = signatureSize(*context);
        return 1;
    }
    if (!startHash(*context)) {
        return 0;
    }
    std::vector<uint8_t> digest(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(context->hashing.get(), digest.data(), &size) != 1) {
        return 0;
    }
    digest.resize(size);
    std::vector<uint8_t> input = digest;
    if (context->rsa) {
        input = ossl::digestInfoPrefixOf(context->digestName.c_str());
        input.insert(input.end(), digest.begin(), digest.end());
    }
    std::vector<uint8_t> signature;
    return signOnToken(*context, input, signature) && deliver(signature, sig, siglen, sigsize) ? 1 : 0;
}

#define SKFPROV_SIGNATURE(Rsa)                                                                                         \
    {                                                                                                                  \
        SKFPROV_FN(OSSL_FUNC_SIGNATURE_NEWCTX, newContext<Rsa>), SKFPROV_FN(OSSL_FUNC_SIGNATURE_FREECTX, freeContext), \
            SKFPROV_FN(OSSL_FUNC_SIGNATURE_DUPCTX, dupContext), SKFPROV_FN(OSSL_FUNC_SIGNATURE_SIGN_INIT, signInit),   \
            SKFPROV_FN(OSSL_FUNC_SIGNATURE_SIGN, sign),                                                                \
            SKFPROV_FN(OSSL_FUNC_SIGNATURE_DIGEST_SIGN_INIT, digestSignInit),                                          \
            SKFPROV_FN(OSSL_FUNC_SIGNATURE_DIGEST_SIGN_UPDATE, digestSignUpdate),                                      \
            SKFPROV_FN(OSSL_FUNC_SIGNATURE_DIGEST_SIGN_FINAL, digestSignFinal),                                        \
            SKFPROV_FN(OSSL_FUNC_SIGNATURE_GET_CTX_PARAMS, getContextParams),                                          \
            SKFPROV_FN(OSSL_FUNC_SIGNATURE_GETTABLE_CTX_PARAMS, gettableContextParams),                                \
            SKFPROV_FN(OSSL_FUNC_SIGNATURE_SET_CTX_PARAMS, setContextParams),                                          \
            SKFPROV_FN(OSSL_FUNC_SIGNATURE_SETTABLE_CTX_PARAMS, settableContextParams<Rsa>), {0, nullptr},             \
    }

// Decryption (and encryption, which needs no token) is refused: a token decrypts only into
// session keys it keeps, and never returns the plaintext.
void* newCipherContext(void* provctx)
{
    return provctx;
}
void freeCipherContext(void*) { }
int refuseDecrypt(void*, void*, const OSSL_PARAM[])
{
    raiseError(kReasonUnsupported,
               "the token cannot decrypt for OpenSSL: an SKF token decrypts only into session "
               "keys it keeps and never returns the plaintext");
    return 0;
}
int refuseEncrypt(void*, void*, const OSSL_PARAM[])
{
    raiseError(kReasonUnsupported, "encrypt with the certificate or the public key, not with the token's key");
    return 0;
}
int neverCalled(void*, unsigned char*, size_t*, size_t, const unsigned char*, size_t)
{
    return 0;
}

} // namespace

const OSSL_DISPATCH kRsaSignatureFunctions[] = SKFPROV_SIGNATURE(true);
const OSSL_DISPATCH kSm2SignatureFunctions[] = SKFPROV_SIGNATURE(false);
const OSSL_DISPATCH kRefusingCipherFunctions[] = {
    SKFPROV_FN(OSSL_FUNC_ASYM_CIPHER_NEWCTX, newCipherContext),
    SKFPROV_FN(OSSL_FUNC_ASYM_CIPHER_FREECTX, freeCipherContext),
    SKFPROV_FN(OSSL_FUNC_ASYM_CIPHER_DECRYPT_INIT, refuseDecrypt),
    SKFPROV_FN(OSSL_FUNC_ASYM_CIPHER_DECRYPT, neverCalled),
    SKFPROV_FN(OSSL_FUNC_ASYM_CIPHER_ENCRYPT_INIT, refuseEncrypt),
    SKFPROV_FN(OSSL_FUNC_ASYM_CIPHER_ENCRYPT, neverCalled),
    {0, nullptr},
};

} // namespace skfprov
