// MainWindow: the manager's only window. Owns the form, the three item models, the device
// event monitor, the message dialog and the tray icon; rebuilds the device tree on every
// device event and switches the interface language.
#pragma once

#include "version.h"
#include "windowconstants.h"

#include <skf/skfapi.h>

#include <QMainWindow>
#include <QModelIndex>
#include <QString>
#include <QSystemTrayIcon>

#include <deque>
#include <map>
#include <memory>
#include <string>

class Ui_MainWindow;
class QAction;
class QCloseEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QStandardItemModel;
class DesktopNotice;
class cMonitor;
class myMessageBox;
namespace catalogue {
struct CatalogueText;
}

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Bytes of the current application name, terminator included.
    static constexpr std::size_t AppNameSize = 128;
    // How long a device notice stays in the tray, in milliseconds.
    static constexpr int DeviceNoticeMs = 3000;
    // How long the notice of a single click on the tray icon stays, in milliseconds.
    static constexpr int ClickNoticeMs = 1000;

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The window's language number (2052, 1028 or 1033).
    int languageId() const { return m_langId; }
    // The name of the first application of the device the last rebuild examined.
    const char* currentAppName() const { return m_appName; }

    // The folder the language files are read from; tests point it elsewhere.
    static void setLanguageDirectory(const std::string& directory);
    static std::string languageDirectory();

    // The catalogue text in the window's language, as a display string.
    static QString catalogueText(const catalogue::CatalogueText& entry);

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
    void createActions();
    void createMenu();
    // Brings the window back from the tray: restored if minimised, shown, raised and focused.
    void bringBack();

    // One device event as the monitor reported it; slotEventChange repeats the last one.
    void onDeviceEvent(unsigned int event, const QString& deviceName);
    void refreshForEvent(ULONG event, const std::string& deviceName);
    // The expiry check of one inserted device (mainwindow_expiry.cpp).
    void certIsValid(const std::string& device);
    // Runs the queued checks one after another; a box's own event loop only queues more.
    void runExpiryChecks();

    void connectWidgets();
    void showSharpPictures();
    void createTrayIcon();
    void disableEventButtons();
    void showMainPage();
    void announceEvent(ULONG event);
    void rebuildDeviceTree();
    void addDeviceNode(const std::string& name);
    void setCurrentAppName(const std::string& name);

    const std::unique_ptr<Ui_MainWindow> ui;
    QSystemTrayIcon* m_trayIcon = nullptr;
    QMenu* m_trayMenu = nullptr;
    // Where notices go when the desktop has no tray.
    DesktopNotice* m_desktopNotice = nullptr;
    QAction* m_showAction = nullptr;
    QAction* m_exitAction = nullptr;
    std::map<std::string, ContainerInfo> m_containerInfo;
    char m_appName[AppNameSize] = {};
    QStandardItemModel* m_ctnModel = nullptr;
    QStandardItemModel* m_devModel = nullptr;
    QStandardItemModel* m_keyInfoModel = nullptr;
    std::unique_ptr<myMessageBox> m_msgBox;
    // Destroyed before the dialog and the form (members go in reverse order), though the
    // destructor has already ended its thread or let go of it.
    std::unique_ptr<cMonitor> m_monitor;
    // Inserted devices whose expiry check has not run yet, in the order they came.
    std::deque<std::string> m_expiryChecks;
    bool m_checkingExpiry = false;
    int m_langId = 1033;
    char m_version[product::VersionSize] = {};
    char m_vendorLine[product::VendorLineSize] = {};

    // Container view, certificate operations and expiry warning (mainwindow_containers.cpp,
    // mainwindow_certificates.cpp, mainwindow_expiry.cpp).
    // Bytes of a container name handed to the driver, terminator included.
    static constexpr std::size_t ContainerNameSize = 128;
    // Opens the container of the view's current node; false when none could be opened.
    bool openCurrentNodeCTN(window::ContainerUse use);
    void viewCertificate(bool sign);
    void addContainerNode(const std::string& name);
    // The container name in a container node's text (the text less its suffix), when it fits.
    static bool containerNameOf(const QString& nodeText, char* name, std::size_t nameSize);

    // Key-information page, label and PIN pages (mainwindow_keyinfo.cpp, mainwindow_pin.cpp).
    void setKeyInfoRow(int row, const catalogue::CatalogueText& caption, const QString& value);
    // Placeholder rows, no bottom line and the label and PIN
    // buttons disabled: the page of a device that has not been (or cannot be) read.
    void showUnreadDevice();
    void showDeviceRows(const DEVINFO& info);
    void findFirstApplication();
    void showPinRows();
    void showPinInfo(ULONG pinType);
    void showInputCount(QLabel* label, int count);
    void checkChangePinField(QLineEdit* field, QLabel* countLabel);
    void guardPinField(QLineEdit* field, QLabel* countLabel);
    void runMessage(unsigned mode, unsigned titleKind, unsigned number);
    // Enter in a page's last field presses its OK button; in an earlier field it moves on.
    void connectEnterKeys();
    // Gives a field of the page shown the focus (after a result dialog: where the typing was).
    void focusField(int page, QLineEdit* field);
    void setCertificateButtonsEnabled(bool enabled);

    // Accessibility (mainwindow_accessibility.cpp): gives every button, field, combo box
    // and tree an accessible name in the current language; the text refresh calls it last.
    void updateAccessibleNames();
    // Tab follows the window's reading order and never lands on a hidden page's tab bar.
    void setKeyboardOrder();
};

// The container type as a word: "RSA" for 1, "ECC" for 2, "Empty" otherwise.
const char* getCtnType(int type);

// How certIsValid announces a certificate with secondsLeft until local midnight of its
// expiry date: nothing, a tray message, a warning box or an error box, with the days shown.
struct ExpiryNotice
{
    enum Kind { None, Tray, Warning, Error };
    Kind kind;
    long long days;
};
ExpiryNotice expiryNoticeFor(long long secondsLeft);
