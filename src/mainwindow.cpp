// MainWindow: construction and wiring, the device tree and its rebuild on device events,
// the language refresh and switch, and the tray icon with its menu.
#include "mainwindow.h"

#include "ui_mainwindow.h"

#include "benchprobe.h"
#include "cdevmgr.h"
#include "cgmskfoperator.h"
#include "cmonitor.h"
#include "desktopnotice.h"
#include "guardedslot.h"
#include "hidpi.h"
#include "mymessagebox.h"
#include "namelist.h"
#include "ovrinkey_paths.h"
#include "qttranslations.h"
#include "stringcatalogue.h"
#include "wxmultilang.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QStandardItem>
#include <QStandardItemModel>
#include <QTabBar>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace window;

namespace {

constexpr int LangSimplifiedChinese = 2052;
constexpr int LangTraditionalChinese = 1028;
constexpr int LangEnglish = 1033;

constexpr ULONG EventInserted = 1;
constexpr ULONG EventRemoved = 2;

std::string g_languageDirectory = OVRINKEY_LANG_DIR;

} // namespace

// Every slot that reaches the driver is connected through guarded(), so no exception from
// driver work leaves a slot.
#define GUARDED(slot) guarded(this, &MainWindow::slot, #slot)

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui_MainWindow>())
{
    getMgrVersion(m_version, m_vendorLine, sizeof m_version, sizeof m_vendorLine);

    ui->setupUi(this);
    // The logo picture lies over the logo button: a click goes through it to the button,
    // and the keyboard reaches the button too.
    ui->label_logo->setAttribute(Qt::WA_TransparentForMouseEvents);
    ui->btn_logo->setFocusPolicy(Qt::StrongFocus);
    showSharpPictures();

    ui->tabWidget->tabBar()->hide();
    ui->tabWidget_2->tabBar()->hide();
    ui->tabWidget_2->setAttribute(Qt::WA_TranslucentBackground);
    showMainPage();

    // The authentication-key, initialisation and unblock pages are not offered.
    for (QPushButton* button : {ui->btn_ChangeAuthKey, ui->btn_UnblockPIN, ui->btn_Initialize}) {
        button->setEnabled(false);
        button->hide();
    }
    for (QPushButton* button :
         {ui->btn_ChangeLabel, ui->btn_VerifyPIN, ui->btn_ChangePIN, ui->btn_VerifyPIN_OK, ui->btn_ChangPIN_OK,
          ui->btn_ImpCert, ui->btn_ExpCert, ui->btn_DelCtn, ui->btn_ChangeLab_OK, ui->btn_ChangAuthKey_OK,
          ui->btn_UnblockPIN_OK, ui->btn_Initialize_OK}) {
        button->setEnabled(false);
    }

    m_monitor = std::make_unique<cMonitor>();
    m_msgBox = std::make_unique<myMessageBox>(nullptr);

    m_ctnModel = new QStandardItemModel(ui->treeView);
    m_devModel = new QStandardItemModel(ui->treeView_Dev);
    m_keyInfoModel = new QStandardItemModel(ui->treeView_usbInfo);

    // The first header is the built-in text; every rebuild sets the looked-up one.
    m_devModel->setHorizontalHeaderLabels(QStringList() << QString::fromUtf8(catalogue::DeviceList.defaultText));
    ui->treeView_Dev->setModel(m_devModel);

    ui->btn_Keyinfo->setEnabled(false);
    ui->btn_Keyinfo->hide();
    ui->btn_ImpCert->hide();

    connectWidgets();
    connectEnterKeys();
    setKeyboardOrder();
    connect(m_monitor.get(), &cMonitor::notifyTokenEvent, this, GUARDED(onDeviceEvent));

    m_langId = wx_getSysLanguage();
    ui->cbx_lang->addItem(catalogueText(catalogue::LanguageSimplifiedChinese));
    ui->cbx_lang->addItem(catalogueText(catalogue::LanguageTraditionalChinese));
    ui->cbx_lang->addItem(catalogueText(catalogue::LanguageEnglish));
    ui->cbx_lang->hide();

    ui->label_2->setText(tr(m_version));
    ui->label_3->setText(tr(m_vendorLine));
    ui->label_version->setText(tr(m_version));

    if (m_langId == LangSimplifiedChinese) {
        ui->cbx_lang->setCurrentIndex(0);
    } else if (m_langId == LangTraditionalChinese) {
        ui->cbx_lang->setCurrentIndex(1);
    } else {
        ui->cbx_lang->setCurrentIndex(2);
    }

    m_monitor->start();
    // Connected only now, so the initial selection above does not switch the language.
    connect(ui->cbx_lang, QOverload<int>::of(&QComboBox::currentIndexChanged), this, GUARDED(chooseLangByIndex));

    createTrayIcon();
    createActions();
    createMenu();
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

void MainWindow::connectWidgets()
{
    connect(ui->btn_logo, &QPushButton::clicked, this, GUARDED(btn_Logo));
    connect(ui->treeView_Dev, &QTreeView::clicked, this, GUARDED(Dev_App_selected));
    connect(ui->treeView, &QTreeView::doubleClicked, this, GUARDED(Ctn_selected));
    connect(ui->btn_DelCtn, &QPushButton::clicked, this, GUARDED(btn_deleteCtn));
    connect(ui->btn_ImpCert, &QPushButton::clicked, this, GUARDED(btn_importCert));
    connect(ui->btn_ExpCert, &QPushButton::clicked, this, GUARDED(btn_exportCert));
    connect(ui->btn_ViewCert, &QPushButton::clicked, this, GUARDED(btn_viewCert));
    connect(ui->btn_Keyinfo, &QPushButton::clicked, this, GUARDED(btn_keyinfo));
    connect(ui->btn_ChangeLabel, &QPushButton::clicked, this, GUARDED(btn_changeLabel));
    connect(ui->btn_VerifyPIN, &QPushButton::clicked, this, GUARDED(btn_verifyPin));
    connect(ui->btn_ChangePIN, &QPushButton::clicked, this, GUARDED(btn_changePin));
    connect(ui->NewLabelEdit, &QLineEdit::textChanged, this, GUARDED(tab1_newName_Valuechange));
    connect(ui->VerifyPIN_Edit, &QLineEdit::textChanged, this, GUARDED(tab1_PIN_Valuechange));
    connect(ui->NewPIN_Edit, &QLineEdit::textChanged, this, GUARDED(tab1_NewPIN_Valuechange));
    connect(ui->OldPIN_Edit, &QLineEdit::textChanged, this, GUARDED(tab1_OldPIN_Valuechange));
    connect(ui->ConfirmPIN_Edit, &QLineEdit::textChanged, this, GUARDED(tab1_ConfirmPIN_Valuechange));
    connect(ui->btn_ChangeLab_OK, &QPushButton::clicked, this, GUARDED(btn_changelabe_ok));
    connect(ui->btn_VerifyPIN_OK, &QPushButton::clicked, this, GUARDED(btn_verifyPIN_ok));
    connect(ui->btn_ChangPIN_OK, &QPushButton::clicked, this, GUARDED(btn_changePIN_ok));
    connect(ui->SOPIN_Edit, &QLineEdit::textChanged, this, GUARDED(UnBlockPIN_Valuechange));
    connect(ui->UserPIN_Edit, &QLineEdit::textChanged, this, GUARDED(UnBlockPIN_Valuechange));
    connect(ui->ConfirmUserPIN_Edit, &QLineEdit::textChanged, this, GUARDED(UnBlockPIN_Valuechange));
    connect(ui->OldAuthKey_Edit, &QLineEdit::textChanged, this, GUARDED(ChangeDevAuthKey_Valuechange));
    connect(ui->NewAuthKey_Edit, &QLineEdit::textChanged, this, GUARDED(ChangeDevAuthKey_Valuechange));
    connect(ui->ConfirmAuthKey_Edit, &QLineEdit::textChanged, this, GUARDED(ChangeDevAuthKey_Valuechange));
    connect(ui->Init_DevAuthKey_Edit, &QLineEdit::textChanged, this, GUARDED(Initialize_Valuechange));
    connect(ui->Init_LabelName_Edit, &QLineEdit::textChanged, this, GUARDED(Initialize_Valuechange));
    connect(ui->Init_NewSOPIN_Edit, &QLineEdit::textChanged, this, GUARDED(Initialize_Valuechange));
    connect(ui->Init_NewUserPIN_Edit, &QLineEdit::textChanged, this, GUARDED(Initialize_Valuechange));
    connect(ui->chb_devAuthkey, &QCheckBox::clicked, this, GUARDED(Initialize_Valuechange));
    ui->chb_devAuthkey->setChecked(true);
    ui->Init_DevAuthKey_Edit->setEnabled(false);
}

void MainWindow::showSharpPictures()
{
    // The form loads each label's picture at 1x; on a 2x screen the @2x twin replaces it.
    const qreal ratio = devicePixelRatioF();
    const std::pair<QLabel*, const char*> pictures[]
        = {{ui->label_logo, ":/VQlogo1.png"},   {ui->lab_changlabel_2, ":/infousb.png"},
           {ui->lab_changlabel, ":/edit.png"},  {ui->lab_VerifyPIN, ":/pwd.png"},
           {ui->lab_changePIN, ":/pwd.png"},    {ui->lab_changeAuthKey_2, ":/pwd.png"},
           {ui->lab_Initialize_3, ":/pwd.png"}, {ui->lab_UnblockPIN_3, ":/unlock.png"},
           {ui->lab_cert, ":/cert3.png"}};
    for (const auto& picture : pictures) {
        picture.first->setPixmap(hidpi::picture(QString::fromLatin1(picture.second), ratio));
    }
}

void MainWindow::createTrayIcon()
{
    m_trayIcon = new QSystemTrayIcon(this);
    m_trayIcon->setIcon(QIcon(QStringLiteral(":/mgr_op.ico")));
    m_trayIcon->setToolTip(tr(product::Title));
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::on_activatedSysTrayIcon);
    m_desktopNotice = new DesktopNotice(
        {QStringLiteral(OVRINKEY_APP_NAME), QStringLiteral(OVRINKEY_APP_ID), QStringLiteral(OVRINKEY_APP_ID)}, this);
}

