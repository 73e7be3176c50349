/*
 * The SKF smart-token interface (GM/T 0016): scalar types, packed records, result
 * codes, constants and the function prototypes. Plain C, shared by the manager's
 * binding and by the soft token, so both agree on one binary layout.
 */
#ifndef OVRIN_SKF_SKFAPI_H
#define OVRIN_SKF_SKFAPI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Scalars as 64-bit Linux drivers use them: every count and code is 32 bits wide. */
typedef int8_t INT8;
typedef int16_t INT16;
typedef int32_t INT32;
typedef uint8_t UINT8;
typedef uint16_t UINT16;
typedef uint32_t UINT32;
typedef int32_t BOOL;
typedef uint8_t BYTE;
typedef uint8_t CHAR;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t UINT;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint32_t FLAGS;
typedef char* LPSTR;
typedef void* HANDLE;
typedef HANDLE DEVHANDLE;
typedef HANDLE HAPPLICATION;
typedef HANDLE HCONTAINER;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define MAX_RSA_MODULUS_LEN 256
#define MAX_RSA_EXPONENT_LEN 4
#define ECC_MAX_XCOORDINATE_BITS_LEN 512
#define ECC_MAX_YCOORDINATE_BITS_LEN 512
#define ECC_MAX_MODULUS_BITS_LEN 512
#define MAX_IV_LEN 32
#define MAX_FILE_NAME_SIZE 32
#define MAX_FILE_CONTAINER_NAME_SIZE 64

#pragma pack(push, 1)

typedef struct Struct_Version
{
    BYTE major;
    BYTE minor;
} VERSION;

typedef struct Struct_DEVINFO
{
    VERSION Version;
    CHAR Manufacturer[64];
    CHAR Issuer[64];
    CHAR Label[32];
    CHAR SerialNumber[32];
    VERSION HWVersion;
    VERSION FirmwareVersion;
    ULONG AlgSymCap;
    ULONG AlgAsymCap;
    ULONG AlgHashCap;
    ULONG DevAuthAlgId;
    ULONG TotalSpace;
    ULONG FreeSpace;
    ULONG MaxECCBufferSize;
    ULONG MaxBufferSize;
    BYTE Reserved[64];
} DEVINFO, *PDEVINFO;

typedef struct Struct_RSAPUBLICKEYBLOB
{
    ULONG AlgID;
    ULONG BitLen;
    BYTE Modulus[MAX_RSA_MODULUS_LEN];
    BYTE PublicExponent[MAX_RSA_EXPONENT_LEN];
} RSAPUBLICKEYBLOB, *PRSAPUBLICKEYBLOB;

typedef struct Struct_RSAPRIVATEKEYBLOB
{
    ULONG AlgID;
    ULONG BitLen;
    BYTE Modulus[MAX_RSA_MODULUS_LEN];
    BYTE PublicExponent[MAX_RSA_EXPONENT_LEN];
    BYTE PrivateExponent[MAX_RSA_MODULUS_LEN];
    BYTE Prime1[MAX_RSA_MODULUS_LEN / 2];
    BYTE Prime2[MAX_RSA_MODULUS_LEN / 2];
    BYTE Prime1Exponent[MAX_RSA_MODULUS_LEN / 2];
    BYTE Prime2Exponent[MAX_RSA_MODULUS_LEN / 2];
    BYTE Coefficient[MAX_RSA_MODULUS_LEN / 2];
} RSAPRIVATEKEYBLOB, *PRSAPRIVATEKEYBLOB;

typedef struct Struct_ECCPUBLICKEYBLOB
{
    ULONG BitLen;
    BYTE XCoordinate[ECC_MAX_XCOORDINATE_BITS_LEN / 8];
    BYTE YCoordinate[ECC_MAX_YCOORDINATE_BITS_LEN / 8];
} ECCPUBLICKEYBLOB, *PECCPUBLICKEYBLOB;

typedef struct Struct_ECCPRIVATEKEYBLOB
{
    ULONG BitLen;
    BYTE PrivateKey[ECC_MAX_MODULUS_BITS_LEN / 8];
} ECCPRIVATEKEYBLOB, *PECCPRIVATEKEYBLOB;

