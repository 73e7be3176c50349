// The presence watch: inotify on the store folder and on its presence folder.
#include "PresenceWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

namespace softskf::core {

namespace {

constexpr uint32_t kPresentMask = IN_CREATE | IN_CLOSE_WRITE | IN_MODIFY | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE
    | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
// The store folder itself: a presence folder made anew, removed or moved, or the store
// folder moved away.
constexpr uint32_t kRootMask = IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF;

} // namespace

PresenceWatch::~PresenceWatch()
{
    if (m_fd >= 0) {
        close(m_fd);
    }
}

bool PresenceWatch::start(const std::string& root, const std::string& presentDir)
{
    m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0 || inotify_add_watch(m_fd, root.c_str(), kRootMask) < 0 || !watchPresent(presentDir)) {
        if (m_fd >= 0) {
            close(m_fd);
        }
        m_fd = -1;
        return false;
    }
    return true;
}

bool PresenceWatch::watchPresent(const std::string& presentDir)
{
    const int watch = inotify_add_watch(m_fd, presentDir.c_str(), kPresentMask);
    if (m_presentWatch >= 0 && m_presentWatch != watch) {
        inotify_rm_watch(m_fd, m_presentWatch);
    }
    m_presentWatch = watch;
    return watch >= 0;
}

uint64_t PresenceWatch::generation(const std::string& root, const std::string& presentDir)
{
    if (m_fd < 0 && (m_failed || !start(root, presentDir))) {
        m_failed = true; // no watch to be had: every call looks at the files
        return ++m_generation;
    }
    alignas(inotify_event) char buffer[4096];
    bool changed = false;
    while (read(m_fd, buffer, sizeof buffer) > 0) {
        changed = true;
    }
    if (!changed) {
        return m_generation;
    }
    // The presence folder may have been replaced: watch the one there now. Without it,
    // nothing can be promised until it is back.
    if (!watchPresent(presentDir)) {
        close(m_fd);
        m_fd = -1;
        m_presentWatch = -1;
    }
    return ++m_generation;
}

} // namespace softskf::core
