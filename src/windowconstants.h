// The main window's named numbers, each defined here only: its pages, the PIN types it asks
// the driver about, and the modes and titles of its message dialog.
#pragma once

#include <skf/skfapi.h>

namespace window {

// Pages of the outer tab widget (tabWidget).
constexpr int PageUkey = 1;
constexpr int PageCert = 2;
constexpr int PageAbout = 3;

// Pages of the token tab widget (tabWidget_2).
constexpr int PageMain = 0;
constexpr int PageKeyInfo = 1;
constexpr int PageChangeLabel = 2;
constexpr int PageVerifyPin = 3;
constexpr int PageChangePin = 4;

// The driver's PIN types, by the header's own names.
constexpr ULONG PinTypeAdmin = ADMIN_TYPE;
constexpr ULONG PinTypeUser = USER_TYPE;

// Modes of the message dialog: the message it shows.
constexpr unsigned ModePinVerified = 2000;
constexpr unsigned ModePinChanged = 2001;
// The one prompt: continue or cancel.
constexpr unsigned ModePinTooShort = 2002;
constexpr unsigned ModeConfirmationDiffers = 2005;
constexpr unsigned ModeSamePin = 2006;
constexpr unsigned ModePinLocked = 2007;
// Carries the remaining tries.
constexpr unsigned ModePinIncorrect = 2009;
// Always titled with the change-label caption, whatever title it is given.
constexpr unsigned ModeLabelTooLong = 3000;
constexpr unsigned ModeLabelChanged = 3001;
constexpr unsigned ModeOperationFailed = 7000;
constexpr unsigned ModeExportSucceeded = 8002;
constexpr unsigned ModeCertificateNotFound = 8004;
constexpr unsigned ModeExportFailed = 8005;

// The dialog mode for a PIN operation's result: success gives the operation's own mode, a
// wrong or locked PIN its message, anything else the failure message.
constexpr unsigned pinResultMode(ULONG result, unsigned successMode)
{
    constexpr struct
    {
        ULONG result;
        unsigned mode;
    } known[] = {{SAR_PIN_INCORRECT, ModePinIncorrect}, {SAR_PIN_LOCKED, ModePinLocked}};
    if (result == SAR_OK) {
        return successMode;
    }
    for (const auto& entry : known) {
        if (entry.result == result) {
            return entry.mode;
        }
    }
    return ModeOperationFailed;
}

// Title kinds of the message dialog.
constexpr unsigned TitleChangeLabel = 9001;
constexpr unsigned TitleVerifyPin = 9002;
constexpr unsigned TitleChangePin = 9003;
constexpr unsigned TitleExportCertificate = 9006;
constexpr unsigned TitleViewCertificate = 9007;
constexpr unsigned TitleDeleteContainer = 9008;

} // namespace window