/* Cipher is declared with one byte; a real blob carries CipherLen bytes there. */
typedef struct Struct_ECCCIPHERBLOB
{
    BYTE XCoordinate[ECC_MAX_XCOORDINATE_BITS_LEN / 8];
    BYTE YCoordinate[ECC_MAX_XCOORDINATE_BITS_LEN / 8];
    BYTE HASH[32];
    ULONG CipherLen;
    BYTE Cipher[1];
} ECCCIPHERBLOB, *PECCCIPHERBLOB;

typedef struct Struct_ECCSIGNATUREBLOB
{
    BYTE r[ECC_MAX_XCOORDINATE_BITS_LEN / 8];
    BYTE s[ECC_MAX_XCOORDINATE_BITS_LEN / 8];
} ECCSIGNATUREBLOB, *PECCSIGNATUREBLOB;

typedef struct Struct_BLOCKCIPHERPARAM
{
    BYTE IV[MAX_IV_LEN];
    ULONG IVLen;
    ULONG PaddingType;
    ULONG FeedBitLen;
} BLOCKCIPHERPARAM, *PBLOCKCIPHERPARAM;

typedef struct SKF_ENVELOPEDKEYBLOB
{
    ULONG Version;
    ULONG ulSymmAlgID;
    ULONG ulBits;
    BYTE cbEncryptedPriKey[64];
    ECCPUBLICKEYBLOB PubKey;
    ECCCIPHERBLOB ECCCipherBlob;
} ENVELOPEDKEYBLOB, *PENVELOPEDKEYBLOB;

typedef struct Struct_FILEATTRIBUTE
{
    CHAR FileName[32];
    ULONG FileSize;
    ULONG ReadRights;
    ULONG WriteRights;
} FILEATTRIBUTE, *PFILEATTRIBUTE;

/* Vendor record: byte 0 carries the container type, the rest is unused. */
typedef struct Struct_ContainerInfo
{
    BYTE ContainerType;
    BYTE Reserved[15];
} ContainerInfo, *PContainerInfo;

#pragma pack(pop)

/* Result codes. */
#define SAR_OK 0x00000000u
#define SAR_FAIL 0x0A000001u
#define SAR_UNKNOWNERR 0x0A000002u
#define SAR_NOTSUPPORTYETERR 0x0A000003u
#define SAR_FILEERR 0x0A000004u
#define SAR_INVALIDHANDLEERR 0x0A000005u
#define SAR_INVALIDPARAMERR 0x0A000006u
#define SAR_READFILEERR 0x0A000007u
#define SAR_WRITEFILEERR 0x0A000008u
#define SAR_NAMELENERR 0x0A000009u
#define SAR_KEYUSAGEERR 0x0A00000Au
#define SAR_MODULUSLENERR 0x0A00000Bu
#define SAR_NOTINITIALIZEERR 0x0A00000Cu
#define SAR_OBJERR 0x0A00000Du
#define SAR_MEMORYERR 0x0A00000Eu
#define SAR_TIMEOUTERR 0x0A00000Fu
#define SAR_INDATALENERR 0x0A000010u
#define SAR_INDATAERR 0x0A000011u
#define SAR_GENRANDERR 0x0A000012u
#define SAR_HASHOBJERR 0x0A000013u
#define SAR_HASHERR 0x0A000014u
#define SAR_GENRSAKEYERR 0x0A000015u
#define SAR_RSAMODULUSLENERR 0x0A000016u
#define SAR_CSPIMPRTPUBKEYERR 0x0A000017u
#define SAR_RSAENCERR 0x0A000018u
#define SAR_RSADECERR 0x0A000019u
#define SAR_HASHNOTEQUALERR 0x0A00001Au
#define SAR_KEYNOTFOUNTERR 0x0A00001Bu
#define SAR_CERTNOTFOUNTERR 0x0A00001Cu
#define SAR_NOTEXPORTERR 0x0A00001Du
#define SAR_DECRYPTPADERR 0x0A00001Eu
#define SAR_MACLENERR 0x0A00001Fu
#define SAR_BUFFER_TOO_SMALL 0x0A000020u
#define SAR_KEYINFOTYPEERR 0x0A000021u
#define SAR_NOT_EVENTERR 0x0A000022u
#define SAR_DEVICE_REMOVED 0x0A000023u
#define SAR_PIN_INCORRECT 0x0A000024u
#define SAR_PIN_LOCKED 0x0A000025u
#define SAR_PIN_INVALID 0x0A000026u
#define SAR_PIN_LEN_RANGE 0x0A000027u
#define SAR_USER_ALREADY_LOGGED_IN 0x0A000028u
#define SAR_USER_PIN_NOT_INITIALIZED 0x0A000029u
#define SAR_USER_TYPE_INVALID 0x0A00002Au
#define SAR_APPLICATION_NAME_INVALID 0x0A00002Bu
#define SAR_APPLICATION_EXISTS 0x0A00002Cu
#define SAR_USER_NOT_LOGGED_IN 0x0A00002Du
#define SAR_APPLICATION_NOT_EXISTS 0x0A00002Eu
#define SAR_FILE_ALREADY_EXIST 0x0A00002Fu
#define SAR_NO_ROOM 0x0A000030u
#define SAR_FILE_NOT_EXIST 0x0A000031u
#define SAR_REACH_MAX_CONTAINER_COUNT 0x0A000032u

