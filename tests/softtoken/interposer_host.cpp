// A host program that exports SKF functions of its own, as a client built against another
// driver might. The soft token's calls between its own functions must stay inside it:
// SKF_ExtECCVerify checks through the token's SKF_ECCVerify, never the host's.
#include "skf/skfapi.h"

#include <cstdio>
#include <dlfcn.h>

namespace {
bool g_hostCalled = false;
constexpr ULONG kHostAnswer = 0x0BADF00D;
} // namespace

extern "C" __attribute__((visibility("default"))) ULONG SKF_ECCVerify(DEVHANDLE, ECCPUBLICKEYBLOB*, BYTE*, ULONG,
                                                                      ECCSIGNATUREBLOB*)
{
    g_hostCalled = true;
    return kHostAnswer;
}

int main(int argc, char** argv)
{
    const char* path = argc > 1 ? argv[1] : SOFTSKF_DEFAULT_TEST_DRIVER;
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
        return 2;
    }
    using Verify = ULONG (*)(DEVHANDLE, ECCPUBLICKEYBLOB*, BYTE*, ULONG, ECCSIGNATUREBLOB*);
    auto extVerify = reinterpret_cast<Verify>(dlsym(library, "SKF_ExtECCVerify"));
    if (!extVerify) {
        std::fprintf(stderr, "no SKF_ExtECCVerify in %s\n", path);
        return 2;
    }
    ECCPUBLICKEYBLOB key{};
    ECCSIGNATUREBLOB signature{};
    BYTE digest[32] = {};
    const ULONG rc = extVerify(nullptr, &key, digest, sizeof digest, &signature);
    if (g_hostCalled || rc == kHostAnswer) {
        std::fprintf(stderr, "the driver's internal call reached the host's SKF_ECCVerify\n");
        return 1;
    }
    std::printf("the driver kept its own call (0x%08lx)\n", static_cast<unsigned long>(rc));
    return 0;
}
