// The C entry layer's shared part: the module's lock and state, and the wrappers every entry
// point goes through. Each checks that the module is initialised, then its handles, then its
// arguments, and turns every exception into a PKCS#11 return value so that none crosses the
// C boundary.
#pragma once

#include "Errors.h"
#include "Module.h"
#include "skf/client.h"

#include <p11-kit/pkcs11.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>

#define SKFP11_EXPORT extern "C" __attribute__((visibility("default")))

namespace skfp11::entry {

// Plain objects only: some clients finalize from an exit handler, after C++ objects with
// destructors may already be gone. The lock's destructor does nothing and the module is a
// plain pointer.
extern std::mutex g_lock;
extern Module* g_module;
extern bool g_finalizing;

// Signalled when a slot event is queued, or the module goes.
std::condition_variable& slotEvent();

constexpr CK_ULONG kMaxPinArgument = 256;

template <typename Call> inline CK_RV guarded(Call call)
{
    try {
        std::lock_guard<std::mutex> lock(g_lock);
        if (!g_module || g_finalizing) {
            return CKR_CRYPTOKI_NOT_INITIALIZED;
        }
        CK_RV rv = CKR_OK;
        try {
            return call(*g_module);
        } catch (const P11Error& error) {
            rv = error.rv();
        } catch (const skfclient::SarError& error) {
            rv = rvFromSar(error.sar());
        }
        if (rv == CKR_DEVICE_REMOVED) {
            // Whichever device it was is gone or came back: follow it now, not at the next event.
            g_module->recheckDevices();
            if (g_module->hasSlotEvent()) {
                slotEvent().notify_all();
            }
        }
        return rv;
    } catch (const P11Error& error) {
        return error.rv();
    } catch (const skfclient::SarError& error) {
        return rvFromSar(error.sar());
    } catch (const std::bad_alloc&) {
        return CKR_HOST_MEMORY;
    } catch (...) {
        return CKR_GENERAL_ERROR;
    }
}

// Every call with a session checks, in this order: the module is initialised, the session
// exists, then the call's own arguments (inside call).
template <typename Call> inline CK_RV withSession(CK_SESSION_HANDLE handle, Call call)
{
    return guarded([&](Module& module) {
        module.sessions().get(handle);
        return call(module);
    });
}

// The same for a call on an object of a session: the object is a handle too.
template <typename Call> inline CK_RV withObject(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object, Call call)
{
    return withSession(handle, [&](Module& module) {
        module.object(handle, object);
        return call(module);
    });
}

// The same for a call on a slot.
template <typename Call> inline CK_RV withSlot(CK_SLOT_ID id, Call call)
{
    return guarded([&](Module& module) {
        module.requireSlot(id);
        return call(module);
    });
}

// A PIN argument as the driver takes it: NUL-terminated, so a PIN with a NUL in it would be
// a different PIN and is refused.
inline CK_RV readPin(CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen, Secret& pin)
{
    if (!pPin && ulPinLen) {
        return CKR_ARGUMENTS_BAD;
    }
    if (!pPin) {
        return CKR_ARGUMENTS_BAD; // no protected authentication path
    }
    if (ulPinLen > kMaxPinArgument) {
        return CKR_PIN_LEN_RANGE;
    }
    if (std::memchr(pPin, 0, ulPinLen)) {
        return CKR_PIN_INVALID;
    }
    pin = Secret(reinterpret_cast<const char*>(pPin), ulPinLen);
    return CKR_OK;
}

inline bool templateOk(CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount)
{
    if (!pTemplate) {
        return ulCount == 0;
    }
    for (CK_ULONG i = 0; i < ulCount; ++i) {
        if (!pTemplate[i].pValue && pTemplate[i].ulValueLen) {
            return false;
        }
    }
    return true;
}

inline void copyText(CK_UTF8CHAR* field, size_t width, const char* text)
{
    std::memset(field, ' ', width);
    std::memcpy(field, text, std::min(width, std::strlen(text)));
}

template <typename T> inline CK_RV writeList(const std::vector<T>& items, T* out, CK_ULONG_PTR count)
{
    if (!out) {
        *count = items.size();
        return CKR_OK;
    }
    if (*count < items.size()) {
        *count = items.size();
        return CKR_BUFFER_TOO_SMALL;
    }
    std::copy(items.begin(), items.end(), out);
    *count = items.size();
    return CKR_OK;
}

// One-part signing and digesting: a length query keeps the operation; anything else ends it.
template <typename Final, typename End>
inline CK_RV onePart(Module& module, CK_SESSION_HANDLE hSession, Final final, End end)
{
    try {
        const CK_RV rv = final(module);
        if (rv != CKR_OK && rv != CKR_BUFFER_TOO_SMALL) {
            end(module, hSession);
        }
        return rv;
    } catch (...) {
        end(module, hSession);
        throw;
    }
}

} // namespace skfp11::entry