/* Device events and states. */
#define DEV_EVENT_INSERTED 1u
#define DEV_EVENT_REMOVED 2u
#define DEV_ABSENT_STATE 0u
#define DEV_PRESENT_STATE 1u
#define DEV_UNKNOW_STATE 2u

/* PIN types and container types. */
#define ADMIN_TYPE 0u
#define USER_TYPE 1u
#define CONTAINER_TYPE_EMPTY 0u
#define CONTAINER_TYPE_RSA 1u
#define CONTAINER_TYPE_ECC 2u

/* Access rights. */
#define SECURE_NEVER_ACCOUNT 0x00000000u
#define SECURE_ADM_ACCOUNT 0x00000001u
#define SECURE_USER_ACCOUNT 0x00000010u
#define SECURE_ANYONE_ACCOUNT 0x000000FFu

/* Algorithm identifiers. */
#define SGD_SM1_ECB 0x00000101u
#define SGD_SM1_CBC 0x00000102u
#define SGD_SM1_CFB 0x00000104u
#define SGD_SM1_OFB 0x00000108u
#define SGD_SM1_MAC 0x00000110u
#define SGD_SSF33_ECB 0x00000201u
#define SGD_SSF33_CBC 0x00000202u
#define SGD_SSF33_CFB 0x00000204u
#define SGD_SSF33_OFB 0x00000208u
#define SGD_SSF33_MAC 0x00000210u
#define SGD_SM4_ECB 0x00000401u
#define SGD_SM4_CBC 0x00000402u
#define SGD_SM4_CFB 0x00000404u
#define SGD_SM4_OFB 0x00000408u
#define SGD_SM4_MAC 0x00000410u
#define SGD_RSA 0x00010000u
#define SGD_SM2 0x00020100u
#define SGD_SM2_1 0x00020200u
#define SGD_SM2_2 0x00020400u
#define SGD_SM2_3 0x00020800u
#define SGD_SM3 0x00000001u
#define SGD_SHA1 0x00000002u
#define SGD_SHA256 0x00000004u

/* Device and event management. */
ULONG SKF_WaitForDevEvent(LPSTR szDevName, ULONG* pulDevNameLen, ULONG* pulEvent);
ULONG SKF_CancelWaitForDevEvent(void);
ULONG SKF_EnumDev(BOOL bPresent, LPSTR szNameList, ULONG* pulSize);
ULONG SKF_ConnectDev(LPSTR szName, DEVHANDLE* phDev);
ULONG SKF_DisConnectDev(DEVHANDLE hDev);
ULONG SKF_GetDevState(LPSTR szDevName, ULONG* pulDevState);
ULONG SKF_SetLabel(DEVHANDLE hDev, LPSTR szLabel);
ULONG SKF_GetDevInfo(DEVHANDLE hDev, DEVINFO* pDevInfo);
ULONG SKF_LockDev(DEVHANDLE hDev, ULONG ulTimeOut);
ULONG SKF_UnlockDev(DEVHANDLE hDev);
ULONG SKF_Transmit(DEVHANDLE hDev, BYTE* pbCommand, ULONG ulCommandLen, BYTE* pbData, ULONG* pulDataLen);

