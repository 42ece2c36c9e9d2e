/*
 * kcarlib: DSTU 4145-2002 elliptic-curve cryptography over GF(2^m).
 *
 * Contract shared by every function of this header:
 *  - Plain C functions on caller-owned records; nothing is allocated and no
 *    pointer is kept after a call returns.
 *  - A field element and an integer are both 16 unsigned 32-bit words, least
 *    significant word first (bit i is bit i % 32 of word i / 32). A valid element
 *    of GF(2^m) has no bit set at positions m and above. A double element (an
 *    unreduced product) is 32 words in the same order.
 *  - Setters and checkers answer 1 for success and 0 otherwise; a setter that
 *    refuses leaves the context as it was. Arithmetic routines answer nothing.
 *  - The curve is y^2 + x*y = x^3 + a*x^2 + b. The point at infinity is (0, 0).
 *  - Copy routines take the source first.
 *  - One TEcc with a random source must be used by one thread at a time.
 *
 * Secrets (private keys, the per-signature value, ephemeral keys) are only
 * multiplied through EccScalarMul, whose ladder does not branch on the scalar,
 * and are wiped from the library's stack before every return.
 */
#ifndef KCARLIB_ECC_H
#define KCARLIB_ECC_H

#include <stdint.h>

#include "kcarlib/export.h"
#include "kcarlib/gost.h"

KCARLIB_EXTERN_C_BEGIN

#define ECC_WORDS 16

/* Random-bit source: bit 0 of every result is used. */
typedef int32_t (*TEccRandFunc)(void *ctx);

typedef struct TEcPoint {
    uint32_t x[ECC_WORDS];
    uint32_t y[ECC_WORDS];
} TEcPoint;

/* The curve context. Field order is part of the interface. */
typedef struct TEcc {
    int64_t M;                   /* field degree m; 0 = no field set */
    int64_t K1;                  /* middle exponents of x^m + x^K1 + x^K2 + x^K3 + 1 */
    int64_t K2;
    int64_t K3;
    int32_t Onb;                 /* 1 = optimal normal basis, 0 = polynomial basis */
    uint32_t Poly[ECC_WORDS];    /* the field polynomial as a bit vector */
    int32_t A;                   /* curve coefficient a, 0 or 1 */
    uint32_t B[ECC_WORDS];       /* curve coefficient b */
    uint32_t N[ECC_WORDS];       /* order n of the base point */
    TEcPoint P;                  /* base point */
    int32_t BasePointSet;        /* 1 once P is set */
    int64_t SigLen;              /* signature length in bytes: 2 * byte length of n */
    int64_t Words;               /* 32-bit words holding m bits */
    TEccRandFunc RandFunc;       /* may be null when no randomness is needed */
    void *RandCtx;               /* argument of RandFunc */
} TEcc;

/* Tables. */
KCARLIB_API extern const uint8_t BasisTabPoly[60];   /* m / 2 of the degrees with a polynomial basis */
KCARLIB_API extern const uint32_t IPolTabStd[60];    /* bytes: m / 2, K1, K2, K3 */
KCARLIB_API extern const uint32_t FactorTab[];       /* prime factors of 2^m - 1, see tables.cpp */
KCARLIB_API extern const uint32_t SquareByteTab[256];/* byte b spread to the even bits of 16 */
KCARLIB_API extern const uint32_t Sqrt2u509[ECC_WORDS]; /* floor(sqrt(2^509)) */
/* Optimal normal basis product tables, 2(m - 1) + 1 words each (see tables.cpp). */
KCARLIB_API extern const uint32_t bcfm173[345];
KCARLIB_API extern const uint32_t bcfm179[357];
KCARLIB_API extern const uint32_t bcfm191[381];
KCARLIB_API extern const uint32_t bcfm233[465];
KCARLIB_API extern const uint32_t bcfm239[477];
KCARLIB_API extern const uint32_t bcfm251[501];
KCARLIB_API extern const uint32_t bcfm281[561];
KCARLIB_API extern const uint32_t bcfm293[585];
KCARLIB_API extern const uint32_t bcfm359[717];
KCARLIB_API extern const uint32_t bcfm419[837];
KCARLIB_API extern const uint32_t bcfm431[861];
KCARLIB_API extern const uint32_t bcfm443[885];
KCARLIB_API extern const uint32_t bcfm491[981];
KCARLIB_API extern const uint32_t bcfm509[1017];

/* Copy and clear. */
KCARLIB_API void BaseCopy(const uint32_t *src, uint32_t *dst);
KCARLIB_API void IntCopy(const uint32_t *src, uint32_t *dst);
KCARLIB_API void PointCopy(const TEcPoint *src, TEcPoint *dst);
KCARLIB_API void PointMake(TEcPoint *dst, const uint32_t *x, const uint32_t *y);
KCARLIB_API void BaseClear(uint32_t *a);
KCARLIB_API void IntClear(uint32_t *a);
KCARLIB_API void PointClear(TEcPoint *p);

