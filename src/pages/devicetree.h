// DeviceTree: the device tree on the left of the window, rebuilt from scratch on every
// device event, with the tray notice of the event and the expiry check of an inserted
// token; and what a node of it stands for when clicked.
#pragma once

#include "pagecontext.h"

#include <skf/skfapi.h>

#include <QModelIndex>
#include <QString>

#include <functional>
#include <string>

class ExpiryCheck;
class QStandardItemModel;
class QSystemTrayIcon;

class DeviceTree
{
public:
    using TrayNotice = std::function<void(const QString& title, const QString& text, int durationMs)>;
    // How long a device notice stays in the tray, in milliseconds.
    static constexpr int DeviceNoticeMs = 3000;

    // A clicked node: a device for its key information, or the device of an application
    // node for its containers.
    struct Choice
    {
        bool device;
        QString name;
    };

    DeviceTree(const PageContext& context, QStandardItemModel* deviceModel, QStandardItemModel* containerModel,
               QSystemTrayIcon* trayIcon, ExpiryCheck* expiry, TrayNotice trayNotice,
               std::function<void(int devices)> rebuilt);

    // One device event: every page back to the start, the tree read again, the event
    // announced and the inserted token's expiry checked.
    void refresh(ULONG event, const std::string& deviceName);
    // The tree's header in the current language.
    void showHeader();

    // What a click on a node chooses: a node with children is its device; any other node
    // works on its parent device (an empty name for a device without children).
    Choice choiceAt(const QModelIndex& index) const;
    // What the current node chooses: a child node its parent device, otherwise the node itself.
    Choice currentChoice() const;

private:
    void rebuild();
    void addDeviceNode(const std::string& name);
    void announce(ULONG event);

    PageContext m_context;
    QStandardItemModel* m_deviceModel;
    QStandardItemModel* m_containerModel;
    QSystemTrayIcon* m_trayIcon;
    ExpiryCheck* m_expiry;
    TrayNotice m_trayNotice;
    std::function<void(int devices)> m_rebuilt;
};