/* Access control. */
ULONG SKF_ChangeDevAuthKey(DEVHANDLE hDev, BYTE* pbKeyValue, ULONG ulKeyLen);
ULONG SKF_DevAuth(DEVHANDLE hDev, BYTE* pbAuthData, ULONG ulLen);
ULONG SKF_ChangePIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szOldPin, LPSTR szNewPin, ULONG* pulRetryCount);
ULONG SKF_GetPINInfo(HAPPLICATION hApplication, ULONG ulPINType, ULONG* pulMaxRetryCount, ULONG* pulRemainRetryCount,
                     BOOL* pbDefaultPin);
ULONG SKF_VerifyPIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szPIN, ULONG* pulRetryCount);
ULONG SKF_UnblockPIN(HAPPLICATION hApplication, LPSTR szAdminPIN, LPSTR szNewUserPIN, ULONG* pulRetryCount);
ULONG SKF_ClearSecureState(HAPPLICATION hApplication);

/* Applications. */
ULONG SKF_CreateApplication(DEVHANDLE hDev, LPSTR szAppName, LPSTR szAdminPin, DWORD dwAdminPinRetryCount,
                            LPSTR szUserPin, DWORD dwUserPinRetryCount, DWORD dwCreateFileRights,
                            HAPPLICATION* phApplication);
ULONG SKF_EnumApplication(DEVHANDLE hDev, LPSTR szAppName, ULONG* pulSize);
ULONG SKF_DeleteApplication(DEVHANDLE hDev, LPSTR szAppName);
ULONG SKF_OpenApplication(DEVHANDLE hDev, LPSTR szAppName, HAPPLICATION* phApplication);
ULONG SKF_CloseApplication(HAPPLICATION hApplication);

/* Files. */
ULONG SKF_CreateFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulFileSize, ULONG ulReadRights,
                     ULONG ulWriteRights);
ULONG SKF_DeleteFile(HAPPLICATION hApplication, LPSTR szFileName);
ULONG SKF_EnumFiles(HAPPLICATION hApplication, LPSTR szFileList, ULONG* pulSize);
ULONG SKF_GetFileInfo(HAPPLICATION hApplication, LPSTR szFileName, FILEATTRIBUTE* pFileInfo);
ULONG SKF_ReadFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, ULONG ulSize, BYTE* pbOutData,
                   ULONG* pulOutLen);
ULONG SKF_WriteFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, BYTE* pbData, ULONG ulSize);

/* Containers. */
ULONG SKF_CreateContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER* phContainer);
ULONG SKF_DeleteContainer(HAPPLICATION hApplication, LPSTR szContainerName);
ULONG SKF_OpenContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER* phContainer);
ULONG SKF_CloseContainer(HCONTAINER hContainer);
ULONG SKF_EnumContainer(HAPPLICATION hApplication, LPSTR szContainerName, ULONG* pulSize);
ULONG SKF_GetContainerType(HCONTAINER hContainer, ULONG* pulContainerType);
ULONG SKF_ImportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert, ULONG ulCertLen);
ULONG SKF_ExportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert, ULONG* pulCertLen);
ULONG SKF_ExtGetContainerInfo(HCONTAINER hContainer, ContainerInfo* pInfo);

/* Cryptographic services. */
ULONG SKF_GenRandom(DEVHANDLE hDev, BYTE* pbRandom, ULONG ulRandomLen);
ULONG SKF_GenExtRSAKey(DEVHANDLE hDev, ULONG ulBitsLen, RSAPRIVATEKEYBLOB* pBlob);
ULONG SKF_GenRSAKeyPair(HCONTAINER hContainer, ULONG ulBitsLen, RSAPUBLICKEYBLOB* pBlob);
ULONG SKF_ImportRSAKeyPair(HCONTAINER hContainer, ULONG ulSymAlgId, BYTE* pbWrappedKey, ULONG ulWrappedKeyLen,
                           BYTE* pbEncryptedData, ULONG ulEncryptedDataLen);
ULONG SKF_RSASignData(HCONTAINER hContainer, BYTE* pbData, ULONG ulDataLen, BYTE* pbSignature, ULONG* pulSignLen);
ULONG SKF_RSAVerify(DEVHANDLE hDev, RSAPUBLICKEYBLOB* pRSAPubKeyBlob, BYTE* pbData, ULONG ulDataLen, BYTE* pbSignature,
                    ULONG ulSignLen);
