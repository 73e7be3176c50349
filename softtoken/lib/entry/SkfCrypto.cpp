// C entry points of the cryptographic services: signatures, verification, session keys,
// SM4 ciphers, digests, MACs, SM2 key agreement and operations with external keys.
// Wrong input data from the caller (malformed blobs, points off the curve, ciphertexts
// that do not decrypt) answers SAR_INDATAERR rather than a bare failure.
#include "EntrySupport.h"

#include "codec/CipherBlobs.h"
#include "crypto/Services.h"

using namespace softskf;
using namespace softskf::entry;
using Step = core::Core::Step;

namespace {

// The most SM2 plain text one call takes, as DEVINFO.MaxECCBufferSize states. It also
// bounds how far a CipherLen makes us read a caller's cipher blob.
constexpr ULONG kMaxEccData = 1024;

template <typename Body> ULONG cryptoGuarded(Body&& body) noexcept
{
    return guarded([&]() -> ULONG {
        try {
            return body();
        } catch (const crypto::CryptoInputError&) {
            return SAR_INDATAERR;
        } catch (const codec::CodecError&) {
            return SAR_INDATAERR;
        }
    });
}

void requireInput(const void* data, ULONG size)
{
    if (!data && size > 0) {
        core::fail(SAR_INVALIDPARAMERR);
    }
}

std::shared_ptr<const crypto::PublicKey> rsaPublic(const RSAPUBLICKEYBLOB* blob)
{
    requireOutput(blob);
    const auto [modulus, exponent] = codec::rsaPublicParts(*blob);
    return crypto::cachedRsaPublicKey(modulus, exponent);
}

std::shared_ptr<const crypto::PublicKey> sm2Public(const ECCPUBLICKEYBLOB* blob)
{
    requireOutput(blob);
    return crypto::cachedSm2PublicKey(codec::eccPointFromBlob(*blob));
}

crypto::KeyPair sm2Private(const ECCPRIVATEKEYBLOB* blob)
{
    requireOutput(blob);
    if (blob->BitLen != 256) {
        core::fail(SAR_INVALIDPARAMERR);
    }
    constexpr size_t pad = sizeof blob->PrivateKey - crypto::kSm2Coordinate;
    for (size_t i = 0; i < pad; ++i) {
        if (blob->PrivateKey[i] != 0) {
            core::fail(SAR_INDATAERR);
        }
    }
    return crypto::KeyPair::sm2FromScalar(blob->PrivateKey + pad, crypto::kSm2Coordinate);
}

crypto::SecureBytes field(const uint8_t* data, size_t fieldSize, size_t valueSize)
{
    return crypto::secureCopy(data + fieldSize - valueSize, valueSize);
}

crypto::KeyPair rsaPrivate(const RSAPRIVATEKEYBLOB* blob)
{
    requireOutput(blob);
    RSAPUBLICKEYBLOB publicBlob{};
    publicBlob.AlgID = blob->AlgID;
    publicBlob.BitLen = blob->BitLen;
    std::memcpy(publicBlob.Modulus, blob->Modulus, sizeof blob->Modulus);
    std::memcpy(publicBlob.PublicExponent, blob->PublicExponent, sizeof blob->PublicExponent);
    auto [modulus, exponent] = codec::rsaPublicParts(publicBlob);
    const size_t bytes = blob->BitLen / 8;
    crypto::RsaPrivateParts parts;
    parts.modulus = modulus;
    parts.publicExponent = exponent;
    parts.privateExponent = field(blob->PrivateExponent, sizeof blob->PrivateExponent, bytes);
    parts.prime1 = field(blob->Prime1, sizeof blob->Prime1, bytes / 2);
    parts.prime2 = field(blob->Prime2, sizeof blob->Prime2, bytes / 2);
    parts.exponent1 = field(blob->Prime1Exponent, sizeof blob->Prime1Exponent, bytes / 2);
    parts.exponent2 = field(blob->Prime2Exponent, sizeof blob->Prime2Exponent, bytes / 2);
    parts.coefficient = field(blob->Coefficient, sizeof blob->Coefficient, bytes / 2);
    return crypto::rsaFromParts(parts);
}

template <typename Bytes> void putField(uint8_t* out, size_t size, const Bytes& value)
{
    codec::putRightAligned(out, size, value.data(), value.size());
}

crypto::Sm2Signature signatureOf(const ECCSIGNATUREBLOB* blob)
{
    requireOutput(blob);
    constexpr size_t pad = sizeof blob->r - crypto::kSm2Coordinate;
    for (size_t i = 0; i < pad; ++i) {
        if (blob->r[i] != 0 || blob->s[i] != 0) {
            core::fail(SAR_INDATAERR);
        }
    }
    return {std::vector<uint8_t>(blob->r + pad, blob->r + sizeof blob->r),
            std::vector<uint8_t>(blob->s + pad, blob->s + sizeof blob->s)};
}

ECCSIGNATUREBLOB signatureBlob(const crypto::Sm2Signature& signature)
{
    ECCSIGNATUREBLOB blob{};
    putField(blob.r, sizeof blob.r, signature.r);
    putField(blob.s, sizeof blob.s, signature.s);
    return blob;
}

} // namespace

