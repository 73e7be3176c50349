// The soft token's cryptographic services against OpenSSL's own EVP calls, side by side
// in one run on the same machine: SM2 sign and verify (Z, SM3 and the signature), RSA-2048
// sign and verify (SHA-256, PKCS#1 v1.5), SM4-CBC and SM3 over 1 MiB. Each token_X pairs
// with openssl_X; the ratio of their rates is the figure that matters.
#include "SkfDriver.h"
#include "benchsupport.h"
#include "tokenadmin.h"

#include "ossl/DigestInfo.h"
#include "skf/tokendigest.h"

#include <benchmark/benchmark.h>

#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

using namespace softskf;
using bench::check;

namespace {

const char* const kDevice = "VK-BENCH-CRYPTO";
char kUserPin[] = "12345678";
char kAdminPin[] = "87654321";
char kApp[] = "APP";
const char kId[] = "1234567812345678";
constexpr size_t kBulk = 1 << 20;

const test::SkfDriver* g_skf = nullptr;

struct Token
{
    DEVHANDLE device = nullptr;
    HAPPLICATION app = nullptr;
    HCONTAINER sm2 = nullptr;
    HCONTAINER rsa = nullptr;
    ECCPUBLICKEYBLOB sm2Public{};
    RSAPUBLICKEYBLOB rsaPublic{};
    ECCSIGNATUREBLOB sm2Signature{};
    std::vector<uint8_t> rsaSignature;
    EVP_PKEY* sm2Key = nullptr; // OpenSSL's own pair of each kind
    EVP_PKEY* rsaKey = nullptr;
    std::vector<uint8_t> opensslSm2Signature;
    std::vector<uint8_t> opensslRsaSignature;
} g;

const std::vector<uint8_t> kMessage(32, 0x61);
const std::vector<uint8_t> kBulkData(kBulk, 0x5a);
const uint8_t kSm4Key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

void checkSsl(bool ok, const char* what)
{
    if (!ok) {
        throw std::runtime_error(std::string(what) + " failed");
    }
}

// Token side: SM3 with Z (or SHA-256) through the driver, as skftool hashes.
std::vector<uint8_t> tokenDigest(ULONG algorithm, ECCPUBLICKEYBLOB* key, const std::vector<uint8_t>& data)
{
    return skfloader::tokenDigest(
        {g_skf->SKF_DigestInit, g_skf->SKF_Digest, g_skf->SKF_CloseHandle},
        [](ULONG rc, const char* function) { check(rc, function + std::strlen("SKF_")); }, g.device, algorithm, key,
        kId, data);
}

std::vector<uint8_t> sha256Info(const std::vector<uint8_t>& hash)
{
    return ossl::digestInfo(ossl::kSha256DigestInfoPrefix, hash);
}

std::vector<uint8_t> opensslSign(EVP_PKEY* key, const EVP_MD* md, bool sm2)
{
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_PKEY_CTX* pctx = nullptr;
    if (sm2) {
        pctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
        EVP_PKEY_CTX_set1_id(pctx, kId, 16);
        EVP_MD_CTX_set_pkey_ctx(ctx, pctx);
    }
    std::vector<uint8_t> out(512);
    size_t size = out.size();
    checkSsl(EVP_DigestSignInit(ctx, nullptr, md, nullptr, key) == 1
                 && EVP_DigestSign(ctx, out.data(), &size, kMessage.data(), kMessage.size()) == 1,
             "EVP_DigestSign");
    EVP_MD_CTX_free(ctx);
    EVP_PKEY_CTX_free(pctx);
    out.resize(size);
    return out;
}

bool opensslVerify(EVP_PKEY* key, const EVP_MD* md, bool sm2, const std::vector<uint8_t>& signature)
{
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_PKEY_CTX* pctx = nullptr;
    if (sm2) {
        pctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
        EVP_PKEY_CTX_set1_id(pctx, kId, 16);
        EVP_MD_CTX_set_pkey_ctx(ctx, pctx);
    }
    const bool ok = EVP_DigestVerifyInit(ctx, nullptr, md, nullptr, key) == 1
        && EVP_DigestVerify(ctx, signature.data(), signature.size(), kMessage.data(), kMessage.size()) == 1;
    EVP_MD_CTX_free(ctx);
    EVP_PKEY_CTX_free(pctx);
    return ok;
}

void prepare()
{
    admin::TokenOptions options;
    options.serial = "BENCHCRYPTO";
    admin::createToken(options);
    admin::insertToken("BENCHCRYPTO", kDevice);
    check(g_skf->SKF_ConnectDev(const_cast<char*>(kDevice), &g.device), "ConnectDev");
    bench::authenticate(*g_skf, g.device);
    check(g_skf->SKF_CreateApplication(g.device, kApp, kAdminPin, 10, kUserPin, 10, SECURE_ANYONE_ACCOUNT, &g.app),
          "CreateApplication");
    ULONG retries = 0;
    check(g_skf->SKF_VerifyPIN(g.app, USER_TYPE, kUserPin, &retries), "VerifyPIN");
    check(g_skf->SKF_CreateContainer(g.app, const_cast<char*>("sm2"), &g.sm2), "CreateContainer");
    check(g_skf->SKF_GenECCKeyPair(g.sm2, SGD_SM2_1, &g.sm2Public), "GenECCKeyPair");
    check(g_skf->SKF_CreateContainer(g.app, const_cast<char*>("rsa"), &g.rsa), "CreateContainer");
    check(g_skf->SKF_GenRSAKeyPair(g.rsa, 2048, &g.rsaPublic), "GenRSAKeyPair");
    auto e = tokenDigest(SGD_SM3, &g.sm2Public, kMessage);
    check(g_skf->SKF_ECCSignData(g.sm2, e.data(), 32, &g.sm2Signature), "ECCSignData");
    auto info = sha256Info(tokenDigest(SGD_SHA256, nullptr, kMessage));
    g.rsaSignature.resize(256);
    ULONG size = 256;
    check(g_skf->SKF_RSASignData(g.rsa, info.data(), static_cast<ULONG>(info.size()), g.rsaSignature.data(), &size),
          "RSASignData");
    g.sm2Key = EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2");
    g.rsaKey = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{2048});
    checkSsl(g.sm2Key && g.rsaKey, "OpenSSL key generation");
    g.opensslSm2Signature = opensslSign(g.sm2Key, EVP_sm3(), true);
    g.opensslRsaSignature = opensslSign(g.rsaKey, EVP_sha256(), false);
}

