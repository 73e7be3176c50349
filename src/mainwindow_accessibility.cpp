// Accessible names of the main window's buttons, fields, combo box and trees, so a screen
// reader can name each one in the window's language. Widgets with a caption take the
// caption's catalogue text; fields take the text of the label beside them; the six OK
// buttons name the operation they confirm, since "OK" alone says nothing. Also the order
// in which Tab moves through the window.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "stringcatalogue.h"

#include <QComboBox>
#include <QStringList>
#include <QTabBar>

#include <iterator>
#include <utility>

void MainWindow::updateAccessibleNames()
{
    using namespace catalogue;
    const QString ok = catalogueText(Ok);
    const auto confirms = [&ok](const QString& operation) { return QStringLiteral("%1: %2").arg(operation, ok); };

    const std::pair<QWidget*, const CatalogueText*> captioned[] = {
        // side bar and certificate page buttons
        {ui->btn_ChangeAuthKey, &ButtonChangeKey},
        {ui->btn_Initialize, &ButtonInitialize},
        {ui->btn_UnblockPIN, &ButtonUnblockPin},
        {ui->btn_ChangeLabel, &ButtonChangeLabel},
        {ui->btn_ChangePIN, &ButtonChangePin},
        {ui->btn_VerifyPIN, &ButtonVerifyPin},
        {ui->btn_ViewCert, &ButtonViewCert},
        {ui->btn_ExpCert, &ButtonExportCert},
        {ui->btn_DelCtn, &ButtonDeleteContainer},
        {ui->chb_devAuthkey, &DefaultDevAuthKey},
        // fields, named by their labels
        {ui->NewLabelEdit, &FieldNewLabel},
        {ui->VerifyPIN_Edit, &FieldUserPin},
        {ui->OldPIN_Edit, &FieldOldUserPin},
        {ui->NewPIN_Edit, &FieldNewUserPin},
        {ui->ConfirmPIN_Edit, &FieldConfirmUserPin},
        {ui->OldAuthKey_Edit, &FieldOldDevAuthKey},
        {ui->NewAuthKey_Edit, &FieldNewDevAuthKey},
        {ui->ConfirmAuthKey_Edit, &FieldConfirmDevAuthKey},
        {ui->Init_DevAuthKey_Edit, &FieldInitDevAuthKey},
        {ui->Init_NewSOPIN_Edit, &FieldInitNewSoPin},
        {ui->Init_NewUserPIN_Edit, &FieldInitNewUserPin},
        {ui->Init_LabelName_Edit, &FieldInitLabelName},
        {ui->SOPIN_Edit, &FieldUnblockSoPin},
        {ui->UserPIN_Edit, &FieldUnblockNewUserPin},
        {ui->ConfirmUserPIN_Edit, &FieldUnblockConfirmUserPin},
        // trees, named by their header or the page they sit on
        {ui->treeView_Dev, &DeviceList},
        {ui->treeView_usbInfo, &CaptionUsbInfo},
        {ui->treeView, &DataManagerTitle},
    };
    for (const auto& [widget, text] : captioned) {
        widget->setAccessibleName(catalogueText(*text));
    }

    const std::pair<QWidget*, const CatalogueText*> okButtons[] = {
        {ui->btn_ChangeLab_OK, &ButtonChangeLabel}, {ui->btn_VerifyPIN_OK, &ButtonVerifyPin},
        {ui->btn_ChangPIN_OK, &ButtonChangePin},    {ui->btn_ChangAuthKey_OK, &ButtonChangeKey},
        {ui->btn_Initialize_OK, &ButtonInitialize}, {ui->btn_UnblockPIN_OK, &ButtonUnblockPin},
    };
    for (const auto& [button, operation] : okButtons) {
        button->setAccessibleName(confirms(catalogueText(*operation)));
    }

    // The key-information and import buttons are never shown and their captions have no
    // catalogue text; they are named by the captions they carry.
    for (QPushButton* button : {ui->btn_Keyinfo, ui->btn_ImpCert}) {
        button->setAccessibleName(button->text());
    }
    // The logo button shows the product's picture and opens the main page.
    ui->btn_logo->setAccessibleName(tr(product::Title));
    // The language box is named by the choices it offers, in the current language.
    QStringList languages;
    for (int i = 0; i < ui->cbx_lang->count(); ++i) {
        languages << ui->cbx_lang->itemText(i);
    }
    ui->cbx_lang->setAccessibleName(languages.join(QStringLiteral(" / ")));
}

void MainWindow::setKeyboardOrder()
{
    // Pages switch by buttons and the tab bars are hidden; left in the chain, a hidden bar
    // takes the focus and keeps it, so Tab would leave the person nowhere.
    for (QTabWidget* pages : {ui->tabWidget, ui->tabWidget_2}) {
        pages->setFocusPolicy(Qt::NoFocus);
        pages->tabBar()->setFocusPolicy(Qt::NoFocus);
    }
    // Reading order: the top row, the device list, then each page's fields from the top
    // with the OK button after them, then the buttons under the pages from left to right.
    // Qt skips whatever is hidden or disabled at the time.
    QWidget* const order[] = {
        ui->btn_logo, ui->cbx_lang, ui->treeView_Dev,
        // key information, change label, verify PIN, change PIN
        ui->treeView_usbInfo, ui->NewLabelEdit, ui->btn_ChangeLab_OK, ui->VerifyPIN_Edit, ui->btn_VerifyPIN_OK,
        ui->OldPIN_Edit, ui->NewPIN_Edit, ui->ConfirmPIN_Edit, ui->btn_ChangPIN_OK,
        // the pages that are not offered, in the same way
        ui->OldAuthKey_Edit, ui->NewAuthKey_Edit, ui->ConfirmAuthKey_Edit, ui->btn_ChangAuthKey_OK, ui->chb_devAuthkey,
        ui->Init_DevAuthKey_Edit, ui->Init_NewSOPIN_Edit, ui->Init_NewUserPIN_Edit, ui->Init_LabelName_Edit,
        ui->btn_Initialize_OK, ui->SOPIN_Edit, ui->UserPIN_Edit, ui->ConfirmUserPIN_Edit, ui->btn_UnblockPIN_OK,
        // the buttons under the device pages
        ui->btn_ChangeLabel, ui->btn_VerifyPIN, ui->btn_ChangePIN, ui->btn_UnblockPIN, ui->btn_Initialize,
        ui->btn_ChangeAuthKey, ui->btn_Keyinfo,
        // the certificate page
        ui->treeView, ui->btn_ViewCert, ui->btn_ImpCert, ui->btn_ExpCert, ui->btn_DelCtn};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }
}
