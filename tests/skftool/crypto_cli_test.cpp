// skftool's cryptographic commands against the built soft token: signatures that OpenSSL
// verifies, certificate requests that 'openssl req -verify' accepts, encryption round
// trips, digests equal to OpenSSL's, and refusals without the PIN.
#include "cli_runner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

using skftooltest::RunResult;
using skftooltest::TemporaryFolder;

namespace {

const char kDevice[] = "VK-VK2026000001";
const char kApp[] = "OVRIN_APP";
const char kPin[] = "12345678";

class SkftoolCrypto : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // One demo token (with its RSA-2048 pair) for the whole suite.
        s_store = new TemporaryFolder;
        ASSERT_EQ(runIn({"demo"}).exitCode, 0);
    }
    static void TearDownTestSuite()
    {
        delete s_store;
        s_store = nullptr;
    }
    static RunResult runIn(const std::vector<std::string>& args)
    {
        return skftooltest::runSkftool(args,
                                       {{"SOFTSKF_DIR", s_store->path()},
                                        {"SKFTOOL_LIB", SKFTOOL_TEST_DRIVER},
                                        {"SKFTOOL_PIN", ""},
                                        {"SKFTOOL_SO_PIN", ""},
                                        {"SKFTOOL_NEW_PIN", ""}});
    }
    std::string succeed(const std::vector<std::string>& args)
    {
        const RunResult result = runIn(args);
        EXPECT_EQ(result.exitCode, 0) << args.at(0) << " failed: " << result.err;
        return result.out;
    }
    std::string file(const std::string& name) const { return m_files.path() + "/" + name; }
    void writeFile(const std::string& path, const std::string& text) const
    {
        std::ofstream(path, std::ios::binary) << text;
    }
    static std::string readFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // Runs a shell command; its exit status.
    static int shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

    static TemporaryFolder* s_store;
    TemporaryFolder m_files;
};

TemporaryFolder* SkftoolCrypto::s_store = nullptr;

TEST_F(SkftoolCrypto, csrOfEachContainerKindVerifiesWithOpenssl)
{
    const std::string sm2 = file("sm2.csr");
    succeed({"csr", kDevice, kApp, "SM2Container", "--cn", "Alice", "-o", sm2, "--pin", kPin});
    // SM2 signatures carry the signer's identity; OpenSSL 3.0 must be told the default one.
    EXPECT_EQ(shell("openssl req -in " + sm2 + " -noout -verify -vfyopt distid:1234567812345678"), 0);
    EXPECT_EQ(shell("openssl req -in " + sm2 + " -noout -text | grep -q 'SM2-with-SM3'"), 0);
    EXPECT_EQ(shell("openssl req -in " + sm2 + " -noout -subject | grep -q 'CN = Alice'"), 0);

    const std::string rsa = file("rsa.csr");
    succeed({"csr", kDevice, kApp, "RSAContainer", "--cn", "Bob", "-o", rsa, "--pin", kPin});
    EXPECT_EQ(shell("openssl req -in " + rsa + " -noout -verify"), 0);

    // A tampered request fails: the check is real.
    std::string pem = readFile(rsa);
    const size_t at = pem.find('\n', pem.find("REQUEST")) + 40;
    pem[at] = pem[at] == 'A' ? 'B' : 'A';
    writeFile(file("bad.csr"), pem);
    EXPECT_NE(shell("openssl req -in " + file("bad.csr") + " -noout -verify"), 0);
}

TEST_F(SkftoolCrypto, signaturesVerifyOnTheTokenAndInOpenssl)
{
    const std::string data = file("data.txt");
    writeFile(data, "the data to sign\n");
    const std::string sig = file("sm2.sig");
    succeed({"sign", kDevice, kApp, "SM2Container", "--in", data, "-o", sig, "--pin", kPin});
    succeed({"verify", kDevice, kApp, "SM2Container", "--in", data, "--sig", sig});
    writeFile(file("other.txt"), "other data\n");
    EXPECT_NE(runIn({"verify", kDevice, kApp, "SM2Container", "--in", file("other.txt"), "--sig", sig}).exitCode, 0);

    const std::string rsaSig = file("rsa.sig");
    succeed({"sign", kDevice, kApp, "RSAContainer", "--in", data, "-o", rsaSig, "--pin", kPin});
    succeed({"verify", kDevice, kApp, "RSAContainer", "--in", data, "--sig", rsaSig});
    // OpenSSL checks the RSA signature with the public key of the certificate in the container.
    const std::string cert = file("rsa.der");
    succeed({"cert-export", kDevice, kApp, "RSAContainer", "--sign", "-o", cert});
    EXPECT_EQ(shell("openssl x509 -inform DER -in " + cert + " -pubkey -noout > " + file("rsa.pub")
                    + " && openssl dgst -sha256 -verify " + file("rsa.pub") + " -signature " + rsaSig + " " + data),
              0);
    // Without the PIN there is no signature.
    EXPECT_NE(runIn({"sign", kDevice, kApp, "SM2Container", "--in", data, "-o", sig}).exitCode, 0);
}

TEST_F(SkftoolCrypto, encryptedFilesDecryptOnTheToken_digestsAndRandomWork)
{
    std::string plain(5000, 'x');
    for (size_t i = 0; i < plain.size(); ++i) {
        plain[i] = static_cast<char>('a' + i % 26);
    }
    writeFile(file("plain"), plain);
    succeed({"encrypt", kDevice, kApp, "SM2Container", "--in", file("plain"), "-o", file("sealed")});
    EXPECT_EQ(readFile(file("sealed")).find(plain.substr(0, 64)), std::string::npos);
    succeed({"decrypt", kDevice, kApp, "SM2Container", "--in", file("sealed"), "-o", file("back"), "--pin", kPin});
    EXPECT_EQ(readFile(file("back")), plain);
    // A damaged file is refused, not decrypted into garbage.
    std::string sealed = readFile(file("sealed"));
    sealed.resize(sealed.size() - 7);
    writeFile(file("short"), sealed);
    EXPECT_NE(runIn({"decrypt", kDevice, kApp, "SM2Container", "--in", file("short"), "-o", file("x"), "--pin", kPin})
                  .exitCode,
              0);

    const std::string out = succeed({"digest", kDevice, "--in", file("plain")});
    EXPECT_EQ(shell("openssl dgst -sm3 " + file("plain") + " | grep -q " + out.substr(0, 64)), 0);
    const std::string sha = succeed({"digest", kDevice, "--alg", "sha256", "--in", file("plain")});
    EXPECT_EQ(shell("sha256sum " + file("plain") + " | grep -q " + sha.substr(0, 64)), 0);
    const std::string a = succeed({"random", kDevice, "--bytes", "16"});
    const std::string b = succeed({"random", kDevice, "--bytes", "16"});
    EXPECT_EQ(a.size(), 33u);
    EXPECT_NE(a, b);
}

} // namespace
