// The store commands: token databases and presence files.
#include "tokenadmin.h"

#include "store/StorePaths.h"
#include "store/TokenDb.h"

#include <stdexcept>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace softskf::admin {

namespace {

using store::StorePaths;

const char kDefaultDevAuthKey[] = "1234567812345678";
constexpr size_t kDevAuthKeyLength = 16;
constexpr uint32_t kMinimumCapacity = 4096;
constexpr size_t kMaxLabelLength = 31; // the device information's field keeps a NUL

StorePaths openStore()
{
    StorePaths paths(storeDir());
    try {
        store::ensurePrivateDir(paths.tokensDir());
        store::ensurePrivateDir(paths.presentDir());
    } catch (const std::exception& error) {
        throw std::runtime_error("Cannot use the token store " + paths.root() + ": " + error.what() + ".");
    }
    return paths;
}

void requireValidSerial(const std::string& serial)
{
    if (!store::isValidStoreName(serial)) {
        throw std::runtime_error("The serial \"" + serial
                                 + "\" is not valid: use 1 to 63 printable characters without '/'.");
    }
}

bool fileExists(const std::string& path)
{
    struct stat info
    {
    };
    return stat(path.c_str(), &info) == 0;
}

void requireExistingToken(const StorePaths& paths, const std::string& serial)
{
    requireValidSerial(serial);
    if (!fileExists(paths.tokenDbPath(serial))) {
        throw std::runtime_error("There is no token with the serial \"" + serial + "\".");
    }
}

void removePresenceFile(const StorePaths& paths, const std::string& deviceName)
{
    if (unlink((paths.presentDir() + "/" + deviceName).c_str()) != 0) {
        throw std::runtime_error("Cannot remove the presence file of \"" + deviceName + "\".");
    }
}

bool deviceIsFull(const std::string& folder)
{
    struct statvfs info
    {
    };
    return statvfs(folder.c_str(), &info) == 0 && info.f_bavail == 0;
}

// Opens the token and reads its record; fills problem and broken when it cannot be used.
void examineToken(const StorePaths& paths, TokenSummary& summary)
{
    const std::string path = paths.tokenDbPath(summary.serial);
    try {
        store::TokenDb db(path);
        const auto record = db.token();
        summary.label = record.label;
        summary.capacityBytes = record.capacity;
        summary.freeBytes = db.freeBytes();
    } catch (const store::ReadOnlyStore& error) {
        summary.problem = error.what();
    } catch (const store::StoreFull& error) {
        summary.problem = error.what();
    } catch (const std::exception& error) {
        summary.problem = error.what();
        summary.broken = true;
    }
    // A token readable now still cannot change on a full device or through a file it
    // cannot write: said here, before a change fails on it.
    if (summary.problem.empty() && access(path.c_str(), W_OK) != 0) {
        summary.problem = "the token's file is read-only (" + path + ")";
    } else if (summary.problem.empty() && deviceIsFull(paths.tokensDir())) {
        summary.problem = "no space left on the device that holds the store (" + paths.tokensDir() + ")";
    }
}

} // namespace

std::string tokenProblem(const std::string& deviceNameOrSerial)
{
    if (!fileExists(store::defaultStoreDir())) {
        return {}; // not made here for a question
    }
    const StorePaths paths = openStore();
    store::Presence presence;
    const std::string serial = paths.presence(deviceNameOrSerial, presence) ? presence.serial : deviceNameOrSerial;
    if (!store::isValidStoreName(serial) || !fileExists(paths.tokenDbPath(serial))) {
        return {};
    }
    TokenSummary summary{serial, {}, {}, 0, 0, {}, false};
    examineToken(paths, summary);
    if (!summary.problem.empty()) {
        return summary.problem;
    }
    try {
        store::TokenDb db(paths.tokenDbPath(serial));
        std::string damaged;
        for (const auto& object : db.damagedObjects()) {
            damaged += (damaged.empty() ? "" : "; ") + object + " is damaged";
        }
        return damaged;
    } catch (const std::exception& error) {
        return error.what();
    }
}

std::string storeDir()
{
    const std::string dir = store::defaultStoreDir();
    try {
        store::ensurePrivateDir(dir);
    } catch (const std::exception& error) {
        throw std::runtime_error("Cannot use the token store " + dir + ": " + error.what() + ".");
    }
    return dir;
}

