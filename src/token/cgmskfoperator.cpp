// CGMSKFOperator: loading the driver library, looking the SKF names up, and the wrappers
// that forward each call to the driver unchanged.
#include "cgmskfoperator.h"

#include <cstdio>
#include <dlfcn.h>

namespace {

struct SlotInfo
{
    const char* name;
    bool lookedUp;
};

const SlotInfo kSlots[CGMSKFOperator::SlotCount] = {
#define OVRIN_SKF_SLOT_INFO(name, lookedUp) {#name, lookedUp},
    OVRIN_SKF_SLOTS(OVRIN_SKF_SLOT_INFO)
#undef OVRIN_SKF_SLOT_INFO
};

} // namespace

CGMSKFOperator::CGMSKFOperator()
{
    for (void*& slot : m_table) {
        slot = nullptr;
    }
}

const char* CGMSKFOperator::slotName(int slot)
{
    return (slot >= 0 && slot < SlotCount) ? kSlots[slot].name : nullptr;
}

bool CGMSKFOperator::slotIsLookedUp(int slot)
{
    return slot >= 0 && slot < SlotCount && kSlots[slot].lookedUp;
}

void* CGMSKFOperator::LoadLibrary(const char* path)
{
    void* handle = dlopen(path, RTLD_LAZY);
    if (handle == nullptr) {
        const char* message = dlerror();
        fprintf(stderr, "%s\n", message != nullptr ? message : "cannot load the SKF driver library");
    }
    dlerror(); // leave the loader's error state clear for the next caller
    return handle;
}

void* CGMSKFOperator::GetProcAddress(void* handle, const char* name)
{
    return dlsym(handle, name);
}

int CGMSKFOperator::UNLoadLibrary(void* handle)
{
    return dlclose(handle);
}

int CGMSKFOperator::LoadSKFAPI(const char* path)
{
    void* handle = LoadLibrary(path);
    if (handle == nullptr) {
        return -1;
    }
    m_library = handle;
    // A name the library does not export leaves its slot empty; that is not an error here,
    // it only shows when the wrapper is called.
    for (int slot = 0; slot < SlotCount; ++slot) {
        if (kSlots[slot].lookedUp) {
            m_table[slot] = GetProcAddress(handle, kSlots[slot].name);
        }
    }
    return 0;
}

int CGMSKFOperator::IsValid() const
{
    for (int slot = 0; slot < SlotCount; ++slot) {
        if (kSlots[slot].lookedUp && m_table[slot] == nullptr) {
            return 1;
        }
    }
    return 0;
}

ULONG CGMSKFOperator::SKF_WaitForDevEvent(LPSTR szDevName, ULONG* pulDevNameLen, ULONG* pulEvent)
{
    return forward<decltype(&::SKF_WaitForDevEvent)>(Slot_SKF_WaitForDevEvent, szDevName, pulDevNameLen, pulEvent);
}

ULONG CGMSKFOperator::SKF_CancelWaitForDevEvent()
{
    return forward<decltype(&::SKF_CancelWaitForDevEvent)>(Slot_SKF_CancelWaitForDevEvent);
}

ULONG CGMSKFOperator::SKF_EnumDev(BOOL bPresent, LPSTR szNameList, ULONG* pulSize)
{
    return forward<decltype(&::SKF_EnumDev)>(Slot_SKF_EnumDev, bPresent, szNameList, pulSize);
}

ULONG CGMSKFOperator::SKF_ConnectDev(LPSTR szName, DEVHANDLE* phDev)
{
    return forward<decltype(&::SKF_ConnectDev)>(Slot_SKF_ConnectDev, szName, phDev);
}

ULONG CGMSKFOperator::SKF_DisConnectDev(DEVHANDLE hDev)
{
    return forward<decltype(&::SKF_DisConnectDev)>(Slot_SKF_DisConnectDev, hDev);
}

ULONG CGMSKFOperator::SKF_GetDevState(LPSTR szDevName, ULONG* pulDevState)
{
    return forward<decltype(&::SKF_GetDevState)>(Slot_SKF_GetDevState, szDevName, pulDevState);
}

ULONG CGMSKFOperator::SKF_SetLabel(DEVHANDLE hDev, LPSTR szLabel)
{
    return forward<decltype(&::SKF_SetLabel)>(Slot_SKF_SetLabel, hDev, szLabel);
}

