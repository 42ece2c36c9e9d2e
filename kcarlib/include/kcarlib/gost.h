/*
 * kcarlib: GOST 28147-89 cipher (modes 1, 2, 3) and MAC, GOST 34.311-95 hash and
 * the cipher-based random generator.
 *
 * Contract shared by the family:
 *  - Plain C functions on records that the caller owns (on the stack or inside
 *    another record). Nothing allocates, nothing keeps a caller pointer, nothing
 *    reports an error: pointers and lengths are the caller's responsibility.
 *  - Byte order: a 64-bit block is two little-endian 32-bit halves, N1 = bytes
 *    0..3 and N2 = bytes 4..7; a 32-byte key is K1 = bytes 0..3 ... K8 = bytes
 *    28..31, little-endian; a 256-bit hash value is least significant byte first.
 *  - A packed substitution table is 64 bytes: four rows of 16, byte j of row k
 *    holds node 2k+1 for input j in its low nibble and node 2k+2 in its high
 *    nibble. Node 1 substitutes the least significant 4 bits of a round value.
 *  - Every family has an initialising call and a wiping call (MagmaDone,
 *    HashDone, MagmaRngDone); the wipe overwrites the whole record with zeros
 *    and cannot be dropped by the compiler.
 *  - A record may be copied byte for byte; the copy continues independently.
 *  - One record, one thread at a time. The exported tables are read-only.
 */
#ifndef KCARLIB_GOST_H
#define KCARLIB_GOST_H

#include <stdint.h>

#include "kcarlib/export.h"

KCARLIB_EXTERN_C_BEGIN

/* The published substitution tables, packed (64 bytes each). Uz34311 is the
 * table of the GOST 34.311-95 hash (the GOST R 34.11-94 test parameters);
 * UzUa01 is the long-term key element DKE No. 1, default of the generator. */
KCARLIB_API extern const uint8_t Uz34311[64];
KCARLIB_API extern const uint8_t UzUa01[64];

/* GOST 28147-89 cipher and the running state of its stream modes and MAC. */
typedef struct TGostCipher {
    uint8_t  SubstTab[4][256];   /* table k substitutes byte k of a round value */
    uint32_t Key[8];             /* K1..K8 */
    uint32_t RoundKeys[48];      /* K1..K8 x3, K8..K1 x3: encrypt 0..31, decrypt 16..47 */
    uint8_t  Sync[8];            /* mode 2 counter / mode 3 feedback register */
    uint8_t  Mac[8];             /* MAC accumulator */
    uint8_t  SyncInit[8];        /* synchronisation message as last set */
    uint8_t  Gamma[8];           /* current gamma block of mode 2 */
    uint8_t  GammaStart;         /* 1: mode 2 must encrypt Sync before its first block */
    uint32_t Pos;                /* byte position in the mode 2 / mode 3 block */
    uint32_t MacPos;             /* byte position in the MAC block */
    /* SubstTab combined with the round's 11-bit rotation: RoundTab[k][b] is
     * SubstTab[k][b] moved to byte k and rotated left by 11. Derived from
     * SubstTab by MagmaSetUz. */
    uint32_t RoundTab[4][256];
} TGostCipher;

/* Setup. Each of these restarts the stream modes and the MAC: Sync = SyncInit
 * (or the new sync), Mac = 0, Pos = MacPos = 0, GammaStart = 1. */
KCARLIB_API void MagmaSetUz(TGostCipher *cipher, const void *sbox64);
KCARLIB_API void MagmaSetKey(TGostCipher *cipher, const void *key32);
KCARLIB_API void MagmaSetSync(TGostCipher *cipher, const void *sync8);
KCARLIB_API void MagmaClearSync(TGostCipher *cipher);   /* sync of eight zero bytes */
KCARLIB_API void MagmaReset(TGostCipher *cipher);       /* back to SyncInit */
/* MagmaSetUz, MagmaSetKey, MagmaClearSync. sbox64 must not be null. */
KCARLIB_API void MagmaInit(TGostCipher *cipher, const void *sbox64, const void *key32);
/* Wipes the whole record (tables, key, round keys, registers, MAC). */
KCARLIB_API void MagmaDone(TGostCipher *cipher);

/* Data, in place. Mode 1 (simple replacement) works on floor(len / 8) blocks and
 * leaves the last len mod 8 bytes as they are; it does not touch the stream
 * state. Modes 2 (gamma; encrypt = decrypt) and 3 (gamma with feedback) are
 * streams: consecutive calls continue where the last one stopped, so a message
 * may be split at any byte. len 0 changes nothing. Modes 2 and 3 share Sync and
 * Pos: do not mix them on one record without a reset. */
KCARLIB_API void MagmaM1Encrypt(TGostCipher *cipher, void *data, uint32_t len);
KCARLIB_API void MagmaM1Decrypt(TGostCipher *cipher, void *data, uint32_t len);
KCARLIB_API void MagmaM2Encrypt(TGostCipher *cipher, void *data, uint32_t len);
KCARLIB_API void MagmaM2Decrypt(TGostCipher *cipher, void *data, uint32_t len);
KCARLIB_API void MagmaM3Encrypt(TGostCipher *cipher, void *data, uint32_t len);
KCARLIB_API void MagmaM3Decrypt(TGostCipher *cipher, void *data, uint32_t len);

