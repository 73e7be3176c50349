// MainWindow: construction and wiring, the tray icon with its menu, the language refresh
// and switch. Every slot forwards to the page that owns its logic.
#include "mainwindow.h"

#include "ui_mainwindow.h"

#include "buttonstates.h"
#include "captions.h"
#include "cdevmgr.h"
#include "cmonitor.h"
#include "containerview.h"
#include "desktopnotice.h"
#include "devicetree.h"
#include "expirycheck.h"
#include "formstate.h"
#include "guardedslot.h"
#include "keyinfopage.h"
#include "mymessagebox.h"
#include "ovrinkey_paths.h"
#include "pinpages.h"
#include "stringcatalogue.h"
#include "wxmultilang.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QIcon>
#include <QMenu>
#include <QStandardItemModel>

#include <cstdlib>

using namespace window;

namespace {

// The language box's entries in order, by language number.
constexpr int Languages[] = {2052, 1028, 1033};

std::string g_languageDirectory = OVRINKEY_LANG_DIR;

// Every slot that reaches the driver is connected through guarded(), so no exception from
// driver work leaves a slot.
#define GUARDED(slot) guarded(window, &MainWindow::slot, #slot)
// A table row of a slot and its name, for the log of what a guarded slot let go.
#define SLOT_ROW(widget, slot)                                                                                         \
    {                                                                                                                  \
        widget, &MainWindow::slot, #slot                                                                               \
    }

template <typename Widget> struct SlotRow
{
    Widget* widget;
    void (MainWindow::*slot)();
    const char* name;
};

void connectWidgets(MainWindow* window, Ui_MainWindow* ui)
{
    QObject::connect(ui->btn_logo, &QPushButton::clicked, window, GUARDED(btn_Logo));
    QObject::connect(ui->treeView_Dev, &QTreeView::clicked, window, GUARDED(Dev_App_selected));
    QObject::connect(ui->treeView, &QTreeView::doubleClicked, window, GUARDED(Ctn_selected));
    const SlotRow<QPushButton> buttons[] = {SLOT_ROW(ui->btn_DelCtn, btn_deleteCtn),
                                            SLOT_ROW(ui->btn_ImpCert, btn_importCert),
                                            SLOT_ROW(ui->btn_ExpCert, btn_exportCert),
                                            SLOT_ROW(ui->btn_ViewCert, btn_viewCert),
                                            SLOT_ROW(ui->btn_Keyinfo, btn_keyinfo),
                                            SLOT_ROW(ui->btn_ChangeLabel, btn_changeLabel),
                                            SLOT_ROW(ui->btn_VerifyPIN, btn_verifyPin),
                                            SLOT_ROW(ui->btn_ChangePIN, btn_changePin),
                                            SLOT_ROW(ui->btn_ChangeLab_OK, btn_changelabe_ok),
                                            SLOT_ROW(ui->btn_VerifyPIN_OK, btn_verifyPIN_ok),
                                            SLOT_ROW(ui->btn_ChangPIN_OK, btn_changePIN_ok)};
    for (const auto& row : buttons) {
        QObject::connect(row.widget, &QPushButton::clicked, window, guarded(window, row.slot, row.name));
    }
    const SlotRow<QLineEdit> fields[] = {SLOT_ROW(ui->NewLabelEdit, tab1_newName_Valuechange),
                                         SLOT_ROW(ui->VerifyPIN_Edit, tab1_PIN_Valuechange),
                                         SLOT_ROW(ui->NewPIN_Edit, tab1_NewPIN_Valuechange),
                                         SLOT_ROW(ui->OldPIN_Edit, tab1_OldPIN_Valuechange),
                                         SLOT_ROW(ui->ConfirmPIN_Edit, tab1_ConfirmPIN_Valuechange),
                                         SLOT_ROW(ui->SOPIN_Edit, UnBlockPIN_Valuechange),
                                         SLOT_ROW(ui->UserPIN_Edit, UnBlockPIN_Valuechange),
                                         SLOT_ROW(ui->ConfirmUserPIN_Edit, UnBlockPIN_Valuechange),
                                         SLOT_ROW(ui->OldAuthKey_Edit, ChangeDevAuthKey_Valuechange),
                                         SLOT_ROW(ui->NewAuthKey_Edit, ChangeDevAuthKey_Valuechange),
                                         SLOT_ROW(ui->ConfirmAuthKey_Edit, ChangeDevAuthKey_Valuechange),
                                         SLOT_ROW(ui->Init_DevAuthKey_Edit, Initialize_Valuechange),
                                         SLOT_ROW(ui->Init_LabelName_Edit, Initialize_Valuechange),
                                         SLOT_ROW(ui->Init_NewSOPIN_Edit, Initialize_Valuechange),
                                         SLOT_ROW(ui->Init_NewUserPIN_Edit, Initialize_Valuechange)};
    for (const auto& row : fields) {
        QObject::connect(row.widget, &QLineEdit::textChanged, window, guarded(window, row.slot, row.name));
    }
    QObject::connect(ui->chb_devAuthkey, &QCheckBox::clicked, window, GUARDED(Initialize_Valuechange));
    ui->chb_devAuthkey->setChecked(true);
    ui->Init_DevAuthKey_Edit->setEnabled(false);
}

// Brings a window back from the tray: restored if minimised, shown, raised and focused.
void bringBack(QWidget* window)
{
    // show() alone leaves a minimised window minimised, out of reach without a taskbar.
    window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui_MainWindow>())
{
    getMgrVersion(m_version, m_vendorLine, sizeof m_version, sizeof m_vendorLine);

    ui->setupUi(this);
    formstate::showSharpPictures(*ui, devicePixelRatioF());
    formstate::setInitialState(*ui);

    m_monitor = std::make_unique<cMonitor>();
    m_msgBox = std::make_unique<myMessageBox>(nullptr);

    m_ctnModel = new QStandardItemModel(ui->treeView);
    m_devModel = new QStandardItemModel(ui->treeView_Dev);
    m_keyInfoModel = new QStandardItemModel(ui->treeView_usbInfo);

    // The first header is the built-in text; every rebuild sets the looked-up one.
    m_devModel->setHorizontalHeaderLabels(QStringList() << QString::fromUtf8(catalogue::DeviceList.defaultText));
    ui->treeView_Dev->setModel(m_devModel);

    ui->btn_Keyinfo->hide();
    ui->btn_ImpCert->hide();

    // The tray icon, its menu and where notices go when the desktop has no tray.
    m_trayIcon = new QSystemTrayIcon(this);
    m_trayIcon->setIcon(QIcon(QStringLiteral(":/mgr_op.ico")));
    m_trayIcon->setToolTip(tr(product::Title));
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::on_activatedSysTrayIcon);
    m_desktopNotice = new DesktopNotice(
        {QStringLiteral(OVRINKEY_APP_NAME), QStringLiteral(OVRINKEY_APP_ID), QStringLiteral(OVRINKEY_APP_ID)}, this);
    m_showAction = new QAction(catalogueText(catalogue::TrayShowWindow), this);
    m_exitAction = new QAction(catalogueText(catalogue::TrayExit), this);
    connect(m_showAction, &QAction::triggered, this, &MainWindow::on_showMainAction);
    connect(m_exitAction, &QAction::triggered, this, &MainWindow::on_exitAppAction);
    m_trayMenu = new QMenu(this);
    m_trayMenu->addAction(m_showAction);
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(m_exitAction);
    m_trayIcon->setContextMenu(m_trayMenu);