ULONG CGMSKFOperator::SKF_GetDevInfo(DEVHANDLE hDev, DEVINFO* pDevInfo)
{
    return forward<decltype(&::SKF_GetDevInfo)>(Slot_SKF_GetDevInfo, hDev, pDevInfo);
}

ULONG CGMSKFOperator::SKF_LockDev(DEVHANDLE hDev, ULONG ulTimeOut)
{
    return forward<decltype(&::SKF_LockDev)>(Slot_SKF_LockDev, hDev, ulTimeOut);
}

ULONG CGMSKFOperator::SKF_UnlockDev(DEVHANDLE hDev)
{
    return forward<decltype(&::SKF_UnlockDev)>(Slot_SKF_UnlockDev, hDev);
}

ULONG CGMSKFOperator::SKF_Transmit(DEVHANDLE hDev, BYTE* pbCommand, ULONG ulCommandLen, BYTE* pbData, ULONG* pulDataLen)
{
    return forward<decltype(&::SKF_Transmit)>(Slot_SKF_Transmit, hDev, pbCommand, ulCommandLen, pbData, pulDataLen);
}

ULONG CGMSKFOperator::SKF_DevAuth(DEVHANDLE hDev, BYTE* pbAuthData, ULONG ulLen)
{
    return forward<decltype(&::SKF_DevAuth)>(Slot_SKF_DevAuth, hDev, pbAuthData, ulLen);
}

ULONG CGMSKFOperator::SKF_ChangeDevAuthKey(DEVHANDLE hDev, BYTE* pbKeyValue, ULONG ulKeyLen)
{
    return forward<decltype(&::SKF_ChangeDevAuthKey)>(Slot_SKF_ChangeDevAuthKey, hDev, pbKeyValue, ulKeyLen);
}

ULONG CGMSKFOperator::SKF_ChangePIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szOldPin, LPSTR szNewPin,
                                    ULONG* pulRetryCount)
{
    return forward<decltype(&::SKF_ChangePIN)>(Slot_SKF_ChangePIN, hApplication, ulPINType, szOldPin, szNewPin,
                                               pulRetryCount);
}

ULONG CGMSKFOperator::SKF_GetPINInfo(HAPPLICATION hApplication, ULONG ulPINType, ULONG* pulMaxRetryCount,
                                     ULONG* pulRemainRetryCount, BOOL* pbDefaultPin)
{
    return forward<decltype(&::SKF_GetPINInfo)>(Slot_SKF_GetPINInfo, hApplication, ulPINType, pulMaxRetryCount,
                                                pulRemainRetryCount, pbDefaultPin);
}

ULONG CGMSKFOperator::SKF_VerifyPIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szPIN, ULONG* pulRetryCount)
{
    return forward<decltype(&::SKF_VerifyPIN)>(Slot_SKF_VerifyPIN, hApplication, ulPINType, szPIN, pulRetryCount);
}

ULONG CGMSKFOperator::SKF_UnblockPIN(HAPPLICATION hApplication, LPSTR szAdminPIN, LPSTR szNewUserPIN,
                                     ULONG* pulRetryCount)
{
    return forward<decltype(&::SKF_UnblockPIN)>(Slot_SKF_UnblockPIN, hApplication, szAdminPIN, szNewUserPIN,
                                                pulRetryCount);
}

ULONG CGMSKFOperator::SKF_ClearSecureState(HAPPLICATION hApplication)
{
    return forward<decltype(&::SKF_ClearSecureState)>(Slot_SKF_ClearSecureState, hApplication);
}

ULONG CGMSKFOperator::SKF_CreateApplication(DEVHANDLE hDev, LPSTR szAppName, LPSTR szAdminPin,
                                            DWORD dwAdminPinRetryCount, LPSTR szUserPin, DWORD dwUserPinRetryCount,
                                            DWORD dwCreateFileRights, HAPPLICATION* phApplication)
{
    return forward<decltype(&::SKF_CreateApplication)>(Slot_SKF_CreateApplication, hDev, szAppName, szAdminPin,
                                                       dwAdminPinRetryCount, szUserPin, dwUserPinRetryCount,
                                                       dwCreateFileRights, phApplication);
}

ULONG CGMSKFOperator::SKF_EnumApplication(DEVHANDLE hDev, LPSTR szAppName, ULONG* pulSize)
{
    return forward<decltype(&::SKF_EnumApplication)>(Slot_SKF_EnumApplication, hDev, szAppName, pulSize);
}

