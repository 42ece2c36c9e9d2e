// DSTU 4145-2002 signature: key generation, signing and verification.
// Integers are 16 little-endian 32-bit words. A signature of L = SigLen bytes holds
// r in bytes 0..L/2 - 1 and s in bytes L/2..L - 1, each least significant byte first.
#include <cstring>

#include "crypto/ecc/ecc_internal.h"
#include "crypto/ct_check.h"
#include "crypto/secure_wipe.h"

namespace kcar::ecc {

namespace {

// Montgomery product t = a * b / 2^512 mod n for a, b < n and n odd, by word-wise
// interleaved reduction with a fixed number of steps and a masked final
// subtraction: a is the private key when signing.
void MontMul(uint32_t *out, const uint32_t *a, const uint32_t *b, const uint32_t *n) {
    uint32_t inv = 1;  // n^-1 mod 2^32 by Newton's iteration
    for (int i = 0; i < 5; ++i) inv *= 2 - n[0] * inv;
    const uint32_t n0 = 0u - inv;
    uint32_t t[kWords + 2] = {};
    for (int i = 0; i < kWords; ++i) {
        uint64_t c = 0;
        for (int j = 0; j < kWords; ++j) {
            c += static_cast<uint64_t>(t[j]) + static_cast<uint64_t>(a[j]) * b[i];
            t[j] = static_cast<uint32_t>(c);
            c >>= 32;
        }
        c += t[kWords];
        t[kWords] = static_cast<uint32_t>(c);
        t[kWords + 1] = static_cast<uint32_t>(c >> 32);
        const uint32_t q = t[0] * n0;
        c = (static_cast<uint64_t>(t[0]) + static_cast<uint64_t>(q) * n[0]) >> 32;
        for (int j = 1; j < kWords; ++j) {
            c += static_cast<uint64_t>(t[j]) + static_cast<uint64_t>(q) * n[j];
            t[j - 1] = static_cast<uint32_t>(c);
            c >>= 32;
        }
        c += t[kWords];
        t[kWords - 1] = static_cast<uint32_t>(c);
        t[kWords] = t[kWords + 1] + static_cast<uint32_t>(c >> 32);
    }
    // t < 2n: subtract n unless that borrows beyond the top word.
    uint32_t d[kWords];
    std::memcpy(d, t, sizeof d);
    const uint32_t borrow = IntSub(d, n);
    const uint32_t keep = 0u - (borrow & ~t[kWords] & 1u);
    for (int w = 0; w < kWords; ++w) out[w] = (t[w] & keep) | (d[w] & ~keep);
    SecureWipe(t, sizeof t);
    SecureWipe(d, sizeof d);
}

// a = a * b mod n for the private key a and the public b, both below n: b is
// brought to b * 2^512 mod n (variable time, b is public), and one Montgomery
// product removes the factor again.
void MulModConstTime(uint32_t *a, const uint32_t *b, const uint32_t *n) {
    uint32_t r[kWords] = {}, one[kWords] = {1}, bm[kWords];
    IntSub(r, n);           // 2^512 - n
    IntMulMod(r, one, n);   // 2^512 mod n
    IntCopy(b, bm);
    IntMulMod(bm, r, n);    // b * 2^512 mod n
    MontMul(a, a, bm, n);
}

// 1 if 0 < d < n, without a branch on the words of d; only the answer is public.
int32_t KeyInRange(const uint32_t *d, const uint32_t *n) {
    uint32_t t[kWords];
    IntCopy(d, t);
    const uint32_t below = IntSub(t, n);  // borrow: d < n
    SecureWipe(t, sizeof t);
    const int32_t ok = static_cast<int32_t>(below & static_cast<uint32_t>(!IntIsZero(d)));
    kcar::CtPublic(&ok, sizeof ok);
    return ok;
}

// A half of a signature longer than 64 bytes must have nothing beyond them.
bool HighBytesZero(const uint8_t *half, int64_t len) {
    for (int64_t i = 4 * kWords; i < len; ++i)
        if (half[i]) return false;
    return true;
}

}  // namespace

}  // namespace kcar::ecc

using namespace kcar::ecc;