void token_sm2Sign(benchmark::State& state)
{
    for (auto _ : state) {
        auto e = tokenDigest(SGD_SM3, &g.sm2Public, kMessage);
        ECCSIGNATUREBLOB signature{};
        check(g_skf->SKF_ECCSignData(g.sm2, e.data(), 32, &signature), "ECCSignData");
        benchmark::DoNotOptimize(signature);
    }
    state.SetItemsProcessed(state.iterations());
}

void openssl_sm2Sign(benchmark::State& state)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(opensslSign(g.sm2Key, EVP_sm3(), true));
    }
    state.SetItemsProcessed(state.iterations());
}

void token_sm2Verify(benchmark::State& state)
{
    for (auto _ : state) {
        auto e = tokenDigest(SGD_SM3, &g.sm2Public, kMessage);
        check(g_skf->SKF_ECCVerify(g.device, &g.sm2Public, e.data(), 32, &g.sm2Signature), "ECCVerify");
    }
    state.SetItemsProcessed(state.iterations());
}

void openssl_sm2Verify(benchmark::State& state)
{
    for (auto _ : state) {
        checkSsl(opensslVerify(g.sm2Key, EVP_sm3(), true, g.opensslSm2Signature), "SM2 verify");
    }
    state.SetItemsProcessed(state.iterations());
}

void token_rsa2048Sign(benchmark::State& state)
{
    std::vector<uint8_t> signature(256);
    for (auto _ : state) {
        auto info = sha256Info(tokenDigest(SGD_SHA256, nullptr, kMessage));
        ULONG size = 256;
        check(g_skf->SKF_RSASignData(g.rsa, info.data(), static_cast<ULONG>(info.size()), signature.data(), &size),
              "RSASignData");
    }
    state.SetItemsProcessed(state.iterations());
}

