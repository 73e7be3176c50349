// Loads an SKF driver by path and binds its functions by name, the way a client of a
// vendor's token does. The conformance suite talks to the token only through this.
#pragma once

#include "skf/skfapi.h"

#include <string>

namespace softskf::test {

#define SOFTSKF_DRIVER_FUNCTIONS(X)                                                                                    \
    X(SKF_WaitForDevEvent)                                                                                             \
    X(SKF_CancelWaitForDevEvent)                                                                                       \
    X(SKF_EnumDev)                                                                                                     \
    X(SKF_ConnectDev)                                                                                                  \
    X(SKF_DisConnectDev)                                                                                               \
    X(SKF_GetDevState)                                                                                                 \
    X(SKF_SetLabel)                                                                                                    \
    X(SKF_GetDevInfo)                                                                                                  \
    X(SKF_LockDev)                                                                                                     \
    X(SKF_UnlockDev)                                                                                                   \
    X(SKF_Transmit)                                                                                                    \
    X(SKF_ChangeDevAuthKey)                                                                                            \
    X(SKF_DevAuth)                                                                                                     \
    X(SKF_ChangePIN)                                                                                                   \
    X(SKF_GetPINInfo)                                                                                                  \
    X(SKF_VerifyPIN)                                                                                                   \
    X(SKF_UnblockPIN)                                                                                                  \
    X(SKF_ClearSecureState)                                                                                            \
    X(SKF_CreateApplication)                                                                                           \
    X(SKF_EnumApplication)                                                                                             \
    X(SKF_DeleteApplication)                                                                                           \
    X(SKF_OpenApplication)                                                                                             \
    X(SKF_CloseApplication)                                                                                            \
    X(SKF_CreateFile)                                                                                                  \
    X(SKF_DeleteFile)                                                                                                  \
    X(SKF_EnumFiles)                                                                                                   \
    X(SKF_GetFileInfo)                                                                                                 \
    X(SKF_ReadFile)                                                                                                    \
    X(SKF_WriteFile)                                                                                                   \
    X(SKF_CreateContainer)                                                                                             \
    X(SKF_DeleteContainer)                                                                                             \
    X(SKF_OpenContainer)                                                                                               \
    X(SKF_CloseContainer)                                                                                              \
    X(SKF_EnumContainer)                                                                                               \
    X(SKF_GetContainerType)                                                                                            \
    X(SKF_ImportCertificate)                                                                                           \
    X(SKF_ExportCertificate)                                                                                           \
    X(SKF_ExtGetContainerInfo)                                                                                         \
    X(SKF_GenRandom)                                                                                                   \
    X(SKF_GenExtRSAKey)                                                                                                \
    X(SKF_GenRSAKeyPair)                                                                                               \
    X(SKF_ImportRSAKeyPair)                                                                                            \
    X(SKF_RSASignData)                                                                                                 \
    X(SKF_RSAVerify)                                                                                                   \
    X(SKF_RSAExportSessionKey)                                                                                         \
    X(SKF_ExtRSAPubKeyOperation)                                                                                       \
    X(SKF_ExtRSAPriKeyOperation)                                                                                       \
    X(SKF_GenECCKeyPair)                                                                                               \
    X(SKF_ImportECCKeyPair)                                                                                            \
    X(SKF_ECCSignData)                                                                                                 \
    X(SKF_ECCVerify)                                                                                                   \
    X(SKF_ECCExportSessionKey)                                                                                         \
    X(SKF_ExtECCEncrypt)                                                                                               \
    X(SKF_ExtECCDecrypt)                                                                                               \
    X(SKF_ExtECCSign)                                                                                                  \
    X(SKF_ExtECCVerify)                                                                                                \
    X(SKF_GenerateAgreementDataWithECC)                                                                                \
    X(SKF_GenerateAgreementDataAndKeyWithECC)                                                                          \
    X(SKF_GenerateKeyWithECC)                                                                                          \
    X(SKF_ExportPublicKey)                                                                                             \
    X(SKF_ImportSessionKey)                                                                                            \
    X(SKF_SetSymmKey)                                                                                                  \
    X(SKF_EncryptInit)                                                                                                 \
    X(SKF_Encrypt)                                                                                                     \
    X(SKF_EncryptUpdate)                                                                                               \
    X(SKF_EncryptFinal)                                                                                                \
    X(SKF_DecryptInit)                                                                                                 \
    X(SKF_Decrypt)                                                                                                     \
    X(SKF_DecryptUpdate)                                                                                               \
    X(SKF_DecryptFinal)                                                                                                \
    X(SKF_DigestInit)                                                                                                  \
    X(SKF_Digest)                                                                                                      \
    X(SKF_DigestUpdate)                                                                                                \
    X(SKF_DigestFinal)                                                                                                 \
    X(SKF_MacInit)                                                                                                     \
    X(SKF_Mac)                                                                                                         \
    X(SKF_MacUpdate)                                                                                                   \
    X(SKF_MacFinal)                                                                                                    \
    X(SKF_CloseHandle)

struct SkfDriver
{
#define SOFTSKF_DECLARE_SLOT(name) decltype(&::name) name = nullptr;
    SOFTSKF_DRIVER_FUNCTIONS(SOFTSKF_DECLARE_SLOT)
#undef SOFTSKF_DECLARE_SLOT

    // Names the driver lacks, empty when it has them all.
    std::string missing;
};

// The driver under test: $SOFTSKF_TEST_DRIVER, else the built soft token. Loaded once per
// process and never unloaded. Throws with the loader's message when it cannot load.
const SkfDriver& driver();
std::string driverPath();

} // namespace softskf::test
