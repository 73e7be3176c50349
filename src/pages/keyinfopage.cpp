// KeyInfoPage: reading a device's record and PIN information into facts, the twelve rows
// and the bottom line filled from them, and what could be read reported for the buttons.
#include "keyinfopage.h"

#include "ui_mainwindow.h"

#include "buttonstates.h"
#include "cdevmgr.h"
#include "namelist.h"
#include "stringcatalogue.h"
#include "windowconstants.h"

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

// Shown in a row until the token's value could be read.
const char* const PinPlaceholder = "  ";

// Company name, four spaces, "current device SN" and a full-width colon; the serial follows.
const char* const BottomLinePrefix = "Velkora    \xE5\xBD\x93\xE5\x89\x8D\xE8\xAE\xBE\xE5\xA4\x87SN\xEF\xBC\x9A";
constexpr std::size_t BottomLineSize = 256;

// A fixed-size field of the device record, up to its first zero byte.
template <std::size_t N> std::string fieldText(const CHAR (&field)[N])
{
    const char* bytes = reinterpret_cast<const char*>(field);
    return std::string(bytes, strnlen(bytes, N));
}

QString kilobytes(ULONG bytes)
{
    return QString::asprintf("%d KB", static_cast<int>(bytes / 1024));
}

void setRow(QStandardItemModel& model, int row, const catalogue::CatalogueText& caption, const QString& value)
{
    model.setItem(row, 0, new QStandardItem(catalogueText(caption)));
    model.setItem(row, 1, new QStandardItem(value));
}

void fillPinRows(QStandardItemModel& model, bool admin, const std::optional<PinFacts>& pin)
{
    using namespace catalogue;
    const int first = admin ? RowsSoPin : RowsUserPin;
    const QString placeholder = QString::fromLatin1(PinPlaceholder);
    QString values[] = {placeholder, placeholder, placeholder};
    if (pin) {
        values[0] = QString::number(pin->maxRetries);
        values[1] = pin->remaining == 0 ? catalogueText(InfoRetriesLocked) : QString::number(pin->remaining);
        values[2] = catalogueText(pin->isDefault ? InfoYes : InfoNo);
    }
    setRow(model, first, admin ? InfoSoPinMaxRetries : InfoUserPinMaxRetries, values[0]);
    setRow(model, first + 1, admin ? InfoSoPinRemainingRetries : InfoUserPinRemainingRetries, values[1]);
    setRow(model, first + 2, admin ? InfoSoPinIsDefault : InfoUserPinIsDefault, values[2]);
}

// The record of the named device. Device names are bytes (the tree shows them as Latin-1).
// A name that does not fit the 64-byte buffer is not looked up: a shortened one could name
// another device.
bool readDeviceInfo(cDevMgr& manager, const QString& devName, DEVINFO* info)
{
    const QByteArray nameBytes = devName.toLatin1();
    char name[cDevMgr::DevNameSize] = {};
    if (static_cast<std::size_t>(nameBytes.size()) >= sizeof name) {
        return false;
    }
    std::memcpy(name, nameBytes.constData(), static_cast<std::size_t>(nameBytes.size()));
    std::memset(info, 0, sizeof *info);
    return manager.getDevInfo(name, info) == SAR_OK;
}

std::optional<PinFacts> readPin(cDevMgr& manager, ULONG pinType)
{
    PinFacts pin;
    BOOL isDefault = FALSE;
    if (manager.GetPINInfo(pinType, &pin.maxRetries, &pin.remaining, &isDefault) != SAR_OK) {
        return std::nullopt;
    }
    pin.isDefault = isDefault != FALSE;
    return pin;
}

} // namespace