extern "C" {

ULONG SKF_GenExtRSAKey(DEVHANDLE hDev, ULONG ulBitsLen, RSAPRIVATEKEYBLOB* pBlob)
{
    return cryptoGuarded([&] {
        token().requireDevice(hDev);
        requireOutput(pBlob);
        if (ulBitsLen != 1024 && ulBitsLen != 2048) {
            return ULONG(SAR_MODULUSLENERR);
        }
        const auto key = crypto::KeyPair::generateRsa(ulBitsLen);
        const auto parts = crypto::rsaPrivateParts(key);
        RSAPRIVATEKEYBLOB blob{};
        blob.AlgID = SGD_RSA;
        blob.BitLen = ulBitsLen;
        putField(blob.Modulus, sizeof blob.Modulus, parts.modulus);
        putField(blob.PublicExponent, sizeof blob.PublicExponent, parts.publicExponent);
        putField(blob.PrivateExponent, sizeof blob.PrivateExponent, parts.privateExponent);
        putField(blob.Prime1, sizeof blob.Prime1, parts.prime1);
        putField(blob.Prime2, sizeof blob.Prime2, parts.prime2);
        putField(blob.Prime1Exponent, sizeof blob.Prime1Exponent, parts.exponent1);
        putField(blob.Prime2Exponent, sizeof blob.Prime2Exponent, parts.exponent2);
        putField(blob.Coefficient, sizeof blob.Coefficient, parts.coefficient);
        *pBlob = blob;
        crypto::cleanse(&blob, sizeof blob);
        return ULONG(SAR_OK);
    });
}

ULONG SKF_RSASignData(HCONTAINER hContainer, BYTE* pbData, ULONG ulDataLen, BYTE* pbSignature, ULONG* pulSignLen)
{
    return cryptoGuarded([&] {
        requireInput(pbData, ulDataLen);
        requireOutput(pulSignLen);
        if (!pbSignature) {
            // The size is the modulus size, known from the public key without the PIN.
            const auto blob = token().exportPublicKey(hContainer, true);
            if (blob.size() != sizeof(RSAPUBLICKEYBLOB)) {
                return ULONG(SAR_KEYINFOTYPEERR);
            }
            *pulSignLen = reinterpret_cast<const RSAPUBLICKEYBLOB*>(blob.data())->BitLen / 8;
            return ULONG(SAR_OK);
        }
        const auto signature = token().rsaSign(hContainer, pbData, ulDataLen);
        return copyOut(signature.data(), signature.size(), pbSignature, pulSignLen);
    });
}

ULONG SKF_RSAVerify(DEVHANDLE hDev, RSAPUBLICKEYBLOB* pBlob, BYTE* pbData, ULONG ulDataLen, BYTE* pbSignature,
                    ULONG ulSignLen)
{
    return cryptoGuarded([&] {
        token().requireDevice(hDev);
        requireInput(pbData, ulDataLen);
        requireInput(pbSignature, ulSignLen);
        const auto key = rsaPublic(pBlob);
        return crypto::rsaVerifyRaw(*key, pbData, ulDataLen, pbSignature, ulSignLen) ? ULONG(SAR_OK)
                                                                                     : ULONG(SAR_RSADECERR);
    });
}

ULONG SKF_RSAExportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, RSAPUBLICKEYBLOB* pPubKey, BYTE* pbData,
                              ULONG* pulDataLen, HANDLE* phSessionKey)
{
    return cryptoGuarded([&] {
        requireOutput(pPubKey);
        requireOutput(pulDataLen);
        const ULONG size = pPubKey->BitLen / 8;
        if (!pbData || *pulDataLen < size) {
            // Only the size: no key is made until there is room for its wrapping.
            const ULONG code = pbData ? SAR_BUFFER_TOO_SMALL : SAR_OK;
            *pulDataLen = size;
            return code;
        }
        requireOutput(phSessionKey);
        std::vector<uint8_t> wrapped;
        const HANDLE key = token().rsaExportSessionKey(hContainer, ulAlgId, *pPubKey, wrapped);
        *phSessionKey = key;
        return copyOut(wrapped.data(), wrapped.size(), pbData, pulDataLen);
    });
}

