/*
 * kcarlib: the nki interface of the USB cryptographic token.
 *
 * Contract shared by every nki function:
 *  - C linkage; every function but nkiGetDllDescription answers an unsigned 32-bit
 *    result code (nki_result.h), 0 for success.
 *  - A context comes from nkiCreateContext and goes back with nkiDestroyContext.
 *    The library checks every context it is given: a null, foreign or destroyed
 *    context is answered with NKI_E_INVALID_CONTEXT and never dereferenced.
 *  - All buffers belong to the caller and are used only during the call; the
 *    library allocates nothing that the caller must free.
 *  - Flag bytes count as true when not zero; only the low 8 bits of selector
 *    bytes count.
 *  - On failure, output buffers are left as they were unless a function says
 *    otherwise. No function raises, logs or sets a global error variable.
 *  - One context must be used by one thread at a time; distinct contexts may be
 *    used from distinct threads.
 */
#ifndef KCARLIB_NKI_H
#define KCARLIB_NKI_H

#include <stdint.h>

#include "kcarlib/export.h"
#include "kcarlib/nki_result.h"

KCARLIB_EXTERN_C_BEGIN

/* KCARLIB_MULTI_CARRIER chooses which of the two libraries this header describes.
 *  - Not defined, or 0: the token build, libkcarlib (pkg-config "kcarlib", CMake
 *    target kcarlib::kcarlib). Active tokens only; a context is an opaque pointer.
 *  - 1: the multi-carrier build, libkcarlib-multi (pkg-config "kcarlib-multi",
 *    CMake target kcarlib::kcarlib-multi), which set it for their users. Key
 *    files, container cards, protected data cards and active tokens; a context is
 *    a positive integer (1, 2, 3, ...), and the calls marked "multi-carrier build"
 *    below exist.
 * Define it the same way for every file of a program: the two libraries cannot be
 * used from one program. */
#ifndef KCARLIB_MULTI_CARRIER
#define KCARLIB_MULTI_CARRIER 0
#endif
#if KCARLIB_MULTI_CARRIER
typedef int32_t NKI_CONTEXT;
#else
typedef void *NKI_CONTEXT;
#endif

/* Curve and hash parameters, 372 bytes, byte-exact. Integers little-endian; a field
 * element or integer is stored least significant byte first in a 64-byte slot, of
 * which the first (m + 7) / 8 bytes count. Where the library fills the record it
 * writes zeros into the rest of each slot. */
#pragma pack(push, 1)
typedef struct tagTECParams {
    uint32_t m;          /* degree of GF(2^m) */
    uint32_t k1;         /* first middle exponent; 0 selects an optimal normal basis */
    uint32_t k2;         /* second middle exponent (0 for a trinomial) */
    uint32_t k3;         /* third middle exponent (0 for a trinomial) */
    uint32_t A;          /* curve coefficient A (0 or 1) */
    uint8_t  B[64];      /* curve coefficient B */
    uint8_t  N[64];      /* order of the base point */
    uint8_t  Px[64];     /* base point x */
    uint8_t  Py[64];     /* base point y */
    uint8_t  IV[32];     /* start vector of the GOST 34.311 hash */
    uint8_t  Sbox[64];   /* packed substitution table of the hash and key agreement */
} tagTECParams;

/* Token information, 48 bytes, packed. Filled by nkiGetInfo. */
typedef struct tagTNKIinfo {
    uint8_t  Kind;          /* carrier kind: 3 */
    uint8_t  Serial[8];     /* the token's serial number */
    uint8_t  Alg[4];        /* algorithm identifiers: 1, 1, 1, 1 */
    uint16_t SessionWord;   /* 1 */
    uint8_t  Flags;         /* 0x87 */
    uint32_t Value16;       /* 32 */
    uint32_t Value20;       /* 8 */
    uint32_t HalfSignSize;  /* signature length / 2 */
    uint32_t PointSize;     /* element length * 2 */
    uint32_t Value32;       /* 8 */
    uint32_t Value36;       /* 32 */
    uint32_t Value40;       /* 32 */
    uint32_t SignSize;      /* signature length */
} tagTNKIinfo;
#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(tagTECParams) == 372, "tagTECParams is 372 bytes");
static_assert(sizeof(tagTNKIinfo) == 48, "tagTNKIinfo is 48 bytes");
#else
_Static_assert(sizeof(tagTECParams) == 372, "tagTECParams is 372 bytes");
_Static_assert(sizeof(tagTNKIinfo) == 48, "tagTNKIinfo is 48 bytes");
#endif

