// The provider's cost, side by side in one run: RSA-2048 (PKCS#1 v1.5 over a SHA-256
// DigestInfo) and SM2 (a 32-byte digest) signatures with the demo token's keys through
// OpenSSL and the skf provider (EVP_PKEY_sign) and through the SKF driver directly; and
// one run of `openssl storeutl 'skf:'` (a process that loads the provider and lists every
// object) with sixteen tokens plugged in.
#include "SkfDriver.h"
#include "benchsupport.h"

#include "ossl/DigestInfo.h"
#include "ossl/Ossl.h"

#include <benchmark/benchmark.h>

#include <openssl/provider.h>
#include <openssl/rsa.h>
#include <openssl/store.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

using namespace softskf;
using bench::runCommand;

namespace {

constexpr int kTokens = 16;

const std::vector<uint8_t> kHash(32, 0x61);
const std::vector<uint8_t> kDigestInfo = ossl::digestInfo(ossl::kSha256DigestInfoPrefix, kHash);
const std::vector<uint8_t> kSm2Digest(32, 0x62);

struct State
{
    bench::DirectDemoToken direct;
    OSSL_LIB_CTX* context = nullptr;
    OSSL_PROVIDER* defaults = nullptr;
    OSSL_PROVIDER* provider = nullptr;
    ossl::Pkey rsaKey;
    ossl::Pkey sm2Key;
    ossl::PkeyCtx rsaSign;
    ossl::PkeyCtx sm2Sign;
} g;

ossl::Pkey loadKey(const std::string& uri)
{
    OSSL_STORE_CTX* store
        = OSSL_STORE_open_ex(uri.c_str(), g.context, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (!store) {
        throw std::runtime_error("cannot open " + uri);
    }
    OSSL_STORE_expect(store, OSSL_STORE_INFO_PKEY);
    ossl::Pkey key;
    while (!key && !OSSL_STORE_eof(store)) {
        OSSL_STORE_INFO* info = OSSL_STORE_load(store);
        if (info && OSSL_STORE_INFO_get_type(info) == OSSL_STORE_INFO_PKEY) {
            key.reset(OSSL_STORE_INFO_get1_PKEY(info));
        }
        OSSL_STORE_INFO_free(info);
    }
    OSSL_STORE_close(store);
    if (!key) {
        throw std::runtime_error("no key at " + uri);
    }
    return key;
}

ossl::PkeyCtx signingContext(EVP_PKEY* key, bool rsa)
{
    ossl::PkeyCtx context(EVP_PKEY_CTX_new_from_pkey(g.context, key, nullptr));
    if (!context || EVP_PKEY_sign_init(context.get()) != 1
        || (rsa && EVP_PKEY_CTX_set_signature_md(context.get(), EVP_sha256()) != 1)) {
        throw std::runtime_error("cannot start signing through the provider");
    }
    return context;
}

void prepare()
{
    const std::string skftool = std::string("'") + SKFTOOL + "' --lib '" + test::driverPath() + "' ";
    runCommand(skftool + "demo >/dev/null");
    // Fifteen more tokens, each with an application and a container with an SM2 pair.
    for (int i = 1; i < kTokens; ++i) {
        const std::string serial = "BENCH" + std::to_string(i);
        runCommand(skftool + "create --serial " + serial + " >/dev/null && " + skftool + "insert " + serial
                   + " >/dev/null && " + skftool + "app-create VK-" + serial + " APP --default-pins >/dev/null && "
                   + skftool + "container-create VK-" + serial + " APP C --pin 12345678 >/dev/null && " + skftool
                   + "keygen VK-" + serial + " APP C --sm2 --pin 12345678 >/dev/null");
    }
    g.direct.open();

    setenv("SKFP11_DRIVER", test::driverPath().c_str(), 1);
    g.context = OSSL_LIB_CTX_new();
    const char* directory = std::getenv("PROVIDER_DIR");
    OSSL_PROVIDER_set_default_search_path(g.context, directory ? directory : PROVIDER_DIR);
    g.defaults = OSSL_PROVIDER_load(g.context, "default");
    g.provider = OSSL_PROVIDER_load(g.context, "skf");
    if (!g.defaults || !g.provider) {
        throw std::runtime_error("cannot load the skf provider");
    }
    g.rsaKey = loadKey("skf:serial=VK2026000001;container=RSAContainer;type=private?pin-value=12345678");
    g.sm2Key = loadKey("skf:serial=VK2026000001;container=SM2Container;usage=sign;type=private?pin-value=12345678");
    g.rsaSign = signingContext(g.rsaKey.get(), true);
    g.sm2Sign = signingContext(g.sm2Key.get(), false);
}

void finish()
{
    g.rsaSign.reset();
    g.sm2Sign.reset();
    g.rsaKey.reset();
    g.sm2Key.reset();
    if (g.provider) {
        OSSL_PROVIDER_unload(g.provider);
        OSSL_PROVIDER_unload(g.defaults);
    }
    OSSL_LIB_CTX_free(g.context);
    g.direct.close();
}

void rsaThroughSkf(benchmark::State& state)
{
    g.direct.signRsa(state, kDigestInfo);
}

void rsaThroughProvider(benchmark::State& state)
{
    std::vector<uint8_t> signature(256);
    for (auto _ : state) {
        size_t size = signature.size();
        if (EVP_PKEY_sign(g.rsaSign.get(), signature.data(), &size, kHash.data(), kHash.size()) != 1) {
            state.SkipWithError("EVP_PKEY_sign failed");
            return;
        }
        benchmark::DoNotOptimize(signature.data());
    }
}

void sm2ThroughSkf(benchmark::State& state)
{
    g.direct.signSm2(state, kSm2Digest);
}

void sm2ThroughProvider(benchmark::State& state)
{
    std::vector<uint8_t> signature(80);
    for (auto _ : state) {
        size_t size = signature.size();
        if (EVP_PKEY_sign(g.sm2Sign.get(), signature.data(), &size, kSm2Digest.data(), kSm2Digest.size()) != 1) {
            state.SkipWithError("EVP_PKEY_sign failed");
            return;
        }
        benchmark::DoNotOptimize(signature.data());
    }
}

// A whole openssl process: start, load the provider and the drivers, list every token.
void storeutlListsSixteenTokens(benchmark::State& state)
{
    const char* directory = std::getenv("PROVIDER_DIR");
    const std::string command = std::string("OPENSSL_MODULES='") + (directory ? directory : PROVIDER_DIR)
        + "' openssl storeutl -provider default -provider skf 'skf:' | grep -q '^Total found: "
        + std::to_string(9 + 2 * (kTokens - 1)) + "$'";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("storeutl did not list every token");
            return;
        }
    }
}

} // namespace

BENCHMARK(rsaThroughSkf)->Unit(benchmark::kMicrosecond)->MinTime(0.5);
BENCHMARK(rsaThroughProvider)->Unit(benchmark::kMicrosecond)->MinTime(0.5);
BENCHMARK(sm2ThroughSkf)->Unit(benchmark::kMicrosecond)->MinTime(0.5);
BENCHMARK(sm2ThroughProvider)->Unit(benchmark::kMicrosecond)->MinTime(0.5);
BENCHMARK(storeutlListsSixteenTokens)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv)
{
    return bench::runInFreshStore(argc, argv, "/tmp/bench_provider.XXXXXX", "bench_provider", prepare, finish);
}
