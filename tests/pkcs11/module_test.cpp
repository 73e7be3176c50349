// The module over the soft token: slots, objects, signatures checked with OpenSSL against the
// token's own certificates, PINs, several threads and hot-plug. One store for the whole run,
// made by skftool; tests that change a token use a token of their own.
#include "P11Client.h"

#include "skfp11.h"

#include "ossl/Ossl.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

using namespace p11test;

namespace {

const char kPin[] = "12345678";
P11Client* g_client = nullptr;

std::string skftool(const std::string& arguments)
{
    return std::string("'") + SKFP11_TEST_SKFTOOL + "' " + arguments + " >/dev/null 2>&1";
}

class Environment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        std::string pattern = (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + std::string("/skfp11.XXXXXX");
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        m_store = pattern;
        setenv("SOFTSKF_DIR", m_store.c_str(), 1);
        setenv("SKFTOOL_LIB", SKFP11_TEST_DRIVER, 1);
        setenv("SKFP11_DRIVER", SKFP11_TEST_DRIVER, 1);
        ASSERT_EQ(run(skftool("demo")), 0);
        // $SKFP11_UNDER_TEST runs these cases against another build of the module.
        const char* module = std::getenv("SKFP11_UNDER_TEST");
        g_client = new P11Client(module && *module ? module : SKFP11_TEST_MODULE);
        ASSERT_EQ((*g_client)->C_Initialize(nullptr), CKR_OK);
    }
    void TearDown() override
    {
        (*g_client)->C_Finalize(nullptr);
        delete g_client;
        run("rm -rf '" + m_store + "'");
    }

private:
    std::string m_store;
};

const ::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new Environment);

P11Client& client()
{
    return *g_client;
}

std::string trimmed(const CK_UTF8CHAR* field, size_t width)
{
    std::string text(reinterpret_cast<const char*>(field), width);
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

// The slot whose token has this serial number.
CK_SLOT_ID slotOf(const std::string& serial)
{
    for (CK_SLOT_ID slot : client().slots()) {
        CK_TOKEN_INFO info;
        if (client()->C_GetTokenInfo(slot, &info) == CKR_OK
            && trimmed(info.serialNumber, sizeof info.serialNumber) == serial) {
            return slot;
        }
    }
    return CK_UNAVAILABLE_INFORMATION;
}

CK_SLOT_ID demoSlot()
{
    return slotOf("VK2026000001");
}

CK_SESSION_HANDLE loggedInDemoSession()
{
    const CK_SESSION_HANDLE session = client().open(demoSlot());
    const CK_RV rv = client()->C_Login(session, CKU_USER, (CK_UTF8CHAR_PTR)kPin, 8);
    EXPECT_TRUE(rv == CKR_OK || rv == CKR_USER_ALREADY_LOGGED_IN) << rv;
    return session;
}

ossl::Pkey certificateKey(const Bytes& der)
{
    const unsigned char* cursor = der.data();
    const ossl::Certificate certificate(d2i_X509(nullptr, &cursor, long(der.size())));
    if (!certificate) {
        return nullptr;
    }
    return ossl::Pkey(X509_get_pubkey(certificate.get()));
}

// The certificate and private key sharing the CKA_ID of the certificate with this label.
struct Pair
{
    Bytes certificate;
    CK_OBJECT_HANDLE privateKey = CK_INVALID_HANDLE;
};

Pair pairLabelled(CK_SESSION_HANDLE session, const std::string& label)
{
    CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE, privateClass = CKO_PRIVATE_KEY;
    std::string text = label;
    const auto certificates
        = client().find(session, {classIs(certificateClass), CK_ATTRIBUTE{CKA_LABEL, &text[0], text.size()}});
    Pair pair;
    if (certificates.size() != 1) {
        return pair;
    }
    pair.certificate = client().attribute(session, certificates[0], CKA_VALUE);
    Bytes id = client().attribute(session, certificates[0], CKA_ID);
    const auto keys = client().find(session, {classIs(privateClass), idIs(id)});
    if (keys.size() == 1) {
        pair.privateKey = keys[0];
    }
    return pair;
}

bool verifyWithOpenssl(EVP_PKEY* key, const char* digest, const Bytes& data, const Bytes& signature,
                       const std::string& sm2Id = std::string())
{
    Bytes der = signature;
    if (EVP_PKEY_is_a(key, "SM2") || EVP_PKEY_is_a(key, "EC")) {
        // r||s into the DER SEQUENCE OpenSSL checks.
        ECDSA_SIG* sig = ECDSA_SIG_new();
        ECDSA_SIG_set0(sig, BN_bin2bn(signature.data(), 32, nullptr), BN_bin2bn(signature.data() + 32, 32, nullptr));
        unsigned char* out = nullptr;
        const int size = i2d_ECDSA_SIG(sig, &out);
        der.assign(out, out + size);
        OPENSSL_free(out);
        ECDSA_SIG_free(sig);
    }
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    EVP_PKEY_CTX* keyContext = nullptr;
    bool ok = EVP_DigestVerifyInit_ex(context, &keyContext, digest, nullptr, nullptr, key, nullptr) == 1;
    if (ok && !sm2Id.empty()) {
        ok = EVP_PKEY_CTX_set1_id(keyContext, sm2Id.data(), sm2Id.size()) == 1;
    }
    ok = ok && EVP_DigestVerify(context, der.data(), der.size(), data.data(), data.size()) == 1;
    EVP_MD_CTX_free(context);
    return ok;
}

void writeFile(const std::string& path, const Bytes& bytes)
{
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    if (!bytes.empty()) { // an empty vector's data() may be null
        fwrite(bytes.data(), 1, bytes.size(), file);
    }
    fclose(file);
}

Bytes readFile(const std::string& path)
{
    Bytes bytes(64 * 1024);
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) {
        return Bytes();
    }
    bytes.resize(fread(bytes.data(), 1, bytes.size(), file));
    fclose(file);
    return bytes;
}

const Bytes kMessage = {'s', 'i', 'g', 'n', ' ', 'm', 'e'};

std::vector<CK_SLOT_ID> slotList(CK_BBOOL tokenPresent)
{
    CK_ULONG count = 0;
    std::vector<CK_SLOT_ID> ids(64);
    count = ids.size();
    EXPECT_EQ(client()->C_GetSlotList(tokenPresent, ids.data(), &count), CKR_OK);
    ids.resize(count);
    return ids;
}

bool listed(const std::vector<CK_SLOT_ID>& ids, CK_SLOT_ID id)
{
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

size_t objectCount(CK_SESSION_HANDLE session)
{
    return client().find(session, {}).size();
}

std::string tokenShown(const std::string& device)
{
    const std::string path = std::string(std::getenv("SOFTSKF_DIR")) + "/shown.txt";
    run("'" + std::string(SKFP11_TEST_SKFTOOL) + "' show " + device + " > '" + path + "' 2>&1");
    const Bytes text = readFile(path);
    return std::string(text.begin(), text.end());
}

// A token of its own with one application, plugged in, its slot found.
CK_SLOT_ID freshToken(const std::string& serial)
{
    EXPECT_EQ(run(skftool("create --serial " + serial)), 0);
    EXPECT_EQ(run(skftool("insert " + serial)), 0);
    EXPECT_EQ(run(skftool("app-create VK-" + serial + " APP --default-pins")), 0);
    return slotOf(serial);
}

} // namespace

