// The C entry points for the module's life, slots, sessions and login, and the function list.
// One watcher thread per driver waits for device events outside the lock and follows them at
// once, so a token pulled and plugged back while nobody calls the module comes back fresh.
#include "Entry.h"

#include <dlfcn.h>
#include <pthread.h>
#include <syslog.h>

#include <chrono>
#include <cstdio>
#include <new>
#include <thread>

using skfp11::Module;
using skfp11::P11Error;
using skfp11::Secret;
using namespace skfp11::entry;

namespace skfp11::entry {

std::mutex g_lock;
Module* g_module = nullptr;
bool g_finalizing = false;

} // namespace skfp11::entry

namespace {

// Plain statics only, as in Entry.h; the condition variables are never freed.
std::vector<std::thread>* g_watchers = nullptr;
int g_waiters = 0; // threads inside C_WaitForSlotEvent
int g_watching = 0; // watcher threads still running
int g_failingWatchers = 0; // watchers whose driver's last wait failed

// Signalled when a waiter or a watcher leaves. Replaced in a forked child, like slotEvent's.
std::condition_variable* g_waitersDone = new std::condition_variable;
std::condition_variable* g_slotEvent = new std::condition_variable;

std::condition_variable& waitersDone()
{
    return *g_waitersDone;
}

// Always a log line; on standard error too when $SKFP11_DEBUG is set.
void report(const std::string& message)
{
    syslog(LOG_WARNING, "skfp11: %s", message.c_str());
    const char* debug = std::getenv("SKFP11_DEBUG");
    if (debug && *debug) {
        std::fprintf(stderr, "skfp11: %s\n", message.c_str());
    }
}

void watch(Module* module, size_t driver)
{
    std::string name;
    ULONG event = 0;
    bool failing = false;
    ULONG previous = SAR_OK;
    std::unique_lock<std::mutex> lock(g_lock, std::defer_lock);
    for (;;) {
        ULONG result = module->waitForDeviceEvent(driver, name, event);
        if (result == SAR_OK && name.empty()) {
            result = SAR_FAIL; // a driver that answers at once with no device cannot wait: not a loop
        }
        lock.lock();
        if (g_finalizing || g_module != module) {
            break;
        }
        // A cancelled wait (another process that shares the driver's state, a client's own
        // cancel) is waited again; a wait that fails otherwise, or is cancelled again at once,
        // counts as a driver that cannot wait.
        const bool cancelledOnce = result == SAR_NOT_EVENTERR && previous == SAR_OK;
        previous = result;
        if (cancelledOnce) {
            lock.unlock();
            continue;
        }
        if (failing != (result != SAR_OK)) {
            failing = result != SAR_OK;
            g_failingWatchers += failing ? 1 : -1;
            module->setWatched(driver, !failing);
            slotEvent().notify_all();
        }
        try {
            if (result == SAR_OK) {
                module->deviceEvent(driver, name, event);
            }
        } catch (...) {
            // The next event or call reads the device list again.
        }
        if (module->hasSlotEvent()) {
            slotEvent().notify_all();
        }
        if (result != SAR_OK) {
            // A driver whose wait fails (or that cannot wait) is not asked again at once.
            slotEvent().wait_for(lock, std::chrono::seconds(1));
            if (g_finalizing || g_module != module) {
                break;
            }
        }
        lock.unlock();
    }
    g_failingWatchers -= failing ? 1 : 0;
    --g_watching;
    waitersDone().notify_all();
}

// A forked child has the parent's memory but none of its threads: it starts from nothing, and
// its C_Initialize makes a module of its own. What the parent's module holds is left alone.
// The lock and the condition variables are the child's own: a parent's thread may have held
// the lock or waited on a condition, and a broadcast would then wait for a waiter the child
// does not have. Nothing is locked before the fork, so the driver's own fork handler (which
// waits for a call in progress, perhaps one made under this lock) cannot deadlock with it.
void childAfterFork()
{
    g_module = nullptr;
    g_watchers = nullptr;
    g_finalizing = false;
    g_waiters = 0;
    g_watching = 0;
    g_failingWatchers = 0;
    new (&g_lock) std::mutex;
    g_waitersDone = new std::condition_variable;
    g_slotEvent = new std::condition_variable;
}

// Whether the module shows RSA keys alone: as SKFP11_RSA_ONLY says when set; otherwise only
// inside a Java VM, whose SunPKCS11 drops the whole token at the first SM2 certificate
// ("Unknown named curve: 1.2.156.10197.1.301") and the RSA entry with it. SKFP11_RSA_ONLY=0
// shows a Java program the SM2 objects too.
bool showsRsaOnly()
{
    const char* setting = std::getenv("SKFP11_RSA_ONLY");
    if (setting && *setting) {
        return std::strcmp(setting, "0") != 0;
    }
    void* jvm = dlopen("libjvm.so", RTLD_LAZY | RTLD_NOLOAD);
    if (jvm) {
        dlclose(jvm);
        return true;
    }
    return false;
}

} // namespace

