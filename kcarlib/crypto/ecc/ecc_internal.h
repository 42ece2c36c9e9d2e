// Routines shared inside the elliptic-curve code; not exported.
// Elements and integers are 16 little-endian 32-bit words, double elements 32.
#pragma once

#include <cstdint>

#include "kcarlib/ecc.h"

namespace kcar::ecc {

constexpr int kWords = 16;
constexpr int kDWords = 32;
// Draws of a random value before a source that keeps repeating an unusable one
// (zero, one) is taken as broken; a working source needs more with negligible
// probability.
constexpr int kMaxRandomDraws = 64;

// Bit access on elements (16 words) and double elements (32 words).
int BitGet(const uint32_t *a, int i);
int DBitGet(const uint32_t *c, int i);
void BitSet(uint32_t *a, int i);
void BitNeg(uint32_t *c, int i);
void DBaseClear(uint32_t *c);

// Spreads the 16 bits of v to the even positions of 32 bits.
uint32_t bbtol(uint32_t v);
// Carry out of bit 31 of a + b (+ carry in) = sum.
uint32_t fcarry(uint32_t a, uint32_t b, uint32_t sum);
// 1 if value is among the first count entries.
int lookup(const uint8_t *table, int count, int value);
int lookupl(const uint32_t *table, int count, uint32_t value);

// The two reduction methods, reachable on their own for cross-checks.
void ReduceWordwise(const TEcc *ecc, uint32_t *c);
void ReduceBitwise(const TEcc *ecc, uint32_t *c);
// Comb multiplication and squaring of the portable path; neither branches on nor
// indexes memory by the values.
void CombMul(const TEcc *ecc, uint32_t *a, const uint32_t *b);
void PortableSquare(const TEcc *ecc, uint32_t *a);

// Optimal normal basis of type II (field_onb.cpp); m is one of the 14 degrees.
// OnbTable gives the bcfm table of m, or null for any other degree.
const uint32_t *OnbTable(int m);
// Bits s..s+31 of the cyclically extended vector v, s = m - 1 - (i mod m).
uint32_t Get32(const uint32_t *v, int i, int m);
void OnbBaseMul(uint32_t *a, const uint32_t *b, int m);
void OnbBaseSquare(uint32_t *a, int m);
void OnbBaseInverse(uint32_t *a, int m);
void OnbBaseIncrement(uint32_t *a, int m);

// Carry-less multiplication path (x86 PCLMULQDQ). ClmulUsable tells whether the
// processor has it and the field's polynomial suits the 64-bit word reduction.
bool ClmulUsable(const TEcc *ecc);
void ClmulMul(const TEcc *ecc, uint32_t *r, const uint32_t *a, const uint32_t *b);
void ClmulSquare(const TEcc *ecc, uint32_t *r, const uint32_t *a);
// Turns the fast path off (for comparing both paths in tests and benchmarks).
void ClmulForceOff(bool off);
// The processor has the carry-less multiplier and the fast path is not off.
bool ClmulAvailable();

// The carry-less path resolved once for a field, for loops of many products.
struct Reducer;
struct ClmulField {
    void (*mul)(const ClmulField &f, uint32_t *r, const uint32_t *a, const uint32_t *b);
    void (*sqr)(const ClmulField &f, uint32_t *r, const uint32_t *a);
    const Reducer *reducer;
    alignas(8) unsigned char reducer_storage[32];
};
bool ClmulFieldFor(const TEcc *ecc, ClmulField *f);

// Carry-less arithmetic specialised for one standard field polynomial, or for one
// normal-basis degree (clmul_fields.cpp): products, squares and the whole
// scalar-multiplication ladder of EccScalarMul, which leaves X1, Z1, X2, Z2 in out,
// all in the context's basis. Null for any other field, or when the carry-less
// path is off or missing. OnbClmulField looks up a normal-basis degree alone.
struct StdClmulField {
    int m, k1, k2, k3;
    void (*mul)(uint32_t *r, const uint32_t *a, const uint32_t *b);
    void (*sqr)(uint32_t *r, const uint32_t *a);
    void (*ladder)(const uint32_t *k, const uint32_t *x, const uint32_t *b, uint32_t (*out)[kWords]);
};
const StdClmulField *StdClmulFieldFor(const TEcc *ecc);
const StdClmulField *OnbClmulField(int m);

// Out-of-place field products, dispatched like BaseMul and BaseSquare; r may alias.
void FieldMul(const TEcc *ecc, uint32_t *r, const uint32_t *a, const uint32_t *b);
void FieldSquare(const TEcc *ecc, uint32_t *r, const uint32_t *a);

// Points.
int EccPointIsInfinity(const TEcPoint *p);
int PointOnCurve(const TEcc *ecc, const TEcPoint *p);
void Madd(const TEcc *ecc, uint32_t *x1, uint32_t *z1, const uint32_t *x2, const uint32_t *z2,
          const uint32_t *x);
void Mdbl(const TEcc *ecc, uint32_t *x, uint32_t *z);
void Mxy(const TEcc *ecc, const TEcPoint *p, uint32_t *x1, uint32_t *z1, uint32_t *x2,
         uint32_t *z2, TEcPoint *r);

// Curves and randomness.
int GetStandardCurve(int m, int onb, int *a, uint32_t *b, uint32_t *n);
void S2B(uint32_t *out, const char *hex);
int VerifyPrimitive(const TEcc *ecc);
int IntIsPrime(const TEcc *ecc, const uint32_t *n);
int VerifyMOV(const TEcc *ecc);
int VecGenRandom(const TEcc *ecc, uint32_t *out, int bits);
int BaseGenRandom(const TEcc *ecc, uint32_t *out);
int IntGenRandom(const TEcc *ecc, uint32_t *out);

// Conversions.
void CvHash2Base(const TEcc *ecc, const uint8_t *hash, uint32_t *out);
void CvBase2Int(const TEcc *ecc, const uint32_t *a, uint32_t *out);
void CvBase2Mem(const uint32_t *words, uint8_t *bytes, int64_t count);
void CvMem2Base(const uint8_t *bytes, uint32_t *words, int64_t count);
int ConvertHexToInt(char c);

// Length of the key-derivation block: (m + 7) / 8 + 1 rounded up to 32.
int64_t KeyBlockLength(const TEcc *ecc);

// Number of bytes of a field element: (m + 7) / 8.
inline int FieldBytes(const TEcc *ecc) { return static_cast<int>((ecc->M + 7) / 8); }

}  // namespace kcar::ecc
