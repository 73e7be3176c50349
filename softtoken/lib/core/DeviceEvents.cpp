// inotify over present/, an eventfd for cancelling, and the reported-insertions memory.
#include "DeviceEvents.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace softskf::core {

namespace {
constexpr uint32_t kPresentMask
    = IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
// The store folder is watched for a presence folder made anew, so a folder replaced under
// the watch is seen without waking up now and then to look.
constexpr uint32_t kRootMask = IN_CREATE | IN_MOVED_TO | IN_ONLYDIR;
} // namespace

DeviceEvents::DeviceEvents()
    : m_cancel(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
}

DeviceEvents::~DeviceEvents()
{
    if (m_inotify >= 0) {
        close(m_inotify);
    }
    if (m_cancel >= 0) {
        close(m_cancel);
    }
}

ULONG DeviceEvents::wait(const store::StorePaths& paths, const PresenceFilter& filter, char* name, ULONG* nameLength,
                         ULONG* event)
{
    std::lock_guard<std::mutex> lock(m_waitMutex);
    if (m_cancel < 0 || !ensureWatch(paths)) {
        return SAR_FAIL;
    }
    for (;;) {
        if (consumeCancel()) {
            return SAR_NOT_EVENTERR;
        }
        const Pending pending = nextDifference(paths, filter);
        if (!pending.found) {
            blockUntilChange(paths);
            continue;
        }
        const ULONG needed = static_cast<ULONG>(pending.deviceName.size() + 1);
        if (*nameLength < needed) {
            *nameLength = needed;
            return SAR_BUFFER_TOO_SMALL;
        }
        std::memcpy(name, pending.deviceName.c_str(), needed);
        *nameLength = needed;
        *event = pending.event;
        if (pending.event == DEV_EVENT_INSERTED) {
            m_reported[pending.deviceName] = pending.identity;
        } else {
            m_reported.erase(pending.deviceName);
        }
        return SAR_OK;
    }
}

void DeviceEvents::cancel()
{
    if (m_cancel >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(m_cancel, &one, sizeof one);
    }
}

void DeviceEvents::abandon()
{
    for (int* fd : {&m_inotify, &m_cancel}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
}

bool DeviceEvents::ensureWatch(const store::StorePaths& paths)
{
    if (m_inotify >= 0) {
        return true;
    }
    try {
        store::ensurePrivateDir(paths.presentDir());
    } catch (const std::exception&) {
        return false;
    }
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    if (inotify_add_watch(fd, paths.root().c_str(), kRootMask) < 0) {
        close(fd);
        return false;
    }
    m_inotify = fd;
    if (!watchPresent(paths)) {
        close(fd);
        m_inotify = -1;
        return false;
    }
    return true;
}

bool DeviceEvents::watchPresent(const store::StorePaths& paths)
{
    // The same folder gives the same watch back; a new folder a new one, and the old one
    // (left on a folder moved away) is dropped.
    const int watch = inotify_add_watch(m_inotify, paths.presentDir().c_str(), kPresentMask);
    if (m_presentWatch >= 0 && m_presentWatch != watch) {
        inotify_rm_watch(m_inotify, m_presentWatch);
    }
    m_presentWatch = watch;
    return watch >= 0;
}

DeviceEvents::Pending DeviceEvents::nextDifference(const store::StorePaths& paths, const PresenceFilter& filter) const
{
    std::map<std::string, store::PresenceIdentity> current;
    for (const auto& presence : paths.presences()) {
        if (filter(presence)) {
            current.emplace(presence.deviceName, presence.identity);
        }
    }
    // A presence written again counts as a removal followed by an insertion.
    for (const auto& [deviceName, identity] : m_reported) {
        const auto now = current.find(deviceName);
        if (now == current.end() || now->second != identity) {
            return {true, DEV_EVENT_REMOVED, deviceName, identity};
        }
    }
    for (const auto& [deviceName, identity] : current) {
        if (m_reported.find(deviceName) == m_reported.end()) {
            return {true, DEV_EVENT_INSERTED, deviceName, identity};
        }
    }
    return {};
}

bool DeviceEvents::consumeCancel()
{
    uint64_t count = 0;
    return read(m_cancel, &count, sizeof count) == static_cast<ssize_t>(sizeof count) && count > 0;
}

void DeviceEvents::blockUntilChange(const store::StorePaths& paths)
{
    pollfd fds[2] = {{m_inotify, POLLIN, 0}, {m_cancel, POLLIN, 0}};
    const int ready = poll(fds, 2, -1);
    if (ready > 0 && (fds[0].revents & POLLIN)) {
        alignas(inotify_event) char buffer[4096];
        while (read(m_inotify, buffer, sizeof buffer) > 0) { }
        // The presence folder may have been removed or replaced; a gone folder is watched
        // again when the store folder reports it back.
        watchPresent(paths);
    }
}

} // namespace softskf::core
