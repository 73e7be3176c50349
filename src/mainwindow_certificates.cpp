// MainWindow: certificate export and view, and container deletion.
#include "mainwindow.h"

void MainWindow::btn_deleteCtn() {}
void MainWindow::btn_exportCert() {}
void MainWindow::btn_viewCert() {}
void MainWindow::viewCertificate(bool) {}
