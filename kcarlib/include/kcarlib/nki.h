/**
 * @file kcarlib/nki.h
 * @brief kcarlib: the nki interface of the USB cryptographic token.
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
 *
 * Byte orders and sizes at the interface. L is the element length of a curve,
 * (m + 7) / 8 bytes (24 for the token's 191-bit curve).
 *  - Field elements and integers: L bytes, least significant byte first.
 *  - Public keys: uncompressed x then y (2 L bytes), or compressed (L bytes), as
 *    the call's compressed flag says.
 *  - Signatures: r then s, each least significant byte first; the length is
 *    SignSize of tagTNKIinfo (48 for the 191-bit curve).
 *  - Hash values (32 bytes), cipher keys (32), synchronisation messages (8) and
 *    MACs (8): little-endian, as the GOST algorithms define their blocks.
 *
 * PINs are sent to the token as 8-byte blocks: longer PINs are cut to 8 bytes,
 * shorter ones filled with zero bytes. The token counts wrong attempts; a wrong
 * PIN answers 224 + n (n attempts left), a blocked one 36.
 *
 * Calls that this build does not offer answer 252 (NKI_E_UNSUPPORTED_FUNCTION);
 * their entries say so. nkiResultText (nki_result.h) gives the English text of
 * any result code, in either build.
 */
#ifndef KCARLIB_NKI_H
#define KCARLIB_NKI_H

#include <stdint.h>

#include "kcarlib/export.h"
#include "kcarlib/nki_result.h"

KCARLIB_EXTERN_C_BEGIN

/** @def KCARLIB_MULTI_CARRIER
 * KCARLIB_MULTI_CARRIER chooses which of the two libraries this header describes.
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

/** Curve and hash parameters, 372 bytes, byte-exact. Integers little-endian; a field
 * element or integer is stored least significant byte first in a 64-byte slot, of
 * which the first (m + 7) / 8 bytes count. Where the library fills the record it
 * writes zeros into the rest of each slot. */
#pragma pack(push, 1)
typedef struct tagTECParams {
    uint32_t m;          /**< degree of GF(2^m) */
    uint32_t k1;         /**< first middle exponent; 0 selects an optimal normal basis */
    uint32_t k2;         /**< second middle exponent (0 for a trinomial) */
    uint32_t k3;         /**< third middle exponent (0 for a trinomial) */
    uint32_t A;          /**< curve coefficient A (0 or 1) */
    uint8_t  B[64];      /**< curve coefficient B */
    uint8_t  N[64];      /**< order of the base point */
    uint8_t  Px[64];     /**< base point x */
    uint8_t  Py[64];     /**< base point y */
    uint8_t  IV[32];     /**< start vector of the GOST 34.311 hash */
    uint8_t  Sbox[64];   /**< packed substitution table of the hash and key agreement */
} tagTECParams;