void fillKeyInfo(QStandardItemModel& model, const KeyInfoFacts& facts)
{
    using namespace catalogue;
    const QString placeholder = QString::fromLatin1(PinPlaceholder);
    const auto known = [&facts, &placeholder](const QString& value) { return facts.deviceRead ? value : placeholder; };
    setRow(model, 0, InfoLabel, known(QString::fromUtf8(facts.label.c_str())));
    setRow(model, 1, InfoSerialNumber, known(QString::fromUtf8(facts.serialNumber.c_str())));
    setRow(model, 2, InfoManufacturer, known(QString::fromUtf8(facts.manufacturer.c_str())));
    setRow(model, 3, InfoHardwareVersion, known(QString::asprintf("%d.%d", facts.hardwareMajor, facts.hardwareMinor)));
    setRow(model, 4, InfoTotalSpace, known(kilobytes(facts.totalSpace)));
    setRow(model, 5, InfoFreeSpace, known(kilobytes(facts.freeSpace)));
    fillPinRows(model, true, facts.adminPin);
    fillPinRows(model, false, facts.userPin);
}

QString keyInfoBottomLine(const std::string& serialNumber)
{
    char line[BottomLineSize] = {};
    std::snprintf(line, sizeof line, "%s%s", BottomLinePrefix, serialNumber.c_str());
    return QString::fromUtf8(line);
}

KeyInfoPage::KeyInfoPage(const PageContext& context, QStandardItemModel* model)
    : m_context(context)
    , m_model(model)
{
}

void KeyInfoPage::show()
{
    m_context.ui->tabWidget_2->setCurrentIndex(PageKeyInfo);
}

void KeyInfoPage::open(const QString& devName)
{
    choose(devName);
    m_context.ui->tabWidget->setCurrentIndex(PageUkey);
    show();
}

void KeyInfoPage::choose(const QString& devName)
{
    Ui_MainWindow* ui = m_context.ui;
    showUnread();
    const KeyInfoFacts facts = read(devName);
    if (!facts.deviceRead) {
        return;
    }
    m_context.buttons->reportDevice(true, facts.applicationOpened);
    ui->label_bottom->setText(keyInfoBottomLine(facts.serialNumber));
    fillKeyInfo(*m_model, facts);
}

void KeyInfoPage::showUnread()
{
    Ui_MainWindow* ui = m_context.ui;
    m_context.buttons->reportDevice(false, false);
    ui->label_bottom->setText(QString());
    fillKeyInfo(*m_model, KeyInfoFacts());
    ui->treeView_usbInfo->setHeaderHidden(true);
    ui->treeView_usbInfo->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    ui->treeView_usbInfo->header()->setStretchLastSection(false);
    ui->treeView_usbInfo->setModel(m_model);
}

KeyInfoFacts KeyInfoPage::read(const QString& devName)
{
    cDevMgr& manager = *m_context.manager;
    KeyInfoFacts facts;
    DEVINFO info;
    if (!readDeviceInfo(manager, devName, &info)) {
        // Nor may the application name of another device be opened on the page's behalf.
        m_context.application->set(std::string());
        return facts;
    }
    facts.deviceRead = true;
    facts.label = fieldText(info.Label);
    facts.serialNumber = fieldText(info.SerialNumber);
    facts.manufacturer = fieldText(info.Manufacturer);
    facts.hardwareMajor = info.HWVersion.major;
    facts.hardwareMinor = info.HWVersion.minor;
    facts.totalSpace = info.TotalSpace;
    facts.freeSpace = info.FreeSpace;

    findFirstApplication();
    const ApplicationName& application = *m_context.application;
    facts.applicationOpened = !application.empty() && manager.OpenApplication(application.get()) == SAR_OK;
    if (facts.applicationOpened) {
        facts.adminPin = readPin(manager, PinTypeAdmin);
        facts.userPin = readPin(manager, PinTypeUser);
    }
    return facts;
}

void KeyInfoPage::findFirstApplication()
{
    cDevMgr* manager = m_context.manager;
    std::vector<std::string> applications;
    auto enumApp = [manager](LPSTR buffer, ULONG* size) { return manager->EnumApplication(buffer, size); };
    if (namelist::read(enumApp, applications) != SAR_OK) {
        return;
    }
    m_context.application->set(applications.empty() ? std::string() : applications.front());
}
