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

    // Sends the notice without waiting for the service. Each notice stands on its own: an
    // expiry warning sent right after an insertion notice does not hide it. False when
    // there is no session bus to send it on.
    bool show(const QString& title, const QString& text, int timeoutMs);

private:
    Sender m_sender;
};
