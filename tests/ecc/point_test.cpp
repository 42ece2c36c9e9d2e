// Point arithmetic: the constant-time ladder against the ladder that starts at the
// top set bit, affine arithmetic and compression.
#include "ecc_test_util.h"

using namespace ecctest;
using namespace kcar::ecc;

namespace {

// The ladder started at the highest set bit below m, branching on each bit.
void ReferenceScalarMul(const TEcc *ecc, const uint32_t *k, const TEcPoint *p, TEcPoint *r) {
    const int m = static_cast<int>(ecc->M);
    int top = -1;
    for (int j = m - 1; j >= 0 && top < 0; --j)
        if (BitGet(k, j)) top = j;
    if (top < 0) {
        PointClear(r);
        return;
    }
    Elem x1, z1, x2, z2;
    BaseCopy(p->x, x1.w);
    z1.w[0] = 1;
    FieldSquare(ecc, z2.w, p->x);
    FieldSquare(ecc, x2.w, z2.w);
    BaseSum(x2.w, ecc->B);
    for (int j = top - 1; j >= 0; --j) {
        if (BitGet(k, j)) {
            Madd(ecc, x1.w, z1.w, x2.w, z2.w, p->x);
            Mdbl(ecc, x2.w, z2.w);
        } else {
            Madd(ecc, x2.w, z2.w, x1.w, z1.w, p->x);
            Mdbl(ecc, x1.w, z1.w);
        }
    }
    if (BaseIsZero(z1.w)) {
        PointClear(r);
    } else if (BaseIsZero(z2.w)) {
        PointCopy(p, r);
        AfNegate(ecc, r);
    } else {
        TEcPoint out;
        Mxy(ecc, p, x1.w, z1.w, x2.w, z2.w, &out);
        PointCopy(&out, r);
    }
}

// Affine double-and-add: the textbook meaning of k*P.
TEcPoint AffineScalarMul(const TEcc *ecc, const Elem &k, const TEcPoint &p) {
    TEcPoint r;
    PointClear(&r);
    for (int j = static_cast<int>(ecc->M) - 1; j >= 0; --j) {
        AfDouble(ecc, &r);
        if (BitGet(k.w, j)) AfSum(ecc, &r, &p);
    }
    return r;
}

Elem Plus(Elem a, uint32_t v) {
    Elem t;
    t.w[0] = v;
    IntAdd(a.w, t.w);
    return a;
}

Elem Minus(Elem a, uint32_t v) {
    IntDec(a.w, v);
    return a;
}

std::vector<Elem> TestScalars(const TEcc &ecc, Rng &rng) {
    Elem nn;
    IntCopy(ecc.N, nn.w);
    Elem all_m, top_m, high;
    for (int i = 0; i < ecc.M; ++i) BitSet(all_m.w, i);
    BitSet(top_m.w, static_cast<int>(ecc.M) - 1);
    for (int i = 0; i < 16; ++i) high.w[i] = static_cast<uint32_t>(rng.Next());  // bits above m too
    std::vector<Elem> ks = {Elem{}, Plus(Elem{}, 1), Plus(Elem{}, 2), Minus(nn, 1), nn, Plus(nn, 1),
                            all_m, top_m, high};
    for (int i = 0; i < 4; ++i) {
        Elem k = RandomElement(&ecc, rng);
        CvBase2Int(&ecc, k.w, k.w);
        ks.push_back(k);
    }
    return ks;
}

}  // namespace

TEST(EccLadder, MatchesReferenceLadderForEdgeAndRandomScalars) {
    Rng rng(20);
    // Every standard field: each has a ladder specialised for its polynomial.
    for (int m : StdCurveDegrees()) {
        for (bool portable : {false, true}) {
            if (portable && m != 163 && m != 509) continue;
            ClmulForceOff(portable);
            TEcc ecc;
            ASSERT_TRUE(SetUpStdCurve(&ecc, m, &rng));
            for (const Elem &k : TestScalars(ecc, rng)) {
                TEcPoint want, got;
                ReferenceScalarMul(&ecc, k.w, &ecc.P, &want);
                EccScalarMul(&ecc, k.w, &ecc.P, &got);
                EXPECT_TRUE(PointIsEqual(&got, &want)) << m << " k=" << ToHex(k.w);
            }
            ClmulForceOff(false);
        }
    }
}

