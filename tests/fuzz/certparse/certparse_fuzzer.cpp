// Fuzzes what a token hands over as its certificate: the bytes after the first one are the
// exported certificate, the first byte says whether it sits in the encryption or signature
// slot and whether a second container holds it too. certValid must close every handle it
// opened, and getCertName must keep the name inside its 128-byte buffer.
#include "cert_parse.h"

#include "cdevmgr.h"
#include "fakeskf_control.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    cDevMgr::setDriverPath(FAKE_SCRIPTED_DRIVER);
    if (cDevMgr::getInst()->Initialize() != 0) {
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) {
        return 0;
    }
    const uint8_t flags = data[0];
    const BOOL sign = (flags & 1) ? TRUE : FALSE;
    const BYTE* certificate = data + 1;
    const unsigned length = static_cast<unsigned>(size - 1);

    FakeSkf_Reset();
    FakeSkf_SetApplicationList("APP\0\0", 5, -1);
    FakeSkf_SetContainerList("C1\0C2\0\0", 7, -1);
    FakeSkf_SetCertificate("C1", sign, certificate, length);
    if (flags & 2) {
        FakeSkf_SetCertificate("C2", !sign, certificate, length);
    }

    std::int64_t secondsLeft = 0;
    certParse().certValid("FUZZ", &secondsLeft);
    if (FakeSkf_OpenHandleCount() != 0) {
        __builtin_trap(); // certValid left a handle open
    }

    cDevMgr* manager = cDevMgr::getInst();
    manager->OpenContainer("C1");
    // Exactly the size the container view gives it, on the heap, so any overrun is caught.
    std::unique_ptr<char[]> name(new char[cDevMgr::CertNameSize]());
    if (manager->getCertName(sign, name.get(), cDevMgr::CertNameSize) == 0
        && std::memchr(name.get(), '\0', cDevMgr::CertNameSize) == nullptr) {
        __builtin_trap(); // a name without its terminator
    }
    FakeSkf_Reset(); // frees the container handle the manager still holds
    return 0;
}