ULONG CGMSKFOperator::SKF_DeleteApplication(DEVHANDLE hDev, LPSTR szAppName)
{
    return forward<decltype(&::SKF_DeleteApplication)>(Slot_SKF_DeleteApplication, hDev, szAppName);
}

ULONG CGMSKFOperator::SKF_OpenApplication(DEVHANDLE hDev, LPSTR szAppName, HAPPLICATION* phApplication)
{
    return forward<decltype(&::SKF_OpenApplication)>(Slot_SKF_OpenApplication, hDev, szAppName, phApplication);
}

ULONG CGMSKFOperator::SKF_CloseApplication(HAPPLICATION hApplication)
{
    return forward<decltype(&::SKF_CloseApplication)>(Slot_SKF_CloseApplication, hApplication);
}

ULONG CGMSKFOperator::SKF_CreateFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulFileSize, ULONG ulReadRights,
                                     ULONG ulWriteRights)
{
    return forward<decltype(&::SKF_CreateFile)>(Slot_SKF_CreateFile, hApplication, szFileName, ulFileSize, ulReadRights,
                                                ulWriteRights);
}

ULONG CGMSKFOperator::SKF_DeleteFile(HAPPLICATION hApplication, LPSTR szFileName)
{
    return forward<decltype(&::SKF_DeleteFile)>(Slot_SKF_DeleteFile, hApplication, szFileName);
}

ULONG CGMSKFOperator::SKF_EnumFiles(HAPPLICATION hApplication, LPSTR szFileList, ULONG* pulSize)
{
    return forward<decltype(&::SKF_EnumFiles)>(Slot_SKF_EnumFiles, hApplication, szFileList, pulSize);
}

ULONG CGMSKFOperator::SKF_GetFileInfo(HAPPLICATION hApplication, LPSTR szFileName, FILEATTRIBUTE* pFileInfo)
{
    return forward<decltype(&::SKF_GetFileInfo)>(Slot_SKF_GetFileInfo, hApplication, szFileName, pFileInfo);
}

ULONG CGMSKFOperator::SKF_ReadFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, ULONG ulSize,
                                   BYTE* pbOutData, ULONG* pulOutLen)
{
    return forward<decltype(&::SKF_ReadFile)>(Slot_SKF_ReadFile, hApplication, szFileName, ulOffset, ulSize, pbOutData,
                                              pulOutLen);
}

ULONG CGMSKFOperator::SKF_WriteFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, BYTE* pbData,
                                    ULONG ulSize)
{
    return forward<decltype(&::SKF_WriteFile)>(Slot_SKF_WriteFile, hApplication, szFileName, ulOffset, pbData, ulSize);
}

ULONG CGMSKFOperator::SKF_CreateContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER* phContainer)
{
    return forward<decltype(&::SKF_CreateContainer)>(Slot_SKF_CreateContainer, hApplication, szContainerName,
                                                     phContainer);
}

ULONG CGMSKFOperator::SKF_DeleteContainer(HAPPLICATION hApplication, LPSTR szContainerName)
{
    return forward<decltype(&::SKF_DeleteContainer)>(Slot_SKF_DeleteContainer, hApplication, szContainerName);
}

ULONG CGMSKFOperator::SKF_OpenContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER* phContainer)
{
    return forward<decltype(&::SKF_OpenContainer)>(Slot_SKF_OpenContainer, hApplication, szContainerName, phContainer);
}

ULONG CGMSKFOperator::SKF_CloseContainer(HCONTAINER hContainer)
{
    return forward<decltype(&::SKF_CloseContainer)>(Slot_SKF_CloseContainer, hContainer);
}

ULONG CGMSKFOperator::SKF_EnumContainer(HAPPLICATION hApplication, LPSTR szContainerName, ULONG* pulSize)
{
    return forward<decltype(&::SKF_EnumContainer)>(Slot_SKF_EnumContainer, hApplication, szContainerName, pulSize);
}

ULONG CGMSKFOperator::SKF_GetContainerType(HCONTAINER hContainer, ULONG* pulContainerType)
{
    return forward<decltype(&::SKF_GetContainerType)>(Slot_SKF_GetContainerType, hContainer, pulContainerType);
}

ULONG CGMSKFOperator::SKF_ExtGetContainerInfo(HCONTAINER hContainer, ContainerInfo* pInfo)
{
    return forward<decltype(&::SKF_ExtGetContainerInfo)>(Slot_SKF_ExtGetContainerInfo, hContainer, pInfo);
}

