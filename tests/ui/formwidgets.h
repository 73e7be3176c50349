// Every widget of the main window's form, as the .ui file places it: one table for the
// test of the bare form and the test of the constructed window.
#pragma once

#include <QRect>
#include <Qt>

namespace {

// One widget of the form: where it sits and how it looks. pointSize 0 means the widget
// sets no font of its own; maxLength -1 and an empty echo mean "not a line edit".
struct FormWidget
{
    const char* name;
    const char* className;
    const char* parent;
    QRect geometry;
    int pointSize;
    bool bold;
    bool preferDefault;
    int maxLength;
    const char* echo;
    Qt::Alignment alignment;
    const char* picture;
    const char* initialText;
};

// clang-format off
const FormWidget kWidgets[] = {
    {"tabWidget", "QTabWidget", "centralWidget", QRect(227, 70, 410, 361), 11, false, false, -1, "", Qt::Alignment(), "", ""},
    {"treeView_Dev", "QTreeView", "centralWidget", QRect(25, 70, 200, 361), 11, false, false, -1, "", Qt::Alignment(), "", ""},
    {"btn_logo", "QPushButton", "centralWidget", QRect(240, 5, 200, 60), 0, false, false, -1, "", Qt::Alignment(), "", ""},
    {"label_logo", "QLabel", "centralWidget", QRect(240, 5, 200, 60), 0, false, false, -1, "", Qt::Alignment(), ":/VQlogo1.png", ""},
    {"line_16", "QFrame", "centralWidget", QRect(25, 70, 610, 1), 0, false, false, -1, "", Qt::Alignment(), "", ""},
    {"cbx_lang", "QComboBox", "centralWidget", QRect(550, 20, 85, 27), 0, false, false, -1, "", Qt::Alignment(), "", ""},
    {"label_bottom", "QLabel", "centralWidget", QRect(200, 436, 450, 20), 0, false, false, -1, "", Qt::Alignment(), "", ""},
    {"label_version", "QLabel", "centralWidget", QRect(30, 436, 140, 20), 0, false, false, -1, "", Qt::Alignment(), "", ""},
    {"tabWidget_2", "QTabWidget", "ukey", QRect(-1, -1, 450, 291), 0, false, false, -1, "", Qt::Alignment(), "", ""},
    {"btn_ChangePIN", "QPushButton", "ukey", QRect(270, 310, 100, 30), 0, false, false, -1, "", Qt::Alignment(), "", "Change PIN"},
    {"btn_ChangeLabel", "QPushButton", "ukey", QRect(30, 310, 100, 30), 0, false, false, -1, "", Qt::Alignment(), "", "Change Label"},
    {"btn_Keyinfo", "QPushButton", "ukey", QRect(50, 368, 100, 30), 0, false, false, -1, "", Qt::Alignment(), "", "Key Info"},
    {"btn_VerifyPIN", "QPushButton", "ukey", QRect(150, 310, 100, 30), 0, false, false, -1, "", Qt::Alignment(), "", "Verify PIN"},
    {"btn_Initialize", "QPushButton", "ukey", QRect(150, 350, 100, 30), 0, false, false, -1, "", Qt::Alignment(), "", "Initialize"},
    {"btn_UnblockPIN", "QPushButton", "ukey", QRect(30, 350, 100, 30), 0, false, false, -1, "", Qt::Alignment(), "", "Unblock PIN"},
    {"btn_ChangeAuthKey", "QPushButton", "ukey", QRect(270, 350, 100, 30), 0, false, false, -1, "", Qt::Alignment(), "", "Change DevAuthKey"},
    {"label_about", "QLabel", "tab_mainpage", QRect(10, 70, 391, 101), 20, true, false, -1, "", Qt::Alignment(Qt::AlignCenter), "", "VELQOR ROV Iziroza Zedu"},
    {"lab_changlabel_2", "QLabel", "tab_keyinfo", QRect(20, 20, 31, 30), 14, true, false, -1, "", Qt::Alignment(), ":/infousb.png", ""},
    {"lab_changlabel_3", "QLabel", "tab_keyinfo", QRect(60, 20, 200, 30), 14, true, false, -1, "", Qt::Alignment(), "", "USB Info"},
    {"treeView_usbInfo", "QTreeView", "tab_keyinfo", QRect(0, 60, 405, 231), 10, false, false, -1, "", Qt::Alignment(), "", ""},
    {"lab_changlabel", "QLabel", "tab_changelab", QRect(20, 20, 31, 30), 14, true, false, -1, "", Qt::Alignment(), ":/edit.png", ""},
    {"lab_newlabel", "QLabel", "tab_changelab", QRect(0, 120, 145, 30), 12, false, false, -1, "", Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter), "", "New Label"},
    {"NewLabelEdit", "QLineEdit", "tab_changelab", QRect(150, 120, 150, 30), 0, false, false, 31, "", Qt::Alignment(), "", ""},
    {"btn_ChangeLab_OK", "QPushButton", "tab_changelab", QRect(250, 230, 100, 30), 14, false, false, -1, "", Qt::Alignment(), "", "OK"},
    {"lab_nameCheck_1", "QLabel", "tab_changelab", QRect(150, 150, 500, 30), 10, false, true, -1, "", Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter), "", ""},
    {"lab_changlabel_4", "QLabel", "tab_changelab", QRect(60, 20, 150, 30), 14, true, false, -1, "", Qt::Alignment(), "", "Change Label"},
    {"lab_VerifyPIN", "QLabel", "tab_verifyPIN", QRect(20, 20, 31, 30), 14, true, false, -1, "", Qt::Alignment(), ":/pwd.png", ""},
    {"btn_VerifyPIN_OK", "QPushButton", "tab_verifyPIN", QRect(250, 230, 100, 30), 14, false, false, -1, "", Qt::Alignment(), "", "OK"},
    {"lab_PIN", "QLabel", "tab_verifyPIN", QRect(0, 120, 145, 30), 14, false, false, -1, "", Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter), "", "User PIN"},
    {"VerifyPIN_Edit", "QLineEdit", "tab_verifyPIN", QRect(150, 120, 150, 30), 0, false, false, 16, "Password", Qt::Alignment(), "", ""},
    {"lab_PINcheck", "QLabel", "tab_verifyPIN", QRect(150, 150, 500, 30), 10, false, true, -1, "", Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter), "", ""},
    {"lab_VerifyPIN_2", "QLabel", "tab_verifyPIN", QRect(60, 20, 150, 30), 14, true, false, -1, "", Qt::Alignment(), "", "Verify User PIN"},
    {"btn_ChangPIN_OK", "QPushButton", "tab_changePIN", QRect(250, 230, 100, 30), 14, false, false, -1, "", Qt::Alignment(), "", "OK"},
    {"lab_oldPIN", "QLabel", "tab_changePIN", QRect(0, 60, 145, 30), 12, false, false, -1, "", Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter), "", "Old PIN"},
    {"OldPIN_Edit", "QLineEdit", "tab_changePIN", QRect(150, 60, 150, 30), 0, false, false, 15, "Password", Qt::Alignment(), "", ""},
    {"ConfirmPIN_Edit", "QLineEdit", "tab_changePIN", QRect(150, 180, 150, 30), 0, false, false, 15, "Password", Qt::Alignment(), "", ""},
    {"lab_changePIN", "QLabel", "tab_changePIN", QRect(20, 20, 31, 30), 14, true, false, -1, "", Qt::Alignment(), ":/pwd.png", ""},
    {"NewPIN_Edit", "QLineEdit", "tab_changePIN", QRect(150, 120, 150, 30), 0, false, false, 15, "Password", Qt::Alignment(), "", ""},
    {"lab_newPIN", "QLabel", "tab_changePIN", QRect(0, 120, 145, 30), 12, false, false, -1, "", Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter), "", "New PIN"},
    {"lab_confirmPIN", "QLabel", "tab_changePIN", QRect(0, 180, 145, 30), 12, false, false, -1, "", Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter), "", "Confirm PIN"},
    {"lab_oldPINCheck", "QLabel", "tab_changePIN", QRect(150, 90, 500, 30), 10, false, true, -1, "", Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter), "", ""},
    {"lab_NewPINCheck", "QLabel", "tab_changePIN", QRect(150, 150, 500, 30), 10, false, true, -1, "", Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter), "", ""},
    {"lab_ConfirmPINCheck", "QLabel", "tab_changePIN", QRect(150, 210, 500, 30), 10, false, true, -1, "", Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter), "", ""},
    {"lab_changePIN_2", "QLabel", "tab_changePIN", QRect(60, 20, 200, 30), 14, true, false, -1, "", Qt::Alignment(), "", "Change User PIN"},
    {"lab_newDevAuthKey", "QLabel", "tab_ChangeDevAuth", QRect(30, 120, 150, 30), 12, false, false, -1, "", Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter), "", "New DevAuthKey"},
    {"lab_changeAuthKey_2", "QLabel", "tab_ChangeDevAuth", QRect(20, 20, 31, 30), 14, true, false, -1, "", Qt::Alignment(), ":/pwd.png", ""},
    {"lab_changeAuthKey", "QLabel", "tab_ChangeDevAuth", QRect(60, 20, 200, 30), 14, true, false, -1, "", Qt::Alignment(), "", "Change DevAuthKey"},
    {"OldAuthKey_Edit", "QLineEdit", "tab_ChangeDevAuth", QRect(200, 60, 150, 30), 0, false, false, 16, "Normal", Qt::Alignment(), "", ""},
    {"lab_oldDevAuthKey", "QLabel", "tab_ChangeDevAuth", QRect(30, 60, 150, 30), 12, false, false, -1, "", Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter), "", "Old DevAuthKey"},
    {"lab_oldAuthKeyCheck", "QLabel", "tab_ChangeDevAuth", QRect(200, 90, 500, 30), 10, false, true, -1, "", Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter), "", ""},
    {"NewAuthKey_Edit", "QLineEdit", "tab_ChangeDevAuth", QRect(200, 120, 150, 30), 0, false, false, 16, "Normal", Qt::Alignment(), "", ""},
    {"lab_NewAuthKeyCheck", "QLabel", "tab_ChangeDevAuth", QRect(200, 150, 500, 30), 10, false, true, -1, "", Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter), "", ""},
    {"btn_ChangAuthKey_OK", "QPushButton", "tab_ChangeDevAuth", QRect(250, 230, 100, 30), 14, false, false, -1, "", Qt::Alignment(), "", "OK"},
    {"ConfirmAuthKey_Edit", "QLineEdit", "tab_ChangeDevAuth", QRect(200, 180, 150, 30), 0, false, false, 16, "Normal", Qt::Alignment(), "", ""},
    {"lab_ConfirmDevAuthKey", "QLabel", "tab_ChangeDevAuth", QRect(0, 180, 180, 30), 12, false, false, -1, "", Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter), "", "Confirm DevAuthKey"},
    {"lab_ConfirmAuthKeyCheck", "QLabel", "tab_ChangeDevAuth", QRect(200, 210, 500, 30), 10, false, true, -1, "", Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter), "", ""},
    {"Init_NewSOPIN_Edit", "QLineEdit", "tab_Initialize", QRect(160, 100, 201, 30), 0, false, false, 15, "Password", Qt::Alignment(), "", ""},
    {"lab_Initialize_3", "QLabel", "tab_Initialize", QRect(20, 20, 31, 30), 14, true, false, -1, "", Qt::Alignment(), ":/pwd.png", ""},
    {"btn_Initialize_OK", "QPushButton", "tab_Initialize", QRect(250, 230, 100, 30), 14, false, false, -1, "", Qt::Alignment(), "", "OK"},
    {"lab_Init_NewUserPIN", "QLabel", "tab_Initialize", QRect(0, 140, 145, 30), 12, false, false, -1, "", Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter), "", "New User PIN"},
    {"Init_NewUserPIN_Edit", "QLineEdit", "tab_Initialize", QRect(159, 140, 201, 30), 0, false, false, 15, "Password", Qt::Alignment(), "", ""},
    {"lab_Initialize", "QLabel", "tab_Initialize", QRect(60, 20, 200, 30), 14, true, false, -1, "", Qt::Alignment(), "", "Initialize"},
    {"lab_Init_NewSOPIN", "QLabel", "tab_Initialize", QRect(0, 100, 145, 30), 12, false, false, -1, "", Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter), "", "New SO PIN"},
    {"Init_LabelName_Edit", "QLineEdit", "tab_Initialize", QRect(159, 180, 201, 30), 0, false, false, 32, "Normal", Qt::Alignment(), "", ""},
    {"Init_DevAuthKey_Edit", "QLineEdit", "tab_Initialize", QRect(210, 60, 150, 30), 0, false, false, 16, "Normal", Qt::Alignment(), "", ""},
    {"lab_Init_DevAuthKey", "QLabel", "tab_Initialize", QRect(0, 60, 145, 30), 12, false, false, -1, "", Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter), "", "Dev Auth Key"},
    {"lab_Init_LabelName", "QLabel", "tab_Initialize", QRect(0, 180, 145, 30), 12, false, false, -1, "", Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter), "", "New Label Name"},
    {"chb_devAuthkey", "QCheckBox", "tab_Initialize", QRect(140, 70, 71, 16), 9, false, false, -1, "", Qt::Alignment(), "", "default"},
    {"lab_ConfirmUserPINCheck", "QLabel", "tab_UnblockPIN", QRect(180, 210, 500, 30), 10, false, true, -1, "", Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter), "", ""},
    {"lab_UserPIN", "QLabel", "tab_UnblockPIN", QRect(10, 120, 150, 30), 12, false, false, -1, "", Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter), "", "New User PIN"},
    {"lab_UnblockPIN_3", "QLabel", "tab_UnblockPIN", QRect(20, 20, 31, 30), 14, true, false, -1, "", Qt::Alignment(), ":/unlock.png", ""},
    {"lab_UnblockPIN_4", "QLabel", "tab_UnblockPIN", QRect(60, 20, 200, 30), 14, true, false, -1, "", Qt::Alignment(), "", "Unblock User PIN"},
    {"ConfirmUserPIN_Edit", "QLineEdit", "tab_UnblockPIN", QRect(180, 180, 150, 30), 0, false, false, 15, "Password", Qt::Alignment(), "", ""},
    {"SOPIN_Edit", "QLineEdit", "tab_UnblockPIN", QRect(180, 60, 150, 30), 0, false, false, 15, "Password", Qt::Alignment(), "", ""},
    {"lab_SOPIN", "QLabel", "tab_UnblockPIN", QRect(10, 60, 150, 30), 12, false, false, -1, "", Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter), "", "SO PIN"},
    {"lab_confirmUserPIN", "QLabel", "tab_UnblockPIN", QRect(10, 180, 150, 30), 12, false, false, -1, "", Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter), "", "Confirm User PIN"},
    {"lab_SOPINCheck", "QLabel", "tab_UnblockPIN", QRect(180, 90, 500, 30), 10, false, true, -1, "", Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter), "", ""},
    {"btn_UnblockPIN_OK", "QPushButton", "tab_UnblockPIN", QRect(250, 230, 100, 30), 14, false, false, -1, "", Qt::Alignment(), "", "OK"},
    {"lab_UserPINCheck", "QLabel", "tab_UnblockPIN", QRect(180, 150, 500, 30), 10, false, true, -1, "", Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter), "", ""},
    {"UserPIN_Edit", "QLineEdit", "tab_UnblockPIN", QRect(180, 120, 150, 30), 0, false, false, 15, "Password", Qt::Alignment(), "", ""},
    {"btn_ExpCert", "QPushButton", "cert", QRect(150, 310, 100, 30), 0, false, false, -1, "", Qt::Alignment(), "", "Export"},
    {"btn_ImpCert", "QPushButton", "cert", QRect(30, 310, 100, 30), 0, false, false, -1, "", Qt::Alignment(), "", "Import"},
    {"btn_DelCtn", "QPushButton", "cert", QRect(270, 310, 100, 30), 0, false, false, -1, "", Qt::Alignment(), "", "Delete"},
    {"treeView", "QTreeView", "cert", QRect(0, 60, 406, 231), 10, false, false, -1, "", Qt::Alignment(), "", ""},
    {"lab_cert", "QLabel", "cert", QRect(20, 20, 31, 30), 14, true, false, -1, "", Qt::Alignment(), ":/cert3.png", ""},
    {"lab_cert_2", "QLabel", "cert", QRect(60, 20, 150, 30), 14, true, false, -1, "", Qt::Alignment(), "", "Data Manager"},
    {"btn_ViewCert", "QPushButton", "cert", QRect(30, 310, 100, 30), 0, false, false, -1, "", Qt::Alignment(), "", "View"},
    {"label", "QLabel", "about", QRect(0, 40, 400, 50), 20, true, false, -1, "", Qt::Alignment(Qt::AlignCenter), "", "Velkora"},
    {"label_2", "QLabel", "about", QRect(0, 140, 400, 50), 14, false, false, -1, "", Qt::Alignment(Qt::AlignCenter), "", "1.0.21.0326"},
    {"label_3", "QLabel", "about", QRect(0, 240, 400, 50), 14, false, false, -1, "", Qt::Alignment(Qt::AlignCenter), "", ""},

};
// clang-format on

} // namespace
