// The real skftool against the built soft token, each test in a fresh store: the demo
// token complete, tokens built command by command, PIN failures with their SAR codes, help.
#include "cli_runner.h"
#include "commands.h"
#include "ossl/Ossl.h"

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using skftooltest::RunResult;
using skftooltest::TemporaryFolder;

namespace {

using X509Ptr = ossl::Certificate;

const char kDemoDevice[] = "VK-VK2026000001";

class SkftoolCommandLine : public ::testing::Test
{
protected:
    // Runs skftool on this test's store and driver, without PINs from the environment.
    RunResult run(const std::vector<std::string>& args, std::map<std::string, std::string> environment = {})
    {
        environment.emplace("SOFTSKF_DIR", m_store.path());
        environment.emplace("SKFTOOL_LIB", SKFTOOL_TEST_DRIVER);
        environment.emplace("SKFTOOL_PIN", "");
        environment.emplace("SKFTOOL_SO_PIN", "");
        environment.emplace("SKFTOOL_NEW_PIN", "");
        return skftooltest::runSkftool(args, environment);
    }

    // Runs a command that must succeed and returns what it printed.
    std::string succeed(const std::vector<std::string>& args)
    {
        const RunResult result = run(args);
        EXPECT_EQ(result.exitCode, 0) << args.at(0) << " failed: " << result.err;
        return result.out;
    }

    std::string file(const std::string& name) const { return m_files.path() + "/" + name; }
    const std::string& store() const { return m_store.path(); }

    X509Ptr exportedCertificate(const std::string& container, const std::string& which)
    {
        const std::string path = file(container + which + ".der");
        succeed({"cert-export", kDemoDevice, "OVRIN_APP", container, which, "-o", path});
        const std::string der = readFile(path);
        const unsigned char* cursor = reinterpret_cast<const unsigned char*>(der.data());
        return X509Ptr(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
    }

    static std::string readFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    void makeStepByStepToken()
    {
        succeed({"create", "--serial", "S1", "--label", "Step token"});
        succeed({"insert", "S1", "--name", "Dev1"});
        succeed({"app-create", "Dev1", "APP", "--so-pin", "11111111", "--user-pin", "22222222", "--user-retries", "3"});
        succeed({"container-create", "Dev1", "APP", "C", "--pin", "22222222"});
    }

private:
    TemporaryFolder m_store;
    TemporaryFolder m_files;
};

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

std::string commonName(X509* certificate)
{
    char name[256] = {};
    X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName, name, sizeof(name));
    return name;
}

// True when notAfter is the same moment as notBefore, two calendar years later.
bool validForTwoYears(X509* certificate)
{
    tm from{};
    tm to{};
    if (ASN1_TIME_to_tm(X509_get0_notBefore(certificate), &from) != 1
        || ASN1_TIME_to_tm(X509_get0_notAfter(certificate), &to) != 1) {
        return false;
    }
    const bool leapDay = from.tm_mon == 1 && from.tm_mday == 29;
    return to.tm_year == from.tm_year + 2 && to.tm_mon == from.tm_mon && to.tm_mday == (leapDay ? 28 : from.tm_mday)
        && to.tm_hour == from.tm_hour && to.tm_min == from.tm_min;
}

X509Ptr readPemCertificate(const std::string& path)
{
    FILE* in = std::fopen(path.c_str(), "r");
    if (!in) {
        return nullptr;
    }
    X509Ptr certificate(PEM_read_X509(in, nullptr, nullptr, nullptr));
    std::fclose(in);
    return certificate;
}

// SM2 certificate signatures hash the signer's Z value made with the default ID.
bool verifiedBy(X509* certificate, X509* authority)
{
    if (X509_get_signature_nid(certificate) == NID_SM2_with_SM3) {
        ASN1_OCTET_STRING* id = ASN1_OCTET_STRING_new();
        ASN1_OCTET_STRING_set(id, reinterpret_cast<const unsigned char*>("1234567812345678"), 16);
        X509_set0_distinguishing_id(certificate, id);
    }
    return X509_verify(certificate, X509_get0_pubkey(authority)) == 1;
}

} // namespace

