// DesktopNotice: a notice sent to the desktop's notification service
// (org.freedesktop.Notifications on the session bus), for desktops that show no tray icon.
#pragma once

#include <QObject>
#include <QString>

class DesktopNotice : public QObject
{
    Q_OBJECT

public:
    // The program as the notification service shows it: the desktop entry's name, the
    // name of its icon, and the entry's id (the file name without ".desktop").
    struct Sender
    {
        QString appName;
        QString iconName;
        QString desktopEntry;
    };

    explicit DesktopNotice(Sender sender, QObject* parent = nullptr);

    // Sends the notice without waiting for the service; it replaces the previous notice
    // of this object, as a tray balloon replaces the one before it. False when there is
    // no session bus to send it on.
    bool show(const QString& title, const QString& text, int timeoutMs);

    // The id the service gave the last notice, 0 before its answer.
    uint lastId() const { return m_lastId; }

signals:
    // The service's answer to a notice: its id, or 0 with the error the bus reported.
    void answered(uint id, const QString& error);

private:
    Sender m_sender;
    uint m_lastId = 0;
};
