/* Result codes of the nki interface. Every export answers one of these; 0 is success. */
#ifndef KCARLIB_NKI_RESULT_H
#define KCARLIB_NKI_RESULT_H

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
#define NKI_E_CRYPTO_INTERNAL        254u   /* internal error of the cryptographic library */
#define NKI_E_FAIL                   255u   /* "Fail" */

/* Carrier kinds. */
#define NKI_KIND_UNKNOWN       0u
#define NKI_KIND_ACTIVE_TOKEN  3u

#endif
