// Points of y^2 + xy = x^3 + ax^2 + b: affine arithmetic, the scalar multiplication
// ladder and point compression. Coordinates are field elements (16 little-endian
// 32-bit words); the point at infinity is (0, 0), which no curve with b != 0 holds.
#include <cstring>

#include "crypto/ecc/ecc_internal.h"
#include "crypto/ct_check.h"
#include "crypto/secure_wipe.h"

namespace kcar::ecc {

namespace {

using Elem = uint32_t[kWords];

// Exchanges the two pairs when flag is 1, without branching on it.
void CondSwap(uint32_t flag, uint32_t *x1, uint32_t *z1, uint32_t *x2, uint32_t *z2) {
    const uint32_t mask = 0u - flag;
    for (int i = 0; i < kWords; ++i) {
        uint32_t t = (x1[i] ^ x2[i]) & mask;
        x1[i] ^= t;
        x2[i] ^= t;
        t = (z1[i] ^ z2[i]) & mask;
        z1[i] ^= t;
        z2[i] ^= t;
    }
}


struct PortableOps {
    const TEcc *ecc;
    void Mul(uint32_t *r, const uint32_t *a, const uint32_t *b) const { FieldMul(ecc, r, a, b); }
    void Sqr(uint32_t *r, const uint32_t *a) const { FieldSquare(ecc, r, a); }
};

struct FastOps {
    const ClmulField *f;
    void Mul(uint32_t *r, const uint32_t *a, const uint32_t *b) const { f->mul(*f, r, a, b); }
    void Sqr(uint32_t *r, const uint32_t *a) const { f->sqr(*f, r, a); }
};

// Everything the ladder touches, wiped once at its end.
struct LadderState {
    Elem x1, z1, x2, z2, t, u, v;
    uint32_t swapped;
};

inline void Add(uint32_t *a, const uint32_t *b) {
    for (int i = 0; i < kWords; ++i) a[i] ^= b[i];
}

// Leaves (X1, Z1) = kP and (X2, Z2) = (k + 1)P for the bits 0..m-1 of k. Each step
// is Madd into the pair selected by the bit, then Mdbl of the other, done as a
// conditional swap around one fixed sequence of operations.
template <class Ops>
void Ladder(const Ops &op, const TEcc *ecc, const uint32_t *k, const uint32_t *x, LadderState &s) {
    std::memset(&s, 0, sizeof s);
    BaseSetOne(ecc, s.x1);  // (X1, Z1) = (1, 0), the point at infinity
    BaseCopy(x, s.x2);
    BaseSetOne(ecc, s.z2);
    for (int j = static_cast<int>(ecc->M) - 1; j >= 0; --j) {
        const uint32_t bit = (k[j >> 5] >> (j & 31)) & 1u;
        CondSwap(s.swapped ^ bit, s.x1, s.z1, s.x2, s.z2);
        s.swapped = bit;
        // Madd: (X2, Z2) += (X1, Z1)
        op.Mul(s.x2, s.x2, s.z1);
        op.Mul(s.z2, s.z2, s.x1);
        op.Mul(s.t, s.x2, s.z2);
        Add(s.z2, s.x2);
        op.Sqr(s.z2, s.z2);
        op.Mul(s.x2, x, s.z2);
        Add(s.x2, s.t);
        // Mdbl: (X1, Z1) = 2 (X1, Z1)
        op.Sqr(s.u, s.x1);
        op.Sqr(s.v, s.z1);
        op.Mul(s.z1, s.u, s.v);
        op.Sqr(s.x1, s.u);
        op.Sqr(s.v, s.v);
        op.Mul(s.v, s.v, ecc->B);
        Add(s.x1, s.v);
    }
    CondSwap(s.swapped, s.x1, s.z1, s.x2, s.z2);
}

}  // namespace

int EccPointIsInfinity(const TEcPoint *p) { return BaseIsZero(p->x) && BaseIsZero(p->y); }

int PointOnCurve(const TEcc *ecc, const TEcPoint *p) {
    Elem t, s;
    BaseCopy(p->x, t);
    BaseSum(t, p->y);
    FieldMul(ecc, t, t, p->y);
    FieldSquare(ecc, s, p->x);
    if (ecc->A == 1) BaseSum(t, s);
    FieldMul(ecc, s, s, p->x);
    BaseSum(t, s);
    BaseSum(t, ecc->B);
    return BaseIsZero(t);
}

// (X1, Z1) = (X1, Z1) + (X2, Z2), where the two differ by the point of x-coordinate x.
void Madd(const TEcc *ecc, uint32_t *x1, uint32_t *z1, const uint32_t *x2, const uint32_t *z2,
          const uint32_t *x) {
    Elem t;
    FieldMul(ecc, x1, x1, z2);
    FieldMul(ecc, z1, z1, x2);
    FieldMul(ecc, t, x1, z1);
    BaseSum(z1, x1);
    FieldSquare(ecc, z1, z1);
    FieldMul(ecc, x1, x, z1);
    BaseSum(x1, t);
    SecureWipe(t, sizeof t);
}

void Mdbl(const TEcc *ecc, uint32_t *x, uint32_t *z) {
    Elem u, v, t;
    FieldSquare(ecc, u, x);
    FieldSquare(ecc, v, z);
    FieldMul(ecc, t, u, v);
    FieldSquare(ecc, x, u);
    FieldSquare(ecc, v, v);
    FieldMul(ecc, v, v, ecc->B);
    BaseSum(x, v);
    BaseCopy(t, z);
    SecureWipe(u, sizeof u);
    SecureWipe(v, sizeof v);
    SecureWipe(t, sizeof t);
}

// Affine k*P from (X1, Z1) = kP and (X2, Z2) = (k + 1)P; Z1, Z2 and x must be non-zero.
void Mxy(const TEcc *ecc, const TEcPoint *p, uint32_t *x1, uint32_t *z1, uint32_t *x2,
         uint32_t *z2, TEcPoint *r) {
    const uint32_t *x = p->x;
    Elem t, u, s;
    FieldMul(ecc, t, z1, z2);
    // Z1' = X1 + x*Z1
    FieldMul(ecc, s, x, z1);
    BaseCopy(x1, z1);
    BaseSum(z1, s);
    // X1' = X1 * x * Z2
    FieldMul(ecc, x1, x1, x);
    FieldMul(ecc, x1, x1, z2);
    // Z2' = (X2 + x*Z2) * Z1'
    FieldMul(ecc, s, x, z2);
    BaseSum(x2, s);
    FieldMul(ecc, z2, x2, z1);
    // U = (x^2 + y)*T + Z2'
    FieldSquare(ecc, u, x);
    BaseSum(u, p->y);
    FieldMul(ecc, u, u, t);
    BaseSum(u, z2);
    // T = 1 / (x*T)
    FieldMul(ecc, t, t, x);
    BaseInverse(ecc, t);
    FieldMul(ecc, u, u, t);
    TEcPoint out;
    FieldMul(ecc, out.x, x1, t);
    BaseCopy(x, out.y);
    BaseSum(out.y, out.x);
    FieldMul(ecc, out.y, out.y, u);
    BaseSum(out.y, p->y);
    PointCopy(&out, r);
    SecureWipe(t, sizeof t);
    SecureWipe(u, sizeof u);
    SecureWipe(s, sizeof s);
    SecureWipe(&out, sizeof out);
}

}  // namespace kcar::ecc

