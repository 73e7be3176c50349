// The crypto module against known answers and its own round trips.
#include "crypto/Crypto.h"
#include "crypto/PinKeys.h"
#include "crypto/PinSecret.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

using namespace softskf::crypto;

namespace {

std::vector<uint8_t> hex(const std::string& text)
{
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

} // namespace

TEST(Crypto, sm4Ecb_matchesTheStandardsExample)
{
    const auto key = hex("0123456789abcdeffedcba9876543210");
    const auto cipher = sm4EcbEncrypt(key.data(), key.data(), key.size(), false);
    EXPECT_EQ(cipher, hex("681edf34d206965e86b3e94f536e4246"));
    const auto plain = sm4EcbDecrypt(key.data(), cipher.data(), cipher.size(), false);
    EXPECT_EQ(std::vector<uint8_t>(plain.begin(), plain.end()), key);
}

TEST(Crypto, sealedData_opensOnlyWithTheSameKeyAndAdditionalData)
{
    const auto key = randomSecret(32);
    const uint8_t secret[] = "application key";
    const auto sealed = seal(key, secret, sizeof secret, {1, 2});
    const auto opened = open(key, sealed, {1, 2});
    EXPECT_EQ(std::memcmp(opened.data(), secret, sizeof secret), 0);
    EXPECT_THROW(open(key, sealed, {1, 3}), CryptoInputError);
    EXPECT_THROW(open(randomSecret(32), sealed, {1, 2}), CryptoInputError);
    auto flipped = sealed;
    flipped[14] ^= 1;
    EXPECT_THROW(open(key, flipped, {1, 2}), CryptoInputError);
}

TEST(Crypto, aPinSecret_dependsOnPinSaltAndParameters)
{
    const std::vector<uint8_t> salt(16, 7);
    const PinKdfParams scrypt{true, 0, 1024, 8, 1};
    PinKdfParams pbkdf2;
    pbkdf2.scrypt = false;
    pbkdf2.iterations = kPinIterations;
    for (const auto& params : {scrypt, pbkdf2}) {
        const auto first = derivePinSecret("12345678", 8, salt, params);
        EXPECT_EQ(first.verifier, derivePinSecret("12345678", 8, salt, params).verifier);
        EXPECT_NE(first.verifier, derivePinSecret("12345679", 8, salt, params).verifier);
        EXPECT_NE(first.verifier, derivePinSecret("12345678", 8, std::vector<uint8_t>(16, 8), params).verifier);
        EXPECT_NE(first.verifier, first.wrappingKey);
    }
    EXPECT_NE(derivePinSecret("12345678", 8, salt, scrypt).verifier,
              derivePinSecret("12345678", 8, salt, PinKdfParams{true, 2048, 2048, 8, 1}).verifier);
    // Only what some version writes: a record cannot make a verification take a gigabyte
    // and most of a minute.
    const PinKdfParams refused[] = {
        {true, 0, uint64_t{1} << 20, 8, 16},
        {true, 0, uint64_t{1} << 15, 8, 1},
        {true, 0, 512, 8, 1},
        {true, 0, 1000, 8, 1},
        {true, 0, 1024, 1, 1},
        {true, 0, 1024, 8, 2},
        {false, 0, 0, 0, 0},
        {false, 1000, 0, 0, 0},
    };
    for (const auto& params : refused) {
        EXPECT_FALSE(isWrittenPinKdf(params))
            << params.n << " " << params.r << " " << params.p << " " << params.iterations;
        EXPECT_THROW(derivePinSecret("12345678", 8, salt, params), CryptoInputError);
    }
    EXPECT_TRUE(isWrittenPinKdf(PinKdfParams{true, 0, kScryptN, kScryptR, kScryptP}));
}

TEST(Crypto, theTestScryptKnob_onlyLowersNToAPowerOfTwoFrom1024)
{
    const auto withKnob = [](const char* value) {
        setenv("SOFTSKF_TEST_SCRYPT_N", value, 1);
        const uint64_t n = newPinKdfParams().n;
        unsetenv("SOFTSKF_TEST_SCRYPT_N");
        return n;
    };
    EXPECT_EQ(withKnob("1024"), 1024u);
    EXPECT_EQ(withKnob("4096"), 4096u);
    for (const char* ignored : {"512", "3000", "16384", "1048576", "", "1024x", "-1024"}) {
        EXPECT_EQ(withKnob(ignored), kScryptN) << ignored;
    }
}

TEST(Crypto, aKeyWrappedToAPublicKey_opensOnlyWithItsPrivateHalf)
{
    const auto recipient = generateWrapKeyPair();
    const auto other = generateWrapKeyPair();
    const auto secret = randomSecret(32);
    const auto wrapped = wrapTo(recipient.publicKey, secret, {1, 2});
    EXPECT_EQ(unwrapWith(recipient.privateKey, wrapped, {1, 2}), secret);
    EXPECT_NE(wrapTo(recipient.publicKey, secret, {1, 2}), wrapped); // a fresh ephemeral key each time
    EXPECT_THROW(unwrapWith(other.privateKey, wrapped, {1, 2}), CryptoInputError);
    EXPECT_THROW(unwrapWith(recipient.privateKey, wrapped, {1, 3}), CryptoInputError);
    auto flipped = wrapped;
    flipped[3] ^= 1; // the ephemeral key
    EXPECT_THROW(unwrapWith(recipient.privateKey, flipped, {1, 2}), CryptoInputError);
    EXPECT_THROW(unwrapWith(recipient.privateKey, std::vector<uint8_t>(wrapped.begin(), wrapped.begin() + 31), {}),
                 CryptoInputError);
}

TEST(Crypto, anSm2KeyFromItsScalar_hasTheSamePublicPoint)
{
    const auto generated = KeyPair::generateSm2();
    const auto der = generated.privateDer();
    const auto reloaded = KeyPair::fromPrivateDer(der.data(), der.size());
    EXPECT_TRUE(reloaded.isSm2());
    EXPECT_EQ(reloaded.sm2PublicPoint(), generated.sm2PublicPoint());
}
