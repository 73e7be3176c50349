// Owning pointers for OpenSSL objects, shared by the soft token, skftool and the PKCS#11
// module: each frees its object with the matching OpenSSL call.
#pragma once

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/param_build.h>
#include <openssl/params.h>
#include <openssl/x509.h>

#include <memory>

namespace ossl {

template <typename T, void (*Free)(T*)> struct Deleter
{
    void operator()(T* object) const { Free(object); }
};

template <typename T, void (*Free)(T*)> using Owner = std::unique_ptr<T, Deleter<T, Free>>;

using PkeyCtx = Owner<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;
using MdCtx = Owner<EVP_MD_CTX, EVP_MD_CTX_free>;
using CipherCtx = Owner<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>;
// Numbers are wiped when freed: some of them are private key material.
using Bignum = Owner<BIGNUM, BN_clear_free>;
using BnCtx = Owner<BN_CTX, BN_CTX_free>;
using EcGroup = Owner<EC_GROUP, EC_GROUP_free>;
using EcPoint = Owner<EC_POINT, EC_POINT_free>;
using EcdsaSig = Owner<ECDSA_SIG, ECDSA_SIG_free>;
using Pkey = Owner<EVP_PKEY, EVP_PKEY_free>;
using Certificate = Owner<X509, X509_free>;
using X509Req = Owner<X509_REQ, X509_REQ_free>;
using X509Extension = Owner<X509_EXTENSION, X509_EXTENSION_free>;
using Asn1Time = Owner<ASN1_TIME, ASN1_TIME_free>;
using Bio = Owner<BIO, BIO_free_all>;
using ParamBld = Owner<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>;
using Params = Owner<OSSL_PARAM, OSSL_PARAM_free>;
using Kdf = Owner<EVP_KDF, EVP_KDF_free>;
using KdfCtx = Owner<EVP_KDF_CTX, EVP_KDF_CTX_free>;

} // namespace ossl
