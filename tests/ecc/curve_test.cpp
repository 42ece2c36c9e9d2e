// Curve contexts: setters, standard curves, validity checks and base points.
#include "ecc_test_util.h"

using namespace ecctest;
using namespace kcar::ecc;

namespace {

bool SameContext(const TEcc &a, const TEcc &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEcPoint PointFromHex(const std::string &x, const std::string &y) {
    TEcPoint p;
    PointMake(&p, Hex(x).w, Hex(y).w);
    return p;
}

}  // namespace

TEST(EccSetup, BaseFieldRefusalsLeaveContextUnchanged) {
    struct Case {
        int m, k1, k2, k3;
        const char *why;
    } cases[] = {
        {164, 7, 6, 3, "even m"},
        {165, 7, 6, 3, "odd m without prime entry"},
        {163, 0, 0, 0, "no normal basis for 163"},
        {165, 0, 0, 0, "no normal basis for 165"},
        {175, 0, 0, 0, "no normal basis for 175 either"},
        {163, 7, 6, 0, "k2 without k3"},
        {163, 0, 6, 3, "k2 without k1"},
        {163, 163, 0, 0, "k1 = m"},
        {163, -7, 0, 0, "negative exponent"},
        {163 + 512, 7, 6, 3, "degree beyond 509 with the same m / 2 byte"},
        {-163, 7, 6, 3, "negative m"},
        {511, 7, 0, 0, "beyond the table"},
    };
    TEcc ecc;
    EccInit(&ecc, nullptr, nullptr);
    ASSERT_TRUE(EccSetStdCurve(&ecc, 163, 0));
    const TEcc before = ecc;
    for (const Case &c : cases) {
        EXPECT_EQ(EccSetBaseField(&ecc, c.m, c.k1, c.k2, c.k3), 0) << c.why;
        EXPECT_TRUE(SameContext(ecc, before)) << c.why;
    }
    // Accepted: unordered middle exponents of a listed degree; n and the flag reset.
    ASSERT_TRUE(EccSetBaseField(&ecc, 233, 1, 4, 9));
    EXPECT_EQ(ecc.M, 233);
    EXPECT_EQ(ecc.Words, 8);
    EXPECT_TRUE(IntIsZero(ecc.N));
    EXPECT_EQ(ecc.SigLen, 0);
    EXPECT_EQ(ecc.A, before.A);  // a and b are kept
    EXPECT_TRUE(BaseIsEqual(ecc.B, before.B));
}

TEST(EccSetup, StandardCurve163) {
    TEcc ecc;
    EccInit(&ecc, nullptr, nullptr);
    ASSERT_TRUE(EccSetStdCurve(&ecc, 163, 0));
    EXPECT_EQ(ecc.A, 1);
    EXPECT_EQ(ecc.Onb, 0);
    EXPECT_EQ(ToHex(ecc.B), "5FF6108462A2DC8210AB403925E638A19C1455D21");
    EXPECT_EQ(ToHex(ecc.N), "400000000000000000002BEC12BE2262D39BCF14D");
    Elem poly;
    for (int bit : {163, 7, 6, 3, 0}) BitSet(poly.w, bit);
    EXPECT_TRUE(BaseIsEqual(ecc.Poly, poly.w));
    EXPECT_EQ(ecc.SigLen, 42);
    EXPECT_EQ(ecc.BasePointSet, 0);

    const TEcc before = ecc;
    EXPECT_EQ(EccSetStdCurve(&ecc, 163, 1), 0);  // no such curve
    EXPECT_EQ(EccSetStdCurve(&ecc, 181, 0), 0);  // a field but no curve
    EXPECT_EQ(EccSetStdCurve(&ecc, 239, 1), 0);  // a normal-basis field but no curve
    EXPECT_TRUE(SameContext(ecc, before));
    for (int m : StdCurveDegrees()) EXPECT_TRUE(EccSetStdCurve(&ecc, m, 0)) << m;

    // The normal-basis curve of 509: field x^m + 1, the same n, b of that basis.
    ASSERT_TRUE(EccSetStdCurve(&ecc, 509, 1));
    EXPECT_EQ(ecc.Onb, 1);
    EXPECT_EQ(ecc.K1, 0);
    Elem xm1;
    for (int bit : {509, 0}) BitSet(xm1.w, bit);
    EXPECT_TRUE(BaseIsEqual(ecc.Poly, xm1.w));
    EXPECT_EQ(ToHex(ecc.B).substr(0, 8), "197D9BE3");
}

TEST(EccSetup, CurveAndBasePointRefusals) {
    TEcc ecc;
    EccInit(&ecc, nullptr, nullptr);
    const Elem b = Hex("5FF6108462A2DC8210AB403925E638A19C1455D21");
    const Elem n = Hex("400000000000000000002BEC12BE2262D39BCF14D");
    EXPECT_EQ(EccSetCurve(&ecc, 1, b.w, n.w), 0);  // no field
    ASSERT_TRUE(EccSetStdField(&ecc, 163, 0));
    Elem big_n = n;
    BitSet(big_n.w, 163);
    Elem even_n = n;
    even_n.w[0] = 0;
    Elem big_b = b;
    BitSet(big_b.w, 200);
    const Elem zero;
    const TEcc before = ecc;
    EXPECT_EQ(EccSetCurve(&ecc, 1, zero.w, n.w), 0);
    EXPECT_EQ(EccSetCurve(&ecc, 2, b.w, n.w), 0);
    EXPECT_EQ(EccSetCurve(&ecc, 1, b.w, big_n.w), 0);
    EXPECT_EQ(EccSetCurve(&ecc, 1, b.w, even_n.w), 0);
    EXPECT_EQ(EccSetCurve(&ecc, 1, big_b.w, n.w), 0);
    EXPECT_TRUE(SameContext(ecc, before));

    TEcPoint p = PointFromHex("1", "1");
    EXPECT_EQ(EccSetBasePoint(&ecc, &p), 0);  // no curve
    ASSERT_TRUE(EccSetCurve(&ecc, 1, b.w, n.w));
    p = PointFromHex("0", "1");
    EXPECT_EQ(EccSetBasePoint(&ecc, &p), 0);  // x = 0
    p = PointFromHex("1", "1");
    BitSet(p.y, 163);
    EXPECT_EQ(EccSetBasePoint(&ecc, &p), 0);  // off the field
    EXPECT_EQ(ecc.BasePointSet, 0);
}

TEST(EccValidation, FieldPolynomials) {
    TEcc ecc;
    EccInit(&ecc, nullptr, nullptr);
    EXPECT_EQ(EccVerifyField(&ecc), 0);
    for (int i = 0; i < 60; ++i) {
        ASSERT_TRUE(EccSetStdField(&ecc, 2 * BasisTabPoly[i] + 1, 0));
        EXPECT_EQ(EccVerifyField(&ecc), 1);
    }
    struct Case {
        int m, k1, k2, k3, want;
    } cases[] = {
        {163, 7, 6, 3, 1},    // table entries pass the full test as well
        {193, 15, 0, 0, 1},
        {163, 8, 2, 1, 1},    // primitive, not in the table
        {163, 9, 2, 1, 0},    // reducible
        {163, 10, 3, 1, 0},   // reducible
        {167, 7, 0, 0, 0},    // x^167 + x^7 + 1 is reducible
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(EccSetBaseField(&ecc, c.m, c.k1, c.k2, c.k3));
        EXPECT_EQ(VerifyPrimitive(&ecc), c.want) << c.m << " " << c.k1;
        EXPECT_EQ(EccVerifyField(&ecc), c.want) << c.m << " " << c.k1;
    }
}

TEST(EccValidation, CurveOrder) {
    Rng rng(10);
    TEcc ecc;
    EccInit(&ecc, nullptr, nullptr);
    ASSERT_TRUE(EccSetStdCurve(&ecc, 163, 0));
    EXPECT_EQ(EccVerifyCurve(&ecc), 0);  // Miller-Rabin needs a random source
    ecc.RandFunc = &Rng::Bit;
    ecc.RandCtx = &rng;
    EXPECT_EQ(EccVerifyCurve(&ecc), 1);
    ASSERT_TRUE(EccSetStdCurve(&ecc, 431, 0));
    EXPECT_EQ(EccVerifyCurve(&ecc), 1);

    struct Case {
        int m;
        const char *n;
        const char *why;
    } cases[] = {
        {163, "400000000000000000002BEC12BE2262D39BCF14F", "composite"},
        {163, "800000000000000000000000000000000000012B", "prime of degree 159"},
        {197, "1181B149E3E4C85E5F1FB2507D481CB8C6DD39E358BAD41", "prime dividing 2^197 - 1 (MOV)"},
        {431, "1000000000000000000000000000000000000000000000000EB", "prime below 4 sqrt(2^431)"},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(EccSetStdField(&ecc, c.m, 0));
        ASSERT_TRUE(EccSetCurve(&ecc, 1, Hex("1234567").w, Hex(c.n).w));
        EXPECT_EQ(EccVerifyCurve(&ecc), 0) << c.why;
    }
}

TEST(EccValidation, PublicKeyChecks) {
    Rng rng(11);
    TEcc ecc;
    ASSERT_TRUE(SetUpStdCurve(&ecc, 163, &rng));
    EXPECT_EQ(EccVerifyBasePoint(&ecc), 1);

    TEcPoint inf;
    PointClear(&inf);
    TEcPoint wide = ecc.P;
    BitSet(wide.x, 170);
    TEcPoint off = ecc.P;
    off.y[0] ^= 1;
    TEcPoint order2;
    PointClear(&order2);
    BaseSquareRoot(&ecc, ecc.B, order2.y);
    ASSERT_TRUE(PointOnCurve(&ecc, &order2));
    // A curve point outside the order-n subgroup (the cofactor is 2 when a = 1).
    TEcPoint outside;
    PointClear(&outside);
    for (int i = 0; i < 64; ++i) {
        const Elem u = RandomElement(&ecc, rng);
        Elem w, t, z;
        FieldSquare(&ecc, t.w, u.w);
        FieldMul(&ecc, w.w, t.w, u.w);
        BaseSum(w.w, t.w);
        BaseSum(w.w, ecc.B);
        if (!BaseRootOfQuadraticEq(&ecc, u.w, w.w, z.w)) continue;
        PointMake(&outside, u.w, z.w);
        TEcPoint r;
        EccScalarMul(&ecc, ecc.N, &outside, &r);
        if (!EccPointIsInfinity(&r)) break;
    }
    ASSERT_TRUE(PointOnCurve(&ecc, &outside));
    for (const TEcPoint *q : {&inf, &wide, &off, &order2, &outside}) EXPECT_EQ(EccVerifyPublicKey(&ecc, q), 0);
    EXPECT_EQ(PointOnCurve(&ecc, &inf), 0);
}

TEST(EccValidation, GeneratedAndPublishedBasePoints) {
    TEcc ecc;
    EccInit(&ecc, nullptr, nullptr);
    ASSERT_TRUE(EccSetStdCurve(&ecc, 163, 0));
    TEcPoint p;
    EXPECT_EQ(EccGenerateBasePoint(&ecc, &p), 0);  // no random source

    Rng rng(12);
    for (int m : StdCurveDegrees()) {
        ASSERT_TRUE(SetUpStdCurve(&ecc, m, &rng)) << m;
        EXPECT_EQ(EccVerifyBasePoint(&ecc), 1) << m;
    }
    // The published base points of the named curves lie in the order-n subgroup.
    int checked = 0;
    for (const auto &[key, value] : Section("base points")) {
        const int m = std::stoi(key);
        const auto space = value.find(' ');
        ASSERT_TRUE(EccSetStdCurve(&ecc, m, 0)) << m;
        const TEcPoint q = PointFromHex(value.substr(0, space), value.substr(space + 1));
        EXPECT_EQ(EccVerifyPublicKey(&ecc, &q), 1) << m;
        ++checked;
    }
    EXPECT_EQ(checked, 10);
}
