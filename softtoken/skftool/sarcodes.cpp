// Names and plain explanations of the SKF result codes, for skftool's error messages.
#include "sarcodes.h"

#include "skf/skfapi.h"

#include <cstdio>

namespace skftool {

namespace {

struct SarEntry
{
    uint32_t code;
    const char* name;
    const char* sentence;
};

const SarEntry kSarTable[] = {
    {SAR_OK, "SAR_OK", "the operation succeeded"},
    {SAR_FAIL, "SAR_FAIL", "the driver reported a general failure"},
    {SAR_UNKNOWNERR, "SAR_UNKNOWNERR", "the driver reported an unknown error"},
    {SAR_NOTSUPPORTYETERR, "SAR_NOTSUPPORTYETERR", "the driver does not support this operation"},
    {SAR_FILEERR, "SAR_FILEERR", "a file on the token could not be handled"},
    {SAR_INVALIDHANDLEERR, "SAR_INVALIDHANDLEERR", "the driver does not know this handle"},
    {SAR_INVALIDPARAMERR, "SAR_INVALIDPARAMERR", "the driver refused a parameter"},
    {SAR_READFILEERR, "SAR_READFILEERR", "reading a file on the token failed"},
    {SAR_WRITEFILEERR, "SAR_WRITEFILEERR", "writing a file on the token failed"},
    {SAR_NAMELENERR, "SAR_NAMELENERR", "a name is too long or empty"},
    {SAR_KEYUSAGEERR, "SAR_KEYUSAGEERR", "the key may not be used this way"},
    {SAR_MODULUSLENERR, "SAR_MODULUSLENERR", "the key size is not supported"},
    {SAR_NOTINITIALIZEERR, "SAR_NOTINITIALIZEERR", "the token is not initialised"},
    {SAR_OBJERR, "SAR_OBJERR", "the object is wrong for this operation"},
    {SAR_MEMORYERR, "SAR_MEMORYERR", "the driver ran out of memory"},
    {SAR_TIMEOUTERR, "SAR_TIMEOUTERR", "the operation timed out"},
    {SAR_INDATALENERR, "SAR_INDATALENERR", "the input data has the wrong length"},
    {SAR_INDATAERR, "SAR_INDATAERR", "the input data is wrong"},
    {SAR_GENRANDERR, "SAR_GENRANDERR", "the token could not make random bytes"},
    {SAR_HASHOBJERR, "SAR_HASHOBJERR", "the hash object is wrong"},
    {SAR_HASHERR, "SAR_HASHERR", "hashing failed"},
    {SAR_GENRSAKEYERR, "SAR_GENRSAKEYERR", "the token could not generate the RSA key pair"},
    {SAR_RSAMODULUSLENERR, "SAR_RSAMODULUSLENERR", "the RSA modulus length is not supported"},
    {SAR_CSPIMPRTPUBKEYERR, "SAR_CSPIMPRTPUBKEYERR", "importing the public key failed"},
    {SAR_RSAENCERR, "SAR_RSAENCERR", "RSA encryption failed"},
    {SAR_RSADECERR, "SAR_RSADECERR", "RSA decryption failed"},
    {SAR_HASHNOTEQUALERR, "SAR_HASHNOTEQUALERR", "the hash values do not match"},
    {SAR_KEYNOTFOUNTERR, "SAR_KEYNOTFOUNTERR", "the key pair was not found"},
    {SAR_CERTNOTFOUNTERR, "SAR_CERTNOTFOUNTERR", "the certificate was not found"},
    {SAR_NOTEXPORTERR, "SAR_NOTEXPORTERR", "the object may not be exported"},
    {SAR_DECRYPTPADERR, "SAR_DECRYPTPADERR", "the decrypted padding is wrong"},
    {SAR_MACLENERR, "SAR_MACLENERR", "the MAC length is wrong"},
    {SAR_BUFFER_TOO_SMALL, "SAR_BUFFER_TOO_SMALL", "the buffer is too small"},
    {SAR_KEYINFOTYPEERR, "SAR_KEYINFOTYPEERR", "the key type is wrong"},
    {SAR_NOT_EVENTERR, "SAR_NOT_EVENTERR", "there is no device event"},
    {SAR_DEVICE_REMOVED, "SAR_DEVICE_REMOVED", "the token was removed"},
    {SAR_PIN_INCORRECT, "SAR_PIN_INCORRECT", "the PIN is incorrect"},
    {SAR_PIN_LOCKED, "SAR_PIN_LOCKED", "the PIN is locked; unblock it with the SO PIN"},
    {SAR_PIN_INVALID, "SAR_PIN_INVALID", "the PIN is not valid"},
    {SAR_PIN_LEN_RANGE, "SAR_PIN_LEN_RANGE", "the PIN must be 6 to 16 characters long"},
    {SAR_USER_ALREADY_LOGGED_IN, "SAR_USER_ALREADY_LOGGED_IN", "the user is already logged in"},
    {SAR_USER_PIN_NOT_INITIALIZED, "SAR_USER_PIN_NOT_INITIALIZED", "the user PIN is not initialised"},
    {SAR_USER_TYPE_INVALID, "SAR_USER_TYPE_INVALID", "the PIN type is not valid"},
    {SAR_APPLICATION_NAME_INVALID, "SAR_APPLICATION_NAME_INVALID", "the application name is not valid"},
    {SAR_APPLICATION_EXISTS, "SAR_APPLICATION_EXISTS", "an application of this name already exists"},
    {SAR_USER_NOT_LOGGED_IN, "SAR_USER_NOT_LOGGED_IN", "this needs a verified PIN or device authentication"},
    {SAR_APPLICATION_NOT_EXISTS, "SAR_APPLICATION_NOT_EXISTS", "there is no application of this name"},
    {SAR_FILE_ALREADY_EXIST, "SAR_FILE_ALREADY_EXIST", "an object of this name already exists"},
    {SAR_NO_ROOM, "SAR_NO_ROOM", "the token has no room left"},
    {SAR_FILE_NOT_EXIST, "SAR_FILE_NOT_EXIST", "there is no object of this name"},
    {SAR_REACH_MAX_CONTAINER_COUNT, "SAR_REACH_MAX_CONTAINER_COUNT", "the token holds the most containers it can"},
};

const SarEntry* findSar(uint32_t code)
{
    for (const SarEntry& entry : kSarTable) {
        if (entry.code == code) {
            return &entry;
        }
    }
    return nullptr;
}

} // namespace

std::string sarName(uint32_t code)
{
    const SarEntry* entry = findSar(code);
    return entry ? entry->name : "unknown code";
}

std::string sarLabel(uint32_t code)
{
    char hex[16];
    std::snprintf(hex, sizeof(hex), "0x%08X", static_cast<unsigned>(code));
    return sarName(code) + " (" + hex + ")";
}

std::string sarSentence(uint32_t code)
{
    const SarEntry* entry = findSar(code);
    return entry ? entry->sentence : "the driver returned a code outside the SKF standard";
}

} // namespace skftool
