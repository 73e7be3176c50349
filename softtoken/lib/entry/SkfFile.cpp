// C entry points: files.
#include "EntrySupport.h"

#include "codec/Blobs.h"

namespace codec = softskf::codec;
using namespace softskf::entry;

extern "C" {

ULONG SKF_CreateFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulFileSize, ULONG ulReadRights,
                     ULONG ulWriteRights)
{
    return guarded([&] {
        token().createFile(hApplication, inputString(szFileName), ulFileSize, ulReadRights, ulWriteRights);
        return SAR_OK;
    });
}

ULONG SKF_DeleteFile(HAPPLICATION hApplication, LPSTR szFileName)
{
    return guarded([&] {
        token().deleteFile(hApplication, inputString(szFileName));
        return SAR_OK;
    });
}

ULONG SKF_EnumFiles(HAPPLICATION hApplication, LPSTR szFileList, ULONG* pulSize)
{
    return guarded([&] {
        requireOutput(pulSize);
        const std::string list = codec::multiString(token().enumFiles(hApplication));
        return copyList(list, szFileList, pulSize);
    });
}

ULONG SKF_GetFileInfo(HAPPLICATION hApplication, LPSTR szFileName, FILEATTRIBUTE* pFileInfo)
{
    return guarded([&] {
        const std::string name = inputString(szFileName);
        requireOutput(pFileInfo);
        *pFileInfo = token().fileInfo(hApplication, name);
        return SAR_OK;
    });
}

ULONG SKF_ReadFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, ULONG ulSize, BYTE* pbOutData,
                   ULONG* pulOutLen)
{
    return guarded([&] {
        const std::string name = inputString(szFileName);
        requireOutput(pulOutLen);
        const auto data = token().readFile(hApplication, name, ulOffset, ulSize);
        return copyOut(data.data(), data.size(), pbOutData, pulOutLen);
    });
}

ULONG SKF_WriteFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, BYTE* pbData, ULONG ulSize)
{
    return guarded([&] {
        const std::string name = inputString(szFileName);
        if (ulSize > 0) {
            requireOutput(pbData);
        }
        token().writeFile(hApplication, name, ulOffset, pbData, ulSize);
        return SAR_OK;
    });
}

} // extern "C"
