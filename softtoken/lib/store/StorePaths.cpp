// Paths, name checks and presence files of the soft token's store.
#include "StorePaths.h"

#include "Sqlite.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace softskf::store {

namespace {

constexpr size_t kMaxNameLength = 63;
constexpr const char* kDbSuffix = ".db";

std::string trimmed(const std::string& text)
{
    const auto begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) {
        return {};
    }
    const auto end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

std::vector<std::string> directoryEntries(const std::string& path)
{
    std::vector<std::string> names;
    DIR* dir = opendir(path.c_str());
    if (!dir) {
        return names;
    }
    while (const dirent* entry = readdir(dir)) {
        names.emplace_back(entry->d_name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

std::string defaultStoreDir()
{
    if (const char* dir = std::getenv("SOFTSKF_DIR"); dir && *dir) {
        return dir;
    }
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data) {
        return std::string(data) + "/softskf";
    }
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/share/softskf";
}

bool isValidStoreName(const std::string& name)
{
    if (name.empty() || name.size() > kMaxNameLength || name == "." || name == "..") {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char c) { return c >= 0x20 && c <= 0x7e && c != '/'; });
}

namespace {

void createMissing(const std::string& path)
{
    struct stat info
    {
    };
    if (lstat(path.c_str(), &info) == 0) {
        return; // judged by the caller
    }
    const auto slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        createMissing(path.substr(0, slash));
    }
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        throw StoreError("cannot create " + path + ": " + std::strerror(errno));
    }
}

} // namespace

void requirePrivateDir(const std::string& path)
{
    struct stat info
    {
    };
    if (lstat(path.c_str(), &info) != 0) {
        throw StoreError("cannot read " + path + ": " + std::strerror(errno));
    }
    if (S_ISLNK(info.st_mode)) {
        throw StoreError(path + " is a symbolic link, not a folder");
    }
    if (!S_ISDIR(info.st_mode)) {
        throw StoreError(path + " is not a folder");
    }
    if (info.st_uid != geteuid()) {
        throw StoreError(path + " belongs to another user (uid " + std::to_string(info.st_uid) + ")");
    }
    if ((info.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        throw StoreError(path + " is open to other users (mode " + mode + "; it must be 0700)");
    }
}

void ensurePrivateDir(const std::string& path)
{
    createMissing(path);
    requirePrivateDir(path);
}

void checkStore(const StorePaths& paths)
{
    for (const auto& dir : {paths.root(), paths.tokensDir(), paths.presentDir()}) {
        struct stat info
        {
        };
        if (lstat(dir.c_str(), &info) != 0 && errno == ENOENT) {
            continue; // nothing there to trust yet
        }
        requirePrivateDir(dir);
    }
}

void requireRegularOrAbsent(const std::string& path)
{
    struct stat info
    {
    };
    if (lstat(path.c_str(), &info) == 0 ? !S_ISREG(info.st_mode) : errno != ENOENT) {
        throw StoreError(path + " is not a regular file");
    }
}

void writeFileAtomically(const std::string& dir, const std::string& name, const std::string& content)
{
    std::random_device random;
    const std::string temporary = dir + "/.tmp-" + std::to_string(random()) + "-" + std::to_string(getpid());
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        throw StoreError("cannot write in " + dir + ": " + std::strerror(errno));
    }
    const bool written = write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    // The kernel stamps files with a clock of a few milliseconds' grain, and a file written
    // right after another was deleted may get its inode: a fine-grained time keeps two
    // writes of a presence file apart, so old handles never take the new one for theirs.
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const timespec times[2] = {now, now};
    futimens(fd, times);
    const bool closed = close(fd) == 0;
    if (!written || !closed || rename(temporary.c_str(), (dir + "/" + name).c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        unlink(temporary.c_str());
        throw StoreError("cannot write " + dir + "/" + name + ": " + reason);
    }
}

bool readSmallFile(const std::string& path, std::string& content)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    char buffer[256];
    const ssize_t size = read(fd, buffer, sizeof buffer);
    close(fd);
    if (size < 0) {
        return false;
    }
    std::string text(buffer, static_cast<size_t>(size));
    content = trimmed(text.substr(0, text.find('\n')));
    return true;
}

StorePaths::StorePaths(std::string root)
    : m_root(std::move(root))
{
}

std::string StorePaths::tokensDir() const
{
    return m_root + "/tokens";
}

std::string StorePaths::presentDir() const
{
    return m_root + "/present";
}

std::string StorePaths::tokenDbPath(const std::string& serial) const
{
    return tokensDir() + "/" + serial + kDbSuffix;
}

std::vector<std::string> StorePaths::tokenSerials() const
{
    std::vector<std::string> serials;
    const size_t suffix = std::strlen(kDbSuffix);
    for (const auto& name : directoryEntries(tokensDir())) {
        if (name.size() > suffix && name.compare(name.size() - suffix, suffix, kDbSuffix) == 0) {
            const std::string serial = name.substr(0, name.size() - suffix);
            if (isValidStoreName(serial)) {
                serials.push_back(serial);
            }
        }
    }
    return serials;
}

namespace {

PresenceIdentity identityOf(const struct stat& info)
{
    return {info.st_ino, static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec};
}

} // namespace

bool isSamePresence(const std::string& path, const PresenceIdentity& identity)
{
    struct stat info
    {
    };
    return lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && identityOf(info) == identity;
}

std::string StorePaths::presencePath(const std::string& deviceName) const
{
    return presentDir() + "/" + deviceName;
}

std::vector<Presence> StorePaths::presences() const
{
    std::vector<Presence> result;
    for (const auto& name : directoryEntries(presentDir())) {
        Presence entry;
        if (name[0] != '.' && presence(name, entry)) {
            result.push_back(entry);
        }
    }
    return result;
}

bool StorePaths::presence(const std::string& deviceName, Presence& out) const
{
    if (!isValidStoreName(deviceName)) {
        return false;
    }
    const std::string path = presencePath(deviceName);
    struct stat info
    {
    };
    if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    std::string serial;
    if (!readSmallFile(path, serial) || !isValidStoreName(serial)) {
        return false;
    }
    out.deviceName = deviceName;
    out.serial = serial;
    out.identity = identityOf(info);
    return true;
}

} // namespace softskf::store
