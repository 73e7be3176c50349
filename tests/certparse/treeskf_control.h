/*
 * The control side of the certificate tests' tree driver: applications with containers of
 * their own, and certificate exports that can report lengths they did not write.
 */
#ifndef OVRIN_TESTS_TREESKF_CONTROL_H
#define OVRIN_TESTS_TREESKF_CONTROL_H

#include <skf/skfapi.h>

#ifdef __cplusplus
extern "C" {
#endif

void TreeSkf_Reset(void);
/* Creates the application and container as needed; a length of 0 removes the certificate. */
void TreeSkf_SetCertificate(const char* application, const char* container, BOOL sign, const BYTE* der, unsigned len);
/* What a size query and a fill report as the certificate's length; 0 means the true length. */
void TreeSkf_SetReportedLengths(ULONG queryLength, ULONG fillLength);
/* Device, application and container handles handed out and not closed. */
unsigned TreeSkf_OpenHandleCount(void);

#ifdef __cplusplus
}
#endif

#endif
