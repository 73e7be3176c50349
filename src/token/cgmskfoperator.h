// CGMSKFOperator: the binding to the token vendor's SKF driver library. Loads the library
// at run time, looks every SKF function up by name into a table of 73 slots, and offers one
// wrapper per function that forwards the call unchanged.
#ifndef OVRIN_TOKEN_CGMSKFOPERATOR_H
#define OVRIN_TOKEN_CGMSKFOPERATOR_H

#include <skf/skfapi.h>

// The 73 slots in table order. The second column says whether the loader looks the name
// up: SKF_LockDev and SKF_UnlockDev never are, so their wrappers always report a missing
// function.
#define OVRIN_SKF_SLOTS(X)                                                                                             \
    X(SKF_WaitForDevEvent, true)                                                                                       \
    X(SKF_CancelWaitForDevEvent, true)                                                                                 \
    X(SKF_EnumDev, true)                                                                                               \
    X(SKF_ConnectDev, true)                                                                                            \
    X(SKF_DisConnectDev, true)                                                                                         \
    X(SKF_GetDevState, true)                                                                                           \
    X(SKF_SetLabel, true)                                                                                              \
    X(SKF_GetDevInfo, true)                                                                                            \
    X(SKF_LockDev, false)                                                                                              \
    X(SKF_UnlockDev, false)                                                                                            \
    X(SKF_Transmit, true)                                                                                              \
    X(SKF_DevAuth, true)                                                                                               \
    X(SKF_ChangeDevAuthKey, true)                                                                                      \
    X(SKF_ChangePIN, true)                                                                                             \
    X(SKF_GetPINInfo, true)                                                                                            \
    X(SKF_VerifyPIN, true)                                                                                             \
    X(SKF_UnblockPIN, true)                                                                                            \
    X(SKF_ClearSecureState, true)                                                                                      \
    X(SKF_CreateApplication, true)                                                                                     \
    X(SKF_EnumApplication, true)                                                                                       \
    X(SKF_DeleteApplication, true)                                                                                     \
    X(SKF_OpenApplication, true)                                                                                       \
    X(SKF_CloseApplication, true)                                                                                      \
    X(SKF_CreateFile, true)                                                                                            \
    X(SKF_DeleteFile, true)                                                                                            \
    X(SKF_EnumFiles, true)                                                                                             \
    X(SKF_GetFileInfo, true)                                                                                           \
    X(SKF_ReadFile, true)                                                                                              \
    X(SKF_WriteFile, true)                                                                                             \
    X(SKF_CreateContainer, true)                                                                                       \
    X(SKF_DeleteContainer, true)                                                                                       \
    X(SKF_OpenContainer, true)                                                                                         \
    X(SKF_CloseContainer, true)                                                                                        \
    X(SKF_EnumContainer, true)                                                                                         \
    X(SKF_GetContainerType, true)                                                                                      \
    X(SKF_ExtGetContainerInfo, true)                                                                                   \
    X(SKF_ImportCertificate, true)                                                                                     \
    X(SKF_ExportCertificate, true)                                                                                     \
    X(SKF_GenRandom, true)                                                                                             \
    X(SKF_RSASignData, true)                                                                                           \
    X(SKF_RSAVerify, true)                                                                                             \
    X(SKF_GenECCKeyPair, true)                                                                                         \
    X(SKF_ImportECCKeyPair, true)                                                                                      \
    X(SKF_ECCSignData, true)                                                                                           \
    X(SKF_ECCVerify, true)                                                                                             \
    X(SKF_ECCExportSessionKey, true)                                                                                   \
    X(SKF_ExtECCEncrypt, true)                                                                                         \
    X(SKF_ExtECCDecrypt, true)                                                                                         \
    X(SKF_ExtECCSign, true)                                                                                            \
    X(SKF_ExtECCVerify, true)                                                                                          \
    X(SKF_GenerateAgreementDataWithECC, true)                                                                          \
    X(SKF_GenerateAgreementDataAndKeyWithECC, true)                                                                    \
    X(SKF_GenerateKeyWithECC, true)                                                                                    \
    X(SKF_ExportPublicKey, true)                                                                                       \
    X(SKF_ImportSessionKey, true)                                                                                      \
    X(SKF_SetSymmKey, true)                                                                                            \
    X(SKF_EncryptInit, true)                                                                                           \
    X(SKF_Encrypt, true)                                                                                               \
    X(SKF_EncryptUpdate, true)                                                                                         \
    X(SKF_EncryptFinal, true)                                                                                          \
    X(SKF_DecryptInit, true)                                                                                           \
    X(SKF_Decrypt, true)                                                                                               \
    X(SKF_DecryptUpdate, true)                                                                                         \
    X(SKF_DecryptFinal, true)                                                                                          \
    X(SKF_DigestInit, true)                                                                                            \
    X(SKF_Digest, true)                                                                                                \
    X(SKF_DigestUpdate, true)                                                                                          \
    X(SKF_DigestFinal, true)                                                                                           \
    X(SKF_MacInit, true)                                                                                               \
    X(SKF_Mac, true)                                                                                                   \
    X(SKF_MacUpdate, true)                                                                                             \
    X(SKF_MacFinal, true)                                                                                              \
    X(SKF_CloseHandle, true)

