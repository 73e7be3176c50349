// Prints where the story's click targets lie in the main window, one "name x y" line each
// (the centre, in window coordinates), so the end-to-end story can click them with xdotool.
// The window is laid out from its form with absolute geometry; the tree rows are measured
// on a copy of the window whose trees hold rows like the real ones. Run it offscreen.
#include "fonts.h"
#include "mainwindow.h"

#include <QApplication>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTreeView>
#include <QWidget>

#include <cstdio>

namespace {

void printCentre(const char* name, const QWidget* window, const QWidget* widget, const QRect& rect)
{
    const QPoint centre = widget->mapTo(window, rect.center());
    std::printf("%s %d %d\n", name, centre.x(), centre.y());
}

void printWidget(const QWidget* window, const char* name)
{
    const auto* widget = window->findChild<QWidget*>(QString::fromLatin1(name));
    if (widget != nullptr) {
        printCentre(name, window, widget, widget->rect());
    }
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // The same fonts as the manager, so row heights match what the story clicks.
    fonts::useFormFonts();
    Q_INIT_RESOURCE(resource);
    MainWindow window;
    window.show();
    QApplication::processEvents();

    for (const char* name : {"btn_VerifyPIN", "btn_ChangePIN", "btn_ExpCert", "btn_ViewCert"}) {
        printWidget(&window, name);
    }

    // The device tree: a device row and, once expanded, its application row under it.
    auto* devices = window.findChild<QTreeView*>(QStringLiteral("treeView_Dev"));
    QStandardItemModel deviceModel;
    deviceModel.setHorizontalHeaderLabels({QStringLiteral("DevList")});
    auto* device = new QStandardItem(QStringLiteral("VK-VK2026000001"));
    device->appendRow(new QStandardItem(QStringLiteral("Data Manger")));
    deviceModel.appendRow(device);
    devices->setModel(&deviceModel);
    devices->expandAll();
    QApplication::processEvents();
    printCentre("deviceRow", &window, devices->viewport(), devices->visualRect(device->index()));
    printCentre("applicationRow", &window, devices->viewport(), devices->visualRect(device->child(0)->index()));

    // The container view's first row, which the story clicks to give the view the focus.
    window.findChild<QTabWidget*>(QStringLiteral("tabWidget"))->setCurrentIndex(2);
    auto* containers = window.findChild<QTreeView*>(QStringLiteral("treeView"));
    QStandardItemModel containerModel;
    containerModel.appendRow(new QStandardItem(QStringLiteral("X(container)")));
    containers->setHeaderHidden(true);
    containers->setModel(&containerModel);
    QApplication::processEvents();
    printCentre("containerRow", &window, containers->viewport(),
                containers->visualRect(containerModel.item(0)->index()));

    devices->setModel(nullptr);
    containers->setModel(nullptr);
    return 0;
}
