// Shared by the C entry points: argument conversion, the length convention, and the
// guard that turns every exception into a SAR code so none crosses the C boundary.
#pragma once

// The SKF functions are the library's only exported symbols (with the version script).
#pragma GCC visibility push(default)
#include "skf/skfapi.h"
#pragma GCC visibility pop

#include "core/Core.h"
#include "core/SkfError.h"
#include "crypto/Secure.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace softskf::entry {

// Longest name or PIN read from a caller's string; longer input is refused, not read on.
constexpr size_t kMaxInputString = 4096;

template <typename Body> ULONG guarded(Body&& body) noexcept
{
    try {
        return body();
    } catch (const core::SkfError& error) {
        return error.code();
    } catch (const store::DamagedRecord&) {
        return SAR_FILEERR; // changed by someone else: not the caller's input
    } catch (const store::StoreFull&) {
        return SAR_WRITEFILEERR;
    } catch (const store::ReadOnlyStore&) {
        return SAR_WRITEFILEERR;
    } catch (const std::bad_alloc&) {
        return SAR_MEMORYERR;
    } catch (...) {
        return SAR_FAIL;
    }
}

inline std::string inputString(const char* text)
{
    if (!text) {
        core::fail(SAR_INVALIDPARAMERR);
    }
    const size_t size = strnlen(text, kMaxInputString + 1);
    if (size > kMaxInputString) {
        core::fail(SAR_NAMELENERR);
    }
    return std::string(text, size);
}

inline crypto::SecureString inputPin(const char* text)
{
    if (!text) {
        core::fail(SAR_INVALIDPARAMERR);
    }
    const size_t size = strnlen(text, kMaxInputString + 1);
    if (size > kMaxInputString) {
        core::fail(SAR_PIN_LEN_RANGE);
    }
    return crypto::SecureString(text, size);
}

inline void requireOutput(const void* pointer)
{
    if (!pointer) {
        core::fail(SAR_INVALIDPARAMERR);
    }
}

// A null buffer asks for the size; a short buffer gets SAR_BUFFER_TOO_SMALL and the size.
inline ULONG copyOut(const void* data, size_t size, void* out, ULONG* length)
{
    requireOutput(length);
    if (!out) {
        *length = static_cast<ULONG>(size);
        return SAR_OK;
    }
    if (*length < size) {
        *length = static_cast<ULONG>(size);
        return SAR_BUFFER_TOO_SMALL;
    }
    if (size > 0) {
        std::memcpy(out, data, size);
    }
    *length = static_cast<ULONG>(size);
    return SAR_OK;
}

// A name list under the length convention. An empty list has size 0; a buffer that has
// room still gets NULs, for callers that read the buffer without looking at the size.
inline ULONG copyList(const std::string& list, char* out, ULONG* length)
{
    requireOutput(length);
    if (list.empty() && out) {
        std::memset(out, 0, std::min<ULONG>(*length, 2));
    }
    return copyOut(list.data(), list.size(), out, length);
}

inline core::Core& token()
{
    return core::Core::instance();
}

} // namespace softskf::entry