TEST(Slots, theDemoTokenHasOneSlot_namingDeviceAndApplication_withTokenFacts)
{
    const CK_SLOT_ID slot = demoSlot();
    ASSERT_NE(slot, CK_UNAVAILABLE_INFORMATION);
    CK_SLOT_INFO slotInfo;
    ASSERT_EQ(client()->C_GetSlotInfo(slot, &slotInfo), CKR_OK);
    EXPECT_EQ(trimmed(slotInfo.slotDescription, 64), "VK-VK2026000001 / OVRIN_APP");
    EXPECT_EQ(slotInfo.flags & (CKF_REMOVABLE_DEVICE | CKF_TOKEN_PRESENT), CKF_REMOVABLE_DEVICE | CKF_TOKEN_PRESENT);

    CK_TOKEN_INFO info;
    ASSERT_EQ(client()->C_GetTokenInfo(slot, &info), CKR_OK);
    EXPECT_EQ(trimmed(info.label, 32), "Velkora Z Idi");
    const CK_FLAGS wanted
        = CKF_LOGIN_REQUIRED | CKF_TOKEN_INITIALIZED | CKF_USER_PIN_INITIALIZED | CKF_USER_PIN_TO_BE_CHANGED;
    EXPECT_EQ(info.flags & wanted, wanted);
    EXPECT_EQ(info.flags & (CKF_USER_PIN_LOCKED | CKF_USER_PIN_COUNT_LOW), 0u);

    CK_ULONG count = 0;
    ASSERT_EQ(client()->C_GetMechanismList(slot, nullptr, &count), CKR_OK);
    std::vector<CK_MECHANISM_TYPE> mechanisms(count);
    ASSERT_EQ(client()->C_GetMechanismList(slot, mechanisms.data(), &count), CKR_OK);
    for (CK_MECHANISM_TYPE type : {CKM_RSA_PKCS, CKM_SHA256_RSA_PKCS, CKM_SKF_SM3_SM2, CKM_SKF_SM3}) {
        EXPECT_NE(std::find(mechanisms.begin(), mechanisms.end(), type), mechanisms.end()) << type;
    }
}

TEST(Objects, privateKeysShowOnlyAfterLogin_andEachPairSharesOneId)
{
    const CK_SESSION_HANDLE session = client().open(demoSlot());
    CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE, publicClass = CKO_PUBLIC_KEY, privateClass = CKO_PRIVATE_KEY;
    EXPECT_EQ(client().find(session, {classIs(certificateClass)}).size(), 3u);
    EXPECT_EQ(client().find(session, {classIs(publicClass)}).size(), 3u);
    EXPECT_EQ(client().find(session, {classIs(privateClass)}).size(), 0u);

    ASSERT_EQ(client()->C_Login(session, CKU_USER, (CK_UTF8CHAR_PTR)kPin, 8), CKR_OK);
    const auto privateKeys = client().find(session, {classIs(privateClass)});
    EXPECT_EQ(privateKeys.size(), 3u);
    for (CK_OBJECT_HANDLE key : privateKeys) {
        Bytes id = client().attribute(session, key, CKA_ID);
        EXPECT_EQ(client().find(session, {idIs(id)}).size(), 3u) << "certificate, public and private key";
    }
    // The certificate's key is the public key object's key.
    const Pair rsa = pairLabelled(session, "Velkora Demo RSA Signature");
    ASSERT_NE(rsa.privateKey, CK_INVALID_HANDLE);
    ossl::Pkey key = certificateKey(rsa.certificate);
    ASSERT_TRUE(key);
    BIGNUM* n = nullptr;
    ASSERT_TRUE(EVP_PKEY_get_bn_param(key.get(), "n", &n));
    Bytes modulus(BN_num_bytes(n));
    BN_bn2bin(n, modulus.data());
    BN_free(n);
    EXPECT_EQ(client().attribute(session, rsa.privateKey, CKA_MODULUS), modulus);
    client()->C_Logout(session);
    EXPECT_EQ(client().find(session, {classIs(privateClass)}).size(), 0u);
    client()->C_CloseSession(session);
}

