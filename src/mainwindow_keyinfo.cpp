// MainWindow: the key-information page of a device, which also makes the device and its
// first application current for every later token operation.
#include "mainwindow.h"

#include "ui_mainwindow.h"

#include "cdevmgr.h"
#include "stringcatalogue.h"

#include <QHeaderView>
#include <QStandardItem>
#include <QStandardItemModel>

#include <cstdio>
#include <cstring>
#include <vector>

using namespace window;

namespace {

// The first row of each PIN kind's three rows.
constexpr int RowsSoPin = 6;
constexpr int RowsUserPin = 9;

// Shown in the PIN rows until the token's values could be read.
const char* const PinPlaceholder = "  ";

// Company name, four spaces, "current device SN" and a full-width colon; the serial follows.
const char* const BottomLinePrefix = "Velkora    \xE5\xBD\x93\xE5\x89\x8D\xE8\xAE\xBE\xE5\xA4\x87SN\xEF\xBC\x9A";
constexpr std::size_t BottomLineSize = 256;

// A driver that reports a larger application list than this is not believed.
constexpr ULONG MaxAppListSize = 64 * 1024;

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

// How much of a name of length bytes fits maxBytes without splitting a UTF-8 character.
std::size_t fittingLength(const char* name, std::size_t length, std::size_t maxBytes)
{
    if (length <= maxBytes) {
        return length;
    }
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) {
        --end;
    }
    return end;
}

} // namespace

void MainWindow::btn_keyinfo()
{
    ui->tabWidget_2->setCurrentIndex(PageKeyInfo);
}

void MainWindow::chooseDev(QString devName)
{
    ui->btn_ChangeLabel->setEnabled(true);
    ui->btn_VerifyPIN->setEnabled(false);
    ui->btn_ChangePIN->setEnabled(false);

    // Device names are bytes (the tree shows them as Latin-1). A name that does not fit the
    // 64-byte buffer is not looked up: a shortened one could name another device.
    const QByteArray nameBytes = devName.toLatin1();
    char name[cDevMgr::DevNameSize] = {};
    if (static_cast<std::size_t>(nameBytes.size()) >= sizeof name) {
        return;
    }
    std::memcpy(name, nameBytes.constData(), static_cast<std::size_t>(nameBytes.size()));

    cDevMgr* manager = cDevMgr::getInst();
    DEVINFO info{};
    if (manager->getDevInfo(name, &info) != SAR_OK) {
        return;
    }

    ui->label_bottom->setText(bottomLine(info));
    showDeviceRows(info);
    findFirstApplication();
    showPinRows();

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
    ULONG size = 0;
    if (manager->EnumApplication(nullptr, &size) != SAR_OK) {
        return;
    }
    if (size < 2) {
        setCurrentAppName("", 0);
        return;
    }
    if (size > MaxAppListSize) {
        return;
    }
    // Two spare zero bytes end a list that lacks its closing empty name.
    std::vector<char> list(static_cast<std::size_t>(size) + 2, '\0');
    ULONG filled = size;
    if (manager->EnumApplication(list.data(), &filled) != SAR_OK) {
        return;
    }
    setCurrentAppName(list.data(), fittingLength(list.data(), strnlen(list.data(), size), AppNameSize - 1));
}

void MainWindow::showPinRows()
{
    using namespace catalogue;
    const QString placeholder = QString::fromLatin1(PinPlaceholder);
    setKeyInfoRow(RowsSoPin, InfoSoPinMaxRetries, placeholder);
    setKeyInfoRow(RowsSoPin + 1, InfoSoPinRemainingRetries, placeholder);
    setKeyInfoRow(RowsSoPin + 2, InfoSoPinIsDefault, placeholder);
    setKeyInfoRow(RowsUserPin, InfoUserPinMaxRetries, placeholder);
    setKeyInfoRow(RowsUserPin + 1, InfoUserPinRemainingRetries, placeholder);
    setKeyInfoRow(RowsUserPin + 2, InfoUserPinIsDefault, placeholder);

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
