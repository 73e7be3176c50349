// The local test CA, certificate dates, and reading and writing DER and PEM.
#include "clientcrypto.h"
#include "errors.h"
#include "pemder.h"
#include "testca.h"

#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <memory>
#include <thread>
#include <unistd.h>

using namespace skftool;

namespace {

class TestCaFolder : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/skftool-ca-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_root = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(m_root); }

    std::string caFolder() const { return m_root + "/ca"; }

    std::vector<uint8_t> issue(EVP_PKEY* key, const std::string& notAfter, bool signatureUse = true)
    {
        IssueRequest request;
        request.subjectKey = key;
        request.commonName = "Alice Example";
        request.notBefore = "20260101000000Z";
        request.notAfter = notAfter;
        request.signatureUse = signatureUse;
        return issueCertificate(caFolder(), request);
    }

    ossl::Certificate caCertificate(const std::string& stem)
    {
        const std::vector<uint8_t> pem = readFileBytes(caFolder() + "/" + stem + "-cert.pem");
        ossl::Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
        return ossl::Certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    }

    std::string m_root;
};

ossl::Certificate parse(const std::vector<uint8_t>& der)
{
    const unsigned char* cursor = der.data();
    return ossl::Certificate(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
}

void setDefaultSm2Id(X509* certificate)
{
    ASN1_OCTET_STRING* id = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(id, reinterpret_cast<const unsigned char*>("1234567812345678"), 16);
    X509_set0_distinguishing_id(certificate, id);
}

unsigned modeOf(const std::string& path)
{
    struct stat info;
    EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 0777;
}

} // namespace

TEST_F(TestCaFolder, issuesSm2WithSm3CertificatesForSm2KeysThatTheCaVerifies)
{
    ossl::Pkey key = generateSm2KeyPair();
    const std::vector<uint8_t> der = issue(key.get(), "20281231235959Z");
    ossl::Certificate certificate = parse(der);
    ASSERT_TRUE(certificate);
    EXPECT_EQ(X509_get_signature_nid(certificate.get()), NID_SM2_with_SM3);
    EXPECT_EQ(EVP_PKEY_eq(X509_get0_pubkey(certificate.get()), key.get()), 1);
    ossl::Certificate ca = caCertificate("sm2-ca");
    ASSERT_TRUE(ca);
    EXPECT_EQ(X509_check_issued(ca.get(), certificate.get()), X509_V_OK);
    // SM2 signatures cover the signer's Z value; verifiers use the default ID 1234567812345678.
    setDefaultSm2Id(certificate.get());
    EXPECT_EQ(X509_verify(certificate.get(), X509_get0_pubkey(ca.get())), 1);
    setDefaultSm2Id(ca.get());
    EXPECT_EQ(X509_verify(ca.get(), X509_get0_pubkey(ca.get())), 1);
    const CertificateSummary summary = describeCertificate(der);
    EXPECT_EQ(summary.subject, "CN=Alice Example");
    EXPECT_EQ(summary.issuer, "CN=skftool test CA (SM2)");
    EXPECT_EQ(summary.notBefore, "2026-01-01 00:00:00 UTC");
    EXPECT_EQ(summary.notAfter, "2028-12-31 23:59:59 UTC");
}

TEST_F(TestCaFolder, issuesSha256WithRsaCertificatesForRsaKeysWithTheirKeyUsage)
{
    ossl::Pkey key = generateRsaKeyPair(1024);
    ossl::Certificate signing = parse(issue(key.get(), "20281231235959Z", true));
    ossl::Certificate encryption = parse(issue(key.get(), "20281231235959Z", false));
    ASSERT_TRUE(signing && encryption);
    EXPECT_EQ(X509_get_signature_nid(signing.get()), NID_sha256WithRSAEncryption);
    ossl::Certificate ca = caCertificate("rsa-ca");
    ASSERT_TRUE(ca);
    EXPECT_EQ(X509_verify(signing.get(), X509_get0_pubkey(ca.get())), 1);
    EXPECT_TRUE(X509_get_key_usage(signing.get()) & KU_DIGITAL_SIGNATURE);
    EXPECT_FALSE(X509_get_key_usage(signing.get()) & KU_KEY_ENCIPHERMENT);
    EXPECT_TRUE(X509_get_key_usage(encryption.get()) & KU_KEY_ENCIPHERMENT);
    EXPECT_NE(ASN1_INTEGER_cmp(X509_get0_serialNumber(signing.get()), X509_get0_serialNumber(encryption.get())), 0);
}

TEST_F(TestCaFolder, keepsOneCaPerKindInAPrivateFolderAndReusesIt)
{
    ossl::Pkey key = generateSm2KeyPair();
    issue(key.get(), "20281231235959Z");
    const std::vector<uint8_t> firstCa = readFileBytes(caFolder() + "/sm2-ca-cert.pem");
    issue(key.get(), "20291231235959Z");
    EXPECT_EQ(readFileBytes(caFolder() + "/sm2-ca-cert.pem"), firstCa);
    EXPECT_EQ(modeOf(caFolder()), 0700u);
    EXPECT_EQ(modeOf(caFolder() + "/sm2-ca-key.pem"), 0600u);
    EXPECT_FALSE(std::filesystem::exists(caFolder() + "/rsa-ca-key.pem"));
}

TEST_F(TestCaFolder, writesUtcTimeBefore2050AndGeneralizedTimeFrom2050On)
{
    ossl::Pkey key = generateSm2KeyPair();
    ossl::Certificate before = parse(issue(key.get(), "20491231235959Z"));
    ossl::Certificate after = parse(issue(key.get(), "20500101000000Z"));
    ASSERT_TRUE(before && after);
    EXPECT_EQ(ASN1_STRING_type(X509_get0_notAfter(before.get())), V_ASN1_UTCTIME);
    EXPECT_EQ(ASN1_STRING_type(X509_get0_notAfter(after.get())), V_ASN1_GENERALIZEDTIME);
    EXPECT_EQ(ASN1_STRING_type(X509_get0_notBefore(after.get())), V_ASN1_UTCTIME);
}

