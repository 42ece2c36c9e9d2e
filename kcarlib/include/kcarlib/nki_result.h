/* Result codes of the nki interface. Every export answers one of these; 0 is success. */
#ifndef KCARLIB_NKI_RESULT_H
#define KCARLIB_NKI_RESULT_H

#include <stdint.h>

#define NKI_OK                         0u   /* "No errors" */
#define NKI_E_INVALID_CONTEXT          1u   /* "Invalid context" */
#define NKI_E_UNSUPPORTED_NKI          2u   /* "This type of NKI is not supported" */
#define NKI_E_NOT_CONNECTED            3u   /* "Device haven't connected" */
#define NKI_E_CONTEXT_IN_USE           4u   /* "Context is already used" */
#define NKI_E_NO_SERIAL                5u   /* "Cannot receive device serial number" */
#define NKI_E_SERIAL_NOT_FOUND         6u   /* "Device with given serial number has not found" */
#define NKI_E_INVALID_SERIAL           7u   /* "Invalid serial number" */
#define NKI_E_DEVICE_CORRUPTED        32u   /* "Device is corrupted" */
#define NKI_E_BAD_PASSWORD            33u   /* "Incorrect password or Device is corrupted" */
#define NKI_E_UNSUPPORTED_VERSION     34u   /* "Unsupported version" */
#define NKI_E_CONNECTION_ABORTED      35u   /* "Connection was aborted" */
#define NKI_E_DEVICE_BLOCKED          36u   /* "Device is blocked" */
#define NKI_E_ACCESS_CONDITION        37u   /* "Access condition is incorrect" */
#define NKI_E_NOT_INITIALIZED         38u   /* "Device have not initialized" */
#define NKI_E_PIN_REQUIRED            39u   /* "PIN required" */
#define NKI_E_UNSUPPORTED_CIPHER      48u   /* "Unsupported cipher" */
#define NKI_E_UNSUPPORTED_HASH        49u   /* "Unsupported hash-function" */
#define NKI_E_UNSUPPORTED_DS          50u   /* "Unsupported algorythm of digital sign" */
#define NKI_E_UNSUPPORTED_MODE        51u   /* "Unsupported cipher mode" */
#define NKI_E_OUT_OF_RANGE            52u   /* "Out of range" */
#define NKI_E_INVALID_KEY_STATE       53u   /* "Invalid key state" */
#define NKI_E_NOT_INITIALIZED_OP      54u   /* "Operation was not initialized" */
#define NKI_E_CANNOT_CONNECT          55u   /* "Impossible to connect to NKI" */
#define NKI_E_USER_REFUSED            56u   /* "The user refused to perform operation" */
#define NKI_E_SERVER_ID               57u   /* "Server identification error" */
#define NKI_E_DATA_DAMAGED            58u   /* "Data is damaged or an attempt to use other key is executed" */
#define NKI_E_INVALID_DATA_LENGTH     59u   /* "Invalid data length" */
#define NKI_E_PIN_LENGTH_BASE         64u   /* 64..79: "Invalid PIN or PUK length..." */
#define NKI_E_PRIVATE_KEY_ABSENT      96u   /* "Private key is absent" */
#define NKI_E_KEY_ALREADY_LOADED      97u   /* "Key is already loaded" */
#define NKI_E_KEY_ABSENT              98u   /* "Key is absent" */
#define NKI_E_KEY_MISMATCH            99u   /* "Private & public keys mismatch" */
#define NKI_E_INVALID_TOKEN          104u   /* "Invalid token" */
#define NKI_E_TOKEN_SIGNED           105u   /* "Token is protected with digital signature" */
#define NKI_E_CERT_ABSENT            112u   /* "Certificate is absent" */
#define NKI_E_CERTS_NOT_LOADED       113u   /* "Certificates are not loaded" */
#define NKI_E_CERTS_UNKNOWN_PACKING  114u   /* "Certificates are packed with unknown algorithm" */
#define NKI_E_INVALID_MAC            128u   /* "Invalid MAC" */
#define NKI_E_INVALID_SIGNATURE      129u   /* "Invalid digital sign" */
#define NKI_E_NO_SPACE               144u   /* "Not enough space to complete this operation" */
#define NKI_E_BUFFER_TOO_SMALL       145u   /* "Data buffer too small" */
#define NKI_E_INVALID_PUK_BASE       192u   /* 192..207: "Invalid PUK (n attempts remain)" */
#define NKI_E_INVALID_PIN_BASE       224u   /* 224..239: "Invalid PIN (n attempts remain)" */
#define NKI_E_OBSOLETE               250u   /* "Function is obsoleted" */
#define NKI_E_BAD_ARGUMENTS          251u   /* "Bad arguments" */
#define NKI_E_UNSUPPORTED_FUNCTION   252u   /* "This function is unsupported by device" */
#define NKI_E_IO                     253u   /* "I/O error" */
#define NKI_E_CRYPTO_INTERNAL        254u   /* "Tarnex internal error": internal error of the cryptographic library */
#define NKI_E_FAIL                   255u   /* "Fail" */

