// Field and integer arithmetic, and the generated tables against their data files.
#include <cstdlib>

#include "ecc_test_util.h"

using namespace ecctest;
using namespace kcar::ecc;

namespace {

// Shift-and-add product reduced bit by bit: the obvious version of BaseMul.
Elem ReferenceMul(const TEcc *ecc, const Elem &a, const Elem &b) {
    uint32_t c[32] = {};
    for (int i = 0; i < ecc->M; ++i) {
        if (!BitGet(b.w, i)) continue;
        const int w = i / 32, s = i % 32;
        for (int j = 0; j < 16; ++j) {
            c[j + w] ^= a.w[j] << s;
            if (s) c[j + w + 1] ^= a.w[j] >> (32 - s);
        }
    }
    ReduceBitwise(ecc, c);
    Elem r;
    std::memcpy(r.w, c, sizeof r.w);
    return r;
}

Elem Mul(const TEcc *ecc, Elem a, const Elem &b) {
    BaseMul(ecc, a.w, b.w);
    return a;
}

struct PathGuard {
    explicit PathGuard(bool portable) { ClmulForceOff(portable); }
    ~PathGuard() { ClmulForceOff(false); }
};

Elem Decimal(const std::string &s) {
    Elem r, ten, d;
    ten.w[0] = 10;
    for (char c : s) {
        IntMul(r.w, ten.w);
        d.w[0] = static_cast<uint32_t>(c - '0');
        IntAdd(r.w, d.w);
    }
    return r;
}

}  // namespace

TEST(EccTables, PolynomialsAndDegreesMatchData) {
    const auto lines = DataLines("dstu_polys.txt");
    ASSERT_EQ(lines.size(), 60u);
    for (size_t i = 0; i < lines.size(); ++i) {
        std::istringstream in(lines[i]);
        int m;
        char colon;
        in >> m >> colon;
        int k[3] = {0, 0, 0};
        for (int j = 0; j < 3 && (in >> k[j]); ++j) {
        }
        EXPECT_EQ(BasisTabPoly[i], m / 2) << m;
        EXPECT_EQ(IPolTabStd[i], static_cast<uint32_t>(m / 2 | k[0] << 8 | k[1] << 16 | k[2] << 24)) << m;
    }
}

TEST(EccTables, FactorTableMatchesDataAndMultipliesOut) {
    const auto lines = DataLines("mersenne_factors.txt");
    ASSERT_EQ(lines.size(), 60u);
    const uint32_t *entry = FactorTab;
    for (const std::string &line : lines) {
        std::istringstream in(line);
        int m;
        char colon;
        in >> m >> colon;
        ASSERT_EQ(static_cast<int>(entry[0]), m / 2);
        std::vector<Elem> factors;
        std::string f;
        while (in >> f) factors.push_back(Decimal(f));
        ASSERT_EQ(entry[2], factors.size()) << m;
        const uint32_t *p = entry + 3;
        Elem product;
        product.w[0] = 1;
        for (const Elem &want : factors) {
            Elem got;
            std::memcpy(got.w, p + 1, sizeof(uint32_t) * p[0]);
            EXPECT_EQ(got, want) << m;
            IntMul(product.w, got.w);
            p += 1 + p[0];
        }
        EXPECT_EQ(p, entry + 1 + entry[1]) << "entry length of " << m;
        Elem mersenne;
        for (int i = 0; i < m; ++i) BitSet(mersenne.w, i);
        EXPECT_EQ(product, mersenne) << m;
        entry += 1 + entry[1];
    }
    EXPECT_EQ(*entry, 0u);
}

