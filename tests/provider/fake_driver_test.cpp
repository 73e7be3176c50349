// The provider's faults against a scripted fake driver: a wrong or locked PIN, a pulled
// token, a driver failing or giving a blob that makes no key. Each must give the reason and
// message openssl prints, and a wrong PIN must be offered to the driver exactly once.
#include "fakeskf_control.h"

#include "skfcodec/Codec.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <openssl/store.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr char kSerial[] = "FK0001";

// Every error in the queue as "reason: data", emptying it.
std::string errors()
{
    std::string text;
    const char* data = nullptr;
    int flags = 0;
    for (unsigned long code; (code = ERR_get_error_all(nullptr, nullptr, nullptr, &data, &flags)) != 0;) {
        const char* reason = ERR_reason_error_string(code);
        text += std::string(reason ? reason : "?") + ": " + ((flags & ERR_TXT_STRING) && data ? data : "") + "\n";
    }
    return text;
}

class ProviderFaults : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setenv("SKFP11_DRIVER", FAKE_DRIVER, 1);
        FakeSkf_Reset();
        FakeSkf_SetDeviceList("FAKE\0", 6, -1);
        FakeSkf_SetApplicationList("APP\0", 5, -1);
        FakeSkf_SetContainerList("C1\0", 4, -1);
        DEVINFO info{};
        std::strcpy(reinterpret_cast<char*>(info.SerialNumber), kSerial);
        std::strcpy(reinterpret_cast<char*>(info.Label), "Fake");
        FakeSkf_SetDevInfo(&info);
        FakeSkf_SetContainerType("C1", CONTAINER_TYPE_RSA, SAR_OK);
        ossl::Pkey pair(EVP_RSA_gen(1024));
        ASSERT_TRUE(pair);
        const auto blob = skfcodec::blobFromPublicKey(pair.get());
        FakeSkf_SetPublicKey("C1", TRUE, blob.data(), static_cast<unsigned>(blob.size()));

        m_context = OSSL_LIB_CTX_new();
        ASSERT_EQ(OSSL_PROVIDER_set_default_search_path(m_context, PROVIDER_DIR), 1);
        m_default = OSSL_PROVIDER_load(m_context, "default");
        m_skf = OSSL_PROVIDER_load(m_context, "skf");
        ASSERT_TRUE(m_default && m_skf) << errors();
        ERR_clear_error();
    }

    void TearDown() override
    {
        OSSL_PROVIDER_unload(m_skf);
        OSSL_PROVIDER_unload(m_default);
        OSSL_LIB_CTX_free(m_context);
        FakeSkf_Reset();
    }

    // The private key a URI names, or nullptr with the errors in loadErrors.
    ossl::Pkey load(const std::string& uri)
    {
        OSSL_STORE_CTX* store
            = OSSL_STORE_open_ex(uri.c_str(), m_context, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
        ossl::Pkey key;
        if (store) {
            OSSL_STORE_expect(store, OSSL_STORE_INFO_PKEY);
            while (!key && !OSSL_STORE_eof(store)) {
                OSSL_STORE_INFO* info = OSSL_STORE_load(store);
                if (info && OSSL_STORE_INFO_get_type(info) == OSSL_STORE_INFO_PKEY) {
                    key.reset(OSSL_STORE_INFO_get1_PKEY(info));
                }
                OSSL_STORE_INFO_free(info);
            }
            OSSL_STORE_close(store);
        }
        loadErrors = errors();
        return key;
    }

    // Signs with SHA-256; true when a signature came back, else the errors in signErrors.
    bool sign(EVP_PKEY* key)
    {
        ossl::MdCtx context(EVP_MD_CTX_new());
        unsigned char signature[512];
        size_t size = sizeof signature;
        const unsigned char data[] = "data";
        const bool ok = EVP_DigestSignInit_ex(context.get(), nullptr, "SHA256", m_context, nullptr, key, nullptr) == 1
            && EVP_DigestSign(context.get(), signature, &size, data, sizeof data) == 1;
        signErrors = errors();
        return ok;
    }

    std::string keyUri(const char* pin = "12345678") const
    {
        return std::string("skf:serial=") + kSerial + ";container=C1;type=private?pin-value=" + pin;
    }

    std::string loadErrors;
    std::string signErrors;

private:
    OSSL_LIB_CTX* m_context = nullptr;
    OSSL_PROVIDER* m_default = nullptr;
    OSSL_PROVIDER* m_skf = nullptr;
};