/* MAC (imitation insert, 16-step cycle). Any setup call starts a new MAC; data
 * may be fed in pieces. The get and check calls finalise (a partial last block
 * is zero padded; the empty message gives eight zero bytes) and may be repeated;
 * feeding more data afterwards continues from the finalised state. The 4-byte
 * forms use bytes 0..3. The checks answer 1 on a match, else 0, and take the
 * same time whatever the bytes compared. */
KCARLIB_API void MagmaMAC(TGostCipher *cipher, const void *data, uint32_t len);
KCARLIB_API void MagmaGetMAC(TGostCipher *cipher, void *mac8);
KCARLIB_API void MagmaGetMAC4(TGostCipher *cipher, void *mac4);
KCARLIB_API int MagmaCheckMAC(TGostCipher *cipher, const void *mac8);
KCARLIB_API int MagmaCheckMAC4(TGostCipher *cipher, const void *mac4);

/* GOST 34.311-95 hash. All 256-bit values are 32 bytes, least significant byte
 * first; message bytes enter each block from its least significant byte. */
typedef struct TGostHash {
    TGostCipher Cipher;        /* holds the hash's substitution table */
    uint8_t  StartVector[32];  /* H0 */
    uint8_t  H[32];            /* running hash value */
    uint8_t  Block[32];        /* block being filled */
    uint8_t  Sum[32];          /* control sum of the blocks, mod 2^256 */
    uint8_t  Length[32];       /* message length in bits */
    uint32_t BlockPos;         /* bytes in Block, 0..31 */
} TGostHash;

/* sbox64 null selects Uz34311, startVector32 null a zero start vector. */
KCARLIB_API void HashInit(TGostHash *hash, const void *sbox64, const void *startVector32);
/* New message with the same table and start vector. */
KCARLIB_API void HashClear(TGostHash *hash);
KCARLIB_API void HashUpdate(TGostHash *hash, const void *data, uint32_t len);
/* Hash of everything since the last HashClear. The record is left as it was:
 * more data may follow and HashFinal may be called again. */
KCARLIB_API void HashFinal(TGostHash *hash, void *out32);
KCARLIB_API void HashDone(TGostHash *hash);

/* Building blocks of the hash, exported for callers that compose their own. */
KCARLIB_API void HashStep(TGostHash *hash, const void *block32);     /* H = f(H, block) */
KCARLIB_API void IncreaseHsLen(TGostHash *hash, uint32_t byteCount); /* Length += 8 n, n <= 32 */
KCARLIB_API void AddV256(void *a32, const void *b32);                /* a = a + b mod 2^256 */
KCARLIB_API void XorV256(void *a32, const void *b32);                /* a = a XOR b */
/* Transforms of a 256-bit value; out may be the same buffer as in. */
KCARLIB_API void TransformA(void *out32, const void *in32);     /* A */
KCARLIB_API void TransformP(void *out32, const void *in32);     /* P: out[4k+i] = in[k+8i] */
KCARLIB_API void TransformFu1(void *out32, const void *in32);   /* psi */
KCARLIB_API void TransformFu12(void *out32, const void *in32);  /* psi^12 */
KCARLIB_API void TransformFu61(void *out32, const void *in32);  /* psi^61 */

/* Deterministic random generator of the ANSI X9.17 kind on GOST 28147-89. */
typedef struct TMagmaRng {
    TGostCipher Cipher;
    uint8_t Seed[8];        /* secret state V, replaced after every output block */
    uint8_t TimeBlock[8];   /* I, stored encrypted */
} TMagmaRng;

/* Clears the record and sets Seed to zeros; with a key, then MagmaRngReset with
 * the same arguments. Without a key the record holds a zero key and must be
 * reset with a key before use. */
KCARLIB_API void MagmaRngInit(TMagmaRng *rng, const void *seed8, const void *sbox64, const void *key32,
                              const void *time8);
/* Time block = time8 or the process clock; Seed = seed8 when given; table =
 * sbox64 or UzUa01, with key32 when given (else the loaded key stays); then the
 * time block is encrypted. */
KCARLIB_API void MagmaRngReset(TMagmaRng *rng, const void *seed8, const void *sbox64, const void *key32,
                               const void *time8);
/* Wipes the whole record: cipher, seed and time block. */
KCARLIB_API void MagmaRngDone(TMagmaRng *rng);
/* One bit per output step (two block encryptions). */
KCARLIB_API int MagmaRngNextBit(TMagmaRng *rng);
/* Eight steps; the first step's bit lands in bit 0. */
KCARLIB_API uint8_t MagmaRngNext8Bit(TMagmaRng *rng);
/* len bytes of MagmaRngNext8Bit; len <= 0 writes and draws nothing. */
KCARLIB_API void MagmaRngBuf(TMagmaRng *rng, void *out, int64_t len);

/* Random callback handed to the elliptic-curve code: one bit from the generator
 * of the library context that context points to. */
KCARLIB_API int iRngFunc(void *context);

KCARLIB_EXTERN_C_END

#endif
