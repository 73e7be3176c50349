// The PKCS#11 module's cost, side by side in one run: RSA-2048 (CKM_RSA_PKCS over a SHA-256
// DigestInfo) and SM2 (a 32-byte digest) signatures with the demo token's keys through the
// module and through the SKF driver directly; the same RSA signature with a key of
// SoftHSMv2 through its own module; and how long C_WaitForSlotEvent takes to return after a
// soft token is plugged in (the presence file written the way `skftool insert` writes it).
#include "SkfDriver.h"
#include "benchsupport.h"
#include "skfp11.h"
#include "tokenadmin.h"

#include "ossl/DigestInfo.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace softskf;
using bench::check;
using bench::runCommand;

namespace {

// A second token that comes and goes for the slot events, so the signing benchmarks'
// sessions and handles stay valid whatever order the benchmarks run in.
const char* const kEventSerial = "EVENTS";
const char* const kEventDevice = "VK-EVENTS";
char* const kPin = bench::demo::pin;

// DER DigestInfo of SHA-256 over a fixed message's hash: what CKM_RSA_PKCS signs for TLS.
const std::vector<uint8_t> kDigestInfo
    = ossl::digestInfo(ossl::kSha256DigestInfoPrefix, std::vector<uint8_t>(32, 0x61));
const std::vector<uint8_t> kSm2Digest(32, 0x62);

void checkP11(CK_RV rv, const char* what)
{
    if (rv != CKR_OK) {
        throw std::runtime_error(std::string(what) + " failed: 0x" + [rv] {
            char text[32];
            std::snprintf(text, sizeof text, "%lX", rv);
            return std::string(text);
        }());
    }
}

// One PKCS#11 module loaded by path, initialised for threads, with a logged-in session.
struct Module
{
    void* library = nullptr;
    CK_FUNCTION_LIST_PTR f = nullptr;
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;

    void load(const std::string& path)
    {
        library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            throw std::runtime_error("cannot load " + path + ": " + dlerror());
        }
        auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList"));
        if (!getList) {
            throw std::runtime_error(path + " has no C_GetFunctionList");
        }
        checkP11(getList(&f), "C_GetFunctionList");
        CK_C_INITIALIZE_ARGS args{};
        args.flags = CKF_OS_LOCKING_OK;
        checkP11(f->C_Initialize(&args), "C_Initialize");
    }

    // The slot of the token with the serial number (blank-padded in the token information).
    CK_SLOT_ID slotOfSerial(const std::string& serial)
    {
        CK_ULONG count = 0;
        checkP11(f->C_GetSlotList(CK_TRUE, nullptr, &count), "C_GetSlotList");
        std::vector<CK_SLOT_ID> slots(count);
        checkP11(f->C_GetSlotList(CK_TRUE, slots.data(), &count), "C_GetSlotList");
        for (CK_ULONG i = 0; i < count; ++i) {
            CK_TOKEN_INFO info{};
            if (f->C_GetTokenInfo(slots[i], &info) == CKR_OK
                && std::string(reinterpret_cast<char*>(info.serialNumber), serial.size()) == serial) {
                return slots[i];
            }
        }
        throw std::runtime_error("no token with the serial number " + serial);
    }

    CK_SLOT_ID firstSlotWithToken()
    {
        CK_ULONG count = 0;
        checkP11(f->C_GetSlotList(CK_TRUE, nullptr, &count), "C_GetSlotList");
        if (count == 0) {
            throw std::runtime_error("no token in the module");
        }
        std::vector<CK_SLOT_ID> slots(count);
        checkP11(f->C_GetSlotList(CK_TRUE, slots.data(), &count), "C_GetSlotList");
        return slots[0];
    }

    void openAndLogin(CK_SLOT_ID slot, const char* pin)
    {
        checkP11(f->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session),
                 "C_OpenSession");
        checkP11(
            f->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin)), std::strlen(pin)),
            "C_Login");
    }

    // The first private signing key of the key type.
    CK_OBJECT_HANDLE privateKey(CK_KEY_TYPE type)
    {
        CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
        CK_BBOOL yes = CK_TRUE;
        CK_ATTRIBUTE query[] = {
            {CKA_CLASS, &keyClass, sizeof keyClass}, {CKA_KEY_TYPE, &type, sizeof type}, {CKA_SIGN, &yes, sizeof yes}};
        checkP11(f->C_FindObjectsInit(session, query, 3), "C_FindObjectsInit");
        CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
        CK_ULONG found = 0;
        checkP11(f->C_FindObjects(session, &key, 1, &found), "C_FindObjects");
        checkP11(f->C_FindObjectsFinal(session), "C_FindObjectsFinal");
        if (found != 1) {
            throw std::runtime_error("no private signing key of the type");
        }
        return key;
    }

    std::vector<uint8_t> sign(CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, const std::vector<uint8_t>& data)
    {
        CK_MECHANISM mechanism{type, nullptr, 0};
        checkP11(f->C_SignInit(session, &mechanism, key), "C_SignInit");
        std::vector<uint8_t> signature(512);
        CK_ULONG size = signature.size();
        checkP11(f->C_Sign(session, const_cast<CK_BYTE_PTR>(data.data()), data.size(), signature.data(), &size),
                 "C_Sign");
        signature.resize(size);
        return signature;
    }
};

