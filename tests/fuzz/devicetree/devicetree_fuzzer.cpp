// Fuzzes what a driver lists: the input becomes the device, application and container lists
// of the scriptable fake driver, each with a size that may lie, and the main window rebuilds
// its device tree from them and fills the container view of the first device. Every device
// node must show a name that the device list holds, with at most one child.
//
// Input: byte 0 picks how each list's size is reported (two bits per list: true, half,
// larger than the data, or 1); bytes 1 and 2 split the rest into the three lists.
#include "cdevmgr.h"
#include "fakeskf_control.h"
#include "mainwindow.h"

#include <QApplication>
#include <QStandardItemModel>
#include <QThread>
#include <QTreeView>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// Made once. libFuzzer ends the process with exit(): the window (and with it the monitor
// thread) goes in an exit handler, while Qt's own globals are still there; the application
// object stays, as Qt's globals may be gone by the time a static destructor ran.
QApplication* g_app = nullptr;
MainWindow* g_window = nullptr;

long reportedSize(unsigned mode, std::size_t length)
{
    switch (mode & 3) {
    case 1:
        return static_cast<long>(length / 2);
    case 2:
        return static_cast<long>(length + 3000);
    case 3:
        return 1;
    default:
        return -1;
    }
}

void setList(void (*set)(const char*, unsigned, long), const std::string& bytes, unsigned mode)
{
    set(bytes.data(), static_cast<unsigned>(bytes.size()), reportedSize(mode, bytes.size()));
}

// Whether the node's text is some stretch of the device list, in whichever of the
// conversions a byte name may have gone through on its way into the tree.
bool fromList(const QString& text, const std::string& devices)
{
    for (const QByteArray& bytes : {text.toUtf8(), text.toLatin1(), text.toLocal8Bit()}) {
        if (QString::fromLatin1(bytes) == text || QString::fromUtf8(bytes) == text
            || QString::fromLocal8Bit(bytes) == text) {
            if (devices.find(bytes.toStdString()) != std::string::npos) {
                return true;
            }
        }
    }
    return false;
}

// The window's device tree holds only names found in the device list, each with at most
// the one child a device may have.
void checkTree(const std::string& devices)
{
    auto* tree = g_window->findChild<QTreeView*>(QStringLiteral("treeView_Dev"));
    auto* model = qobject_cast<QStandardItemModel*>(tree->model());
    for (int row = 0; row < model->rowCount(); ++row) {
        QStandardItem* node = model->item(row);
        if (node->rowCount() > 1 || !fromList(node->text(), devices)) {
            __builtin_trap();
        }
    }
}

} // namespace

// At file scope with C++ linkage, so the resource's initialiser is found under its own name.
static void initResources()
{
    Q_INIT_RESOURCE(resource);
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("LANG", "en_US.UTF-8");
    g_app = new QApplication(*argc, *argv);
    initResources();
    cDevMgr::setDriverPath(FAKE_SCRIPTED_DRIVER);
    MainWindow::setLanguageDirectory("/nonexistent");
    g_window = new MainWindow();
    std::atexit([] {
        delete g_window;
        g_window = nullptr;
    });
    // The tree is read only once the monitor has loaded the driver.
    for (int waited = 0; cDevMgr::getInst()->binding() == nullptr; ++waited) {
        if (waited > 500) {
            std::abort();
        }
        QThread::msleep(10);
        QCoreApplication::processEvents();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3) {
        return 0;
    }
    const unsigned modes = data[0];
    const std::string rest(reinterpret_cast<const char*>(data + 3), size - 3);
    const std::size_t first = rest.size() * data[1] / 255;
    const std::size_t second = first + (rest.size() - first) * data[2] / 255;
    const std::string devices = rest.substr(0, first);

    FakeSkf_Reset();
    setList(FakeSkf_SetDeviceList, devices, modes);
    setList(FakeSkf_SetApplicationList, rest.substr(first, second - first), modes >> 2);
    setList(FakeSkf_SetContainerList, rest.substr(second), modes >> 4);

    cDevMgr::getInst()->SetEvent(modes & 0x40 ? 2 : 1);
    g_window->slotEventChange();
    checkTree(devices);

    auto* tree = g_window->findChild<QTreeView*>(QStringLiteral("treeView_Dev"));
    auto* model = qobject_cast<QStandardItemModel*>(tree->model());
    if (model->rowCount() > 0) {
        QStandardItem* device = model->item(0);
        const QModelIndex node = device->rowCount() > 0 ? device->child(0)->index() : device->index();
        tree->setCurrentIndex(node);
        g_window->Dev_App_selected(node);
    }
    QCoreApplication::processEvents();
    FakeSkf_Reset(); // frees the container handles the manager still holds
    return 0;
}