namespace skfp11::entry {

std::condition_variable& slotEvent()
{
    return *g_slotEvent;
}

} // namespace skfp11::entry

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
    // A caller that forbids threads gets no watchers: presence is then followed at its calls,
    // and a blocking C_WaitForSlotEvent has nothing to wait for.
    const bool mayCreateThreads = !pInitArgs
        || !(static_cast<const CK_C_INITIALIZE_ARGS*>(pInitArgs)->flags & CKF_LIBRARY_CANT_CREATE_OS_THREADS);
    static const bool forkHandled = pthread_atfork(nullptr, nullptr, childAfterFork) == 0;
    (void)forkHandled;
    try {
        std::lock_guard<std::mutex> lock(g_lock);
        if (g_module) {
            return CKR_CRYPTOKI_ALREADY_INITIALIZED;
        }
        auto module = std::make_unique<Module>(skfp11::Driver::configuredPaths(), showsRsaOnly());
        for (const std::string& problem : module->driverProblems()) {
            report(problem + " (skipped)");
        }
        g_module = module.release();
        g_finalizing = false;
        g_watchers = new std::vector<std::thread>;
        for (size_t driver = 0; mayCreateThreads && driver < g_module->driverCount(); ++driver) {
            g_module->setWatched(driver, true);
            g_watchers->emplace_back(watch, g_module, driver);
            ++g_watching;
        }
        return CKR_OK;
    } catch (const P11Error& error) {
        return error.rv();
    } catch (const std::bad_alloc&) {
        return CKR_HOST_MEMORY;
    } catch (const std::exception& error) {
        report(error.what()); // most often no driver could be loaded
        return CKR_GENERAL_ERROR;
    } catch (...) {
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
    slotEvent().notify_all();
    // The watchers and any thread in C_WaitForSlotEvent must leave before the module goes. The
    // cancel is repeated because a watcher may not have entered the driver yet when it is sent.
    for (int round = 0; (g_waiters > 0 || g_watching > 0) && round < 100; ++round) {
        g_module->cancelDeviceWaits();
        waitersDone().wait_for(lock, std::chrono::milliseconds(50));
    }
    Module* module = g_module;
    std::vector<std::thread>* watchers = g_watchers;
    const bool allLeft = g_waiters == 0 && g_watching == 0;
    g_module = nullptr;
    g_watchers = nullptr;
    g_finalizing = false;
    lock.unlock();
    for (std::thread& watcher : *watchers) {
        if (allLeft) {
            watcher.join();
        } else {
            watcher.detach();
        }
    }
    delete watchers;
    if (allLeft) {
        delete module;
    }
    // else: a driver that never ends its wait keeps the module alive rather than crash the thread.
    return CKR_OK;
}

