// The form's initial state, its sharp pictures and its keyboard order.
#include "formstate.h"

#include "ui_mainwindow.h"

#include "hidpi.h"
#include "windowconstants.h"

#include <QLabel>
#include <QTabBar>

#include <iterator>
#include <utility>

using namespace window;

namespace formstate {

void showSharpPictures(Ui_MainWindow& ui, qreal ratio)
{
    // The form loads each label's picture at 1x; on a 2x screen the @2x twin replaces it.
    const std::pair<QLabel*, const char*> pictures[]
        = {{ui.label_logo, ":/VQlogo1.png"},   {ui.lab_changlabel_2, ":/infousb.png"},
           {ui.lab_changlabel, ":/edit.png"},  {ui.lab_VerifyPIN, ":/pwd.png"},
           {ui.lab_changePIN, ":/pwd.png"},    {ui.lab_changeAuthKey_2, ":/pwd.png"},
           {ui.lab_Initialize_3, ":/pwd.png"}, {ui.lab_UnblockPIN_3, ":/unlock.png"},
           {ui.lab_cert, ":/cert3.png"}};
    for (const auto& picture : pictures) {
        picture.first->setPixmap(hidpi::picture(QString::fromLatin1(picture.second), ratio));
    }
}

// The state the constructor leaves the form in: the token main page shown, the tab bars
// hidden, and the buttons of pages never offered hidden.
void setInitialState(Ui_MainWindow& ui)
{
    // The logo picture lies over the logo button: a click goes through it to the button,
    // and the keyboard reaches the button too.
    ui.label_logo->setAttribute(Qt::WA_TransparentForMouseEvents);
    ui.btn_logo->setFocusPolicy(Qt::StrongFocus);
    ui.tabWidget->tabBar()->hide();
    ui.tabWidget_2->tabBar()->hide();
    ui.tabWidget_2->setAttribute(Qt::WA_TranslucentBackground);
    ui.tabWidget->setCurrentIndex(PageUkey);
    ui.tabWidget_2->setCurrentIndex(PageMain);
    // The authentication-key, initialisation and unblock pages are not offered. Whether a
    // button is enabled is the button panel's (buttonstates.h).
    for (QPushButton* button : {ui.btn_ChangeAuthKey, ui.btn_UnblockPIN, ui.btn_Initialize}) {
        button->hide();
    }
}

void setKeyboardOrder(Ui_MainWindow& ui)
{
    // Pages switch by buttons and the tab bars are hidden; left in the chain, a hidden bar
    // takes the focus and keeps it, so Tab would leave the person nowhere.
    for (QTabWidget* pages : {ui.tabWidget, ui.tabWidget_2}) {
        pages->setFocusPolicy(Qt::NoFocus);
        pages->tabBar()->setFocusPolicy(Qt::NoFocus);
    }
    // Reading order: the top row, the device list, then each page's fields from the top
    // with the OK button after them, then the buttons under the pages from left to right.
    // Qt skips whatever is hidden or disabled at the time.
    QWidget* const order[]
        = {ui.btn_logo, ui.cbx_lang, ui.treeView_Dev,
           // key information, change label, verify PIN, change PIN
           ui.treeView_usbInfo, ui.NewLabelEdit, ui.btn_ChangeLab_OK, ui.VerifyPIN_Edit, ui.btn_VerifyPIN_OK,
           ui.OldPIN_Edit, ui.NewPIN_Edit, ui.ConfirmPIN_Edit, ui.btn_ChangPIN_OK,
           // the pages that are not offered, in the same way
           ui.OldAuthKey_Edit, ui.NewAuthKey_Edit, ui.ConfirmAuthKey_Edit, ui.btn_ChangAuthKey_OK, ui.chb_devAuthkey,
           ui.Init_DevAuthKey_Edit, ui.Init_NewSOPIN_Edit, ui.Init_NewUserPIN_Edit, ui.Init_LabelName_Edit,
           ui.btn_Initialize_OK, ui.SOPIN_Edit, ui.UserPIN_Edit, ui.ConfirmUserPIN_Edit, ui.btn_UnblockPIN_OK,
           // the buttons under the device pages
           ui.btn_ChangeLabel, ui.btn_VerifyPIN, ui.btn_ChangePIN, ui.btn_UnblockPIN, ui.btn_Initialize,
           ui.btn_ChangeAuthKey, ui.btn_Keyinfo,
           // the certificate page
           ui.treeView, ui.btn_ViewCert, ui.btn_ImpCert, ui.btn_ExpCert, ui.btn_DelCtn};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }
}

} // namespace formstate
