// The C entry points for objects, digests, signatures and the operations the module refuses.
#include "Entry.h"

using skfp11::Module;
using skfp11::OperationKind;
using skfp11::P11Error;
using skfp11::Session;
using namespace skfp11::entry;

namespace {

// Ends an operation after a failed or finished call; the session may be gone by then.
void endDigest(Module& module, CK_SESSION_HANDLE handle)
{
    if (Session* session = module.sessions().find(handle)) {
        session->endDigest();
    }
}

void endSignature(Module& module, CK_SESSION_HANDLE handle)
{
    if (Session* session = module.sessions().find(handle)) {
        session->endSignature();
    }
}

} // namespace

SKFP11_EXPORT CK_RV C_CreateObject(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,
                                   CK_OBJECT_HANDLE_PTR phObject)
{
    return withSession(hSession, [&](Module& module) {
        if (!phObject || !templateOk(pTemplate, ulCount)) {
            return CKR_ARGUMENTS_BAD;
        }
        *phObject = module.createObject(hSession, pTemplate, ulCount);
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_CopyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG,
                                 CK_OBJECT_HANDLE_PTR)
{
    return withSession(hSession, [&](Module&) { return CKR_FUNCTION_NOT_SUPPORTED; });
}

SKFP11_EXPORT CK_RV C_DestroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject)
{
    return withSession(hSession, [&](Module& module) {
        module.destroyObject(hSession, hObject);
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_GetObjectSize(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ULONG_PTR pulSize)
{
    return withObject(hSession, hObject, [&](Module& module) {
        if (!pulSize) {
            return CKR_ARGUMENTS_BAD;
        }
        *pulSize = module.object(hSession, hObject).size();
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_GetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                                        CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount)
{
    return withObject(hSession, hObject, [&](Module& module) {
        if (!pTemplate && ulCount) {
            return CKR_ARGUMENTS_BAD;
        }
        return module.object(hSession, hObject).readAttributes(pTemplate, ulCount);
    });
}

SKFP11_EXPORT CK_RV C_SetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                                        CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount)
{
    return withObject(hSession, hObject, [&](Module& module) {
        if (!templateOk(pTemplate, ulCount)) {
            return CKR_ARGUMENTS_BAD;
        }
        module.setAttributes(hSession, hObject, pTemplate, ulCount);
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_FindObjectsInit(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount)
{
    return withSession(hSession, [&](Module& module) {
        if (!templateOk(pTemplate, ulCount)) {
            return CKR_ARGUMENTS_BAD;
        }
        module.findInit(hSession, pTemplate, ulCount);
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_FindObjects(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject, CK_ULONG ulMaxObjectCount,
                                  CK_ULONG_PTR pulObjectCount)
{
    return withSession(hSession, [&](Module& module) {
        if (!pulObjectCount || (!phObject && ulMaxObjectCount)) {
            return CKR_ARGUMENTS_BAD;
        }
        const auto found = module.sessions().get(hSession).findNext(ulMaxObjectCount);
        std::copy(found.begin(), found.end(), phObject);
        *pulObjectCount = found.size();
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE hSession)
{
    return withSession(hSession, [&](Module& module) {
        module.sessions().get(hSession).findFinal();
        return CKR_OK;
    });
}

#define SKFP11_NOT_SUPPORTED_CRYPT(name)                                                                               \
    SKFP11_EXPORT CK_RV name##Init(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR, CK_OBJECT_HANDLE)                     \
    {                                                                                                                  \
        return withSession(hSession, [&](Module&) { return CKR_MECHANISM_INVALID; });                                  \
    }                                                                                                                  \
    SKFP11_EXPORT CK_RV name(CK_SESSION_HANDLE hSession, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR)             \
    {                                                                                                                  \
        return withSession(hSession, [&](Module&) { return CKR_OPERATION_NOT_INITIALIZED; });                          \
    }                                                                                                                  \
    SKFP11_EXPORT CK_RV name##Update(CK_SESSION_HANDLE hSession, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR)     \
    {                                                                                                                  \
        return withSession(hSession, [&](Module&) { return CKR_OPERATION_NOT_INITIALIZED; });                          \
    }                                                                                                                  \
    SKFP11_EXPORT CK_RV name##Final(CK_SESSION_HANDLE hSession, CK_BYTE_PTR, CK_ULONG_PTR)                             \
    {                                                                                                                  \
        return withSession(hSession, [&](Module&) { return CKR_OPERATION_NOT_INITIALIZED; });                          \
    }

// Encryption is the caller's business with the public key; the SKF functions give no way to
// decrypt with a container's private key and return the plaintext.
SKFP11_NOT_SUPPORTED_CRYPT(C_Encrypt)
SKFP11_NOT_SUPPORTED_CRYPT(C_Decrypt)

SKFP11_EXPORT CK_RV C_DigestInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism)
{
    return withSession(hSession, [&](Module& module) {
        if (!pMechanism) {
            return CKR_ARGUMENTS_BAD;
        }
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
    return withSession(hSession, [&](Module& module) {
        if ((!pData && ulDataLen) || !pulDigestLen) {
            return CKR_ARGUMENTS_BAD;
        }
        if (!module.sessions().get(hSession).digest().fresh()) {
            return CKR_OPERATION_ACTIVE;
        }
        return onePart(
            module, hSession,
            [&](Module& m) {
                Session& session = m.sessions().get(hSession);
                if (!pDigest) {
                    return session.finishDigest(nullptr, pulDigestLen);
                }
                CK_ULONG needed = 0;
                session.finishDigest(nullptr, &needed);
                if (*pulDigestLen < needed) {
                    *pulDigestLen = needed;
                    return CKR_BUFFER_TOO_SMALL;
                }
                session.digest().update(pData, ulDataLen);
                return session.finishDigest(pDigest, pulDigestLen);
            },
            endDigest);
    });
}

SKFP11_EXPORT CK_RV C_DigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen)
{
    return withSession(hSession, [&](Module& module) {
        if (!pPart && ulPartLen) {
            return CKR_ARGUMENTS_BAD;
        }
        return onePart(
            module, hSession,
            [&](Module& m) {
                m.sessions().get(hSession).digest().update(pPart, ulPartLen);
                return CKR_OK;
            },
            endDigest);
    });
}

SKFP11_EXPORT CK_RV C_DigestKey(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE)
{
    return withSession(hSession, [&](Module&) { return CKR_FUNCTION_NOT_SUPPORTED; });
}

SKFP11_EXPORT CK_RV C_DigestFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen)
{
    return withSession(hSession, [&](Module& module) {
        if (!pulDigestLen) {
            return CKR_ARGUMENTS_BAD;
        }
        return onePart(
            module, hSession, [&](Module& m) { return m.sessions().get(hSession).finishDigest(pDigest, pulDigestLen); },
            endDigest);
    });
}

namespace {

CK_RV signatureInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey, OperationKind kind)
{
    return withSession(hSession, [&](Module& module) {
        try {
            module.object(hSession, hKey);
        } catch (const P11Error& error) {
            return error.rv() == CKR_OBJECT_HANDLE_INVALID ? CKR_KEY_HANDLE_INVALID : error.rv();
        }
        if (!pMechanism || (!pMechanism->pParameter && pMechanism->ulParameterLen)) {
            return CKR_ARGUMENTS_BAD;
        }
        module.signatureInit(hSession, kind, *pMechanism, hKey);
        return CKR_OK;
    });
}

CK_RV signatureUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen, OperationKind kind)
{
    return withSession(hSession, [&](Module& module) {
        if (!pPart && ulPartLen) {
            return CKR_ARGUMENTS_BAD;
        }
        return onePart(
            module, hSession,
            [&](Module& m) {
                m.sessions().get(hSession).signature(kind).update(pPart, ulPartLen);
                return CKR_OK;
            },
            endSignature);
    });
}

} // namespace

SKFP11_EXPORT CK_RV C_SignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey)
{
    return signatureInit(hSession, pMechanism, hKey, OperationKind::Sign);
}

SKFP11_EXPORT CK_RV C_Sign(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
                           CK_ULONG_PTR pulSignatureLen)
{
    return withSession(hSession, [&](Module& module) {
        if ((!pData && ulDataLen) || !pulSignatureLen) {
            return CKR_ARGUMENTS_BAD;
        }
        if (!module.sessions().get(hSession).signature(OperationKind::Sign).fresh()) {
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
                m.sessions().get(hSession).signature(OperationKind::Sign).update(pData, ulDataLen);
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
    return withSession(hSession, [&](Module& module) {
        if (!pulSignatureLen) {
            return CKR_ARGUMENTS_BAD;
        }
        return onePart(
            module, hSession, [&](Module& m) { return m.signFinal(hSession, pSignature, pulSignatureLen); },
            endSignature);
    });
}

SKFP11_EXPORT CK_RV C_SignRecoverInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR, CK_OBJECT_HANDLE)
{
    return withSession(hSession, [&](Module&) { return CKR_MECHANISM_INVALID; });
}

SKFP11_EXPORT CK_RV C_SignRecover(CK_SESSION_HANDLE hSession, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR)
{
    return withSession(hSession, [&](Module&) { return CKR_OPERATION_NOT_INITIALIZED; });
}

SKFP11_EXPORT CK_RV C_VerifyInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey)
{
    return signatureInit(hSession, pMechanism, hKey, OperationKind::Verify);
}

SKFP11_EXPORT CK_RV C_Verify(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
                             CK_ULONG ulSignatureLen)
{
    return withSession(hSession, [&](Module& module) {
        if ((!pData && ulDataLen) || (!pSignature && ulSignatureLen)) {
            return CKR_ARGUMENTS_BAD;
        }
        if (!module.sessions().get(hSession).signature(OperationKind::Verify).fresh()) {
            return CKR_OPERATION_ACTIVE;
        }
        return onePart(
            module, hSession,
            [&](Module& m) {
                Session& session = m.sessions().get(hSession);
                session.signature(OperationKind::Verify).update(pData, ulDataLen);
                return session.finishVerify(pSignature, ulSignatureLen);
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
    return withSession(hSession, [&](Module& module) {
        if (!pSignature && ulSignatureLen) {
            return CKR_ARGUMENTS_BAD;
        }
        return onePart(
            module, hSession,
            [&](Module& m) { return m.sessions().get(hSession).finishVerify(pSignature, ulSignatureLen); },
            endSignature);
    });
}

SKFP11_EXPORT CK_RV C_VerifyRecoverInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR, CK_OBJECT_HANDLE)
{
    return withSession(hSession, [&](Module&) { return CKR_MECHANISM_INVALID; });
}

SKFP11_EXPORT CK_RV C_VerifyRecover(CK_SESSION_HANDLE hSession, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR)
{
    return withSession(hSession, [&](Module&) { return CKR_OPERATION_NOT_INITIALIZED; });
}

#define SKFP11_NOT_SUPPORTED_DUAL(name)                                                                                \
    SKFP11_EXPORT CK_RV name(CK_SESSION_HANDLE hSession, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR)             \
    {                                                                                                                  \
        return withSession(hSession, [&](Module&) { return CKR_FUNCTION_NOT_SUPPORTED; });                             \
    }
SKFP11_NOT_SUPPORTED_DUAL(C_DigestEncryptUpdate)
SKFP11_NOT_SUPPORTED_DUAL(C_DecryptDigestUpdate)
SKFP11_NOT_SUPPORTED_DUAL(C_SignEncryptUpdate)
SKFP11_NOT_SUPPORTED_DUAL(C_DecryptVerifyUpdate)

SKFP11_EXPORT CK_RV C_GenerateKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR, CK_ATTRIBUTE_PTR, CK_ULONG,
                                  CK_OBJECT_HANDLE_PTR)
{
    return withSession(hSession, [&](Module&) { return CKR_MECHANISM_INVALID; });
}

SKFP11_EXPORT CK_RV C_GenerateKeyPair(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                      CK_ATTRIBUTE_PTR pPublicKeyTemplate, CK_ULONG ulPublicKeyAttributeCount,
                                      CK_ATTRIBUTE_PTR pPrivateKeyTemplate, CK_ULONG ulPrivateKeyAttributeCount,
                                      CK_OBJECT_HANDLE_PTR phPublicKey, CK_OBJECT_HANDLE_PTR phPrivateKey)
{
    return withSession(hSession, [&](Module& module) {
        if (!pMechanism || !phPublicKey || !phPrivateKey || !templateOk(pPublicKeyTemplate, ulPublicKeyAttributeCount)
            || !templateOk(pPrivateKeyTemplate, ulPrivateKeyAttributeCount)) {
            return CKR_ARGUMENTS_BAD;
        }
        module.generateKeyPair(hSession, *pMechanism, pPublicKeyTemplate, ulPublicKeyAttributeCount,
                               pPrivateKeyTemplate, ulPrivateKeyAttributeCount, *phPublicKey, *phPrivateKey);
        return CKR_OK;
    });
}

SKFP11_EXPORT CK_RV C_WrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_OBJECT_HANDLE,
                              CK_BYTE_PTR, CK_ULONG_PTR)
{
    return withSession(hSession, [&](Module&) { return CKR_MECHANISM_INVALID; });
}

SKFP11_EXPORT CK_RV C_UnwrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_BYTE_PTR, CK_ULONG,
                                CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR)
{
    return withSession(hSession, [&](Module&) { return CKR_MECHANISM_INVALID; });
}

SKFP11_EXPORT CK_RV C_DeriveKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR,
                                CK_ULONG, CK_OBJECT_HANDLE_PTR)
{
    return withSession(hSession, [&](Module&) { return CKR_MECHANISM_INVALID; });
}