/* ---- Context, library and devices ---- */

/* kind 0 (not yet known) or 3 (active token); the multi-carrier build also takes 1
 * (key file), 2 (container card), 4 and 19 (protected data card), and its contexts
 * are numbered 1, 2, 3, ... (the number of the last context destroyed is issued
 * again; gaps are not). Any other kind answers 2 and leaves
 * *context as it was. */
KCARLIB_API uint32_t nkiCreateContext(NKI_CONTEXT *context, uint8_t kind);
/* Destroys the context held by *context (closing its session) and sets it to null. */
KCARLIB_API uint32_t nkiDestroyContext(NKI_CONTEXT *context);
/* 65556 (0x00010014). */
KCARLIB_API uint32_t nkiGetDllVersion(void);
/* A constant text; the same pointer on every call. */
KCARLIB_API const char *nkiGetDllDescription(void);
/* Copies the name of the index-th reader (from 1; only the low 8 bits of index
 * count) into name; with withCard set only readers holding a card count. Index 0
 * answers 0 with an empty name. Not found: 52 and an empty name. The buffer must
 * hold NKI_MAX_READER_NAME bytes. */
#define NKI_MAX_READER_NAME 264
KCARLIB_API uint32_t nkiEnumDevices(int32_t index, uint8_t withCard, char *name);
/* 0 and *kind = 3 when the named reader holds a card; 3 otherwise. */
KCARLIB_API uint32_t nkiGetDeviceType(const char *name, int32_t *kind);
#if KCARLIB_MULTI_CARRIER
/* Multi-carrier build: second names of nkiEnumDevices and nkiGetDeviceType. */
KCARLIB_API uint32_t nkiEnumReaders(int32_t index, uint8_t withCard, char *name);
KCARLIB_API uint32_t nkiGetReaderType(const char *name, int32_t *kind);
/* Multi-carrier build: the text of a result code. language 0x19 in its low byte
 * (Russian, as in 0x0419) gives code page 1251 text, any other English. text must
 * hold NKI_MAX_ERROR_TEXT bytes. Answers 0; 251 when text is null. */
#define NKI_MAX_ERROR_TEXT 85
KCARLIB_API uint32_t nkiErrorMsgLang(int32_t code, int32_t language, char *text);
/* Multi-carrier build: 2 x element length and signature length of the signature
 * set up by nkiInitDS; 54 before it. */
KCARLIB_API uint32_t nkiGetCurrentDsSizes(NKI_CONTEXT context, int32_t *keySize, int32_t *signatureSize);
/* Multi-carrier build: takes no argument, does nothing, answers 0. */
KCARLIB_API uint32_t nkiSetParamSession(void);
#endif
KCARLIB_API uint32_t nkiGetDeviceAtr(const char *name, void *atr, int32_t *length);
KCARLIB_API uint32_t nkiGetDeviceSN(const char *name, char *serial);
KCARLIB_API uint32_t nkiFormat(NKI_CONTEXT context, const char *name, const void *pin, const void *key);
KCARLIB_API uint32_t nkiIOControl(NKI_CONTEXT context, uint32_t code, const void *in, uint32_t inLength,
                                  void *out, uint32_t outCapacity, uint32_t *outLength);

/* ---- Session and token information ---- */

