// Devices: listing, connecting, device information, label, locking, random bytes,
// device authentication and hot-plug events.
#include "Core.h"

#include "Sessions.h"
#include "crypto/Crypto.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace softskf::core {

namespace {

constexpr size_t kDevAuthKeySize = 16;
constexpr size_t kChallengeSize = 8;
constexpr size_t kLongChallengeSize = 16;
constexpr size_t kMaxLabelSize = sizeof(DEVINFO::Label) - 1; // the field keeps its final NUL
constexpr size_t kMaxRandomSize = 1024 * 1024;
constexpr ULONG kWaitForever = 0xFFFFFFFFu;

bool fileExists(const std::string& path)
{
    struct stat info
    {
    };
    return stat(path.c_str(), &info) == 0;
}

void copyText(CHAR* field, size_t fieldSize, const std::string& text)
{
    // Always NUL-terminated, even for a longer text an older version stored.
    std::memset(field, 0, fieldSize);
    std::memcpy(field, text.data(), std::min(fieldSize - 1, text.size()));
}

} // namespace

namespace {
std::atomic<Core*> g_core{nullptr};
// In a forked child, the parent's copy of the token state until the child's first call closes
// it. Not in the fork handler: a child that only execs then never enters SQLite or OpenSSL,
// whose locks a thread of the host program's own may have held at the fork.
std::atomic<Core*> g_inherited{nullptr};
} // namespace

Core& Core::instance()
{
    // Never destroyed: a wait may still be blocked in another thread when statics go.
    static const bool made = [] {
        g_core = new Core;
        pthread_atfork(Core::beforeFork, Core::afterForkInParent, Core::forkedChild);
        return true;
    }();
    (void)made;
    if (g_inherited.load(std::memory_order_relaxed)) {
        delete g_inherited.exchange(nullptr);
    }
    return *g_core.load();
}

// The fork waits for any call in progress, so the child's copy of the store state is whole
// and no thread of the parent is inside SQLite or OpenSSL holding their locks.
void Core::beforeFork()
{
    g_core.load()->m_mutex.lock();
}

void Core::afterForkInParent()
{
    g_core.load()->m_mutex.unlock();
}

// A child starts with a token state of its own, and the parent's handles mean nothing in it,
// as with a token on USB. SQLite connections must not be used across a fork: the child closes
// its copies (which leaves the parent's file locks alone, and the parent's lock keeps the
// -wal in place) so that the connections it opens take real locks of their own. The copy of
// the parent's events is let go without touching its wait lock, which a parent's thread may
// have held; the child's copy of the inotify queue and cancel eventfd are closed.
void Core::forkedChild()
{
    Core* parents = g_core.load();
    parents->m_mutex.unlock();
    parents->m_events.release()->abandon();
    g_core = new Core;
    if (g_inherited.load()) {
        delete parents; // no call since the last fork, so it holds nothing; the older copy is still to close
    } else {
        g_inherited = parents;
    }
}

void Core::shutdown()
{
    Core* core = g_core.load();
    if (!core) {
        return;
    }
    // A call still running in another thread keeps the databases; the next change's
    // checkpoint empties the WAL then.
    std::unique_lock<std::mutex> lock(core->m_mutex, std::try_to_lock);
    if (!lock.owns_lock()) {
        return;
    }
    for (auto it = core->m_tokens.begin(); it != core->m_tokens.end();) {
        if (!it->second.db) {
            it = core->m_tokens.erase(it);
            continue;
        }
        try {
            it->second.db->checkpoint();
        } catch (const std::exception&) {
            // Busy or gone: nothing more to do at unload.
        }
        // Handles still open keep their connection; SQLite closes the others cleanly.
        it = it->second.db.use_count() == 1 ? core->m_tokens.erase(it) : std::next(it);
    }
}

const store::StorePaths& Core::paths()
{
    if (!m_paths) {
        m_paths.emplace(store::defaultStoreDir());
    }
    return *m_paths;
}

const store::StorePaths& Core::checkedPaths()
{
    const auto& storePaths = paths();
    try {
        store::checkStore(storePaths);
    } catch (const store::StoreError&) {
        fail(SAR_FILEERR); // a folder someone else can reach or a planted link: not used
    }
    return storePaths;
}

bool Core::tokenExists(const std::string& serial)
{
    return fileExists(paths().tokenDbPath(serial));
}

std::shared_ptr<store::TokenDb> Core::openToken(const std::string& serial)
{
    const std::string path = paths().tokenDbPath(serial);
    struct stat info
    {
    };
    if (stat(path.c_str(), &info) != 0) {
        fail(SAR_DEVICE_REMOVED);
    }
    // A token deleted and created again under the same serial is another file.
    OpenToken& open = m_tokens[serial];
    if (!open.db || open.inode != info.st_ino) {
        try {
            open.db = std::make_shared<store::TokenDb>(path);
        } catch (const store::StoreError&) {
            m_tokens.erase(serial); // a refused file leaves no half-open entry behind
            fail(SAR_FILEERR);
        }
        open.inode = info.st_ino;
    }
    return open.db;
}