using namespace kcar::ecc;

extern "C" {

KCARLIB_API void PointCopy(const TEcPoint *src, TEcPoint *dst) {
    std::memmove(dst, src, sizeof(TEcPoint));
}

KCARLIB_API void PointMake(TEcPoint *dst, const uint32_t *x, const uint32_t *y) {
    uint32_t t[kWords];
    BaseCopy(y, t);
    BaseCopy(x, dst->x);
    BaseCopy(t, dst->y);
}

KCARLIB_API void PointClear(TEcPoint *p) { std::memset(p, 0, sizeof(TEcPoint)); }

KCARLIB_API int32_t PointIsEqual(const TEcPoint *p, const TEcPoint *q) {
    return BaseIsEqual(p->x, q->x) && BaseIsEqual(p->y, q->y);
}

KCARLIB_API void AfNegate(const TEcc *, TEcPoint *p) { BaseSum(p->y, p->x); }

KCARLIB_API void AfDouble(const TEcc *ecc, TEcPoint *p) {
    if (BaseIsZero(p->x)) {
        PointClear(p);
        return;
    }
    Elem l, x3;
    BaseCopy(p->x, l);
    BaseInverse(ecc, l);
    FieldMul(ecc, l, l, p->y);
    BaseSum(l, p->x);  // lambda = x + y/x
    FieldSquare(ecc, x3, l);
    BaseSum(x3, l);
    BaseSumShort(ecc, x3, static_cast<uint32_t>(ecc->A));
    BaseSum(p->x, x3);  // x + x3
    FieldMul(ecc, p->x, p->x, l);
    BaseSum(p->y, p->x);
    BaseSum(p->y, x3);
    BaseCopy(x3, p->x);
}

KCARLIB_API void AfSum(const TEcc *ecc, TEcPoint *p, const TEcPoint *q) {
    if (EccPointIsInfinity(q)) return;
    if (EccPointIsInfinity(p)) {
        PointCopy(q, p);
        return;
    }
    if (BaseIsEqual(p->x, q->x)) {
        if (BaseIsEqual(p->y, q->y))
            AfDouble(ecc, p);
        else
            PointClear(p);
        return;
    }
    Elem l, d, x3;
    BaseCopy(p->x, d);
    BaseSum(d, q->x);  // x1 + x2
    BaseCopy(d, l);
    BaseInverse(ecc, l);
    BaseCopy(p->y, x3);
    BaseSum(x3, q->y);
    FieldMul(ecc, l, l, x3);  // lambda
    FieldSquare(ecc, x3, l);
    BaseSum(x3, l);
    BaseSum(x3, d);
    BaseSumShort(ecc, x3, static_cast<uint32_t>(ecc->A));
    BaseSum(p->x, x3);  // x1 + x3
    FieldMul(ecc, p->x, p->x, l);
    BaseSum(p->y, p->x);
    BaseSum(p->y, x3);
    BaseCopy(x3, p->x);
}

// Montgomery ladder over all m bits of k, starting from (O, P): the steps before
// the top set bit keep the pair at (O, P) with exactly the projective values that
// the ladder started at the top bit would have, so the result is the same for
// every k while neither the step count nor the memory accessed depends on k.
KCARLIB_API void EccScalarMul(const TEcc *ecc, const uint32_t *k, const TEcPoint *p, TEcPoint *r) {
    if (BaseIsZero(p->x)) {
        // O, or a point of order 2 (x = 0): kP is P for odd k and O for even k.
        TEcPoint q;
        PointCopy(p, &q);
        if (!(k[0] & 1u)) PointClear(&q);
        PointCopy(&q, r);
        return;
    }
    TEcPoint base;
    PointCopy(p, &base);
    LadderState st;
    ClmulField fast;
    if (const StdClmulField *f = StdClmulFieldFor(ecc)) {
        uint32_t out[4][kWords];
        f->ladder(k, base.x, ecc->B, out);
        BaseCopy(out[0], st.x1);
        BaseCopy(out[1], st.z1);
        BaseCopy(out[2], st.x2);
        BaseCopy(out[3], st.z2);
        kcar::SecureWipe(out, sizeof out);
    } else if (ClmulFieldFor(ecc, &fast)) {
        Ladder(FastOps{&fast}, ecc, k, base.x, st);
    } else {
        Ladder(PortableOps{ecc}, ecc, k, base.x, st);
    }
    // Whether kP or (k + 1)P is the point at infinity shows in the result anyway.
    const int32_t at_infinity = BaseIsZero(st.z1), next_at_infinity = BaseIsZero(st.z2);
    kcar::CtPublic(&at_infinity, sizeof at_infinity);
    kcar::CtPublic(&next_at_infinity, sizeof next_at_infinity);
    if (at_infinity) {
        PointClear(r);
    } else if (next_at_infinity) {
        PointCopy(&base, r);
        AfNegate(ecc, r);
    } else {
        Mxy(ecc, &base, st.x1, st.z1, st.x2, st.z2, r);
    }
    kcar::SecureWipe(&st, sizeof st);
}

KCARLIB_API void EccShrinkPoint(const TEcc *ecc, const TEcPoint *p, uint32_t *out) {
    uint32_t t[kWords];
    if (ecc->M == 0 || BaseIsZero(p->x)) {
        BaseClear(out);
        return;
    }
    BaseCopy(p->x, t);
    BaseInverse(ecc, t);
    FieldMul(ecc, t, t, p->y);
    const int tr = BaseTrace(ecc, t);
    BaseCopy(p->x, out);
    out[0] = (out[0] & ~1u) | static_cast<uint32_t>(tr);
}

KCARLIB_API void EccExpandPoint(const TEcc *ecc, const uint32_t *in, TEcPoint *out) {
    TEcPoint q;
    PointClear(&q);
    if (ecc->N[0] == 0) {
        PointCopy(&q, out);
        return;
    }
    if (BaseIsZero(in)) {
        BaseSquareRoot(ecc, ecc->B, q.y);
        PointCopy(&q, out);
        return;
    }
    const uint32_t k = in[0] & 1u;
    BaseCopy(in, q.x);
    q.x[0] &= ~1u;
    if (BaseTrace(ecc, q.x) != ecc->A) q.x[0] |= 1u;
    Elem w, t, one, z;
    BaseCopy(q.x, t);
    BaseInverse(ecc, t);
    FieldSquare(ecc, t, t);
    FieldMul(ecc, w, t, ecc->B);
    BaseSum(w, q.x);
    BaseSumShort(ecc, w, static_cast<uint32_t>(ecc->A));
    BaseSetOne(ecc, one);
    BaseRootOfQuadraticEq(ecc, one, w, z);
    if (static_cast<uint32_t>(BaseTrace(ecc, z)) != k) BaseSumShort(ecc, z, 1);
    FieldMul(ecc, q.y, z, q.x);
    PointCopy(&q, out);
}

}  // extern "C"
