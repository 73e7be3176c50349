// MainWindow: the warning about a certificate that expires soon or has expired.
#include "mainwindow.h"

void MainWindow::certIsValid() {}