TEST(Objects, attributeQueries_followTheLengthRules_andHidePrivateValues)
{
    const CK_SESSION_HANDLE session = loggedInDemoSession();
    const Pair sm2 = pairLabelled(session, "Velkora Demo SM2 Signature");
    ASSERT_NE(sm2.privateKey, CK_INVALID_HANDLE);
    CK_BYTE small[4];
    CK_KEY_TYPE keyType = 0;
    CK_ATTRIBUTE template_[] = {{CKA_KEY_TYPE, &keyType, sizeof keyType},
                                {CKA_VALUE, nullptr, 0},
                                {CKA_EC_PARAMS, small, sizeof small},
                                {CKA_MODULUS_BITS, nullptr, 0}};
    const CK_RV rv = client()->C_GetAttributeValue(session, sm2.privateKey, template_, 4);
    // Several problems at once: any one of their codes, and every entry answered.
    EXPECT_TRUE(rv == CKR_ATTRIBUTE_SENSITIVE || rv == CKR_BUFFER_TOO_SMALL || rv == CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_EQ(keyType, CKK_EC);
    EXPECT_EQ(template_[1].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(template_[2].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(template_[3].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    CK_RV single = CKR_OK;
    client().attribute(session, sm2.privateKey, CKA_VALUE, &single);
    EXPECT_EQ(single, CKR_ATTRIBUTE_SENSITIVE);
    EXPECT_EQ(client().attribute(session, sm2.privateKey, CKA_EC_PARAMS),
              Bytes(SKFP11_SM2_EC_PARAMS, SKFP11_SM2_EC_PARAMS + SKFP11_SM2_EC_PARAMS_LEN));
    client()->C_CloseSession(session);
}

TEST(Signatures, rsaAndSm2SignaturesVerifyWithOpenssl_againstTheTokensCertificates)
{
    const CK_SESSION_HANDLE session = loggedInDemoSession();
    const Pair rsa = pairLabelled(session, "Velkora Demo RSA Signature");
    const Pair sm2 = pairLabelled(session, "Velkora Demo SM2 Signature");
    ASSERT_NE(rsa.privateKey, CK_INVALID_HANDLE);
    ASSERT_NE(sm2.privateKey, CK_INVALID_HANDLE);
    Bytes signature;

    ASSERT_EQ(client().sign(session, {CKM_SHA256_RSA_PKCS, nullptr, 0}, rsa.privateKey, kMessage, signature), CKR_OK);
    EXPECT_TRUE(verifyWithOpenssl(certificateKey(rsa.certificate).get(), "SHA256", kMessage, signature));
    ASSERT_EQ(client().sign(session, {CKM_SHA1_RSA_PKCS, nullptr, 0}, rsa.privateKey, kMessage, signature), CKR_OK);
    EXPECT_TRUE(verifyWithOpenssl(certificateKey(rsa.certificate).get(), "SHA1", kMessage, signature));

    ASSERT_EQ(client().sign(session, {CKM_SKF_SM3_SM2, nullptr, 0}, sm2.privateKey, kMessage, signature), CKR_OK);
    ASSERT_EQ(signature.size(), 64u);
    EXPECT_TRUE(
        verifyWithOpenssl(certificateKey(sm2.certificate).get(), "SM3", kMessage, signature, "1234567812345678"));
    std::string id = "alice@example.com";
    ASSERT_EQ(client().sign(session, {CKM_SKF_SM3_SM2, &id[0], id.size()}, sm2.privateKey, kMessage, signature),
              CKR_OK);
    EXPECT_TRUE(verifyWithOpenssl(certificateKey(sm2.certificate).get(), "SM3", kMessage, signature, id));
    EXPECT_FALSE(
        verifyWithOpenssl(certificateKey(sm2.certificate).get(), "SM3", kMessage, signature, "1234567812345678"));
    client()->C_CloseSession(session);
}

TEST(Signatures, sizeQueriesKeepTheOperation_andBadInputEndsIt)
{
    const CK_SESSION_HANDLE session = loggedInDemoSession();
    const Pair sm2 = pairLabelled(session, "Velkora Demo SM2 Signature");
    const Pair rsa = pairLabelled(session, "Velkora Demo RSA Signature");
    CK_MECHANISM raw{CKM_SKF_SM2, nullptr, 0};
    Bytes digest(32, 0x5a);
    ASSERT_EQ(client()->C_SignInit(session, &raw, sm2.privateKey), CKR_OK);
    CK_BYTE shortBuffer[10];
    CK_ULONG size = sizeof shortBuffer;
    EXPECT_EQ(client()->C_Sign(session, digest.data(), 32, shortBuffer, &size), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 64u);
    Bytes signature(64);
    EXPECT_EQ(client()->C_Sign(session, digest.data(), 32, signature.data(), &size), CKR_OK);
    EXPECT_EQ(client()->C_Sign(session, digest.data(), 32, signature.data(), &size), CKR_OPERATION_NOT_INITIALIZED);

    // A raw SM2 signature takes exactly a 32-byte digest.
    Bytes wrong(31, 1);
    EXPECT_EQ(client().sign(session, raw, sm2.privateKey, wrong, signature), CKR_DATA_LEN_RANGE);
    EXPECT_EQ(client()->C_Sign(session, digest.data(), 32, signature.data(), &size), CKR_OPERATION_NOT_INITIALIZED);

    // Keys and mechanisms of different kinds do not mix; public keys do not sign.
    CK_MECHANISM rsaMechanism{CKM_SHA256_RSA_PKCS, nullptr, 0};
    EXPECT_EQ(client()->C_SignInit(session, &rsaMechanism, sm2.privateKey), CKR_KEY_TYPE_INCONSISTENT);
    CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY;
    const auto publicKeys = client().find(session, {classIs(publicClass)});
    ASSERT_FALSE(publicKeys.empty());
    EXPECT_NE(client()->C_SignInit(session, &rsaMechanism, publicKeys[0]), CKR_OK);

    // Multi-part gives what one part gives.
    Bytes onePart, twoParts(256);
    ASSERT_EQ(client().sign(session, rsaMechanism, rsa.privateKey, kMessage, onePart), CKR_OK);
    ASSERT_EQ(client()->C_SignInit(session, &rsaMechanism, rsa.privateKey), CKR_OK);
    ASSERT_EQ(client()->C_SignUpdate(session, (CK_BYTE_PTR)kMessage.data(), 3), CKR_OK);
    ASSERT_EQ(client()->C_SignUpdate(session, (CK_BYTE_PTR)kMessage.data() + 3, kMessage.size() - 3), CKR_OK);
    size = twoParts.size();
    ASSERT_EQ(client()->C_SignFinal(session, twoParts.data(), &size), CKR_OK);
    EXPECT_EQ(onePart, twoParts) << "PKCS#1 v1.5 signatures are deterministic";
    client()->C_CloseSession(session);
}

TEST(Signatures, severalThreadsSignAtOnce_andEverySignatureVerifies)
{
    const CK_SESSION_HANDLE first = loggedInDemoSession();
    const Pair rsa = pairLabelled(first, "Velkora Demo RSA Signature");
    const Pair sm2 = pairLabelled(first, "Velkora Demo SM2 Signature");
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            const CK_SESSION_HANDLE session = client().open(demoSlot());
            for (int i = 0; i < 8; ++i) {
                Bytes signature;
                const bool useRsa = (t + i) % 2 == 0;
                const CK_MECHANISM mechanism{useRsa ? CKM_SHA256_RSA_PKCS : CKM_SKF_SM3_SM2, nullptr, 0};
                if (client().sign(session, mechanism, useRsa ? rsa.privateKey : sm2.privateKey, kMessage, signature)
                    != CKR_OK) {
                    continue;
                }
                const Bytes& certificate = useRsa ? rsa.certificate : sm2.certificate;
                if (verifyWithOpenssl(certificateKey(certificate).get(), useRsa ? "SHA256" : "SM3", kMessage, signature,
                                      useRsa ? "" : "1234567812345678")) {
                    ++good;
                }
            }
            client()->C_CloseSession(session);
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(good.load(), 32);
    client()->C_CloseSession(first);
}

TEST(Pins, wrongPinsCountDown_toALock_thatTheSoUnblocks)
{
    ASSERT_EQ(run(skftool("create --serial LOCK0001")), 0);
    ASSERT_EQ(run(skftool("insert LOCK0001")), 0);
    ASSERT_EQ(run(skftool("app-create VK-LOCK0001 APP --default-pins --user-retries 3")), 0);
    const CK_SLOT_ID slot = slotOf("LOCK0001");
    ASSERT_NE(slot, CK_UNAVAILABLE_INFORMATION);
    const CK_SESSION_HANDLE session = client().open(slot, true);
    CK_UTF8CHAR wrong[] = "00000000";
    EXPECT_EQ(client()->C_Login(session, CKU_USER, wrong, 8), CKR_PIN_INCORRECT);
    EXPECT_EQ(client()->C_Login(session, CKU_USER, wrong, 8), CKR_PIN_INCORRECT);
    CK_TOKEN_INFO info;
    ASSERT_EQ(client()->C_GetTokenInfo(slot, &info), CKR_OK);
    EXPECT_TRUE(info.flags & CKF_USER_PIN_COUNT_LOW);
    EXPECT_TRUE(info.flags & CKF_USER_PIN_FINAL_TRY);
    const CK_RV third = client()->C_Login(session, CKU_USER, wrong, 8);
    EXPECT_TRUE(third == CKR_PIN_INCORRECT || third == CKR_PIN_LOCKED) << third;
    EXPECT_EQ(client()->C_Login(session, CKU_USER, (CK_UTF8CHAR_PTR)kPin, 8), CKR_PIN_LOCKED);
    ASSERT_EQ(client()->C_GetTokenInfo(slot, &info), CKR_OK);
    EXPECT_TRUE(info.flags & CKF_USER_PIN_LOCKED);

    CK_UTF8CHAR tooShort[] = "123";
    EXPECT_EQ(client()->C_Login(session, CKU_SO, tooShort, 3), CKR_PIN_LEN_RANGE);
    ASSERT_EQ(client()->C_Login(session, CKU_SO, (CK_UTF8CHAR_PTR)kPin, 8), CKR_OK);
    EXPECT_EQ(client()->C_Login(session, CKU_USER, (CK_UTF8CHAR_PTR)kPin, 8), CKR_USER_ANOTHER_ALREADY_LOGGED_IN);
    CK_UTF8CHAR fresh[] = "11112222";
    ASSERT_EQ(client()->C_InitPIN(session, fresh, 8), CKR_OK);
    ASSERT_EQ(client()->C_Logout(session), CKR_OK);
    EXPECT_EQ(client()->C_Login(session, CKU_USER, fresh, 8), CKR_OK);

    // The logged-in user changes the PIN; the old one stops working.
    CK_UTF8CHAR next[] = "33334444";
    ASSERT_EQ(client()->C_SetPIN(session, fresh, 8, next, 8), CKR_OK);
    client()->C_Logout(session);
    EXPECT_EQ(client()->C_Login(session, CKU_USER, fresh, 8), CKR_PIN_INCORRECT);
    EXPECT_EQ(client()->C_Login(session, CKU_USER, next, 8), CKR_OK);
    // A PIN with a NUL inside is not silently cut short.
    CK_UTF8CHAR withNul[] = {'3', '3', '3', '3', '4', '4', '4', '4', 0, '9'};
    client()->C_Logout(session);
    EXPECT_EQ(client()->C_Login(session, CKU_USER, withNul, 10), CKR_PIN_INVALID);
    client()->C_CloseSession(session);
}

TEST(Writing, aGeneratedPairTakesItsCertificate_andGoesWithItsPrivateKey)
{
    const CK_SLOT_ID slot = demoSlot();
    const CK_SESSION_HANDLE session = client().open(slot, true);
    ASSERT_EQ(client()->C_Login(session, CKU_USER, (CK_UTF8CHAR_PTR)kPin, 8), CKR_OK);
    CK_MECHANISM mechanism{CKM_SKF_SM2_KEY_PAIR_GEN, nullptr, 0};
    std::string label = "P11Made";
    CK_ATTRIBUTE privateTemplate[] = {{CKA_LABEL, &label[0], label.size()}};
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    ASSERT_EQ(client()->C_GenerateKeyPair(session, &mechanism, nullptr, 0, privateTemplate, 1, &publicKey, &privateKey),
              CKR_OK);
    EXPECT_EQ(client().attribute(session, publicKey, CKA_ID), client().attribute(session, privateKey, CKA_ID));
    const Bytes point = client().attribute(session, publicKey, CKA_EC_POINT);
    ASSERT_EQ(point.size(), 67u);

    // A certificate for that key from a throwaway CA, made with the openssl command around the
    // token's public key (an SM2 SubjectPublicKeyInfo is a fixed prefix and the point).
    const std::string dir = std::getenv("SOFTSKF_DIR");
    const Bytes prefix = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01,
                          0x06, 0x08, 0x2a, 0x81, 0x1c, 0xcf, 0x55, 0x01, 0x82, 0x2d, 0x03, 0x42, 0x00};
    Bytes spki = prefix;
    spki.insert(spki.end(), point.begin() + 2, point.end());
    writeFile(dir + "/made.pub.der", spki);
    const std::string openssl = "cd '" + dir + "' && openssl ";
    ASSERT_EQ(run(openssl + "pkey -pubin -inform DER -in made.pub.der -out made.pub.pem 2>/dev/null"), 0);
    ASSERT_EQ(run(openssl
                  + "req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout ca.key "
                    "-out ca.crt -subj /CN=CA -days 2 2>/dev/null"),
              0);
    ASSERT_EQ(run(openssl + "req -new -key ca.key -subj /CN=P11Made -out made.csr"), 0);
    ASSERT_EQ(run(openssl
                  + "x509 -req -in made.csr -CA ca.crt -CAkey ca.key -force_pubkey made.pub.pem -days 2 "
                    "-outform DER -out made.der 2>/dev/null"),
              0);
    const Bytes der = readFile(dir + "/made.der");
    ASSERT_FALSE(der.empty());

    CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE x509 = CKC_X_509;
    CK_BBOOL yes = CK_TRUE;
    Bytes value = der;
    CK_ATTRIBUTE certificateTemplate[] = {{CKA_CLASS, &certificateClass, sizeof certificateClass},
                                          {CKA_CERTIFICATE_TYPE, &x509, sizeof x509},
                                          {CKA_TOKEN, &yes, 1},
                                          {CKA_VALUE, value.data(), value.size()}};
    CK_OBJECT_HANDLE certificate = 0;
    ASSERT_EQ(client()->C_CreateObject(session, certificateTemplate, 4, &certificate), CKR_OK);
    EXPECT_EQ(client().attribute(session, certificate, CKA_VALUE), der);
    EXPECT_EQ(client().attribute(session, certificate, CKA_ID), client().attribute(session, privateKey, CKA_ID));
    EXPECT_EQ(run("'" + std::string(SKFP11_TEST_SKFTOOL) + "' show VK-VK2026000001 | grep -q 'CN=P11Made'"), 0);

    // The same certificate cannot go where no key matches it once the container is gone.
    EXPECT_EQ(client()->C_DestroyObject(session, certificate), CKR_ACTION_PROHIBITED);
    ASSERT_EQ(client()->C_DestroyObject(session, privateKey), CKR_OK);
    EXPECT_EQ(client()->C_CreateObject(session, certificateTemplate, 4, &certificate), CKR_TEMPLATE_INCONSISTENT);
    EXPECT_NE(run("'" + std::string(SKFP11_TEST_SKFTOOL) + "' show VK-VK2026000001 | grep -q 'Container P11Made'"), 0);
    client()->C_Logout(session);
    client()->C_CloseSession(session);
}

TEST(HotPlug, insertionsAndRemovalsReachAWaitingThread_andAPulledTokensSessionsEnd)
{
    ASSERT_EQ(run(skftool("create --serial PLUG0001")), 0);
    ASSERT_EQ(run(skftool("insert PLUG0001")), 0);
    ASSERT_EQ(run(skftool("app-create VK-PLUG0001 APP --default-pins")), 0);
    ASSERT_EQ(run(skftool("remove PLUG0001")), 0);
    CK_SLOT_ID none = 0;
    while (client()->C_WaitForSlotEvent(CKF_DONT_BLOCK, &none, nullptr) == CKR_OK) { }
    auto waiter = std::async(std::launch::async, [] {
        CK_SLOT_ID slot = 0;
        const CK_RV rv = client()->C_WaitForSlotEvent(0, &slot, nullptr);
        return std::make_pair(rv, slot);
    });
    // Whether the waiter is already blocked or not, the insertion reaches it: the module
    // queues what its watcher sees.
    ASSERT_EQ(run(skftool("insert PLUG0001")), 0);
    ASSERT_EQ(waiter.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const auto inserted = waiter.get();
    ASSERT_EQ(inserted.first, CKR_OK);
    CK_SLOT_INFO info;
    ASSERT_EQ(client()->C_GetSlotInfo(inserted.second, &info), CKR_OK);
    EXPECT_TRUE(info.flags & CKF_TOKEN_PRESENT);
    EXPECT_EQ(slotOf("PLUG0001"), inserted.second);
    const CK_SESSION_HANDLE session = client().open(inserted.second);
    ASSERT_NE(session, CK_INVALID_HANDLE);

    // A removal before anyone waits is not lost.
    ASSERT_EQ(run(skftool("remove PLUG0001")), 0);
    CK_SLOT_ID removed = 0;
    ASSERT_EQ(client()->C_WaitForSlotEvent(CKF_DONT_BLOCK, &removed, nullptr), CKR_OK);
    EXPECT_EQ(removed, inserted.second);
    ASSERT_EQ(client()->C_GetSlotInfo(removed, &info), CKR_OK);
    EXPECT_FALSE(info.flags & CKF_TOKEN_PRESENT);
    CK_SESSION_INFO sessionInfo;
    const CK_RV rv = client()->C_GetSessionInfo(session, &sessionInfo);
    EXPECT_TRUE(rv == CKR_SESSION_HANDLE_INVALID || rv == CKR_DEVICE_REMOVED) << rv;
    EXPECT_EQ(slotOf("PLUG0001"), CK_UNAVAILABLE_INFORMATION);

    // Back in: the same slot ID for the same device.
    ASSERT_EQ(run(skftool("insert PLUG0001")), 0);
    EXPECT_EQ(slotOf("PLUG0001"), inserted.second);
    ASSERT_EQ(run(skftool("remove PLUG0001")), 0);
}

TEST(Lifecycle, finalizeEndsABlockedWait_andTheModuleInitializesAgain)
{
    CK_SLOT_ID none = 0;
    while (client()->C_WaitForSlotEvent(CKF_DONT_BLOCK, &none, nullptr) == CKR_OK) { }
    auto waiter = std::async(std::launch::async, [] {
        CK_SLOT_ID slot = 0;
        return client()->C_WaitForSlotEvent(0, &slot, nullptr);
    });
    // Blocked already or not yet, the waiter ends with the module.
    ASSERT_EQ(client()->C_Finalize(nullptr), CKR_OK);
    ASSERT_EQ(waiter.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(waiter.get(), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(client()->C_GetSlotList(CK_TRUE, nullptr, &none), CKR_CRYPTOKI_NOT_INITIALIZED);

    // Caller-supplied mutexes without OS locking cannot be honoured; with it they are not needed.
    CK_C_INITIALIZE_ARGS args{};
    args.CreateMutex = [](void**) -> CK_RV { return CKR_OK; };
    args.DestroyMutex = [](void*) -> CK_RV { return CKR_OK; };
    args.LockMutex = [](void*) -> CK_RV { return CKR_OK; };
    args.UnlockMutex = [](void*) -> CK_RV { return CKR_OK; };
    EXPECT_EQ(client()->C_Initialize(&args), CKR_CANT_LOCK);
    // Without threads of its own the module serves, but a blocking wait has nothing to wait for.
    args.flags = CKF_OS_LOCKING_OK | CKF_LIBRARY_CANT_CREATE_OS_THREADS;
    ASSERT_EQ(client()->C_Initialize(&args), CKR_OK);
    EXPECT_NE(demoSlot(), CK_UNAVAILABLE_INFORMATION);
    while (client()->C_WaitForSlotEvent(CKF_DONT_BLOCK, &none, nullptr) == CKR_OK) { }
    EXPECT_EQ(client()->C_WaitForSlotEvent(0, &none, nullptr), CKR_FUNCTION_FAILED);
    ASSERT_EQ(client()->C_Finalize(nullptr), CKR_OK);
    args.flags = CKF_OS_LOCKING_OK;
    ASSERT_EQ(client()->C_Initialize(&args), CKR_OK);
    EXPECT_EQ(client()->C_Initialize(nullptr), CKR_CRYPTOKI_ALREADY_INITIALIZED);
    EXPECT_NE(demoSlot(), CK_UNAVAILABLE_INFORMATION);
}

TEST(Deletion, aKeyWhoseContainerHoldsAnotherPair_isRefused_andTheTokenKeepsEverything)
{
    const CK_SESSION_HANDLE session = client().open(demoSlot(), true);
    ASSERT_EQ(client()->C_Login(session, CKU_USER, (CK_UTF8CHAR_PTR)kPin, 8), CKR_OK);
    const Pair sm2 = pairLabelled(session, "Velkora Demo SM2 Signature");
    ASSERT_NE(sm2.privateKey, CK_INVALID_HANDLE);
    const size_t before = objectCount(session);
    const std::string shownBefore = tokenShown("VK-VK2026000001");
    EXPECT_EQ(client()->C_DestroyObject(session, sm2.privateKey), CKR_ACTION_PROHIBITED);
    EXPECT_EQ(objectCount(session), before);
    EXPECT_EQ(tokenShown("VK-VK2026000001"), shownBefore);
    client()->C_Logout(session);
    client()->C_CloseSession(session);
}

TEST(Writing, aTemplateAskingForSessionKeys_isRefused_andMakesNoContainer)
{
    const CK_SLOT_ID slot = freshToken("SESS0001");
    const CK_SESSION_HANDLE session = client().open(slot, true);
    ASSERT_EQ(client()->C_Login(session, CKU_USER, (CK_UTF8CHAR_PTR)kPin, 8), CKR_OK);
    CK_MECHANISM mechanism{CKM_SKF_SM2_KEY_PAIR_GEN, nullptr, 0};
    CK_BBOOL no = CK_FALSE, yes = CK_TRUE;
    CK_ATTRIBUTE sessionOnly[] = {{CKA_TOKEN, &no, 1}};
    CK_ATTRIBUTE permanent[] = {{CKA_TOKEN, &yes, 1}};
    struct Case
    {
        CK_ATTRIBUTE* publicTemplate;
        CK_ATTRIBUTE* privateTemplate;
    };
    for (const Case& c : {Case{sessionOnly, permanent}, Case{permanent, sessionOnly}}) {
        CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
        EXPECT_EQ(client()->C_GenerateKeyPair(session, &mechanism, c.publicTemplate, 1, c.privateTemplate, 1,
                                              &publicKey, &privateKey),
                  CKR_TEMPLATE_INCONSISTENT);
    }
    EXPECT_EQ(tokenShown("VK-SESS0001").find("Container"), std::string::npos);
    client()->C_CloseSession(session);
    run(skftool("remove SESS0001"));
}

TEST(Presence, aTokenPulledAndPluggedBackWithNoCallBetween_endsItsLogin_andComesBackFresh)
{
    const CK_SLOT_ID slot = freshToken("BACK0001");
    ASSERT_NE(slot, CK_UNAVAILABLE_INFORMATION);
    const CK_SESSION_HANDLE old = client().open(slot);
    ASSERT_EQ(client()->C_Login(old, CKU_USER, (CK_UTF8CHAR_PTR)kPin, 8), CKR_OK);
    CK_SLOT_ID event = 0;
    while (client()->C_WaitForSlotEvent(CKF_DONT_BLOCK, &event, nullptr) == CKR_OK) { }

    ASSERT_EQ(run(skftool("remove BACK0001") + " && " + skftool("insert BACK0001")), 0);
    ASSERT_EQ(client()->C_WaitForSlotEvent(CKF_DONT_BLOCK, &event, nullptr), CKR_OK);
    EXPECT_EQ(event, slot);
    CK_SESSION_INFO info;
    EXPECT_EQ(client()->C_GetSessionInfo(old, &info), CKR_SESSION_HANDLE_INVALID);
    const CK_SESSION_HANDLE fresh = client().open(slot);
    ASSERT_EQ(client()->C_GetSessionInfo(fresh, &info), CKR_OK);
    EXPECT_EQ(info.state, CKS_RO_PUBLIC_SESSION) << "the login ended with the token";
    EXPECT_EQ(client()->C_Login(fresh, CKU_USER, (CK_UTF8CHAR_PTR)kPin, 8), CKR_OK);
    CK_BYTE random[8];
    EXPECT_EQ(client()->C_GenerateRandom(fresh, random, sizeof random), CKR_OK);
    client()->C_CloseSession(fresh);
    run(skftool("remove BACK0001"));
}

TEST(Presence, aWaitingThreadHearsBothThePullAndThePlugIn_andTheSlotKeepsItsId)
{
    const CK_SLOT_ID slot = freshToken("BACK0002");
    CK_SLOT_ID event = 0;
    while (client()->C_WaitForSlotEvent(CKF_DONT_BLOCK, &event, nullptr) == CKR_OK) { }
    for (const char* step : {"remove BACK0002", "insert BACK0002"}) {
        auto waiter = std::async(std::launch::async, [] {
            CK_SLOT_ID id = 0;
            const CK_RV rv = client()->C_WaitForSlotEvent(0, &id, nullptr);
            return rv == CKR_OK ? id : CK_UNAVAILABLE_INFORMATION;
        });
        ASSERT_EQ(run(skftool(step)), 0);
        ASSERT_EQ(waiter.wait_for(std::chrono::seconds(10)), std::future_status::ready) << step;
        EXPECT_EQ(waiter.get(), slot) << step;
    }
    EXPECT_EQ(slotOf("BACK0002"), slot);
    run(skftool("remove BACK0002"));
}

TEST(Slots, aDeviceWithoutApplications_isATokenlessSlot_untilOneIsCreated_withoutAReplug)
{
    ASSERT_EQ(run(skftool("create --serial NOAPP001")), 0);
    ASSERT_EQ(run(skftool("insert NOAPP001")), 0);
    const auto withTokens = slotList(CK_TRUE);
    std::vector<CK_SLOT_ID> tokenless;
    for (CK_SLOT_ID id : slotList(CK_FALSE)) {
        CK_SLOT_INFO info;
        if (!listed(withTokens, id) && client()->C_GetSlotInfo(id, &info) == CKR_OK
            && trimmed(info.slotDescription, 64) == "VK-NOAPP001 (no application)") {
            EXPECT_FALSE(info.flags & CKF_TOKEN_PRESENT);
            tokenless.push_back(id);
        }
    }
    EXPECT_EQ(tokenless.size(), 1u);
    ASSERT_EQ(run(skftool("app-create VK-NOAPP001 APP --default-pins")), 0);
    EXPECT_NE(slotOf("NOAPP001"), CK_UNAVAILABLE_INFORMATION);
    for (CK_SLOT_ID id : tokenless) {
        EXPECT_FALSE(listed(slotList(CK_FALSE), id)) << "the device has an application now";
    }
    run(skftool("remove NOAPP001"));
}

// A plugged-in token whose file cannot be opened keeps a slot, so no other slot moves,
// and its token answers CKR_TOKEN_NOT_RECOGNIZED until the file is whole again.
TEST(Slots, aTokenThatCannotBeRead_keepsItsSlot_andAnswersNotRecognized_untilItIsWholeAgain)
{
    ASSERT_EQ(run(skftool("create --serial BROKEN01")), 0);
    ASSERT_EQ(run(skftool("insert BROKEN01")), 0);
    ASSERT_EQ(run(skftool("app-create VK-BROKEN01 APP --default-pins")), 0);
    const CK_SLOT_ID brokenSlot = slotOf("BROKEN01");
    ASSERT_NE(brokenSlot, CK_UNAVAILABLE_INFORMATION);
    const auto before = slotList(CK_TRUE);
    const std::string path = std::string(std::getenv("SOFTSKF_DIR")) + "/tokens/BROKEN01.db";
    const Bytes whole = readFile(path);
    for (const Bytes& content : {Bytes{}, Bytes(whole.begin(), whole.begin() + 100), Bytes(4096, 'x')}) {
        SCOPED_TRACE(content.size());
        ASSERT_EQ(run(skftool("remove BROKEN01")), 0);
        slotList(CK_FALSE); // the module sees the token go
        writeFile(path, content);
        ASSERT_EQ(run(skftool("insert BROKEN01")), 0);
        // Its serial and application cannot be read, so its slot has another ID; every
        // other slot keeps its own, and the list keeps its length.
        const auto during = slotList(CK_TRUE);
        EXPECT_EQ(during.size(), before.size());
        CK_TOKEN_INFO token;
        CK_SLOT_INFO slot;
        std::vector<CK_SLOT_ID> unreadable;
        for (CK_SLOT_ID id : during) {
            const CK_RV rv = client()->C_GetTokenInfo(id, &token);
            EXPECT_EQ(rv == CKR_OK, id != brokenSlot && listed(before, id)) << id << " " << rv;
            if (rv == CKR_TOKEN_NOT_RECOGNIZED) {
                unreadable.push_back(id);
            }
        }
        ASSERT_EQ(unreadable.size(), 1u);
        ASSERT_EQ(client()->C_GetSlotInfo(unreadable[0], &slot), CKR_OK);
        EXPECT_TRUE(slot.flags & CKF_TOKEN_PRESENT);
        EXPECT_EQ(trimmed(slot.slotDescription, 64), "VK-BROKEN01 (cannot be read)");
        CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
        EXPECT_EQ(client()->C_OpenSession(unreadable[0], CKF_SERIAL_SESSION, nullptr, nullptr, &session),
                  CKR_TOKEN_NOT_RECOGNIZED);
    }
    writeFile(path + ".restored", whole); // restored as a new file, as a backup comes back
    ASSERT_EQ(rename((path + ".restored").c_str(), path.c_str()), 0);
    EXPECT_EQ(slotOf("BROKEN01"), brokenSlot) << "the token is read again under its slot";
    run(skftool("remove BROKEN01"));
    slotList(CK_FALSE);
}

TEST(Objects, sizesAreGivenForPublicObjectsOnly_andChangesToAMissingObjectNameIt)
{
    const CK_SESSION_HANDLE session = loggedInDemoSession();
    const Pair rsa = pairLabelled(session, "Velkora Demo RSA Signature");
    CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
    const auto certificates = client().find(session, {classIs(certificateClass)});
    ASSERT_FALSE(certificates.empty());
    CK_ULONG size = 0;
    EXPECT_EQ(client()->C_GetObjectSize(session, certificates[0], &size), CKR_OK);
    EXPECT_GT(size, 400u);
    EXPECT_EQ(client()->C_GetObjectSize(session, rsa.privateKey, &size), CKR_INFORMATION_SENSITIVE);
    std::string label = "x";
    CK_ATTRIBUTE change[] = {{CKA_LABEL, &label[0], label.size()}};
    EXPECT_EQ(client()->C_SetAttributeValue(session, 0x7fff0000, change, 1), CKR_OBJECT_HANDLE_INVALID);
    // No mechanism of the module encrypts, so no key claims to.
    CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY;
    CK_BBOOL yes = CK_TRUE;
    EXPECT_TRUE(client().find(session, {classIs(publicClass), CK_ATTRIBUTE{CKA_ENCRYPT, &yes, 1}}).empty());
    client()->C_CloseSession(session);
}

TEST(Fork, aForkedChildInitializesItsOwnModule_seesTheTokens_andFinalizesAtOnce)
{
    // The parent's watcher is waiting in the driver when the child is made: the child's own
    // watcher must not wait behind it, or the child's finalize gives up on it only after
    // seconds of cancels.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const bool ok = client()->C_Initialize(nullptr) == CKR_OK && demoSlot() != CK_UNAVAILABLE_INFORMATION;
        const auto start = std::chrono::steady_clock::now();
        const bool finalized = client()->C_Finalize(nullptr) == CKR_OK;
        const bool promptly = std::chrono::steady_clock::now() - start < std::chrono::seconds(2);
        _exit(!ok ? 1 : !finalized ? 2 : !promptly ? 3 : 0);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(demoSlot(), CK_UNAVAILABLE_INFORMATION) << "the parent's module still serves";
}

TEST(Names, idsAndLabelsAClientGave_areFoundByANewModule_andChangeOnlyAfterLogin)
{
    const CK_SLOT_ID slot = freshToken("NAME0001");
    CK_SESSION_HANDLE session = client().open(slot, true);
    ASSERT_EQ(client()->C_Login(session, CKU_USER, (CK_UTF8CHAR_PTR)kPin, 8), CKR_OK);
    CK_MECHANISM mechanism{CKM_SKF_SM2_KEY_PAIR_GEN, nullptr, 0};
    Bytes id = {0x01, 0x02};
    std::string label = "chosen";
    CK_ATTRIBUTE publicTemplate[] = {{CKA_ID, id.data(), id.size()}};
    CK_ATTRIBUTE privateTemplate[] = {{CKA_ID, id.data(), id.size()}, {CKA_LABEL, &label[0], label.size()}};
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    ASSERT_EQ(client()->C_GenerateKeyPair(session, &mechanism, publicTemplate, 1, privateTemplate, 2, &publicKey,
                                          &privateKey),
              CKR_OK);
    ASSERT_EQ(client()->C_Finalize(nullptr), CKR_OK);
    ASSERT_EQ(client()->C_Initialize(nullptr), CKR_OK);

    session = client().open(slot, true);
    const auto found = client().find(session, {idIs(id)});
    ASSERT_EQ(found.size(), 1u) << "the public key, before login";
    EXPECT_EQ(client().attribute(session, found[0], CKA_LABEL), Bytes(label.begin(), label.end()));
    std::string renamed = "renamed";
    CK_ATTRIBUTE change[] = {{CKA_LABEL, &renamed[0], renamed.size()}};
    EXPECT_EQ(client()->C_SetAttributeValue(session, found[0], change, 1), CKR_USER_NOT_LOGGED_IN);
    ASSERT_EQ(client()->C_Login(session, CKU_USER, (CK_UTF8CHAR_PTR)kPin, 8), CKR_OK);
    ASSERT_EQ(client()->C_SetAttributeValue(session, found[0], change, 1), CKR_OK);
    CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    const auto keys = client().find(session, {classIs(privateClass), idIs(id)});
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(client().attribute(session, keys[0], CKA_LABEL), Bytes(renamed.begin(), renamed.end()));
    CK_KEY_TYPE keyType = CKK_EC;
    CK_ATTRIBUTE other[] = {{CKA_KEY_TYPE, &keyType, sizeof keyType}};
    EXPECT_EQ(client()->C_SetAttributeValue(session, keys[0], other, 1), CKR_ATTRIBUTE_READ_ONLY);
    client()->C_CloseSession(session);
    run(skftool("remove NAME0001"));
}

// Every function answers in one order: not initialised, then a bad handle, then bad arguments.
TEST(Entry, everyFunctionChecksInitialisationThenHandlesThenArguments)
{
    using Call = std::function<CK_RV(CK_FUNCTION_LIST*, CK_ULONG)>;
    struct Row
    {
        const char* name;
        char handle; // 's' session, 'l' slot, '-' none
        CK_RV withGoodHandle; // null arguments on a real session or slot; 0: not checked
        Call call;
    };
    const CK_ULONG badObject = 0x7ffffff0;
    const std::vector<Row> rows = {
        {"GetInfo", '-', CKR_ARGUMENTS_BAD, [](auto f, auto) { return f->C_GetInfo(nullptr); }},
        {"GetSlotList", '-', CKR_ARGUMENTS_BAD, [](auto f, auto) { return f->C_GetSlotList(0, nullptr, nullptr); }},
        {"WaitForSlotEvent", '-', CKR_ARGUMENTS_BAD,
         [](auto f, auto) { return f->C_WaitForSlotEvent(CKF_DONT_BLOCK, nullptr, nullptr); }},
        {"GetSlotInfo", 'l', CKR_ARGUMENTS_BAD, [](auto f, auto h) { return f->C_GetSlotInfo(h, nullptr); }},
        {"GetTokenInfo", 'l', CKR_ARGUMENTS_BAD, [](auto f, auto h) { return f->C_GetTokenInfo(h, nullptr); }},
        {"GetMechanismList", 'l', CKR_ARGUMENTS_BAD,
         [](auto f, auto h) { return f->C_GetMechanismList(h, nullptr, nullptr); }},
        {"GetMechanismInfo", 'l', CKR_ARGUMENTS_BAD,
         [](auto f, auto h) { return f->C_GetMechanismInfo(h, CKM_RSA_PKCS, nullptr); }},
        {"InitToken", 'l', 0, [](auto f, auto h) { return f->C_InitToken(h, nullptr, 0, nullptr); }},
        {"OpenSession", 'l', CKR_ARGUMENTS_BAD,
         [](auto f, auto h) { return f->C_OpenSession(h, CKF_SERIAL_SESSION, nullptr, nullptr, nullptr); }},
        {"CloseAllSessions", 'l', 0, [](auto f, auto h) { return f->C_CloseAllSessions(h); }},
        {"InitPIN", 's', CKR_ARGUMENTS_BAD, [](auto f, auto h) { return f->C_InitPIN(h, nullptr, 0); }},
        {"SetPIN", 's', CKR_ARGUMENTS_BAD, [](auto f, auto h) { return f->C_SetPIN(h, nullptr, 0, nullptr, 0); }},
        {"GetSessionInfo", 's', CKR_ARGUMENTS_BAD, [](auto f, auto h) { return f->C_GetSessionInfo(h, nullptr); }},
        {"GetOperationState", 's', 0, [](auto f, auto h) { return f->C_GetOperationState(h, nullptr, nullptr); }},
        {"SetOperationState", 's', 0, [](auto f, auto h) { return f->C_SetOperationState(h, nullptr, 0, 0, 0); }},
        {"Login", 's', CKR_ARGUMENTS_BAD, [](auto f, auto h) { return f->C_Login(h, CKU_USER, nullptr, 0); }},
        {"CreateObject", 's', CKR_ARGUMENTS_BAD,
         [](auto f, auto h) { return f->C_CreateObject(h, nullptr, 1, nullptr); }},
        {"CopyObject", 's', 0, [](auto f, auto h) { return f->C_CopyObject(h, 0, nullptr, 0, nullptr); }},
        {"DestroyObject", 's', CKR_OBJECT_HANDLE_INVALID,
         [=](auto f, auto h) { return f->C_DestroyObject(h, badObject); }},
        {"GetObjectSize", 's', CKR_OBJECT_HANDLE_INVALID,
         [=](auto f, auto h) { return f->C_GetObjectSize(h, badObject, nullptr); }},
        {"GetAttributeValue", 's', CKR_OBJECT_HANDLE_INVALID,
         [=](auto f, auto h) { return f->C_GetAttributeValue(h, badObject, nullptr, 1); }},
        {"SetAttributeValue", 's', CKR_OBJECT_HANDLE_INVALID,
         [=](auto f, auto h) { return f->C_SetAttributeValue(h, badObject, nullptr, 1); }},
        {"FindObjectsInit", 's', CKR_ARGUMENTS_BAD, [](auto f, auto h) { return f->C_FindObjectsInit(h, nullptr, 1); }},
        {"FindObjects", 's', CKR_ARGUMENTS_BAD,
         [](auto f, auto h) { return f->C_FindObjects(h, nullptr, 1, nullptr); }},
        {"FindObjectsFinal", 's', 0, [](auto f, auto h) { return f->C_FindObjectsFinal(h); }},
        {"EncryptInit", 's', 0, [](auto f, auto h) { return f->C_EncryptInit(h, nullptr, 0); }},
        {"Encrypt", 's', 0, [](auto f, auto h) { return f->C_Encrypt(h, nullptr, 0, nullptr, nullptr); }},
        {"EncryptUpdate", 's', 0, [](auto f, auto h) { return f->C_EncryptUpdate(h, nullptr, 0, nullptr, nullptr); }},
        {"EncryptFinal", 's', 0, [](auto f, auto h) { return f->C_EncryptFinal(h, nullptr, nullptr); }},
        {"DecryptInit", 's', 0, [](auto f, auto h) { return f->C_DecryptInit(h, nullptr, 0); }},
        {"Decrypt", 's', 0, [](auto f, auto h) { return f->C_Decrypt(h, nullptr, 0, nullptr, nullptr); }},
        {"DecryptUpdate", 's', 0, [](auto f, auto h) { return f->C_DecryptUpdate(h, nullptr, 0, nullptr, nullptr); }},
        {"DecryptFinal", 's', 0, [](auto f, auto h) { return f->C_DecryptFinal(h, nullptr, nullptr); }},
        {"DigestInit", 's', CKR_ARGUMENTS_BAD, [](auto f, auto h) { return f->C_DigestInit(h, nullptr); }},
        {"Digest", 's', CKR_ARGUMENTS_BAD, [](auto f, auto h) { return f->C_Digest(h, nullptr, 1, nullptr, nullptr); }},
        {"DigestUpdate", 's', CKR_ARGUMENTS_BAD, [](auto f, auto h) { return f->C_DigestUpdate(h, nullptr, 1); }},
        {"DigestKey", 's', 0, [](auto f, auto h) { return f->C_DigestKey(h, 0); }},
        {"DigestFinal", 's', CKR_ARGUMENTS_BAD, [](auto f, auto h) { return f->C_DigestFinal(h, nullptr, nullptr); }},
        {"SignInit", 's', CKR_KEY_HANDLE_INVALID, [=](auto f, auto h) { return f->C_SignInit(h, nullptr, badObject); }},
        {"Sign", 's', CKR_ARGUMENTS_BAD, [](auto f, auto h) { return f->C_Sign(h, nullptr, 1, nullptr, nullptr); }},
        {"SignUpdate", 's', CKR_ARGUMENTS_BAD, [](auto f, auto h) { return f->C_SignUpdate(h, nullptr, 1); }},
        {"SignFinal", 's', CKR_ARGUMENTS_BAD, [](auto f, auto h) { return f->C_SignFinal(h, nullptr, nullptr); }},
        {"SignRecoverInit", 's', 0, [](auto f, auto h) { return f->C_SignRecoverInit(h, nullptr, 0); }},
        {"SignRecover", 's', 0, [](auto f, auto h) { return f->C_SignRecover(h, nullptr, 0, nullptr, nullptr); }},
        {"VerifyInit", 's', CKR_KEY_HANDLE_INVALID,
         [=](auto f, auto h) { return f->C_VerifyInit(h, nullptr, badObject); }},
        {"Verify", 's', CKR_ARGUMENTS_BAD, [](auto f, auto h) { return f->C_Verify(h, nullptr, 1, nullptr, 1); }},
        {"VerifyUpdate", 's', CKR_ARGUMENTS_BAD, [](auto f, auto h) { return f->C_VerifyUpdate(h, nullptr, 1); }},
        {"VerifyFinal", 's', CKR_ARGUMENTS_BAD, [](auto f, auto h) { return f->C_VerifyFinal(h, nullptr, 1); }},
        {"VerifyRecoverInit", 's', 0, [](auto f, auto h) { return f->C_VerifyRecoverInit(h, nullptr, 0); }},
        {"VerifyRecover", 's', 0, [](auto f, auto h) { return f->C_VerifyRecover(h, nullptr, 0, nullptr, nullptr); }},
        {"DigestEncryptUpdate", 's', 0,
         [](auto f, auto h) { return f->C_DigestEncryptUpdate(h, nullptr, 0, nullptr, nullptr); }},
        {"DecryptDigestUpdate", 's', 0,
         [](auto f, auto h) { return f->C_DecryptDigestUpdate(h, nullptr, 0, nullptr, nullptr); }},
        {"SignEncryptUpdate", 's', 0,
         [](auto f, auto h) { return f->C_SignEncryptUpdate(h, nullptr, 0, nullptr, nullptr); }},
        {"DecryptVerifyUpdate", 's', 0,
         [](auto f, auto h) { return f->C_DecryptVerifyUpdate(h, nullptr, 0, nullptr, nullptr); }},
        {"GenerateKey", 's', 0, [](auto f, auto h) { return f->C_GenerateKey(h, nullptr, nullptr, 0, nullptr); }},
        {"GenerateKeyPair", 's', CKR_ARGUMENTS_BAD,
         [](auto f, auto h) { return f->C_GenerateKeyPair(h, nullptr, nullptr, 0, nullptr, 0, nullptr, nullptr); }},
        {"WrapKey", 's', 0, [](auto f, auto h) { return f->C_WrapKey(h, nullptr, 0, 0, nullptr, nullptr); }},
        {"UnwrapKey", 's', 0,
         [](auto f, auto h) { return f->C_UnwrapKey(h, nullptr, 0, nullptr, 0, nullptr, 0, nullptr); }},
        {"DeriveKey", 's', 0, [](auto f, auto h) { return f->C_DeriveKey(h, nullptr, 0, nullptr, 0, nullptr); }},
        {"SeedRandom", 's', 0, [](auto f, auto h) { return f->C_SeedRandom(h, nullptr, 0); }},
        {"GenerateRandom", 's', CKR_ARGUMENTS_BAD, [](auto f, auto h) { return f->C_GenerateRandom(h, nullptr, 1); }},
        {"GetFunctionStatus", 's', 0, [](auto f, auto h) { return f->C_GetFunctionStatus(h); }},
        {"CancelFunction", 's', 0, [](auto f, auto h) { return f->C_CancelFunction(h); }},
        {"Logout", 's', 0, [](auto f, auto h) { return f->C_Logout(h); }},
        {"CloseSession", 's', 0, [](auto f, auto h) { return f->C_CloseSession(h); }},
    };
    CK_FUNCTION_LIST* f = &*client().operator->();
    ASSERT_EQ(f->C_Finalize(nullptr), CKR_OK);
    for (const Row& row : rows) {
        EXPECT_EQ(row.call(f, 1), CKR_CRYPTOKI_NOT_INITIALIZED) << row.name;
    }
    ASSERT_EQ(f->C_Initialize(nullptr), CKR_OK);
    const CK_ULONG bad = 0x7ffffff1;
    for (const Row& row : rows) {
        if (row.handle != '-') {
            EXPECT_EQ(row.call(f, bad), row.handle == 's' ? CKR_SESSION_HANDLE_INVALID : CKR_SLOT_ID_INVALID)
                << row.name;
        }
    }
    const CK_SLOT_ID slot = demoSlot();
    const CK_SESSION_HANDLE session = client().open(slot);
    for (const Row& row : rows) {
        if (row.withGoodHandle) {
            EXPECT_EQ(row.call(f, row.handle == 'l' ? slot : session), row.withGoodHandle) << row.name;
        }
    }
    client()->C_CloseSession(session);
}

TEST(Presence, withoutThreadsAsNssAsks_aTokenPulledAndPluggedBack_isFreshAtTheNextSlotOrSessionQuestion)
{
    const CK_SLOT_ID slot = freshToken("BACK0003");
    ASSERT_EQ(client()->C_Finalize(nullptr), CKR_OK);
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_LIBRARY_CANT_CREATE_OS_THREADS | CKF_OS_LOCKING_OK;
    ASSERT_EQ(client()->C_Initialize(&args), CKR_OK);
    const CK_SESSION_HANDLE old = client().open(slot);
    ASSERT_EQ(client()->C_Login(old, CKU_USER, (CK_UTF8CHAR_PTR)kPin, 8), CKR_OK);

    // NSS asks the slot, then its session, whether the token is still the one it knew.
    ASSERT_EQ(run(skftool("remove BACK0003") + " && " + skftool("insert BACK0003")), 0);
    CK_SLOT_INFO slotInfo;
    ASSERT_EQ(client()->C_GetSlotInfo(slot, &slotInfo), CKR_OK);
    EXPECT_TRUE(slotInfo.flags & CKF_TOKEN_PRESENT);
    CK_SESSION_INFO info;
    EXPECT_EQ(client()->C_GetSessionInfo(old, &info), CKR_SESSION_HANDLE_INVALID);

    ASSERT_EQ(run(skftool("remove BACK0003")), 0);
    ASSERT_EQ(client()->C_GetSlotInfo(slot, &slotInfo), CKR_OK);
    EXPECT_FALSE(slotInfo.flags & CKF_TOKEN_PRESENT) << "a pulled token is seen at the next question";
    ASSERT_EQ(client()->C_Finalize(nullptr), CKR_OK);
    ASSERT_EQ(client()->C_Initialize(nullptr), CKR_OK);
}
