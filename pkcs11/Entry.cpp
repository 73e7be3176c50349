// The module's C entry points: each checks its arguments, takes the module's lock, calls the
// core and turns every exception into a PKCS#11 return value so that none crosses the C
// boundary. Only the wait for a slot event gives the lock up while the driver blocks.
#include "Errors.h"
#include "Module.h"

#include <p11-kit/pkcs11.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>

#define SKFP11_EXPORT extern "C" __attribute__((visibility("default")))

using skfp11::Module;
using skfp11::OperationKind;
using skfp11::P11Error;
using skfp11::Secret;

namespace {

// Plain statics only: some clients finalize from an exit handler, after C++ objects with
// destructors may already be gone. The lock's destructor does nothing, the pointer is plain
// and the condition variable is never freed.
std::mutex g_lock;
Module* g_module = nullptr;
bool g_finalizing = false;
int g_waiters = 0;

std::condition_variable& waitersDone()
{
    static auto* condition = new std::condition_variable;
    return *condition;
}

constexpr CK_ULONG kMaxPinArgument = 256;

template <typename Call> CK_RV guarded(Call call)
{
    try {
        std::lock_guard<std::mutex> lock(g_lock);
        if (!g_module || g_finalizing) {
            return CKR_CRYPTOKI_NOT_INITIALIZED;
        }
        return call(*g_module);
    } catch (const P11Error& error) {
        return error.rv();
    } catch (const std::bad_alloc&) {
        return CKR_HOST_MEMORY;
    } catch (...) {
        return CKR_GENERAL_ERROR;
    }
}

// A PIN argument as the driver takes it: NUL-terminated, so a PIN with a NUL in it would be
// a different PIN and is refused.
CK_RV readPin(CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen, Secret& pin)
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
    pin = Secret(pPin, ulPinLen);
    return CKR_OK;
}

bool templateOk(CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount)
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

void copyText(CK_UTF8CHAR* field, size_t width, const char* text)
{
    std::memset(field, ' ', width);
    std::memcpy(field, text, std::min(width, std::strlen(text)));
}

template <typename T> CK_RV writeList(const std::vector<T>& items, T* out, CK_ULONG_PTR count)
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
template <typename Final, typename End> CK_RV onePart(Module& module, CK_SESSION_HANDLE hSession, Final final, End end)
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

} // namespace

SKFP11_EXPORT CK_RV C_Initialize(CK_VOID_PTR pInitArgs)
{
    if (pInitArgs) {
        const auto* args = static_cast<const CK_C_INITIALIZE_ARGS*>(pInitArgs);
        if (args->pReserved) {
            return CKR_ARGUMENTS_BAD;
        }
        const int given = !!args->CreateMutex + !!args->DestroyMutex + !!args->LockMutex + !!args->UnlockMutex;
        if (given != 0 && given != 4) {
            return CKR_ARGUMENTS_BAD;
        }
        // The module locks with the system's primitives; it cannot use a caller's mutexes.
        if (given == 4 && !(args->flags & CKF_OS_LOCKING_OK)) {
            return CKR_CANT_LOCK;
        }
    }
    try {
        std::lock_guard<std::mutex> lock(g_lock);
        if (g_module) {
            return CKR_CRYPTOKI_ALREADY_INITIALIZED;
        }
        g_module = new Module(skfp11::Driver::defaultPath());
        g_finalizing = false;
        return CKR_OK;
    } catch (const P11Error& error) {
        return error.rv();
    } catch (const std::bad_alloc&) {
        return CKR_HOST_MEMORY;
    } catch (...) {
        // Most often the driver could not be loaded.
        return CKR_GENERAL_ERROR;
    }
}

