// Arbitrary attribute templates, mechanisms with their parameters, data and PINs through the
// PKCS#11 module's C entry points, over the scriptable fake driver holding an RSA and an SM2
// container. The input is a little program: each step's first byte picks the call, the
// following bytes give its template or parameter. The module must answer every step with a
// return value and never read or write outside what the caller handed it.
#include "fakeskf_control.h"
#include "skfp11.h"

#include <p11-kit/pkcs11.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

class Reader
{
public:
    Reader(const uint8_t* data, size_t size)
        : m_data(data)
        , m_size(size)
    {
    }
    bool empty() const { return m_at >= m_size; }
    uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    CK_ULONG ulong()
    {
        CK_ULONG value = 0;
        for (int i = 0; i < 4; ++i) {
            value = value << 8 | byte();
        }
        return value;
    }
    std::vector<uint8_t> bytes(size_t count)
    {
        std::vector<uint8_t> out;
        while (count-- > 0) {
            out.push_back(byte());
        }
        return out;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

const CK_ATTRIBUTE_TYPE kTypes[] = {CKA_CLASS,
                                    CKA_TOKEN,
                                    CKA_PRIVATE,
                                    CKA_LABEL,
                                    CKA_ID,
                                    CKA_VALUE,
                                    CKA_KEY_TYPE,
                                    CKA_CERTIFICATE_TYPE,
                                    CKA_MODULUS,
                                    CKA_MODULUS_BITS,
                                    CKA_EC_PARAMS,
                                    CKA_EC_POINT,
                                    CKA_SUBJECT,
                                    CKA_ISSUER,
                                    CKA_SIGN,
                                    CKA_PRIVATE_EXPONENT,
                                    CKA_PUBLIC_EXPONENT,
                                    CKA_SERIAL_NUMBER};
const CK_MECHANISM_TYPE kMechanisms[]
    = {CKM_RSA_PKCS,       CKM_SHA1_RSA_PKCS,   CKM_SHA256_RSA_PKCS,       CKM_SHA_1,
       CKM_SHA256,         CKM_SKF_SM2,         CKM_SKF_SM3_SM2,           CKM_SKF_SM3,
       CKM_SKF_SM2_CIPHER, CKM_EC_KEY_PAIR_GEN, CKM_RSA_PKCS_KEY_PAIR_GEN, CKM_SKF_SM2_KEY_PAIR_GEN};

// A template whose values live in `storage`; lengths always match what was allocated.
struct Template
{
    std::vector<std::vector<uint8_t>> storage;
    std::vector<CK_ATTRIBUTE> attributes;
};

Template readTemplate(Reader& in, bool forOutput)
{
    Template out;
    const size_t count = in.byte() % 6;
    out.storage.resize(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t pick = in.byte();
        const CK_ATTRIBUTE_TYPE type = pick < 0xf0 ? kTypes[pick % (sizeof kTypes / sizeof kTypes[0])] : in.ulong();
        const size_t size = in.byte() % 300;
        out.storage[i] = forOutput ? std::vector<uint8_t>(size, 0xEE) : in.bytes(size);
        const bool nullValue = forOutput && (pick & 1);
        out.attributes.push_back({type, nullValue ? nullptr : out.storage[i].data(), size});
    }
    return out;
}

CK_MECHANISM readMechanism(Reader& in, std::vector<uint8_t>& parameter)
{
    const uint8_t pick = in.byte();
    const CK_MECHANISM_TYPE type
        = pick < 0xf0 ? kMechanisms[pick % (sizeof kMechanisms / sizeof kMechanisms[0])] : in.ulong();
    parameter = in.bytes(in.byte() % 40);
    return {type, parameter.empty() ? nullptr : parameter.data(), parameter.size()};
}

void scriptDriver()
{
    FakeSkf_Reset();
    DEVINFO info{};
    std::strcpy(reinterpret_cast<char*>(info.Label), "Fuzz");
    info.AlgAsymCap = SGD_RSA | SGD_SM2_1;
    info.AlgHashCap = SGD_SM3 | SGD_SHA1 | SGD_SHA256;
    FakeSkf_SetDevInfo(&info);
    FakeSkf_SetDeviceList("DEV\0", 5, -1);
    FakeSkf_SetApplicationList("APP\0", 5, -1);
    FakeSkf_SetContainerList("RSA\0SM2\0", 9, -1);
    FakeSkf_SetContainerType("RSA", CONTAINER_TYPE_RSA, SAR_OK);
    FakeSkf_SetContainerType("SM2", CONTAINER_TYPE_ECC, SAR_OK);
    RSAPUBLICKEYBLOB rsa{};
    rsa.AlgID = SGD_RSA;
    rsa.BitLen = 2048;
    std::memset(rsa.Modulus, 0xC5, sizeof rsa.Modulus);
    rsa.PublicExponent[1] = rsa.PublicExponent[3] = 1;
    FakeSkf_SetPublicKey("RSA", TRUE, reinterpret_cast<const BYTE*>(&rsa), sizeof rsa);
    ECCPUBLICKEYBLOB ecc{};
    ecc.BitLen = 256;
    std::memset(ecc.XCoordinate + 32, 0x11, 32);
    std::memset(ecc.YCoordinate + 32, 0x22, 32);
    FakeSkf_SetPublicKey("SM2", TRUE, reinterpret_cast<const BYTE*>(&ecc), sizeof ecc);
    FakeSkf_SetPublicKey("SM2", FALSE, reinterpret_cast<const BYTE*>(&ecc), sizeof ecc);
    FakeSkf_SetPinInfo(USER_TYPE, 10, 10, FALSE);
    FakeSkf_SetPinInfo(ADMIN_TYPE, 10, 10, FALSE);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool scripted = [] {
        setenv("SKFP11_DRIVER", FAKE_SCRIPTED_DRIVER, 1);
        scriptDriver();
        return true;
    }();
    (void)scripted;
    CK_FUNCTION_LIST* module = nullptr;
    if (C_GetFunctionList(&module) != CKR_OK || module->C_Initialize(nullptr) != CKR_OK) {
        abort();
    }
    CK_SLOT_ID slot = 0;
    CK_ULONG slots = 1;
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    if (module->C_GetSlotList(CK_TRUE, &slot, &slots) != CKR_OK || slots != 1
        || module->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session) != CKR_OK) {
        abort();
    }
    Reader in(data, size);
    for (int step = 0; step < 16 && !in.empty(); ++step) {
        const uint8_t op = in.byte();
        const CK_OBJECT_HANDLE object = in.byte() % 12;
        std::vector<uint8_t> parameter, buffer;
        switch (op % 9) {
        case 0: {
            Template wanted = readTemplate(in, false);
            if (module->C_FindObjectsInit(session, wanted.attributes.data(), wanted.attributes.size()) == CKR_OK) {
                CK_OBJECT_HANDLE found[3];
                CK_ULONG count = 0;
                module->C_FindObjects(session, found, in.byte() % 4, &count);
                module->C_FindObjectsFinal(session);
            }
            break;
        }
        case 1: {
            Template query = readTemplate(in, true);
            module->C_GetAttributeValue(session, object, query.attributes.data(), query.attributes.size());
            break;
        }
        case 2:
        case 3: {
            const CK_MECHANISM mechanism = readMechanism(in, parameter);
            CK_MECHANISM copy = mechanism;
            buffer = in.bytes(in.byte());
            std::vector<uint8_t> output(in.byte() % 300);
            CK_ULONG outputSize = output.size();
            if (op % 9 == 2 && module->C_SignInit(session, &copy, object) == CKR_OK) {
                module->C_Sign(session, buffer.data(), buffer.size(), (in.byte() & 1) ? output.data() : nullptr,
                               &outputSize);
                // A size query wrote the needed size back; the buffer is still the one we have.
                outputSize = output.size();
                module->C_SignFinal(session, output.data(), &outputSize);
            } else if (op % 9 == 3 && module->C_VerifyInit(session, &copy, object) == CKR_OK) {
                module->C_Verify(session, buffer.data(), buffer.size(), output.data(), output.size());
            }
            break;
        }
        case 4: {
            const CK_MECHANISM mechanism = readMechanism(in, parameter);
            CK_MECHANISM copy = mechanism;
            buffer = in.bytes(in.byte());
            std::vector<uint8_t> output(in.byte() % 64);
            CK_ULONG outputSize = output.size();
            if (module->C_DigestInit(session, &copy) == CKR_OK) {
                module->C_DigestUpdate(session, buffer.data(), buffer.size());
                module->C_DigestFinal(session, output.data(), &outputSize);
            }
            break;
        }
        case 5: {
            Template created = readTemplate(in, false);
            CK_OBJECT_HANDLE handle = 0;
            module->C_CreateObject(session, created.attributes.data(), created.attributes.size(), &handle);
            break;
        }
        case 6: {
            const CK_MECHANISM mechanism = readMechanism(in, parameter);
            CK_MECHANISM copy = mechanism;
            Template publicTemplate = readTemplate(in, false);
            Template privateTemplate = readTemplate(in, false);
            CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
            module->C_GenerateKeyPair(session, &copy, publicTemplate.attributes.data(),
                                      publicTemplate.attributes.size(), privateTemplate.attributes.data(),
                                      privateTemplate.attributes.size(), &publicKey, &privateKey);
            break;
        }
        case 7: {
            buffer = in.bytes(in.byte() % 24);
            module->C_Login(session, in.byte() % 3, buffer.data(), buffer.size());
            break;
        }
        default:
            module->C_DestroyObject(session, object);
            module->C_Logout(session);
            break;
        }
    }
    module->C_Finalize(nullptr);
    return 0;
}