KCARLIB_API uint32_t nkiOpenSession(NKI_CONTEXT context, const char *readerName, void *reserved);
KCARLIB_API uint32_t nkiCloseSession(NKI_CONTEXT context);
KCARLIB_API uint32_t nkiIsCardPresent(NKI_CONTEXT context);
KCARLIB_API uint32_t nkiGetUID(NKI_CONTEXT context, void *uid8);
KCARLIB_API uint32_t nkiGetInfo(NKI_CONTEXT context, tagTNKIinfo *info);
KCARLIB_API uint32_t nkiGetInfoEx(NKI_CONTEXT context, uint32_t code, void *buffer, int32_t *length);
KCARLIB_API uint32_t nkiGetCryptoParams(NKI_CONTEXT context, uint8_t index, void *out, uint32_t *outLength);
KCARLIB_API uint32_t nkiGetRandomByte(NKI_CONTEXT context, void *out1);
KCARLIB_API uint32_t nkiGetRandomBlock(NKI_CONTEXT context, void *out, uint32_t length);
KCARLIB_API uint32_t nkiGenerateSymmKey(NKI_CONTEXT context, void *key32);
KCARLIB_API uint32_t nkiGetSymmKey(NKI_CONTEXT context, void *key32);
KCARLIB_API uint32_t nkiGenerateOwnerKeyPair(NKI_CONTEXT context);
KCARLIB_API uint32_t nkiCreateFutureKey(NKI_CONTEXT context);
KCARLIB_API uint32_t nkiCreateKeyEx(NKI_CONTEXT context, uint32_t keyNumber);
KCARLIB_API uint32_t nkiGetOwnerPublicKey(NKI_CONTEXT context, void *key, uint8_t compressed);
KCARLIB_API uint32_t nkiGetFutureKey(NKI_CONTEXT context, void *key, uint8_t compressed);
KCARLIB_API uint32_t nkiGetKeyEx(NKI_CONTEXT context, uint32_t keyNumber, void *key, uint8_t compressed);
KCARLIB_API uint32_t nkiActivateFutureKey(NKI_CONTEXT context);
KCARLIB_API uint32_t nkiGenerateUserKeyPair(NKI_CONTEXT context, void *privateKey, void *publicKey);
KCARLIB_API uint32_t nkiVerifyUserKeyPair(NKI_CONTEXT context, const void *privateKey, const void *publicKey);

/* ---- PIN and authentication ---- */

KCARLIB_API uint32_t nkiCheckPIN(NKI_CONTEXT context, const void *pin8);
KCARLIB_API uint32_t nkiCheckPINEx(NKI_CONTEXT context, const void *pin, int32_t length);
KCARLIB_API uint32_t nkiForgetPIN(NKI_CONTEXT context);
KCARLIB_API uint32_t nkiChangePIN(NKI_CONTEXT context, const void *oldPin8, const void *newPin8, int32_t mode);
KCARLIB_API uint32_t nkiChangePINEx(NKI_CONTEXT context, const void *oldPin, int32_t oldLength,
                                    const void *newPin, int32_t newLength, int32_t mode);
KCARLIB_API uint32_t nkiChangePassword(NKI_CONTEXT context, const void *key);
KCARLIB_API uint32_t nkiGetAuthSize(NKI_CONTEXT context, int32_t *challengeLength, uint32_t *responseLength);
KCARLIB_API uint32_t nkiDoAuthentification(NKI_CONTEXT context, const void *challenge, void *response);

/* ---- Hash and digital signature ----
 * Two independent hash streams: the general one (nkiInitHash, nkiGetHash,
 * nkiHashUpdate, nkiHashFinal) and the signature stream (nkiInitDS, nkiDSLoadData,
 * nkiSignFinal, nkiVerifyFinal). A final does not reset its stream.
 * Before the first nkiInitHash of a context the general hash uses the default
 * parameters (table Uz34311, zero start vector). Before the first successful
 * nkiInitDS, signing and verification use the token's own curve and hash
 * parameters, as after nkiInitDS(context, NULL); a refused nkiInitDS (251) returns
 * to them. Verification answers 0 (valid) or 129 (invalid); a malformed key or
 * signature is invalid. A signature length of 0 stands for the curve's default. */

KCARLIB_API uint32_t nkiInitHash(NKI_CONTEXT context, const void *iv32, const void *sbox64);
KCARLIB_API uint32_t nkiGetHash(NKI_CONTEXT context, const void *data, uint32_t length, void *hash32);
KCARLIB_API uint32_t nkiHashUpdate(NKI_CONTEXT context, const void *data, uint32_t length);
KCARLIB_API uint32_t nkiHashFinal(NKI_CONTEXT context, void *hash32);
KCARLIB_API uint32_t nkiInitDS(NKI_CONTEXT context, const tagTECParams *params);
KCARLIB_API uint32_t nkiSignHash(NKI_CONTEXT context, const void *hash32, void *signature);
KCARLIB_API uint32_t nkiVerifyHash(NKI_CONTEXT context, const void *hash32, const void *publicKey,
                                   const void *signature, uint8_t compressed);
KCARLIB_API uint32_t nkiVerifyHashEx(NKI_CONTEXT context, const void *hash32, const void *publicKey, uint8_t compressed,
                                     const void *signature, uint32_t signatureLength);
KCARLIB_API uint32_t nkiSignData(NKI_CONTEXT context, const void *data, uint32_t length, void *signature);
KCARLIB_API uint32_t nkiVerifyData(NKI_CONTEXT context, const void *data, uint32_t length, const void *publicKey,
                                   const void *signature, uint8_t compressed);