TEST_F(SkftoolCommandLine, demoOnAFreshStore_showsTheDemoTokenComplete)
{
    const std::string demo = succeed({"demo"});
    EXPECT_TRUE(contains(demo, "VK-VK2026000001")) << demo;

    const std::string tokens = succeed({"tokens"});
    EXPECT_TRUE(contains(tokens, "VK2026000001")) << tokens;
    EXPECT_TRUE(contains(tokens, kDemoDevice)) << tokens;
    EXPECT_TRUE(contains(succeed({"devices"}), std::string(kDemoDevice) + "\tpresent"));

    const std::string show = succeed({"show", kDemoDevice});
    for (const char* expected :
         {"Serial number:    VK2026000001", "Manufacturer:     Velkora", "Issuer:           Velkora Soft Token",
          "Device auth:      SGD_SM4_ECB", "Application OVRIN_APP",
          "SO PIN:   10 of 10 tries left, as issued, to be changed",
          "User PIN: 10 of 10 tries left, as issued, to be changed", "Container SM2Container (SM2)",
          "Container RSAContainer (RSA)", "Container EmptyContainer (empty)", "Signature key pair: SM2 256 bits",
          "Encryption key pair: SM2 256 bits", "Signature key pair: RSA 2048 bits",
          "Certificate: CN=Velkora Demo SM2 Signature", "Certificate: CN=Velkora Demo SM2 Encryption",
          "Certificate: CN=Velkora Demo RSA Signature", "Signature: SM2-with-SM3",
          "Signature: sha256WithRSAEncryption"}) {
        EXPECT_TRUE(contains(show, expected)) << "missing \"" << expected << "\" in\n" << show;
    }
}

