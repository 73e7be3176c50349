// ExpiryCheck: the warning about the certificate on a freshly inserted token, in three
// grades: a tray message when expiry is near, a warning box when it is very near, and an
// error box once it has expired. Checks of several insertions run one after another.
#pragma once

#include <QString>

#include <deque>
#include <functional>
#include <string>

// How a check announces a certificate with secondsLeft until local midnight of its expiry
// date: nothing, a tray message, a warning box or an error box, with the days shown.
struct ExpiryNotice
{
    enum Kind { None, Tray, Warning, Error };
    Kind kind;
    long long days;
};
ExpiryNotice expiryNoticeFor(long long secondsLeft);

class ExpiryCheck
{
public:
    using TrayNotice = std::function<void(const QString& title, const QString& text, int durationMs)>;

    explicit ExpiryCheck(TrayNotice trayNotice);

    // Queues the check of an inserted device, or drops the queued check of a removed one.
    void inserted(const std::string& device);
    void removed(const std::string& device);
    // Runs the queued checks one after another; a box's own event loop only queues more.
    void run();

private:
    void certIsValid(const std::string& device);

    TrayNotice m_trayNotice;
    // Inserted devices whose expiry check has not run yet, in the order they came.
    std::deque<std::string> m_queue;
    bool m_checking = false;
};
