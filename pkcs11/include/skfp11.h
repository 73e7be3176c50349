/* Vendor mechanisms of the SKF PKCS#11 module (libskfp11.so), for callers that use SM2 and
 * SM3 through PKCS#11. SM2 keys are CKK_EC objects on the SM2 curve. */
#ifndef SKFP11_H
#define SKFP11_H

#include <p11-kit/pkcs11.h>

/* Base of the module's vendor-defined values. */
#define CKM_SKF_VENDOR_BASE (CKM_VENDOR_DEFINED + 0x534B4600UL)

/* SM2 signature of a 32-byte digest the caller computed; the signature is r||s, 64 bytes. */
#define CKM_SKF_SM2 (CKM_SKF_VENDOR_BASE + 0x01UL)
/* SM3 with SM2: the module computes Z from the public key and the signer's ID (the parameter,
 * else "1234567812345678"), hashes Z||message with SM3 and signs; r||s, 64 bytes. */
#define CKM_SKF_SM3_SM2 (CKM_SKF_VENDOR_BASE + 0x02UL)
/* SM2 decryption of a ciphertext C1||C3||C2. Reserved: the standard SKF functions decrypt
 * with a container's key only into a session key handle and never return the plaintext, so
 * the module does not offer it (C_GetMechanismInfo answers CKR_MECHANISM_INVALID). */
#define CKM_SKF_SM2_CIPHER (CKM_SKF_VENDOR_BASE + 0x03UL)
/* SM3 digest, 32 bytes. */
#define CKM_SKF_SM3 (CKM_SKF_VENDOR_BASE + 0x04UL)
/* SM2 key pair generation on the token (CKM_EC_KEY_PAIR_GEN with the SM2 curve does the same). */
#define CKM_SKF_SM2_KEY_PAIR_GEN (CKM_SKF_VENDOR_BASE + 0x05UL)

/* DER of the SM2 curve's object identifier 1.2.156.10197.1.301, the value of CKA_EC_PARAMS. */
#define SKFP11_SM2_EC_PARAMS "\x06\x08\x2A\x81\x1C\xCF\x55\x01\x82\x2D"
#define SKFP11_SM2_EC_PARAMS_LEN 10

#endif
