// myMessageBox: the reusable result and prompt dialog of the token operations.
#include "mymessagebox.h"
#include "ui_mymessagebox.h"

#include "stringcatalogue.h"
#include "windowconstants.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>

#include <cstdio>

using namespace window;

namespace {

enum DialogResult { ResultOkContinue = 0, ResultCancel = 1 };

const CatalogueText& titleFor(unsigned titleKind)
{
    switch (titleKind) {
    case TitleChangeLabel:
        return catalogue::ButtonChangeLabel;
    case TitleVerifyPin:
        return catalogue::ButtonVerifyPin;
    case TitleChangePin:
        return catalogue::ButtonChangePin;
    case TitleExportCertificate:
        return catalogue::TitleExportCertificate;
    case TitleViewCertificate:
        return catalogue::TitleViewCertificate;
    case TitleDeleteContainer:
        return catalogue::TitleDeleteContainer;
    default:
        return catalogue::MsgDefaultTitle;
    }
}

// The message of every mode that shows a fixed text (ModePinIncorrect is formatted, see
// messageFor).
const CatalogueText* fixedMessageFor(unsigned mode)
{
    switch (mode) {
    case ModePinVerified:
        return &catalogue::MsgPinVerified;
    case ModePinChanged:
        return &catalogue::MsgPinChanged;
    case ModePinTooShort:
        return &catalogue::MsgPinTooShort;
    case ModeConfirmationDiffers:
        return &catalogue::MsgPinConfirmMismatch;
    case ModeSamePin:
        return &catalogue::MsgPinsAreSame;
    case ModePinLocked:
        return &catalogue::MsgPinLocked;
    case ModeLabelTooLong:
        return &catalogue::MsgLabelTooLong;
    case ModeLabelChanged:
        return &catalogue::MsgLabelChanged;
    case ModeOperationFailed:
        return &catalogue::MsgOperationFailed;
    case ModeExportSucceeded:
        return &catalogue::MsgExportCertSucceeded;
    case ModeCertificateNotFound:
        return &catalogue::MsgCertNotFound;
    case ModeExportFailed:
        return &catalogue::MsgExportCertFailed;
    default:
        return nullptr;
    }
}

// The caption label over a button: covers it whole and wraps long translations.
QLabel* makeCaption(QPushButton* button, const char* objectName)
{
    auto* caption = new QLabel(button);
    caption->setObjectName(QString::fromLatin1(objectName));
    caption->setGeometry(0, 0, button->width(), button->height());
    caption->setAlignment(Qt::AlignCenter);
    caption->setWordWrap(true);
    // Clicks go through to the button underneath.
    caption->setAttribute(Qt::WA_TransparentForMouseEvents);
    QFont font = caption->font();
    font.setPointSize(10);
    caption->setFont(font);
    return caption;
}

} // namespace

myMessageBox::myMessageBox(QWidget* parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui_myMessageBox>())
{
    ui->setupUi(this);
    setWindowFlags(Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint);
    connect(ui->btn_msg_cancel, &QPushButton::clicked, this, &myMessageBox::btn_cancel);
    connect(ui->btn_msg_ok, &QPushButton::clicked, this, &myMessageBox::btn_ok_continue);
    lab_box_cancel = makeCaption(ui->btn_msg_cancel, "lab_box_cancel");
    lab_box_ok = makeCaption(ui->btn_msg_ok, "lab_box_ok");
}

myMessageBox::~myMessageBox() = default;

void myMessageBox::setWarnMode(unsigned mode, unsigned titleKind, unsigned number)
{
    twoButtons = false;
    setWindowTitle(tr(catalogue::text(titleFor(titleKind)).c_str()));
    if (mode == ModeLabelTooLong) // always carries the label title
        setWindowTitle(tr(catalogue::text(catalogue::ButtonChangeLabel).c_str()));
    if (mode == ModePinTooShort) // the only prompt: continue or cancel
        twoButtons = true;
    const std::string message = messageFor(mode, number);
    showButtons();
    ui->lab_msg->show();
    ui->lab_msg->setText(tr(message.c_str()));
}

// The text of a mode in the language in force; empty for an unknown mode. The text is
// kept whole however long a translation is.
std::string myMessageBox::messageFor(unsigned mode, unsigned number)
{
    if (mode != ModePinIncorrect) {
        const CatalogueText* text = fixedMessageFor(mode);
        return text ? catalogue::text(*text) : std::string();
    }
    // formatText() only hands out a format whose one conversion is the default's %d.
    const std::string format = catalogue::formatText(catalogue::MsgPinIncorrect);
    const int retries = static_cast<int>(number);
    const int length = std::snprintf(nullptr, 0, format.c_str(), retries);
    if (length <= 0)
        return std::string();
    std::string message(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(message.data(), message.size(), format.c_str(), retries);
    message.resize(static_cast<size_t>(length));
    return message;
}

void myMessageBox::showButtons()
{
    if (twoButtons) {
        ui->btn_msg_cancel->show();
        lab_box_cancel->setText(tr(catalogue::text(catalogue::MsgCancel).c_str()));
        lab_box_ok->setText(tr(catalogue::text(catalogue::MsgContinue).c_str()));
    } else {
        ui->btn_msg_cancel->hide();
        lab_box_ok->setText(tr(catalogue::text(catalogue::Ok).c_str()));
    }
    ui->btn_msg_ok->show();
}

void myMessageBox::btn_ok_continue()
{
    done(ResultOkContinue);
}

void myMessageBox::btn_cancel()
{
    done(ResultCancel);
}

void myMessageBox::reject()
{
    done(ResultCancel);
}

void myMessageBox::closeEvent(QCloseEvent* event)
{
    done(ResultCancel);
    QDialog::closeEvent(event);
}

int runMessage(myMessageBox& box, unsigned mode, unsigned titleKind, unsigned number)
{
    box.setWarnMode(mode, titleKind, number);
    return box.exec();
}