ULONG SKF_ExtRSAPubKeyOperation(DEVHANDLE hDev, RSAPUBLICKEYBLOB* pBlob, BYTE* pbInput, ULONG ulInputLen,
                                BYTE* pbOutput, ULONG* pulOutputLen)
{
    return cryptoGuarded([&] {
        token().requireDevice(hDev);
        requireInput(pbInput, ulInputLen);
        const auto key = rsaPublic(pBlob);
        if (ulInputLen != pBlob->BitLen / 8) {
            return ULONG(SAR_INDATALENERR);
        }
        const auto result = crypto::rsaPublicRaw(*key, pbInput, ulInputLen);
        return copyOut(result.data(), result.size(), pbOutput, pulOutputLen);
    });
}

ULONG SKF_ExtRSAPriKeyOperation(DEVHANDLE hDev, RSAPRIVATEKEYBLOB* pBlob, BYTE* pbInput, ULONG ulInputLen,
                                BYTE* pbOutput, ULONG* pulOutputLen)
{
    return cryptoGuarded([&] {
        token().requireDevice(hDev);
        requireInput(pbInput, ulInputLen);
        requireOutput(pBlob);
        if (ulInputLen != pBlob->BitLen / 8) {
            return ULONG(SAR_INDATALENERR);
        }
        const auto key = rsaPrivate(pBlob);
        const auto result = crypto::rsaPrivateRaw(key, pbInput, ulInputLen);
        return copyOut(result.data(), result.size(), pbOutput, pulOutputLen);
    });
}

ULONG SKF_ECCSignData(HCONTAINER hContainer, BYTE* pbDigest, ULONG ulDigestLen, ECCSIGNATUREBLOB* pSignature)
{
    return cryptoGuarded([&] {
        requireOutput(pbDigest);
        requireOutput(pSignature);
        *pSignature = token().eccSign(hContainer, pbDigest, ulDigestLen);
        return ULONG(SAR_OK);
    });
}

ULONG SKF_ECCVerify(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pBlob, BYTE* pbData, ULONG ulDataLen,
                    ECCSIGNATUREBLOB* pSignature)
{
    return cryptoGuarded([&] {
        token().requireDevice(hDev);
        requireOutput(pbData);
        if (ulDataLen != 32) {
            return ULONG(SAR_INDATALENERR);
        }
        const auto key = sm2Public(pBlob);
        return crypto::sm2VerifyDigest(*key, pbData, ulDataLen, signatureOf(pSignature)) ? ULONG(SAR_OK)
                                                                                         : ULONG(SAR_FAIL);
    });
}

