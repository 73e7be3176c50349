// MainWindow: the key-information page of a device, which also makes the device and its
// first application current for every later token operation.
#include "mainwindow.h"

#include "ui_mainwindow.h"

#include "cdevmgr.h"
#include "namelist.h"
#include "stringcatalogue.h"

#include <QHeaderView>
#include <QStandardItem>
#include <QStandardItemModel>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace window;

namespace {

// The first row of each PIN kind's three rows.
constexpr int RowsSoPin = 6;
constexpr int RowsUserPin = 9;

// Shown in a row until the token's value could be read.
const char* const PinPlaceholder = "  ";

// Company name, four spaces, "current device SN" and a full-width colon; the serial follows.
const char* const BottomLinePrefix = "Velkora    \xE5\xBD\x93\xE5\x89\x8D\xE8\xAE\xBE\xE5\xA4\x87SN\xEF\xBC\x9A";
constexpr std::size_t BottomLineSize = 256;

// A fixed-size field of the device record, up to its first zero byte, as UTF-8.
template <std::size_t N> QString fieldText(const CHAR (&field)[N])
{
    const char* bytes = reinterpret_cast<const char*>(field);
    return QString::fromUtf8(bytes, static_cast<int>(strnlen(bytes, N)));
}

QString kilobytes(ULONG bytes)
{
    return QString::asprintf("%d KB", static_cast<int>(bytes / 1024));
}

// The line under the window: the fixed prefix and the serial number, in 256 bytes.
QString bottomLine(const DEVINFO& info)
{
    const char* serial = reinterpret_cast<const char*>(info.SerialNumber);
    char line[BottomLineSize] = {};
    std::snprintf(line, sizeof line, "%s%.*s", BottomLinePrefix,
                  static_cast<int>(strnlen(serial, sizeof info.SerialNumber)), serial);
    return QString::fromUtf8(line);
}

// The record of the named device. Device names are bytes (the tree shows them as Latin-1).
// A name that does not fit the 64-byte buffer is not looked up: a shortened one could name
// another device.
bool readDeviceInfo(const QString& devName, DEVINFO* info)
{
    const QByteArray nameBytes = devName.toLatin1();
    char name[cDevMgr::DevNameSize] = {};
    if (static_cast<std::size_t>(nameBytes.size()) >= sizeof name) {
        return false;
    }
    std::memcpy(name, nameBytes.constData(), static_cast<std::size_t>(nameBytes.size()));
    std::memset(info, 0, sizeof *info);
    return cDevMgr::getInst()->getDevInfo(name, info) == SAR_OK;
}

} // namespace

void MainWindow::btn_keyinfo()
{
    ui->tabWidget_2->setCurrentIndex(PageKeyInfo);
}

void MainWindow::chooseDev(QString devName)
{
    // Until this device is read, nothing on the page may belong to the one shown before:
    // a label change or a PIN would otherwise act on a device other than the one clicked.
    showUnreadDevice();

    DEVINFO info;
    if (!readDeviceInfo(devName, &info)) {
        // Nor may the application name of another device be opened on the page's behalf.
        setCurrentAppName(std::string());
        return;
    }

    ui->btn_ChangeLabel->setEnabled(true);
    ui->label_bottom->setText(bottomLine(info));
    showDeviceRows(info);
    findFirstApplication();
    showPinRows();
}

void MainWindow::showUnreadDevice()
{
    using namespace catalogue;
    for (QPushButton* button : {ui->btn_ChangeLabel, ui->btn_VerifyPIN, ui->btn_ChangePIN, ui->btn_UnblockPIN}) {
        button->setEnabled(false);
    }
    ui->label_bottom->setText(QString());

    const QString placeholder = QString::fromLatin1(PinPlaceholder);
    int row = 0;
    for (const CatalogueText* caption :
         {&InfoLabel, &InfoSerialNumber, &InfoManufacturer, &InfoHardwareVersion, &InfoTotalSpace, &InfoFreeSpace,
          &InfoSoPinMaxRetries, &InfoSoPinRemainingRetries, &InfoSoPinIsDefault, &InfoUserPinMaxRetries,
          &InfoUserPinRemainingRetries, &InfoUserPinIsDefault}) {
        setKeyInfoRow(row++, *caption, placeholder);
    }
    ui->treeView_usbInfo->setHeaderHidden(true);
    ui->treeView_usbInfo->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    ui->treeView_usbInfo->header()->setStretchLastSection(false);
    ui->treeView_usbInfo->setModel(m_keyInfoModel);
}

void MainWindow::setKeyInfoRow(int row, const catalogue::CatalogueText& caption, const QString& value)
{
    m_keyInfoModel->setItem(row, 0, new QStandardItem(catalogueText(caption)));
    m_keyInfoModel->setItem(row, 1, new QStandardItem(value));
}

void MainWindow::showDeviceRows(const DEVINFO& info)
{
    using namespace catalogue;
    const QString hardwareVersion = QString::asprintf("%d.%d", info.HWVersion.major, info.HWVersion.minor);
    setKeyInfoRow(0, InfoLabel, fieldText(info.Label));
    setKeyInfoRow(1, InfoSerialNumber, fieldText(info.SerialNumber));
    setKeyInfoRow(2, InfoManufacturer, fieldText(info.Manufacturer));
    setKeyInfoRow(3, InfoHardwareVersion, hardwareVersion);
    setKeyInfoRow(4, InfoTotalSpace, kilobytes(info.TotalSpace));
    setKeyInfoRow(5, InfoFreeSpace, kilobytes(info.FreeSpace));
}

void MainWindow::findFirstApplication()
{
    cDevMgr* manager = cDevMgr::getInst();
    std::vector<std::string> applications;
    auto enumApp = [manager](LPSTR buffer, ULONG* size) { return manager->EnumApplication(buffer, size); };
    // A list that cannot be read keeps the name found before; an empty one forgets it.
    if (namelist::read(enumApp, applications) != SAR_OK) {
        return;
    }
    setCurrentAppName(applications.empty() ? std::string() : applications.front());
}

void MainWindow::showPinRows()
{
    cDevMgr* manager = cDevMgr::getInst();
    const bool opened = m_appName[0] != '\0' && manager->OpenApplication(m_appName) == SAR_OK;
    if (opened) {
        showPinInfo(PinTypeAdmin);
        showPinInfo(PinTypeUser);
    }
    // The unblock button stays hidden; its enabled state only follows the others.
    for (QPushButton* button : {ui->btn_VerifyPIN, ui->btn_ChangePIN, ui->btn_UnblockPIN}) {
        button->setEnabled(opened);
    }
}

void MainWindow::showPinInfo(ULONG pinType)
{
    using namespace catalogue;
    ULONG maxRetries = 0;
    ULONG remaining = 0;
    BOOL isDefault = FALSE;
    if (cDevMgr::getInst()->GetPINInfo(pinType, &maxRetries, &remaining, &isDefault) != SAR_OK) {
        return;
    }
    const bool admin = pinType == PinTypeAdmin;
    const int first = admin ? RowsSoPin : RowsUserPin;
    const QString remainingText = remaining == 0 ? catalogueText(InfoRetriesLocked) : QString::number(remaining);
    setKeyInfoRow(first, admin ? InfoSoPinMaxRetries : InfoUserPinMaxRetries, QString::number(maxRetries));
    setKeyInfoRow(first + 1, admin ? InfoSoPinRemainingRetries : InfoUserPinRemainingRetries, remainingText);
    setKeyInfoRow(first + 2, admin ? InfoSoPinIsDefault : InfoUserPinIsDefault,
                  catalogueText(isDefault ? InfoYes : InfoNo));
}