    // The pages.
    m_buttons = std::make_unique<buttons::ButtonPanel>(*ui);
    const PageContext context{ui.get(), cDevMgr::getInst(), m_msgBox.get(), &m_appName, m_buttons.get()};
    const auto trayNotice = [this](const QString& title, const QString& text, int durationMs) {
        showTrayNotice(title, text, durationMs);
    };
    m_expiry = std::make_unique<ExpiryCheck>(trayNotice);
    m_deviceTree = std::make_unique<DeviceTree>(context, m_devModel, m_ctnModel, m_trayIcon, m_expiry.get(), trayNotice,
                                                [this](int devices) { emit deviceTreeRebuilt(devices); });
    m_keyInfo = std::make_unique<KeyInfoPage>(context, m_keyInfoModel);
    m_containers = std::make_unique<ContainerView>(
        context, m_ctnModel, &m_containerInfo, [this](const QString& devName) { m_keyInfo->choose(devName); }, this,
        [this](const char* command) { startViewer(command); });
    m_pins = std::make_unique<PinPages>(context, this);

    MainWindow* window = this;
    connectWidgets(window, ui.get());
    formstate::setKeyboardOrder(*ui);
    connect(m_monitor.get(), &cMonitor::notifyTokenEvent, this, [this](unsigned int event, const QString& deviceName) {
        guardedslot::run("onDeviceEvent", [&] { m_deviceTree->refresh(event, deviceName.toStdString()); });
    });