ULONG SKF_RSAExportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, RSAPUBLICKEYBLOB* pPubKey, BYTE* pbData,
                              ULONG* pulDataLen, HANDLE* phSessionKey);
ULONG SKF_ExtRSAPubKeyOperation(DEVHANDLE hDev, RSAPUBLICKEYBLOB* pRSAPubKeyBlob, BYTE* pbInput, ULONG ulInputLen,
                                BYTE* pbOutput, ULONG* pulOutputLen);
ULONG SKF_ExtRSAPriKeyOperation(DEVHANDLE hDev, RSAPRIVATEKEYBLOB* pRSAPriKeyBlob, BYTE* pbInput, ULONG ulInputLen,
                                BYTE* pbOutput, ULONG* pulOutputLen);
ULONG SKF_GenECCKeyPair(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pBlob);
ULONG SKF_ImportECCKeyPair(HCONTAINER hContainer, ENVELOPEDKEYBLOB* pEnvelopedKeyBlob);
ULONG SKF_ECCSignData(HCONTAINER hContainer, BYTE* pbDigest, ULONG ulDigestLen, ECCSIGNATUREBLOB* pSignature);
ULONG SKF_ECCVerify(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbData, ULONG ulDataLen,
                    ECCSIGNATUREBLOB* pSignature);
ULONG SKF_ECCExportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pPubKey, ECCCIPHERBLOB* pData,
                              HANDLE* phSessionKey);
ULONG SKF_ExtECCEncrypt(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbPlainText, ULONG ulPlainTextLen,
                        ECCCIPHERBLOB* pCipherText);
ULONG SKF_ExtECCDecrypt(DEVHANDLE hDev, ECCPRIVATEKEYBLOB* pECCPriKeyBlob, ECCCIPHERBLOB* pCipherText,
                        BYTE* pbPlainText, ULONG* pulPlainTextLen);
ULONG SKF_ExtECCSign(DEVHANDLE hDev, ECCPRIVATEKEYBLOB* pECCPriKeyBlob, BYTE* pbData, ULONG ulDataLen,
                     ECCSIGNATUREBLOB* pSignature);
ULONG SKF_ExtECCVerify(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbData, ULONG ulDataLen,
                       ECCSIGNATUREBLOB* pSignature);
ULONG SKF_GenerateAgreementDataWithECC(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pTempECCPubKeyBlob,
                                       BYTE* pbID, ULONG ulIDLen, HANDLE* phAgreementHandle);
ULONG SKF_GenerateAgreementDataAndKeyWithECC(HANDLE hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pSponsorECCPubKeyBlob,
                                             ECCPUBLICKEYBLOB* pSponsorTempECCPubKeyBlob,
                                             ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen,
                                             BYTE* pbSponsorID, ULONG ulSponsorIDLen, HANDLE* phKeyHandle);
ULONG SKF_GenerateKeyWithECC(HANDLE hAgreementHandle, ECCPUBLICKEYBLOB* pECCPubKeyBlob,
                             ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen, HANDLE* phKeyHandle);
ULONG SKF_ExportPublicKey(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbBlob, ULONG* pulBlobLen);
ULONG SKF_ImportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, BYTE* pbWrapedData, ULONG ulWrapedLen, HANDLE* phKey);
ULONG SKF_SetSymmKey(DEVHANDLE hDev, BYTE* pbKey, ULONG ulAlgID, HANDLE* phKey);
ULONG SKF_EncryptInit(HANDLE hKey, BLOCKCIPHERPARAM EncryptParam);
ULONG SKF_Encrypt(HANDLE hKey, BYTE* pbData, ULONG ulDataLen, BYTE* pbEncryptedData, ULONG* pulEncryptedLen);
ULONG SKF_EncryptUpdate(HANDLE hKey, BYTE* pbData, ULONG ulDataLen, BYTE* pbEncryptedData, ULONG* pulEncryptedLen);
ULONG SKF_EncryptFinal(HANDLE hKey, BYTE* pbEncryptedData, ULONG* pulEncryptedDataLen);
ULONG SKF_DecryptInit(HANDLE hKey, BLOCKCIPHERPARAM DecryptParam);
ULONG SKF_Decrypt(HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen, BYTE* pbData, ULONG* pulDataLen);
ULONG SKF_DecryptUpdate(HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen, BYTE* pbData, ULONG* pulDataLen);
ULONG SKF_DecryptFinal(HANDLE hKey, BYTE* pbDecryptedData, ULONG* pulDecryptedDataLen);
ULONG SKF_DigestInit(DEVHANDLE hDev, ULONG ulAlgID, ECCPUBLICKEYBLOB* pPubKey, BYTE* pbID, ULONG ulIDLen,
                     HANDLE* phHash);
