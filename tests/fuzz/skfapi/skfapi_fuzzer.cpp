// Drives the soft token's exported SKF functions with call sequences read from the input.
// Each step is an opcode byte and its arguments; handles come from a pool that holds live
// handles of every kind, closed ones, a foreign pointer, null and made-up values, so calls
// meet stale, foreign and wrong-kind handles as well as good ones. Blobs are as long as
// their own length fields say (a caller's buffer is never shorter than it claims), and
// every output buffer is exactly as long as the length passed with it, so an overrun hits
// AddressSanitizer. The PINs stay known: a step may try wrong ones, but never changes them.
#include "skf/skfapi.h"

#include "admin/tokenadmin.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

const char kSerial[] = "FUZZ0001";
const char kDevice[] = "VK-FUZZ0001";
const char kSoPin[] = "87654321";
const char kUserPin[] = "12345678";
const uint8_t kAuthKey[16] = {'1', '2', '3', '4', '5', '6', '7', '8', '1', '2', '3', '4', '5', '6', '7', '8'};
constexpr size_t kMaxSteps = 48;
constexpr size_t kMaxPool = 24;
constexpr ULONG kMaxBuffer = 4096;

// Reads the input front to back; past its end every read gives zeros.
class Input
{
public:
    Input(const uint8_t* data, size_t size)
        : m_data(data)
        , m_size(size)
    {
    }
    bool done() const { return m_at >= m_size; }
    uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    uint32_t u16() { return static_cast<uint32_t>(byte()) | static_cast<uint32_t>(byte()) << 8; }
    uint32_t u32() { return u16() | u16() << 16; }
    std::vector<uint8_t> bytes(size_t count)
    {
        std::vector<uint8_t> out(count);
        for (auto& value : out) {
            value = byte();
        }
        return out;
    }
    // A length: mostly small, sometimes an edge.
    ULONG length(ULONG limit = kMaxBuffer)
    {
        switch (byte() & 7) {
        case 0:
            return 0;
        case 1:
            return 16;
        case 2:
            return 32;
        case 3:
            return u16() % (limit + 1);
        default:
            return byte() % (limit + 1);
        }
    }
    std::string text()
    {
        const size_t size = byte() % 40;
        std::string out;
        for (size_t i = 0; i < size; ++i) {
            const char c = static_cast<char>(byte());
            out.push_back(c == 0 ? 'x' : c);
        }
        return out;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

// A heap buffer of exactly the length handed with it, or null.
struct OutBuffer
{
    std::vector<uint8_t> storage;
    ULONG length = 0;
    bool null = false;
    static OutBuffer from(Input& in)
    {
        OutBuffer out;
        const uint8_t mode = in.byte();
        out.null = (mode & 3) == 0;
        out.length = in.length();
        out.storage.resize(out.length);
        return out;
    }
    BYTE* data() { return null ? nullptr : (storage.empty() ? reinterpret_cast<BYTE*>(this) : storage.data()); }
};

// An ECCCIPHERBLOB (alone or inside an envelope) with as many Cipher bytes as it declares.
std::vector<uint8_t> cipherBlobBytes(Input& in, size_t prefix)
{
    const ULONG cipherLen = in.length(300);
    std::vector<uint8_t> blob(prefix + sizeof(ECCCIPHERBLOB) + cipherLen);
    for (size_t i = 0; i < prefix + offsetof(ECCCIPHERBLOB, CipherLen); ++i) {
        blob[i] = in.byte();
    }
    // The length field the library reads: usually the real one, sometimes a lie downwards.
    const ULONG declared = (in.byte() & 1) ? cipherLen : cipherLen / 2;
    std::memcpy(blob.data() + prefix + offsetof(ECCCIPHERBLOB, CipherLen), &declared, sizeof declared);
    for (size_t i = prefix + offsetof(ECCCIPHERBLOB, Cipher); i < blob.size(); ++i) {
        blob[i] = in.byte();
    }
    return blob;
}

template <typename Blob> Blob blobFrom(Input& in)
{
    Blob blob{};
    auto* raw = reinterpret_cast<uint8_t*>(&blob);
    const uint8_t mode = in.byte();
    // Mostly zeros with a few fields set, so the algorithm and length fields get hit.
    for (size_t i = 0; i < sizeof blob; ++i) {
        raw[i] = (mode & 1) || i < 8 ? in.byte() : 0;
    }
    return blob;
}

ULONG algorithm(Input& in)
{
    static const ULONG known[]
        = {SGD_SM4_ECB, SGD_SM4_CBC, SGD_SM4_CFB, SGD_SM4_OFB, SGD_SM4_MAC, SGD_SM1_ECB, SGD_SM3,    SGD_SHA1,
           SGD_SHA256,  SGD_SM2_1,   SGD_SM2_2,   SGD_SM2_3,   SGD_RSA,     0,           0xFFFFFFFFu};
    const uint8_t pick = in.byte();
    return pick < 240 ? known[pick % (sizeof known / sizeof known[0])] : in.u32();
}

class Session
{
public:
    void setUp()
    {
        m_pool.clear();
        m_pool.push_back(nullptr);
        m_pool.push_back(&m_foreign);
        m_pool.push_back(reinterpret_cast<HANDLE>(0x10));
        m_pool.push_back(reinterpret_cast<HANDLE>(~uintptr_t{0}));
        m_pool.insert(m_pool.end(), m_stale.begin(), m_stale.end());
        DEVHANDLE device = nullptr;
        if (SKF_ConnectDev(const_cast<char*>(kDevice), &device) != SAR_OK) {
            std::abort();
        }
        m_devices.push_back(device);
        add(device);
        HAPPLICATION app = nullptr;
        if (SKF_OpenApplication(device, const_cast<char*>("APP"), &app) != SAR_OK) {
            std::abort();
        }
        add(app);
        for (const char* name : {"SM2", "RSA"}) {
            HCONTAINER container = nullptr;
            if (SKF_OpenContainer(app, const_cast<char*>(name), &container) == SAR_OK) {
                add(container);
                m_sm2 = std::strcmp(name, "SM2") == 0 ? container : m_sm2;
            }
        }
        // Most inputs start logged in; a verification costs a key derivation, so only
        // when the last input ended the login.
        uint8_t digest[32] = {};
        ECCSIGNATUREBLOB signature;
        if (SKF_ECCSignData(m_sm2, digest, sizeof digest, &signature) == SAR_USER_NOT_LOGGED_IN) {
            ULONG retries = 0;
            SKF_VerifyPIN(app, USER_TYPE, const_cast<char*>(kUserPin), &retries);
        }
    }

    // Leaves the token plugged in, the PIN counters full and no handle open.
    void tearDown()
    {
        for (DEVHANDLE handle : m_devices) {
            SKF_DisConnectDev(handle); // closes everything below it
        }
        m_devices.clear();
        ULONG state = 0;
        if (SKF_GetDevState(const_cast<char*>(kDevice), &state) != SAR_OK || state != DEV_PRESENT_STATE) {
            try {
                softskf::admin::insertToken(kSerial, kDevice);
            } catch (const std::exception&) {
                std::abort();
            }
        }
        DEVHANDLE device = nullptr;
        HAPPLICATION app = nullptr;
        if (SKF_ConnectDev(const_cast<char*>(kDevice), &device) != SAR_OK
            || SKF_OpenApplication(device, const_cast<char*>("APP"), &app) != SAR_OK) {
            std::abort();
        }
        for (ULONG type : {ADMIN_TYPE, USER_TYPE}) {
            ULONG max = 0;
            ULONG left = 0;
            BOOL isDefault = 0;
            if (SKF_GetPINInfo(app, type, &max, &left, &isDefault) == SAR_OK && left < max) {
                ULONG retries = 0;
                SKF_VerifyPIN(app, type, const_cast<char*>(type == ADMIN_TYPE ? kSoPin : kUserPin), &retries);
            }
        }
        SKF_DisConnectDev(device);
        // Keep a few closed handles for the next input to meet.
        if (m_pool.size() > 4) {
            m_stale.assign(m_pool.begin() + 4, m_pool.begin() + static_cast<long>(std::min<size_t>(m_pool.size(), 8)));
        }
    }

    HANDLE pick(Input& in) { return m_pool[in.byte() % m_pool.size()]; }

    void add(HANDLE handle)
    {
        if (!handle) {
            return;
        }
        if (m_pool.size() >= kMaxPool) {
            m_pool[4 + m_pool.size() % (kMaxPool - 4)] = handle;
        } else {
            m_pool.push_back(handle);
        }
    }

    void step(Input& in);

private:
    void pin(Input& in, std::string& value, const char* good)
    {
        value = (in.byte() & 1) ? std::string(good) : in.text();
    }

    int m_foreign = 0;
    std::vector<HANDLE> m_pool;
    std::vector<HANDLE> m_stale;
    std::vector<DEVHANDLE> m_devices;
    HCONTAINER m_sm2 = nullptr;
};

void Session::step(Input& in)
{
    const uint8_t op = in.byte();
    HANDLE h = pick(in);
    ULONG retries = 0;
    switch (op % 48) {
    case 0: {
        DEVINFO info;
        SKF_GetDevInfo(h, in.byte() ? &info : nullptr);
        break;
    }
    case 1: {
        std::string label = in.text();
        SKF_SetLabel(h, label.data());
        break;
    }
    case 2: {
        auto out = OutBuffer::from(in);
        SKF_GenRandom(h, out.data(), out.length);
        break;
    }
    case 3: {
        // Half the time the right answer to a fresh challenge.
        std::vector<uint8_t> answer = in.bytes(16);
        ULONG size = (in.byte() & 1) ? 16 : in.length(16);
        uint8_t challenge[16] = {};
        if (in.byte() & 1 && SKF_GenRandom(h, challenge, 8) == SAR_OK) {
            HANDLE key = nullptr;
            if (SKF_SetSymmKey(h, const_cast<BYTE*>(kAuthKey), SGD_SM4_ECB, &key) == SAR_OK) {
                SKF_EncryptInit(key, BLOCKCIPHERPARAM{});
                ULONG length = 16;
                std::memset(challenge + 8, 0, 8);
                SKF_Encrypt(key, challenge, 16, answer.data(), &length);
                SKF_CloseHandle(key);
            }
        }
        SKF_DevAuth(h, answer.data(), std::min<ULONG>(size, 16));
        break;
    }
    case 4: {
        auto out = OutBuffer::from(in);
        ULONG size = out.length;
        switch (in.byte() % 4) {
        case 0:
            SKF_EnumApplication(h, reinterpret_cast<char*>(out.data()), &size);
            break;
        case 1:
            SKF_EnumFiles(h, reinterpret_cast<char*>(out.data()), &size);
            break;
        case 2:
            SKF_EnumContainer(h, reinterpret_cast<char*>(out.data()), &size);
            break;
        default:
            SKF_EnumDev(in.byte() & 1, reinterpret_cast<char*>(out.data()), &size);
            break;
        }
        break;
    }
    case 5: {
        std::string name = (in.byte() & 1) ? "APP" : in.text();
        HAPPLICATION app = nullptr;
        SKF_OpenApplication(h, name.data(), &app);
        add(app);
        break;
    }
    case 6: {
        std::string name = (in.byte() & 1) ? "B" : "z" + in.text();
        std::string so;
        std::string user;
        pin(in, so, kSoPin);
        pin(in, user, kUserPin);
        HAPPLICATION app = nullptr;
        SKF_CreateApplication(h, name.data(), so.data(), in.byte() % 20, user.data(), in.byte() % 20, in.u32(), &app);
        add(app);
        break;
    }
    case 7: {
        // Never the setup application.
        std::string name = (in.byte() & 1) ? "B" : "z" + in.text();
        SKF_DeleteApplication(h, name.data());
        break;
    }
    case 8: {
        ULONG max = 0;
        ULONG left = 0;
        BOOL isDefault = 0;
        SKF_GetPINInfo(h, in.byte() % 3, &max, &left, &isDefault);
        break;
    }
    case 9: {
        const ULONG type = in.byte() % 3;
        std::string value;
        pin(in, value, type == ADMIN_TYPE ? kSoPin : kUserPin);
        SKF_VerifyPIN(h, type, value.data(), &retries);
        break;
    }
    case 10: {
        // The new PIN is always the old one, so the session keeps its PINs.
        const ULONG type = in.byte() % 3;
        const char* good = type == ADMIN_TYPE ? kSoPin : kUserPin;
        std::string old;
        pin(in, old, good);
        std::string replacement(good);
        SKF_ChangePIN(h, type, old.data(), replacement.data(), &retries);
        break;
    }
    case 11: {
        std::string so;
        pin(in, so, kSoPin);
        std::string user(kUserPin);
        SKF_UnblockPIN(h, so.data(), user.data(), &retries);
        break;
    }
    case 12:
        SKF_ClearSecureState(h);
        break;
    case 13: {
        std::string name = (in.byte() & 1) ? "F" : in.text();
        SKF_CreateFile(h, name.data(), in.length(), in.byte() % 0x20, in.byte() % 0x20);
        break;
    }
    case 14: {
        std::string name = (in.byte() & 1) ? "F" : in.text();
        const ULONG offset = (in.byte() & 1) ? in.u32() : in.length();
        std::vector<uint8_t> data = in.bytes(in.length(512));
        SKF_WriteFile(h, name.data(), offset, data.empty() ? nullptr : data.data(), static_cast<ULONG>(data.size()));
        break;
    }
    case 15: {
        std::string name = (in.byte() & 1) ? "F" : in.text();
        const ULONG offset = (in.byte() & 1) ? in.u32() : in.length();
        auto out = OutBuffer::from(in);
        ULONG size = out.length;
        const ULONG asked = (in.byte() & 1) ? out.length : in.u32();
        SKF_ReadFile(h, name.data(), offset, asked, out.data(), &size);
        break;
    }
    case 16: {
        std::string name = (in.byte() & 1) ? "F" : in.text();
        FILEATTRIBUTE info;
        if (in.byte() & 1) {
            SKF_DeleteFile(h, name.data());
        } else {
            SKF_GetFileInfo(h, name.data(), &info);
        }
        break;
    }
    case 17: {
        static const char* const names[] = {"SM2", "RSA", "X", "Y"};
        std::string name = (in.byte() & 1) ? names[in.byte() % 4] : in.text();
        HCONTAINER container = nullptr;
        if (in.byte() & 1) {
            SKF_CreateContainer(h, name.data(), &container);
        } else {
            SKF_OpenContainer(h, name.data(), &container);
        }
        add(container);
        break;
    }
    case 18: {
        // Never the setup containers.
        std::string name = (in.byte() & 1) ? "X" : "z" + in.text();
        SKF_DeleteContainer(h, name.data());
        break;
    }
    case 19: {
        ECCPUBLICKEYBLOB blob;
        SKF_GenECCKeyPair(h, (in.byte() & 1) ? SGD_SM2_1 : algorithm(in), &blob);
        break;
    }
    case 20: {
        RSAPUBLICKEYBLOB blob;
        // 2048-bit generation is slow; its checks are the same.
        const ULONG bits = (in.byte() & 3) == 0 ? 1024 : in.u16();
        if (bits != 2048) {
            SKF_GenRSAKeyPair(h, bits, &blob);
        }
        break;
    }
    case 21: {
        auto blob = cipherBlobBytes(in, offsetof(ENVELOPEDKEYBLOB, ECCCipherBlob));
        SKF_ImportECCKeyPair(h, reinterpret_cast<ENVELOPEDKEYBLOB*>(blob.data()));
        break;
    }
    case 22: {
        std::vector<uint8_t> wrapped = in.bytes(in.length(300));
        std::vector<uint8_t> encrypted = in.bytes(in.length(1500));
        SKF_ImportRSAKeyPair(h, algorithm(in), wrapped.data(), static_cast<ULONG>(wrapped.size()), encrypted.data(),
                             static_cast<ULONG>(encrypted.size()));
        break;
    }
    case 23: {
        auto out = OutBuffer::from(in);
        ULONG size = out.length;
        const BOOL sign = in.byte() & 1;
        if (in.byte() & 1) {
            SKF_ExportPublicKey(h, sign, out.data(), &size);
        } else {
            SKF_ExportCertificate(h, sign, out.data(), &size);
        }
        break;
    }
    case 24: {
        std::vector<uint8_t> der = in.bytes(in.length(1024));
        SKF_ImportCertificate(h, in.byte() & 1, der.empty() ? nullptr : der.data(), static_cast<ULONG>(der.size()));
        break;
    }
    case 25: {
        std::vector<uint8_t> data = in.bytes((in.byte() & 1) ? 32 : in.length(300));
        if (in.byte() & 1) {
            ECCSIGNATUREBLOB signature;
            SKF_ECCSignData(h, data.data(), static_cast<ULONG>(data.size()), &signature);
        } else {
            auto out = OutBuffer::from(in);
            ULONG size = out.length;
            SKF_RSASignData(h, data.data(), static_cast<ULONG>(data.size()), out.data(), &size);
        }
        break;
    }
    case 26: {
        auto key = blobFrom<ECCPUBLICKEYBLOB>(in);
        auto signature = blobFrom<ECCSIGNATUREBLOB>(in);
        std::vector<uint8_t> data = in.bytes(in.length(64));
        if (in.byte() & 1) {
            SKF_ECCVerify(h, &key, data.data(), static_cast<ULONG>(data.size()), &signature);
        } else {
            SKF_ExtECCVerify(h, &key, data.data(), static_cast<ULONG>(data.size()), &signature);
        }
        break;
    }
    case 27: {
        auto key = blobFrom<RSAPUBLICKEYBLOB>(in);
        std::vector<uint8_t> data = in.bytes(in.length(300));
        std::vector<uint8_t> signature = in.bytes(in.length(300));
        SKF_RSAVerify(h, &key, data.data(), static_cast<ULONG>(data.size()), signature.data(),
                      static_cast<ULONG>(signature.size()));
        break;
    }
    case 28: {
        auto key = blobFrom<ECCPUBLICKEYBLOB>(in);
        // Room for the 16-byte key the function wraps, as its contract has it.
        std::vector<uint8_t> blob(sizeof(ECCCIPHERBLOB) + 16);
        HANDLE session = nullptr;
        SKF_ECCExportSessionKey(h, algorithm(in), &key, reinterpret_cast<ECCCIPHERBLOB*>(blob.data()), &session);
        add(session);
        break;
    }
    case 29: {
        auto key = blobFrom<RSAPUBLICKEYBLOB>(in);
        auto out = OutBuffer::from(in);
        ULONG size = out.length;
        HANDLE session = nullptr;
        SKF_RSAExportSessionKey(h, algorithm(in), &key, out.data(), &size, &session);
        add(session);
        break;
    }
    case 30: {
        std::vector<uint8_t> wrapped = (in.byte() & 1) ? cipherBlobBytes(in, 0) : in.bytes(in.length(300));
        HANDLE session = nullptr;
        SKF_ImportSessionKey(h, algorithm(in), wrapped.data(), static_cast<ULONG>(wrapped.size()), &session);
        add(session);
        break;
    }
    case 31: {
        std::vector<uint8_t> key = in.bytes(16);
        HANDLE session = nullptr;
        SKF_SetSymmKey(h, key.data(), algorithm(in), &session);
        add(session);
        break;
    }
    case 32: {
        auto param = blobFrom<BLOCKCIPHERPARAM>(in);
        if (in.byte() & 1) {
            param.IVLen = 16;
            param.FeedBitLen = (in.byte() & 1) ? 8 : param.FeedBitLen;
            param.PaddingType %= 2;
        }
        if (in.byte() & 1) {
            SKF_EncryptInit(h, param);
        } else {
            SKF_DecryptInit(h, param);
        }
        break;
    }
    case 33: {
        std::vector<uint8_t> data = in.bytes(in.length(300));
        auto out = OutBuffer::from(in);
        ULONG size = out.length;
        BYTE* input = data.empty() ? nullptr : data.data();
        const auto length = static_cast<ULONG>(data.size());
        switch (in.byte() % 6) {
        case 0:
            SKF_Encrypt(h, input, length, out.data(), &size);
            break;
        case 1:
            SKF_EncryptUpdate(h, input, length, out.data(), &size);
            break;
        case 2:
            SKF_EncryptFinal(h, out.data(), &size);
            break;
        case 3:
            SKF_Decrypt(h, input, length, out.data(), &size);
            break;
        case 4:
            SKF_DecryptUpdate(h, input, length, out.data(), &size);
            break;
        default:
            SKF_DecryptFinal(h, out.data(), &size);
            break;
        }
        break;
    }
    case 34: {
        auto key = blobFrom<ECCPUBLICKEYBLOB>(in);
        std::vector<uint8_t> id = in.bytes(in.length(64));
        HANDLE hash = nullptr;
        SKF_DigestInit(h, algorithm(in), (in.byte() & 1) ? &key : nullptr, id.empty() ? nullptr : id.data(),
                       static_cast<ULONG>(id.size()), &hash);
        add(hash);
        break;
    }
    case 35: {
        std::vector<uint8_t> data = in.bytes(in.length(300));
        auto out = OutBuffer::from(in);
        ULONG size = out.length;
        BYTE* input = data.empty() ? nullptr : data.data();
        const auto length = static_cast<ULONG>(data.size());
        switch (in.byte() % 6) {
        case 0:
            SKF_Digest(h, input, length, out.data(), &size);
            break;
        case 1:
            SKF_DigestUpdate(h, input, length);
            break;
        case 2:
            SKF_DigestFinal(h, out.data(), &size);
            break;
        case 3:
            SKF_Mac(h, input, length, out.data(), &size);
            break;
        case 4:
            SKF_MacUpdate(h, input, length);
            break;
        default:
            SKF_MacFinal(h, out.data(), &size);
            break;
        }
        break;
    }
    case 36: {
        auto param = blobFrom<BLOCKCIPHERPARAM>(in);
        HANDLE mac = nullptr;
        SKF_MacInit(h, (in.byte() & 7) ? &param : nullptr, &mac);
        add(mac);
        break;
    }
    case 37: {
        ECCPUBLICKEYBLOB temp;
        std::vector<uint8_t> id = in.bytes(in.length(64));
        HANDLE agreement = nullptr;
        SKF_GenerateAgreementDataWithECC(h, algorithm(in), &temp, id.empty() ? nullptr : id.data(),
                                         static_cast<ULONG>(id.size()), &agreement);
        add(agreement);
        break;
    }
    case 38: {
        auto key = blobFrom<ECCPUBLICKEYBLOB>(in);
        auto temp = blobFrom<ECCPUBLICKEYBLOB>(in);
        std::vector<uint8_t> id = in.bytes(in.length(64));
        std::vector<uint8_t> otherId = in.bytes(in.length(64));
        HANDLE key2 = nullptr;
        if (in.byte() & 1) {
            ECCPUBLICKEYBLOB mine;
            SKF_GenerateAgreementDataAndKeyWithECC(h, algorithm(in), &key, &temp, &mine, id.data(),
                                                   static_cast<ULONG>(id.size()), otherId.data(),
                                                   static_cast<ULONG>(otherId.size()), &key2);
        } else {
            SKF_GenerateKeyWithECC(h, &key, &temp, id.data(), static_cast<ULONG>(id.size()), &key2);
        }
        add(key2);
        break;
    }
    case 39: {
        auto key = blobFrom<ECCPUBLICKEYBLOB>(in);
        std::vector<uint8_t> plain = in.bytes(in.length(200));
        // The caller sizes the blob for as many Cipher bytes as there are plain bytes.
        std::vector<uint8_t> blob(sizeof(ECCCIPHERBLOB) + plain.size());
        SKF_ExtECCEncrypt(h, &key, plain.data(), static_cast<ULONG>(plain.size()),
                          reinterpret_cast<ECCCIPHERBLOB*>(blob.data()));
        break;
    }
    case 40: {
        auto key = blobFrom<ECCPRIVATEKEYBLOB>(in);
        auto cipher = cipherBlobBytes(in, 0);
        auto out = OutBuffer::from(in);
        ULONG size = out.length;
        if (in.byte() & 1) {
            SKF_ExtECCDecrypt(h, &key, reinterpret_cast<ECCCIPHERBLOB*>(cipher.data()), out.data(), &size);
        } else {
            ECCSIGNATUREBLOB signature;
            std::vector<uint8_t> data = in.bytes((in.byte() & 1) ? 32 : in.length(64));
            SKF_ExtECCSign(h, &key, data.data(), static_cast<ULONG>(data.size()), &signature);
        }
        break;
    }
    case 41: {
        std::vector<uint8_t> input = in.bytes(in.length(300));
        auto out = OutBuffer::from(in);
        ULONG size = out.length;
        if (in.byte() & 1) {
            auto key = blobFrom<RSAPUBLICKEYBLOB>(in);
            SKF_ExtRSAPubKeyOperation(h, &key, input.data(), static_cast<ULONG>(input.size()), out.data(), &size);
        } else {
            auto key = blobFrom<RSAPRIVATEKEYBLOB>(in);
            SKF_ExtRSAPriKeyOperation(h, &key, input.data(), static_cast<ULONG>(input.size()), out.data(), &size);
        }
        break;
    }
    case 42: {
        // Closing, of whatever kind the handle is.
        switch (in.byte() % 4) {
        case 0:
            SKF_CloseHandle(h);
            break;
        case 1:
            SKF_CloseContainer(h);
            break;
        case 2:
            SKF_CloseApplication(h);
            break;
        default:
            SKF_DisConnectDev(h);
            break;
        }
        break;
    }
    case 43:
        // The token pulled out and plugged in again: every handle so far is of a pulled token.
        try {
            softskf::admin::removeToken(kDevice);
            if (in.byte() & 1) {
                softskf::admin::insertToken(kSerial, kDevice);
            }
        } catch (...) {
        }
        break;
    case 44: {
        std::string name = (in.byte() & 1) ? kDevice : in.text();
        if (in.byte() & 1) {
            DEVHANDLE device = nullptr;
            if (SKF_ConnectDev(name.data(), &device) == SAR_OK) {
                m_devices.push_back(device);
                add(device);
            }
        } else {
            ULONG state = 0;
            SKF_GetDevState(name.data(), &state);
        }
        break;
    }
    case 45:
        if (in.byte() & 1) {
            SKF_LockDev(h, 0);
        } else {
            SKF_UnlockDev(h);
        }
        break;
    case 46: {
        ULONG type = 0;
        ContainerInfo info;
        if (in.byte() & 1) {
            SKF_GetContainerType(h, &type);
        } else {
            SKF_ExtGetContainerInfo(h, &info);
        }
        break;
    }
    default: {
        // The same key again, so later inputs still authenticate; the buffer holds as many
        // bytes as the length claims.
        std::vector<uint8_t> key(kAuthKey, kAuthKey + 16);
        const ULONG length = (in.byte() & 1) ? 16 : in.length(32);
        key.resize(std::max<size_t>(length, 16));
        SKF_ChangeDevAuthKey(h, key.data(), length);
        RSAPRIVATEKEYBLOB blob;
        if (in.byte() == 0x5a) {
            SKF_GenExtRSAKey(h, 1024, &blob); // slow: rarely
        }
        break;
    }
    }
}

Session g_session;

void setUpStore()
{
    // A store of its own, in memory when it can be: every change is a synchronous commit.
    std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm/skfapi-fuzz-XXXXXX" : "/tmp/skfapi-fuzz-XXXXXX";
    if (!mkdtemp(dir.data())) {
        std::abort();
    }
    setenv("SOFTSKF_DIR", dir.c_str(), 1);
    softskf::admin::TokenOptions options;
    options.serial = kSerial;
    options.capacityBytes = 64 * 1024;
    softskf::admin::createToken(options);
    softskf::admin::insertToken(kSerial, kDevice);

    DEVHANDLE device = nullptr;
    if (SKF_ConnectDev(const_cast<char*>(kDevice), &device) != SAR_OK) {
        std::abort();
    }
    // Device authentication: SM4-ECB of the zero-padded challenge under the default key.
    uint8_t challenge[16] = {};
    SKF_GenRandom(device, challenge, 8);
    HANDLE key = nullptr;
    SKF_SetSymmKey(device, const_cast<BYTE*>(kAuthKey), SGD_SM4_ECB, &key);
    SKF_EncryptInit(key, BLOCKCIPHERPARAM{});
    uint8_t answer[16];
    ULONG size = sizeof answer;
    SKF_Encrypt(key, challenge, 16, answer, &size);
    SKF_CloseHandle(key);
    HAPPLICATION app = nullptr;
    if (SKF_DevAuth(device, answer, 16) != SAR_OK
        || SKF_CreateApplication(device, const_cast<char*>("APP"), const_cast<char*>(kSoPin), 255,
                                 const_cast<char*>(kUserPin), 255, SECURE_ANYONE_ACCOUNT, &app)
            != SAR_OK) {
        std::abort();
    }
    ULONG retries = 0;
    SKF_VerifyPIN(app, USER_TYPE, const_cast<char*>(kUserPin), &retries);
    HCONTAINER sm2 = nullptr;
    HCONTAINER rsa = nullptr;
    ECCPUBLICKEYBLOB eccBlob;
    RSAPUBLICKEYBLOB rsaBlob;
    if (SKF_CreateContainer(app, const_cast<char*>("SM2"), &sm2) != SAR_OK
        || SKF_GenECCKeyPair(sm2, SGD_SM2_1, &eccBlob) != SAR_OK
        || SKF_CreateContainer(app, const_cast<char*>("RSA"), &rsa) != SAR_OK
        || SKF_GenRSAKeyPair(rsa, 1024, &rsaBlob) != SAR_OK) {
        std::abort();
    }
    SKF_DisConnectDev(device);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setUpStore();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in(data, size);
    g_session.setUp();
    for (size_t steps = 0; steps < kMaxSteps && !in.done(); ++steps) {
        g_session.step(in);
    }
    g_session.tearDown();
    return 0;
}
