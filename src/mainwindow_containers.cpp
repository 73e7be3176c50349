// MainWindow: the container view of a device's first application.
#include "mainwindow.h"

void MainWindow::chooseApp(QString) {}
void MainWindow::Ctn_selected(QModelIndex) {}
void MainWindow::openCurrentNodeCTN(int) {}