ULONG CGMSKFOperator::SKF_ImportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert, ULONG ulCertLen)
{
    return forward<decltype(&::SKF_ImportCertificate)>(Slot_SKF_ImportCertificate, hContainer, bSignFlag, pbCert,
                                                       ulCertLen);
}

ULONG CGMSKFOperator::SKF_ExportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert, ULONG* pulCertLen)
{
    return forward<decltype(&::SKF_ExportCertificate)>(Slot_SKF_ExportCertificate, hContainer, bSignFlag, pbCert,
                                                       pulCertLen);
}

ULONG CGMSKFOperator::SKF_GenRandom(DEVHANDLE hDev, BYTE* pbRandom, ULONG ulRandomLen)
{
    return forward<decltype(&::SKF_GenRandom)>(Slot_SKF_GenRandom, hDev, pbRandom, ulRandomLen);
}

ULONG CGMSKFOperator::SKF_GenECCKeyPair(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pBlob)
{
    return forward<decltype(&::SKF_GenECCKeyPair)>(Slot_SKF_GenECCKeyPair, hContainer, ulAlgId, pBlob);
}

ULONG CGMSKFOperator::SKF_ImportECCKeyPair(HCONTAINER hContainer, ENVELOPEDKEYBLOB* pEnvelopedKeyBlob)
{
    return forward<decltype(&::SKF_ImportECCKeyPair)>(Slot_SKF_ImportECCKeyPair, hContainer, pEnvelopedKeyBlob);
}

ULONG CGMSKFOperator::SKF_ECCSignData(HCONTAINER hContainer, BYTE* pbDigest, ULONG ulDigestLen,
                                      ECCSIGNATUREBLOB* pSignature)
{
    return forward<decltype(&::SKF_ECCSignData)>(Slot_SKF_ECCSignData, hContainer, pbDigest, ulDigestLen, pSignature);
}

ULONG CGMSKFOperator::SKF_ECCVerify(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbData, ULONG ulDataLen,
                                    ECCSIGNATUREBLOB* pSignature)
{
    return forward<decltype(&::SKF_ECCVerify)>(Slot_SKF_ECCVerify, hDev, pECCPubKeyBlob, pbData, ulDataLen, pSignature);
}

ULONG CGMSKFOperator::SKF_ECCExportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pPubKey,
                                              ECCCIPHERBLOB* pData, HANDLE* phSessionKey)
{
    return forward<decltype(&::SKF_ECCExportSessionKey)>(Slot_SKF_ECCExportSessionKey, hContainer, ulAlgId, pPubKey,
                                                         pData, phSessionKey);
}

ULONG CGMSKFOperator::SKF_ExtECCEncrypt(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbPlainText,
                                        ULONG ulPlainTextLen, ECCCIPHERBLOB* pCipherText)
{
    return forward<decltype(&::SKF_ExtECCEncrypt)>(Slot_SKF_ExtECCEncrypt, hDev, pECCPubKeyBlob, pbPlainText,
                                                   ulPlainTextLen, pCipherText);
}

ULONG CGMSKFOperator::SKF_ExtECCDecrypt(DEVHANDLE hDev, ECCPRIVATEKEYBLOB* pECCPriKeyBlob, ECCCIPHERBLOB* pCipherText,
                                        BYTE* pbPlainText, ULONG* pulPlainTextLen)
{
    return forward<decltype(&::SKF_ExtECCDecrypt)>(Slot_SKF_ExtECCDecrypt, hDev, pECCPriKeyBlob, pCipherText,
                                                   pbPlainText, pulPlainTextLen);
}

ULONG CGMSKFOperator::SKF_ExtECCSign(DEVHANDLE hDev, ECCPRIVATEKEYBLOB* pECCPriKeyBlob, BYTE* pbData, ULONG ulDataLen,
                                     ECCSIGNATUREBLOB* pSignature)
{
    return forward<decltype(&::SKF_ExtECCSign)>(Slot_SKF_ExtECCSign, hDev, pECCPriKeyBlob, pbData, ulDataLen,
                                                pSignature);
}

ULONG CGMSKFOperator::SKF_ExtECCVerify(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbData, ULONG ulDataLen,
                                       ECCSIGNATUREBLOB* pSignature)
{
    return forward<decltype(&::SKF_ExtECCVerify)>(Slot_SKF_ExtECCVerify, hDev, pECCPubKeyBlob, pbData, ulDataLen,
                                                  pSignature);
}

