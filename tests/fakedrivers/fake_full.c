/*
 * A fake SKF driver that exports every function of the interface. Each function answers a
 * code of its own (FAKE_CODE_BASE plus its place in the binding's table, or an extra code
 * for functions outside the table), so a test can tell that a wrapper reached the right
 * function. Built twice: once whole, once without SKF_Transmit.
 */
#include <skf/skfapi.h>

#include "fake_codes.h"

ULONG SKF_WaitForDevEvent(LPSTR szDevName, ULONG *pulDevNameLen, ULONG *pulEvent)
{
    return FAKE_CODE_BASE + 0u;
}

ULONG SKF_CancelWaitForDevEvent(void)
{
    return FAKE_CODE_BASE + 1u;
}

ULONG SKF_EnumDev(BOOL bPresent, LPSTR szNameList, ULONG *pulSize)
{
    return FAKE_CODE_BASE + 2u;
}

ULONG SKF_ConnectDev(LPSTR szName, DEVHANDLE *phDev)
{
    return FAKE_CODE_BASE + 3u;
}

ULONG SKF_DisConnectDev(DEVHANDLE hDev)
{
    return FAKE_CODE_BASE + 4u;
}

ULONG SKF_GetDevState(LPSTR szDevName, ULONG *pulDevState)
{
    return FAKE_CODE_BASE + 5u;
}

ULONG SKF_SetLabel(DEVHANDLE hDev, LPSTR szLabel)
{
    return FAKE_CODE_BASE + 6u;
}

ULONG SKF_GetDevInfo(DEVHANDLE hDev, DEVINFO *pDevInfo)
{
    return FAKE_CODE_BASE + 7u;
}

ULONG SKF_LockDev(DEVHANDLE hDev, ULONG ulTimeOut)
{
    return FAKE_CODE_BASE + 8u;
}

ULONG SKF_UnlockDev(DEVHANDLE hDev)
{
    return FAKE_CODE_BASE + 9u;
}

#ifndef FAKE_WITHOUT_TRANSMIT
ULONG SKF_Transmit(DEVHANDLE hDev, BYTE *pbCommand, ULONG ulCommandLen, BYTE *pbData, ULONG *pulDataLen)
{
    return FAKE_CODE_BASE + 10u;
}
#endif

ULONG SKF_ChangeDevAuthKey(DEVHANDLE hDev, BYTE *pbKeyValue, ULONG ulKeyLen)
{
    return FAKE_CODE_BASE + 12u;
}

ULONG SKF_DevAuth(DEVHANDLE hDev, BYTE *pbAuthData, ULONG ulLen)
{
    return FAKE_CODE_BASE + 11u;
}

ULONG SKF_ChangePIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szOldPin, LPSTR szNewPin, ULONG *pulRetryCount)
{
    return FAKE_CODE_BASE + 13u;
}

ULONG SKF_GetPINInfo(HAPPLICATION hApplication, ULONG ulPINType, ULONG *pulMaxRetryCount, ULONG *pulRemainRetryCount, BOOL *pbDefaultPin)
{
    return FAKE_CODE_BASE + 14u;
}

ULONG SKF_VerifyPIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szPIN, ULONG *pulRetryCount)
{
    return FAKE_CODE_BASE + 15u;
}

ULONG SKF_UnblockPIN(HAPPLICATION hApplication, LPSTR szAdminPIN, LPSTR szNewUserPIN, ULONG *pulRetryCount)
{
    return FAKE_CODE_BASE + 16u;
}

ULONG SKF_ClearSecureState(HAPPLICATION hApplication)
{
    return FAKE_CODE_BASE + 17u;
}

ULONG SKF_CreateApplication(DEVHANDLE hDev, LPSTR szAppName, LPSTR szAdminPin, DWORD dwAdminPinRetryCount, LPSTR szUserPin, DWORD dwUserPinRetryCount, DWORD dwCreateFileRights, HAPPLICATION *phApplication)
{
    return FAKE_CODE_BASE + 18u;
}

ULONG SKF_EnumApplication(DEVHANDLE hDev, LPSTR szAppName, ULONG *pulSize)
{
    return FAKE_CODE_BASE + 19u;
}

ULONG SKF_DeleteApplication(DEVHANDLE hDev, LPSTR szAppName)
{
    return FAKE_CODE_BASE + 20u;
}

ULONG SKF_OpenApplication(DEVHANDLE hDev, LPSTR szAppName, HAPPLICATION *phApplication)
{
    return FAKE_CODE_BASE + 21u;
}

