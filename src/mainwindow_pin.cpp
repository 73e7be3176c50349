// MainWindow: the label, verify-PIN and change-PIN pages with their typing checks, and the
// checks of the pages the window never offers.
#include "mainwindow.h"

void MainWindow::btn_changeLabel() {}
void MainWindow::btn_verifyPin() {}
void MainWindow::btn_changePin() {}
void MainWindow::tab1_newName_Valuechange() {}
void MainWindow::tab1_PIN_Valuechange() {}
void MainWindow::tab1_OldPIN_Valuechange() {}
void MainWindow::tab1_NewPIN_Valuechange() {}
void MainWindow::tab1_ConfirmPIN_Valuechange() {}
void MainWindow::NewLabelEdit_Valuechange() {}
void MainWindow::UnBlockPIN_Valuechange() {}
void MainWindow::ChangeDevAuthKey_Valuechange() {}
void MainWindow::Initialize_Valuechange() {}
void MainWindow::btn_changelabe_ok() {}
void MainWindow::btn_verifyPIN_ok() {}
void MainWindow::btn_changePIN_ok() {}
