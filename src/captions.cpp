// Captions of the main window's labels, buttons and check box, and the accessible names of
// its buttons, fields, combo box and trees, so a screen reader can name each one in the
// window's language. Widgets with a caption are named by it; fields take the text of the
// label beside them; the six OK buttons name the operation they confirm, since "OK" alone
// says nothing.
#include "captions.h"

#include "ui_mainwindow.h"

#include "pagecontext.h"
#include "qttranslations.h"
#include "stringcatalogue.h"
#include "version.h"
#include "wxmultilang.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QStringList>

namespace captions {

namespace {

// What a table row puts on its widget: its caption, its accessible name, or both.
enum Use { Caption = 1, Name = 2, Both = Caption | Name };

struct Row
{
    QWidget* widget;
    const catalogue::CatalogueText* text;
    int use;
};

} // namespace

void useLanguage(const std::string& directory, int languageId)
{
    wx_ml_setPath(directory);
    wx_ml_setPrefix(product::LanguagePrefix);
    wx_ml_setCodePage(static_cast<unsigned long>(languageId));
    qttranslations::follow(languageId);
}

void show(Ui_MainWindow& ui, const char* version, const char* vendorLine)
{
    using namespace catalogue;
    const auto translated = [](const char* text) { return QCoreApplication::translate("MainWindow", text); };
    ui.label_2->setText(translated(version));
    ui.label_version->setText(translated(version));
    ui.label_3->setText(translated(vendorLine));
    ui.label_about->setText(translated(product::Title));
    ui.label_bottom->setText(QString());
    const Row rows[] = {
        // page titles and field labels
        {ui.lab_changePIN_2, &CaptionChangeUserPin, Caption},
        {ui.lab_oldPIN, &FieldOldUserPin, Caption},
        {ui.lab_newPIN, &FieldNewUserPin, Caption},
        {ui.lab_confirmPIN, &FieldConfirmUserPin, Caption},
        {ui.lab_changlabel_3, &CaptionUsbInfo, Caption},
        {ui.lab_changlabel_4, &CaptionChangeLabel, Caption},
        {ui.lab_newlabel, &FieldNewLabel, Caption},
        {ui.lab_PIN, &FieldUserPin, Caption},
        {ui.lab_VerifyPIN_2, &CaptionVerifyUserPin, Caption},
        {ui.lab_changeAuthKey, &CaptionChangeDevAuthKey, Caption},
        {ui.lab_oldDevAuthKey, &FieldOldDevAuthKey, Caption},
        {ui.lab_newDevAuthKey, &FieldNewDevAuthKey, Caption},
        {ui.lab_ConfirmDevAuthKey, &FieldConfirmDevAuthKey, Caption},
        {ui.lab_Initialize, &CaptionInitialize, Caption},
        {ui.lab_Init_DevAuthKey, &FieldInitDevAuthKey, Caption},
        {ui.lab_Init_NewSOPIN, &FieldInitNewSoPin, Caption},
        {ui.lab_Init_NewUserPIN, &FieldInitNewUserPin, Caption},
        {ui.lab_Init_LabelName, &FieldInitLabelName, Caption},
        {ui.lab_UnblockPIN_4, &CaptionUnblockUserPin, Caption},
        {ui.lab_SOPIN, &FieldUnblockSoPin, Caption},
        {ui.lab_UserPIN, &FieldUnblockNewUserPin, Caption},
        {ui.lab_confirmUserPIN, &FieldUnblockConfirmUserPin, Caption},
        {ui.lab_cert_2, &DataManagerTitle, Caption},
        // side bar and certificate page buttons, and the check box
        {ui.btn_ChangeAuthKey, &ButtonChangeKey, Both},
        {ui.btn_Initialize, &ButtonInitialize, Both},
        {ui.btn_UnblockPIN, &ButtonUnblockPin, Both},
        {ui.btn_ChangeLabel, &ButtonChangeLabel, Both},
        {ui.btn_ChangePIN, &ButtonChangePin, Both},
        {ui.btn_VerifyPIN, &ButtonVerifyPin, Both},
        {ui.btn_ViewCert, &ButtonViewCert, Both},
        {ui.btn_ExpCert, &ButtonExportCert, Both},
        {ui.btn_DelCtn, &ButtonDeleteContainer, Both},
        {ui.chb_devAuthkey, &DefaultDevAuthKey, Both},
        // fields, named by their labels
        {ui.NewLabelEdit, &FieldNewLabel, Name},
        {ui.VerifyPIN_Edit, &FieldUserPin, Name},
        {ui.OldPIN_Edit, &FieldOldUserPin, Name},
        {ui.NewPIN_Edit, &FieldNewUserPin, Name},
        {ui.ConfirmPIN_Edit, &FieldConfirmUserPin, Name},
        {ui.OldAuthKey_Edit, &FieldOldDevAuthKey, Name},
        {ui.NewAuthKey_Edit, &FieldNewDevAuthKey, Name},
        {ui.ConfirmAuthKey_Edit, &FieldConfirmDevAuthKey, Name},
        {ui.Init_DevAuthKey_Edit, &FieldInitDevAuthKey, Name},
        {ui.Init_NewSOPIN_Edit, &FieldInitNewSoPin, Name},
        {ui.Init_NewUserPIN_Edit, &FieldInitNewUserPin, Name},
        {ui.Init_LabelName_Edit, &FieldInitLabelName, Name},
        {ui.SOPIN_Edit, &FieldUnblockSoPin, Name},
        {ui.UserPIN_Edit, &FieldUnblockNewUserPin, Name},
        {ui.ConfirmUserPIN_Edit, &FieldUnblockConfirmUserPin, Name},
        // trees, named by their header or the page they sit on
        {ui.treeView_Dev, &DeviceList, Name},
        {ui.treeView_usbInfo, &CaptionUsbInfo, Name},
        {ui.treeView, &DataManagerTitle, Name},
    };
    for (const Row& row : rows) {
        const QString text = catalogueText(*row.text);
        if ((row.use & Caption) != 0) {
            // Labels, buttons and the check box all carry their caption as "text".
            row.widget->setProperty("text", text);
        }
        if ((row.use & Name) != 0) {
            row.widget->setAccessibleName(text);
        }
    }

    const QString ok = catalogueText(Ok);
    const Row okButtons[] = {
        {ui.btn_ChangeLab_OK, &ButtonChangeLabel, Both}, {ui.btn_VerifyPIN_OK, &ButtonVerifyPin, Both},
        {ui.btn_ChangPIN_OK, &ButtonChangePin, Both},    {ui.btn_ChangAuthKey_OK, &ButtonChangeKey, Both},
        {ui.btn_Initialize_OK, &ButtonInitialize, Both}, {ui.btn_UnblockPIN_OK, &ButtonUnblockPin, Both},
    };
    for (const Row& button : okButtons) {
        button.widget->setProperty("text", ok);
        button.widget->setAccessibleName(QStringLiteral("%1: %2").arg(catalogueText(*button.text), ok));
    }

    ui.cbx_lang->setItemText(0, catalogueText(LanguageSimplifiedChinese));
    ui.cbx_lang->setItemText(1, catalogueText(LanguageTraditionalChinese));
    ui.cbx_lang->setItemText(2, catalogueText(LanguageEnglish));

    // The key-information and import buttons are never shown and their captions have no
    // catalogue text; they are named by the captions they carry.
    for (QPushButton* button : {ui.btn_Keyinfo, ui.btn_ImpCert}) {
        button->setAccessibleName(button->text());
    }
    // The logo button shows the product's picture and opens the main page.
    ui.btn_logo->setAccessibleName(translated(product::Title));
    // The language box is named by the choices it offers, in the current language.
    QStringList languages;
    for (int i = 0; i < ui.cbx_lang->count(); ++i) {
        languages << ui.cbx_lang->itemText(i);
    }
    ui.cbx_lang->setAccessibleName(languages.join(QStringLiteral(" / ")));
}

} // namespace captions
