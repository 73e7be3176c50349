// The driver's result codes in PKCS#11 terms. Codes with no PKCS#11 meaning are a device error:
// the token failed, the caller did nothing wrong.
#include "Errors.h"

namespace skfp11 {

CK_RV rvFromSar(ULONG sar)
{
    switch (sar) {
    case SAR_OK:
        return CKR_OK;
    case SAR_NOTSUPPORTYETERR:
        return CKR_FUNCTION_NOT_SUPPORTED;
    case SAR_INVALIDHANDLEERR:
    case SAR_DEVICE_REMOVED:
        // A handle the driver no longer knows belongs to a token that went away.
        return CKR_DEVICE_REMOVED;
    case SAR_MEMORYERR:
        return CKR_DEVICE_MEMORY;
    case SAR_NO_ROOM:
    case SAR_REACH_MAX_CONTAINER_COUNT:
        return CKR_DEVICE_MEMORY;
    case SAR_INDATALENERR:
        return CKR_DATA_LEN_RANGE;
    case SAR_INDATAERR:
        return CKR_DATA_INVALID;
    case SAR_KEYUSAGEERR:
        return CKR_KEY_FUNCTION_NOT_PERMITTED;
    case SAR_MODULUSLENERR:
    case SAR_RSAMODULUSLENERR:
        return CKR_KEY_SIZE_RANGE;
    case SAR_KEYNOTFOUNTERR:
        return CKR_KEY_HANDLE_INVALID;
    case SAR_CERTNOTFOUNTERR:
        return CKR_OBJECT_HANDLE_INVALID;
    case SAR_DECRYPTPADERR:
    case SAR_RSADECERR:
        return CKR_ENCRYPTED_DATA_INVALID;
    case SAR_BUFFER_TOO_SMALL:
        // The module always asks for sizes first; a driver that still reports this lied about them.
        return CKR_DEVICE_ERROR;
    case SAR_PIN_INCORRECT:
        return CKR_PIN_INCORRECT;
    case SAR_PIN_LOCKED:
        return CKR_PIN_LOCKED;
    case SAR_PIN_INVALID:
        return CKR_PIN_INVALID;
    case SAR_PIN_LEN_RANGE:
        return CKR_PIN_LEN_RANGE;
    case SAR_USER_ALREADY_LOGGED_IN:
        return CKR_USER_ALREADY_LOGGED_IN;
    case SAR_USER_PIN_NOT_INITIALIZED:
        return CKR_USER_PIN_NOT_INITIALIZED;
    case SAR_USER_TYPE_INVALID:
        return CKR_USER_TYPE_INVALID;
    case SAR_USER_NOT_LOGGED_IN:
        return CKR_USER_NOT_LOGGED_IN;
    case SAR_FILE_ALREADY_EXIST:
    case SAR_APPLICATION_EXISTS:
        return CKR_ATTRIBUTE_VALUE_INVALID;
    case SAR_NAMELENERR:
        return CKR_ATTRIBUTE_VALUE_INVALID;
    case SAR_TIMEOUTERR:
        return CKR_FUNCTION_FAILED;
    default:
        return CKR_DEVICE_ERROR;
    }
}

} // namespace skfp11
