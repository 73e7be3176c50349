// The crypto module against known answers and its own round trips.
#include "crypto/Crypto.h"
#include "crypto/PinSecret.h"

#include <gtest/gtest.h>

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

TEST(Crypto, aPinSecret_dependsOnPinAndSalt)
{
    const std::vector<uint8_t> salt(16, 7);
    const auto first = derivePinSecret("12345678", 8, salt, kPinIterations);
    EXPECT_EQ(first.verifier, derivePinSecret("12345678", 8, salt, kPinIterations).verifier);
    EXPECT_NE(first.verifier, derivePinSecret("12345679", 8, salt, kPinIterations).verifier);
    EXPECT_NE(first.verifier, derivePinSecret("12345678", 8, std::vector<uint8_t>(16, 8), kPinIterations).verifier);
    EXPECT_NE(first.verifier, first.wrappingKey);
}

TEST(Crypto, anSm2KeyFromItsScalar_hasTheSamePublicPoint)
{
    const auto generated = KeyPair::generateSm2();
    const auto der = generated.privateDer();
    const auto reloaded = KeyPair::fromPrivateDer(der.data(), der.size());
    EXPECT_TRUE(reloaded.isSm2());
    EXPECT_EQ(reloaded.sm2PublicPoint(), generated.sm2PublicPoint());
}