extern "C" {

KCARLIB_API int32_t EccGeneratePrivateKey(const TEcc *ecc, uint32_t *d) {
    if (!ecc->BasePointSet || ecc->RandFunc == nullptr) return 0;
    // A working source gives zero with negligible probability; one that keeps
    // giving it is broken, and is refused rather than waited on for ever.
    for (int draw = 0; draw < kMaxRandomDraws; ++draw) {
        IntGenRandom(ecc, d);
        const int32_t zero = IntIsZero(d);  // tells nothing about a key that is kept
        kcar::CtPublic(&zero, sizeof zero);
        if (!zero) return 1;
    }
    return 0;
}

KCARLIB_API int32_t EccCalcPublicKey(const TEcc *ecc, const uint32_t *d, TEcPoint *q) {
    if (!ecc->BasePointSet) return 0;
    TEcPoint p;
    PointCopy(&ecc->P, &p);
    AfNegate(ecc, &p);
    EccScalarMul(ecc, d, &p, q);
    return 1;
}

KCARLIB_API int32_t EccSignHash(const TEcc *ecc, const uint32_t *d, const uint8_t *hash,
                                uint8_t *signature) {
    if (!ecc->BasePointSet || ecc->RandFunc == nullptr) return 0;
    // A key outside 1..n-1 cannot give a valid signature.
    if (!KeyInRange(d, ecc->N)) return 0;
    uint32_t e[kWords], h[kWords], y[kWords], r[kWords], s[kWords];
    TEcPoint rp;
    CvHash2Base(ecc, hash, h);
    bool found = false;
    for (int draw = 0; draw < kMaxRandomDraws && !found; ++draw) {
        IntGenRandom(ecc, e);
        EccScalarMul(ecc, e, &ecc->P, &rp);
        // r and s are the signature: public once computed. A zero x of eP gives
        // r = 0 and is drawn again with it.
        FieldMul(ecc, y, h, rp.x);
        CvBase2Int(ecc, y, r);
        kcar::CtPublic(r, sizeof r);
        if (IntIsZero(r)) continue;
        IntCopy(d, s);
        MulModConstTime(s, r, ecc->N);
        IntAddMod(s, e, ecc->N);
        kcar::CtPublic(s, sizeof s);
        if (IntIsZero(s)) continue;
        found = true;
    }
    if (!found) {  // the random source is broken
        kcar::SecureWipe(e, sizeof e);
        kcar::SecureWipe(s, sizeof s);
        kcar::SecureWipe(&rp, sizeof rp);
        kcar::SecureWipe(y, sizeof y);
        return 0;
    }
    const int64_t half = ecc->SigLen / 2;
    CvBase2Mem(r, signature, half);
    CvBase2Mem(s, signature + half, half);
    kcar::SecureWipe(e, sizeof e);
    kcar::SecureWipe(s, sizeof s);
    kcar::SecureWipe(&rp, sizeof rp);
    kcar::SecureWipe(y, sizeof y);
    return 1;
}

KCARLIB_API int32_t EccCheckHash(const TEcc *ecc, const TEcPoint *q, const uint8_t *hash,
                                 const uint8_t *signature, uint32_t len) {
    if (!ecc->BasePointSet) return 0;
    const int64_t total = len == 0 ? ecc->SigLen : static_cast<int64_t>(len);
    if (total < ecc->SigLen || (total & 1)) return 0;
    const int64_t half = total / 2;
    if (!HighBytesZero(signature, half) || !HighBytesZero(signature + half, half)) return 0;
    uint32_t r[kWords], s[kWords], h[kWords], y[kWords], r2[kWords];
    CvMem2Base(signature, r, half);
    CvMem2Base(signature + half, s, half);
    CvHash2Base(ecc, hash, h);
    if (IntIsZero(r) || IntIsZero(s) || IntCmp(r, ecc->N) >= 0 || IntCmp(s, ecc->N) >= 0) return 0;
    TEcPoint sp, rq;
    EccScalarMul(ecc, s, &ecc->P, &sp);
    EccScalarMul(ecc, r, q, &rq);
    AfSum(ecc, &sp, &rq);
    FieldMul(ecc, y, h, sp.x);
    CvBase2Int(ecc, y, r2);
    return IntIsEqual(r, r2);
}

}  // extern "C"