void MainWindow::createActions()
{
    m_showAction = new QAction(catalogueText(catalogue::TrayShowWindow), this);
    m_exitAction = new QAction(catalogueText(catalogue::TrayExit), this);
    connect(m_showAction, &QAction::triggered, this, &MainWindow::on_showMainAction);
    connect(m_exitAction, &QAction::triggered, this, &MainWindow::on_exitAppAction);
}

void MainWindow::createMenu()
{
    m_trayMenu = new QMenu(this);
    m_trayMenu->addAction(m_showAction);
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(m_exitAction);
    m_trayIcon->setContextMenu(m_trayMenu);
}

QString MainWindow::catalogueText(const catalogue::CatalogueText& entry)
{
    return tr(catalogue::text(entry).c_str());
}

void MainWindow::updateUIlang()
{
    updateUIlangFirst();
    slotEventChange();
}

void MainWindow::updateUIlangFirst()
{
    using namespace catalogue;
    // The language file is read again on every refresh; a missing file leaves the defaults.
    wx_ml_setPath(g_languageDirectory);
    wx_ml_setPrefix(product::LanguagePrefix);
    wx_ml_setCodePage(static_cast<unsigned long>(m_langId));
    qttranslations::follow(m_langId);

    setWindowTitle(tr(product::Title));
    m_showAction->setText(catalogueText(TrayShowWindow));
    m_exitAction->setText(catalogueText(TrayExit));
    m_devModel->setHorizontalHeaderLabels(QStringList() << catalogueText(DeviceList));
    ui->label_2->setText(tr(m_version));
    ui->label_version->setText(tr(m_version));
    ui->label_3->setText(tr(m_vendorLine));

    ui->lab_changePIN_2->setText(catalogueText(CaptionChangeUserPin));
    ui->lab_oldPIN->setText(catalogueText(FieldOldUserPin));
    ui->lab_newPIN->setText(catalogueText(FieldNewUserPin));
    ui->lab_confirmPIN->setText(catalogueText(FieldConfirmUserPin));
    ui->label_about->setText(tr(product::Title));
    ui->lab_changlabel_3->setText(catalogueText(CaptionUsbInfo));
    ui->lab_changlabel_4->setText(catalogueText(CaptionChangeLabel));
    ui->lab_newlabel->setText(catalogueText(FieldNewLabel));
    ui->lab_PIN->setText(catalogueText(FieldUserPin));
    ui->lab_VerifyPIN_2->setText(catalogueText(CaptionVerifyUserPin));
    ui->lab_changeAuthKey->setText(catalogueText(CaptionChangeDevAuthKey));
    ui->lab_oldDevAuthKey->setText(catalogueText(FieldOldDevAuthKey));
    ui->lab_newDevAuthKey->setText(catalogueText(FieldNewDevAuthKey));
    ui->lab_ConfirmDevAuthKey->setText(catalogueText(FieldConfirmDevAuthKey));
    ui->lab_Initialize->setText(catalogueText(CaptionInitialize));
    ui->lab_Init_DevAuthKey->setText(catalogueText(FieldInitDevAuthKey));
    ui->lab_Init_NewSOPIN->setText(catalogueText(FieldInitNewSoPin));
    ui->lab_Init_NewUserPIN->setText(catalogueText(FieldInitNewUserPin));
    ui->lab_Init_LabelName->setText(catalogueText(FieldInitLabelName));
    ui->lab_UnblockPIN_4->setText(catalogueText(CaptionUnblockUserPin));
    ui->lab_SOPIN->setText(catalogueText(FieldUnblockSoPin));
    ui->lab_UserPIN->setText(catalogueText(FieldUnblockNewUserPin));
    ui->lab_confirmUserPIN->setText(catalogueText(FieldUnblockConfirmUserPin));
    ui->lab_cert_2->setText(catalogueText(DataManagerTitle));

    ui->label_bottom->setText(QString());

    ui->btn_ChangeAuthKey->setText(catalogueText(ButtonChangeKey));
    ui->btn_Initialize->setText(catalogueText(ButtonInitialize));
    ui->btn_UnblockPIN->setText(catalogueText(ButtonUnblockPin));
    ui->btn_ChangeLabel->setText(catalogueText(ButtonChangeLabel));
    ui->btn_ChangePIN->setText(catalogueText(ButtonChangePin));
    ui->btn_VerifyPIN->setText(catalogueText(ButtonVerifyPin));
    ui->btn_ViewCert->setText(catalogueText(ButtonViewCert));
    ui->btn_ExpCert->setText(catalogueText(ButtonExportCert));
    ui->btn_DelCtn->setText(catalogueText(ButtonDeleteContainer));
    for (QPushButton* button : {ui->btn_ChangeLab_OK, ui->btn_VerifyPIN_OK, ui->btn_ChangPIN_OK,
                                ui->btn_ChangAuthKey_OK, ui->btn_Initialize_OK, ui->btn_UnblockPIN_OK}) {
        button->setText(catalogueText(Ok));
    }
    ui->chb_devAuthkey->setText(catalogueText(DefaultDevAuthKey));

    ui->cbx_lang->setItemText(0, catalogueText(LanguageSimplifiedChinese));
    ui->cbx_lang->setItemText(1, catalogueText(LanguageTraditionalChinese));
    ui->cbx_lang->setItemText(2, catalogueText(LanguageEnglish));
    updateAccessibleNames();
}