struct State
{
    bench::DirectDemoToken direct;
    Module skfp11;
    CK_OBJECT_HANDLE skfp11Rsa = CK_INVALID_HANDLE;
    CK_OBJECT_HANDLE skfp11Sm2 = CK_INVALID_HANDLE;
    Module softhsm; // not loaded when SoftHSMv2 is not installed
    CK_OBJECT_HANDLE softhsmRsa = CK_INVALID_HANDLE;
    std::string softhsmConf;
} g;

void prepareSkf()
{
    const std::string skftool = std::string("'") + SKFTOOL + "' --lib '" + test::driverPath() + "' ";
    runCommand(skftool + "demo >/dev/null");
    runCommand(skftool + "create --serial " + kEventSerial + " >/dev/null");
    runCommand(skftool + "insert " + kEventSerial + " >/dev/null");
    runCommand(skftool + "app-create " + kEventDevice + " APP --default-pins >/dev/null");
    g.direct.open();

    setenv("SKFP11_DRIVER", test::driverPath().c_str(), 1);
    const char* path = std::getenv("SKFP11_MODULE");
    g.skfp11.load(path ? path : SKFP11_MODULE);
    g.skfp11.openAndLogin(g.skfp11.slotOfSerial("VK2026000001"), kPin);
    g.skfp11Rsa = g.skfp11.privateKey(CKK_RSA);
    g.skfp11Sm2 = g.skfp11.privateKey(CKK_EC);
}

// A SoftHSMv2 token in the store folder with a fresh RSA-2048 pair.
void prepareSoftHsm(const std::string& folder)
{
    const char* path = std::getenv("SOFTHSM_MODULE");
    const std::string module = path ? path : "/usr/lib/softhsm/libsofthsm2.so";
    if (!std::ifstream(module)) {
        std::fprintf(stderr, "bench_pkcs11: no SoftHSMv2 module at %s; its row is left out\n", module.c_str());
        return;
    }
    const std::string tokens = folder + "/softhsm";
    runCommand("mkdir -p '" + tokens + "'");
    g.softhsmConf = folder + "/softhsm2.conf";
    std::ofstream(g.softhsmConf) << "directories.tokendir = " << tokens
                                 << "\nobjectstore.backend = file\nlog.level = ERROR\n";
    setenv("SOFTHSM2_CONF", g.softhsmConf.c_str(), 1);
    g.softhsm.load(module);
    CK_ULONG count = 1;
    CK_SLOT_ID slot = 0;
    checkP11(g.softhsm.f->C_GetSlotList(CK_FALSE, &slot, &count), "C_GetSlotList");
    CK_UTF8CHAR label[32];
    std::memset(label, ' ', sizeof label);
    std::memcpy(label, "bench", 5);
    auto pin = reinterpret_cast<CK_UTF8CHAR_PTR>(kPin);
    checkP11(g.softhsm.f->C_InitToken(slot, pin, 8, label), "C_InitToken");
    slot = g.softhsm.firstSlotWithToken();
    CK_SESSION_HANDLE so = CK_INVALID_HANDLE;
    checkP11(g.softhsm.f->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &so),
             "C_OpenSession");
    checkP11(g.softhsm.f->C_Login(so, CKU_SO, pin, 8), "C_Login");
    checkP11(g.softhsm.f->C_InitPIN(so, pin, 8), "C_InitPIN");
    checkP11(g.softhsm.f->C_CloseSession(so), "C_CloseSession");
    g.softhsm.openAndLogin(slot, kPin);

    CK_MECHANISM generate{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_ULONG bits = 2048;
    CK_BYTE exponent[] = {1, 0, 1};
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE publicTemplate[] = {{CKA_MODULUS_BITS, &bits, sizeof bits},
                                     {CKA_PUBLIC_EXPONENT, exponent, sizeof exponent},
                                     {CKA_VERIFY, &yes, sizeof yes}};
    CK_ATTRIBUTE privateTemplate[] = {{CKA_SIGN, &yes, sizeof yes}, {CKA_PRIVATE, &yes, sizeof yes}};
    CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE;
    checkP11(g.softhsm.f->C_GenerateKeyPair(g.softhsm.session, &generate, publicTemplate, 3, privateTemplate, 2,
                                            &publicKey, &g.softhsmRsa),
             "C_GenerateKeyPair");
}

void prepare(const std::string& folder)
{
    prepareSkf();
    prepareSoftHsm(folder);
}