/** Token information, 48 bytes, packed. Filled by nkiGetInfo. */
typedef struct tagTNKIinfo {
    uint8_t  Kind;          /**< carrier kind: 3 */
    uint8_t  Serial[8];     /**< the token's serial number */
    uint8_t  Alg[4];        /**< algorithm identifiers: 1, 1, 1, 1 */
    uint16_t SessionWord;   /**< 1 */
    uint8_t  Flags;         /**< 0x87 */
    uint32_t Value16;       /**< 32 */
    uint32_t Value20;       /**< 8 */
    uint32_t HalfSignSize;  /**< signature length / 2 */
    uint32_t PointSize;     /**< element length * 2 */
    uint32_t Value32;       /**< 8 */
    uint32_t Value36;       /**< 32 */
    uint32_t Value40;       /**< 32 */
    uint32_t SignSize;      /**< signature length */
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

/**
 * @brief Creates a library context.
 * @param context receives the new context; left as it was on failure.
 * @param kind carrier kind: 0 (not yet known) or 3 (active token). The
 *        multi-carrier build also takes 1 (key file), 2 (container card), 4 and 19
 *        (protected data card), and its contexts are numbered 1, 2, 3, ... (the
 *        number of the last context destroyed is issued again; gaps are not).
 * @retval 0 success
 * @retval 2 any other kind (NKI_E_UNSUPPORTED_NKI)
 */
KCARLIB_API uint32_t nkiCreateContext(NKI_CONTEXT *context, uint8_t kind);
/**
 * @brief Destroys the context held by *context, closing its session, and sets
 *        *context to null.
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT) (also when *context is already
 *        null)
 */
KCARLIB_API uint32_t nkiDestroyContext(NKI_CONTEXT *context);
/**
 * @brief The interface version: 65556 (0x00010014, interface 1.20). This figure is
 *        fixed by the interface; it is not the project's version.
 * @return the version number (not a result code)
 */
KCARLIB_API uint32_t nkiGetDllVersion(void);
/**
 * @brief A constant description text, "kcarlib version 1.0.1.20, base release
 *        05.february.2009"; the same pointer on every call. Never null.
 */
KCARLIB_API const char *nkiGetDllDescription(void);
/** Bytes of the reader name buffer of nkiEnumDevices. */
#define NKI_MAX_READER_NAME 264
/**
 * @brief Copies the name of the index-th PC/SC reader into name.
 * @param index from 1, in the order the PC/SC service lists the readers; only its
 *        low 8 bits count (257 is 1). Index 0 answers 0 with an empty name.
 * @param withCard not 0: count only readers that hold a card.
 * @param name receives the NUL-terminated reader name; must hold
 *        NKI_MAX_READER_NAME bytes. Empty after a failure.
 * @retval 0 found
 * @retval 52 no such reader, no readers, or no PC/SC service (NKI_E_OUT_OF_RANGE)
 */
KCARLIB_API uint32_t nkiEnumDevices(int32_t index, uint8_t withCard, char *name);
/**
 * @brief Tells whether the named reader holds a card.
 * @param name reader name as nkiEnumDevices gives it (compared byte for byte).
 * @param kind receives 3 (active token) when the reader holds a card. The card
 *        itself is not examined.
 * @retval 0 the reader holds a card
 * @retval 3 no such reader, no card, or no PC/SC service (NKI_E_NOT_CONNECTED)
 */
KCARLIB_API uint32_t nkiGetDeviceType(const char *name, int32_t *kind);
#if KCARLIB_MULTI_CARRIER
/**
 * @brief Multi-carrier build: second name of nkiEnumDevices, with the same
 *        arguments and results.
 * @retval 0 found
 * @retval 52 no such reader
 */
KCARLIB_API uint32_t nkiEnumReaders(int32_t index, uint8_t withCard, char *name);
/**
 * @brief Multi-carrier build: second name of nkiGetDeviceType, with the same
 *        arguments and results.
 * @retval 0 the reader holds a card
 * @retval 3 no such reader or no card
 */
KCARLIB_API uint32_t nkiGetReaderType(const char *name, int32_t *kind);
/**
 * @brief Multi-carrier build: the text of a result code.
 * @param code the result code
 * @param language 0x19 in its low byte (Russian, as in 0x0419) gives code page
 *        1251 text, any other value English: the texts of nkiResultText
 *        (nki_result.h).
 * @param text receives the NUL-terminated text; must hold NKI_MAX_RESULT_TEXT
 *        bytes (Russian texts need at most 69).
 * @retval 0 success
 * @retval 251 text is null
 */
KCARLIB_API uint32_t nkiErrorMsgLang(int32_t code, int32_t language, char *text);
/**
 * @brief Multi-carrier build: sizes of the signature set up by nkiInitDS.
 * @param context a context from nkiCreateContext
 * @param keySize receives 2 x the element length (an uncompressed public key)
 * @param signatureSize receives the signature length
 * @retval 0 success
 * @retval 54 before nkiInitDS (NKI_E_NOT_INITIALIZED_OP)
 */
KCARLIB_API uint32_t nkiGetCurrentDsSizes(NKI_CONTEXT context, int32_t *keySize, int32_t *signatureSize);
/**
 * @brief Multi-carrier build: takes no argument and does nothing.
 * @retval 0 always
 */
KCARLIB_API uint32_t nkiSetParamSession(void);
#endif
/**
 * @brief The answer-to-reset of the card in a reader.
 * @param name reader name
 * @param atr receives the answer-to-reset
 * @param length in: capacity of atr; out: its length
 * @retval 252 always in the token build (NKI_E_UNSUPPORTED_FUNCTION); the arguments
 *        are not looked at
 */
KCARLIB_API uint32_t nkiGetDeviceAtr(const char *name, void *atr, int32_t *length);
/**
 * @brief The serial number of the device in a reader.
 * @retval 252 always in the token build (NKI_E_UNSUPPORTED_FUNCTION); the arguments
 *        are not looked at
 */
KCARLIB_API uint32_t nkiGetDeviceSN(const char *name, char *serial);
/**
 * @brief Formats a carrier (multi-carrier build).
 * @retval 252 always in the token build (NKI_E_UNSUPPORTED_FUNCTION); the arguments
 *        are not looked at
 */
KCARLIB_API uint32_t nkiFormat(NKI_CONTEXT context, const char *name, const void *pin, const void *key);
/**
 * @brief Vendor control codes of the token.
 * @param context a context from nkiCreateContext
 * @param code 0x22204C: pass-through query; in holds the command 80 F2 00 05 01
 *        (attempts left for the PIN) or 80 F2 00 06 01 (for the second reference
 *        datum), at most 255 bytes are sent; out receives the counter (1 byte).
 *        Other commands answer 252 and are not sent.
 *        0x222070: out receives the status word of the last token command
 *        (uint16, 2 bytes). 0x22203C: out receives two uint32, 261 and 0 (8 bytes).
 * @param in,inLength input of the code
 * @param out receives the answer; must hold at least the length given above
 *        (outCapacity is not consulted)
 * @param outCapacity not consulted: out must hold the length given for the code
 * @param outLength receives the number of bytes written to out
 * @retval 0 success
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 252 any other code, or a command the pass-through does not allow
 * @retval other a token refusal passed through: 35 connection lost, 36 PIN blocked, 39
 *        PIN required, 224 + n wrong PIN (n attempts left), 32 any other status word
 */
KCARLIB_API uint32_t nkiIOControl(NKI_CONTEXT context, uint32_t code, const void *in, uint32_t inLength,
                                  void *out, uint32_t outCapacity, uint32_t *outLength);

/* ---- Session and token information ---- */

/**
 * @brief Opens a session on the token in a reader: connects, reads the token's
 *        curve and public keys and seeds the context's random generator.
 * @param context a context from nkiCreateContext
 * @param readerName reader name; null or empty takes the first reader that holds a
 *        card.
 * @param reserved ignored; pass null.
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no reader holds a card, the reader has no token, or the connection
 *           failed (NKI_E_NOT_CONNECTED)
 * @retval 4 the context already has an open session (NKI_E_CONTEXT_IN_USE); it
 *           stays usable
 * @retval 50 the token's base point is not usable (NKI_E_UNSUPPORTED_DS)
 * @retval other a token refusal during the start sequence; the session is then closed
 */
KCARLIB_API uint32_t nkiOpenSession(NKI_CONTEXT context, const char *readerName, void *reserved);
/**
 * @brief Closes the session: disconnects the token. The context stays usable.
 * @param context a context from nkiCreateContext
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED) (also on a second close)
 */
KCARLIB_API uint32_t nkiCloseSession(NKI_CONTEXT context);
/**
 * @brief Tells whether the context has an open session. The token is not asked:
 *        after it is pulled out this still answers 0 until the session is closed.
 * @param context a context from nkiCreateContext
 * @retval 0 a session is open
 * @retval 35 no session (NKI_E_CONNECTION_ABORTED)
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 */
KCARLIB_API uint32_t nkiIsCardPresent(NKI_CONTEXT context);
/**
 * @brief The token's serial number.
 * @param context a context from nkiCreateContext
 * @param uid8 receives 8 bytes.
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 */
KCARLIB_API uint32_t nkiGetUID(NKI_CONTEXT context, void *uid8);
/**
 * @brief Fills the 48-byte token information record (tagTNKIinfo).
 * @param context a context from nkiCreateContext
 * @param info receives the record
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 */
KCARLIB_API uint32_t nkiGetInfo(NKI_CONTEXT context, tagTNKIinfo *info);
/**
 * @brief Extended token information.
 * @retval 252 always in the token build (NKI_E_UNSUPPORTED_FUNCTION); the arguments
 *        are not looked at
 */
KCARLIB_API uint32_t nkiGetInfoEx(NKI_CONTEXT context, uint32_t code, void *buffer, int32_t *length);
/**
 * @brief One of the token's curve and hash parameters.
 * @param context a context from nkiCreateContext
 * @param index 0: m, k1, k2, k3 as four uint32 (16 bytes); 1: A as uint32 (4);
 *        2: B; 3: N; 4: Px; 5: Py (element length L = (m + 7) / 8 bytes each, least
 *        significant byte first; 24 for the 191-bit curve); 6: the hash start vector
 *        (32); 7: the packed substitution table (64); 8: the base point, compressed
 *        (L); 255: the whole tagTECParams record (372).
 * @param out receives the value; null makes the call a length query.
 * @param outLength receives the value's length (0 on an unknown index).
 * @retval 0 success
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 52 any other index (NKI_E_OUT_OF_RANGE)
 * @retval 251 outLength is null (NKI_E_BAD_ARGUMENTS)
 * @retval 252 index 240
 */
KCARLIB_API uint32_t nkiGetCryptoParams(NKI_CONTEXT context, uint8_t index, void *out, uint32_t *outLength);
/**
 * @brief One random byte from the context's generator (seeded by the token when the
 *        session opened).
 * @param context a context from nkiCreateContext
 * @param out1 receives 1 byte.
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 */
KCARLIB_API uint32_t nkiGetRandomByte(NKI_CONTEXT context, void *out1);
/**
 * @brief Random bytes from the context's generator.
 * @param context a context from nkiCreateContext
 * @param out receives length bytes; may be null when length is 0.
 * @param length the number of bytes
 * @retval 0 success (length 0 writes nothing)
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 251 out is null and length is not 0
 */
KCARLIB_API uint32_t nkiGetRandomBlock(NKI_CONTEXT context, void *out, uint32_t length);
/**
 * @brief A fresh 32-byte symmetric key from the context's generator.
 * @param context a context from nkiCreateContext
 * @param key32 receives 32 bytes.
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 */
KCARLIB_API uint32_t nkiGenerateSymmKey(NKI_CONTEXT context, void *key32);
/**
 * @brief A symmetric key held by the carrier.
 * @retval 252 always in the token build (NKI_E_UNSUPPORTED_FUNCTION); the arguments
 *        are not looked at
 */
KCARLIB_API uint32_t nkiGetSymmKey(NKI_CONTEXT context, void *key32);
/**
 * @brief Makes a new owner key pair (key slot 1) on the token; the private key
 *        never leaves it. Needs the PIN (nkiCheckPINEx).
 * @param context a context from nkiCreateContext
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval other a token refusal passed through: 35 connection lost, 36 PIN blocked, 39
 *        PIN required, 224 + n wrong PIN (n attempts left), 32 any other status word
 */
KCARLIB_API uint32_t nkiGenerateOwnerKeyPair(NKI_CONTEXT context);
/**
 * @brief Makes a future key pair (key slot 2) on the token, to become the owner key
 *        later with nkiActivateFutureKey. Needs the PIN.
 * @param context a context from nkiCreateContext
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval other a token refusal passed through: 35 connection lost, 36 PIN blocked, 39
 *        PIN required, 224 + n wrong PIN (n attempts left), 32 any other status word
 */
KCARLIB_API uint32_t nkiCreateFutureKey(NKI_CONTEXT context);
/**
 * @brief Makes a key pair in a key slot.
 * @param context a context from nkiCreateContext
 * @param keyNumber 1 (owner key) or 2 (future key).
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 98 any other key number; nothing is sent (NKI_E_KEY_ABSENT)
 * @retval other a token refusal passed through: 35 connection lost, 36 PIN blocked, 39
 *        PIN required, 224 + n wrong PIN (n attempts left), 32 any other status word
 */
KCARLIB_API uint32_t nkiCreateKeyEx(NKI_CONTEXT context, uint32_t keyNumber);
/**
 * @brief The owner public key (key slot 1).
 * @param context a context from nkiCreateContext
 * @param key receives the key.
 * @param compressed 0: x then y, L bytes each (2 L in all; 48 for the 191-bit
 *        curve); not 0: the compressed point, L bytes. L = (m + 7) / 8; least
 *        significant byte first.
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 98 the slot holds no key (NKI_E_KEY_ABSENT)
 */
KCARLIB_API uint32_t nkiGetOwnerPublicKey(NKI_CONTEXT context, void *key, uint8_t compressed);
/**
 * @brief The future public key (key slot 2).
 * @param context a context from nkiCreateContext
 * @param key receives the key.
 * @param compressed 0: x then y, L bytes each (2 L in all; 48 for the 191-bit
 *        curve); not 0: the compressed point, L bytes. L = (m + 7) / 8; least
 *        significant byte first.
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 98 the slot holds no key (NKI_E_KEY_ABSENT)
 */
KCARLIB_API uint32_t nkiGetFutureKey(NKI_CONTEXT context, void *key, uint8_t compressed);
/**
 * @brief The public key of a key slot.
 * @param context a context from nkiCreateContext
 * @param keyNumber 1 (owner key) or 2 (future key).
 * @param key receives the key.
 * @param compressed 0: x then y, L bytes each (2 L in all; 48 for the 191-bit
 *        curve); not 0: the compressed point, L bytes. L = (m + 7) / 8; least
 *        significant byte first.
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 98 another key number, or an empty slot (NKI_E_KEY_ABSENT)
 */
KCARLIB_API uint32_t nkiGetKeyEx(NKI_CONTEXT context, uint32_t keyNumber, void *key, uint8_t compressed);
/**
 * @brief Makes the future key the owner key. Afterwards nkiGetOwnerPublicKey gives
 *        the former future key and nkiGetFutureKey answers 98. Needs the PIN.
 * @param context a context from nkiCreateContext
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval other a token refusal passed through: 35 connection lost, 36 PIN blocked, 39
 *        PIN required, 224 + n wrong PIN (n attempts left), 32 any other status word
 */
KCARLIB_API uint32_t nkiActivateFutureKey(NKI_CONTEXT context);
/**
 * @brief A key pair held by the application.
 * @retval 252 always in the token build (NKI_E_UNSUPPORTED_FUNCTION); the arguments
 *        are not looked at
 */
KCARLIB_API uint32_t nkiGenerateUserKeyPair(NKI_CONTEXT context, void *privateKey, void *publicKey);
/**
 * @brief Checks a key pair held by the application.
 * @retval 252 always in the token build (NKI_E_UNSUPPORTED_FUNCTION); the arguments
 *        are not looked at
 */
KCARLIB_API uint32_t nkiVerifyUserKeyPair(NKI_CONTEXT context, const void *privateKey, const void *publicKey);

/* ---- PIN and authentication ---- */

/**
 * @brief Presents the PIN (reference 5) to the token.
 * @param context a context from nkiCreateContext
 * @param pin8 8 bytes, zero-filled after a shorter PIN.
 * @retval 0 accepted
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 224 + n wrong PIN, n attempts left (NKI_E_INVALID_PIN_BASE + n)
 * @retval 36 PIN blocked (NKI_E_DEVICE_BLOCKED)
 */
KCARLIB_API uint32_t nkiCheckPIN(NKI_CONTEXT context, const void *pin8);
/**
 * @brief Presents the PIN (reference 5) to the token.
 * @param context a context from nkiCreateContext
 * @param pin the PIN's bytes
 * @param length its length; A PIN is sent as 8 bytes: longer PINs are cut to 8,
 *        shorter ones filled with
 *        zero bytes. The library neither stores nor compares PINs; the token counts the
 *        attempts.
 *        A negative length counts as 0.
 * @retval 0 accepted
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 224 + n wrong PIN, n attempts left (NKI_E_INVALID_PIN_BASE + n)
 * @retval 36 PIN blocked (NKI_E_DEVICE_BLOCKED)
 */
KCARLIB_API uint32_t nkiCheckPINEx(NKI_CONTEXT context, const void *pin, int32_t length);
/**
 * @brief Makes the token forget that the PIN was presented: key operations need
 *        nkiCheckPINEx again.
 * @param context a context from nkiCreateContext
 * @retval 0 success
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 */
KCARLIB_API uint32_t nkiForgetPIN(NKI_CONTEXT context);
/**
 * @brief Changes a PIN; both values are 8 bytes, zero-filled after a shorter PIN.
 * @param context a context from nkiCreateContext
 * @param oldPin8 the current value (8 bytes)
 * @param newPin8 the new value (8 bytes)
 * @param mode 0: change the PIN (reference 5), authorised by the old PIN;
 *        1: change the second reference datum (reference 6), authorised by its old
 *        value; 2: set the second reference datum, authorised by the PIN.
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 52 any other mode; nothing is sent (NKI_E_OUT_OF_RANGE)
 * @retval 224 + n the current value is wrong, n attempts left
 * @retval 36 blocked
 */
KCARLIB_API uint32_t nkiChangePIN(NKI_CONTEXT context, const void *oldPin8, const void *newPin8, int32_t mode);
/**
 * @brief Changes a PIN.
 * @param context a context from nkiCreateContext
 * @param oldPin,oldLength the current value and its length
 * @param newPin,newLength the new value and its length; each is sent as 8 bytes
 *        (cut, or filled with zero bytes; a negative length counts as 0)
 * @param mode 0: change the PIN (reference 5), authorised by the old PIN;
 *        1: change the second reference datum (reference 6), authorised by its old
 *        value; 2: set the second reference datum, authorised by the PIN.
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 52 any other mode; nothing is sent (NKI_E_OUT_OF_RANGE)
 * @retval 224 + n the current value is wrong, n attempts left
 * @retval 36 blocked
 */
KCARLIB_API uint32_t nkiChangePINEx(NKI_CONTEXT context, const void *oldPin, int32_t oldLength,
                                    const void *newPin, int32_t newLength, int32_t mode);
/**
 * @brief Changes a key container's password (multi-carrier build).
 * @retval 252 always in the token build (NKI_E_UNSUPPORTED_FUNCTION); the arguments
 *        are not looked at
 */
KCARLIB_API uint32_t nkiChangePassword(NKI_CONTEXT context, const void *key);
/**
 * @brief Sizes of the token authentication.
 * @param context a context from nkiCreateContext
 * @param challengeLength receives 8
 * @param responseLength receives 64
 * @retval 0 success
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 */
KCARLIB_API uint32_t nkiGetAuthSize(NKI_CONTEXT context, int32_t *challengeLength, uint32_t *responseLength);
/**
 * @brief The token answers a challenge with a response computed with its key.
 * @param context a context from nkiCreateContext
 * @param challenge 8 bytes
 * @param response receives 64 bytes: a 16-byte part, then the 48-byte signature
 *        part; unchanged on failure.
 * @retval 0 success
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval other a token refusal passed through: 35 connection lost, 36 PIN blocked, 39
 *        PIN required, 224 + n wrong PIN (n attempts left), 32 any other status word
 */
KCARLIB_API uint32_t nkiDoAuthentification(NKI_CONTEXT context, const void *challenge, void *response);

/* ---- Hash and digital signature ----
 * Two independent hash streams: the general one (nkiInitHash, nkiGetHash,
 * nkiHashUpdate, nkiHashFinal) and the signature stream (nkiInitDS, nkiDSLoadData,
 * nkiSignFinal, nkiVerifyFinal). A final does not reset its stream.
 * Before the first nkiInitHash of a context the general hash uses the default
 * parameters (table Uz34311, zero start vector). Before the first successful
 * nkiInitDS, signing and verification use the token's own curve and hash
 * parameters, as after nkiInitDS(context, NULL). A refused nkiInitDS (251) changes
 * nothing: the signature stream keeps its parameters and the data already given
 * to nkiDSLoadData. Verification answers 0 (valid) or 129 (invalid); a malformed key or
 * signature is invalid. A signature length of 0 stands for the curve's default. */

/**
 * @brief Sets the parameters of the general hash stream and starts a new message.
 * @param context a context from nkiCreateContext
 * @param iv32 start vector, 32 bytes little-endian; null: zeros.
 * @param sbox64 packed substitution table, 64 bytes; null: the default table.
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 */
KCARLIB_API uint32_t nkiInitHash(NKI_CONTEXT context, const void *iv32, const void *sbox64);
/**
 * @brief GOST 34.311 hash of one whole message on the general stream (restarts it).
 * @param context a context from nkiCreateContext
 * @param data,length the message; data may be null when length is 0.
 * @param hash32 receives the 32-byte hash (little-endian).
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 251 data null with a length, or hash32 null
 */
KCARLIB_API uint32_t nkiGetHash(NKI_CONTEXT context, const void *data, uint32_t length, void *hash32);
/**
 * @brief Adds data to the general hash stream.
 * @param context a context from nkiCreateContext
 * @param data,length the data; data may be null when length is 0
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 251 data null with a length
 */
KCARLIB_API uint32_t nkiHashUpdate(NKI_CONTEXT context, const void *data, uint32_t length);
/**
 * @brief The hash of everything added since the stream started; the stream is not
 *        reset, more data may follow.
 * @param context a context from nkiCreateContext
 * @param hash32 receives 32 bytes.
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 251 hash32 null
 */
KCARLIB_API uint32_t nkiHashFinal(NKI_CONTEXT context, void *hash32);
/**
 * @brief Chooses the curve and hash parameters of signing and verification, and
 *        restarts the signature stream.
 * @param context a context from nkiCreateContext
 * @param params a tagTECParams record; null: the token's own parameters.
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 251 the record does not describe a usable curve; the token's own
 *         parameters are then in force (NKI_E_BAD_ARGUMENTS)
 */
KCARLIB_API uint32_t nkiInitDS(NKI_CONTEXT context, const tagTECParams *params);
/**
 * @brief The token signs a 32-byte hash with the owner key. Needs the PIN.
 * @param context a context from nkiCreateContext
 * @param hash32 32 bytes
 * @param signature receives the signature. Signature: r then s, least significant byte
 *        first; SignSize bytes of tagTNKIinfo (48 for the 191-bit curve).
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 251 a null pointer
 * @retval other a token refusal passed through: 35 connection lost, 36 PIN blocked, 39
 *        PIN required, 224 + n wrong PIN (n attempts left), 32 any other status word
 */
KCARLIB_API uint32_t nkiSignHash(NKI_CONTEXT context, const void *hash32, void *signature);
/**
 * @brief Verifies a signature over a 32-byte hash, in the library.
 * @param context a context from nkiCreateContext
 * @param hash32 32 bytes
 * @param publicKey the signer's key in the form compressed says (see
 *        nkiGetOwnerPublicKey)
 * @param compressed not 0: publicKey is compressed
 * @param signature the signature (default length of the curve)
 * @retval 0 valid
 * @retval 129 not valid; also a malformed key or signature (NKI_E_INVALID_SIGNATURE)
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 */
KCARLIB_API uint32_t nkiVerifyHash(NKI_CONTEXT context, const void *hash32, const void *publicKey,
                                   const void *signature, uint8_t compressed);
/**
 * @brief Verifies a signature of a given length over a 32-byte hash.
 * @param context a context from nkiCreateContext
 * @param hash32 32 bytes
 * @param publicKey the signer's key in the form compressed says (see
 *        nkiGetOwnerPublicKey)
 * @param compressed not 0: publicKey is compressed
 * @param signature,signatureLength the signature; length 0: the curve's default
 * @retval 0 valid
 * @retval 129 not valid; also a malformed key or signature (NKI_E_INVALID_SIGNATURE)
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 */
KCARLIB_API uint32_t nkiVerifyHashEx(NKI_CONTEXT context, const void *hash32, const void *publicKey, uint8_t compressed,
                                     const void *signature, uint32_t signatureLength);
/**
 * @brief Hashes a message with the signature parameters and has the token sign the
 *        hash with the owner key. Needs the PIN. Restarts the signature stream.
 * @param context a context from nkiCreateContext
 * @param data,length the message
 * @param signature receives the signature. Signature: r then s, least significant byte
 *        first; SignSize bytes of tagTNKIinfo (48 for the 191-bit curve).
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 251 a null pointer
 * @retval other a token refusal passed through: 35 connection lost, 36 PIN blocked, 39
 *        PIN required, 224 + n wrong PIN (n attempts left), 32 any other status word
 */
KCARLIB_API uint32_t nkiSignData(NKI_CONTEXT context, const void *data, uint32_t length, void *signature);
/**
 * @brief Verifies a signature over a message (hashed with the signature parameters).
 * @param context a context from nkiCreateContext
 * @param data,length the message
 * @param publicKey the signer's key in the form compressed says (see
 *        nkiGetOwnerPublicKey)
 * @param compressed not 0: publicKey is compressed
 * @param signature the signature (default length)
 * @retval 0 valid
 * @retval 129 not valid; also a malformed key or signature (NKI_E_INVALID_SIGNATURE)
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 */
KCARLIB_API uint32_t nkiVerifyData(NKI_CONTEXT context, const void *data, uint32_t length, const void *publicKey,
                                   const void *signature, uint8_t compressed);
/**
 * @brief Verifies a signature of a given length over a message.
 * @param context a context from nkiCreateContext
 * @param data,length the message
 * @param publicKey the signer's key in the form compressed says (see
 *        nkiGetOwnerPublicKey)
 * @param compressed not 0: publicKey is compressed
 * @param signature,signatureLength the signature; length 0: the curve's default
 * @retval 0 valid
 * @retval 129 not valid; also a malformed key or signature (NKI_E_INVALID_SIGNATURE)
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 */
KCARLIB_API uint32_t nkiVerifyDataEx(NKI_CONTEXT context, const void *data, uint32_t length, const void *publicKey,
                                     uint8_t compressed, const void *signature, uint32_t signatureLength);
/**
 * @brief Adds data to the signature stream, for messages given in pieces (then
 *        nkiSignFinal or nkiVerifyFinal). Start a message with nkiInitDS.
 * @param context a context from nkiCreateContext
 * @param data,length the data; data may be null when length is 0
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 251 data null with a length
 */
KCARLIB_API uint32_t nkiDSLoadData(NKI_CONTEXT context, const void *data, uint32_t length);
/**
 * @brief The token signs the hash of the signature stream. Needs the PIN.
 * @param context a context from nkiCreateContext
 * @param signature receives the signature. Signature: r then s, least significant byte
 *        first; SignSize bytes of tagTNKIinfo (48 for the 191-bit curve).
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval other a token refusal passed through: 35 connection lost, 36 PIN blocked, 39
 *        PIN required, 224 + n wrong PIN (n attempts left), 32 any other status word
 */
KCARLIB_API uint32_t nkiSignFinal(NKI_CONTEXT context, void *signature);
/**
 * @brief Verifies a signature over the signature stream's message.
 * @param context a context from nkiCreateContext
 * @param publicKey the signer's key in the form compressed says (see
 *        nkiGetOwnerPublicKey)
 * @param compressed not 0: publicKey is compressed
 * @param signature the signature (default length)
 * @retval 0 valid
 * @retval 129 not valid; also a malformed key or signature (NKI_E_INVALID_SIGNATURE)
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 */
KCARLIB_API uint32_t nkiVerifyFinal(NKI_CONTEXT context, const void *publicKey, const void *signature, uint8_t compressed);
/**
 * @brief Verifies a signature of a given length over the signature stream's message.
 * @param context a context from nkiCreateContext
 * @param publicKey the signer's key in the form compressed says (see
 *        nkiGetOwnerPublicKey)
 * @param compressed not 0: publicKey is compressed
 * @param signature,signatureLength the signature; length 0: the curve's default
 * @retval 0 valid
 * @retval 129 not valid; also a malformed key or signature (NKI_E_INVALID_SIGNATURE)
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 */
KCARLIB_API uint32_t nkiVerifyFinalEx(NKI_CONTEXT context, const void *publicKey, uint8_t compressed,
                                      const void *signature, uint32_t signatureLength);
/**
 * @brief The token signs a certificate request hash with the key of a key slot.
 * @param context a context from nkiCreateContext
 * @param hash32 32 bytes
 * @param keyNumber the key slot (1..number of slots of the token)
 * @param signature receives 48 bytes
 * @param out16 receives 16 further bytes of the token's answer
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 52 a key number the token does not have
 * @retval 251 a null pointer
 * @retval other a token refusal passed through: 35 connection lost, 36 PIN blocked, 39
 *        PIN required, 224 + n wrong PIN (n attempts left), 32 any other status word
 */
KCARLIB_API uint32_t nkiSignCAReq(NKI_CONTEXT context, const void *hash32, uint32_t keyNumber, void *signature,
                                  void *out16);
/**
 * @brief As nkiSignCAReq, over a message hashed with the signature parameters.
 * @param context a context from nkiCreateContext
 * @param data,length the message
 * @param keyNumber the key slot
 * @param signature receives 48 bytes
 * @param out16 receives 16 bytes
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 52 a key number the token does not have
 * @retval other a token refusal passed through: 35 connection lost, 36 PIN blocked, 39
 *        PIN required, 224 + n wrong PIN (n attempts left), 32 any other status word
 */
KCARLIB_API uint32_t nkiSignCAReqEx(NKI_CONTEXT context, const void *data, uint32_t length, uint32_t keyNumber,
                                    void *signature, void *out16);
/**
 * @brief Document signature completed by the token (multi-carrier build).
 * @retval 252 always in the token build (NKI_E_UNSUPPORTED_FUNCTION); the arguments
 *        are not looked at
 */
KCARLIB_API uint32_t nkiSignDoc(NKI_CONTEXT context, const void *data, uint32_t length, void *signature,
                                void *stamp, int32_t *stampLength);
/**
 * @brief Document signature completed by the token (multi-carrier build).
 * @retval 252 always in the token build (NKI_E_UNSUPPORTED_FUNCTION); the arguments
 *        are not looked at
 */
KCARLIB_API uint32_t nkiVerifyDoc(NKI_CONTEXT context, const void *data, uint32_t length, const void *stamp,
                                  uint32_t stampLength, const void *publicKey, const void *signature,
                                  uint8_t compressed);
/**
 * @brief Document signature completed by the token (multi-carrier build).
 * @retval 252 always in the token build (NKI_E_UNSUPPORTED_FUNCTION); the arguments
 *        are not looked at
 */
KCARLIB_API uint32_t nkiVerifyDocEx(NKI_CONTEXT context, const void *data, uint32_t length, const void *stamp,
                                    uint32_t stampLength, const void *publicKey, uint8_t compressed,
                                    const void *signature, uint32_t signatureLength);
/**
 * @brief Document signature completed by the token (multi-carrier build).
 * @retval 252 always in the token build (NKI_E_UNSUPPORTED_FUNCTION); the arguments
 *        are not looked at
 */
KCARLIB_API uint32_t nkiSignDocFinal(NKI_CONTEXT context, void *signature, void *stamp, int32_t *stampLength);
/**
 * @brief Document signature completed by the token (multi-carrier build).
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 252 otherwise, in the token build
 */
KCARLIB_API uint32_t nkiVerifyDocFinal(NKI_CONTEXT context, const void *stamp, uint32_t stampLength,
                                       const void *publicKey, const void *signature, uint8_t compressed);
/**
 * @brief Document signature completed by the token (multi-carrier build).
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 252 otherwise, in the token build
 */
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

/**
 * @brief Sets the GOST 28147-89 key of encryption and MAC.
 * @param context a context from nkiCreateContext
 * @param key32 32 bytes, little-endian
 * @param sync8 synchronisation message, 8 bytes; null: zeros
 * @param sbox64 packed substitution table, 64 bytes; null: the default table
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 251 key32 null
 */
KCARLIB_API uint32_t nkiInitCipher(NKI_CONTEXT context, const void *key32, const void *sync8, const void *sbox64);
/**
 * @brief Encrypts data in place.
 * @param context a context from nkiCreateContext
 * @param data,length the data
 * @param mode 1: simple replacement (whole 8-byte blocks only; trailing bytes are
 *        left unchanged); 2: gamma; 3: gamma with feedback (2 and 3 continue
 *        across calls).
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 52 any other mode (NKI_E_OUT_OF_RANGE)
 * @retval 54 no key yet: nkiInitCipher first (NKI_E_NOT_INITIALIZED_OP)
 */
KCARLIB_API uint32_t nkiEncrypt(NKI_CONTEXT context, void *data, uint32_t length, uint8_t mode);
/**
 * @brief Decrypts data in place.
 * @param context a context from nkiCreateContext
 * @param data,length the data
 * @param mode 1: simple replacement (whole 8-byte blocks only; trailing bytes are
 *        left unchanged); 2: gamma; 3: gamma with feedback (2 and 3 continue
 *        across calls).
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 52 any other mode (NKI_E_OUT_OF_RANGE)
 * @retval 54 no key yet: nkiInitCipher first (NKI_E_NOT_INITIALIZED_OP)
 */
KCARLIB_API uint32_t nkiDecrypt(NKI_CONTEXT context, void *data, uint32_t length, uint8_t mode);
/**
 * @brief Encrypts (the same operation as nkiEncrypt) data in place.
 * @param context a context from nkiCreateContext
 * @param data,length the data
 * @param mode 1: simple replacement (whole 8-byte blocks only; trailing bytes are
 *        left unchanged); 2: gamma; 3: gamma with feedback (2 and 3 continue
 *        across calls).
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 52 any other mode (NKI_E_OUT_OF_RANGE)
 * @retval 54 no key yet: nkiInitCipher first (NKI_E_NOT_INITIALIZED_OP)
 */
KCARLIB_API uint32_t nkiEncryptUpdate(NKI_CONTEXT context, void *data, uint32_t length, uint8_t mode);
/**
 * @brief Decrypts (the same operation as nkiDecrypt) data in place.
 * @param context a context from nkiCreateContext
 * @param data,length the data
 * @param mode 1: simple replacement (whole 8-byte blocks only; trailing bytes are
 *        left unchanged); 2: gamma; 3: gamma with feedback (2 and 3 continue
 *        across calls).
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 52 any other mode (NKI_E_OUT_OF_RANGE)
 * @retval 54 no key yet: nkiInitCipher first (NKI_E_NOT_INITIALIZED_OP)
 */
KCARLIB_API uint32_t nkiDecryptUpdate(NKI_CONTEXT context, void *data, uint32_t length, uint8_t mode);
/**
 * @brief GOST 28147-89 MAC of one message.
 * @param context a context from nkiCreateContext
 * @param data,length the message
 * @param mac8 receives 8 bytes
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 54 no key yet: nkiInitCipher first (NKI_E_NOT_INITIALIZED_OP)
 */
KCARLIB_API uint32_t nkiGetMAC(NKI_CONTEXT context, const void *data, uint32_t length, void *mac8);
/**
 * @brief Checks the MAC of one message.
 * @param context a context from nkiCreateContext
 * @param data,length the message
 * @param mac8 the expected 8 bytes
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 54 no key yet: nkiInitCipher first (NKI_E_NOT_INITIALIZED_OP)
 * @retval 128 the MAC differs (NKI_E_INVALID_MAC)
 */
KCARLIB_API uint32_t nkiCheckMAC(NKI_CONTEXT context, const void *data, uint32_t length, const void *mac8);
/**
 * @brief Adds data to the MAC stream.
 * @param context a context from nkiCreateContext
 * @param data,length the data; data may be null when length is 0
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 54 no key yet: nkiInitCipher first (NKI_E_NOT_INITIALIZED_OP)
 */
KCARLIB_API uint32_t nkiMACUpdate(NKI_CONTEXT context, const void *data, uint32_t length);
/**
 * @brief The MAC of the MAC stream.
 * @param context a context from nkiCreateContext
 * @param mac8 receives 8 bytes
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 54 no key yet: nkiInitCipher first (NKI_E_NOT_INITIALIZED_OP)
 */
KCARLIB_API uint32_t nkiGetMACFinal(NKI_CONTEXT context, void *mac8);
/**
 * @brief Checks the MAC of the MAC stream.
 * @param context a context from nkiCreateContext
 * @param mac8 the expected 8 bytes
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 54 no key yet: nkiInitCipher first (NKI_E_NOT_INITIALIZED_OP)
 * @retval 128 the MAC differs (NKI_E_INVALID_MAC)
 */
KCARLIB_API uint32_t nkiCheckMACFinal(NKI_CONTEXT context, const void *mac8);
/**
 * @brief Sets a new synchronisation message and restarts the cipher and MAC streams.
 * @param context a context from nkiCreateContext
 * @param sync8 8 bytes; null: zeros
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 54 no key yet: nkiInitCipher first (NKI_E_NOT_INITIALIZED_OP)
 */
KCARLIB_API uint32_t nkiResetCipher(NKI_CONTEXT context, const void *sync8);
/**
 * @brief Cipher in the carrier's hardware.
 * @retval 252 always in the token build (NKI_E_UNSUPPORTED_FUNCTION); the arguments
 *        are not looked at
 */
KCARLIB_API uint32_t nkiGetHwKeyTableSize(NKI_CONTEXT context, void *size);
/**
 * @brief Cipher in the carrier's hardware.
 * @retval 252 always in the token build (NKI_E_UNSUPPORTED_FUNCTION); the arguments
 *        are not looked at
 */
KCARLIB_API uint32_t nkiGetHwSessionKey(NKI_CONTEXT context, void *a1, void *a2, void *a3, void *a4);
/**
 * @brief Cipher in the carrier's hardware.
 * @retval 252 always in the token build (NKI_E_UNSUPPORTED_FUNCTION); the arguments
 *        are not looked at
 */
KCARLIB_API uint32_t nkiSetHwSessionKey(NKI_CONTEXT context, void *a1, void *a2, void *a3);
/**
 * @brief Cipher in the carrier's hardware.
 * @retval 252 always in the token build (NKI_E_UNSUPPORTED_FUNCTION); the arguments
 *        are not looked at
 */
KCARLIB_API uint32_t nkiSetHwSBox(NKI_CONTEXT context, const void *sbox);
/**
 * @brief Cipher in the carrier's hardware.
 * @retval 252 always in the token build (NKI_E_UNSUPPORTED_FUNCTION); the arguments
 *        are not looked at
 */
KCARLIB_API uint32_t nkiHwInitCipher(NKI_CONTEXT context, void *a1, void *a2, void *a3);
/**
 * @brief Cipher in the carrier's hardware.
 * @retval 252 always in the token build (NKI_E_UNSUPPORTED_FUNCTION); the arguments
 *        are not looked at
 */
KCARLIB_API uint32_t nkiHwCipherUpdate(NKI_CONTEXT context, void *data, uint32_t length);
/**
 * @brief Cipher in the carrier's hardware.
 * @retval 252 always in the token build (NKI_E_UNSUPPORTED_FUNCTION); the arguments
 *        are not looked at
 */
KCARLIB_API uint32_t nkiHwGetMac(NKI_CONTEXT context, void *mac);

/* ---- Session keys ----
 * An SK token is L + 4 + S bytes (nkiGetSKTokenSize/Ex); the session key is 32
 * bytes. Only key number 1 is served (else 52). The key is written only when the
 * whole operation succeeds; an incoming SK token that fails a check answers 104.
 * The sending calls (nkiGetSessionKey without an incoming SK token,
 * nkiGetSessionKeyEx, nkiGetSessionKeyMac) answer 251 for a receiver's public key
 * that is not a point of order n on its curve: off the curve, the point at
 * infinity, or a point of small or mixed order such as the compressed key of all
 * zero bytes. */

/**
 * @brief Size of a signed SK token on the token's own curve: L + 4 + signature length
 *        (76 for the 191-bit curve).
 * @param context a context from nkiCreateContext
 * @param size receives the size
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 */
KCARLIB_API uint32_t nkiGetSKTokenSize(NKI_CONTEXT context, uint32_t *size);
/**
 * @brief Size of an SK token whose ephemeral key lies on the given curve.
 * @param context a context from nkiCreateContext
 * @param params the curve, passed by value (372 bytes)
 * @param withMac not 0: MAC-protected (L + 8); 0: signed (L + 4 + signature length)
 * @param size receives the size
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 251 the record does not describe a usable curve
 */
KCARLIB_API uint32_t nkiGetSKTokenSizeEx(NKI_CONTEXT context, tagTECParams params, uint8_t withMac, uint32_t *size);
/**
 * @brief Session key with a peer, both on the token's own curve, in either
 *        direction. SK token: byte 0 L (element length), byte 1 0, byte 2 S (protection length:
 *        the signature length for a signed SK token, 4 for a MAC-protected one), byte 3
 *        type (0 signed, 1 MAC), then the ephemeral public key compressed (L bytes), then
 *        the protection (S bytes); L + 4 + S bytes in all.
 * @param context a context from nkiCreateContext
 * @param key32 receives the 32-byte session key
 * @param peerPublicKey the peer's public key, uncompressed (2 L bytes)
 * @param incomingToken null to send: an SK token is made and signed by the token
 *        (needs the PIN); else the peer's signed SK token to receive
 * @param outgoingToken receives the SK token when sending
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 104 the incoming SK token fails a check (NKI_E_INVALID_TOKEN)
 * @retval 251 outgoingToken null when sending
 * @retval other a token refusal passed through: 35 connection lost, 36 PIN blocked, 39
 *        PIN required, 224 + n wrong PIN (n attempts left), 32 any other status word
 */
KCARLIB_API uint32_t nkiGetSessionKey(NKI_CONTEXT context, void *key32, const void *peerPublicKey,
                                      const void *incomingToken, void *outgoingToken);
/**
 * @brief Sending side of a key agreement: a signed SK token (the token signs; needs
 *        the PIN). Restores the signature parameters to the token's own (as
 *        nkiInitDS(context, NULL)).
 * @param context a context from nkiCreateContext
 * @param key32 receives the 32-byte session key
 * @param keyNumber the receiving key slot; only 1
 * @param peerPublicKey the receiver's public key on its curve
 * @param compressed not 0: peerPublicKey is compressed
 * @param params the receiver's curve and hash parameters
 * @param outgoingToken receives the SK token
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 52 a key number other than 1
 * @retval 251 outgoingToken null, or unusable params
 * @retval other a token refusal passed through: 35 connection lost, 36 PIN blocked, 39
 *        PIN required, 224 + n wrong PIN (n attempts left), 32 any other status word
 */
KCARLIB_API uint32_t nkiGetSessionKeyEx(NKI_CONTEXT context, void *key32, uint32_t keyNumber, const void *peerPublicKey,
                                        uint8_t compressed, const tagTECParams *params, void *outgoingToken);
/**
 * @brief Sending side of a key agreement: a MAC-protected SK token; the token is not
 *        asked.
 * @param context a context from nkiCreateContext
 * @param key32 receives the 32-byte session key
 * @param keyNumber the receiving key slot; only 1
 * @param peerPublicKey the receiver's public key on its curve
 * @param compressed not 0: peerPublicKey is compressed
 * @param params the receiver's curve and hash parameters
 * @param outgoingToken receives the SK token
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 52 a key number other than 1
 * @retval 251 outgoingToken null, or unusable params
 */
KCARLIB_API uint32_t nkiGetSessionKeyMac(NKI_CONTEXT context, void *key32, uint32_t keyNumber,
                                         const void *peerPublicKey, uint8_t compressed, const tagTECParams *params,
                                         void *outgoingToken);
/**
 * @brief Receiving side: checks a signed SK token against the sender's key and has
 *        the token derive the session key (a MAC-protected SK token is passed on to
 *        nkiSetSessionKeyMac).
 * @param context a context from nkiCreateContext
 * @param key32 receives the 32-byte session key; written only on success
 * @param keyNumber the receiving key slot; only 1
 * @param peerPublicKey the sender's public key
 * @param compressed not 0: peerPublicKey is compressed
 * @param params the sender's curve and hash parameters
 * @param incomingToken the SK token
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 52 a key number other than 1
 * @retval 104 the SK token fails a check (NKI_E_INVALID_TOKEN)
 * @retval 251 incomingToken null, or unusable params
 * @retval other a token refusal passed through: 35 connection lost, 36 PIN blocked, 39
 *        PIN required, 224 + n wrong PIN (n attempts left), 32 any other status word
 */
KCARLIB_API uint32_t nkiSetSessionKeyEx(NKI_CONTEXT context, void *key32, uint32_t keyNumber, const void *peerPublicKey,
                                        uint8_t compressed, const tagTECParams *params, const void *incomingToken);
/**
 * @brief Receiving side of a MAC-protected SK token.
 * @param context a context from nkiCreateContext
 * @param key32 receives the 32-byte session key; written only on success
 * @param keyNumber the receiving key slot; only 1
 * @param incomingToken the SK token
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 52 a key number other than 1
 * @retval 104 the SK token fails a check
 * @retval 105 a signed SK token (NKI_E_TOKEN_SIGNED)
 * @retval 251 incomingToken null
 * @retval other a token refusal passed through: 35 connection lost, 36 PIN blocked, 39
 *        PIN required, 224 + n wrong PIN (n attempts left), 32 any other status word
 */
KCARLIB_API uint32_t nkiSetSessionKeyMac(NKI_CONTEXT context, void *key32, uint32_t keyNumber,
                                         const void *incomingToken);

/* ---- Certificates, user file and audit ----
 * The certificate store lives in the token's certificate container; every change
 * writes the whole new store and answers 0 only once all of it is on the token.
 * A write cut short (card pulled, token restarted) leaves the old store or the new
 * one, except inside a window between the first and the last piece it changes
 * within the old data. A write that adds a certificate at the end or removes the
 * last one usually has no window; one that moves records (a CA certificate set
 * or cleared, a certificate removed before others) has. A cut inside the window
 * leaves a container that holds no readable store: it is damaged.
 * A damaged container answers 114 to nkiGetCertSize, nkiGetCert, nkiGetCACert and
 * nkiDelCert, and nothing in it can be read back. The calls that write a whole
 * new store start a fresh one in its place: nkiSetCert writes a store holding only
 * the new certificate, nkiSetCACert one holding only the new CA certificate, and
 * nkiClearCACert an empty store; each answers 0 once the fresh store is written.
 * A container that cannot be read at all (a token or card failure) answers the
 * token's code and nothing is written. */

/**
 * @brief Sets or replaces the CA certificate, the first record of the token's
 *        certificate store (written back in one piece; needs the PIN).
 * @param context a context from nkiCreateContext
 * @param certificate,length the certificate, 1 to 65535 bytes
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 251 certificate null or length 0
 * @retval 144 the certificate store does not fit the token's container
 *        (NKI_E_NO_SPACE)
 * @retval other a token refusal passed through: 35 connection lost, 36 PIN blocked, 39
 *        PIN required, 224 + n wrong PIN (n attempts left), 32 any other status word
 *
 */
KCARLIB_API uint32_t nkiSetCACert(NKI_CONTEXT context, const void *certificate, uint32_t length);
/**
 * @brief The CA certificate.
 * @param context a context from nkiCreateContext
 * @param buffer receives the certificate; null makes the call a length query
 * @param length in: capacity of buffer; out: the certificate's length
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 113 no CA certificate (NKI_E_CERTS_NOT_LOADED)
 * @retval 114 the certificate container cannot be unpacked
 * @retval 145 buffer too small; the needed length is written to length
 *        (NKI_E_BUFFER_TOO_SMALL)
 */
KCARLIB_API uint32_t nkiGetCACert(NKI_CONTEXT context, void *buffer, uint32_t *length);
/**
 * @brief Removes the CA certificate (needs the PIN).
 * @param context a context from nkiCreateContext
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 113 no CA certificate
 * @retval 144 the certificate store does not fit the token's container
 *        (NKI_E_NO_SPACE)
 * @retval other a token refusal passed through: 35 connection lost, 36 PIN blocked, 39
 *        PIN required, 224 + n wrong PIN (n attempts left), 32 any other status word
 */
KCARLIB_API uint32_t nkiClearCACert(NKI_CONTEXT context);
/**
 * @brief Length of a certificate of the store.
 * @param context a context from nkiCreateContext
 * @param index from 1 (1..255)
 * @param size receives the length
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 52 no such certificate (NKI_E_OUT_OF_RANGE)
 * @retval 114 the certificate container cannot be unpacked
 * @retval 251 size null
 *
 */
KCARLIB_API uint32_t nkiGetCertSize(NKI_CONTEXT context, uint8_t index, uint32_t *size);
/**
 * @brief Copies a certificate of the store.
 * @param context a context from nkiCreateContext
 * @param index from 1 (1..255)
 * @param buffer receives the certificate; must hold nkiGetCertSize bytes
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 52 no such certificate
 * @retval 114 the certificate container cannot be unpacked
 * @retval 251 buffer null
 *
 */
KCARLIB_API uint32_t nkiGetCert(NKI_CONTEXT context, uint8_t index, void *buffer);
/**
 * @brief Appends a certificate to the store (the store is written back to the token in
 *        one piece; needs the PIN).
 * @param context a context from nkiCreateContext
 * @param certificate,length the certificate, at most 65535 bytes
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 114 the certificate container cannot be unpacked
 * @retval 251 certificate null with a length
 * @retval 144 the certificate store does not fit the token's container
 *        (NKI_E_NO_SPACE)
 * @retval other a token refusal passed through: 35 connection lost, 36 PIN blocked, 39
 *        PIN required, 224 + n wrong PIN (n attempts left), 32 any other status word
 *
 */
KCARLIB_API uint32_t nkiSetCert(NKI_CONTEXT context, const void *certificate, uint32_t length);
/**
 * @brief Removes a certificate from the store (needs the PIN).
 * @param context a context from nkiCreateContext
 * @param index from 1 (1..255)
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 52 no such certificate
 * @retval 144 the certificate store does not fit the token's container
 *        (NKI_E_NO_SPACE)
 * @retval other a token refusal passed through: 35 connection lost, 36 PIN blocked, 39
 *        PIN required, 224 + n wrong PIN (n attempts left), 32 any other status word
 */
KCARLIB_API uint32_t nkiDelCert(NKI_CONTEXT context, uint8_t index);
/**
 * @brief Size of the certificate list.
 * @retval 252 always in the token build (NKI_E_UNSUPPORTED_FUNCTION); the arguments
 *        are not looked at
 */
KCARLIB_API uint32_t nkiGetCertListSize(NKI_CONTEXT context, uint32_t *size);
/**
 * @brief The certificate list.
 * @retval 252 always in the token build (NKI_E_UNSUPPORTED_FUNCTION); the arguments
 *        are not looked at
 */
KCARLIB_API uint32_t nkiGetCertList(NKI_CONTEXT context, void *list);
/**
 * @brief Size of the token's user file.
 * @param context a context from nkiCreateContext
 * @param size receives its size in bytes
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 */
KCARLIB_API uint32_t nkiGetFileSize(NKI_CONTEXT context, int32_t *size);
/**
 * @brief Reads from the token's user file.
 * @param context a context from nkiCreateContext
 * @param buffer receives length bytes
 * @param offset,length the range; must lie inside the file
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 144 the range goes beyond the file (NKI_E_NO_SPACE)
 * @retval other a token refusal passed through: 35 connection lost, 36 PIN blocked, 39
 *        PIN required, 224 + n wrong PIN (n attempts left), 32 any other status word
 */
KCARLIB_API uint32_t nkiReadFile(NKI_CONTEXT context, void *buffer, uint32_t offset, uint32_t length);
/**
 * @brief Writes into the token's user file (needs the PIN).
 * @param context a context from nkiCreateContext
 * @param buffer length bytes
 * @param offset,length the range; must lie inside the file
 * @retval 0 success
 * @retval 1 invalid context (NKI_E_INVALID_CONTEXT)
 * @retval 3 no open session (NKI_E_NOT_CONNECTED)
 * @retval 144 the range goes beyond the file (NKI_E_NO_SPACE)
 * @retval other a token refusal passed through: 35 connection lost, 36 PIN blocked, 39
 *        PIN required, 224 + n wrong PIN (n attempts left), 32 any other status word
 */
KCARLIB_API uint32_t nkiWriteFile(NKI_CONTEXT context, const void *buffer, uint32_t offset, uint32_t length);
/**
 * @brief The carrier's audit log.
 * @retval 252 always in the token build (NKI_E_UNSUPPORTED_FUNCTION); the arguments
 *        are not looked at
 */
KCARLIB_API uint32_t nkiGetAuditSize(NKI_CONTEXT context, int32_t *size);
/**
 * @brief The carrier's audit log.
 * @retval 252 always in the token build (NKI_E_UNSUPPORTED_FUNCTION); the arguments
 *        are not looked at
 */
KCARLIB_API uint32_t nkiGetAudit(NKI_CONTEXT context, void *data);
/**
 * @brief The carrier's audit log.
 * @retval 252 always in the token build (NKI_E_UNSUPPORTED_FUNCTION); the arguments
 *        are not looked at
 */
KCARLIB_API uint32_t nkiGetAuditRecSize(NKI_CONTEXT context, uint32_t index, int32_t *size);
/**
 * @brief The carrier's audit log.
 * @retval 252 always in the token build (NKI_E_UNSUPPORTED_FUNCTION); the arguments
 *        are not looked at
 */
KCARLIB_API uint32_t nkiGetAuditRec(NKI_CONTEXT context, uint32_t index, void *record);

KCARLIB_EXTERN_C_END

#endif