ULONG SKF_CloseApplication(HAPPLICATION hApplication)
{
    return FAKE_CODE_BASE + 22u;
}

ULONG SKF_CreateFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulFileSize, ULONG ulReadRights, ULONG ulWriteRights)
{
    return FAKE_CODE_BASE + 23u;
}

ULONG SKF_DeleteFile(HAPPLICATION hApplication, LPSTR szFileName)
{
    return FAKE_CODE_BASE + 24u;
}

ULONG SKF_EnumFiles(HAPPLICATION hApplication, LPSTR szFileList, ULONG *pulSize)
{
    return FAKE_CODE_BASE + 25u;
}

ULONG SKF_GetFileInfo(HAPPLICATION hApplication, LPSTR szFileName, FILEATTRIBUTE *pFileInfo)
{
    return FAKE_CODE_BASE + 26u;
}

ULONG SKF_ReadFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, ULONG ulSize, BYTE *pbOutData, ULONG *pulOutLen)
{
    return FAKE_CODE_BASE + 27u;
}

ULONG SKF_WriteFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, BYTE *pbData, ULONG ulSize)
{
    return FAKE_CODE_BASE + 28u;
}

ULONG SKF_CreateContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER *phContainer)
{
    return FAKE_CODE_BASE + 29u;
}

ULONG SKF_DeleteContainer(HAPPLICATION hApplication, LPSTR szContainerName)
{
    return FAKE_CODE_BASE + 30u;
}

ULONG SKF_OpenContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER *phContainer)
{
    return FAKE_CODE_BASE + 31u;
}

ULONG SKF_CloseContainer(HCONTAINER hContainer)
{
    return FAKE_CODE_BASE + 32u;
}

ULONG SKF_EnumContainer(HAPPLICATION hApplication, LPSTR szContainerName, ULONG *pulSize)
{
    return FAKE_CODE_BASE + 33u;
}

ULONG SKF_GetContainerType(HCONTAINER hContainer, ULONG *pulContainerType)
{
    return FAKE_CODE_BASE + 34u;
}

ULONG SKF_ImportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE *pbCert, ULONG ulCertLen)
{
    return FAKE_CODE_BASE + 36u;
}

ULONG SKF_ExportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE *pbCert, ULONG *pulCertLen)
{
    return FAKE_CODE_BASE + 37u;
}

ULONG SKF_ExtGetContainerInfo(HCONTAINER hContainer, ContainerInfo *pInfo)
{
    return FAKE_CODE_BASE + 35u;
}

ULONG SKF_GenRandom(DEVHANDLE hDev, BYTE *pbRandom, ULONG ulRandomLen)
{
    return FAKE_CODE_BASE + 38u;
}

ULONG SKF_GenExtRSAKey(DEVHANDLE hDev, ULONG ulBitsLen, RSAPRIVATEKEYBLOB *pBlob)
{
    return FAKE_EXTRA_CODE_BASE + 0u;
}

ULONG SKF_GenRSAKeyPair(HCONTAINER hContainer, ULONG ulBitsLen, RSAPUBLICKEYBLOB *pBlob)
{
    return FAKE_EXTRA_CODE_BASE + 1u;
}

ULONG SKF_ImportRSAKeyPair(HCONTAINER hContainer, ULONG ulSymAlgId, BYTE *pbWrappedKey, ULONG ulWrappedKeyLen, BYTE *pbEncryptedData, ULONG ulEncryptedDataLen)
{
    return FAKE_EXTRA_CODE_BASE + 2u;
}

ULONG SKF_RSASignData(HCONTAINER hContainer, BYTE *pbData, ULONG ulDataLen, BYTE *pbSignature, ULONG *pulSignLen)
{
    return FAKE_CODE_BASE + 39u;
}

ULONG SKF_RSAVerify(DEVHANDLE hDev, RSAPUBLICKEYBLOB *pRSAPubKeyBlob, BYTE *pbData, ULONG ulDataLen, BYTE *pbSignature, ULONG ulSignLen)
{
    return FAKE_CODE_BASE + 40u;
}

ULONG SKF_RSAExportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, RSAPUBLICKEYBLOB *pPubKey, BYTE *pbData, ULONG *pulDataLen, HANDLE *phSessionKey)
{
    return FAKE_EXTRA_CODE_BASE + 3u;
}