TEST_F(SkftoolCommandLine, demoCertificates_areIssuedByTheStoresTestCaForTwoYears)
{
    succeed({"demo"});
    X509Ptr sm2Authority = readPemCertificate(store() + "/ca/sm2-ca-cert.pem");
    X509Ptr rsaAuthority = readPemCertificate(store() + "/ca/rsa-ca-cert.pem");
    ASSERT_TRUE(sm2Authority && rsaAuthority);

    X509Ptr sm2Sign = exportedCertificate("SM2Container", "--sign");
    X509Ptr sm2Enc = exportedCertificate("SM2Container", "--enc");
    X509Ptr rsaSign = exportedCertificate("RSAContainer", "--sign");
    ASSERT_TRUE(sm2Sign && sm2Enc && rsaSign);
    EXPECT_EQ(commonName(sm2Sign.get()), "Velkora Demo SM2 Signature");
    EXPECT_EQ(commonName(sm2Enc.get()), "Velkora Demo SM2 Encryption");
    EXPECT_EQ(commonName(rsaSign.get()), "Velkora Demo RSA Signature");
    EXPECT_TRUE(verifiedBy(sm2Sign.get(), sm2Authority.get()));
    EXPECT_TRUE(verifiedBy(sm2Enc.get(), sm2Authority.get()));
    EXPECT_TRUE(verifiedBy(rsaSign.get(), rsaAuthority.get()));
    EXPECT_EQ(EVP_PKEY_get_bits(X509_get0_pubkey(rsaSign.get())), 2048);
    for (X509* certificate : {sm2Sign.get(), sm2Enc.get(), rsaSign.get()}) {
        EXPECT_TRUE(validForTwoYears(certificate)) << commonName(certificate);
    }
    // The signature and encryption certificates certify two different key pairs.
    EXPECT_NE(EVP_PKEY_eq(X509_get0_pubkey(sm2Sign.get()), X509_get0_pubkey(sm2Enc.get())), 1);

    const RunResult none = run({"cert-export", kDemoDevice, "OVRIN_APP", "EmptyContainer", "--sign"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_TRUE(contains(none.err, "SAR_CERTNOTFOUNTERR (0x0A00001C)")) << none.err;
}

TEST_F(SkftoolCommandLine, demoRunAgain_onlyPlugsTheTokenInAgain)
{
    succeed({"demo"});
    EXPECT_TRUE(contains(succeed({"demo"}), "exists and is plugged in as VK-VK2026000001"));
    succeed({"remove", kDemoDevice});
    EXPECT_FALSE(contains(succeed({"devices"}), std::string(kDemoDevice) + "\tpresent"));
    const std::string again = succeed({"demo"});
    EXPECT_TRUE(contains(again, "exists")) << again;
    EXPECT_TRUE(contains(succeed({"devices"}), std::string(kDemoDevice) + "\tpresent"));
    const std::string show = succeed({"show", kDemoDevice});
    EXPECT_TRUE(contains(show, "Container SM2Container (SM2)")) << show;
    EXPECT_EQ(show.find("Application OVRIN_APP"), show.rfind("Application OVRIN_APP"));
}

TEST_F(SkftoolCommandLine, aWrongPin_namesTheSarCodeAndTheTriesLeft_andAGoodOneRestoresThem)
{
    makeStepByStepToken();
    RunResult wrong = run({"pin-verify", "Dev1", "APP", "--pin", "99999999"});
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_TRUE(contains(wrong.err, "SAR_PIN_INCORRECT (0x0A000024)")) << wrong.err;
    EXPECT_TRUE(contains(wrong.err, "2 tries left")) << wrong.err;
    EXPECT_TRUE(contains(succeed({"show", "Dev1"}), "User PIN: 2 of 3 tries left"));

    EXPECT_TRUE(contains(run({"pin-verify", "Dev1", "APP"}, {{"SKFTOOL_PIN", "22222222"}}).out, "correct"));
    EXPECT_TRUE(contains(succeed({"show", "Dev1"}), "User PIN: 3 of 3 tries left"));
}

TEST_F(SkftoolCommandLine, aLockedUserPin_isUnblockedWithTheSoPin)
{
    makeStepByStepToken();
    for (int attempt = 0; attempt < 3; ++attempt) {
        run({"pin-verify", "Dev1", "APP", "--pin", "99999999"});
    }
    const RunResult locked = run({"pin-verify", "Dev1", "APP", "--pin", "22222222"});
    EXPECT_EQ(locked.exitCode, 1);
    EXPECT_TRUE(contains(locked.err, "SAR_PIN_LOCKED (0x0A000025)")) << locked.err;
    EXPECT_TRUE(contains(succeed({"show", "Dev1"}), "User PIN: 0 of 3 tries left, locked"));

    const RunResult badSo = run({"pin-unblock", "Dev1", "APP", "--so-pin", "00000000", "--new-pin", "33333333"});
    EXPECT_EQ(badSo.exitCode, 1);
    EXPECT_TRUE(contains(badSo.err, "SAR_PIN_INCORRECT")) << badSo.err;
    EXPECT_EQ(
        run({"pin-unblock", "Dev1", "APP"}, {{"SKFTOOL_SO_PIN", "11111111"}, {"SKFTOOL_NEW_PIN", "33333333"}}).exitCode,
        0);
    succeed({"pin-verify", "Dev1", "APP", "--pin", "33333333"});
}

TEST_F(SkftoolCommandLine, pinChange_endsTheDefaultPinAndTooShortAPinIsRefusedByTheDriver)
{
    succeed({"demo"});
    const RunResult tooShort = run({"pin-change", kDemoDevice, "OVRIN_APP", "--pin", "12345678", "--new-pin", "123"});
    EXPECT_EQ(tooShort.exitCode, 1);
    EXPECT_TRUE(contains(tooShort.err, "SAR_PIN_LEN_RANGE (0x0A000027)")) << tooShort.err;

    succeed({"pin-change", kDemoDevice, "OVRIN_APP", "--pin", "12345678", "--new-pin", "87654321"});
    succeed({"pin-change", kDemoDevice, "OVRIN_APP", "--so", "--pin", "12345678", "--new-pin", "abcdefgh"});
    const std::string show = succeed({"show", kDemoDevice});
    EXPECT_TRUE(contains(show, "User PIN: 10 of 10 tries left\n")) << show;
    EXPECT_TRUE(contains(show, "SO PIN:   10 of 10 tries left\n")) << show;
    succeed({"pin-verify", kDemoDevice, "OVRIN_APP", "--so", "--pin", "abcdefgh"});
    EXPECT_EQ(run({"pin-verify", kDemoDevice, "OVRIN_APP", "--pin", "12345678"}).exitCode, 1);
}

TEST_F(SkftoolCommandLine, aTokenBuiltCommandByCommand_holdsAnRsaContainerWithBothPairsAndCertificates)
{
    makeStepByStepToken();
    const RunResult noSignaturePair = run({"import-enc-key", "Dev1", "APP", "C", "--pin", "22222222"});
    EXPECT_EQ(noSignaturePair.exitCode, 1);
    EXPECT_TRUE(contains(noSignaturePair.err, "no signature key pair")) << noSignaturePair.err;

    succeed({"keygen", "Dev1", "APP", "C", "--rsa", "1024", "--pin", "22222222"});
    succeed({"import-enc-key", "Dev1", "APP", "C", "--pin", "22222222"});
    succeed({"issue", "Dev1", "APP", "C", "--sign", "--cn", "Alice", "--not-before", "2026-01-01", "--not-after",
             "2051-06-30T12:00:00", "--pin", "22222222"});
    succeed(
        {"issue", "Dev1", "APP", "C", "--enc", "--cn", "Alice enc", "--not-after", "2030-01-01", "--pin", "22222222"});

    const std::string show = succeed({"show", "Dev1"});
    EXPECT_TRUE(contains(show, "Container C (RSA)")) << show;
    EXPECT_TRUE(contains(show, "Signature key pair: RSA 1024 bits")) << show;
    EXPECT_TRUE(contains(show, "Encryption key pair: RSA 1024 bits")) << show;
    EXPECT_TRUE(contains(show, "Valid:     2026-01-01 00:00:00 UTC to 2051-06-30 12:00:00 UTC")) << show;

    // From 2050 on, notAfter is a GeneralizedTime; the PEM export decodes to the DER export.
    succeed({"cert-export", "Dev1", "APP", "C", "--sign", "--pem", "-o", file("sign.pem")});
    succeed({"cert-export", "Dev1", "APP", "C", "--sign", "--output", file("sign.der")});
    X509Ptr fromPem = readPemCertificate(file("sign.pem"));
    ASSERT_TRUE(fromPem);
    EXPECT_EQ(ASN1_STRING_type(X509_get0_notAfter(fromPem.get())), V_ASN1_GENERALIZEDTIME);
    EXPECT_EQ(X509_get_signature_nid(fromPem.get()), NID_sha256WithRSAEncryption);
    unsigned char* der = nullptr;
    const int size = i2d_X509(fromPem.get(), &der);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(der), static_cast<size_t>(size)), readFile(file("sign.der")));
    OPENSSL_free(der);
}