ULONG SKF_ECCExportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pPubKey, ECCCIPHERBLOB* pData,
                              HANDLE* phSessionKey)
{
    return cryptoGuarded([&] {
        requireOutput(pPubKey);
        requireOutput(pData);
        requireOutput(phSessionKey);
        std::vector<uint8_t> blob;
        const HANDLE key = token().eccExportSessionKey(hContainer, ulAlgId, *pPubKey, blob);
        std::memcpy(pData, blob.data(), blob.size());
        *phSessionKey = key;
        return ULONG(SAR_OK);
    });
}

ULONG SKF_ExtECCEncrypt(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pBlob, BYTE* pbPlainText, ULONG ulPlainTextLen,
                        ECCCIPHERBLOB* pCipherText)
{
    return cryptoGuarded([&] {
        token().requireDevice(hDev);
        requireOutput(pbPlainText);
        requireOutput(pCipherText);
        if (ulPlainTextLen == 0 || ulPlainTextLen > kMaxEccData) {
            return ULONG(SAR_INDATALENERR);
        }
        const auto key = sm2Public(pBlob);
        // The caller sized the blob for its plain text: CipherLen bytes of Cipher.
        const auto blob = codec::eccCipherBlobFromDer(crypto::sm2Encrypt(*key, pbPlainText, ulPlainTextLen));
        std::memcpy(pCipherText, blob.data(), blob.size());
        return ULONG(SAR_OK);
    });
}

ULONG SKF_ExtECCDecrypt(DEVHANDLE hDev, ECCPRIVATEKEYBLOB* pBlob, ECCCIPHERBLOB* pCipherText, BYTE* pbPlainText,
                        ULONG* pulPlainTextLen)
{
    return cryptoGuarded([&] {
        token().requireDevice(hDev);
        requireOutput(pCipherText);
        requireOutput(pulPlainTextLen);
        if (pCipherText->CipherLen == 0 || pCipherText->CipherLen > kMaxEccData) {
            return ULONG(SAR_INDATALENERR);
        }
        // C2 is as long as the plain text, so the size is known before decrypting.
        if (!pbPlainText || *pulPlainTextLen < pCipherText->CipherLen) {
            const ULONG code = pbPlainText ? SAR_BUFFER_TOO_SMALL : SAR_OK;
            *pulPlainTextLen = pCipherText->CipherLen;
            return code;
        }
        const auto key = sm2Private(pBlob);
        const auto plain = key.sm2Decrypt(codec::sm2CiphertextDer(*pCipherText));
        return copyOut(plain.data(), plain.size(), pbPlainText, pulPlainTextLen);
    });
}

ULONG SKF_ExtECCSign(DEVHANDLE hDev, ECCPRIVATEKEYBLOB* pBlob, BYTE* pbData, ULONG ulDataLen,
                     ECCSIGNATUREBLOB* pSignature)
{
    return cryptoGuarded([&] {
        token().requireDevice(hDev);
        requireOutput(pbData);
        requireOutput(pSignature);
        if (ulDataLen != 32) {
            return ULONG(SAR_INDATALENERR);
        }
        const auto key = sm2Private(pBlob);
        *pSignature = signatureBlob(crypto::sm2SignDigest(key, pbData, ulDataLen));
        return ULONG(SAR_OK);
    });
}

ULONG SKF_ExtECCVerify(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pBlob, BYTE* pbData, ULONG ulDataLen,
                       ECCSIGNATUREBLOB* pSignature)
{
    return SKF_ECCVerify(hDev, pBlob, pbData, ulDataLen, pSignature);
}

ULONG SKF_GenerateAgreementDataWithECC(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pTempECCPubKeyBlob,
                                       BYTE* pbID, ULONG ulIDLen, HANDLE* phAgreementHandle)
{
    return cryptoGuarded([&] {
        requireOutput(pTempECCPubKeyBlob);
        requireOutput(phAgreementHandle);
        ECCPUBLICKEYBLOB ephemeral{};
        *phAgreementHandle = token().agreementInit(hContainer, ulAlgId, ephemeral, pbID, ulIDLen);
        *pTempECCPubKeyBlob = ephemeral;
        return ULONG(SAR_OK);
    });
}