TEST(EccTables, SquareBytesAndSquareRootConstant) {
    for (uint32_t b = 0; b < 256; ++b) {
        uint32_t want = 0;
        for (int i = 0; i < 8; ++i) want |= ((b >> i) & 1u) << (2 * i);
        EXPECT_EQ(SquareByteTab[b], want);
    }
    // t^2 <= 2^509 < (t + 1)^2
    Elem t, sq, sq1, limit, one;
    std::memcpy(t.w, Sqrt2u509, sizeof t.w);
    one.w[0] = 1;
    BitSet(limit.w, 509);
    sq = t;
    IntMul(sq.w, t.w);
    Elem t1 = t;
    IntAdd(t1.w, one.w);
    sq1 = t1;
    IntMul(sq1.w, t1.w);
    EXPECT_LE(IntCmp(sq.w, limit.w), 0);
    EXPECT_GT(IntCmp(sq1.w, limit.w), 0);
}

// Every table field, each multiplication path against the reference.
TEST(EccField, MultiplicationPathsAgreeOnEveryTableField) {
    Rng rng(1);
    for (int i = 0; i < 60; ++i) {
        TEcc ecc;
        EccInit(&ecc, nullptr, nullptr);
        const int m = 2 * BasisTabPoly[i] + 1;
        ASSERT_TRUE(EccSetStdField(&ecc, m, 0)) << m;
        for (int round = 0; round < 2; ++round) {
            const Elem a = RandomElement(&ecc, rng), b = RandomElement(&ecc, rng);
            const Elem want = ReferenceMul(&ecc, a, b), square = ReferenceMul(&ecc, a, a);
            for (bool portable : {false, true}) {
                PathGuard g(portable);
                EXPECT_EQ(Mul(&ecc, a, b), want) << m << (portable ? " portable" : " fast");
                Elem s = a;
                BaseSquare(&ecc, s.w);
                EXPECT_EQ(s, square) << m;
                EXPECT_TRUE(BaseOnField(&ecc, want.w));
            }
        }
    }
}

// Fields whose middle exponents come close to m: the 64-bit fast reduction must
// step aside, and the word-wise reduction must look at every exponent, not K1 only.
TEST(EccField, ReductionForExponentsCloseToM) {
    struct Case {
        int m, k1, k2, k3;
    } cases[] = {
        {163, 143, 2, 1},   // m - K1 = 20: bit by bit
        {233, 1, 4, 210},   // K3 the largest, m - K3 = 23
        {233, 180, 0, 0},   // 53: word-wise, not the 64-bit path
        {509, 23, 3, 2},
    };
    Rng rng(2);
    for (const Case &c : cases) {
        TEcc ecc;
        EccInit(&ecc, nullptr, nullptr);
        ASSERT_TRUE(EccSetBaseField(&ecc, c.m, c.k1, c.k2, c.k3));
        uint32_t top[32] = {}, bitwise[32];
        BitSet(top, 2 * c.m - 2);
        std::memcpy(bitwise, top, sizeof top);
        ReduceBitwise(&ecc, bitwise);
        BaseReduction(&ecc, top);
        EXPECT_EQ(0, std::memcmp(top, bitwise, sizeof top)) << c.m << " " << c.k1;
        const Elem a = RandomElement(&ecc, rng), b = RandomElement(&ecc, rng);
        for (bool portable : {false, true}) {
            PathGuard g(portable);
            EXPECT_EQ(Mul(&ecc, a, b), ReferenceMul(&ecc, a, b)) << c.m << " " << c.k1;
        }
    }
}

