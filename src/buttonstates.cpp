// Button states: the decision from the pages' state, and the panel that sets the form's
// buttons from it.
#include "buttonstates.h"

#include "ui_mainwindow.h"

#include <iterator>

namespace buttons {

Enabled enabledButtons(const ButtonState& state)
{
    Enabled enabled{};
    enabled[ChangeLabel] = state.deviceRead;
    // The unblock button stays hidden; its state only follows the other PIN buttons.
    for (Button button : {VerifyPin, ChangePin, UnblockPin}) {
        enabled[button] = state.applicationOpened;
    }
    // The authentication-key, initialisation and key-information buttons are never offered.
    enabled[ChangeAuthKey] = false;
    enabled[Initialize] = false;
    enabled[KeyInfo] = false;
    enabled[ChangeLabelOk] = state.labelTyped;
    enabled[VerifyPinOk] = state.verifyPinTyped;
    enabled[ChangePinOk] = state.changePinTyped;
    enabled[UnblockPinOk] = state.unblockTyped;
    enabled[ChangeAuthKeyOk] = state.authKeyTyped;
    enabled[InitializeOk] = state.initializeTyped;
    // Export and delete (and the hidden import) need a verified PIN.
    for (Button button : {ImportCertificate, ExportCertificate, DeleteContainer}) {
        enabled[button] = state.pinVerified;
    }
    return enabled;
}

ButtonState afterDeviceEvent(const ButtonState& state)
{
    ButtonState after = state;
    after.deviceRead = false;
    after.applicationOpened = false;
    after.pinVerified = false;
    after.verifyPinTyped = false;
    after.changePinTyped = false;
    return after;
}

ButtonPanel::ButtonPanel(Ui_MainWindow& ui)
    : m_ui(ui)
{
    apply();
}

void ButtonPanel::report(bool ButtonState::*fact, bool value)
{
    m_state.*fact = value;
    apply();
}

void ButtonPanel::reportDevice(bool deviceRead, bool applicationOpened)
{
    m_state.deviceRead = deviceRead;
    m_state.applicationOpened = applicationOpened;
    apply();
}

void ButtonPanel::deviceEvent()
{
    m_state = afterDeviceEvent(m_state);
    apply();
}

void ButtonPanel::apply()
{
    const struct
    {
        Button button;
        QPushButton* Ui_MainWindow::*widget;
    } widgets[] = {{ChangeLabel, &Ui_MainWindow::btn_ChangeLabel},
                   {VerifyPin, &Ui_MainWindow::btn_VerifyPIN},
                   {ChangePin, &Ui_MainWindow::btn_ChangePIN},
                   {UnblockPin, &Ui_MainWindow::btn_UnblockPIN},
                   {ChangeAuthKey, &Ui_MainWindow::btn_ChangeAuthKey},
                   {Initialize, &Ui_MainWindow::btn_Initialize},
                   {KeyInfo, &Ui_MainWindow::btn_Keyinfo},
                   {ChangeLabelOk, &Ui_MainWindow::btn_ChangeLab_OK},
                   {VerifyPinOk, &Ui_MainWindow::btn_VerifyPIN_OK},
                   {ChangePinOk, &Ui_MainWindow::btn_ChangPIN_OK},
                   {UnblockPinOk, &Ui_MainWindow::btn_UnblockPIN_OK},
                   {ChangeAuthKeyOk, &Ui_MainWindow::btn_ChangAuthKey_OK},
                   {InitializeOk, &Ui_MainWindow::btn_Initialize_OK},
                   {ImportCertificate, &Ui_MainWindow::btn_ImpCert},
                   {ExportCertificate, &Ui_MainWindow::btn_ExpCert},
                   {DeleteContainer, &Ui_MainWindow::btn_DelCtn}};
    static_assert(std::size(widgets) == ButtonCount, "every decided button has its widget");
    const Enabled enabled = enabledButtons(m_state);
    for (const auto& row : widgets) {
        (m_ui.*row.widget)->setEnabled(enabled[row.button]);
    }
}

} // namespace buttons