ULONG SKF_ExtRSAPubKeyOperation(DEVHANDLE hDev, RSAPUBLICKEYBLOB *pRSAPubKeyBlob, BYTE *pbInput, ULONG ulInputLen, BYTE *pbOutput, ULONG *pulOutputLen)
{
    return FAKE_EXTRA_CODE_BASE + 4u;
}

ULONG SKF_ExtRSAPriKeyOperation(DEVHANDLE hDev, RSAPRIVATEKEYBLOB *pRSAPriKeyBlob, BYTE *pbInput, ULONG ulInputLen, BYTE *pbOutput, ULONG *pulOutputLen)
{
    return FAKE_EXTRA_CODE_BASE + 5u;
}

ULONG SKF_GenECCKeyPair(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB *pBlob)
{
    return FAKE_CODE_BASE + 41u;
}

ULONG SKF_ImportECCKeyPair(HCONTAINER hContainer, ENVELOPEDKEYBLOB *pEnvelopedKeyBlob)
{
    return FAKE_CODE_BASE + 42u;
}

ULONG SKF_ECCSignData(HCONTAINER hContainer, BYTE *pbDigest, ULONG ulDigestLen, ECCSIGNATUREBLOB *pSignature)
{
    return FAKE_CODE_BASE + 43u;
}

ULONG SKF_ECCVerify(DEVHANDLE hDev, ECCPUBLICKEYBLOB *pECCPubKeyBlob, BYTE *pbData, ULONG ulDataLen, ECCSIGNATUREBLOB *pSignature)
{
    return FAKE_CODE_BASE + 44u;
}

ULONG SKF_ECCExportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB *pPubKey, ECCCIPHERBLOB *pData, HANDLE *phSessionKey)
{
    return FAKE_CODE_BASE + 45u;
}

ULONG SKF_ExtECCEncrypt(DEVHANDLE hDev, ECCPUBLICKEYBLOB *pECCPubKeyBlob, BYTE *pbPlainText, ULONG ulPlainTextLen, ECCCIPHERBLOB *pCipherText)
{
    return FAKE_CODE_BASE + 46u;
}

ULONG SKF_ExtECCDecrypt(DEVHANDLE hDev, ECCPRIVATEKEYBLOB *pECCPriKeyBlob, ECCCIPHERBLOB *pCipherText, BYTE *pbPlainText, ULONG *pulPlainTextLen)
{
    return FAKE_CODE_BASE + 47u;
}

ULONG SKF_ExtECCSign(DEVHANDLE hDev, ECCPRIVATEKEYBLOB *pECCPriKeyBlob, BYTE *pbData, ULONG ulDataLen, ECCSIGNATUREBLOB *pSignature)
{
    return FAKE_CODE_BASE + 48u;
}

ULONG SKF_ExtECCVerify(DEVHANDLE hDev, ECCPUBLICKEYBLOB *pECCPubKeyBlob, BYTE *pbData, ULONG ulDataLen, ECCSIGNATUREBLOB *pSignature)
{
    return FAKE_CODE_BASE + 49u;
}

ULONG SKF_GenerateAgreementDataWithECC(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB *pTempECCPubKeyBlob, BYTE *pbID, ULONG ulIDLen, HANDLE *phAgreementHandle)
{
    return FAKE_CODE_BASE + 50u;
}

ULONG SKF_GenerateAgreementDataAndKeyWithECC(HANDLE hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB *pSponsorECCPubKeyBlob, ECCPUBLICKEYBLOB *pSponsorTempECCPubKeyBlob, ECCPUBLICKEYBLOB *pTempECCPubKeyBlob, BYTE *pbID, ULONG ulIDLen, BYTE *pbSponsorID, ULONG ulSponsorIDLen, HANDLE *phKeyHandle)
{
    return FAKE_CODE_BASE + 51u;
}

ULONG SKF_GenerateKeyWithECC(HANDLE hAgreementHandle, ECCPUBLICKEYBLOB *pECCPubKeyBlob, ECCPUBLICKEYBLOB *pTempECCPubKeyBlob, BYTE *pbID, ULONG ulIDLen, HANDLE *phKeyHandle)
{
    return FAKE_CODE_BASE + 52u;
}

ULONG SKF_ExportPublicKey(HCONTAINER hContainer, BOOL bSignFlag, BYTE *pbBlob, ULONG *pulBlobLen)
{
    return FAKE_CODE_BASE + 53u;
}

ULONG SKF_ImportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, BYTE *pbWrapedData, ULONG ulWrapedLen, HANDLE *phKey)
{
    return FAKE_CODE_BASE + 54u;
}

