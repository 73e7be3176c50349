// MainWindow: the key-information page of a device, which also makes the device and its
// first application current for every later token operation.
#include "mainwindow.h"

void MainWindow::chooseDev(QString) {}
void MainWindow::btn_keyinfo() {}
