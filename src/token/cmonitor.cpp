// cMonitor: the device-event loop.
#include "cmonitor.h"

#include "cdevmgr.h"

#include <chrono>

namespace {

constexpr ULONG kNameBufferSize = 1024;
constexpr ULONG kDeviceInserted = 1;

} // namespace

cMonitor::cMonitor()
    : QThread(nullptr)
{
}

cMonitor::~cMonitor()
{
    stop();
}

void cMonitor::run()
{
    char name[kNameBufferSize] = {};
    ULONG event = 0;

    cDevMgr* manager = cDevMgr::getInst();
    if (manager->Initialize() != 0) {
        return;
    }

    while (!m_stopping.load()) {
        // The length is reset before every wait, so a long name after short ones still fits.
        ULONG nameLength = kNameBufferSize;
        ULONG result = manager->WaitForDevEvent(name, &nameLength, &event);
        if (m_stopping.load()) {
            break;
        }
        if (result != 0) {
            if (!pauseAfterFailedWait()) {
                break;
            }
            continue;
        }
        // The driver's name may fill the whole buffer without a terminator.
        name[kNameBufferSize - 1] = '\0';
        manager->SetEvent(event);
        if (event == kDeviceInserted) {
            manager->SetDevName(name);
        }
        emit notifyTokenEvent(static_cast<unsigned int>(event), QString::fromLatin1(name));
    }
}

bool cMonitor::pauseAfterFailedWait()
{
    std::unique_lock<std::mutex> lock(m_pauseMutex);
    m_pauseWake.wait_for(lock, std::chrono::milliseconds(FailedWaitPauseMs), [this] { return m_stopping.load(); });
    return !m_stopping.load();
}

bool cMonitor::stop(unsigned long timeoutMs)
{
    if (!isRunning()) {
        return true;
    }
    {
        std::lock_guard<std::mutex> lock(m_pauseMutex);
        m_stopping.store(true);
    }
    m_pauseWake.notify_all();
    // A cancel that arrives before the thread has entered the driver's wait is lost, so it
    // is repeated until the thread has ended.
    const unsigned long step = 20;
    for (unsigned long waited = 0; waited <= timeoutMs; waited += step) {
        cDevMgr::getInst()->CancelWaitForDevEvent();
        if (wait(step)) {
            return true;
        }
    }
    return false;
}
