/*
 * The control side of the scriptable fake SKF driver. A test links the fake library and
 * calls these to decide what the driver reports; the manager's binding dlopen()s the same
 * file and so sees the same state.
 */
#ifndef OVRIN_TESTS_FAKESKF_CONTROL_H
#define OVRIN_TESTS_FAKESKF_CONTROL_H

#include <skf/skfapi.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Back to the start: no devices, no applications, no containers, every call answering SAR_OK. */
void FakeSkf_Reset(void);

/* Raw multi-strings as the driver hands them out. reportedSize is what a size query
 * answers (it may lie); pass -1 to report the true length. */
void FakeSkf_SetDeviceList(const char* bytes, unsigned len, long reportedSize);
void FakeSkf_SetApplicationList(const char* bytes, unsigned len, long reportedSize);
void FakeSkf_SetContainerList(const char* bytes, unsigned len, long reportedSize);

void FakeSkf_SetDevInfo(const DEVINFO* info);
void FakeSkf_SetPinInfo(ULONG pinType, ULONG maxRetry, ULONG remainRetry, BOOL isDefault);
/* What SKF_VerifyPIN and SKF_ChangePIN answer, with the retry count they write back. */
void FakeSkf_SetPinAnswer(ULONG result, ULONG retryCount);
void FakeSkf_SetContainerType(const char* container, ULONG type, ULONG result);
/* A length of 0 removes the certificate: its export then answers SAR_CERTNOTFOUNTERR. */
void FakeSkf_SetCertificate(const char* container, BOOL sign, const BYTE* der, unsigned len);
/* The encryption certificate of every container on one device, before the container's own. */
void FakeSkf_SetDeviceCertificate(const char* device, const BYTE* der, unsigned len);
void FakeSkf_SetPublicKey(const char* container, BOOL sign, const BYTE* blob, unsigned len);

/* Makes a function answer `result` after `okCalls` more calls that behave normally.
 * FakeSkf_SetResult(name, r) is FakeSkf_FailAfter(name, 0, r); SAR_OK restores normal. */
void FakeSkf_SetResult(const char* function, ULONG result);
void FakeSkf_FailAfter(const char* function, unsigned okCalls, ULONG result);
/* Makes every function that has no failure of its own answer `result` after `okCalls` more
 * calls each; SAR_OK restores normal. SKF_WaitForDevEvent and SKF_CancelWaitForDevEvent are
 * left alone so that a window's monitor can still be stopped. */
void FakeSkf_FailEverythingAfter(unsigned okCalls, ULONG result);

/* Makes a function throw a C++ exception instead of answering, until the next reset: the
 * way an allocation failure inside a C++ driver reaches its caller. */
void FakeSkf_ThrowFrom(const char* function);

/* Hands an event to the current or next SKF_WaitForDevEvent. */
void FakeSkf_PushEvent(const char* deviceName, ULONG event);

/* Events pushed and not yet taken by a wait. */
unsigned FakeSkf_PendingEvents(void);
unsigned FakeSkf_CallCount(const char* function);
/* The last name, label or PIN the function was given ("" when none). */
const char* FakeSkf_LastArgument(const char* function);
/* How many device, application and container handles were handed out and not closed. */
unsigned FakeSkf_OpenHandleCount(void);

#ifdef __cplusplus
}
#endif

#endif
