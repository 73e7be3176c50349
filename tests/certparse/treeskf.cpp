// A small SKF driver for the certificate tests: each application holds containers of its
// own, and certificate exports can be told to report lengths they did not write, as a
// faulty vendor driver might. Only the calls certParse and getCertName make exist.
#include "treeskf_control.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>

namespace {

struct Container
{
    std::string certificate[2]; // [0] encryption, [1] signature
};

struct State
{
    std::map<std::string, std::map<std::string, Container>> applications;
    ULONG queryLength = 0; // 0: the true length
    ULONG fillLength = 0;
    std::map<uintptr_t, std::pair<std::string, std::string>> handles; // application, container
    uintptr_t nextHandle = 0x100;
};

State g_state;

HANDLE newHandle(const std::string& application, const std::string& container)
{
    g_state.handles[g_state.nextHandle] = {application, container};
    return reinterpret_cast<HANDLE>(g_state.nextHandle++);
}

const std::pair<std::string, std::string>* lookUp(HANDLE handle)
{
    auto found = g_state.handles.find(reinterpret_cast<uintptr_t>(handle));
    return found == g_state.handles.end() ? nullptr : &found->second;
}

ULONG closeHandle(HANDLE handle)
{
    return g_state.handles.erase(reinterpret_cast<uintptr_t>(handle)) == 1 ? SAR_OK : SAR_INVALIDHANDLEERR;
}

ULONG fillList(const std::string& list, LPSTR out, ULONG* size)
{
    if (out != nullptr && *size < list.size()) {
        *size = static_cast<ULONG>(list.size());
        return SAR_BUFFER_TOO_SMALL;
    }
    if (out != nullptr) {
        std::memcpy(out, list.data(), list.size());
    }
    *size = static_cast<ULONG>(list.size());
    return SAR_OK;
}

} // namespace

extern "C" {

void TreeSkf_Reset(void)
{
    g_state = State{};
}

void TreeSkf_SetCertificate(const char* application, const char* container, BOOL sign, const BYTE* der, unsigned len)
{
    g_state.applications[application][container].certificate[sign ? 1 : 0]
        = len > 0 ? std::string(reinterpret_cast<const char*>(der), len) : std::string();
}

void TreeSkf_SetReportedLengths(ULONG queryLength, ULONG fillLength)
{
    g_state.queryLength = queryLength;
    g_state.fillLength = fillLength;
}

unsigned TreeSkf_OpenHandleCount(void)
{
    return static_cast<unsigned>(g_state.handles.size());
}

ULONG SKF_ConnectDev(LPSTR, DEVHANDLE* phDev)
{
    *phDev = newHandle("", "");
    return SAR_OK;
}

ULONG SKF_DisConnectDev(DEVHANDLE hDev)
{
    return closeHandle(hDev);
}

ULONG SKF_EnumApplication(DEVHANDLE, LPSTR szAppName, ULONG* pulSize)
{
    std::string list;
    for (const auto& application : g_state.applications) {
        list += application.first + '\0';
    }
    return fillList(list + '\0', szAppName, pulSize);
}

ULONG SKF_OpenApplication(DEVHANDLE, LPSTR szAppName, HAPPLICATION* phApplication)
{
    if (g_state.applications.count(szAppName) == 0) {
        return SAR_APPLICATION_NOT_EXISTS;
    }
    *phApplication = newHandle(szAppName, "");
    return SAR_OK;
}

ULONG SKF_CloseApplication(HAPPLICATION hApplication)
{
    return closeHandle(hApplication);
}

ULONG SKF_EnumContainer(HAPPLICATION hApplication, LPSTR szContainerName, ULONG* pulSize)
{
    const auto* opened = lookUp(hApplication);
    if (opened == nullptr) {
        return SAR_INVALIDHANDLEERR;
    }
    std::string list;
    for (const auto& container : g_state.applications[opened->first]) {
        list += container.first + '\0';
    }
    return fillList(list + '\0', szContainerName, pulSize);
}

ULONG SKF_OpenContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER* phContainer)
{
    const auto* opened = lookUp(hApplication);
    if (opened == nullptr) {
        return SAR_INVALIDHANDLEERR;
    }
    *phContainer = newHandle(opened->first, szContainerName);
    return SAR_OK;
}

ULONG SKF_CloseContainer(HCONTAINER hContainer)
{
    return closeHandle(hContainer);
}

// Writes no more than the caller's buffer holds, but reports whatever length it was told to.
ULONG SKF_ExportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert, ULONG* pulCertLen)
{
    const auto* opened = lookUp(hContainer);
    if (opened == nullptr) {
        return SAR_INVALIDHANDLEERR;
    }
    const std::string& der = g_state.applications[opened->first][opened->second].certificate[bSignFlag ? 1 : 0];
    if (der.empty()) {
        return SAR_CERTNOTFOUNTERR;
    }
    if (pbCert == nullptr) {
        *pulCertLen = g_state.queryLength != 0 ? g_state.queryLength : static_cast<ULONG>(der.size());
        return SAR_OK;
    }
    std::memcpy(pbCert, der.data(), std::min<std::size_t>(*pulCertLen, der.size()));
    *pulCertLen = g_state.fillLength != 0 ? g_state.fillLength : static_cast<ULONG>(der.size());
    return SAR_OK;
}

} // extern "C"