/* Carrier kinds. */
#define NKI_KIND_UNKNOWN       0u
#define NKI_KIND_ACTIVE_TOKEN  3u

/* Room for the longest result text and its NUL (English: codes 64-79). */
#define NKI_MAX_RESULT_TEXT 85

/* Writes the decimal digits of n at out (no NUL); answers the end. */
static inline char *nkiResultAppendDecimal(char *out, uint32_t n) {
    char digits[10];
    int count = 0;
    do {
        digits[count++] = (char)('0' + n % 10);
        n /= 10;
    } while (n != 0);
    while (count > 0) *out++ = digits[--count];
    return out;
}

/* The English text of a result code, NUL-terminated, into text (NKI_MAX_RESULT_TEXT
 * bytes). The codes 64-79, 192-207 and 224-239 carry a count that the text spells
 * out; codes without a text of their own give "Unknown error". The multi-carrier
 * build's nkiErrorMsgLang answers the same texts; programs of either build may
 * call this directly. */
static inline void nkiResultText(uint32_t code, char *text) {
    const char *prefix = "Unknown error", *suffix = 0;
    uint32_t number = 0;
    if (code >= 64 && code <= 79) {
        prefix = "Invalid PIN or PUK length. The length of PIN (or PUK) must not exceed ";
        suffix = " characters";
        number = 8 * (code - 64);
    } else if (code >= 192 && code <= 207) {
        prefix = "Invalid PUK (";
        suffix = " attempts remain)";
        number = code - 192;
    } else if (code >= 224 && code <= 239) {
        prefix = "Invalid PIN (";
        suffix = " attempts remain)";
        number = code - 224;
    } else {
        switch (code) {
        case 0: prefix = "No errors"; break;
        case 1: prefix = "Invalid context"; break;
        case 2: prefix = "This type of NKI is not supported"; break;
        case 3: prefix = "Device haven't connected"; break;
        case 4: prefix = "Context is already used"; break;
        case 5: prefix = "Cannot receive device serial number"; break;
        case 6: prefix = "Device with given serial number has not found"; break;
        case 7: prefix = "Invalid serial number"; break;
        case 32: prefix = "Device is corrupted"; break;
        case 33: prefix = "Incorrect password or Device is corrupted"; break;
        case 34: prefix = "Unsupported version"; break;
        case 35: prefix = "Connection was aborted"; break;
        case 36: prefix = "Device is blocked"; break;
        case 37: prefix = "Access condition is incorrect"; break;
        case 38: prefix = "Device have not initialized"; break;
        case 39: prefix = "PIN required"; break;
        case 48: prefix = "Unsupported cipher"; break;
        case 49: prefix = "Unsupported hash-function"; break;
        case 50: prefix = "Unsupported algorythm of digital sign"; break;
        case 51: prefix = "Unsupported cipher mode"; break;
        case 52: prefix = "Out of range"; break;
        case 53: prefix = "Invalid key state"; break;
        case 54: prefix = "Operation was not initialized"; break;
        case 55: prefix = "Impossible to connect to NKI"; break;
        case 56: prefix = "The user refused to perform operation"; break;
        case 57: prefix = "Server identification error"; break;
        case 58: prefix = "Data is damaged or an attempt to use other key is executed"; break;
        case 59: prefix = "Invalid data length"; break;
        case 96: prefix = "Private key is absent"; break;
        case 97: prefix = "Key is already loaded"; break;
        case 98: prefix = "Key is absent"; break;
        case 99: prefix = "Private & public keys mismatch"; break;
        case 104: prefix = "Invalid token"; break;
        case 105: prefix = "Token is protected with digital signature"; break;
        case 112: prefix = "Certificate is absent"; break;
        case 113: prefix = "Certificates are not loaded"; break;
        case 114: prefix = "Certificates are packed with unknown algorithm"; break;
        case 128: prefix = "Invalid MAC"; break;
        case 129: prefix = "Invalid digital sign"; break;
        case 144: prefix = "Not enough space to complete this operation"; break;
        case 145: prefix = "Data buffer too small"; break;
        case 208: prefix = "Error loading NKI Service"; break;
        case 209: prefix = "Service message checksum error"; break;
        case 210: prefix = "Service error"; break;
        case 211: prefix = "Invalid service function name"; break;
        case 212: prefix = "Shared memory error"; break;
        case 213: prefix = "Service interconnection error"; break;
        case 214: prefix = "Service time-out"; break;
        case 215: prefix = "Shared memory initialization error"; break;
        case 216: prefix = "NKI Service fails"; break;
        case 250: prefix = "Function is obsoleted"; break;
        case 251: prefix = "Bad arguments"; break;
        case 252: prefix = "This function is unsupported by device"; break;
        case 253: prefix = "I/O error"; break;
        case 254: prefix = "Tarnex internal error"; break;
        case 255: prefix = "Fail"; break;
        default: break;
        }
    }
    while (*prefix != '\0') *text++ = *prefix++;
    if (suffix != 0) {
        text = nkiResultAppendDecimal(text, number);
        while (*suffix != '\0') *text++ = *suffix++;
    }
    *text = '\0';
}

#endif
