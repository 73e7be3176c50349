// The shared DigestInfo prefixes against OpenSSL's own DER encoding of a DigestInfo.
#include "ossl/DigestInfo.h"

#include <openssl/objects.h>
#include <openssl/x509.h>

#include <gtest/gtest.h>

namespace {

// DigestInfo ::= SEQUENCE { AlgorithmIdentifier { oid, NULL }, OCTET STRING digest }
std::vector<uint8_t> opensslDigestInfo(int nid, const std::vector<uint8_t>& hash)
{
    X509_SIG* info = X509_SIG_new();
    X509_ALGOR* algorithm = nullptr;
    ASN1_OCTET_STRING* digest = nullptr;
    X509_SIG_getm(info, &algorithm, &digest);
    X509_ALGOR_set0(algorithm, OBJ_nid2obj(nid), V_ASN1_NULL, nullptr);
    ASN1_OCTET_STRING_set(digest, hash.data(), static_cast<int>(hash.size()));
    unsigned char* der = nullptr;
    const int size = i2d_X509_SIG(info, &der);
    std::vector<uint8_t> out(der, der + (size > 0 ? size : 0));
    OPENSSL_free(der);
    X509_SIG_free(info);
    return out;
}

TEST(DigestInfo, everyPrefixFollowedByItsHash_isWhatOpensslEncodes)
{
    const std::vector<uint8_t> sha1(20, 0xa1), sha256(32, 0xb2), sm3(32, 0xc3);
    EXPECT_EQ(ossl::digestInfo(ossl::kSha1DigestInfoPrefix, sha1), opensslDigestInfo(NID_sha1, sha1));
    EXPECT_EQ(ossl::digestInfo(ossl::kSha256DigestInfoPrefix, sha256), opensslDigestInfo(NID_sha256, sha256));
    EXPECT_EQ(ossl::digestInfo(ossl::kSm3DigestInfoPrefix, sm3), opensslDigestInfo(NID_sm3, sm3));
}

} // namespace