std::string defaultDeviceName(const std::string& serial)
{
    return "VK-" + serial;
}

void createToken(const TokenOptions& options)
{
    requireValidSerial(options.serial);
    if (options.label.empty() || options.label.size() > kMaxLabelLength) {
        throw std::runtime_error("The label must be 1 to 31 bytes long.");
    }
    if (options.capacityBytes < kMinimumCapacity) {
        throw std::runtime_error("The capacity must be at least 4096 bytes.");
    }
    store::TokenRecord token{options.serial, options.label, options.capacityBytes,
                             store::WipedBytes(options.devAuthKey.begin(), options.devAuthKey.end())};
    if (token.devAuthKey.empty()) {
        token.devAuthKey.assign(kDefaultDevAuthKey, kDefaultDevAuthKey + kDevAuthKeyLength);
    }
    if (token.devAuthKey.size() != kDevAuthKeyLength) {
        throw std::runtime_error("The device authentication key must be 16 bytes long.");
    }
    const StorePaths paths = openStore();
    const std::string path = paths.tokenDbPath(options.serial);
    if (fileExists(path)) {
        throw std::runtime_error("A token with the serial \"" + options.serial + "\" already exists.");
    }
    try {
        store::TokenDb::create(path, token);
    } catch (const std::exception& error) {
        throw std::runtime_error("Cannot create the token \"" + options.serial + "\": " + error.what() + ".");
    }
}

std::vector<TokenSummary> listTokens()
{
    const StorePaths paths = openStore();
    const auto presences = paths.presences();
    std::vector<TokenSummary> tokens;
    for (const auto& serial : paths.tokenSerials()) {
        TokenSummary summary{serial, {}, {}, 0, 0, {}, false};
        for (const auto& presence : presences) {
            if (presence.serial == serial) {
                summary.deviceName = presence.deviceName;
                break;
            }
        }
        examineToken(paths, summary); // one unreadable database must not hide the others
        tokens.push_back(summary);
    }
    return tokens;
}

void deleteToken(const std::string& serial)
{
    const StorePaths paths = openStore();
    requireExistingToken(paths, serial);
    for (const auto& presence : paths.presences()) {
        if (presence.serial == serial) {
            removePresenceFile(paths, presence.deviceName);
        }
    }
    const std::string path = paths.tokenDbPath(serial);
    if (unlink(path.c_str()) != 0) {
        throw std::runtime_error("Cannot delete the token \"" + serial + "\".");
    }
    unlink((path + "-wal").c_str());
    unlink((path + "-shm").c_str());
}

void insertToken(const std::string& serial, const std::string& deviceName)
{
    const StorePaths paths = openStore();
    requireExistingToken(paths, serial);
    if (!store::isValidStoreName(deviceName)) {
        throw std::runtime_error("The device name \"" + deviceName
                                 + "\" is not valid: use 1 to 63 printable characters without '/'.");
    }
    for (const auto& presence : paths.presences()) {
        if (presence.serial == serial) {
            throw std::runtime_error("The token \"" + serial + "\" is already plugged in as \"" + presence.deviceName
                                     + "\".");
        }
        if (presence.deviceName == deviceName) {
            throw std::runtime_error("The device name \"" + deviceName + "\" is already in use.");
        }
    }
    try {
        store::writeFileAtomically(paths.presentDir(), deviceName, serial + "\n");
    } catch (const std::exception& error) {
        throw std::runtime_error(std::string("Cannot plug the token in: ") + error.what() + ".");
    }
}

void removeToken(const std::string& deviceNameOrSerial)
{
    const StorePaths paths = openStore();
    store::Presence presence;
    if (paths.presence(deviceNameOrSerial, presence)) {
        removePresenceFile(paths, deviceNameOrSerial);
        return;
    }
    bool removed = false;
    for (const auto& entry : paths.presences()) {
        if (entry.serial == deviceNameOrSerial) {
            removePresenceFile(paths, entry.deviceName);
            removed = true;
        }
    }
    if (!removed) {
        throw std::runtime_error("No plugged-in token is named \"" + deviceNameOrSerial + "\".");
    }
}

} // namespace softskf::admin