SKFP11_EXPORT CK_RV C_GetInfo(CK_INFO_PTR pInfo)
{
    return guarded([&](Module& module) {
        if (!pInfo) {
            return CKR_ARGUMENTS_BAD;
        }
        std::memset(pInfo, 0, sizeof *pInfo);
        pInfo->cryptokiVersion = {CRYPTOKI_VERSION_MAJOR, CRYPTOKI_VERSION_MINOR};
        copyText(pInfo->manufacturerID, sizeof pInfo->manufacturerID, "Qorvex");
        const size_t failed = module.driverProblems().size();
        const std::string description
            = failed == 0 ? "PKCS#11 over SKF drivers" : "SKF drivers: " + std::to_string(failed) + " failed to load";
        copyText(pInfo->libraryDescription, sizeof pInfo->libraryDescription, description.c_str());
        pInfo->libraryVersion = {1, 0};
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount)
{
    return guarded([&](Module& module) {
        if (!pulCount) {
            return CKR_ARGUMENTS_BAD;
        }
        return writeList(module.slotList(tokenPresent), pSlotList, pulCount);
    });
}

SKFP11_EXPORT CK_RV C_GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo)
{
    return withSlot(slotID, [&](Module& module) {
        if (!pInfo) {
            return CKR_ARGUMENTS_BAD;
        }
        module.slotInfo(slotID, *pInfo);
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo)
{
    return withSlot(slotID, [&](Module& module) {
        if (!pInfo) {
            return CKR_ARGUMENTS_BAD;
        }
        module.tokenInfo(slotID, *pInfo);
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_GetMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList, CK_ULONG_PTR pulCount)
{
    return withSlot(slotID, [&](Module& module) {
        if (!pulCount) {
            return CKR_ARGUMENTS_BAD;
        }
        return writeList(module.mechanismList(slotID), pMechanismList, pulCount);
    });
}

SKFP11_EXPORT CK_RV C_GetMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo)
{
    return withSlot(slotID, [&](Module& module) {
        if (!pInfo) {
            return CKR_ARGUMENTS_BAD;
        }
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
        // The watchers queue what the drivers report; this thread only waits for their word. When
        // no driver can wait, there is no word to wait for.
        ++g_waiters;
        const auto noDriverWaits = [&] { return g_failingWatchers >= int(g_watchers->size()); };
        slotEvent().wait(
            lock, [&] { return g_finalizing || g_module != module || module->hasSlotEvent() || noDriverWaits(); });
        CK_RV rv = CKR_OK;
        if (g_finalizing || g_module != module) {
            rv = CKR_CRYPTOKI_NOT_INITIALIZED;
        } else if (module->hasSlotEvent()) {
            *pSlot = *module->popSlotEvent();
        } else {
            rv = CKR_FUNCTION_FAILED;
        }
        --g_waiters;
        waitersDone().notify_all();
        return rv;
    } catch (const std::bad_alloc&) {
        return CKR_HOST_MEMORY;
    } catch (...) {
        return CKR_GENERAL_ERROR;
    }
}

SKFP11_EXPORT CK_RV C_InitToken(CK_SLOT_ID slotID, CK_UTF8CHAR_PTR, CK_ULONG, CK_UTF8CHAR_PTR)
{
    // Initializing a token means device authentication and a new application: skftool's job.
    return withSlot(slotID, [&](Module&) { return CKR_FUNCTION_NOT_SUPPORTED; });
}

SKFP11_EXPORT CK_RV C_InitPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen)
{
    return withSession(hSession, [&](Module& module) {
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
    return withSession(hSession, [&](Module& module) {
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
    return withSlot(slotID, [&](Module& module) {
        if (!phSession) {
            return CKR_ARGUMENTS_BAD;
        }
        if (!(flags & CKF_SERIAL_SESSION)) {
            return CKR_SESSION_PARALLEL_NOT_SUPPORTED;
        }
        *phSession = module.openSession(slotID, flags);
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_CloseSession(CK_SESSION_HANDLE hSession)
{
    return withSession(hSession, [&](Module& module) {
        module.closeSession(hSession);
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_CloseAllSessions(CK_SLOT_ID slotID)
{
    return withSlot(slotID, [&](Module& module) {
        module.closeAllSessions(slotID);
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_GetSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo)
{
    return withSession(hSession, [&](Module& module) {
        if (!pInfo) {
            return CKR_ARGUMENTS_BAD;
        }
        module.sessionInfo(hSession, *pInfo);
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_GetOperationState(CK_SESSION_HANDLE hSession, CK_BYTE_PTR, CK_ULONG_PTR)
{
    return withSession(hSession, [&](Module&) { return CKR_FUNCTION_NOT_SUPPORTED; });
}

SKFP11_EXPORT CK_RV C_SetOperationState(CK_SESSION_HANDLE hSession, CK_BYTE_PTR, CK_ULONG, CK_OBJECT_HANDLE,
                                        CK_OBJECT_HANDLE)
{
    return withSession(hSession, [&](Module&) { return CKR_FUNCTION_NOT_SUPPORTED; });
}

SKFP11_EXPORT CK_RV C_Login(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen)
{
    return withSession(hSession, [&](Module& module) {
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
    return withSession(hSession, [&](Module& module) {
        module.logout(hSession);
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_SeedRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR, CK_ULONG)
{
    return withSession(hSession, [&](Module&) { return CKR_RANDOM_SEED_NOT_SUPPORTED; });
}

SKFP11_EXPORT CK_RV C_GenerateRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR RandomData, CK_ULONG ulRandomLen)
{
    return withSession(hSession, [&](Module& module) {
        if (!RandomData && ulRandomLen) {
            return CKR_ARGUMENTS_BAD;
        }
        module.generateRandom(hSession, RandomData, ulRandomLen);
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_GetFunctionStatus(CK_SESSION_HANDLE hSession)
{
    return withSession(hSession, [&](Module&) { return CKR_FUNCTION_NOT_PARALLEL; });
}

SKFP11_EXPORT CK_RV C_CancelFunction(CK_SESSION_HANDLE hSession)
{
    return withSession(hSession, [&](Module&) { return CKR_FUNCTION_NOT_PARALLEL; });
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