TEST_F(TestCaFolder, refusesACertificateThatEndsBeforeItBegins)
{
    ossl::Pkey key = generateSm2KeyPair();
    EXPECT_THROW(issue(key.get(), "20251231000000Z"), UsageError);
}

TEST(CertificateDates, acceptADayOrASecond_aDayAloneEndingAtItsLastSecond_andRefuseImpossibleDates)
{
    EXPECT_EQ(parseCertificateDate("2028-12-31", "--not-after", DayPart::EndOfDay), "20281231235959Z");
    EXPECT_EQ(parseCertificateDate("2028-12-31", "--not-before", DayPart::StartOfDay), "20281231000000Z");
    EXPECT_EQ(parseCertificateDate("2051-06-30T12:34:56", "--not-after", DayPart::EndOfDay), "20510630123456Z");
    for (const char* bad : {"2028-02-30", "2028-13-01", "2028-12-31 junk", "tomorrow"}) {
        EXPECT_THROW(parseCertificateDate(bad, "--not-after", DayPart::EndOfDay), UsageError) << bad;
    }
}

TEST(CertificateFiles, readPemAndDerToTheSameDerBytesAndRefuseOtherData)
{
    char pattern[] = "/tmp/skftool-pem-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string folder = pattern;
    ossl::Pkey key = generateSm2KeyPair();
    IssueRequest request;
    request.subjectKey = key.get();
    request.commonName = "Bob";
    request.notBefore = "20260101000000Z";
    request.notAfter = "20270101000000Z";
    const std::vector<uint8_t> der = issueCertificate(folder + "/ca", request);

    EXPECT_EQ(certificateDer(der), der);
    const std::string pem = derToPem(der);
    EXPECT_EQ(pem.rfind("-----BEGIN CERTIFICATE-----\n", 0), 0u);
    EXPECT_EQ(certificateDer(std::vector<uint8_t>(pem.begin(), pem.end())), der);

    std::vector<uint8_t> truncated(der.begin(), der.end() - 1);
    EXPECT_THROW(certificateDer(truncated), ToolError);
    std::vector<uint8_t> trailing = der;
    trailing.push_back(0);
    EXPECT_THROW(certificateDer(trailing), ToolError);
    const std::vector<uint8_t> keyPem = readFileBytes(folder + "/ca/sm2-ca-key.pem");
    EXPECT_THROW(certificateDer(keyPem), ToolError);
    EXPECT_THROW(certificateDer({}), ToolError);

    writeFileBytes(folder + "/out.der", der);
    EXPECT_EQ(readFileBytes(folder + "/out.der"), der);
    EXPECT_THROW(readFileBytes(folder + "/missing.der"), ToolError);
    std::filesystem::remove_all(folder);
}

TEST(CertificateDates, yearsAfterALeapDay_endOnTheTwentyEighthOfFebruaryInACommonYear)
{
    tm leapDay{};
    leapDay.tm_year = 2028 - 1900;
    leapDay.tm_mon = 1;
    leapDay.tm_mday = 29;
    leapDay.tm_hour = 12;
    const time_t moment = timegm(&leapDay);
    EXPECT_EQ(certificateDateYearsAfter(moment, 0), "20280229120000Z");
    EXPECT_EQ(certificateDateYearsAfter(moment, 2), "20300228120000Z");
    EXPECT_EQ(certificateDateYearsAfter(moment, 4), "20320229120000Z");
}

// -o to something that is not a regular file writes into it or refuses it, and never
// puts a regular file in its place; a regular file is still replaced whole.
TEST(OutputFiles, writeIntoDevicesAndFifos_refuseSocketsAndFolders_andReplaceRegularFiles)
{
    const std::string folder = std::filesystem::temp_directory_path() / ("skftool-out-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::vector<uint8_t> bytes = {'o', 'k', '\n'};

    // A FIFO rather than /dev/null: a fault here must not take the machine's /dev/null.
    struct stat status
    {
    };
    const std::string fifo = folder + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto received = std::make_shared<std::vector<uint8_t>>();
    std::thread reader([fifo, received] { *received = readFileBytes(fifo); });
    writeFileBytes(fifo, bytes);
    ASSERT_EQ(lstat(fifo.c_str(), &status), 0);
    if (!S_ISFIFO(status.st_mode)) {
        reader.detach(); // blocked on the FIFO that was replaced
        FAIL() << "the FIFO was replaced";
    }
    reader.join();
    EXPECT_EQ(*received, bytes);

    const std::string socketPath = folder + "/socket";
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_THROW(writeFileBytes(socketPath, bytes), ToolError);
    EXPECT_THROW(writeFileBytes(folder, bytes), ToolError);
    ASSERT_EQ(lstat(socketPath.c_str(), &status), 0);
    EXPECT_TRUE(S_ISSOCK(status.st_mode));
    close(listener);

    const std::string regular = folder + "/regular";
    writeFileBytes(regular, {'o', 'l', 'd', '!'});
    ASSERT_EQ(stat(regular.c_str(), &status), 0);
    const ino_t oldInode = status.st_ino;
    writeFileBytes(regular, bytes);
    EXPECT_EQ(readFileBytes(regular), bytes);
    ASSERT_EQ(stat(regular.c_str(), &status), 0);
    EXPECT_NE(status.st_ino, oldInode); // replaced through a rename, not written over
    std::filesystem::remove_all(folder);
}