void MainWindow::chooseLangByIndex(int index)
{
    switch (index) {
    case 0:
        m_langId = LangSimplifiedChinese;
        break;
    case 1:
        m_langId = LangTraditionalChinese;
        break;
    case 2:
        m_langId = LangEnglish;
        break;
    default:
        break;
    }
    updateUIlang();
}

void MainWindow::setLangID(int id)
{
    m_langId = id;
}

void MainWindow::disableEventButtons()
{
    for (QPushButton* button : {ui->btn_ChangeLabel, ui->btn_VerifyPIN, ui->btn_ChangePIN, ui->btn_VerifyPIN_OK,
                                ui->btn_ChangPIN_OK, ui->btn_ImpCert, ui->btn_ExpCert, ui->btn_DelCtn,
                                ui->btn_ChangeAuthKey, ui->btn_UnblockPIN, ui->btn_Initialize}) {
        button->setEnabled(false);
    }
}

void MainWindow::showMainPage()
{
    ui->tabWidget->setCurrentIndex(PageUkey);
    ui->tabWidget_2->setCurrentIndex(PageMain);
}

void MainWindow::slotEventChange()
{
    // The stored event is not reset once read, so a language switch repeats its notice.
    cDevMgr* manager = cDevMgr::getInst();
    refreshForEvent(manager->GetEvent(), manager->GetDevName());
}