TEST(EccLadder, EdgeResultsAndAliasing) {
    Rng rng(21);
    TEcc ecc;
    ASSERT_TRUE(SetUpStdCurve(&ecc, 163, &rng));
    Elem n;
    IntCopy(ecc.N, n.w);
    TEcPoint r, neg = ecc.P;
    AfNegate(&ecc, &neg);
    EccScalarMul(&ecc, Elem{}.w, &ecc.P, &r);
    EXPECT_TRUE(EccPointIsInfinity(&r));
    EccScalarMul(&ecc, Plus(Elem{}, 1).w, &ecc.P, &r);
    EXPECT_TRUE(PointIsEqual(&r, &ecc.P));
    EccScalarMul(&ecc, n.w, &ecc.P, &r);
    EXPECT_TRUE(EccPointIsInfinity(&r));
    EccScalarMul(&ecc, Minus(n, 1).w, &ecc.P, &r);
    EXPECT_TRUE(PointIsEqual(&r, &neg));

    // Against affine double-and-add, and with the result written over the input.
    for (int i = 0; i < 3; ++i) {
        Elem k = RandomElement(&ecc, rng);
        CvBase2Int(&ecc, k.w, k.w);
        const TEcPoint want = AffineScalarMul(&ecc, k, ecc.P);
        TEcPoint p = ecc.P;
        EccScalarMul(&ecc, k.w, &p, &p);
        EXPECT_TRUE(PointIsEqual(&p, &want));
        EXPECT_TRUE(PointOnCurve(&ecc, &p));
    }

    // Points with x = 0: the point at infinity and the point of order 2.
    TEcPoint inf, two;
    PointClear(&inf);
    PointClear(&two);
    BaseSquareRoot(&ecc, ecc.B, two.y);
    EccScalarMul(&ecc, Plus(Elem{}, 5).w, &inf, &r);
    EXPECT_TRUE(EccPointIsInfinity(&r));
    EccScalarMul(&ecc, Plus(Elem{}, 5).w, &two, &r);
    EXPECT_TRUE(PointIsEqual(&r, &two));
    EccScalarMul(&ecc, Plus(Elem{}, 6).w, &two, &r);
    EXPECT_TRUE(EccPointIsInfinity(&r));
}

TEST(EccAffine, SumDoubleNegate) {
    Rng rng(22);
    TEcc ecc;
    ASSERT_TRUE(SetUpStdCurve(&ecc, 163, &rng));
    TEcPoint p = ecc.P, neg = ecc.P, inf;
    PointClear(&inf);
    AfNegate(&ecc, &neg);
    TEcPoint t = p;
    AfSum(&ecc, &t, &neg);
    EXPECT_TRUE(EccPointIsInfinity(&t));
    t = p;
    AfSum(&ecc, &t, &p);
    TEcPoint d = p;
    AfDouble(&ecc, &d);
    EXPECT_TRUE(PointIsEqual(&t, &d));
    EXPECT_TRUE(PointOnCurve(&ecc, &d));
    t = inf;
    AfSum(&ecc, &t, &p);
    EXPECT_TRUE(PointIsEqual(&t, &p));
    t = p;
    AfSum(&ecc, &t, &inf);
    EXPECT_TRUE(PointIsEqual(&t, &p));
    // P + 2P = 3P
    t = d;
    AfSum(&ecc, &t, &p);
    TEcPoint three;
    EccScalarMul(&ecc, Plus(Elem{}, 3).w, &p, &three);
    EXPECT_TRUE(PointIsEqual(&t, &three));
    TEcPoint two;
    PointClear(&two);
    BaseSquareRoot(&ecc, ecc.B, two.y);
    AfDouble(&ecc, &two);
    EXPECT_TRUE(EccPointIsInfinity(&two));
}

TEST(EccCompression, RoundTripAndZero) {
    Rng rng(23);
    for (int m : {163, 509}) {
        TEcc ecc;
        ASSERT_TRUE(SetUpStdCurve(&ecc, m, &rng));
        for (int i = 0; i < 4; ++i) {
            Elem k = RandomElement(&ecc, rng);
            CvBase2Int(&ecc, k.w, k.w);
            TEcPoint q, back;
            EccScalarMul(&ecc, k.w, &ecc.P, &q);
            Elem c;
            EccShrinkPoint(&ecc, &q, c.w);
            EccExpandPoint(&ecc, c.w, &back);
            EXPECT_TRUE(PointIsEqual(&back, &q)) << m;
        }
        TEcPoint inf, q;
        PointClear(&inf);
        Elem c = Hex("1");
        EccShrinkPoint(&ecc, &inf, c.w);
        EXPECT_TRUE(BaseIsZero(c.w));
        EccExpandPoint(&ecc, c.w, &q);
        Elem root;
        BaseSquareRoot(&ecc, ecc.B, root.w);
        EXPECT_TRUE(BaseIsZero(q.x));
        EXPECT_TRUE(BaseIsEqual(q.y, root.w));
    }
    TEcc none;
    EccInit(&none, nullptr, nullptr);
    TEcPoint q;
    PointMake(&q, Hex("5").w, Hex("7").w);
    EccExpandPoint(&none, Hex("5").w, &q);
    EXPECT_TRUE(EccPointIsInfinity(&q));  // no curve
}
