// Accessible names of the main window's buttons, fields, combo box and trees, so a screen
// reader can name each one in the window's language. Widgets with a caption take the
// caption's catalogue text; fields take the text of the label beside them; the six OK
// buttons name the operation they confirm, since "OK" alone says nothing.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "stringcatalogue.h"

#include <QComboBox>
#include <QStringList>

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