    m_langId = wx_getSysLanguage();
    ui->cbx_lang->addItem(catalogueText(catalogue::LanguageSimplifiedChinese));
    ui->cbx_lang->addItem(catalogueText(catalogue::LanguageTraditionalChinese));
    ui->cbx_lang->addItem(catalogueText(catalogue::LanguageEnglish));
    ui->cbx_lang->hide();
    ui->cbx_lang->setCurrentIndex(m_langId == Languages[0] ? 0 : m_langId == Languages[1] ? 1 : 2);

    m_monitor->start();
    // Connected only now, so the initial selection above does not switch the language.
    connect(ui->cbx_lang, QOverload<int>::of(&QComboBox::currentIndexChanged), this, GUARDED(chooseLangByIndex));
    updateUIlangFirst();
}

MainWindow::~MainWindow()
{
    // The monitor is ended before anything it could signal goes away. If the driver would
    // not let go, the thread object is left alive rather than destroyed while running.
    if (!stopMonitor()) {
        static_cast<void>(m_monitor.release());
    }
    m_containerInfo.clear();
}

void MainWindow::setLanguageDirectory(const std::string& directory)
{
    g_languageDirectory = directory;
}

std::string MainWindow::languageDirectory()
{
    return g_languageDirectory;
}

void MainWindow::updateUIlang()
{
    updateUIlangFirst();
    slotEventChange();
}

void MainWindow::updateUIlangFirst()
{
    captions::useLanguage(g_languageDirectory, m_langId);
    setWindowTitle(tr(product::Title));
    m_showAction->setText(catalogueText(catalogue::TrayShowWindow));
    m_exitAction->setText(catalogueText(catalogue::TrayExit));
    m_deviceTree->showHeader();
    captions::show(*ui, m_version, m_vendorLine);
}

void MainWindow::chooseLangByIndex(int index)
{
    if (index >= 0 && index < static_cast<int>(std::size(Languages))) {
        m_langId = Languages[index];
    }
    updateUIlang();
}

void MainWindow::setLangID(int id)
{
    m_langId = id;
}

void MainWindow::slotEventChange()
{
    // The stored event is not reset once read, so a language switch repeats its notice.
    m_deviceTree->refresh(cDevMgr::getInst()->GetEvent(), cDevMgr::getInst()->GetDevName());
}

void MainWindow::chooseDev(QString devName)
{
    m_keyInfo->choose(devName);
}

void MainWindow::chooseApp(QString devName)
{
    m_containers->open(devName);
}

void MainWindow::btn_Logo()
{
    ui->tabWidget->setCurrentIndex(PageAbout);
}

void MainWindow::Dev_App_selected_noindex()
{
    const DeviceTree::Choice choice = m_deviceTree->currentChoice();
    choice.device ? m_keyInfo->open(choice.name) : chooseApp(choice.name);
}

