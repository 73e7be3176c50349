// The string catalogue: every user-visible text the manager looks up, with its number and
// the default text the calling place passes. Each number and default is written once, in
// OVRINKEY_CATALOGUE below; everything else refers to the named constants.
#pragma once

#include <cstddef>
#include <string>

// X(name, number, default text). One row per place-kind; 30001 has two rows because its
// two places pass different defaults. The comment on each row says where it is shown.
// clang-format off
#define OVRINKEY_CATALOGUE(X) \
    /* language names: cbx_lang items */ \
    X(LanguageSimplifiedChinese,  1000,  "Chinese (Simplified)") \
    X(LanguageTraditionalChinese, 1001,  "Chinese (Traditional)") \
    X(LanguageEnglish,            1002,  "English") \
    /* device tree */ \
    X(EmptyDevice,                30000, "Empty Device")    /* child of a device without application */ \
    X(DataManagerTitle,           30001, "Data Manager")    /* lab_cert_2, title of the certificate page */ \
    X(DataManagerNode,            30001, "Data Manger")     /* child node of a device with an application */ \
    X(DeviceList,                 30002, "DevList")         /* header of treeView_Dev */ \
    /* key information page, first column */ \
    X(InfoLabel,                  30003, "Label") \
    X(InfoSerialNumber,           30004, "SerialNumber") \
    X(InfoManufacturer,           30005, "Manufacturer") \
    X(InfoHardwareVersion,        30006, "HWVersion") \
    X(InfoTotalSpace,             30007, "TotalSpace") \
    X(InfoFreeSpace,              30008, "FreeSpace") \
    X(InfoSoPinMaxRetries,        30009, "SOPIN MaxRetryCount") \
    X(InfoSoPinRemainingRetries,  30010, "SOPIN RemainRetryCount") \
    X(InfoSoPinIsDefault,         30011, "SOPIN DefaultPIN") \
    X(InfoUserPinMaxRetries,      30012, "USERPIN MaxRetryCount") \
    X(InfoUserPinRemainingRetries,30013, "USERPIN RemainRetryCount") \
    X(InfoUserPinIsDefault,       30014, "USERPIN DefaultPIN") \
    /* key information page, second column */ \
    X(InfoRetriesLocked,          30015, "0(Locked)")       /* remaining retries of 0 */ \
    X(InfoYes,                    30016, "YES")             /* default-PIN flag set */ \
    X(InfoNo,                     30017, "NO")              /* default-PIN flag clear */ \
    /* container view key pairs and keys; export and view map them back to the sign flag */ \
    X(KeyPairEncryptRsa1024,      30018, "Encrypt&Decrypt(RSA1024)") \
    X(KeyPairSignRsa1024,         30019, "Sign(RSA1024)") \
    X(PublicKey,                  30020, "Public key") \
    X(PrivateKey,                 30021, "Private key") \
    X(KeyPairEncryptRsa2048,      30022, "Encrypt&Decrypt(RSA2048)") \
    X(KeyPairSignRsa2048,         30023, "Sign(RSA2048)") \
    X(KeyPairEncryptEcc128,       30024, "Encrypt&Decrypt(ECC128)") \
    X(KeyPairSignEcc128,          30025, "Sign(ECC128)") \
    X(KeyPairEncryptEcc256,       30026, "Encrypt&Decrypt(ECC256)") \
    X(KeyPairSignEcc256,          30027, "Sign(ECC256)") \
    /* input checks: printf format, one %d (characters typed), into 128 bytes */ \
    X(CharactersEntered,          30028, "Already input %d character") \
    X(ExportCertificateCaption,   30029, "Export Certificate") /* save-file dialog caption */ \
    X(Ok,                         30030, "OK")              /* the six *_OK buttons, message dialog button */ \
    /* message dialog messages */ \
    X(MsgLabelTooLong,            30036, "Z Ovaduv name is too long, please re-enter within 30 characters in length Z Ovaduv new name") \
    X(MsgPinVerified,             30037, "Successfully verify the DIV-Uvavoz password") \
    X(MsgPinConfirmMismatch,      30038, "Error in confirming the DIV-Uvavoz password entry") \
    X(MsgPinLocked,               30039, "DIV-Uvavoz password locked") \
    /* printf format, one %d (remaining retries), into 2048 bytes */ \
    X(MsgPinIncorrect,            30040, "Failure in verifying DIV-Uvavoz password %d") \
    X(MsgPinChanged,              30041, "Successfully change the DIV-Uvavoz password") \
    X(MsgLabelChanged,            30042, "Device label changed successfully") \
    X(MsgOperationFailed,         30043, "Operation failed") \
    X(MsgPinsAreSame,             30069, "The old and new DIV-Uvavoz passwords are the same") \
    X(MsgDefaultTitle,            30071, "Z Idi")           /* message dialog title for other kinds */ \
    X(MsgPinTooShort,             30078, "The password entered is not long enough") \
    X(MsgContinue,                30080, "continue")        /* lab_box_ok in the two-button prompt */ \
    X(MsgCancel,                  30081, "cancel")          /* lab_box_cancel in the two-button prompt */ \
    X(PinCharactersRefused,       30082, "A PIN takes only English letters, digits and symbols") /* PIN count label */ \
    X(MsgExportCertSucceeded,     31004, "export cert success.") \
    X(MsgCertNotFound,            31006, "import cert failed.") /* view, export or delete found no certificate */ \
    X(MsgExportCertFailed,        31007, "export cert failed.") \
    /* page captions and field labels */ \
    X(CaptionChangeUserPin,       32004, "Change User PIN")  /* lab_changePIN_2 */ \
    X(FieldOldUserPin,            32005, "Old User PIN")     /* lab_oldPIN */ \
    X(FieldNewUserPin,            32006, "New User PIN")     /* lab_newPIN */ \
    X(FieldConfirmUserPin,        32007, "Confirm User PIN") /* lab_confirmPIN */ \
    X(CaptionUsbInfo,             32009, "USB Info")         /* lab_changlabel_3 */ \
    X(CaptionChangeLabel,         32010, "Change Label")     /* lab_changlabel_4 */ \
    X(FieldNewLabel,              32011, "New Label")        /* lab_newlabel */ \
    X(FieldUserPin,               32012, "User PIN")         /* lab_PIN */ \
    X(CaptionVerifyUserPin,       32013, "Verify User PIN")  /* lab_VerifyPIN_2 */ \
    X(CaptionChangeDevAuthKey,    32014, "Change DevAuthKey") /* lab_changeAuthKey */ \
    X(FieldOldDevAuthKey,         32015, "Old DevAuthKey")   /* lab_oldDevAuthKey */ \
    X(FieldNewDevAuthKey,         32016, "New DevAuthKey")   /* lab_newDevAuthKey */ \
    X(FieldConfirmDevAuthKey,     32017, "Confirm DevAuthKey") /* lab_ConfirmDevAuthKey */ \
    X(CaptionInitialize,          32018, "Initialize")       /* lab_Initialize */ \
    X(FieldInitDevAuthKey,        32019, "Dev Auth Key")     /* lab_Init_DevAuthKey */ \
    X(FieldInitNewSoPin,          32020, "New SO PIN")       /* lab_Init_NewSOPIN */ \
    X(FieldInitNewUserPin,        32021, "New User PIN")     /* lab_Init_NewUserPIN */ \
    X(FieldInitLabelName,         32022, "New Label Name")   /* lab_Init_LabelName */ \
    X(CaptionUnblockUserPin,      32023, "Unblock User PIN") /* lab_UnblockPIN_4 */ \
    X(FieldUnblockSoPin,          32024, "SO PIN")           /* lab_SOPIN */ \
    X(FieldUnblockNewUserPin,     32025, "New User PIN")     /* lab_UserPIN */ \
    X(FieldUnblockConfirmUserPin, 32026, "Confirm User PIN") /* lab_confirmUserPIN */ \
    /* buttons of the side bar and the certificate page; 32030 to 32032 also dialog titles */ \
    X(ButtonChangeKey,            32027, "Change Key")       /* btn_ChangeAuthKey */ \
    X(ButtonInitialize,           32028, "Initialize")       /* btn_Initialize */ \
    X(ButtonUnblockPin,           32029, "Unblock PIN")      /* btn_UnblockPIN */ \
    X(ButtonChangeLabel,          32030, "Change Label")     /* btn_ChangeLabel; title of label messages */ \
    X(ButtonChangePin,            32031, "Change PIN")       /* btn_ChangePIN; title of change-PIN messages */ \
    X(ButtonVerifyPin,            32032, "Verify PIN")       /* btn_VerifyPIN; title of verify-PIN messages */ \
    X(ButtonViewCert,             32033, "View")             /* btn_ViewCert */ \
    X(ButtonExportCert,           32034, "Export")           /* btn_ExpCert */ \
    X(ButtonDeleteContainer,      32035, "Delete")           /* btn_DelCtn */ \
    /* message dialog titles */ \
    X(TitleExportCertificate,     32037, "Export Certificate") \
    X(TitleViewCertificate,       32038, "View Certificate") \
    X(TitleDeleteContainer,       32039, "Delete Container") \
    /* start-up box when another instance runs */ \
    X(AlreadyRunningTitle,        32042, "warning") \
    X(AlreadyRunningMessage,      32043, "The program is already running.") \
    X(DefaultDevAuthKey,          32044, "default")          /* chb_devAuthkey */ \
    /* tray */ \
    X(TrayTitle,                  32046, "Title")            /* tray message title on a click */ \
    X(TrayShowWindow,             32047, "显示主界面")       /* tray menu: show the main window */ \
    X(TrayExit,                   32048, "退出")             /* tray menu: exit */ \
    X(TrayTokenInserted,          32052, "DIV-Uvavoz inserted") \
    X(TrayTokenRemoved,           32053, "DIV-Uvavoz removed") \
    /* expiry warning: printf formats into 512 bytes, one %d and one %ld (days) */ \
    X(CertExpiresInDays,          32054, "Your certificate will expire in %d days. \nPlease contact your administrator for certificate update.") \
    X(CertExpiredDaysAgo,         32055, "Your certificate has expired %ld days ago. \nPlease contact your administrator for certificate update.") \
    /* container view */ \
    X(CertificateFallbackName,    70000, "Certificate")      /* certificate without a readable name, into 128 bytes */ \
    X(ContainerSuffix,            70001, "(container)")      /* appended to container names, stripped again on use */