TEST_F(SkftoolCommandLine, certImport_storesTheBytesOfADerOrPemFileExactly)
{
    succeed({"demo"});
    succeed({"cert-export", kDemoDevice, "OVRIN_APP", "SM2Container", "--sign", "--pem", "-o", file("sm2.pem")});
    succeed({"cert-export", kDemoDevice, "OVRIN_APP", "SM2Container", "--sign", "-o", file("sm2.der")});
    succeed({"container-create", kDemoDevice, "OVRIN_APP", "Copy", "--pin", "12345678"});
    succeed({"keygen", kDemoDevice, "OVRIN_APP", "Copy", "--sm2", "--pin", "12345678"});
    succeed({"cert-import", kDemoDevice, "OVRIN_APP", "Copy", "--sign", file("sm2.pem"), "--pin", "12345678"});
    succeed({"cert-import", kDemoDevice, "OVRIN_APP", "Copy", "--enc", file("sm2.der"), "--pin", "12345678"});
    succeed({"cert-export", kDemoDevice, "OVRIN_APP", "Copy", "--sign", "-o", file("back-sign.der")});
    succeed({"cert-export", kDemoDevice, "OVRIN_APP", "Copy", "--enc", "-o", file("back-enc.der")});
    EXPECT_EQ(readFile(file("back-sign.der")), readFile(file("sm2.der")));
    EXPECT_EQ(succeed({"cert-export", kDemoDevice, "OVRIN_APP", "Copy", "--sign", "--pem"}), readFile(file("sm2.pem")));
    EXPECT_EQ(readFile(file("back-enc.der")), readFile(file("sm2.der")));

    std::ofstream(file("junk.pem")) << "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n";
    const RunResult junk
        = run({"cert-import", kDemoDevice, "OVRIN_APP", "Copy", "--sign", file("junk.pem"), "--pin", "12345678"});
    EXPECT_EQ(junk.exitCode, 1);
    EXPECT_TRUE(contains(junk.err, "not one DER X.509 certificate")) << junk.err;
}