ULONG SKF_Digest(HANDLE hHash, BYTE* pbData, ULONG ulDataLen, BYTE* pbHashData, ULONG* pulHashLen);
ULONG SKF_DigestUpdate(HANDLE hHash, BYTE* pbData, ULONG ulDataLen);
ULONG SKF_DigestFinal(HANDLE hHash, BYTE* pHashData, ULONG* pulHashLen);
ULONG SKF_MacInit(HANDLE hKey, BLOCKCIPHERPARAM* pMacParam, HANDLE* phMac);
ULONG SKF_Mac(HANDLE hMac, BYTE* pbData, ULONG ulDataLen, BYTE* pbMacData, ULONG* pulMacLen);
ULONG SKF_MacUpdate(HANDLE hMac, BYTE* pbData, ULONG ulDataLen);
ULONG SKF_MacFinal(HANDLE hMac, BYTE* pbMacData, ULONG* pulMacDataLen);
ULONG SKF_CloseHandle(HANDLE hHandle);

#ifdef __cplusplus
}
#endif

/* The layouts drivers rely on; a padded record would move every field after it. */
#ifdef __cplusplus
#include <cstddef>
static_assert(sizeof(VERSION) == 2, "VERSION is 2 bytes");
static_assert(sizeof(DEVINFO) == 294, "DEVINFO is 294 bytes");
static_assert(offsetof(DEVINFO, Label) == 130, "DEVINFO.Label at 130");
static_assert(offsetof(DEVINFO, SerialNumber) == 162, "DEVINFO.SerialNumber at 162");
static_assert(offsetof(DEVINFO, HWVersion) == 194, "DEVINFO.HWVersion at 194");
static_assert(offsetof(DEVINFO, AlgSymCap) == 198, "DEVINFO.AlgSymCap at 198");
static_assert(offsetof(DEVINFO, DevAuthAlgId) == 210, "DEVINFO.DevAuthAlgId at 210");
static_assert(offsetof(DEVINFO, TotalSpace) == 214, "DEVINFO.TotalSpace at 214");
static_assert(offsetof(DEVINFO, FreeSpace) == 218, "DEVINFO.FreeSpace at 218");
static_assert(offsetof(DEVINFO, Reserved) == 230, "DEVINFO.Reserved at 230");
static_assert(sizeof(RSAPUBLICKEYBLOB) == 268, "RSAPUBLICKEYBLOB is 268 bytes");
static_assert(sizeof(RSAPRIVATEKEYBLOB) == 1164, "RSAPRIVATEKEYBLOB is 1164 bytes");
static_assert(sizeof(ECCPUBLICKEYBLOB) == 132, "ECCPUBLICKEYBLOB is 132 bytes");
static_assert(sizeof(ECCPRIVATEKEYBLOB) == 68, "ECCPRIVATEKEYBLOB is 68 bytes");
static_assert(sizeof(ECCCIPHERBLOB) == 165, "ECCCIPHERBLOB is 165 bytes with one cipher byte");
static_assert(offsetof(ECCCIPHERBLOB, CipherLen) == 160, "ECCCIPHERBLOB.CipherLen at 160");
static_assert(sizeof(ECCSIGNATUREBLOB) == 128, "ECCSIGNATUREBLOB is 128 bytes");
static_assert(sizeof(BLOCKCIPHERPARAM) == 44, "BLOCKCIPHERPARAM is 44 bytes");
static_assert(sizeof(FILEATTRIBUTE) == 44, "FILEATTRIBUTE is 44 bytes");
static_assert(sizeof(ENVELOPEDKEYBLOB) == 4 + 4 + 4 + 64 + 132 + 165, "ENVELOPEDKEYBLOB layout");
static_assert(sizeof(ContainerInfo) == 16, "ContainerInfo is 16 bytes");
#endif

#endif /* OVRIN_SKF_SKFAPI_H */