TEST(EccField, InverseSquareRootAndTrace) {
    Rng rng(3);
    for (int m : {163, 257, 509}) {
        TEcc ecc;
        EccInit(&ecc, nullptr, nullptr);
        ASSERT_TRUE(EccSetStdField(&ecc, m, 0));
        Elem one, zero;
        BaseSetOne(&ecc, one.w);
        Elem t = one;
        BaseInverse(&ecc, t.w);
        EXPECT_EQ(t, one);
        t = zero;
        BaseInverse(&ecc, t.w);
        EXPECT_EQ(t, zero);
        for (int round = 0; round < 3; ++round) {
            const Elem a = RandomElement(&ecc, rng);
            Elem inv = a;
            BaseInverse(&ecc, inv.w);
            EXPECT_EQ(Mul(&ecc, a, inv), one) << m;
            Elem root;
            BaseSquareRoot(&ecc, a.w, root.w);
            EXPECT_EQ(Mul(&ecc, root, root), a);
            // Tr(a) = Tr(a^2), and the half-trace solves h^2 + h = a when Tr(a) = 0.
            Elem sq = Mul(&ecc, a, a);
            EXPECT_EQ(BaseTrace(&ecc, a.w), BaseTrace(&ecc, sq.w));
            Elem h;
            Elem a0 = a;
            if (BaseTrace(&ecc, a0.w)) BaseSumShort(&ecc, a0.w, 1);  // Tr(1) = 1 for odd m
            BaseHalfTrace(&ecc, a0.w, h.w);
            Elem hh = Mul(&ecc, h, h);
            BaseSum(hh.w, h.w);
            EXPECT_EQ(hh, a0);
        }
        EXPECT_EQ(BaseTrace(&ecc, one.w), 1);
    }
}

TEST(EccField, QuadraticEquationCases) {
    TEcc ecc;
    EccInit(&ecc, nullptr, nullptr);
    ASSERT_TRUE(EccSetStdField(&ecc, 163, 0));
    Rng rng(4);
    const Elem zero;
    const Elem w = RandomElement(&ecc, rng);
    Elem z = w;
    EXPECT_EQ(BaseRootOfQuadraticEq(&ecc, zero.w, w.w, z.w), 1);
    EXPECT_EQ(Mul(&ecc, z, z), w);
    const Elem u = RandomElement(&ecc, rng);
    z = w;
    EXPECT_EQ(BaseRootOfQuadraticEq(&ecc, u.w, zero.w, z.w), 2);
    EXPECT_EQ(z, zero);
    int seen[3] = {0, 0, 0};
    for (int round = 0; round < 16; ++round) {
        const Elem uu = RandomElement(&ecc, rng), ww = RandomElement(&ecc, rng);
        z = ww;
        const int n = BaseRootOfQuadraticEq(&ecc, uu.w, ww.w, z.w);
        ASSERT_TRUE(n == 0 || n == 2);
        ++seen[n];
        if (n == 0) {
            EXPECT_EQ(z, zero);
            continue;
        }
        Elem lhs = Mul(&ecc, z, z);
        BaseSum(lhs.w, Mul(&ecc, uu, z).w);
        EXPECT_EQ(lhs, ww);
    }
    EXPECT_GT(seen[0], 0);
    EXPECT_GT(seen[2], 0);
}

TEST(EccField, BitHelpersDegreeOnFieldAndGcd) {
    const Elem zero, one = Hex("1");
    EXPECT_EQ(BaseDegree(zero.w), 0);
    EXPECT_EQ(BaseDegree(one.w), 0);
    EXPECT_EQ(IntDegree(zero.w), 0);
    EXPECT_EQ(IntDegree(Hex("80000000000000000").w), 67);

    TEcc ecc;
    EccInit(&ecc, nullptr, nullptr);
    EXPECT_FALSE(BaseOnField(&ecc, zero.w));  // no field
    ASSERT_TRUE(EccSetStdField(&ecc, 163, 0));
    Elem e;
    BitSet(e.w, 162);
    EXPECT_TRUE(BaseOnField(&ecc, e.w));
    BitSet(e.w, 163);
    EXPECT_FALSE(BaseOnField(&ecc, e.w));
    Elem far;
    far.w[ecc.Words] = 1;
    EXPECT_FALSE(BaseOnField(&ecc, far.w));

    // x^3 + x = x(x + 1)^2, x^2 + 1 = (x + 1)^2
    Elem a = Hex("A");
    BaseGcd(a.w, Hex("5").w);
    EXPECT_EQ(a, Hex("5"));
    a = Hex("6");  // x^2 + x and x: gcd x
    BaseGcd(a.w, Hex("2").w);
    EXPECT_EQ(a, Hex("2"));
    a = Hex("1234");
    BaseGcd(a.w, zero.w);
    EXPECT_EQ(a, Hex("1234"));

    Elem s = Hex("1");
    BaseMulByXn(s.w, 300);
    EXPECT_EQ(BaseDegree(s.w), 300);
    BaseMulByXn(s.w, -299);
    EXPECT_EQ(s, Hex("2"));
    EXPECT_EQ(bbtol(0xFFFF), 0x55555555u);
}