ULONG CGMSKFOperator::SKF_GenerateAgreementDataWithECC(HCONTAINER hContainer, ULONG ulAlgId,
                                                       ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen,
                                                       HANDLE* phAgreementHandle)
{
    return forward<decltype(&::SKF_GenerateAgreementDataWithECC)>(Slot_SKF_GenerateAgreementDataWithECC, hContainer,
                                                                  ulAlgId, pTempECCPubKeyBlob, pbID, ulIDLen,
                                                                  phAgreementHandle);
}

ULONG CGMSKFOperator::SKF_GenerateAgreementDataAndKeyWithECC(HANDLE hContainer, ULONG ulAlgId,
                                                             ECCPUBLICKEYBLOB* pSponsorECCPubKeyBlob,
                                                             ECCPUBLICKEYBLOB* pSponsorTempECCPubKeyBlob,
                                                             ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID,
                                                             ULONG ulIDLen, BYTE* pbSponsorID, ULONG ulSponsorIDLen,
                                                             HANDLE* phKeyHandle)
{
    return forward<decltype(&::SKF_GenerateAgreementDataAndKeyWithECC)>(
        Slot_SKF_GenerateAgreementDataAndKeyWithECC, hContainer, ulAlgId, pSponsorECCPubKeyBlob,
        pSponsorTempECCPubKeyBlob, pTempECCPubKeyBlob, pbID, ulIDLen, pbSponsorID, ulSponsorIDLen, phKeyHandle);
}

ULONG CGMSKFOperator::SKF_GenerateKeyWithECC(HANDLE hAgreementHandle, ECCPUBLICKEYBLOB* pECCPubKeyBlob,
                                             ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen,
                                             HANDLE* phKeyHandle)
{
    return forward<decltype(&::SKF_GenerateKeyWithECC)>(Slot_SKF_GenerateKeyWithECC, hAgreementHandle, pECCPubKeyBlob,
                                                        pTempECCPubKeyBlob, pbID, ulIDLen, phKeyHandle);
}

ULONG CGMSKFOperator::SKF_ExportPublicKey(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbBlob, ULONG* pulBlobLen)
{
    return forward<decltype(&::SKF_ExportPublicKey)>(Slot_SKF_ExportPublicKey, hContainer, bSignFlag, pbBlob,
                                                     pulBlobLen);
}

ULONG CGMSKFOperator::SKF_ImportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, BYTE* pbWrapedData, ULONG ulWrapedLen,
                                           HANDLE* phKey)
{
    return forward<decltype(&::SKF_ImportSessionKey)>(Slot_SKF_ImportSessionKey, hContainer, ulAlgId, pbWrapedData,
                                                      ulWrapedLen, phKey);
}

ULONG CGMSKFOperator::SKF_SetSymmKey(DEVHANDLE hDev, BYTE* pbKey, ULONG ulAlgID, HANDLE* phKey)
{
    return forward<decltype(&::SKF_SetSymmKey)>(Slot_SKF_SetSymmKey, hDev, pbKey, ulAlgID, phKey);
}

ULONG CGMSKFOperator::SKF_EncryptInit(HANDLE hKey, BLOCKCIPHERPARAM EncryptParam)
{
    return forward<decltype(&::SKF_EncryptInit)>(Slot_SKF_EncryptInit, hKey, EncryptParam);
}

ULONG CGMSKFOperator::SKF_Encrypt(HANDLE hKey, BYTE* pbData, ULONG ulDataLen, BYTE* pbEncryptedData,
                                  ULONG* pulEncryptedLen)
{
    return forward<decltype(&::SKF_Encrypt)>(Slot_SKF_Encrypt, hKey, pbData, ulDataLen, pbEncryptedData,
                                             pulEncryptedLen);
}

ULONG CGMSKFOperator::SKF_EncryptUpdate(HANDLE hKey, BYTE* pbData, ULONG ulDataLen, BYTE* pbEncryptedData,
                                        ULONG* pulEncryptedLen)
{
    return forward<decltype(&::SKF_EncryptUpdate)>(Slot_SKF_EncryptUpdate, hKey, pbData, ulDataLen, pbEncryptedData,
                                                   pulEncryptedLen);
}

