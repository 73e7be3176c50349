// The cryptographic services through the driver: published test vectors, every SM4 mode
// and padding against OpenSSL, pieces against one call, digests with the Z value, the
// SM4 CBC-MAC, and the length convention of every variable-size result.
#include "OpensslSide.h"
#include "TokenFixture.h"

#include <cstring>

using namespace softskf;
using namespace softskf::test;

namespace {

const auto kSm4Key = fromHex("0123456789abcdeffedcba9876543210");

BLOCKCIPHERPARAM cipherParam(const std::vector<uint8_t>& iv, ULONG padding)
{
    BLOCKCIPHERPARAM param{};
    if (!iv.empty()) {
        std::memcpy(param.IV, iv.data(), iv.size());
    }
    param.IVLen = static_cast<ULONG>(iv.size());
    param.PaddingType = padding;
    return param;
}

std::vector<uint8_t> pattern(size_t size)
{
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; ++i) {
        data[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    return data;
}

} // namespace

class CryptoServices : public SoftTokenTest
{
protected:
    void SetUp() override
    {
        SoftTokenTest::SetUp();
        deviceName = plugNewToken();
        device = connect(deviceName);
    }
    HANDLE symmetricKey(ULONG algorithm, const std::vector<uint8_t>& key = kSm4Key)
    {
        HANDLE handle = nullptr;
        EXPECT_EQ(skf->SKF_SetSymmKey(device, const_cast<BYTE*>(key.data()), algorithm, &handle), SAR_OK);
        return handle;
    }
    std::vector<uint8_t> digest(ULONG algorithm, const std::vector<uint8_t>& data, ECCPUBLICKEYBLOB* key = nullptr,
                                const std::string& id = {})
    {
        HANDLE hash = nullptr;
        EXPECT_EQ(skf->SKF_DigestInit(device, algorithm, key, reinterpret_cast<BYTE*>(const_cast<char*>(id.data())),
                                      static_cast<ULONG>(id.size()), &hash),
                  SAR_OK);
        std::vector<uint8_t> out(64);
        ULONG size = static_cast<ULONG>(out.size());
        EXPECT_EQ(
            skf->SKF_Digest(hash, const_cast<BYTE*>(data.data()), static_cast<ULONG>(data.size()), out.data(), &size),
            SAR_OK);
        out.resize(size);
        EXPECT_EQ(skf->SKF_CloseHandle(hash), SAR_OK);
        return out;
    }
    // One call, with a size query first.
    std::vector<uint8_t> whole(HANDLE key, bool encrypt, const BLOCKCIPHERPARAM& param, const std::vector<uint8_t>& in,
                               ULONG* rc = nullptr)
    {
        EXPECT_EQ(encrypt ? skf->SKF_EncryptInit(key, param) : skf->SKF_DecryptInit(key, param), SAR_OK);
        auto call = encrypt ? skf->SKF_Encrypt : skf->SKF_Decrypt;
        ULONG size = 0;
        EXPECT_EQ(call(key, const_cast<BYTE*>(in.data()), static_cast<ULONG>(in.size()), nullptr, &size), SAR_OK);
        std::vector<uint8_t> out(size);
        const ULONG result = call(key, const_cast<BYTE*>(in.data()), static_cast<ULONG>(in.size()), out.data(), &size);
        if (rc) {
            *rc = result;
        } else {
            EXPECT_EQ(result, SAR_OK);
        }
        out.resize(size);
        return out;
    }
    // Update in uneven pieces, then Final.
    std::vector<uint8_t> pieces(HANDLE key, bool encrypt, const BLOCKCIPHERPARAM& param, const std::vector<uint8_t>& in)
    {
        EXPECT_EQ(encrypt ? skf->SKF_EncryptInit(key, param) : skf->SKF_DecryptInit(key, param), SAR_OK);
        auto update = encrypt ? skf->SKF_EncryptUpdate : skf->SKF_DecryptUpdate;
        auto final = encrypt ? skf->SKF_EncryptFinal : skf->SKF_DecryptFinal;
        std::vector<uint8_t> out;
        const size_t steps[] = {1, 15, 17, 3, 32, 100};
        size_t at = 0;
        for (size_t i = 0; at < in.size(); ++i) {
            const size_t piece = std::min(steps[i % 6], in.size() - at);
            std::vector<uint8_t> chunk(piece + 32);
            ULONG size = static_cast<ULONG>(chunk.size());
            EXPECT_EQ(update(key, const_cast<BYTE*>(in.data() + at), static_cast<ULONG>(piece), chunk.data(), &size),
                      SAR_OK);
            out.insert(out.end(), chunk.begin(), chunk.begin() + size);
            at += piece;
        }
        std::vector<uint8_t> tail(32);
        ULONG size = static_cast<ULONG>(tail.size());
        EXPECT_EQ(final(key, tail.data(), &size), SAR_OK);
        out.insert(out.end(), tail.begin(), tail.begin() + size);
        return out;
    }
};

TEST_F(CryptoServices, sm3MatchesThePublishedVectors)
{
    EXPECT_EQ(toHex(digest(SGD_SM3, {'a', 'b', 'c'})),
              "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0");
    std::vector<uint8_t> message;
    for (int i = 0; i < 16; ++i) {
        message.insert(message.end(), {'a', 'b', 'c', 'd'});
    }
    EXPECT_EQ(toHex(digest(SGD_SM3, message)), "debe9ff92275b8a138604889c18e5a4d6fdb70e5387e5765293dcba39c0c5732");
}

TEST_F(CryptoServices, sha1AndSha256MatchOpenssl_andPiecesMatchOneCall)
{
    const auto data = pattern(1000);
    EXPECT_EQ(digest(SGD_SHA1, data), evpDigest("SHA1", data));
    EXPECT_EQ(digest(SGD_SHA256, data), evpDigest("SHA256", data));

    HANDLE hash = nullptr;
    ASSERT_EQ(skf->SKF_DigestInit(device, SGD_SM3, nullptr, nullptr, 0, &hash), SAR_OK);
    EXPECT_EQ(skf->SKF_DigestUpdate(hash, const_cast<BYTE*>(data.data()), 333), SAR_OK);
    EXPECT_EQ(skf->SKF_DigestUpdate(hash, const_cast<BYTE*>(data.data()) + 333, 667), SAR_OK);
    ULONG size = 0;
    EXPECT_EQ(skf->SKF_DigestFinal(hash, nullptr, &size), SAR_OK);
    EXPECT_EQ(size, 32u);
    std::vector<uint8_t> out(size);
    size = 31;
    EXPECT_EQ(skf->SKF_DigestFinal(hash, out.data(), &size), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 32u);
    EXPECT_EQ(skf->SKF_DigestFinal(hash, out.data(), &size), SAR_OK);
    EXPECT_EQ(out, evpDigest("SM3", data));
    // Finished: more data needs a new DigestInit.
    EXPECT_EQ(skf->SKF_DigestUpdate(hash, out.data(), 1), SAR_NOTINITIALIZEERR);
    EXPECT_EQ(skf->SKF_CloseHandle(hash), SAR_OK);
}

TEST_F(CryptoServices, sm3WithAPublicKeyHashesTheZValueFirst_withTheDefaultIdWhenNoneIsGiven)
{
    auto pair = makeSm2Pair();
    const auto message = pattern(77);
    const std::string id = "alice@example.com";
    // An OpenSSL signature over Z(id) || message verifies against the token's digest.
    auto key = sm2PrivateKey(pair);
    const auto signature = sm2SignMessage(key.get(), message, id);
    auto e = digest(SGD_SM3, message, &pair.blob, id);
    ECCSIGNATUREBLOB sig = signature;
    EXPECT_EQ(skf->SKF_ECCVerify(device, &pair.blob, e.data(), 32, &sig), SAR_OK);
    auto eDefault = digest(SGD_SM3, message, &pair.blob);
    EXPECT_EQ(eDefault, digest(SGD_SM3, message, &pair.blob, "1234567812345678"));
    EXPECT_NE(eDefault, e);
    EXPECT_EQ(skf->SKF_ECCVerify(device, &pair.blob, eDefault.data(), 32, &sig), SAR_FAIL);
}

TEST_F(CryptoServices, sm4MatchesTheStandardsVector)
{
    HANDLE key = symmetricKey(SGD_SM4_ECB);
    EXPECT_EQ(toHex(whole(key, true, cipherParam({}, 0), kSm4Key)), "681edf34d206965e86b3e94f536e4246");
    EXPECT_EQ(whole(key, false, cipherParam({}, 0), fromHex("681edf34d206965e86b3e94f536e4246")), kSm4Key);
    EXPECT_EQ(skf->SKF_CloseHandle(key), SAR_OK);
}

TEST_F(CryptoServices, everyModeAndPaddingMatchesOpenssl_inOneCallAndInPieces)
{
    const auto iv = fromHex("000102030405060708090a0b0c0d0e0f");
    struct Case
    {
        ULONG algorithm;
        const char* evp;
        bool usesIv;
    };
    const Case cases[] = {{SGD_SM4_ECB, "SM4-ECB", false},
                          {SGD_SM4_CBC, "SM4-CBC", true},
                          {SGD_SM4_CFB, "SM4-CFB", true},
                          {SGD_SM4_OFB, "SM4-OFB", true}};
    for (const auto& c : cases) {
        for (ULONG padding : {0u, 1u}) {
            const bool blockMode = c.algorithm == SGD_SM4_ECB || c.algorithm == SGD_SM4_CBC;
            const bool pads = blockMode && padding == 1;
            const auto plain = pattern(blockMode && !pads ? 160 : 157);
            const auto param = cipherParam(c.usesIv ? iv : std::vector<uint8_t>{}, padding);
            const auto expected = evpSm4(c.evp, kSm4Key, c.usesIv ? iv : std::vector<uint8_t>{}, plain, pads, true);
            SCOPED_TRACE(std::string(c.evp) + " padding " + std::to_string(padding));
            HANDLE key = symmetricKey(c.algorithm);
            EXPECT_EQ(whole(key, true, param, plain), expected);
            EXPECT_EQ(pieces(key, true, param, plain), expected);
            EXPECT_EQ(whole(key, false, param, expected), plain);
            EXPECT_EQ(pieces(key, false, param, expected), plain);
            EXPECT_EQ(skf->SKF_CloseHandle(key), SAR_OK);
        }
    }
}

TEST_F(CryptoServices, aShortBufferOrSizeQueryConsumesNothing)
{
    HANDLE key = symmetricKey(SGD_SM4_CBC);
    const auto iv = pattern(16);
    const auto plain = pattern(48);
    ASSERT_EQ(skf->SKF_EncryptInit(key, cipherParam(iv, 1)), SAR_OK);
    ULONG size = 0;
    EXPECT_EQ(skf->SKF_EncryptUpdate(key, const_cast<BYTE*>(plain.data()), 40, nullptr, &size), SAR_OK);
    EXPECT_EQ(size, 32u);
    std::vector<uint8_t> out(64);
    size = 16;
    EXPECT_EQ(skf->SKF_EncryptUpdate(key, const_cast<BYTE*>(plain.data()), 40, out.data(), &size),
              SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 32u);
    EXPECT_EQ(skf->SKF_EncryptUpdate(key, const_cast<BYTE*>(plain.data()), 40, out.data(), &size), SAR_OK);
    // The 8 bytes held back and 8 more make a block; a zero-sized buffer must not lose it.
    ULONG tail = 0;
    EXPECT_EQ(skf->SKF_EncryptUpdate(key, const_cast<BYTE*>(plain.data()) + 40, 8, out.data() + 32, &tail),
              SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(tail, 16u);
    EXPECT_EQ(skf->SKF_EncryptUpdate(key, const_cast<BYTE*>(plain.data()) + 40, 8, out.data() + 32, &tail), SAR_OK);
    ULONG last = 15;
    EXPECT_EQ(skf->SKF_EncryptFinal(key, out.data() + 48, &last), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(last, 16u); // a whole block of padding
    EXPECT_EQ(skf->SKF_EncryptFinal(key, out.data() + 48, &last), SAR_OK);
    tail += last;
    out.resize(32 + tail);
    EXPECT_EQ(out, evpSm4("SM4-CBC", kSm4Key, iv, plain, true, true));
    EXPECT_EQ(skf->SKF_CloseHandle(key), SAR_OK);
}

TEST_F(CryptoServices, sm4CbcMacIsTheLastCbcBlock_inOneCallAndInPieces)
{
    HANDLE key = symmetricKey(SGD_SM4_MAC);
    const auto iv = pattern(16);
    const auto data = pattern(64);
    const auto cbc = evpSm4("SM4-CBC", kSm4Key, iv, data, false, true);
    const std::vector<uint8_t> expected(cbc.end() - 16, cbc.end());
    BLOCKCIPHERPARAM param = cipherParam(iv, 0);

    HANDLE mac = nullptr;
    ASSERT_EQ(skf->SKF_MacInit(key, &param, &mac), SAR_OK);
    std::vector<uint8_t> out(16);
    ULONG size = 16;
    EXPECT_EQ(skf->SKF_Mac(mac, const_cast<BYTE*>(data.data()), 64, out.data(), &size), SAR_OK);
    EXPECT_EQ(out, expected);
    EXPECT_EQ(skf->SKF_CloseHandle(mac), SAR_OK);

    ASSERT_EQ(skf->SKF_MacInit(key, &param, &mac), SAR_OK);
    EXPECT_EQ(skf->SKF_MacUpdate(mac, const_cast<BYTE*>(data.data()), 5), SAR_OK);
    EXPECT_EQ(skf->SKF_MacUpdate(mac, const_cast<BYTE*>(data.data()) + 5, 59), SAR_OK);
    size = 0;
    EXPECT_EQ(skf->SKF_MacFinal(mac, nullptr, &size), SAR_OK);
    EXPECT_EQ(size, 16u);
    EXPECT_EQ(skf->SKF_MacFinal(mac, out.data(), &size), SAR_OK);
    EXPECT_EQ(out, expected);

    // Without padding, the data must be whole blocks.
    ASSERT_EQ(skf->SKF_MacInit(key, &param, &mac), SAR_OK);
    EXPECT_EQ(skf->SKF_Mac(mac, const_cast<BYTE*>(data.data()), 20, out.data(), &size), SAR_INDATALENERR);
    // With PKCS#5 padding, as CBC encryption with padding ends.
    param.PaddingType = 1;
    ASSERT_EQ(skf->SKF_MacInit(key, &param, &mac), SAR_OK);
    EXPECT_EQ(skf->SKF_Mac(mac, const_cast<BYTE*>(data.data()), 20, out.data(), &size), SAR_OK);
    const auto padded
        = evpSm4("SM4-CBC", kSm4Key, iv, std::vector<uint8_t>(data.begin(), data.begin() + 20), true, true);
    EXPECT_EQ(out, std::vector<uint8_t>(padded.end() - 16, padded.end()));
    // Closing the key closes its MAC handles.
    EXPECT_EQ(skf->SKF_CloseHandle(key), SAR_OK);
    EXPECT_EQ(skf->SKF_MacUpdate(mac, out.data(), 1), SAR_INVALIDHANDLEERR);
}

TEST_F(CryptoServices, randomBytesDiffer)
{
    std::vector<uint8_t> a(32), b(32);
    ASSERT_EQ(skf->SKF_GenRandom(device, a.data(), 32), SAR_OK);
    ASSERT_EQ(skf->SKF_GenRandom(device, b.data(), 32), SAR_OK);
    EXPECT_NE(a, b);
}