Core::DeviceRef Core::device(HANDLE handle)
{
    auto* session = m_handles.find<DeviceSession>(handle, HandleKind::Device);
    if (!session) {
        fail(SAR_INVALIDHANDLEERR);
    }
    // The serial was read with this identity at connect time; the same identity means
    // the same file, so a stat answers for removal and re-insertion alike. It is needed
    // only when the store may have changed since this handle's last one.
    const uint64_t generation = m_presenceWatch.generation(paths().root(), paths().presentDir());
    if (session->checkedGeneration != generation) {
        if (!store::isSamePresence(session->presencePath, session->insertion)) {
            m_keyCache.clear(); // a pulled token's keys are parsed again after a new login
            fail(SAR_DEVICE_REMOVED);
        }
        session->checkedGeneration = generation;
    }
    session->db->retryPendingCheckpoint();
    return {*session, *session->db};
}

std::vector<std::string> Core::enumDevices(bool presentOnly)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> names;
    std::vector<std::string> presentSerials;
    for (const auto& presence : checkedPaths().presences()) {
        if (tokenExists(presence.serial)) {
            names.push_back(presence.deviceName);
            presentSerials.push_back(presence.serial);
        }
    }
    if (!presentOnly) {
        // A token not plugged in is listed under the name it gets by default.
        for (const auto& serial : paths().tokenSerials()) {
            const std::string name = "VK-" + serial;
            if (std::find(presentSerials.begin(), presentSerials.end(), serial) == presentSerials.end()
                && std::find(names.begin(), names.end(), name) == names.end()) {
                names.push_back(name);
            }
        }
    }
    return names;
}

HANDLE Core::connect(const std::string& deviceName)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    store::Presence presence;
    if (!checkedPaths().presence(deviceName, presence) || !tokenExists(presence.serial)) {
        fail(SAR_DEVICE_REMOVED);
    }
    auto session = std::make_shared<DeviceSession>();
    session->deviceName = deviceName;
    session->presencePath = paths().presencePath(deviceName);
    session->serial = presence.serial;
    session->insertion = presence.identity;
    session->db = openToken(presence.serial);
    return m_handles.add(std::move(session));
}

void Core::disconnect(HANDLE handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_handles.find<DeviceSession>(handle, HandleKind::Device) || !m_handles.remove(handle)) {
        fail(SAR_INVALIDHANDLEERR);
    }
}

ULONG Core::deviceState(const std::string& deviceName)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    store::Presence presence;
    if (paths().presence(deviceName, presence) && tokenExists(presence.serial)) {
        return DEV_PRESENT_STATE;
    }
    return DEV_ABSENT_STATE;
}

void Core::setLabel(HANDLE handle, const std::string& label)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto ref = device(handle);
    if (label.empty() || label.size() > kMaxLabelSize) {
        fail(SAR_INVALIDPARAMERR);
    }
    store::Transaction transaction(ref.db.database());
    ref.db.setLabel(label);
    transaction.commit();
}

DEVINFO Core::deviceInfo(HANDLE handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto ref = device(handle);
    const auto token = ref.db.token();
    DEVINFO info{};
    info.Version = {1, 0};
    copyText(info.Manufacturer, sizeof info.Manufacturer, "Velkora");
    copyText(info.Issuer, sizeof info.Issuer, "Velkora Soft Token");
    copyText(info.Label, sizeof info.Label, token.label);
    copyText(info.SerialNumber, sizeof info.SerialNumber, token.serial);
    info.HWVersion = {1, 0};
    info.FirmwareVersion = {1, 0};
    info.AlgSymCap = SGD_SM4_ECB | SGD_SM4_CBC | SGD_SM4_CFB | SGD_SM4_OFB | SGD_SM4_MAC;
    info.AlgAsymCap = SGD_RSA | SGD_SM2_1 | SGD_SM2_2 | SGD_SM2_3;
    info.AlgHashCap = SGD_SM3 | SGD_SHA1 | SGD_SHA256;
    info.DevAuthAlgId = SGD_SM4_ECB;
    info.TotalSpace = token.capacity;
    info.FreeSpace = ref.db.freeBytes();
    info.MaxECCBufferSize = 1024;
    info.MaxBufferSize = 4096;
    return info;
}

