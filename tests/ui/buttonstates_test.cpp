// The one decision of the buttons' enabled state, from the pages' state, as a table; and
// what a device event keeps of it.
#include "buttonstates.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace buttons;

namespace {

std::set<Button> enabledSet(const ButtonState& state)
{
    const Enabled enabled = enabledButtons(state);
    std::set<Button> set;
    for (std::size_t button = 0; button < ButtonCount; ++button) {
        if (enabled[button]) {
            set.insert(static_cast<Button>(button));
        }
    }
    return set;
}

ButtonState with(bool ButtonState::*fact)
{
    ButtonState state;
    state.*fact = true;
    return state;
}

ButtonState everything()
{
    ButtonState state;
    for (bool ButtonState::*fact :
         {&ButtonState::deviceRead, &ButtonState::applicationOpened, &ButtonState::pinVerified,
          &ButtonState::labelTyped, &ButtonState::verifyPinTyped, &ButtonState::changePinTyped,
          &ButtonState::unblockTyped, &ButtonState::authKeyTyped, &ButtonState::initializeTyped}) {
        state.*fact = true;
    }
    return state;
}

} // namespace

TEST(ButtonStates, eachFactEnablesItsButtonsAndNoOther)
{
    const struct
    {
        std::string what;
        ButtonState state;
        std::set<Button> enabled;
    } rows[] = {
        {"nothing chosen", ButtonState(), {}},
        {"a device read", with(&ButtonState::deviceRead), {ChangeLabel}},
        // The container view reports the application on its own; the PIN buttons follow it.
        {"its application opened", with(&ButtonState::applicationOpened), {VerifyPin, ChangePin, UnblockPin}},
        {"the PIN verified", with(&ButtonState::pinVerified), {ImportCertificate, ExportCertificate, DeleteContainer}},
        {"a label typed", with(&ButtonState::labelTyped), {ChangeLabelOk}},
        {"a PIN typed", with(&ButtonState::verifyPinTyped), {VerifyPinOk}},
        {"three PINs typed", with(&ButtonState::changePinTyped), {ChangePinOk}},
        {"unblock typed", with(&ButtonState::unblockTyped), {UnblockPinOk}},
        {"authentication keys typed", with(&ButtonState::authKeyTyped), {ChangeAuthKeyOk}},
        {"initialisation typed", with(&ButtonState::initializeTyped), {InitializeOk}},
        // The pages never offered keep their buttons off whatever else is true.
        {"everything",
         everything(),
         {ChangeLabel, VerifyPin, ChangePin, UnblockPin, ChangeLabelOk, VerifyPinOk, ChangePinOk, UnblockPinOk,
          ChangeAuthKeyOk, InitializeOk, ImportCertificate, ExportCertificate, DeleteContainer}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(enabledSet(row.state), row.enabled) << row.what;
    }
}

TEST(ButtonStates, aDeviceEventForgetsTheChoiceTheVerificationAndThePinTyping_butKeepsTheOtherPages)
{
    const ButtonState after = afterDeviceEvent(everything());
    EXPECT_EQ(enabledSet(after), (std::set<Button>{ChangeLabelOk, UnblockPinOk, ChangeAuthKeyOk, InitializeOk}));
    EXPECT_EQ(enabledSet(afterDeviceEvent(ButtonState())), std::set<Button>{});
}