// clang-format on

namespace catalogue {
struct CatalogueText
{
    unsigned long number;
    const char* defaultText;
};

#define OVRINKEY_CATALOGUE_CONSTANT(name, number, text) constexpr CatalogueText name{number, text};
OVRINKEY_CATALOGUE(OVRINKEY_CATALOGUE_CONSTANT)
#undef OVRINKEY_CATALOGUE_CONSTANT

// Every row, in catalogue order (30001 appears twice).
#define OVRINKEY_CATALOGUE_ROW(name, number, text) name,
constexpr CatalogueText allTexts[] = {OVRINKEY_CATALOGUE(OVRINKEY_CATALOGUE_ROW)};
#undef OVRINKEY_CATALOGUE_ROW

// The texts that are used as printf formats.
constexpr CatalogueText formatTexts[] = {CharactersEntered, MsgPinIncorrect, CertExpiresInDays, CertExpiredDaysAgo};

// The text for t in the language in force, or its default.
std::string text(const CatalogueText& t);

// Like text(), but safe to use as a printf format with the default's arguments: a
// translation whose conversions differ from the default's gives the default instead.
// A translation without any conversion is returned unchanged.
std::string formatText(const CatalogueText& t);

// True when format has no conversions, or exactly the conversions of reference in the
// same order, each written the same way. "%%" is a literal, not a conversion.
bool hasSameConversions(const std::string& format, const std::string& reference);
} // namespace catalogue

using catalogue::CatalogueText;
