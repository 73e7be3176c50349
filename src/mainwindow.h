// MainWindow: the manager's only window. Owns the form, the three item models, the device
// event monitor, the message dialog and the tray icon, and wires every widget to its slot.
// Each slot forwards to the page that owns its logic: the device tree, the key-information
// page, the container view, the PIN pages or the expiry check.
#pragma once

#include "pagecontext.h"
#include "version.h"
#include "windowconstants.h"

#include <skf/skfapi.h>

#include <QMainWindow>
#include <QModelIndex>
#include <QString>
#include <QSystemTrayIcon>

#include <map>
#include <memory>
#include <string>

class Ui_MainWindow;
namespace buttons {
class ButtonPanel;
}
class QAction;
class QCloseEvent;
class QMenu;
class QStandardItemModel;
class ContainerView;
class DesktopNotice;
class DeviceTree;
class ExpiryCheck;
class KeyInfoPage;
class PinPages;
class cMonitor;
class myMessageBox;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Bytes of the current application name, terminator included.
    static constexpr std::size_t AppNameSize = ApplicationName::Size;
    // How long the notice of a single click on the tray icon stays, in milliseconds.
    static constexpr int ClickNoticeMs = 1000;

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The window's language number (2052, 1028 or 1033).
    int languageId() const { return m_langId; }
    // The name of the first application of the device the last rebuild examined.
    const char* currentAppName() const { return m_appName.get(); }

    // The folder the language files are read from; tests point it elsewhere.
    static void setLanguageDirectory(const std::string& directory);
    static std::string languageDirectory();

signals:
    // After every rebuild of the device tree, with the number of devices it shows.
    void deviceTreeRebuilt(int devices);

public slots:
    void updateUIlang();
    void updateUIlangFirst();
    void chooseLangByIndex(int index);
    void slotEventChange();
    void chooseDev(QString devName);
    void chooseApp(QString devName);
    void btn_Logo();
    void Dev_App_selected_noindex();
    void Dev_App_selected(QModelIndex index);
    void Ctn_selected(QModelIndex index);
    void btn_deleteCtn();
    void btn_importCert();
    void btn_exportCert();
    void btn_viewCert();
    void btn_keyinfo();
    void btn_changeLabel();
    void btn_verifyPin();
    void btn_changePin();
    void tab1_newName_Valuechange();
    void tab1_PIN_Valuechange();
    void tab1_OldPIN_Valuechange();
    void tab1_NewPIN_Valuechange();
    void tab1_ConfirmPIN_Valuechange();
    void NewLabelEdit_Valuechange();
    void UnBlockPIN_Valuechange();
    void ChangeDevAuthKey_Valuechange();
    void Initialize_Valuechange();
    void btn_changelabe_ok();
    void btn_verifyPIN_ok();
    void btn_changePIN_ok();
    void setLangID(int id);

private slots:
    void on_activatedSysTrayIcon(QSystemTrayIcon::ActivationReason reason);
    void on_showMainAction();
    void on_exitAppAction();

protected:
    void closeEvent(QCloseEvent* event) override;

    // Every tray notice goes through here, so tests can watch them without a tray host.
    virtual void showTrayNotice(const QString& title, const QString& text, int durationMs);

    // The certificate viewer is started through here (a shell command that returns at
    // once), so tests can see what it was asked to show.
    virtual void startViewer(const char* command);

    // Ends the monitor thread (cancels the driver's wait and joins). Safe to call twice.
    bool stopMonitor();

private:
    const std::unique_ptr<Ui_MainWindow> ui;
    QSystemTrayIcon* m_trayIcon = nullptr;
    QMenu* m_trayMenu = nullptr;
    // Where notices go when the desktop has no tray.
    DesktopNotice* m_desktopNotice = nullptr;
    QAction* m_showAction = nullptr;
    QAction* m_exitAction = nullptr;
    std::map<std::string, ContainerInfo> m_containerInfo;
    ApplicationName m_appName;
    QStandardItemModel* m_ctnModel = nullptr;
    QStandardItemModel* m_devModel = nullptr;
    QStandardItemModel* m_keyInfoModel = nullptr;
    std::unique_ptr<myMessageBox> m_msgBox;
    // Every button's enabled state, set from what the pages report.
    std::unique_ptr<buttons::ButtonPanel> m_buttons;
    // The pages, each working on its part of the form; made after the form and the dialog
    // and destroyed before them.
    std::unique_ptr<ExpiryCheck> m_expiry;
    std::unique_ptr<DeviceTree> m_deviceTree;
    std::unique_ptr<KeyInfoPage> m_keyInfo;
    std::unique_ptr<ContainerView> m_containers;
    std::unique_ptr<PinPages> m_pins;
    // Destroyed before the pages, the dialog and the form (members go in reverse order),
    // though the destructor has already ended its thread or let go of it.
    std::unique_ptr<cMonitor> m_monitor;
    int m_langId = 1033;
    char m_version[product::VersionSize] = {};
    char m_vendorLine[product::VendorLineSize] = {};
};