void finish()
{
    if (g.skfp11.f) {
        g.skfp11.f->C_Finalize(nullptr);
    }
    if (g.softhsm.f) {
        g.softhsm.f->C_Finalize(nullptr);
    }
    g.direct.close();
}

void rsaThroughSkf(benchmark::State& state)
{
    g.direct.signRsa(state, kDigestInfo);
}

// What the module once asked of the driver for each signature: the container opened, used
// and closed again. Kept beside the others as the measure of what keeping it open saves.
void rsaThroughSkfOpeningTheContainer(benchmark::State& state)
{
    std::vector<uint8_t> signature(256);
    for (auto _ : state) {
        HCONTAINER container = nullptr;
        check(g.direct.skf->SKF_OpenContainer(g.direct.app, bench::demo::rsaContainer, &container), "OpenContainer");
        ULONG size = signature.size();
        check(g.direct.skf->SKF_RSASignData(container, const_cast<BYTE*>(kDigestInfo.data()), kDigestInfo.size(),
                                            signature.data(), &size),
              "RSASignData");
        g.direct.skf->SKF_CloseContainer(container);
        benchmark::DoNotOptimize(signature.data());
    }
}

void rsaThroughModule(benchmark::State& state)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(g.skfp11.sign(CKM_RSA_PKCS, g.skfp11Rsa, kDigestInfo));
    }
}

void rsaThroughSoftHsm(benchmark::State& state)
{
    if (!g.softhsm.f) {
        state.SkipWithError("SoftHSMv2 is not installed");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(g.softhsm.sign(CKM_RSA_PKCS, g.softhsmRsa, kDigestInfo));
    }
}

void sm2ThroughSkf(benchmark::State& state)
{
    g.direct.signSm2(state, kSm2Digest);
}

void sm2ThroughModule(benchmark::State& state)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(g.skfp11.sign(CKM_SKF_SM2, g.skfp11Sm2, kSm2Digest));
    }
}

// Drains the module's pending slot events, so the next wait sees only the next change.
void drainSlotEvents()
{
    CK_SLOT_ID slot = 0;
    while (g.skfp11.f->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr) == CKR_OK) { }
}

// The wall time from a plug-in or pull-out to the return of a blocked C_WaitForSlotEvent.
// The change comes from another thread a moment after the wait has begun. Manual time:
// the figure is the event's latency, not this thread's CPU; p50 and p90 are counters.
double slotEventLatency(bool plugIn)
{
    using Clock = std::chrono::steady_clock;
    Clock::time_point changed;
    std::thread changer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        changed = Clock::now();
        if (plugIn) {
            admin::insertToken(kEventSerial, kEventDevice);
        } else {
            admin::removeToken(kEventDevice);
        }
    });
    CK_SLOT_ID slot = 0;
    const CK_RV rv = g.skfp11.f->C_WaitForSlotEvent(0, &slot, nullptr);
    const Clock::time_point woken = Clock::now();
    changer.join();
    checkP11(rv, "C_WaitForSlotEvent");
    return std::chrono::duration<double>(woken - changed).count();
}

void slotEventAfterInsert(benchmark::State& state)
{
    std::vector<double> latencies;
    for (auto _ : state) {
        state.PauseTiming();
        slotEventLatency(false);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        drainSlotEvents();
        state.ResumeTiming();
        const double seconds = slotEventLatency(true);
        state.SetIterationTime(seconds);
        latencies.push_back(seconds);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        drainSlotEvents();
    }
    std::sort(latencies.begin(), latencies.end());
    if (!latencies.empty()) {
        state.counters["p50_ms"] = latencies[latencies.size() / 2] * 1e3;
        state.counters["p90_ms"] = latencies[latencies.size() * 9 / 10] * 1e3;
    }
}

} // namespace

BENCHMARK(rsaThroughSkf)->Unit(benchmark::kMicrosecond);
BENCHMARK(rsaThroughSkfOpeningTheContainer)->Unit(benchmark::kMicrosecond);
BENCHMARK(rsaThroughModule)->Unit(benchmark::kMicrosecond);
BENCHMARK(rsaThroughSoftHsm)->Unit(benchmark::kMicrosecond);
BENCHMARK(sm2ThroughSkf)->Unit(benchmark::kMicrosecond);
BENCHMARK(sm2ThroughModule)->Unit(benchmark::kMicrosecond);
BENCHMARK(slotEventAfterInsert)->UseManualTime()->Iterations(50)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    std::string folder = "/tmp/bench-pkcs11-XXXXXX";
    if (const char* tmp = std::getenv("TMPDIR")) {
        folder = std::string(tmp) + "/bench-pkcs11-XXXXXX";
    }
    // runInFreshStore makes the folder; the SoftHSMv2 token lives beside the soft token's store.
    return bench::runInFreshStore(
        argc, argv, folder, "bench_pkcs11", [] { prepare(std::getenv("SOFTSKF_DIR")); }, finish);
}