ULONG CGMSKFOperator::SKF_EncryptFinal(HANDLE hKey, BYTE* pbEncryptedData, ULONG* pulEncryptedDataLen)
{
    return forward<decltype(&::SKF_EncryptFinal)>(Slot_SKF_EncryptFinal, hKey, pbEncryptedData, pulEncryptedDataLen);
}

ULONG CGMSKFOperator::SKF_DecryptInit(HANDLE hKey, BLOCKCIPHERPARAM DecryptParam)
{
    return forward<decltype(&::SKF_DecryptInit)>(Slot_SKF_DecryptInit, hKey, DecryptParam);
}

ULONG CGMSKFOperator::SKF_Decrypt(HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen, BYTE* pbData,
                                  ULONG* pulDataLen)
{
    return forward<decltype(&::SKF_Decrypt)>(Slot_SKF_Decrypt, hKey, pbEncryptedData, ulEncryptedLen, pbData,
                                             pulDataLen);
}

ULONG CGMSKFOperator::SKF_DecryptUpdate(HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen, BYTE* pbData,
                                        ULONG* pulDataLen)
{
    return forward<decltype(&::SKF_DecryptUpdate)>(Slot_SKF_DecryptUpdate, hKey, pbEncryptedData, ulEncryptedLen,
                                                   pbData, pulDataLen);
}

ULONG CGMSKFOperator::SKF_DecryptFinal(HANDLE hKey, BYTE* pbDecryptedData, ULONG* pulDecryptedDataLen)
{
    return forward<decltype(&::SKF_DecryptFinal)>(Slot_SKF_DecryptFinal, hKey, pbDecryptedData, pulDecryptedDataLen);
}

ULONG CGMSKFOperator::SKF_DigestInit(DEVHANDLE hDev, ULONG ulAlgID, ECCPUBLICKEYBLOB* pPubKey, BYTE* pbID,
                                     ULONG ulIDLen, HANDLE* phHash)
{
    return forward<decltype(&::SKF_DigestInit)>(Slot_SKF_DigestInit, hDev, ulAlgID, pPubKey, pbID, ulIDLen, phHash);
}

ULONG CGMSKFOperator::SKF_Digest(HANDLE hHash, BYTE* pbData, ULONG ulDataLen, BYTE* pbHashData, ULONG* pulHashLen)
{
    return forward<decltype(&::SKF_Digest)>(Slot_SKF_Digest, hHash, pbData, ulDataLen, pbHashData, pulHashLen);
}

ULONG CGMSKFOperator::SKF_DigestUpdate(HANDLE hHash, BYTE* pbData, ULONG ulDataLen)
{
    return forward<decltype(&::SKF_DigestUpdate)>(Slot_SKF_DigestUpdate, hHash, pbData, ulDataLen);
}

ULONG CGMSKFOperator::SKF_DigestFinal(HANDLE hHash, BYTE* pHashData, ULONG* pulHashLen)
{
    return forward<decltype(&::SKF_DigestFinal)>(Slot_SKF_DigestFinal, hHash, pHashData, pulHashLen);
}

ULONG CGMSKFOperator::SKF_MacInit(HANDLE hKey, BLOCKCIPHERPARAM* pMacParam, HANDLE* phMac)
{
    return forward<decltype(&::SKF_MacInit)>(Slot_SKF_MacInit, hKey, pMacParam, phMac);
}

ULONG CGMSKFOperator::SKF_Mac(HANDLE hMac, BYTE* pbData, ULONG ulDataLen, BYTE* pbMacData, ULONG* pulMacLen)
{
    return forward<decltype(&::SKF_Mac)>(Slot_SKF_Mac, hMac, pbData, ulDataLen, pbMacData, pulMacLen);
}

ULONG CGMSKFOperator::SKF_MacUpdate(HANDLE hMac, BYTE* pbData, ULONG ulDataLen)
{
    return forward<decltype(&::SKF_MacUpdate)>(Slot_SKF_MacUpdate, hMac, pbData, ulDataLen);
}

ULONG CGMSKFOperator::SKF_MacFinal(HANDLE hMac, BYTE* pbMacData, ULONG* pulMacDataLen)
{
    return forward<decltype(&::SKF_MacFinal)>(Slot_SKF_MacFinal, hMac, pbMacData, pulMacDataLen);
}

ULONG CGMSKFOperator::SKF_CloseHandle(HANDLE hHandle)
{
    return forward<decltype(&::SKF_CloseHandle)>(Slot_SKF_CloseHandle, hHandle);
}