/* Field elements. Every routine taking a TEcc needs its field set. */
KCARLIB_API void BaseSetOne(const TEcc *ecc, uint32_t *a);
KCARLIB_API int32_t BaseIsZero(const uint32_t *a);
KCARLIB_API int32_t BaseIsEqual(const uint32_t *a, const uint32_t *b);
KCARLIB_API int32_t BaseDegree(const uint32_t *a);          /* 0 for 0 and for 1 */
KCARLIB_API int32_t BaseOnField(const TEcc *ecc, const uint32_t *a);
KCARLIB_API void BaseSum(uint32_t *a, const uint32_t *b);
KCARLIB_API void BaseSumShort(const TEcc *ecc, uint32_t *a, uint32_t v);
KCARLIB_API void BaseMulByX(uint32_t *a);                   /* no reduction */
KCARLIB_API void BaseDivByX(uint32_t *a);
KCARLIB_API void BaseMulByXn(uint32_t *a, int32_t n);       /* n < 0 shifts right */
KCARLIB_API void BaseMulByXD4(uint32_t *c);                 /* 32-word shift by 4 */
KCARLIB_API void BaseReduction(const TEcc *ecc, uint32_t *c); /* 32 words in, result in words 0..15 */
KCARLIB_API void BaseMul(const TEcc *ecc, uint32_t *a, const uint32_t *b);
KCARLIB_API void BaseSquare(const TEcc *ecc, uint32_t *a);
KCARLIB_API void BaseInverse(const TEcc *ecc, uint32_t *a);  /* 0 stays 0 */
KCARLIB_API void BaseExp(const TEcc *ecc, uint32_t *a, const uint32_t *e);
KCARLIB_API void BaseSquareRoot(const TEcc *ecc, const uint32_t *a, uint32_t *out);
KCARLIB_API int32_t BaseTrace(const TEcc *ecc, const uint32_t *a);
KCARLIB_API void BaseHalfTrace(const TEcc *ecc, const uint32_t *a, uint32_t *out);
/* Solves z^2 + u*z = w; answers the number of solutions (0, 1 or 2), z = 0 when none. */
KCARLIB_API int32_t BaseRootOfQuadraticEq(const TEcc *ecc, const uint32_t *u, const uint32_t *w,
                                          uint32_t *z);
KCARLIB_API void BaseGcd(uint32_t *a, const uint32_t *b);

/* Integers below 2^512. The modular routines expect their inputs below n. */
KCARLIB_API int32_t IntIsZero(const uint32_t *a);
KCARLIB_API int32_t IntIsOne(const uint32_t *a);
KCARLIB_API int32_t IntIsEqual(const uint32_t *a, const uint32_t *b);
KCARLIB_API int32_t IntDegree(const uint32_t *a);
KCARLIB_API uint32_t IntAdd(uint32_t *a, const uint32_t *b);  /* answers the carry */
KCARLIB_API uint32_t IntSub(uint32_t *a, const uint32_t *b);  /* answers the borrow */
KCARLIB_API uint32_t IntDec(uint32_t *a, uint32_t v);         /* answers the borrow */
KCARLIB_API void IntMul(uint32_t *a, const uint32_t *b);      /* truncated to 512 bits */
KCARLIB_API int32_t IntCmp(const uint32_t *a, const uint32_t *b);
KCARLIB_API void IntDivBy2(uint32_t *a);
KCARLIB_API void IntAddMod(uint32_t *a, const uint32_t *b, const uint32_t *n);
KCARLIB_API void IntMulMod(uint32_t *a, const uint32_t *b, const uint32_t *n);
KCARLIB_API void IntExpMod(uint32_t *a, const uint32_t *e, const uint32_t *n);

/* Curve setup and validation. */
KCARLIB_API void EccInit(TEcc *ecc, TEccRandFunc rand_func, void *rand_ctx);
KCARLIB_API void EccDone(TEcc *ecc);
KCARLIB_API int32_t EccSetBaseField(TEcc *ecc, int32_t m, int32_t k1, int32_t k2, int32_t k3);
KCARLIB_API int32_t EccSetStdField(TEcc *ecc, int32_t m, int32_t onb);
KCARLIB_API int32_t EccSetCurve(TEcc *ecc, int32_t a, const uint32_t *b, const uint32_t *n);
KCARLIB_API int32_t EccSetStdCurve(TEcc *ecc, int32_t m, int32_t onb);
KCARLIB_API int32_t EccSetBasePoint(TEcc *ecc, const TEcPoint *p);
KCARLIB_API int32_t EccVerifyField(const TEcc *ecc);
KCARLIB_API int32_t EccVerifyCurve(const TEcc *ecc);
KCARLIB_API int32_t EccVerifyPublicKey(const TEcc *ecc, const TEcPoint *q);
KCARLIB_API int32_t EccVerifyBasePoint(const TEcc *ecc);
KCARLIB_API int32_t EccGenerateBasePoint(const TEcc *ecc, TEcPoint *out);