ULONG SKF_GenerateAgreementDataAndKeyWithECC(HANDLE hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pSponsorECCPubKeyBlob,
                                             ECCPUBLICKEYBLOB* pSponsorTempECCPubKeyBlob,
                                             ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen,
                                             BYTE* pbSponsorID, ULONG ulSponsorIDLen, HANDLE* phKeyHandle)
{
    return cryptoGuarded([&] {
        requireOutput(pSponsorECCPubKeyBlob);
        requireOutput(pSponsorTempECCPubKeyBlob);
        requireOutput(pTempECCPubKeyBlob);
        requireOutput(phKeyHandle);
        ECCPUBLICKEYBLOB ephemeral{};
        *phKeyHandle = token().agreementRespond(hContainer, ulAlgId, *pSponsorECCPubKeyBlob, *pSponsorTempECCPubKeyBlob,
                                                ephemeral, pbID, ulIDLen, pbSponsorID, ulSponsorIDLen);
        *pTempECCPubKeyBlob = ephemeral;
        return ULONG(SAR_OK);
    });
}

ULONG SKF_GenerateKeyWithECC(HANDLE hAgreementHandle, ECCPUBLICKEYBLOB* pECCPubKeyBlob,
                             ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen, HANDLE* phKeyHandle)
{
    return cryptoGuarded([&] {
        requireOutput(pECCPubKeyBlob);
        requireOutput(pTempECCPubKeyBlob);
        requireOutput(phKeyHandle);
        *phKeyHandle = token().agreementFinish(hAgreementHandle, *pECCPubKeyBlob, *pTempECCPubKeyBlob, pbID, ulIDLen);
        return ULONG(SAR_OK);
    });
}

ULONG SKF_ImportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, BYTE* pbWrapedData, ULONG ulWrapedLen, HANDLE* phKey)
{
    return cryptoGuarded([&] {
        requireOutput(pbWrapedData);
        requireOutput(phKey);
        *phKey = token().importSessionKey(hContainer, ulAlgId, pbWrapedData, ulWrapedLen);
        return ULONG(SAR_OK);
    });
}

ULONG SKF_SetSymmKey(DEVHANDLE hDev, BYTE* pbKey, ULONG ulAlgID, HANDLE* phKey)
{
    return cryptoGuarded([&] {
        requireOutput(pbKey);
        requireOutput(phKey);
        *phKey = token().setSymmetricKey(hDev, pbKey, ulAlgID);
        return ULONG(SAR_OK);
    });
}

ULONG SKF_EncryptInit(HANDLE hKey, BLOCKCIPHERPARAM EncryptParam)
{
    return cryptoGuarded([&] {
        token().cipherInit(hKey, EncryptParam, true);
        return ULONG(SAR_OK);
    });
}

ULONG SKF_Encrypt(HANDLE hKey, BYTE* pbData, ULONG ulDataLen, BYTE* pbEncryptedData, ULONG* pulEncryptedLen)
{
    return cryptoGuarded([&] {
        return token().cipherStep(hKey, true, Step::Whole, pbData, ulDataLen, pbEncryptedData, pulEncryptedLen);
    });
}

ULONG SKF_EncryptUpdate(HANDLE hKey, BYTE* pbData, ULONG ulDataLen, BYTE* pbEncryptedData, ULONG* pulEncryptedLen)
{
    return cryptoGuarded([&] {
        return token().cipherStep(hKey, true, Step::Update, pbData, ulDataLen, pbEncryptedData, pulEncryptedLen);
    });
}

ULONG SKF_EncryptFinal(HANDLE hKey, BYTE* pbEncryptedData, ULONG* pulEncryptedDataLen)
{
    return cryptoGuarded(
        [&] { return token().cipherStep(hKey, true, Step::Final, nullptr, 0, pbEncryptedData, pulEncryptedDataLen); });
}