TEST(EccInt, CarryBorrowAndComparison) {
    Elem a;
    a.w[1] = 1;  // 2^32
    EXPECT_EQ(IntDec(a.w, 1), 0u);
    EXPECT_EQ(a.w[0], 0xFFFFFFFFu);
    EXPECT_EQ(a.w[1], 0u);
    Elem z;
    EXPECT_EQ(IntDec(z.w, 1), 1u);

    Elem max;
    for (auto &w : max.w) w = 0xFFFFFFFFu;
    Elem t = max;
    EXPECT_EQ(IntAdd(t.w, Hex("1").w), 1u);
    EXPECT_TRUE(IntIsZero(t.w));
    EXPECT_EQ(IntSub(t.w, Hex("1").w), 1u);
    EXPECT_EQ(t, max);
    EXPECT_EQ(fcarry(0x80000000u, 0x80000000u, 0u), 1u);

    EXPECT_EQ(IntCmp(Hex("5").w, Hex("5").w), 0);
    EXPECT_EQ(IntCmp(Hex("4").w, Hex("5").w), -1);
    EXPECT_EQ(IntCmp(Hex("100000000").w, Hex("FFFFFFFF").w), 1);

    t = Hex("3");
    IntDivBy2(t.w);
    EXPECT_TRUE(IntIsOne(t.w));
}

TEST(EccInt, ModularArithmetic) {
    const Elem n = Hex("400000000000000000002BEC12BE2262D39BCF14D");  // prime
    Elem a = Hex("400000000000000000002BEC12BE2262D39BCF000");
    Elem b = Hex("14D");
    IntAddMod(a.w, b.w, n.w);
    EXPECT_TRUE(IntIsZero(a.w));  // a + b = n

    // IntMulMod against double-and-add with IntAddMod, for a multi-word and a
    // single-word modulus.
    Rng rng(5);
    for (const Elem &mod : {n, Hex("FFFFFFFB"), Hex("10000000000000001")}) {
        for (int round = 0; round < 20; ++round) {
            Elem x, y;
            for (int i = 0; i < 16; ++i) x.w[i] = static_cast<uint32_t>(rng.Next()), y.w[i] = static_cast<uint32_t>(rng.Next());
            for (int i = IntDegree(mod.w); i < 512; ++i) x.w[i / 32] &= ~(1u << (i % 32)), y.w[i / 32] &= ~(1u << (i % 32));
            Elem want, dbl = x;
            for (int i = 0; i <= IntDegree(y.w); ++i) {
                if (BitGet(y.w, i)) IntAddMod(want.w, dbl.w, mod.w);
                Elem c = dbl;
                IntAddMod(dbl.w, c.w, mod.w);
            }
            Elem got = x;
            IntMulMod(got.w, y.w, mod.w);
            EXPECT_EQ(got, want) << ToHex(mod.w);
        }
    }
    // Fermat: a^(n - 1) = 1 mod the prime n.
    Elem e = n;
    IntDec(e.w, 1);
    Elem base = Hex("123456789ABCDEF");
    IntExpMod(base.w, e.w, n.w);
    EXPECT_TRUE(IntIsOne(base.w));

    Elem p = Hex("FFFFFFFFFFFFFFFF");
    IntMul(p.w, Hex("FFFFFFFFFFFFFFFF").w);
    EXPECT_EQ(p, Hex("FFFFFFFFFFFFFFFE0000000000000001"));
}