void openssl_rsa2048Sign(benchmark::State& state)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(opensslSign(g.rsaKey, EVP_sha256(), false));
    }
    state.SetItemsProcessed(state.iterations());
}

void token_rsa2048Verify(benchmark::State& state)
{
    for (auto _ : state) {
        auto info = sha256Info(tokenDigest(SGD_SHA256, nullptr, kMessage));
        check(g_skf->SKF_RSAVerify(g.device, &g.rsaPublic, info.data(), static_cast<ULONG>(info.size()),
                                   g.rsaSignature.data(), 256),
              "RSAVerify");
    }
    state.SetItemsProcessed(state.iterations());
}

void openssl_rsa2048Verify(benchmark::State& state)
{
    for (auto _ : state) {
        checkSsl(opensslVerify(g.rsaKey, EVP_sha256(), false, g.opensslRsaSignature), "RSA verify");
    }
    state.SetItemsProcessed(state.iterations());
}

void token_sm4Cbc1MiB(benchmark::State& state)
{
    HANDLE key = nullptr;
    check(g_skf->SKF_SetSymmKey(g.device, const_cast<BYTE*>(kSm4Key), SGD_SM4_CBC, &key), "SetSymmKey");
    BLOCKCIPHERPARAM param{};
    param.IVLen = 16;
    std::vector<uint8_t> out(kBulk);
    for (auto _ : state) {
        check(g_skf->SKF_EncryptInit(key, param), "EncryptInit");
        ULONG size = static_cast<ULONG>(out.size());
        check(g_skf->SKF_Encrypt(key, const_cast<BYTE*>(kBulkData.data()), kBulk, out.data(), &size), "Encrypt");
    }
    g_skf->SKF_CloseHandle(key);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBulk));
}

void openssl_sm4Cbc1MiB(benchmark::State& state)
{
    uint8_t iv[16] = {};
    std::vector<uint8_t> out(kBulk + 16);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    for (auto _ : state) {
        int written = 0;
        int final = 0;
        checkSsl(EVP_EncryptInit_ex(ctx, EVP_sm4_cbc(), nullptr, kSm4Key, iv) == 1, "SM4 init");
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        EVP_EncryptUpdate(ctx, out.data(), &written, kBulkData.data(), static_cast<int>(kBulk));
        EVP_EncryptFinal_ex(ctx, out.data() + written, &final);
    }
    EVP_CIPHER_CTX_free(ctx);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBulk));
}

void token_sm3_1MiB(benchmark::State& state)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(tokenDigest(SGD_SM3, nullptr, kBulkData));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBulk));
}

void openssl_sm3_1MiB(benchmark::State& state)
{
    uint8_t out[32];
    for (auto _ : state) {
        unsigned int size = 0;
        checkSsl(EVP_Digest(kBulkData.data(), kBulk, out, &size, EVP_sm3(), nullptr) == 1, "SM3");
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBulk));
}

} // namespace

#define SIDE_BY_SIDE(name)                                                                                             \
    BENCHMARK(token_##name)->Unit(benchmark::kMicrosecond)->Repetitions(3)->DisplayAggregatesOnly(true);               \
    BENCHMARK(openssl_##name)->Unit(benchmark::kMicrosecond)->Repetitions(3)->DisplayAggregatesOnly(true)

SIDE_BY_SIDE(sm2Sign);
SIDE_BY_SIDE(sm2Verify);
SIDE_BY_SIDE(rsa2048Sign);
SIDE_BY_SIDE(rsa2048Verify);
SIDE_BY_SIDE(sm4Cbc1MiB);
SIDE_BY_SIDE(sm3_1MiB);

int main(int argc, char** argv)
{
    return bench::runInFreshStore(
        argc, argv, "/tmp/softskf-bench-crypto-XXXXXX", "bench_softtoken_crypto",
        [] {
            g_skf = &test::driver();
            prepare();
        },
        [] {
            if (g_skf != nullptr && g.device != nullptr) {
                g_skf->SKF_DisConnectDev(g.device);
            }
            EVP_PKEY_free(g.sm2Key);
            EVP_PKEY_free(g.rsaKey);
        });
}