class CGMSKFOperator
{
public:
    enum Slot {
#define OVRIN_SKF_SLOT_ENUM(name, lookedUp) Slot_##name,
        OVRIN_SKF_SLOTS(OVRIN_SKF_SLOT_ENUM)
#undef OVRIN_SKF_SLOT_ENUM
            SlotCount
    };

    // The code a wrapper returns when its slot is empty; LoadSKFAPI's -1 has the same bits.
    static constexpr ULONG MissingFunction = 0xFFFFFFFFu;

    CGMSKFOperator();
    ~CGMSKFOperator() = default;
    CGMSKFOperator(const CGMSKFOperator&) = delete;
    CGMSKFOperator& operator=(const CGMSKFOperator&) = delete;

    void* LoadLibrary(const char* path);
    void* GetProcAddress(void* handle, const char* name);
    int UNLoadLibrary(void* handle);
    int LoadSKFAPI(const char* path);
    int IsValid() const;

    // Slot inspection for tests and diagnostics.
    static const char* slotName(int slot);
    static bool slotIsLookedUp(int slot);
    void* slot(int index) const
    {
        return (index >= 0 && index < SlotCount) ? m_table[index] : nullptr;
    }

    ULONG SKF_WaitForDevEvent(LPSTR szDevName, ULONG* pulDevNameLen, ULONG* pulEvent);
    ULONG SKF_CancelWaitForDevEvent();
    ULONG SKF_EnumDev(BOOL bPresent, LPSTR szNameList, ULONG* pulSize);
    ULONG SKF_ConnectDev(LPSTR szName, DEVHANDLE* phDev);
    ULONG SKF_DisConnectDev(DEVHANDLE hDev);
    ULONG SKF_GetDevState(LPSTR szDevName, ULONG* pulDevState);
    ULONG SKF_SetLabel(DEVHANDLE hDev, LPSTR szLabel);
    ULONG SKF_GetDevInfo(DEVHANDLE hDev, DEVINFO* pDevInfo);
    ULONG SKF_LockDev(DEVHANDLE hDev, ULONG ulTimeOut);
    ULONG SKF_UnlockDev(DEVHANDLE hDev);
    ULONG SKF_Transmit(DEVHANDLE hDev, BYTE* pbCommand, ULONG ulCommandLen, BYTE* pbData, ULONG* pulDataLen);
    ULONG SKF_DevAuth(DEVHANDLE hDev, BYTE* pbAuthData, ULONG ulLen);
    ULONG SKF_ChangeDevAuthKey(DEVHANDLE hDev, BYTE* pbKeyValue, ULONG ulKeyLen);
    ULONG SKF_ChangePIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szOldPin, LPSTR szNewPin,
                        ULONG* pulRetryCount);
    ULONG SKF_GetPINInfo(HAPPLICATION hApplication, ULONG ulPINType, ULONG* pulMaxRetryCount,
                         ULONG* pulRemainRetryCount, BOOL* pbDefaultPin);
    ULONG SKF_VerifyPIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szPIN, ULONG* pulRetryCount);
    ULONG SKF_UnblockPIN(HAPPLICATION hApplication, LPSTR szAdminPIN, LPSTR szNewUserPIN, ULONG* pulRetryCount);
    ULONG SKF_ClearSecureState(HAPPLICATION hApplication);
    ULONG SKF_CreateApplication(DEVHANDLE hDev, LPSTR szAppName, LPSTR szAdminPin, DWORD dwAdminPinRetryCount,
                                LPSTR szUserPin, DWORD dwUserPinRetryCount, DWORD dwCreateFileRights,
                                HAPPLICATION* phApplication);
    ULONG SKF_EnumApplication(DEVHANDLE hDev, LPSTR szAppName, ULONG* pulSize);
    ULONG SKF_DeleteApplication(DEVHANDLE hDev, LPSTR szAppName);
    ULONG SKF_OpenApplication(DEVHANDLE hDev, LPSTR szAppName, HAPPLICATION* phApplication);
    ULONG SKF_CloseApplication(HAPPLICATION hApplication);
    ULONG SKF_CreateFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulFileSize, ULONG ulReadRights,
                         ULONG ulWriteRights);
    ULONG SKF_DeleteFile(HAPPLICATION hApplication, LPSTR szFileName);
    ULONG SKF_EnumFiles(HAPPLICATION hApplication, LPSTR szFileList, ULONG* pulSize);
    ULONG SKF_GetFileInfo(HAPPLICATION hApplication, LPSTR szFileName, FILEATTRIBUTE* pFileInfo);
    ULONG SKF_ReadFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, ULONG ulSize, BYTE* pbOutData,
                       ULONG* pulOutLen);
    ULONG SKF_WriteFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, BYTE* pbData, ULONG ulSize);
    ULONG SKF_CreateContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER* phContainer);
    ULONG SKF_DeleteContainer(HAPPLICATION hApplication, LPSTR szContainerName);
    ULONG SKF_OpenContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER* phContainer);
    ULONG SKF_CloseContainer(HCONTAINER hContainer);
    ULONG SKF_EnumContainer(HAPPLICATION hApplication, LPSTR szContainerName, ULONG* pulSize);
    ULONG SKF_GetContainerType(HCONTAINER hContainer, ULONG* pulContainerType);
    ULONG SKF_ExtGetContainerInfo(HCONTAINER hContainer, ContainerInfo* pInfo);
    ULONG SKF_ImportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert, ULONG ulCertLen);
    ULONG SKF_ExportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert, ULONG* pulCertLen);
    ULONG SKF_GenRandom(DEVHANDLE hDev, BYTE* pbRandom, ULONG ulRandomLen);
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
    ULONG SKF_GenerateAgreementDataAndKeyWithECC(HANDLE hContainer, ULONG ulAlgId,
                                                 ECCPUBLICKEYBLOB* pSponsorECCPubKeyBlob,
                                                 ECCPUBLICKEYBLOB* pSponsorTempECCPubKeyBlob,
                                                 ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen,
                                                 BYTE* pbSponsorID, ULONG ulSponsorIDLen, HANDLE* phKeyHandle);
    ULONG SKF_GenerateKeyWithECC(HANDLE hAgreementHandle, ECCPUBLICKEYBLOB* pECCPubKeyBlob,
                                 ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen, HANDLE* phKeyHandle);
    ULONG SKF_ExportPublicKey(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbBlob, ULONG* pulBlobLen);
    ULONG SKF_ImportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, BYTE* pbWrapedData, ULONG ulWrapedLen,
                               HANDLE* phKey);
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

private:
    // Calls the function in a slot with the driver's own signature, or reports it missing.
    template <typename Function, typename... Args> ULONG forward(Slot slot, Args... args) const
    {
        void* function = m_table[slot];
        if (function == nullptr) {
            return MissingFunction;
        }
        return reinterpret_cast<Function>(function)(args...);
    }

    void* m_library = nullptr;
    void* m_table[SlotCount];
};

#endif // OVRIN_TOKEN_CGMSKFOPERATOR_H