void MainWindow::onDeviceEvent(unsigned int event, const QString& deviceName)
{
    refreshForEvent(event, deviceName.toStdString());
}

void MainWindow::refreshForEvent(ULONG event, const std::string& deviceName)
{
    disableEventButtons();
    showMainPage();
    m_devModel->clear();
    m_ctnModel->clear();
    ui->label_bottom->setText(QString());

    // The tree is whole before any box opens, so an event handled inside a box's event loop
    // rebuilds it from scratch and nothing is appended to it afterwards.
    if (event == EventInserted) {
        m_trayIcon->setVisible(true);
    }
    // The notice follows the rebuild, so that the last removal's notice goes where it can be
    // seen once the icon is gone, and goes out even when the driver throws while the tree is read.
    try {
        rebuildDeviceTree();
    } catch (...) {
        announceEvent(event);
        throw;
    }
    benchprobe::mark("rebuild", m_devModel->rowCount());
    announceEvent(event);

    if (event == EventInserted) {
        m_expiryChecks.push_back(deviceName);
    } else if (event == EventRemoved) {
        m_expiryChecks.erase(std::remove(m_expiryChecks.begin(), m_expiryChecks.end(), deviceName),
                             m_expiryChecks.end());
    }
    runExpiryChecks();
}

void MainWindow::announceEvent(ULONG event)
{
    if (event == EventInserted) {
        showTrayNotice(tr(product::Title), catalogueText(catalogue::TrayTokenInserted), DeviceNoticeMs);
    } else if (event == EventRemoved) {
        showTrayNotice(tr(product::Title), catalogueText(catalogue::TrayTokenRemoved), DeviceNoticeMs);
    }
}

