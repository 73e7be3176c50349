// Notify on org.freedesktop.Notifications: the call is asynchronous, so a service that is
// slow or missing never stalls the window; a failed call is only logged.
#include "desktopnotice.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDebug>
#include <QStringList>
#include <QVariantMap>

#include <utility>

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");

} // namespace

DesktopNotice::DesktopNotice(Sender sender, QObject* parent)
    : QObject(parent)
    , m_sender(std::move(sender))
{
}

bool DesktopNotice::show(const QString& title, const QString& text, int timeoutMs)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("Notify"));
    QVariantMap hints;
    // Lets the service find the entry's localised name and icon, and group our notices.
    hints.insert(QStringLiteral("desktop-entry"), m_sender.desktopEntry);
    const uint replacesNone = 0;
    call << m_sender.appName << replacesNone << m_sender.iconName << title << text << QStringList() << hints
         << qint32(timeoutMs);

    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        const QDBusPendingReply<uint> reply = *finished;
        if (reply.isError()) {
            qWarning("No desktop notification: %s", qPrintable(reply.error().message()));
        }
    });
    return true;
}