ULONG SKF_SetSymmKey(DEVHANDLE hDev, BYTE *pbKey, ULONG ulAlgID, HANDLE *phKey)
{
    return FAKE_CODE_BASE + 55u;
}

ULONG SKF_EncryptInit(HANDLE hKey, BLOCKCIPHERPARAM EncryptParam)
{
    /* The record arrives by value: check that all 44 bytes made it across. */
    if (EncryptParam.IVLen != 16 || EncryptParam.PaddingType != 1 || EncryptParam.FeedBitLen != 8 || EncryptParam.IV[0] != 0xA5 ||
        EncryptParam.IV[31] != 0x5A) {
        return SAR_FAIL;
    }
    return FAKE_CODE_BASE + 56u;
}

ULONG SKF_Encrypt(HANDLE hKey, BYTE *pbData, ULONG ulDataLen, BYTE *pbEncryptedData, ULONG *pulEncryptedLen)
{
    return FAKE_CODE_BASE + 57u;
}

ULONG SKF_EncryptUpdate(HANDLE hKey, BYTE *pbData, ULONG ulDataLen, BYTE *pbEncryptedData, ULONG *pulEncryptedLen)
{
    return FAKE_CODE_BASE + 58u;
}

ULONG SKF_EncryptFinal(HANDLE hKey, BYTE *pbEncryptedData, ULONG *pulEncryptedDataLen)
{
    return FAKE_CODE_BASE + 59u;
}

ULONG SKF_DecryptInit(HANDLE hKey, BLOCKCIPHERPARAM DecryptParam)
{
    /* The record arrives by value: check that all 44 bytes made it across. */
    if (DecryptParam.IVLen != 16 || DecryptParam.PaddingType != 1 || DecryptParam.FeedBitLen != 8 || DecryptParam.IV[0] != 0xA5 ||
        DecryptParam.IV[31] != 0x5A) {
        return SAR_FAIL;
    }
    return FAKE_CODE_BASE + 60u;
}

ULONG SKF_Decrypt(HANDLE hKey, BYTE *pbEncryptedData, ULONG ulEncryptedLen, BYTE *pbData, ULONG *pulDataLen)
{
    return FAKE_CODE_BASE + 61u;
}

ULONG SKF_DecryptUpdate(HANDLE hKey, BYTE *pbEncryptedData, ULONG ulEncryptedLen, BYTE *pbData, ULONG *pulDataLen)
{
    return FAKE_CODE_BASE + 62u;
}

ULONG SKF_DecryptFinal(HANDLE hKey, BYTE *pbDecryptedData, ULONG *pulDecryptedDataLen)
{
    return FAKE_CODE_BASE + 63u;
}

ULONG SKF_DigestInit(DEVHANDLE hDev, ULONG ulAlgID, ECCPUBLICKEYBLOB *pPubKey, BYTE *pbID, ULONG ulIDLen, HANDLE *phHash)
{
    return FAKE_CODE_BASE + 64u;
}

ULONG SKF_Digest(HANDLE hHash, BYTE *pbData, ULONG ulDataLen, BYTE *pbHashData, ULONG *pulHashLen)
{
    return FAKE_CODE_BASE + 65u;
}

ULONG SKF_DigestUpdate(HANDLE hHash, BYTE *pbData, ULONG ulDataLen)
{
    return FAKE_CODE_BASE + 66u;
}

ULONG SKF_DigestFinal(HANDLE hHash, BYTE *pHashData, ULONG *pulHashLen)
{
    return FAKE_CODE_BASE + 67u;
}

ULONG SKF_MacInit(HANDLE hKey, BLOCKCIPHERPARAM *pMacParam, HANDLE *phMac)
{
    return FAKE_CODE_BASE + 68u;
}

ULONG SKF_Mac(HANDLE hMac, BYTE *pbData, ULONG ulDataLen, BYTE *pbMacData, ULONG *pulMacLen)
{
    return FAKE_CODE_BASE + 69u;
}

ULONG SKF_MacUpdate(HANDLE hMac, BYTE *pbData, ULONG ulDataLen)
{
    return FAKE_CODE_BASE + 70u;
}

ULONG SKF_MacFinal(HANDLE hMac, BYTE *pbMacData, ULONG *pulMacDataLen)
{
    return FAKE_CODE_BASE + 71u;
}

ULONG SKF_CloseHandle(HANDLE hHandle)
{
    return FAKE_CODE_BASE + 72u;
}

