// Tells whether anything may have changed in the store's presence files since the last
// look, with one non-blocking read of an inotify queue instead of a path lookup. The
// kernel queues an event before the unlink or rename that caused it returns, so nothing
// done before a call is missed by that call.
#pragma once

#include <cstdint>
#include <string>

namespace softskf::core {

class PresenceWatch
{
public:
    PresenceWatch() = default;
    ~PresenceWatch();
    PresenceWatch(const PresenceWatch&) = delete;
    PresenceWatch& operator=(const PresenceWatch&) = delete;

    // A number that moves on whenever the store folder or its presence folder may have
    // changed; it moves on at every call while nothing can be watched.
    uint64_t generation(const std::string& root, const std::string& presentDir);

private:
    bool start(const std::string& root, const std::string& presentDir);
    bool watchPresent(const std::string& presentDir);

    int m_fd = -1;
    int m_presentWatch = -1;
    bool m_failed = false;
    uint64_t m_generation = 1;
};

} // namespace softskf::core
