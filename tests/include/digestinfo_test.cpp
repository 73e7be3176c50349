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
    const std::vector<uint8_t> sha1(20, 0xa1), sha256(32, 0xb2), sha384(48, 0xd4), sha512(64, 0xe5), sm3(32, 0xc3);
    EXPECT_EQ(ossl::digestInfo(ossl::kSha1DigestInfoPrefix, sha1), opensslDigestInfo(NID_sha1, sha1));
    EXPECT_EQ(ossl::digestInfo(ossl::kSha256DigestInfoPrefix, sha256), opensslDigestInfo(NID_sha256, sha256));
    EXPECT_EQ(ossl::digestInfo(ossl::kSha384DigestInfoPrefix, sha384), opensslDigestInfo(NID_sha384, sha384));
    EXPECT_EQ(ossl::digestInfo(ossl::kSha512DigestInfoPrefix, sha512), opensslDigestInfo(NID_sha512, sha512));
    EXPECT_EQ(ossl::digestInfo(ossl::kSm3DigestInfoPrefix, sm3), opensslDigestInfo(NID_sm3, sm3));
}

// Every spelling OpenSSL gives a hash finds that hash's prefix; other hashes find none.
TEST(DigestInfo, prefixByName_followsOpensslNames)
{
    const struct
    {
        const char* name;
        int nid;
        size_t hashSize;
    } rows[] = {{"SHA1", NID_sha1, 20},       {"sha256", NID_sha256, 32}, {"SHA2-256", NID_sha256, 32},
                {"SHA2-384", NID_sha384, 48}, {"SHA512", NID_sha512, 64}, {"SM3", NID_sm3, 32}};
    for (const auto& row : rows) {
        std::vector<uint8_t> expected = opensslDigestInfo(row.nid, std::vector<uint8_t>(row.hashSize, 0));
        expected.resize(expected.size() - row.hashSize);
        EXPECT_EQ(ossl::digestInfoPrefixOf(row.name), expected) << row.name;
    }
    EXPECT_TRUE(ossl::digestInfoPrefixOf("MD5").empty());
    EXPECT_TRUE(ossl::digestInfoPrefixOf("SHA512-224").empty());
    EXPECT_TRUE(ossl::digestInfoPrefixOf(nullptr).empty());
}

} // namespace
