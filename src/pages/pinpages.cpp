// PinPages: the label, verify-PIN and change-PIN pages with their typing checks, and the
// checks of the pages the window never offers.
//
// PINs are printable ASCII only. The verify page hands the token UTF-8 bytes and the
// change page Latin-1 bytes, which agree only for ASCII: a PIN with any other character set
// on one page could never be verified on the other and would burn the token's retries.
// The PIN fields therefore refuse other characters as they are typed or pasted, and a PIN
// that reaches an OK button with one anyway is never sent to the token.
#include "pinpages.h"

#include "ui_mainwindow.h"

#include "buttonstates.h"
#include "cdevmgr.h"
#include "mymessagebox.h"
#include "namelist.h"
#include "pin.h"
#include "stringcatalogue.h"
#include "textfit.h"
#include "windowconstants.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <string>

using namespace window;

namespace {

constexpr int MaxLabelBytes = 31;
constexpr int MinPinLength = 6;
constexpr int AuthKeyLength = 16;
// The count text beside a field, terminator included.
constexpr std::size_t CountTextSize = 128;

// Latin-1 has one byte per UTF-16 unit, so the length needs no converted copy of a PIN.
int latin1Length(const QLineEdit* field)
{
    return field->text().size();
}

// Bytes of the field's text in UTF-8, up to a first zero byte.
int utf8Length(const QLineEdit* field)
{
    const QByteArray bytes = field->text().toUtf8();
    return static_cast<int>(strnlen(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

bool isPrintableAscii(const QString& text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x20 && c.unicode() <= 0x7E; });
}

// The count label of a field: empty for no input, else "Already input %d character" with
// the count, as it fits the 128-byte buffer.
void showInputCount(QLabel* label, int count)
{
    if (count == 0) {
        label->setText(QString());
        return;
    }
    const std::string text = textfit::formatted(catalogue::CharactersEntered, count, CountTextSize);
    label->setText(QCoreApplication::translate("MainWindow", text.c_str()));
}

// Watches a PIN field for what its validator drops without a word: a typed character
// outside printable ASCII, input-method text, or a paste that holds one. Each is refused
// as before, and the refusal is reported so the field can say why.
class RefusedInputWatcher : public QObject
{
public:
    RefusedInputWatcher(QLineEdit* field, std::function<void()> onRefused)
        : QObject(field)
        , m_onRefused(std::move(onRefused))
    {
        field->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (refused(event)) {
            m_onRefused();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    static bool refused(QEvent* event)
    {
        if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->matches(QKeySequence::Paste)) {
                const QClipboard* clipboard = QGuiApplication::clipboard();
                return clipboard != nullptr && !isPrintableAscii(clipboard->text());
            }
            // Control keys (Backspace, Tab, Return) carry control characters, which are no refusal.
            const QString text = key->text();
            const bool typesCharacters = std::any_of(text.begin(), text.end(), [](QChar c) { return c.isPrint(); });
            return typesCharacters && !isPrintableAscii(text);
        }
        if (event->type() == QEvent::InputMethod) {
            const QString commit = static_cast<QInputMethodEvent*>(event)->commitString();
            return !commit.isEmpty() && !isPrintableAscii(commit);
        }
        return false;
    }

    std::function<void()> m_onRefused;
};

// Empties a PIN field and overwrites the text read from it. The field is given a new empty
// text rather than cleared: clearing edits the shared text and so copies it first, leaving
// the copy's characters in the field's buffer.
void emptyPinField(QLineEdit* field, QString& text)
{
    field->setText(QString());
    wipe(text);
}

} // namespace

PinPages::PinPages(const PageContext& context, QWidget* window)
    : m_context(context)
    , m_window(window)
{
    connectEnterKeys();
}

void PinPages::reportVerified(bool verified)
{
    m_context.buttons->report(&buttons::ButtonState::pinVerified, verified);
}

// A PIN field takes printable ASCII only; anything else it refuses is explained in the
// field's count label until the next change of the field's text replaces it.
void PinPages::guardPinField(QLineEdit* field, QLabel* countLabel)
{
    if (field->validator() != nullptr) {
        return;
    }
    static const QRegularExpression printableAscii(QStringLiteral("[\\x20-\\x7E]*"));
    field->setValidator(new QRegularExpressionValidator(printableAscii, field));
    new RefusedInputWatcher(field,
                            [countLabel] { countLabel->setText(catalogueText(catalogue::PinCharactersRefused)); });
}

// Keyboard: Enter in a page's last field presses its OK button when OK may be pressed; in
// an earlier field it moves to the next one.
void PinPages::connectEnterKeys()
{
    Ui_MainWindow* ui = m_context.ui;
    const std::pair<QLineEdit*, QPushButton*> lastFields[] = {{ui->NewLabelEdit, ui->btn_ChangeLab_OK},
                                                              {ui->VerifyPIN_Edit, ui->btn_VerifyPIN_OK},
                                                              {ui->ConfirmPIN_Edit, ui->btn_ChangPIN_OK}};
    for (const auto& [field, ok] : lastFields) {
        QObject::connect(field, &QLineEdit::returnPressed, ok, [ok = ok] {
            if (ok->isEnabled()) {
                ok->click();
            }
        });
    }
    QObject::connect(ui->OldPIN_Edit, &QLineEdit::returnPressed, ui->NewPIN_Edit,
                     [ui] { ui->NewPIN_Edit->setFocus(); });
    QObject::connect(ui->NewPIN_Edit, &QLineEdit::returnPressed, ui->ConfirmPIN_Edit,
                     [ui] { ui->ConfirmPIN_Edit->setFocus(); });
}

void PinPages::focusField(int page, QLineEdit* field)
{
    Ui_MainWindow* ui = m_context.ui;
    // A device event during the dialog has left the page: the focus is not taken back.
    if (ui->tabWidget_2->currentIndex() == page && ui->tabWidget->currentIndex() == PageUkey) {
        field->setFocus(Qt::OtherFocusReason);
    }
}

// Page opening: the page's first field takes the typing.

void PinPages::openLabelPage()
{
    Ui_MainWindow* ui = m_context.ui;
    ui->NewLabelEdit->clear();
    ui->tabWidget_2->setCurrentIndex(PageChangeLabel);
    focusField(PageChangeLabel, ui->NewLabelEdit);
}

void PinPages::openVerifyPage()
{
    Ui_MainWindow* ui = m_context.ui;
    guardPinField(ui->VerifyPIN_Edit, ui->lab_PINcheck);
    ui->VerifyPIN_Edit->clear();
    ui->tabWidget_2->setCurrentIndex(PageVerifyPin);
    focusField(PageVerifyPin, ui->VerifyPIN_Edit);
}

void PinPages::openChangePage()
{
    Ui_MainWindow* ui = m_context.ui;
    guardPinField(ui->OldPIN_Edit, ui->lab_oldPINCheck);
    guardPinField(ui->NewPIN_Edit, ui->lab_NewPINCheck);
    guardPinField(ui->ConfirmPIN_Edit, ui->lab_ConfirmPINCheck);
    for (QLineEdit* field : {ui->OldPIN_Edit, ui->NewPIN_Edit, ui->ConfirmPIN_Edit}) {
        field->clear();
    }
    ui->tabWidget_2->setCurrentIndex(PageChangePin);
    focusField(PageChangePin, ui->OldPIN_Edit);
}

// Typing checks.

void PinPages::labelTyped()
{
    Ui_MainWindow* ui = m_context.ui;
    const int count = utf8Length(ui->NewLabelEdit);
    showInputCount(ui->lab_nameCheck_1, count);
    m_context.buttons->report(&buttons::ButtonState::labelTyped, count >= 1 && count <= MaxLabelBytes);
}

void PinPages::verifyPinTyped()
{
    Ui_MainWindow* ui = m_context.ui;
    const int count = latin1Length(ui->VerifyPIN_Edit);
    showInputCount(ui->lab_PINcheck, count);
    m_context.buttons->report(&buttons::ButtonState::verifyPinTyped, count >= MinPinLength);
}

void PinPages::changePinTyped(QLineEdit* field, QLabel* countLabel)
{
    Ui_MainWindow* ui = m_context.ui;
    const int count = latin1Length(field);
    showInputCount(countLabel, count);
    const bool allLongEnough = count != 0 && latin1Length(ui->OldPIN_Edit) >= MinPinLength
        && latin1Length(ui->NewPIN_Edit) >= MinPinLength && latin1Length(ui->ConfirmPIN_Edit) >= MinPinLength;
    m_context.buttons->report(&buttons::ButtonState::changePinTyped, allLongEnough);
}

void PinPages::labelBytesTyped()
{
    Ui_MainWindow* ui = m_context.ui;
    m_context.buttons->report(&buttons::ButtonState::labelTyped, latin1Length(ui->NewLabelEdit) >= 1);
}

void PinPages::unblockTyped()
{
    Ui_MainWindow* ui = m_context.ui;
    const bool ok = latin1Length(ui->SOPIN_Edit) >= MinPinLength && latin1Length(ui->UserPIN_Edit) >= MinPinLength
        && latin1Length(ui->ConfirmUserPIN_Edit) >= MinPinLength;
    m_context.buttons->report(&buttons::ButtonState::unblockTyped, ok);
}

void PinPages::authKeyTyped()
{
    Ui_MainWindow* ui = m_context.ui;
    const bool ok = latin1Length(ui->OldAuthKey_Edit) >= AuthKeyLength
        && latin1Length(ui->NewAuthKey_Edit) >= AuthKeyLength && latin1Length(ui->ConfirmAuthKey_Edit) >= AuthKeyLength;
    m_context.buttons->report(&buttons::ButtonState::authKeyTyped, ok);
}

void PinPages::initializeTyped()
{
    Ui_MainWindow* ui = m_context.ui;
    const bool defaultAuthKey = ui->chb_devAuthkey->checkState() != Qt::Unchecked;
    ui->Init_DevAuthKey_Edit->setEnabled(!defaultAuthKey);
    bool ok = latin1Length(ui->Init_NewSOPIN_Edit) >= MinPinLength
        && latin1Length(ui->Init_NewUserPIN_Edit) >= MinPinLength && latin1Length(ui->Init_LabelName_Edit) >= 1;
    if (!defaultAuthKey) {
        ok = ok && latin1Length(ui->Init_DevAuthKey_Edit) >= AuthKeyLength;
    }
    m_context.buttons->report(&buttons::ButtonState::initializeTyped, ok);
}

// Operations.

void PinPages::changeLabel()
{
    Ui_MainWindow* ui = m_context.ui;
    cDevMgr* manager = m_context.manager;
    const QByteArray label = ui->NewLabelEdit->text().toUtf8();
    // The token's label holds 32 bytes with its terminator, so the limit is on bytes, as
    // in the typing check: 31 ASCII characters, or 10 three-byte ones.
    unsigned mode = ModeOperationFailed;
    if (label.size() > MaxLabelBytes) {
        mode = ModeLabelTooLong;
    } else if (manager->SetDevLabel(label.constData(), static_cast<ULONG>(label.size())) == SAR_OK) {
        mode = ModeLabelChanged;
    }
    runMessage(*m_context.messages, mode, TitleChangeLabel);
    ui->NewLabelEdit->clear();
    focusField(PageChangeLabel, ui->NewLabelEdit);
}

void PinPages::verifyPin()
{
    Ui_MainWindow* ui = m_context.ui;
    cDevMgr* manager = m_context.manager;
    QString text = ui->VerifyPIN_Edit->text();
    Pin pin = Pin::fromUtf8(text);
    if (pin.size() < MinPinLength) {
        runMessage(*m_context.messages, ModePinTooShort, TitleVerifyPin);
        emptyPinField(ui->VerifyPIN_Edit, text);
        focusField(PageVerifyPin, ui->VerifyPIN_Edit);
        return;
    }
    if (!isPrintableAscii(text)) {
        pin.clear();
        runMessage(*m_context.messages, ModeOperationFailed, TitleVerifyPin);
        emptyPinField(ui->VerifyPIN_Edit, text);
        focusField(PageVerifyPin, ui->VerifyPIN_Edit);
        return;
    }

    ULONG retries = 0;
    const ULONG result = manager->VerifyPIN(PinTypeUser, pin.data(), &retries);
    pin.clear();
    const unsigned mode = pinResultMode(result, ModePinVerified);
    if (result == SAR_OK) {
        // Export and delete are usable before the success message is read.
        reportVerified(true);
    }
    runMessage(*m_context.messages, mode, TitleVerifyPin,
               mode == ModePinIncorrect ? static_cast<unsigned>(retries) : 0);
    emptyPinField(ui->VerifyPIN_Edit, text);
    focusField(PageVerifyPin, ui->VerifyPIN_Edit);
}

void PinPages::changePin()
{
    Ui_MainWindow* ui = m_context.ui;
    // Changing the PIN ends what a verification allowed, whatever the outcome.
    reportVerified(false);

    QLineEdit* const fields[] = {ui->OldPIN_Edit, ui->NewPIN_Edit, ui->ConfirmPIN_Edit};
    // The typing goes back to the field it came from (the first one after a click on OK).
    QLineEdit* typedIn = std::find(std::begin(fields), std::end(fields), m_window->focusWidget()) != std::end(fields)
        ? static_cast<QLineEdit*>(m_window->focusWidget())
        : fields[0];
    QString texts[] = {fields[0]->text(), fields[1]->text(), fields[2]->text()};
    Pin oldPin = Pin::fromLatin1(texts[0]);
    Pin newPin = Pin::fromLatin1(texts[1]);
    Pin confirmPin = Pin::fromLatin1(texts[2]);
    cDevMgr* manager = m_context.manager;

    unsigned mode = ModeOperationFailed;
    ULONG retries = 0;
    const bool sendable = std::all_of(std::begin(texts), std::end(texts), isPrintableAscii) && oldPin.fitsDriver()
        && newPin.fitsDriver() && confirmPin.fitsDriver();
    if (confirmPin != newPin) {
        mode = ModeConfirmationDiffers;
    } else if (newPin == oldPin) {
        mode = ModeSamePin;
    } else if (newPin.size() < MinPinLength) {
        mode = ModePinTooShort;
    } else if (sendable) {
        mode = pinResultMode(manager->ChangePIN(PinTypeUser, oldPin.data(), newPin.data(), &retries), ModePinChanged);
    }
    for (Pin* pin : {&oldPin, &newPin, &confirmPin}) {
        pin->clear();
    }

    runMessage(*m_context.messages, mode, TitleChangePin,
               mode == ModePinIncorrect ? static_cast<unsigned>(retries) : 0);
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        emptyPinField(fields[i], texts[i]);
    }
    focusField(PageChangePin, typedIn);
}
