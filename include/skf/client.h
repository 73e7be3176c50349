// The small layer every client of an SKF driver reads lists, holds names and reports
// failures through: one error type carrying the SAR code and the function that gave it,
// name-list and two-call readers under one size cap, and writable copies for the LPSTR
// parameters that the standard's prototypes declare but no driver writes to.
#pragma once

#include "skf/skfapi.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

namespace skfclient {

// No list or exported value of a real token comes near this; a larger size is a driver lying.
constexpr ULONG kMaxReadSize = 64 * 1024;

// A driver function answered something other than SAR_OK.
class SarError : public std::runtime_error
{
public:
    SarError(ULONG sar, const char* function, const std::string& detail = std::string())
        : std::runtime_error(std::string(function) + (detail.empty() ? "" : ": " + detail))
        , m_sar(sar)
        , m_function(function)
        , m_detail(detail)
    {
    }
    ULONG sar() const noexcept { return m_sar; }
    const char* function() const noexcept { return m_function; }
    // What the caller found wrong with an answer of SAR_OK; empty for a driver's own failure.
    const std::string& detail() const noexcept { return m_detail; }

private:
    ULONG m_sar;
    const char* m_function;
    std::string m_detail;
};

inline void check(ULONG sar, const char* function, const std::string& detail = std::string())
{
    if (sar != SAR_OK) {
        throw SarError(sar, function, detail);
    }
}

inline void requireHandle(const void* handle, const char* function, const std::string& name)
{
    if (handle == nullptr) {
        throw SarError(SAR_FAIL, function, "no handle for " + name);
    }
}

// A copy of a name the driver takes as LPSTR, so a caller's const string is never handed over.
class WritableName
{
public:
    explicit WritableName(const std::string& text)
        : m_text(text)
    {
        m_text.push_back('\0');
    }
    LPSTR get() { return &m_text[0]; }

private:
    std::string m_text;
};

// Owners of the driver's device, application and container handles, through any table of
// driver functions named as the SKF functions are (ConnectDev, OpenApplication, ...). Each
// closes its handle when its scope ends; a driver that answers SAR_OK without a handle is
// reported as a failure, never used.
template <typename Functions> class DeviceHandle
{
public:
    DeviceHandle(const Functions& fn, const std::string& name)
        : m_fn(fn)
        , m_name(name)
    {
        WritableName copy(name);
        check(fn.ConnectDev(copy.get(), &m_handle), "SKF_ConnectDev", "device " + name);
        requireHandle(m_handle, "SKF_ConnectDev", name);
    }
    ~DeviceHandle() { m_fn.DisConnectDev(m_handle); }
    DeviceHandle(const DeviceHandle&) = delete;
    DeviceHandle& operator=(const DeviceHandle&) = delete;

    const Functions& fn() const { return m_fn; }
    DEVHANDLE handle() const { return m_handle; }
    const std::string& name() const { return m_name; }

private:
    const Functions& m_fn;
    std::string m_name;
    DEVHANDLE m_handle = nullptr;
};

template <typename Functions> class ApplicationHandle
{
public:
    // Opens an existing application.
    ApplicationHandle(const DeviceHandle<Functions>& device, const std::string& name)
        : m_fn(device.fn())
        , m_name(name)
    {
        WritableName copy(name);
        check(m_fn.OpenApplication(device.handle(), copy.get(), &m_handle), "SKF_OpenApplication",
              "application " + name);
        requireHandle(m_handle, "SKF_OpenApplication", name);
    }
    // Takes over a handle that SKF_CreateApplication returned.
    ApplicationHandle(const DeviceHandle<Functions>& device, const std::string& name, HAPPLICATION handle)
        : m_fn(device.fn())
        , m_name(name)
        , m_handle(handle)
    {
        requireHandle(m_handle, "SKF_CreateApplication", name);
    }
    ~ApplicationHandle() { m_fn.CloseApplication(m_handle); }
    ApplicationHandle(const ApplicationHandle&) = delete;
    ApplicationHandle& operator=(const ApplicationHandle&) = delete;

    const Functions& fn() const { return m_fn; }
    HAPPLICATION handle() const { return m_handle; }
    const std::string& name() const { return m_name; }

private:
    const Functions& m_fn;
    std::string m_name;
    HAPPLICATION m_handle = nullptr;
};

template <typename Functions> class ContainerHandle
{
public:
    enum class Mode { Open, Create };
    ContainerHandle(const Functions& fn, HAPPLICATION application, const std::string& name, Mode mode = Mode::Open)
        : m_fn(fn)
        , m_name(name)
    {
        WritableName copy(name);
        const char* function = mode == Mode::Create ? "SKF_CreateContainer" : "SKF_OpenContainer";
        const ULONG result = mode == Mode::Create ? fn.CreateContainer(application, copy.get(), &m_handle)
                                                  : fn.OpenContainer(application, copy.get(), &m_handle);
        check(result, function, "container " + name);
        requireHandle(m_handle, function, name);
    }
    ContainerHandle(const ApplicationHandle<Functions>& application, const std::string& name, Mode mode = Mode::Open)
        : ContainerHandle(application.fn(), application.handle(), name, mode)
    {
    }
    ~ContainerHandle() { m_fn.CloseContainer(m_handle); }
    ContainerHandle(const ContainerHandle&) = delete;
    ContainerHandle& operator=(const ContainerHandle&) = delete;

    const Functions& fn() const { return m_fn; }
    HCONTAINER handle() const { return m_handle; }
    const std::string& name() const { return m_name; }
    // CONTAINER_TYPE_EMPTY, CONTAINER_TYPE_RSA or CONTAINER_TYPE_ECC.
    ULONG type() const
    {
        ULONG type = 0;
        check(m_fn.GetContainerType(m_handle, &type), "SKF_GetContainerType", "container " + m_name);
        return type;
    }

private:
    const Functions& m_fn;
    std::string m_name;
    HCONTAINER m_handle = nullptr;
};

// Splits a driver's multi-string; accepts the empty forms "\0\0", "\0" and size 0, and stops
// at the buffer's end when the terminator is missing.
inline std::vector<std::string> splitNameList(const char* buffer, size_t size)
{
    std::vector<std::string> names;
    size_t start = 0;
    while (start < size && buffer[start] != '\0') {
        const size_t stop = std::find(buffer + start, buffer + size, '\0') - buffer;
        names.emplace_back(buffer + start, stop - start);
        start = stop + 1;
    }
    return names;
}

// Asks for the size, then for the names. A list that grows in between (a token plugged in
// meanwhile) answers SAR_BUFFER_TOO_SMALL with the new size; that is tried again.
template <typename Call> std::vector<std::string> readNameList(Call call, const char* function)
{
    ULONG size = 0;
    check(call(nullptr, &size), function);
    for (int attempt = 0; attempt < 3 && size != 0; ++attempt) {
        if (size > kMaxReadSize) {
            throw SarError(SAR_FAIL, function, "a list of " + std::to_string(size) + " bytes");
        }
        std::vector<char> buffer(size, '\0');
        ULONG filled = size;
        const ULONG result = call(buffer.data(), &filled);
        if (result == SAR_BUFFER_TOO_SMALL && filled > size) {
            size = filled;
            continue;
        }
        check(result, function);
        return splitNameList(buffer.data(), std::min<size_t>(filled, size));
    }
    if (size != 0) {
        throw SarError(SAR_BUFFER_TOO_SMALL, function, "the list kept growing");
    }
    return {};
}

// The bytes of a variable-size export in the two-call convention; empty when the driver has
// none to give (no such key, no certificate), a SarError for anything else.
template <typename Call> std::vector<BYTE> readVariable(Call call, const char* function, ULONG cap = kMaxReadSize)
{
    ULONG size = 0;
    const ULONG asked = call(nullptr, &size);
    if (asked == SAR_KEYNOTFOUNTERR || asked == SAR_CERTNOTFOUNTERR || (asked == SAR_OK && size == 0)) {
        return {};
    }
    check(asked, function);
    if (size > std::min(cap, kMaxReadSize)) {
        throw SarError(SAR_FAIL, function, "a value of " + std::to_string(size) + " bytes");
    }
    std::vector<BYTE> out(size);
    ULONG filled = size;
    check(call(out.data(), &filled), function);
    out.resize(std::min(filled, size));
    return out;
}

} // namespace skfclient