ULONG SKF_DecryptInit(HANDLE hKey, BLOCKCIPHERPARAM DecryptParam)
{
    return cryptoGuarded([&] {
        token().cipherInit(hKey, DecryptParam, false);
        return ULONG(SAR_OK);
    });
}

ULONG SKF_Decrypt(HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen, BYTE* pbData, ULONG* pulDataLen)
{
    return cryptoGuarded([&] {
        return token().cipherStep(hKey, false, Step::Whole, pbEncryptedData, ulEncryptedLen, pbData, pulDataLen);
    });
}

ULONG SKF_DecryptUpdate(HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen, BYTE* pbData, ULONG* pulDataLen)
{
    return cryptoGuarded([&] {
        return token().cipherStep(hKey, false, Step::Update, pbEncryptedData, ulEncryptedLen, pbData, pulDataLen);
    });
}

ULONG SKF_DecryptFinal(HANDLE hKey, BYTE* pbDecryptedData, ULONG* pulDecryptedDataLen)
{
    return cryptoGuarded(
        [&] { return token().cipherStep(hKey, false, Step::Final, nullptr, 0, pbDecryptedData, pulDecryptedDataLen); });
}

ULONG SKF_DigestInit(DEVHANDLE hDev, ULONG ulAlgID, ECCPUBLICKEYBLOB* pPubKey, BYTE* pucID, ULONG ulIDLen,
                     HANDLE* phHash)
{
    return cryptoGuarded([&] {
        requireOutput(phHash);
        requireInput(pucID, ulIDLen);
        *phHash = token().digestInit(hDev, ulAlgID, pPubKey, pucID, ulIDLen);
        return ULONG(SAR_OK);
    });
}

ULONG SKF_Digest(HANDLE hHash, BYTE* pbData, ULONG ulDataLen, BYTE* pbHashData, ULONG* pulHashLen)
{
    return cryptoGuarded(
        [&] { return token().digestStep(hHash, Step::Whole, pbData, ulDataLen, pbHashData, pulHashLen); });
}

ULONG SKF_DigestUpdate(HANDLE hHash, BYTE* pbData, ULONG ulDataLen)
{
    return cryptoGuarded([&] { return token().digestStep(hHash, Step::Update, pbData, ulDataLen, nullptr, nullptr); });
}

ULONG SKF_DigestFinal(HANDLE hHash, BYTE* pHashData, ULONG* pulHashLen)
{
    return cryptoGuarded([&] { return token().digestStep(hHash, Step::Final, nullptr, 0, pHashData, pulHashLen); });
}

ULONG SKF_MacInit(HANDLE hKey, BLOCKCIPHERPARAM* pMacParam, HANDLE* phMac)
{
    return cryptoGuarded([&] {
        requireOutput(pMacParam);
        requireOutput(phMac);
        *phMac = token().macInit(hKey, *pMacParam);
        return ULONG(SAR_OK);
    });
}

ULONG SKF_Mac(HANDLE hMac, BYTE* pbData, ULONG ulDataLen, BYTE* pbMacData, ULONG* pulMacLen)
{
    return cryptoGuarded([&] { return token().macStep(hMac, Step::Whole, pbData, ulDataLen, pbMacData, pulMacLen); });
}

ULONG SKF_MacUpdate(HANDLE hMac, BYTE* pbData, ULONG ulDataLen)
{
    return cryptoGuarded([&] { return token().macStep(hMac, Step::Update, pbData, ulDataLen, nullptr, nullptr); });
}

ULONG SKF_MacFinal(HANDLE hMac, BYTE* pbMacData, ULONG* pulMacDataLen)
{
    return cryptoGuarded([&] { return token().macStep(hMac, Step::Final, nullptr, 0, pbMacData, pulMacDataLen); });
}

ULONG SKF_CloseHandle(HANDLE hHandle)
{
    return guarded([&] {
        token().closeHandle(hHandle);
        return SAR_OK;
    });
}

} // extern "C"
