// cMonitor: the worker thread that loads the SKF driver and then waits for device events,
// storing each in the device manager and signalling the user interface.
#ifndef OVRIN_TOKEN_CMONITOR_H
#define OVRIN_TOKEN_CMONITOR_H

#include <QString>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <mutex>

class cMonitor : public QThread
{
    Q_OBJECT

public:
    cMonitor();
    ~cMonitor() override;

    // Ends the thread: cancels the pending wait inside the driver and joins. Returns false
    // when the driver would not let go within the timeout.
    bool stop(unsigned long timeoutMs = 3000);

    // How long the loop pauses after a wait that failed, so a driver that cannot wait does
    // not spin a core.
    static constexpr int FailedWaitPauseMs = 200;

signals:
    // One per event, with its own code and device name: a queued call carries them to the
    // window, so two events close together never share the device manager's last-event fields.
    void notifyTokenEvent(unsigned int event, const QString& deviceName);

protected:
    void run() override;

private:
    bool pauseAfterFailedWait();

    std::atomic<bool> m_stopping{false};
    std::mutex m_pauseMutex;
    std::condition_variable m_pauseWake;
};

#endif // OVRIN_TOKEN_CMONITOR_H
