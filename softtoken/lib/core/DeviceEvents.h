// Hot-plug events from the presence folder. The process remembers which insertions it
// has reported; each wait reports the first difference between that memory and the
// folder (removals first), so nothing is lost between waits and the first waits of a
// process report the tokens already plugged in. inotify wakes the wait (the presence
// folder, and the store folder for a presence folder made anew); nothing else does, so an
// idle wait costs no processor time. A cancel wakes it through an eventfd, and a cancel
// that finds no wait ends the next one at once.
#pragma once

#include "skf/skfapi.h"
#include "store/StorePaths.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace softskf::core {

class DeviceEvents
{
public:
    // Only presences accepted by the filter (a token database exists) count.
    using PresenceFilter = std::function<bool(const store::Presence&)>;

    DeviceEvents();
    ~DeviceEvents();
    DeviceEvents(const DeviceEvents&) = delete;
    DeviceEvents& operator=(const DeviceEvents&) = delete;

    // SAR_OK with the event; SAR_BUFFER_TOO_SMALL leaves the event for the next call;
    // SAR_NOT_EVENTERR when cancelled.
    ULONG wait(const store::StorePaths& paths, const PresenceFilter& filter, char* name, ULONG* nameLength,
               ULONG* event);
    void cancel();
    // Closes this process's copies of the descriptors and leaves the rest (its lock may be
    // held by a thread a forked child does not have); the object is then never used again.
    void abandon();

private:
    struct Pending
    {
        bool found = false;
        ULONG event = 0;
        std::string deviceName;
        store::PresenceIdentity identity;
    };

    bool ensureWatch(const store::StorePaths& paths);
    bool watchPresent(const store::StorePaths& paths);
    Pending nextDifference(const store::StorePaths& paths, const PresenceFilter& filter) const;
    bool consumeCancel();
    void blockUntilChange(const store::StorePaths& paths);

    std::mutex m_waitMutex; // one wait at a time
    std::map<std::string, store::PresenceIdentity> m_reported;
    int m_inotify = -1;
    int m_presentWatch = -1;
    int m_cancel = -1;
};

} // namespace softskf::core
