// Benchmarks of the soft token through its SKF functions, on a token in a temporary
// store: the key-information page's calls as one unit, SKF_VerifyPIN, and the PIN hash.
#include "SkfDriver.h"
#include "benchsupport.h"
#include "crypto/PinSecret.h"
#include "tokenadmin.h"

#include <benchmark/benchmark.h>

#include <vector>

using namespace softskf;
using bench::check;

namespace {

const char* const kDevice = "VK-BENCH";
char kUserPin[] = "12345678";
char kAdminPin[] = "87654321";
char kApp[] = "APP";

const test::SkfDriver* g_skf = nullptr;

void prepareToken()
{
    admin::TokenOptions options;
    options.serial = "BENCH";
    admin::createToken(options);
    admin::insertToken("BENCH", kDevice);
    DEVHANDLE device = nullptr;
    check(g_skf->SKF_ConnectDev(const_cast<char*>(kDevice), &device), "ConnectDev");
    bench::authenticate(*g_skf, device);
    HAPPLICATION app = nullptr;
    check(g_skf->SKF_CreateApplication(device, kApp, kAdminPin, 10, kUserPin, 10, SECURE_ANYONE_ACCOUNT, &app),
          "CreateApplication");
    g_skf->SKF_DisConnectDev(device);
}

// What the manager's key-information page asks for when a token is selected.
void keyInformationPage(benchmark::State& state)
{
    for (auto _ : state) {
        DEVHANDLE device = nullptr;
        DEVINFO info{};
        check(g_skf->SKF_ConnectDev(const_cast<char*>(kDevice), &device), "ConnectDev");
        check(g_skf->SKF_GetDevInfo(device, &info), "GetDevInfo");
        char names[256];
        ULONG size = sizeof names;
        check(g_skf->SKF_EnumApplication(device, names, &size), "EnumApplication");
        HAPPLICATION app = nullptr;
        check(g_skf->SKF_OpenApplication(device, names, &app), "OpenApplication");
        ULONG max = 0;
        ULONG remaining = 0;
        BOOL isDefault = 0;
        check(g_skf->SKF_GetPINInfo(app, ADMIN_TYPE, &max, &remaining, &isDefault), "GetPINInfo");
        check(g_skf->SKF_GetPINInfo(app, USER_TYPE, &max, &remaining, &isDefault), "GetPINInfo");
        g_skf->SKF_CloseApplication(app);
        g_skf->SKF_DisConnectDev(device);
        benchmark::DoNotOptimize(info);
    }
}
BENCHMARK(keyInformationPage)->Unit(benchmark::kMicrosecond)->Repetitions(5)->DisplayAggregatesOnly(true);

void verifyPin(benchmark::State& state)
{
    DEVHANDLE device = nullptr;
    HAPPLICATION app = nullptr;
    check(g_skf->SKF_ConnectDev(const_cast<char*>(kDevice), &device), "ConnectDev");
    check(g_skf->SKF_OpenApplication(device, kApp, &app), "OpenApplication");
    for (auto _ : state) {
        ULONG retries = 0;
        check(g_skf->SKF_VerifyPIN(app, USER_TYPE, kUserPin, &retries), "VerifyPIN");
    }
    g_skf->SKF_DisConnectDev(device);
}
BENCHMARK(verifyPin)->Unit(benchmark::kMillisecond)->Repetitions(5)->DisplayAggregatesOnly(true);

// One offline guess: the salted hash alone, the bulk of a verification. PBKDF2 is what
// older records use, scrypt what records are made with now.
void pinHashPbkdf2(benchmark::State& state)
{
    const std::vector<uint8_t> salt(crypto::kPinSaltSize, 0x5c);
    crypto::PinKdfParams params;
    params.scrypt = false;
    params.iterations = crypto::kPinIterations;
    for (auto _ : state) {
        auto secret = crypto::derivePinSecret(kUserPin, 8, salt, params);
        benchmark::DoNotOptimize(secret.verifier.data());
    }
    state.counters["iterations"] = crypto::kPinIterations;
}
BENCHMARK(pinHashPbkdf2)->Unit(benchmark::kMillisecond)->Repetitions(5)->DisplayAggregatesOnly(true);

void pinHashScrypt(benchmark::State& state)
{
    const std::vector<uint8_t> salt(crypto::kPinSaltSize, 0x5c);
    const crypto::PinKdfParams params{true, 0, crypto::kScryptN, crypto::kScryptR, crypto::kScryptP};
    for (auto _ : state) {
        auto secret = crypto::derivePinSecret(kUserPin, 8, salt, params);
        benchmark::DoNotOptimize(secret.verifier.data());
    }
    state.counters["N"] = static_cast<double>(crypto::kScryptN);
}
BENCHMARK(pinHashScrypt)->Unit(benchmark::kMillisecond)->Repetitions(5)->DisplayAggregatesOnly(true);

} // namespace

int main(int argc, char** argv)
{
    return bench::runInFreshStore(argc, argv, "/tmp/softskf-bench-XXXXXX", "bench_softtoken", [] {
        g_skf = &test::driver();
        prepareToken();
    });
}