KCARLIB_API uint32_t nkiVerifyDataEx(NKI_CONTEXT context, const void *data, uint32_t length, const void *publicKey,
                                     uint8_t compressed, const void *signature, uint32_t signatureLength);
KCARLIB_API uint32_t nkiDSLoadData(NKI_CONTEXT context, const void *data, uint32_t length);
KCARLIB_API uint32_t nkiSignFinal(NKI_CONTEXT context, void *signature);
KCARLIB_API uint32_t nkiVerifyFinal(NKI_CONTEXT context, const void *publicKey, const void *signature, uint8_t compressed);
KCARLIB_API uint32_t nkiVerifyFinalEx(NKI_CONTEXT context, const void *publicKey, uint8_t compressed,
                                      const void *signature, uint32_t signatureLength);
KCARLIB_API uint32_t nkiSignCAReq(NKI_CONTEXT context, const void *hash32, uint32_t keyNumber, void *signature,
                                  void *out16);
KCARLIB_API uint32_t nkiSignCAReqEx(NKI_CONTEXT context, const void *data, uint32_t length, uint32_t keyNumber,
                                    void *signature, void *out16);
KCARLIB_API uint32_t nkiSignDoc(NKI_CONTEXT context, const void *data, uint32_t length, void *signature,
                                void *stamp, int32_t *stampLength);
KCARLIB_API uint32_t nkiVerifyDoc(NKI_CONTEXT context, const void *data, uint32_t length, const void *stamp,
                                  uint32_t stampLength, const void *publicKey, const void *signature,
                                  uint8_t compressed);
KCARLIB_API uint32_t nkiVerifyDocEx(NKI_CONTEXT context, const void *data, uint32_t length, const void *stamp,
                                    uint32_t stampLength, const void *publicKey, uint8_t compressed,
                                    const void *signature, uint32_t signatureLength);
KCARLIB_API uint32_t nkiSignDocFinal(NKI_CONTEXT context, void *signature, void *stamp, int32_t *stampLength);
KCARLIB_API uint32_t nkiVerifyDocFinal(NKI_CONTEXT context, const void *stamp, uint32_t stampLength,
                                       const void *publicKey, const void *signature, uint8_t compressed);
KCARLIB_API uint32_t nkiVerifyDocFinalEx(NKI_CONTEXT context, const void *stamp, uint32_t stampLength,
                                         const void *publicKey, uint8_t compressed, const void *signature,
                                         uint32_t signatureLength);

/* ---- Encryption and MAC ----
 * One key and synchronisation message serve encryption and MAC. Until the first
 * nkiInitCipher of a context there is no key: the cipher and MAC calls answer
 * 54 ("Operation was not initialized"). Modes: 1 simple replacement (whole 8-byte
 * blocks only; trailing bytes are left unchanged), 2 gamma, 3 gamma with feedback
 * (both continue across calls); any other mode answers 52. The Hw calls are not
 * implemented in this build (252). */

KCARLIB_API uint32_t nkiInitCipher(NKI_CONTEXT context, const void *key32, const void *sync8, const void *sbox64);
KCARLIB_API uint32_t nkiEncrypt(NKI_CONTEXT context, void *data, uint32_t length, uint8_t mode);
KCARLIB_API uint32_t nkiDecrypt(NKI_CONTEXT context, void *data, uint32_t length, uint8_t mode);
KCARLIB_API uint32_t nkiEncryptUpdate(NKI_CONTEXT context, void *data, uint32_t length, uint8_t mode);
KCARLIB_API uint32_t nkiDecryptUpdate(NKI_CONTEXT context, void *data, uint32_t length, uint8_t mode);
KCARLIB_API uint32_t nkiGetMAC(NKI_CONTEXT context, const void *data, uint32_t length, void *mac8);
KCARLIB_API uint32_t nkiCheckMAC(NKI_CONTEXT context, const void *data, uint32_t length, const void *mac8);
KCARLIB_API uint32_t nkiMACUpdate(NKI_CONTEXT context, const void *data, uint32_t length);
KCARLIB_API uint32_t nkiGetMACFinal(NKI_CONTEXT context, void *mac8);
KCARLIB_API uint32_t nkiCheckMACFinal(NKI_CONTEXT context, const void *mac8);
KCARLIB_API uint32_t nkiResetCipher(NKI_CONTEXT context, const void *sync8);
KCARLIB_API uint32_t nkiGetHwKeyTableSize(NKI_CONTEXT context, void *size);
KCARLIB_API uint32_t nkiGetHwSessionKey(NKI_CONTEXT context, void *a1, void *a2, void *a3, void *a4);
KCARLIB_API uint32_t nkiSetHwSessionKey(NKI_CONTEXT context, void *a1, void *a2, void *a3);
KCARLIB_API uint32_t nkiSetHwSBox(NKI_CONTEXT context, const void *sbox);
KCARLIB_API uint32_t nkiHwInitCipher(NKI_CONTEXT context, void *a1, void *a2, void *a3);
KCARLIB_API uint32_t nkiHwCipherUpdate(NKI_CONTEXT context, void *data, uint32_t length);
KCARLIB_API uint32_t nkiHwGetMac(NKI_CONTEXT context, void *mac);