TEST_F(ProviderFaults, aWrongPin_namesTheTriesLeft_andIsOfferedOnlyOnce)
{
    FakeSkf_SetPinAnswer(SAR_PIN_INCORRECT, 4);
    ossl::Pkey key = load(keyUri("99999999"));
    ASSERT_TRUE(key) << loadErrors;
    EXPECT_EQ(FakeSkf_CallCount("SKF_VerifyPIN"), 0u) << "loading a key needs no PIN";

    EXPECT_FALSE(sign(key.get()));
    EXPECT_NE(signErrors.find("wrong PIN: wrong PIN for the application APP of token FK0001, 4 tries left"),
              std::string::npos)
        << signErrors;
    EXPECT_STREQ(FakeSkf_LastArgument("SKF_VerifyPIN"), "99999999");
    // A second signature with the same key does not spend another try.
    EXPECT_FALSE(sign(key.get()));
    EXPECT_NE(signErrors.find("does not try it again"), std::string::npos) << signErrors;
    EXPECT_EQ(FakeSkf_CallCount("SKF_VerifyPIN"), 1u);
    EXPECT_EQ(FakeSkf_CallCount("SKF_RSASignData"), 0u);
}

TEST_F(ProviderFaults, failuresWhileSigning_sayWhatFailed)
{
    const struct
    {
        const char* function;
        unsigned okCalls; // calls that work first: loading the key opens the container once
        ULONG result;
        const char* says;
    } rows[] = {
        {"SKF_VerifyPIN", 0, SAR_PIN_LOCKED, "PIN locked: the PIN of the application APP of token FK0001 is locked"},
        {"SKF_RSASignData", 0, SAR_DEVICE_REMOVED, "token not present: the token FK0001 was removed"},
        {"SKF_RSASignData", 0, SAR_FAIL, "SKF driver failure: token FK0001: SKF_RSASignData failed (0xa000001)"},
        {"SKF_OpenContainer", 1, SAR_FAIL, "SKF_OpenContainer failed (0xa000001): container C1"},
    };
    for (const auto& row : rows) {
        FakeSkf_FailAfter(row.function, row.okCalls, row.result);
        ossl::Pkey key = load(keyUri());
        ASSERT_TRUE(key) << loadErrors;
        EXPECT_FALSE(sign(key.get())) << row.function;
        EXPECT_NE(signErrors.find(row.says), std::string::npos) << row.function << ": " << signErrors;
        FakeSkf_SetResult(row.function, SAR_OK);
    }
    // Stale handles (the token pulled and plugged back) are opened again once, not more.
    FakeSkf_SetResult("SKF_RSASignData", SAR_DEVICE_REMOVED);
    ossl::Pkey key = load(keyUri());
    const unsigned signs = FakeSkf_CallCount("SKF_RSASignData");
    const unsigned verifications = FakeSkf_CallCount("SKF_VerifyPIN");
    EXPECT_FALSE(sign(key.get()));
    EXPECT_EQ(FakeSkf_CallCount("SKF_RSASignData") - signs, 2u);
    EXPECT_EQ(FakeSkf_CallCount("SKF_VerifyPIN") - verifications, 2u);
}

TEST_F(ProviderFaults, aTokenPulledAfterLoading_givesACleanError_andWorksWhenBack)
{
    ossl::Pkey key = load(keyUri());
    ASSERT_TRUE(key) << loadErrors;
    FakeSkf_SetDeviceList("", 0, -1);
    EXPECT_FALSE(sign(key.get()));
    EXPECT_NE(signErrors.find("token not present: the token FK0001 is not plugged in"), std::string::npos)
        << signErrors;
    EXPECT_EQ(FakeSkf_CallCount("SKF_VerifyPIN"), 0u);
    // Plugged back: the same key reaches the driver again (the fake's signature is empty).
    FakeSkf_SetDeviceList("FAKE\0", 6, -1);
    sign(key.get());
    EXPECT_EQ(FakeSkf_CallCount("SKF_VerifyPIN"), 1u);
    EXPECT_EQ(FakeSkf_CallCount("SKF_RSASignData"), 1u);
}

TEST_F(ProviderFaults, loadingFaults_nameTheDriverCallOrTheUri)
{
    FakeSkf_SetResult("SKF_EnumDev", SAR_FAIL);
    EXPECT_FALSE(load(keyUri()));
    EXPECT_NE(loadErrors.find("SKF_EnumDev failed (0xa000001)"), std::string::npos) << loadErrors;
    FakeSkf_SetResult("SKF_EnumDev", SAR_OK);

    const uint8_t shortBlob[100] = {1};
    FakeSkf_SetPublicKey("C1", TRUE, shortBlob, sizeof shortBlob);
    EXPECT_FALSE(load(keyUri()));
    EXPECT_NE(loadErrors.find("makes no key: a public key blob of 100 bytes"), std::string::npos) << loadErrors;

    EXPECT_FALSE(load("skf:serial=OTHER;type=private"));
    EXPECT_NE(loadErrors.find("no such object on the tokens: no object of the plugged-in tokens matches "
                              "skf:serial=OTHER;type=private"),
              std::string::npos)
        << loadErrors;
}

} // namespace