void Core::lockDevice(HANDLE handle, ULONG timeoutMs)
{
    std::string lockPath;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto ref = device(handle);
        if (ref.session.lockFd >= 0) {
            return; // already held through this handle
        }
        lockPath = checkedPaths().tokensDir() + "/" + ref.session.serial + ".lock";
    }
    // Wait for the lock without the core mutex, so other calls go on meanwhile. A planted
    // link is not followed, and only a regular file serves.
    const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) {
        fail(errno == ELOOP ? SAR_FILEERR : SAR_FAIL);
    }
    struct stat lockInfo
    {
    };
    if (fstat(fd, &lockInfo) != 0 || !S_ISREG(lockInfo.st_mode)) {
        close(fd);
        fail(SAR_FILEERR);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (timeoutMs != kWaitForever && std::chrono::steady_clock::now() >= deadline) {
            close(fd);
            fail(SAR_TIMEOUTERR);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    auto* session = m_handles.find<DeviceSession>(handle, HandleKind::Device);
    if (!session) {
        close(fd);
        fail(SAR_INVALIDHANDLEERR);
    }
    if (session->lockFd >= 0) {
        close(fd); // another thread locked through this handle meanwhile
        return;
    }
    session->lockFd = fd;
}

void Core::unlockDevice(HANDLE handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto ref = device(handle);
    if (ref.session.lockFd < 0) {
        fail(SAR_FAIL);
    }
    close(ref.session.lockFd);
    ref.session.lockFd = -1;
}

void Core::generateRandom(HANDLE handle, uint8_t* out, size_t size)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto ref = device(handle);
    if (size == 0 || size > kMaxRandomSize) {
        fail(SAR_INVALIDPARAMERR);
    }
    crypto::randomBytes(out, size);
    // The standard challenge is 8 bytes; some clients ask for 16 and encrypt them all.
    ref.session.challenge.assign(out, out + std::min(size, kLongChallengeSize));
}

void Core::deviceAuth(HANDLE handle, const uint8_t* data, size_t size)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto ref = device(handle);
    if (size != kDevAuthKeySize) {
        fail(SAR_INVALIDPARAMERR);
    }
    // The challenge answers one attempt only.
    std::vector<uint8_t> challenge;
    challenge.swap(ref.session.challenge);
    ref.session.authenticated = false;
    if (challenge.size() < kChallengeSize) {
        fail(SAR_FAIL);
    }
    const auto key = ref.db.token().devAuthKey;
    if (key.size() != kDevAuthKeySize) {
        fail(SAR_FAIL);
    }
    // The first 8 bytes zero-padded, as the standard has it; a 16-byte challenge also
    // answers encrypted whole.
    crypto::SecureBytes padded(challenge.begin(), challenge.begin() + kChallengeSize);
    padded.resize(kDevAuthKeySize, 0);
    const auto expected = crypto::sm4EcbEncrypt(key.data(), padded.data(), padded.size(), false);
    bool matched = crypto::constantTimeEqual(expected.data(), expected.size(), data, size);
    if (challenge.size() == kLongChallengeSize) {
        const auto whole = crypto::sm4EcbEncrypt(key.data(), challenge.data(), challenge.size(), false);
        matched = crypto::constantTimeEqual(whole.data(), whole.size(), data, size) || matched;
    }
    if (!matched) {
        fail(SAR_FAIL);
    }
    ref.session.authenticated = true;
}

void Core::changeDeviceAuthKey(HANDLE handle, const uint8_t* key, size_t size)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto ref = device(handle);
    if (!ref.session.authenticated) {
        fail(SAR_USER_NOT_LOGGED_IN);
    }
    if (size != kDevAuthKeySize) {
        fail(SAR_INVALIDPARAMERR);
    }
    store::Transaction transaction(ref.db.database());
    ref.db.setDevAuthKey(store::WipedBytes(key, key + size));
    transaction.commit();
}

ULONG Core::waitForEvent(char* name, ULONG* nameLength, ULONG* event)
{
    store::StorePaths storePaths("");
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        storePaths = checkedPaths();
    }
    const auto filter = [&storePaths](const store::Presence& presence) {
        return fileExists(storePaths.tokenDbPath(presence.serial));
    };
    return m_events->wait(storePaths, filter, name, nameLength, event);
}

void Core::closeHandle(HANDLE handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool closable = m_handles.find<HandleObject>(handle, HandleKind::SessionKey)
        || m_handles.find<HandleObject>(handle, HandleKind::Hash)
        || m_handles.find<HandleObject>(handle, HandleKind::Mac)
        || m_handles.find<HandleObject>(handle, HandleKind::Agreement);
    if (!closable) {
        fail(SAR_INVALIDHANDLEERR);
    }
    closeBelow(handle);
}

void Core::closeBelow(HANDLE handle)
{
    const HANDLE root = m_handles.rootOf(handle);
    m_handles.remove(handle);
    // Closed all the same, so nothing lingers; a pulled token's handle says so.
    device(root);
}

void Core::cancelWait()
{
    m_events->cancel();
}

} // namespace softskf::core
