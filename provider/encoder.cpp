// The public key of a token's key as SubjectPublicKeyInfo, DER or PEM. A token's key never
// leaves the provider (OpenSSL 3.0 would otherwise sign with its public half elsewhere), so
// public-key output (pkey -pubout, a CSR's or certificate's key) is written here.
#include "Provider.h"

#include <openssl/core_names.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

namespace skfprov {

OSSL_FUNC_BIO_write_ex_fn* g_coreBioWrite = nullptr;

namespace {

void* newEncoder(void* provctx)
{
    return provctx;
}

void freeEncoder(void*) { }

int encodesSelection(void*, int selection)
{
    return (selection & OSSL_KEYMGMT_SELECT_PUBLIC_KEY) && !(selection & OSSL_KEYMGMT_SELECT_PRIVATE_KEY);
}

template <bool Pem>
int encode(void*, OSSL_CORE_BIO* out, const void* object, const OSSL_PARAM[], int selection, OSSL_PASSPHRASE_CALLBACK*,
           void*)
{
    const auto* key = static_cast<const Key*>(object);
    if (!key || !key->publicKey || !g_coreBioWrite) {
        return 0;
    }
    if (selection & OSSL_KEYMGMT_SELECT_PRIVATE_KEY) {
        raiseError(kReasonUnsupported, "the private key cannot leave its token; only its public key can be written");
        return 0;
    }
    ossl::Bio memory(BIO_new(BIO_s_mem()));
    const bool written = memory
        && (Pem ? PEM_write_bio_PUBKEY(memory.get(), key->publicKey.get())
                : i2d_PUBKEY_bio(memory.get(), key->publicKey.get()))
            == 1;
    char* data = nullptr;
    const long size = written ? BIO_get_mem_data(memory.get(), &data) : 0;
    size_t done = 0;
    return size > 0 && g_coreBioWrite(out, data, static_cast<size_t>(size), &done) == 1
        && done == static_cast<size_t>(size);
}

#define SKFPROV_ENCODER(Pem)                                                                                           \
    {                                                                                                                  \
        SKFPROV_FN(OSSL_FUNC_ENCODER_NEWCTX, newEncoder), SKFPROV_FN(OSSL_FUNC_ENCODER_FREECTX, freeEncoder),          \
            SKFPROV_FN(OSSL_FUNC_ENCODER_DOES_SELECTION, encodesSelection),                                            \
            SKFPROV_FN(OSSL_FUNC_ENCODER_ENCODE, encode<Pem>), {0, nullptr},                                           \
    }

} // namespace

const OSSL_DISPATCH kDerEncoderFunctions[] = SKFPROV_ENCODER(false);
const OSSL_DISPATCH kPemEncoderFunctions[] = SKFPROV_ENCODER(true);

} // namespace skfprov