TEST_F(SkftoolCommandLine, containersAndApplications_comeAndGo)
{
    makeStepByStepToken();
    succeed({"container-delete", "Dev1", "APP", "C", "--pin", "22222222"});
    EXPECT_TRUE(contains(succeed({"show", "Dev1"}), "No containers"));
    const RunResult missing = run({"container-delete", "Dev1", "APP", "C", "--pin", "22222222"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(contains(missing.err, "SAR_")) << missing.err;

    const RunResult badKey = run({"app-delete", "Dev1", "APP", "--auth-key", "00112233445566778899aabbccddeeff"});
    EXPECT_EQ(badKey.exitCode, 1);
    EXPECT_TRUE(contains(badKey.err, "SKF_DevAuth failed: SAR_")) << badKey.err;
    succeed({"app-delete", "Dev1", "APP"});
    EXPECT_TRUE(contains(succeed({"show", "Dev1"}), "No applications"));
}

TEST_F(SkftoolCommandLine, storeCommands_createListPlugInPullOutAndDelete)
{
    succeed({"create", "--serial", "S2", "--label", "Second", "--capacity", "65536"});
    std::string tokens = succeed({"tokens"});
    EXPECT_TRUE(contains(tokens, "S2")) << tokens;
    EXPECT_TRUE(contains(tokens, "65536")) << tokens;
    succeed({"insert", "S2"});
    EXPECT_TRUE(contains(succeed({"devices"}), "VK-S2\tpresent"));
    succeed({"label", "VK-S2", "Renamed"});
    EXPECT_TRUE(contains(succeed({"show", "VK-S2"}), "Label:            Renamed"));
    EXPECT_TRUE(contains(succeed({"tokens"}), "Renamed"));
    const RunResult tooLong = run({"label", "VK-S2", std::string(33, 'x')});
    EXPECT_EQ(tooLong.exitCode, 1);
    EXPECT_TRUE(contains(tooLong.err, "SKF_SetLabel failed: SAR_")) << tooLong.err;

    succeed({"remove", "S2"});
    EXPECT_FALSE(contains(succeed({"devices"}), "VK-S2\tpresent"));
    const RunResult absent = run({"show", "VK-S2"});
    EXPECT_EQ(absent.exitCode, 1);
    EXPECT_TRUE(contains(absent.err, "SKF_ConnectDev failed: SAR_")) << absent.err;

    const RunResult twice = run({"create", "--serial", "S2"});
    EXPECT_EQ(twice.exitCode, 1);
    EXPECT_TRUE(contains(twice.err, "already exists")) << twice.err;
    EXPECT_EQ(run({"create", "--serial", "../escape"}).exitCode, 1);
    succeed({"delete", "S2"});
    EXPECT_TRUE(contains(succeed({"tokens"}), "No tokens"));
}

TEST_F(SkftoolCommandLine, aCommandThatNeedsAPin_withoutOneOnAPipe_isAUsageError)
{
    makeStepByStepToken();
    const RunResult noPin = run({"container-create", "Dev1", "APP", "D"});
    EXPECT_EQ(noPin.exitCode, 2);
    EXPECT_TRUE(contains(noPin.err, "SKFTOOL_PIN")) << noPin.err;
}

TEST_F(SkftoolCommandLine, aDriverThatCannotBeLoaded_isNamedInTheError)
{
    const RunResult result = run({"--lib", file("missing.so"), "devices"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(contains(result.err, "cannot load the SKF driver " + file("missing.so"))) << result.err;
}

TEST_F(SkftoolCommandLine, helpExplainsEveryCommandAndBadCommandLinesExitWithTwo)
{
    const std::string overview = succeed({"--help"});
    for (const skftool::Command& command : skftool::commandTable()) {
        EXPECT_TRUE(contains(overview, "  " + command.name + " ")) << command.name;
        const std::string help = succeed({command.name, "--help"});
        EXPECT_TRUE(contains(help, "Usage: skftool [--lib PATH] " + command.name)) << help;
        for (const skftool::OptionSpec& option : command.options) {
            EXPECT_TRUE(contains(help, option.name)) << command.name << " " << option.name;
        }
    }
    // The commands that refuse to run without --sign or --enc say so in their synopsis.
    for (const char* name : {"cert-import", "cert-export", "issue"}) {
        EXPECT_TRUE(contains(succeed({name, "--help"}), " --sign|--enc [OPTIONS]")) << name;
    }
    EXPECT_EQ(run({}).exitCode, 2);
    EXPECT_EQ(run({"frobnicate"}).exitCode, 2);
    EXPECT_EQ(run({"show"}).exitCode, 2);
    EXPECT_EQ(run({"keygen", "D", "A", "C", "--sm2", "--rsa", "2048", "--pin", "12345678"}).exitCode, 2);
    EXPECT_EQ(run({"issue", "D", "A", "C", "--sign", "--cn", "X", "--not-after", "2028-02-30"}).exitCode, 2);
}

TEST_F(SkftoolCommandLine, appCreate_takesPinsFromAFileOrADescriptor_andTheDefaultsOnlyWhenAskedFor)
{
    succeed({"create", "--serial", "P1"});
    succeed({"insert", "P1", "--name", "DevP"});
    // No PIN, no terminal: refused, and nothing made with a PIN nobody chose.
    const RunResult none = run({"app-create", "DevP", "NOPINS"});
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_TRUE(contains(none.err, "--pin-file")) << none.err;
    EXPECT_FALSE(contains(succeed({"show", "DevP"}), "NOPINS"));

    const std::string pins = file("pins");
    {
        std::ofstream out(pins);
        out << "so-secret-1\r\nuser-secret-2\n";
    }
    // A file others may read works, with a warning, as ssh gives for a key file; a private one is quiet.
    chmod(pins.c_str(), 0644);
    const RunResult open = run({"app-create", "DevP", "FILED", "--pin-file", pins});
    EXPECT_EQ(open.exitCode, 0) << open.err;
    EXPECT_TRUE(contains(open.err, "open to other users (mode 0644)")) << open.err;
    succeed({"pin-verify", "DevP", "FILED", "--so", "--pin", "so-secret-1"});
    succeed({"pin-verify", "DevP", "FILED", "--pin", "user-secret-2"});
    // Chosen PINs are still the ones the application was issued with, to be changed.
    EXPECT_TRUE(contains(succeed({"show", "DevP"}), "User PIN: 10 of 10 tries left, as issued, to be changed"));
    // One line short: a usage error, not an empty PIN.
    {
        std::ofstream out(pins);
        out << "so-secret-1\n";
    }
    EXPECT_EQ(run({"app-create", "DevP", "SHORT", "--pin-file", pins}).exitCode, 2);

    // The old PIN, then the new one, through an inherited descriptor.
    {
        std::ofstream out(pins);
        out << "user-secret-2\nuser-secret-3\n";
    }
    chmod(pins.c_str(), 0600);
    const RunResult quiet = run({"pin-verify", "DevP", "FILED", "--pin-file", pins});
    EXPECT_EQ(quiet.exitCode, 0) << quiet.err;
    EXPECT_FALSE(contains(quiet.err, "other users")) << quiet.err;
    const int fd = ::open(pins.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    succeed({"pin-change", "DevP", "FILED", "--pin-fd", std::to_string(fd)});
    close(fd);
    succeed({"pin-verify", "DevP", "FILED", "--pin", "user-secret-3"});
    EXPECT_TRUE(contains(succeed({"show", "DevP"}), "User PIN: 10 of 10 tries left\n"));

    succeed({"app-create", "DevP", "DEFAULTED", "--default-pins"});
    succeed({"pin-verify", "DevP", "DEFAULTED", "--pin", "12345678"});
    const std::string help = succeed({"app-create", "--help"});
    EXPECT_TRUE(contains(help, "--pin-fd")) << help;
    EXPECT_TRUE(contains(help, "--default-pins")) << help;
}

TEST_F(SkftoolCommandLine, tokens_listsABrokenDatabaseAsBroken_andTheOthersAsUsual)
{
    succeed({"create", "--serial", "GOOD", "--label", "Fine"});
    {
        std::ofstream(store() + "/tokens/JUNK.db") << "not a database at all, just some words";
        std::ofstream empty(store() + "/tokens/EMPTY.db");
    }
    const std::string tokens = succeed({"tokens"});
    EXPECT_TRUE(contains(tokens, "Fine")) << tokens;
    EXPECT_TRUE(contains(tokens, "JUNK                BROKEN")) << tokens;
    EXPECT_TRUE(contains(tokens, "EMPTY               BROKEN")) << tokens;
}

TEST_F(SkftoolCommandLine, anOutputFile_isNotWrittenThroughALinkPlantedBesideIt)
{
    succeed({"demo"});
    const std::string output = file("out.der");
    const std::string victim = file("victim");
    {
        std::ofstream(victim) << "keep me";
    }
    ASSERT_EQ(symlink(victim.c_str(), (output + ".tmp").c_str()), 0);
    succeed({"cert-export", kDemoDevice, "OVRIN_APP", "SM2Container", "--sign", "-o", output});
    EXPECT_EQ(readFile(victim), "keep me");
    EXPECT_FALSE(readFile(output).empty());
}

TEST_F(SkftoolCommandLine, aStoreFolderOpenToOthers_isRefusedWithAClearError_byTheStoreAndTheDriverCommands)
{
    succeed({"create", "--serial", "OPEN"});
    ASSERT_EQ(chmod(store().c_str(), 0755), 0);
    const RunResult open = run({"tokens"});
    const RunResult create = run({"create", "--serial", "OTHER"});
    // The driver only answers SAR_FILEERR; skftool adds the store's reason.
    const RunResult devices = run({"devices"});
    ASSERT_EQ(chmod(store().c_str(), 0700), 0);
    EXPECT_EQ(open.exitCode, 1);
    EXPECT_TRUE(contains(open.err, "open to other users (mode 0755")) << open.err;
    EXPECT_EQ(devices.exitCode, 1);
    EXPECT_TRUE(contains(devices.err, "SAR_FILEERR")) << devices.err;
    EXPECT_TRUE(contains(devices.err, store() + " is open to other users (mode 0755")) << devices.err;
    EXPECT_EQ(create.exitCode, 1);
    EXPECT_FALSE(contains(succeed({"tokens"}), "OTHER"));
}