/* ---- Session keys ----
 * An SK token is L + 4 + S bytes (nkiGetSKTokenSize/Ex); the session key is 32
 * bytes. Only key number 1 is served (else 52). The key is written only when the
 * whole operation succeeds; an incoming SK token that fails a check answers 104. */

KCARLIB_API uint32_t nkiGetSKTokenSize(NKI_CONTEXT context, uint32_t *size);
KCARLIB_API uint32_t nkiGetSKTokenSizeEx(NKI_CONTEXT context, tagTECParams params, uint8_t withMac, uint32_t *size);
KCARLIB_API uint32_t nkiGetSessionKey(NKI_CONTEXT context, void *key32, const void *peerPublicKey,
                                      const void *incomingToken, void *outgoingToken);
KCARLIB_API uint32_t nkiGetSessionKeyEx(NKI_CONTEXT context, void *key32, uint32_t keyNumber, const void *peerPublicKey,
                                        uint8_t compressed, const tagTECParams *params, void *outgoingToken);
KCARLIB_API uint32_t nkiGetSessionKeyMac(NKI_CONTEXT context, void *key32, uint32_t keyNumber,
                                         const void *peerPublicKey, uint8_t compressed, const tagTECParams *params,
                                         void *outgoingToken);
KCARLIB_API uint32_t nkiSetSessionKeyEx(NKI_CONTEXT context, void *key32, uint32_t keyNumber, const void *peerPublicKey,
                                        uint8_t compressed, const tagTECParams *params, const void *incomingToken);
KCARLIB_API uint32_t nkiSetSessionKeyMac(NKI_CONTEXT context, void *key32, uint32_t keyNumber,
                                         const void *incomingToken);

/* ---- Certificates, user file and audit ---- */

KCARLIB_API uint32_t nkiSetCACert(NKI_CONTEXT context, const void *certificate, uint32_t length);
KCARLIB_API uint32_t nkiGetCACert(NKI_CONTEXT context, void *buffer, uint32_t *length);
KCARLIB_API uint32_t nkiClearCACert(NKI_CONTEXT context);
KCARLIB_API uint32_t nkiGetCertSize(NKI_CONTEXT context, uint8_t index, uint32_t *size);
KCARLIB_API uint32_t nkiGetCert(NKI_CONTEXT context, uint8_t index, void *buffer);
KCARLIB_API uint32_t nkiSetCert(NKI_CONTEXT context, const void *certificate, uint32_t length);
KCARLIB_API uint32_t nkiDelCert(NKI_CONTEXT context, uint8_t index);
KCARLIB_API uint32_t nkiGetCertListSize(NKI_CONTEXT context, uint32_t *size);
KCARLIB_API uint32_t nkiGetCertList(NKI_CONTEXT context, void *list);
KCARLIB_API uint32_t nkiGetFileSize(NKI_CONTEXT context, int32_t *size);
KCARLIB_API uint32_t nkiReadFile(NKI_CONTEXT context, void *buffer, uint32_t offset, uint32_t length);
KCARLIB_API uint32_t nkiWriteFile(NKI_CONTEXT context, const void *buffer, uint32_t offset, uint32_t length);
KCARLIB_API uint32_t nkiGetAuditSize(NKI_CONTEXT context, int32_t *size);
KCARLIB_API uint32_t nkiGetAudit(NKI_CONTEXT context, void *data);
KCARLIB_API uint32_t nkiGetAuditRecSize(NKI_CONTEXT context, uint32_t index, int32_t *size);
KCARLIB_API uint32_t nkiGetAuditRec(NKI_CONTEXT context, uint32_t index, void *record);

KCARLIB_EXTERN_C_END

#endif