void MainWindow::Dev_App_selected(QModelIndex index)
{
    const DeviceTree::Choice choice = m_deviceTree->choiceAt(index);
    choice.device ? m_keyInfo->open(choice.name) : chooseApp(choice.name);
}

void MainWindow::Ctn_selected(QModelIndex)
{
    btn_viewCert();
}

void MainWindow::btn_deleteCtn()
{
    m_containers->deleteSelected();
}

// Its button is hidden at construction and never shown.
void MainWindow::btn_importCert() { }

void MainWindow::btn_exportCert()
{
    m_containers->exportSelected();
}

void MainWindow::btn_viewCert()
{
    m_containers->viewSelected();
}

void MainWindow::btn_keyinfo()
{
    m_keyInfo->show();
}

void MainWindow::btn_changeLabel()
{
    m_pins->openLabelPage();
}

void MainWindow::btn_verifyPin()
{
    m_pins->openVerifyPage();
}

void MainWindow::btn_changePin()
{
    m_pins->openChangePage();
}

void MainWindow::tab1_newName_Valuechange()
{
    m_pins->labelTyped();
}

void MainWindow::tab1_PIN_Valuechange()
{
    m_pins->verifyPinTyped();
}

void MainWindow::tab1_OldPIN_Valuechange()
{
    m_pins->changePinTyped(ui->OldPIN_Edit, ui->lab_oldPINCheck);
}

void MainWindow::tab1_NewPIN_Valuechange()
{
    m_pins->changePinTyped(ui->NewPIN_Edit, ui->lab_NewPINCheck);
}

void MainWindow::tab1_ConfirmPIN_Valuechange()
{
    m_pins->changePinTyped(ui->ConfirmPIN_Edit, ui->lab_ConfirmPINCheck);
}

void MainWindow::NewLabelEdit_Valuechange()
{
    m_pins->labelBytesTyped();
}

void MainWindow::UnBlockPIN_Valuechange()
{
    m_pins->unblockTyped();
}

void MainWindow::ChangeDevAuthKey_Valuechange()
{
    m_pins->authKeyTyped();
}

void MainWindow::Initialize_Valuechange()
{
    m_pins->initializeTyped();
}

void MainWindow::btn_changelabe_ok()
{
    m_pins->changeLabel();
}

void MainWindow::btn_verifyPIN_ok()
{
    m_pins->verifyPin();
}

void MainWindow::btn_changePIN_ok()
{
    m_pins->changePin();
}

void MainWindow::showTrayNotice(const QString& title, const QString& text, int durationMs)
{
    // GNOME without an extension and many Wayland sessions have no tray: the notice goes to
    // the desktop's notification service instead of nowhere. So does a notice while the icon
    // is hidden (the last token removed): a balloon needs its icon on the screen.
    if (!QSystemTrayIcon::isSystemTrayAvailable() || !m_trayIcon->isVisible()) {
        m_desktopNotice->show(title, text, durationMs);
        return;
    }
    m_trayIcon->showMessage(title, text, QSystemTrayIcon::NoIcon, durationMs);
}

void MainWindow::startViewer(const char* command)
{
    // The viewer runs in the background; its exit status is of no interest here.
    const int started = std::system(command);
    static_cast<void>(started);
}

void MainWindow::on_activatedSysTrayIcon(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::DoubleClick) {
        bringBack(this);
    } else if (reason == QSystemTrayIcon::Trigger) {
        showTrayNotice(catalogueText(catalogue::TrayTitle), tr(product::Title), ClickNoticeMs);
    }
}

void MainWindow::on_showMainAction()
{
    bringBack(this);
}

void MainWindow::on_exitAppAction()
{
    // The process ends at once, but never with the monitor thread inside the driver.
    stopMonitor();
    std::exit(0);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    event->ignore();
    hide();
    stopMonitor();
    QCoreApplication::quit();
}

bool MainWindow::stopMonitor()
{
    return m_monitor == nullptr || m_monitor->stop();
}
