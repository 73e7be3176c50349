// Shared pieces of the main window's tests: a window that records its tray notices, and
// small helpers to read the device tree.
#pragma once

#include "mainwindow.h"

#include <QList>
#include <QStandardItemModel>
#include <QString>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QTreeView>

struct TrayNotice
{
    QString title;
    QString text;
    int durationMs;
};

// The real window; every tray notice is recorded before it goes to the tray icon.
class RecordingWindow : public MainWindow
{
public:
    using MainWindow::MainWindow;

    QList<TrayNotice> notices;
    // The viewer commands the window ran, in order.
    QStringList viewerCommands;

    QTreeView* deviceTree() const { return findChild<QTreeView*>(QStringLiteral("treeView_Dev")); }
    QStandardItemModel* deviceModel() const { return qobject_cast<QStandardItemModel*>(deviceTree()->model()); }
    QSystemTrayIcon* trayIcon() const { return findChild<QSystemTrayIcon*>(); }

    // The device names at the top level of the tree, in order.
    QStringList deviceNames() const
    {
        QStringList names;
        for (int row = 0; row < deviceModel()->rowCount(); ++row) {
            names << deviceModel()->item(row)->text();
        }
        return names;
    }

    // The texts of the children of the named device.
    QStringList childrenOf(const QString& device) const
    {
        QStringList texts;
        for (int row = 0; row < deviceModel()->rowCount(); ++row) {
            QStandardItem* node = deviceModel()->item(row);
            if (node->text() != device) {
                continue;
            }
            for (int child = 0; child < node->rowCount(); ++child) {
                texts << node->child(child)->text();
            }
        }
        return texts;
    }

    QString headerText() const { return deviceModel()->headerData(0, Qt::Horizontal).toString(); }

protected:
    void showTrayNotice(const QString& title, const QString& text, int durationMs) override
    {
        notices.append({title, text, durationMs});
        MainWindow::showTrayNotice(title, text, durationMs);
    }

    void startViewer(const char* command) override
    {
        viewerCommands.append(QString::fromLocal8Bit(command));
        MainWindow::startViewer(command);
    }
};
