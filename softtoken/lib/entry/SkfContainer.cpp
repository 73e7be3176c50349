// C entry points: containers, key pairs, public keys and certificates.
#include "EntrySupport.h"

#include "codec/Blobs.h"

namespace codec = softskf::codec;
using namespace softskf::entry;

extern "C" {

ULONG SKF_CreateContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER* phContainer)
{
    return guarded([&] {
        const std::string name = inputString(szContainerName);
        requireOutput(phContainer);
        *phContainer = token().createContainer(hApplication, name);
        return SAR_OK;
    });
}

ULONG SKF_DeleteContainer(HAPPLICATION hApplication, LPSTR szContainerName)
{
    return guarded([&] {
        token().deleteContainer(hApplication, inputString(szContainerName));
        return SAR_OK;
    });
}

ULONG SKF_OpenContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER* phContainer)
{
    return guarded([&] {
        const std::string name = inputString(szContainerName);
        requireOutput(phContainer);
        *phContainer = token().openContainer(hApplication, name);
        return SAR_OK;
    });
}

ULONG SKF_CloseContainer(HCONTAINER hContainer)
{
    return guarded([&] {
        token().closeContainer(hContainer);
        return SAR_OK;
    });
}

ULONG SKF_EnumContainer(HAPPLICATION hApplication, LPSTR szContainerName, ULONG* pulSize)
{
    return guarded([&] {
        requireOutput(pulSize);
        const std::string list = codec::multiString(token().enumContainers(hApplication));
        return copyList(list, szContainerName, pulSize);
    });
}

ULONG SKF_GetContainerType(HCONTAINER hContainer, ULONG* pulContainerType)
{
    return guarded([&] {
        requireOutput(pulContainerType);
        *pulContainerType = token().containerType(hContainer);
        return SAR_OK;
    });
}

ULONG SKF_ExtGetContainerInfo(HCONTAINER hContainer, ContainerInfo* pInfo)
{
    return guarded([&] {
        requireOutput(pInfo);
        ContainerInfo info{};
        info.ContainerType = static_cast<BYTE>(token().containerType(hContainer));
        *pInfo = info;
        return SAR_OK;
    });
}

ULONG SKF_ImportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert, ULONG ulCertLen)
{
    return guarded([&] {
        requireOutput(pbCert);
        token().importCertificate(hContainer, bSignFlag != FALSE, pbCert, ulCertLen);
        return SAR_OK;
    });
}

ULONG SKF_ExportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert, ULONG* pulCertLen)
{
    return guarded([&] {
        requireOutput(pulCertLen);
        const auto der = token().exportCertificate(hContainer, bSignFlag != FALSE);
        return copyOut(der.data(), der.size(), pbCert, pulCertLen);
    });
}

ULONG SKF_GenRSAKeyPair(HCONTAINER hContainer, ULONG ulBitsLen, RSAPUBLICKEYBLOB* pBlob)
{
    return guarded([&] {
        requireOutput(pBlob);
        *pBlob = token().generateRsaKeyPair(hContainer, ulBitsLen);
        return SAR_OK;
    });
}

ULONG SKF_ImportRSAKeyPair(HCONTAINER hContainer, ULONG ulSymAlgId, BYTE* pbWrappedKey, ULONG ulWrappedKeyLen,
                           BYTE* pbEncryptedData, ULONG ulEncryptedDataLen)
{
    return guarded([&] {
        requireOutput(pbWrappedKey);
        requireOutput(pbEncryptedData);
        token().importRsaKeyPair(hContainer, ulSymAlgId, pbWrappedKey, ulWrappedKeyLen, pbEncryptedData,
                                 ulEncryptedDataLen);
        return SAR_OK;
    });
}

ULONG SKF_GenECCKeyPair(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pBlob)
{
    return guarded([&] {
        requireOutput(pBlob);
        *pBlob = token().generateEccKeyPair(hContainer, ulAlgId);
        return SAR_OK;
    });
}

ULONG SKF_ImportECCKeyPair(HCONTAINER hContainer, ENVELOPEDKEYBLOB* pEnvelopedKeyBlob)
{
    return guarded([&] {
        requireOutput(pEnvelopedKeyBlob);
        token().importEccKeyPair(hContainer, *pEnvelopedKeyBlob);
        return SAR_OK;
    });
}

ULONG SKF_ExportPublicKey(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbBlob, ULONG* pulBlobLen)
{
    return guarded([&] {
        requireOutput(pulBlobLen);
        const auto blob = token().exportPublicKey(hContainer, bSignFlag != FALSE);
        return copyOut(blob.data(), blob.size(), pbBlob, pulBlobLen);
    });
}

} // extern "C"