/* Points. */
KCARLIB_API int32_t PointIsEqual(const TEcPoint *p, const TEcPoint *q);
KCARLIB_API void AfNegate(const TEcc *ecc, TEcPoint *p);
KCARLIB_API void AfDouble(const TEcc *ecc, TEcPoint *p);
KCARLIB_API void AfSum(const TEcc *ecc, TEcPoint *p, const TEcPoint *q);
/* r = k*P over bits 0..m-1 of k, in constant time in k; r may be p. */
KCARLIB_API void EccScalarMul(const TEcc *ecc, const uint32_t *k, const TEcPoint *p, TEcPoint *r);
KCARLIB_API void EccShrinkPoint(const TEcc *ecc, const TEcPoint *p, uint32_t *out);
KCARLIB_API void EccExpandPoint(const TEcc *ecc, const uint32_t *in, TEcPoint *out);

/* DSTU 4145 signature: r then s, each little-endian in SigLen / 2 bytes. */
KCARLIB_API int32_t EccGeneratePrivateKey(const TEcc *ecc, uint32_t *d);
KCARLIB_API int32_t EccCalcPublicKey(const TEcc *ecc, const uint32_t *d, TEcPoint *q);
KCARLIB_API int32_t EccSignHash(const TEcc *ecc, const uint32_t *d, const uint8_t *hash,
                                uint8_t *signature);
/* len 0 stands for SigLen. */
KCARLIB_API int32_t EccCheckHash(const TEcc *ecc, const TEcPoint *q, const uint8_t *hash,
                                 const uint8_t *signature, uint32_t len);

/* Conversions. Text is hexadecimal, most significant digit first; the output has
 * 2 * ceil(m / 8) digits and a NUL. Byte arrays: at most 64 bytes count. */
KCARLIB_API void EccBaseFromString(const TEcc *ecc, const char *text, uint32_t *out);
KCARLIB_API void EccIntFromString(const TEcc *ecc, const char *text, uint32_t *out);
KCARLIB_API void EccBaseToString(const TEcc *ecc, const uint32_t *a, char *text);
KCARLIB_API void EccIntToString(const TEcc *ecc, const uint32_t *a, char *text);
KCARLIB_API void EccBaseFromArrayMSB(const TEcc *ecc, const uint8_t *bytes, int64_t count, uint32_t *out);
KCARLIB_API void EccIntFromArrayMSB(const TEcc *ecc, const uint8_t *bytes, int64_t count, uint32_t *out);
KCARLIB_API void EccBaseFromArrayLSB(const TEcc *ecc, const uint8_t *bytes, int64_t count, uint32_t *out);
KCARLIB_API void EccIntFromArrayLSB(const TEcc *ecc, const uint8_t *bytes, int64_t count, uint32_t *out);
KCARLIB_API void EccBaseToArrayMSB(const TEcc *ecc, const uint32_t *a, uint8_t *bytes, int64_t count);
KCARLIB_API void EccIntToArrayMSB(const TEcc *ecc, const uint32_t *a, uint8_t *bytes, int64_t count);
KCARLIB_API void EccBaseToArrayLSB(const TEcc *ecc, const uint32_t *a, uint8_t *bytes, int64_t count);
KCARLIB_API void EccIntToArrayLSB(const TEcc *ecc, const uint32_t *a, uint8_t *bytes, int64_t count);

/* Key agreement: an ephemeral Diffie-Hellman on the curve, two 256-bit keys derived
 * from the shared point with GOST 34.311. Init (one of three), derivations, Done.
 * After a failed init the record is partly set and must still go to EcdhDone. */
typedef struct TEcDHKD {
    TEcc Ecc;        /* curve, base point and random source */
    TGostHash Hash;  /* key-derivation hash with its table and start vector */
} TEcDHKD;

/* sbox64 and iv32 may be null (the hash's defaults). */
KCARLIB_API int32_t EcdhInitAll(TEcDHKD *kd, int32_t m, int32_t k1, int32_t k2, int32_t k3, int32_t a,
                                const uint32_t *b, const uint32_t *n, const TEcPoint *p,
                                const void *sbox64, const void *iv32, TEccRandFunc rand_func,
                                void *rand_ctx);
KCARLIB_API int32_t EcdhInitStd(TEcDHKD *kd, int32_t m, int32_t onb, const TEcPoint *p,
                                const void *sbox64, const void *iv32, TEccRandFunc rand_func,
                                void *rand_ctx);
/* Curve, base point and random source of the template, a zero start vector. */
KCARLIB_API int32_t EcdhInitTpl(TEcDHKD *kd, const TEcc *tpl, const void *sbox64);
KCARLIB_API void EcdhDone(TEcDHKD *kd);
/* Sender: ephemeral e, writes e*P to ephemeral, keys from e*Q. Refuses a Q that is
 * not a point of order n (off the curve, infinity, small or mixed order). */
KCARLIB_API int32_t EcdhDeriveKeySend(TEcDHKD *kd, const TEcPoint *q, uint8_t *key0, uint8_t *key1,
                                      TEcPoint *ephemeral);
/* Receiver: keys from d*R after checking that R is a point of order n. */
KCARLIB_API int32_t EcdhDeriveKeyReceive(TEcDHKD *kd, const TEcPoint *r, const uint32_t *d, uint8_t *key0,
                                         uint8_t *key1);

KCARLIB_EXTERN_C_END

#endif