void MainWindow::rebuildDeviceTree()
{
    CGMSKFOperator* skf = cDevMgr::getInst()->binding();
    if (skf == nullptr) {
        return;
    }
    // A list that cannot be read, or is too large to believe, counts as empty.
    std::vector<std::string> devices;
    namelist::read([skf](LPSTR buffer, ULONG* size) { return skf->SKF_EnumDev(TRUE, buffer, size); }, devices);
    for (const std::string& name : devices) {
        addDeviceNode(name);
    }
    // Drivers report "no device" as a list holding only its terminator, not only as size 0.
    if (m_devModel->rowCount() == 0) {
        m_trayIcon->hide();
    }

    m_devModel->setHorizontalHeaderLabels(QStringList() << catalogueText(catalogue::DeviceList));
    ui->treeView_Dev->setModel(m_devModel);
}

void MainWindow::addDeviceNode(const std::string& name)
{
    auto* deviceNode = new QStandardItem(QString::fromLatin1(name.c_str()));
    m_devModel->appendRow(deviceNode);

    cDevMgr* manager = cDevMgr::getInst();
    manager->ConnectDev(name.c_str());

    std::vector<std::string> applications;
    auto enumApp = [manager](LPSTR buffer, ULONG* size) { return manager->EnumApplication(buffer, size); };
    if (namelist::read(enumApp, applications) != SAR_OK) {
        return;
    }
    if (applications.empty()) {
        deviceNode->appendRow(new QStandardItem(catalogueText(catalogue::EmptyDevice)));
        setCurrentAppName(std::string());
        return;
    }
    deviceNode->appendRow(new QStandardItem(catalogueText(catalogue::DataManagerNode)));
    setCurrentAppName(applications.front());
}

void MainWindow::setCurrentAppName(const std::string& name)
{
    // A name that does not fit is cut, at a character, so the buffer keeps its terminator.
    const std::string fitting = namelist::cut(name, sizeof m_appName - 1);
    std::memset(m_appName, 0, sizeof m_appName);
    std::memcpy(m_appName, fitting.data(), fitting.size());
}

void MainWindow::Dev_App_selected(QModelIndex index)
{
    if (m_devModel->hasChildren(index)) {
        chooseDev(index.data(Qt::DisplayRole).toString());
        ui->tabWidget->setCurrentIndex(PageUkey);
        ui->tabWidget_2->setCurrentIndex(PageKeyInfo);
        return;
    }
    // A child node (or a device without one) works on its device; the name passed is the
    // device's, not the application's.
    const QModelIndex parent = index.parent();
    chooseApp(parent.isValid() ? parent.data(Qt::DisplayRole).toString() : QString());
}

void MainWindow::Dev_App_selected_noindex()
{
    const QModelIndex current = ui->treeView_Dev->currentIndex();
    const QModelIndex parent = current.parent();
    if (parent.isValid()) {
        chooseApp(parent.data(Qt::DisplayRole).toString());
        return;
    }
    chooseDev(current.isValid() ? current.data(Qt::DisplayRole).toString() : QString());
    ui->tabWidget->setCurrentIndex(PageUkey);
    ui->tabWidget_2->setCurrentIndex(PageKeyInfo);
}

void MainWindow::btn_Logo()
{
    ui->tabWidget->setCurrentIndex(PageAbout);
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

void MainWindow::on_activatedSysTrayIcon(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::DoubleClick) {
        bringBack();
    } else if (reason == QSystemTrayIcon::Trigger) {
        showTrayNotice(catalogueText(catalogue::TrayTitle), tr(product::Title), ClickNoticeMs);
    }
}

void MainWindow::on_showMainAction()
{
    bringBack();
}

void MainWindow::bringBack()
{
    // show() alone leaves a minimised window minimised, out of reach without a taskbar.
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
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

// Pages filled by the key-information, container, certificate and PIN features.
void MainWindow::btn_importCert() { }