SKFP11_EXPORT CK_RV C_Finalize(CK_VOID_PTR pReserved)
{
    if (pReserved) {
        return CKR_ARGUMENTS_BAD;
    }
    std::unique_lock<std::mutex> lock(g_lock);
    if (!g_module || g_finalizing) {
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    }
    g_finalizing = true;
    // A thread blocked in the driver's wait must leave before the module goes. The cancel is
    // repeated because a waiter may not have entered the driver yet when it is first sent.
    for (int round = 0; g_waiters > 0 && round < 100; ++round) {
        g_module->fn().CancelWaitForDevEvent();
        waitersDone().wait_for(lock, std::chrono::milliseconds(50));
    }
    Module* module = g_module;
    g_module = nullptr;
    g_finalizing = false;
    if (g_waiters == 0) {
        delete module;
    }
    // else: a driver that never ends its wait keeps the module alive rather than crash the waiter.
    return CKR_OK;
}

SKFP11_EXPORT CK_RV C_GetInfo(CK_INFO_PTR pInfo)
{
    if (!pInfo) {
        return CKR_ARGUMENTS_BAD;
    }
    return guarded([&](Module&) {
        std::memset(pInfo, 0, sizeof *pInfo);
        pInfo->cryptokiVersion = {CRYPTOKI_VERSION_MAJOR, CRYPTOKI_VERSION_MINOR};
        copyText(pInfo->manufacturerID, sizeof pInfo->manufacturerID, "Qorvex");
        copyText(pInfo->libraryDescription, sizeof pInfo->libraryDescription, "PKCS#11 over an SKF driver");
        pInfo->libraryVersion = {1, 0};
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount)
{
    if (!pulCount) {
        return CKR_ARGUMENTS_BAD;
    }
    return guarded([&](Module& module) { return writeList(module.slotList(tokenPresent), pSlotList, pulCount); });
}

SKFP11_EXPORT CK_RV C_GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo)
{
    if (!pInfo) {
        return CKR_ARGUMENTS_BAD;
    }
    return guarded([&](Module& module) {
        module.slotInfo(slotID, *pInfo);
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo)
{
    if (!pInfo) {
        return CKR_ARGUMENTS_BAD;
    }
    return guarded([&](Module& module) {
        module.tokenInfo(slotID, *pInfo);
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_GetMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList, CK_ULONG_PTR pulCount)
{
    if (!pulCount) {
        return CKR_ARGUMENTS_BAD;
    }
    return guarded([&](Module& module) { return writeList(module.mechanismList(slotID), pMechanismList, pulCount); });
}

SKFP11_EXPORT CK_RV C_GetMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo)
{
    if (!pInfo) {
        return CKR_ARGUMENTS_BAD;
    }
    return guarded([&](Module& module) {
        module.mechanismInfo(slotID, type, *pInfo);
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR pSlot, CK_VOID_PTR pReserved)
{
    try {
        std::unique_lock<std::mutex> lock(g_lock);
        if (!g_module || g_finalizing) {
            return CKR_CRYPTOKI_NOT_INITIALIZED;
        }
        if (!pSlot || pReserved) {
            return CKR_ARGUMENTS_BAD;
        }
        Module* module = g_module;
        // Changes since the last look count as events, so none is lost before the first wait.
        if (auto event = module->nextSlotEvent()) {
            *pSlot = *event;
            return CKR_OK;
        }
        if (flags & CKF_DONT_BLOCK) {
            return CKR_NO_EVENT;
        }
        ++g_waiters;
        auto leave = [&](CK_RV rv) {
            --g_waiters;
            waitersDone().notify_all();
            return rv;
        };
        for (;;) {
            lock.unlock();
            char name[256] = {};
            ULONG size = sizeof name;
            ULONG event = 0;
            const ULONG result = module->fn().WaitForDevEvent(name, &size, &event);
            lock.lock();
            if (g_finalizing || g_module != module) {
                return leave(CKR_CRYPTOKI_NOT_INITIALIZED);
            }
            try {
                // The event itself is only a hint: the device list says what changed.
                if (auto changed = module->nextSlotEvent()) {
                    *pSlot = *changed;
                    return leave(CKR_OK);
                }
            } catch (...) {
                return leave(CKR_GENERAL_ERROR);
            }
            if (result != SAR_OK) {
                return leave(CKR_FUNCTION_FAILED);
            }
        }
    } catch (const std::bad_alloc&) {
        return CKR_HOST_MEMORY;
    } catch (...) {
        return CKR_GENERAL_ERROR;
    }
}

SKFP11_EXPORT CK_RV C_InitToken(CK_SLOT_ID, CK_UTF8CHAR_PTR, CK_ULONG, CK_UTF8CHAR_PTR)
{
    // Initializing a token means device authentication and a new application: skftool's job.
    return guarded([&](Module&) { return CKR_FUNCTION_NOT_SUPPORTED; });
}

SKFP11_EXPORT CK_RV C_InitPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen)
{
    return guarded([&](Module& module) {
        Secret pin;
        const CK_RV rv = readPin(pPin, ulPinLen, pin);
        if (rv != CKR_OK) {
            return rv;
        }
        module.initPin(hSession, std::move(pin));
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_SetPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen,
                             CK_UTF8CHAR_PTR pNewPin, CK_ULONG ulNewLen)
{
    return guarded([&](Module& module) {
        Secret oldPin, newPin;
        CK_RV rv = readPin(pOldPin, ulOldLen, oldPin);
        if (rv == CKR_OK) {
            rv = readPin(pNewPin, ulNewLen, newPin);
        }
        if (rv != CKR_OK) {
            return rv;
        }
        module.setPin(hSession, std::move(oldPin), std::move(newPin));
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_OpenSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR, CK_NOTIFY,
                                  CK_SESSION_HANDLE_PTR phSession)
{
    if (!phSession) {
        return CKR_ARGUMENTS_BAD;
    }
    return guarded([&](Module& module) {
        if (!(flags & CKF_SERIAL_SESSION)) {
            return CKR_SESSION_PARALLEL_NOT_SUPPORTED;
        }
        *phSession = module.openSession(slotID, flags);
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_CloseSession(CK_SESSION_HANDLE hSession)
{
    return guarded([&](Module& module) {
        module.closeSession(hSession);
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_CloseAllSessions(CK_SLOT_ID slotID)
{
    return guarded([&](Module& module) {
        module.closeAllSessions(slotID);
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_GetSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo)
{
    if (!pInfo) {
        return CKR_ARGUMENTS_BAD;
    }
    return guarded([&](Module& module) {
        module.sessionInfo(hSession, *pInfo);
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_GetOperationState(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR)
{
    return guarded([&](Module&) { return CKR_FUNCTION_NOT_SUPPORTED; });
}

SKFP11_EXPORT CK_RV C_SetOperationState(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_OBJECT_HANDLE, CK_OBJECT_HANDLE)
{
    return guarded([&](Module&) { return CKR_FUNCTION_NOT_SUPPORTED; });
}

SKFP11_EXPORT CK_RV C_Login(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen)
{
    return guarded([&](Module& module) {
        Secret pin;
        const CK_RV rv = readPin(pPin, ulPinLen, pin);
        if (rv != CKR_OK) {
            return rv;
        }
        module.login(hSession, userType, std::move(pin));
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_Logout(CK_SESSION_HANDLE hSession)
{
    return guarded([&](Module& module) {
        module.logout(hSession);
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_CreateObject(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,
                                   CK_OBJECT_HANDLE_PTR phObject)
{
    if (!phObject || !templateOk(pTemplate, ulCount)) {
        return CKR_ARGUMENTS_BAD;
    }
    return guarded([&](Module& module) {
        *phObject = module.createObject(hSession, pTemplate, ulCount);
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_CopyObject(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR)
{
    return guarded([&](Module&) { return CKR_FUNCTION_NOT_SUPPORTED; });
}

SKFP11_EXPORT CK_RV C_DestroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject)
{
    return guarded([&](Module& module) {
        module.destroyObject(hSession, hObject);
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_GetObjectSize(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ULONG_PTR)
{
    return guarded([&](Module&) { return CKR_FUNCTION_NOT_SUPPORTED; });
}

SKFP11_EXPORT CK_RV C_GetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                                        CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount)
{
    if (!pTemplate && ulCount) {
        return CKR_ARGUMENTS_BAD;
    }
    return guarded([&](Module& module) { return module.getAttributes(hSession, hObject, pTemplate, ulCount); });
}

SKFP11_EXPORT CK_RV C_SetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG)
{
    // Token objects live in SKF containers, which have no place for changed attributes.
    return guarded([&](Module& module) {
        CK_SESSION_INFO info;
        module.sessionInfo(hSession, info);
        return CKR_ACTION_PROHIBITED;
    });
}

SKFP11_EXPORT CK_RV C_FindObjectsInit(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount)
{
    if (!templateOk(pTemplate, ulCount)) {
        return CKR_ARGUMENTS_BAD;
    }
    return guarded([&](Module& module) {
        module.findInit(hSession, pTemplate, ulCount);
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_FindObjects(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject, CK_ULONG ulMaxObjectCount,
                                  CK_ULONG_PTR pulObjectCount)
{
    if (!pulObjectCount || (!phObject && ulMaxObjectCount)) {
        return CKR_ARGUMENTS_BAD;
    }
    return guarded([&](Module& module) {
        const auto found = module.findNext(hSession, ulMaxObjectCount);
        std::copy(found.begin(), found.end(), phObject);
        *pulObjectCount = found.size();
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE hSession)
{
    return guarded([&](Module& module) {
        module.findFinal(hSession);
        return CKR_OK;
    });
}

#define SKFP11_NOT_SUPPORTED_CRYPT(name)                                                                               \
    SKFP11_EXPORT CK_RV name##Init(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE)                              \
    {                                                                                                                  \
        return guarded([&](Module&) { return CKR_MECHANISM_INVALID; });                                                \
    }                                                                                                                  \
    SKFP11_EXPORT CK_RV name(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR)                      \
    {                                                                                                                  \
        return guarded([&](Module&) { return CKR_OPERATION_NOT_INITIALIZED; });                                        \
    }                                                                                                                  \
    SKFP11_EXPORT CK_RV name##Update(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR)              \
    {                                                                                                                  \
        return guarded([&](Module&) { return CKR_OPERATION_NOT_INITIALIZED; });                                        \
    }                                                                                                                  \
    SKFP11_EXPORT CK_RV name##Final(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR)                                      \
    {                                                                                                                  \
        return guarded([&](Module&) { return CKR_OPERATION_NOT_INITIALIZED; });                                        \
    }

// Encryption is the caller's business with the public key; the SKF functions give no way to
// decrypt with a container's private key and return the plaintext.
SKFP11_NOT_SUPPORTED_CRYPT(C_Encrypt)
SKFP11_NOT_SUPPORTED_CRYPT(C_Decrypt)

SKFP11_EXPORT CK_RV C_DigestInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism)
{
    if (!pMechanism) {
        return CKR_ARGUMENTS_BAD;
    }
    return guarded([&](Module& module) {
        if (pMechanism->ulParameterLen) {
            return CKR_MECHANISM_PARAM_INVALID;
        }
        module.digestInit(hSession, pMechanism->mechanism);
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_Digest(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pDigest,
                             CK_ULONG_PTR pulDigestLen)
{
    if ((!pData && ulDataLen) || !pulDigestLen) {
        return CKR_ARGUMENTS_BAD;
    }
    return guarded([&](Module& module) {
        if (!module.digestIsFresh(hSession)) {
            return CKR_OPERATION_ACTIVE;
        }
        return onePart(
            module, hSession,
            [&](Module& m) {
                if (!pDigest) {
                    return m.digestFinal(hSession, nullptr, pulDigestLen);
                }
                CK_ULONG needed = 0;
                m.digestFinal(hSession, nullptr, &needed);
                if (*pulDigestLen < needed) {
                    *pulDigestLen = needed;
                    return CKR_BUFFER_TOO_SMALL;
                }
                m.digestUpdate(hSession, pData, ulDataLen);
                return m.digestFinal(hSession, pDigest, pulDigestLen);
            },
            [](Module& m, CK_SESSION_HANDLE h) { m.endDigest(h); });
    });
}

SKFP11_EXPORT CK_RV C_DigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen)
{
    if (!pPart && ulPartLen) {
        return CKR_ARGUMENTS_BAD;
    }
    return guarded([&](Module& module) {
        return onePart(
            module, hSession,
            [&](Module& m) {
                m.digestUpdate(hSession, pPart, ulPartLen);
                return CKR_OK;
            },
            [](Module& m, CK_SESSION_HANDLE h) { m.endDigest(h); });
    });
}

SKFP11_EXPORT CK_RV C_DigestKey(CK_SESSION_HANDLE, CK_OBJECT_HANDLE)
{
    return guarded([&](Module&) { return CKR_FUNCTION_NOT_SUPPORTED; });
}

SKFP11_EXPORT CK_RV C_DigestFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen)
{
    if (!pulDigestLen) {
        return CKR_ARGUMENTS_BAD;
    }
    return guarded([&](Module& module) {
        return onePart(
            module, hSession, [&](Module& m) { return m.digestFinal(hSession, pDigest, pulDigestLen); },
            [](Module& m, CK_SESSION_HANDLE h) { m.endDigest(h); });
    });
}

namespace {

CK_RV signatureInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey, OperationKind kind)
{
    if (!pMechanism || (!pMechanism->pParameter && pMechanism->ulParameterLen)) {
        return CKR_ARGUMENTS_BAD;
    }
    return guarded([&](Module& module) {
        module.signatureInit(hSession, kind, *pMechanism, hKey);
        return CKR_OK;
    });
}

CK_RV signatureUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen, OperationKind kind)
{
    if (!pPart && ulPartLen) {
        return CKR_ARGUMENTS_BAD;
    }
    return guarded([&](Module& module) {
        return onePart(
            module, hSession,
            [&](Module& m) {
                m.signatureUpdate(hSession, kind, pPart, ulPartLen);
                return CKR_OK;
            },
            [](Module& m, CK_SESSION_HANDLE h) { m.endSignature(h); });
    });
}

void endSignature(Module& module, CK_SESSION_HANDLE handle)
{
    module.endSignature(handle);
}

} // namespace

SKFP11_EXPORT CK_RV C_SignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey)
{
    return signatureInit(hSession, pMechanism, hKey, OperationKind::Sign);
}

SKFP11_EXPORT CK_RV C_Sign(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
                           CK_ULONG_PTR pulSignatureLen)
{
    if ((!pData && ulDataLen) || !pulSignatureLen) {
        return CKR_ARGUMENTS_BAD;
    }
    return guarded([&](Module& module) {
        if (!module.signatureIsFresh(hSession, OperationKind::Sign)) {
            return CKR_OPERATION_ACTIVE;
        }
        return onePart(
            module, hSession,
            [&](Module& m) {
                if (!pSignature) {
                    return m.signFinal(hSession, nullptr, pulSignatureLen);
                }
                CK_ULONG needed = 0;
                m.signFinal(hSession, nullptr, &needed);
                if (*pulSignatureLen < needed) {
                    *pulSignatureLen = needed;
                    return CKR_BUFFER_TOO_SMALL;
                }
                m.signatureUpdate(hSession, OperationKind::Sign, pData, ulDataLen);
                return m.signFinal(hSession, pSignature, pulSignatureLen);
            },
            endSignature);
    });
}

SKFP11_EXPORT CK_RV C_SignUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen)
{
    return signatureUpdate(hSession, pPart, ulPartLen, OperationKind::Sign);
}

SKFP11_EXPORT CK_RV C_SignFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen)
{
    if (!pulSignatureLen) {
        return CKR_ARGUMENTS_BAD;
    }
    return guarded([&](Module& module) {
        return onePart(
            module, hSession, [&](Module& m) { return m.signFinal(hSession, pSignature, pulSignatureLen); },
            endSignature);
    });
}

SKFP11_EXPORT CK_RV C_SignRecoverInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE)
{
    return guarded([&](Module&) { return CKR_MECHANISM_INVALID; });
}

SKFP11_EXPORT CK_RV C_SignRecover(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR)
{
    return guarded([&](Module&) { return CKR_OPERATION_NOT_INITIALIZED; });
}

SKFP11_EXPORT CK_RV C_VerifyInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey)
{
    return signatureInit(hSession, pMechanism, hKey, OperationKind::Verify);
}

SKFP11_EXPORT CK_RV C_Verify(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
                             CK_ULONG ulSignatureLen)
{
    if ((!pData && ulDataLen) || (!pSignature && ulSignatureLen)) {
        return CKR_ARGUMENTS_BAD;
    }
    return guarded([&](Module& module) {
        if (!module.signatureIsFresh(hSession, OperationKind::Verify)) {
            return CKR_OPERATION_ACTIVE;
        }
        return onePart(
            module, hSession,
            [&](Module& m) {
                m.signatureUpdate(hSession, OperationKind::Verify, pData, ulDataLen);
                return m.verifyFinal(hSession, pSignature, ulSignatureLen);
            },
            endSignature);
    });
}

SKFP11_EXPORT CK_RV C_VerifyUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen)
{
    return signatureUpdate(hSession, pPart, ulPartLen, OperationKind::Verify);
}

SKFP11_EXPORT CK_RV C_VerifyFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen)
{
    if (!pSignature && ulSignatureLen) {
        return CKR_ARGUMENTS_BAD;
    }
    return guarded([&](Module& module) {
        return onePart(
            module, hSession, [&](Module& m) { return m.verifyFinal(hSession, pSignature, ulSignatureLen); },
            endSignature);
    });
}

SKFP11_EXPORT CK_RV C_VerifyRecoverInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE)
{
    return guarded([&](Module&) { return CKR_MECHANISM_INVALID; });
}

SKFP11_EXPORT CK_RV C_VerifyRecover(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR)
{
    return guarded([&](Module&) { return CKR_OPERATION_NOT_INITIALIZED; });
}

#define SKFP11_NOT_SUPPORTED_DUAL(name)                                                                                \
    SKFP11_EXPORT CK_RV name(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR)                      \
    {                                                                                                                  \
        return guarded([&](Module&) { return CKR_FUNCTION_NOT_SUPPORTED; });                                           \
    }
SKFP11_NOT_SUPPORTED_DUAL(C_DigestEncryptUpdate)
SKFP11_NOT_SUPPORTED_DUAL(C_DecryptDigestUpdate)
SKFP11_NOT_SUPPORTED_DUAL(C_SignEncryptUpdate)
SKFP11_NOT_SUPPORTED_DUAL(C_DecryptVerifyUpdate)

SKFP11_EXPORT CK_RV C_GenerateKey(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR)
{
    return guarded([&](Module&) { return CKR_MECHANISM_INVALID; });
}

SKFP11_EXPORT CK_RV C_GenerateKeyPair(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                      CK_ATTRIBUTE_PTR pPublicKeyTemplate, CK_ULONG ulPublicKeyAttributeCount,
                                      CK_ATTRIBUTE_PTR pPrivateKeyTemplate, CK_ULONG ulPrivateKeyAttributeCount,
                                      CK_OBJECT_HANDLE_PTR phPublicKey, CK_OBJECT_HANDLE_PTR phPrivateKey)
{
    if (!pMechanism || !phPublicKey || !phPrivateKey || !templateOk(pPublicKeyTemplate, ulPublicKeyAttributeCount)
        || !templateOk(pPrivateKeyTemplate, ulPrivateKeyAttributeCount)) {
        return CKR_ARGUMENTS_BAD;
    }
    return guarded([&](Module& module) {
        module.generateKeyPair(hSession, *pMechanism, pPublicKeyTemplate, ulPublicKeyAttributeCount,
                               pPrivateKeyTemplate, ulPrivateKeyAttributeCount, *phPublicKey, *phPrivateKey);
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_WrapKey(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_OBJECT_HANDLE, CK_BYTE_PTR,
                              CK_ULONG_PTR)
{
    return guarded([&](Module&) { return CKR_MECHANISM_INVALID; });
}

SKFP11_EXPORT CK_RV C_UnwrapKey(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_BYTE_PTR, CK_ULONG,
                                CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR)
{
    return guarded([&](Module&) { return CKR_MECHANISM_INVALID; });
}

SKFP11_EXPORT CK_RV C_DeriveKey(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG,
                                CK_OBJECT_HANDLE_PTR)
{
    return guarded([&](Module&) { return CKR_MECHANISM_INVALID; });
}

SKFP11_EXPORT CK_RV C_SeedRandom(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG)
{
    return guarded([&](Module&) { return CKR_RANDOM_SEED_NOT_SUPPORTED; });
}

SKFP11_EXPORT CK_RV C_GenerateRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR RandomData, CK_ULONG ulRandomLen)
{
    if (!RandomData && ulRandomLen) {
        return CKR_ARGUMENTS_BAD;
    }
    return guarded([&](Module& module) {
        module.generateRandom(hSession, RandomData, ulRandomLen);
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_GetFunctionStatus(CK_SESSION_HANDLE)
{
    return guarded([&](Module&) { return CKR_FUNCTION_NOT_PARALLEL; });
}

SKFP11_EXPORT CK_RV C_CancelFunction(CK_SESSION_HANDLE)
{
    return guarded([&](Module&) { return CKR_FUNCTION_NOT_PARALLEL; });
}

SKFP11_EXPORT CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList);

namespace {

// The table clients reach the module through, in the header's order.
CK_FUNCTION_LIST g_functions = {
    {CRYPTOKI_VERSION_MAJOR, CRYPTOKI_VERSION_MINOR},
    C_Initialize,
    C_Finalize,
    C_GetInfo,
    C_GetFunctionList,
    C_GetSlotList,
    C_GetSlotInfo,
    C_GetTokenInfo,
    C_GetMechanismList,
    C_GetMechanismInfo,
    C_InitToken,
    C_InitPIN,
    C_SetPIN,
    C_OpenSession,
    C_CloseSession,
    C_CloseAllSessions,
    C_GetSessionInfo,
    C_GetOperationState,
    C_SetOperationState,
    C_Login,
    C_Logout,
    C_CreateObject,
    C_CopyObject,
    C_DestroyObject,
    C_GetObjectSize,
    C_GetAttributeValue,
    C_SetAttributeValue,
    C_FindObjectsInit,
    C_FindObjects,
    C_FindObjectsFinal,
    C_EncryptInit,
    C_Encrypt,
    C_EncryptUpdate,
    C_EncryptFinal,
    C_DecryptInit,
    C_Decrypt,
    C_DecryptUpdate,
    C_DecryptFinal,
    C_DigestInit,
    C_Digest,
    C_DigestUpdate,
    C_DigestKey,
    C_DigestFinal,
    C_SignInit,
    C_Sign,
    C_SignUpdate,
    C_SignFinal,
    C_SignRecoverInit,
    C_SignRecover,
    C_VerifyInit,
    C_Verify,
    C_VerifyUpdate,
    C_VerifyFinal,
    C_VerifyRecoverInit,
    C_VerifyRecover,
    C_DigestEncryptUpdate,
    C_DecryptDigestUpdate,
    C_SignEncryptUpdate,
    C_DecryptVerifyUpdate,
    C_GenerateKey,
    C_GenerateKeyPair,
    C_WrapKey,
    C_UnwrapKey,
    C_DeriveKey,
    C_SeedRandom,
    C_GenerateRandom,
    C_GetFunctionStatus,
    C_CancelFunction,
    C_WaitForSlotEvent,
};

} // namespace

SKFP11_EXPORT CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList)
{
    if (!ppFunctionList) {
        return CKR_ARGUMENTS_BAD;
    }
    *ppFunctionList = &g_functions;
    return CKR_OK;
}
