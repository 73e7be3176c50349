// DeviceTree: the rebuild of the device tree on a device event and the meaning of a click.
#include "devicetree.h"

#include "ui_mainwindow.h"

#include "buttonstates.h"
#include "cdevmgr.h"
#include "cgmskfoperator.h"
#include "expirycheck.h"
#include "namelist.h"
#include "stringcatalogue.h"
#include "version.h"
#include "windowconstants.h"

#include <QCoreApplication>
#include <QStandardItem>
#include <QStandardItemModel>
#include <QSystemTrayIcon>

#include <vector>

using namespace window;

DeviceTree::DeviceTree(const PageContext& context, QStandardItemModel* deviceModel, QStandardItemModel* containerModel,
                       QSystemTrayIcon* trayIcon, ExpiryCheck* expiry, TrayNotice trayNotice,
                       std::function<void(int devices)> rebuilt)
    : m_context(context)
    , m_deviceModel(deviceModel)
    , m_containerModel(containerModel)
    , m_trayIcon(trayIcon)
    , m_expiry(expiry)
    , m_trayNotice(std::move(trayNotice))
    , m_rebuilt(std::move(rebuilt))
{
}

void DeviceTree::refresh(ULONG event, const std::string& deviceName)
{
    Ui_MainWindow* ui = m_context.ui;
    m_context.buttons->deviceEvent();
    ui->tabWidget->setCurrentIndex(PageUkey);
    ui->tabWidget_2->setCurrentIndex(PageMain);
    m_deviceModel->clear();
    m_containerModel->clear();
    ui->label_bottom->setText(QString());

    // The tree is whole before any box opens, so an event handled inside a box's event loop
    // rebuilds it from scratch and nothing is appended to it afterwards.
    if (event == DEV_EVENT_INSERTED) {
        m_trayIcon->setVisible(true);
    }
    // The notice follows the rebuild, so that the last removal's notice goes where it can be
    // seen once the icon is gone, and goes out even when the driver throws while the tree is read.
    try {
        rebuild();
    } catch (...) {
        announce(event);
        throw;
    }
    m_rebuilt(m_deviceModel->rowCount());
    announce(event);

    if (event == DEV_EVENT_INSERTED) {
        m_expiry->inserted(deviceName);
    } else if (event == DEV_EVENT_REMOVED) {
        m_expiry->removed(deviceName);
    }
    m_expiry->run();
}

void DeviceTree::announce(ULONG event)
{
    const QString title = QCoreApplication::translate("MainWindow", product::Title);
    if (event == DEV_EVENT_INSERTED) {
        m_trayNotice(title, catalogueText(catalogue::TrayTokenInserted), DeviceNoticeMs);
    } else if (event == DEV_EVENT_REMOVED) {
        m_trayNotice(title, catalogueText(catalogue::TrayTokenRemoved), DeviceNoticeMs);
    }
}

void DeviceTree::showHeader()
{
    m_deviceModel->setHorizontalHeaderLabels(QStringList() << catalogueText(catalogue::DeviceList));
}

void DeviceTree::rebuild()
{
    CGMSKFOperator* skf = m_context.manager->binding();
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
    if (m_deviceModel->rowCount() == 0) {
        m_trayIcon->hide();
    }
    showHeader();
    m_context.ui->treeView_Dev->setModel(m_deviceModel);
}

void DeviceTree::addDeviceNode(const std::string& name)
{
    auto* deviceNode = new QStandardItem(QString::fromLatin1(name.c_str()));
    m_deviceModel->appendRow(deviceNode);

    cDevMgr* manager = m_context.manager;
    manager->ConnectDev(name.c_str());

    std::vector<std::string> applications;
    auto enumApp = [manager](LPSTR buffer, ULONG* size) { return manager->EnumApplication(buffer, size); };
    if (namelist::read(enumApp, applications) != SAR_OK) {
        return;
    }
    if (applications.empty()) {
        deviceNode->appendRow(new QStandardItem(catalogueText(catalogue::EmptyDevice)));
        m_context.application->set(std::string());
        return;
    }
    deviceNode->appendRow(new QStandardItem(catalogueText(catalogue::DataManagerNode)));
    m_context.application->set(applications.front());
}

DeviceTree::Choice DeviceTree::choiceAt(const QModelIndex& index) const
{
    if (m_deviceModel->hasChildren(index)) {
        return {true, index.data(Qt::DisplayRole).toString()};
    }
    // The name passed is the device's, not the application's.
    const QModelIndex parent = index.parent();
    return {false, parent.isValid() ? parent.data(Qt::DisplayRole).toString() : QString()};
}

DeviceTree::Choice DeviceTree::currentChoice() const
{
    const QModelIndex current = m_context.ui->treeView_Dev->currentIndex();
    const QModelIndex parent = current.parent();
    if (parent.isValid()) {
        return {false, parent.data(Qt::DisplayRole).toString()};
    }
    return {true, current.isValid() ? current.data(Qt::DisplayRole).toString() : QString()};
}
