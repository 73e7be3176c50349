// What both soft-token benchmark programs share: a failed SKF call as an exception, the
// device authentication that creating an application needs, and a run of the benchmarks
// in a fresh store folder that is removed afterwards.
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

namespace softskf::bench {

inline void check(ULONG rc, const char* what)
{
    if (rc != SAR_OK) {
        throw std::runtime_error(std::string(what) + " failed: " + std::to_string(rc));
    }
}

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
