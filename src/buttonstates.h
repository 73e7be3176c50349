// Button states: which of the window's buttons may be pressed, decided in one place from
// what the pages report. The pages never enable or disable a button themselves; each
// reports its part of ButtonState to the ButtonPanel, which sets every button from it.
#pragma once

#include <array>
#include <cstddef>

class Ui_MainWindow;

namespace buttons {

// What the pages report.
struct ButtonState
{
    // The key-information page: the chosen device's record was read, and its first
    // application opened (the container view reports the application again when it opens it).
    bool deviceRead = false;
    bool applicationOpened = false;
    // The PIN pages: the user PIN was verified (until it is changed or a device event comes).
    bool pinVerified = false;
    // The typing checks: what is typed on each page allows its OK button.
    bool labelTyped = false;
    bool verifyPinTyped = false;
    bool changePinTyped = false;
    bool unblockTyped = false;
    bool authKeyTyped = false;
    bool initializeTyped = false;
};

// The buttons whose state is decided here. The view button is always enabled and so not
// among them.
enum Button : std::size_t {
    ChangeLabel,
    VerifyPin,
    ChangePin,
    UnblockPin,
    ChangeAuthKey,
    Initialize,
    KeyInfo,
    ChangeLabelOk,
    VerifyPinOk,
    ChangePinOk,
    UnblockPinOk,
    ChangeAuthKeyOk,
    InitializeOk,
    ImportCertificate,
    ExportCertificate,
    DeleteContainer,
    ButtonCount
};

using Enabled = std::array<bool, ButtonCount>;

// The one decision: every button's enabled state from the pages' state.
Enabled enabledButtons(const ButtonState& state);

// A device event sends every page back to the start: nothing is chosen or verified any
// more, and the verify and change-PIN OK buttons wait for new typing. The label page and
// the pages never offered keep their typing.
ButtonState afterDeviceEvent(const ButtonState& state);

// The window's buttons, set from the state after every report.
class ButtonPanel
{
public:
    explicit ButtonPanel(Ui_MainWindow& ui);

    const ButtonState& state() const { return m_state; }
    // One fact of a page, e.g. report(&ButtonState::pinVerified, true).
    void report(bool ButtonState::*fact, bool value);
    // The key-information page's two facts at once.
    void reportDevice(bool deviceRead, bool applicationOpened);
    void deviceEvent();

private:
    void apply();

    Ui_MainWindow& m_ui;
    ButtonState m_state;
};

} // namespace buttons
