// What the benchmark programs over the soft token share: a failed SKF call or command as an
// exception, the device authentication that creating an application needs, the demo token
// opened straight through the driver (what the PKCS#11 module and the provider are measured
// against), and a run of the benchmarks in a fresh store folder that is removed afterwards.
#pragma once

#include "SkfDriver.h"

#include <benchmark/benchmark.h>

#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <ftw.h>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace softskf::bench {

inline void check(ULONG rc, const char* what)
{
    if (rc != SAR_OK) {
        throw std::runtime_error(std::string(what) + " failed: " + std::to_string(rc));
    }
}

// Runs a shell command, such as an skftool call that sets a token up.
inline void runCommand(const std::string& command)
{
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("command failed: " + command);
    }
}

// The names `skftool demo` gives; the driver takes them as writable strings.
namespace demo {
inline char device[] = "VK-VK2026000001";
inline char app[] = "OVRIN_APP";
inline char rsaContainer[] = "RSAContainer";
inline char sm2Container[] = "SM2Container";
inline char pin[] = "12345678";
} // namespace demo

// The demo token through the driver alone: connected, the user PIN verified, its RSA and
// SM2 signature containers open.
struct DirectDemoToken
{
    const test::SkfDriver* skf = nullptr;
    DEVHANDLE device = nullptr;
    HAPPLICATION app = nullptr;
    HCONTAINER rsa = nullptr;
    HCONTAINER sm2 = nullptr;

    void open()
    {
        skf = &test::driver();
        check(skf->SKF_ConnectDev(demo::device, &device), "ConnectDev");
        check(skf->SKF_OpenApplication(device, demo::app, &app), "OpenApplication");
        ULONG retries = 0;
        check(skf->SKF_VerifyPIN(app, USER_TYPE, demo::pin, &retries), "VerifyPIN");
        check(skf->SKF_OpenContainer(app, demo::rsaContainer, &rsa), "OpenContainer");
        check(skf->SKF_OpenContainer(app, demo::sm2Container, &sm2), "OpenContainer");
    }

    void close()
    {
        if (skf && device) {
            skf->SKF_DisConnectDev(device);
        }
    }

    // A benchmark's loop of RSA signatures over a DER DigestInfo.
    void signRsa(benchmark::State& state, const std::vector<uint8_t>& digestInfo) const
    {
        std::vector<uint8_t> signature(256);
        for (auto _ : state) {
            ULONG size = signature.size();
            check(skf->SKF_RSASignData(rsa, const_cast<BYTE*>(digestInfo.data()), digestInfo.size(), signature.data(),
                                       &size),
                  "RSASignData");
            benchmark::DoNotOptimize(signature.data());
        }
    }

    // A benchmark's loop of SM2 signatures over a 32-byte digest.
    void signSm2(benchmark::State& state, const std::vector<uint8_t>& digest) const
    {
        for (auto _ : state) {
            ECCSIGNATUREBLOB signature{};
            check(skf->SKF_ECCSignData(sm2, const_cast<BYTE*>(digest.data()), digest.size(), &signature),
                  "ECCSignData");
            benchmark::DoNotOptimize(signature);
        }
    }
};

// Answers the token's challenge with the default device key, SM4-ECB.
inline void authenticate(const test::SkfDriver& skf, DEVHANDLE device)
{
    uint8_t challenge[16] = {};
    check(skf.SKF_GenRandom(device, challenge, 8), "GenRandom");
    const uint8_t key[] = "1234567812345678";
    uint8_t answer[32];
    int written = 0;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, EVP_sm4_ecb(), nullptr, key, nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, answer, &written, challenge, 16);
    EVP_CIPHER_CTX_free(ctx);
    check(skf.SKF_DevAuth(device, answer, 16), "DevAuth");
}

inline int removeEntry(const char* path, const struct stat*, int, FTW*)
{
    return remove(path);
}

// Points SOFTSKF_DIR at a fresh folder made from the mkdtemp pattern, runs prepare and
// then the benchmarks, runs finish whatever happened, and removes the folder. A failure
// is reported on standard error under the program's name and gives exit status 1.
inline int runInFreshStore(int argc, char** argv, std::string pattern, const char* program,
                           const std::function<void()>& prepare, const std::function<void()>& finish = {})
{
    if (!mkdtemp(pattern.data())) {
        return 1;
    }
    setenv("SOFTSKF_DIR", pattern.c_str(), 1);
    int status = 0;
    try {
        prepare();
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", program, error.what());
        status = 1;
    }
    if (finish) {
        finish();
    }
    nftw(pattern.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
    return status;
}

} // namespace softskf::bench
