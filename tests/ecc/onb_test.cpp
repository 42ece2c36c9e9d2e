// Optimal normal basis: the product tables against their rule, the fast product
// against an independent slow one, the field laws, and the normal-basis standard
// curves end to end.
#include <algorithm>
#include <array>
#include <vector>

#include "ecc_test_util.h"

using namespace ecctest;
using namespace kcar::ecc;

namespace {

const std::vector<int> &OnbDegrees() {
    static const std::vector<int> d = {173, 179, 191, 233, 239, 251, 281, 293, 359, 419, 431, 443, 491, 509};
    return d;
}

TEcc OnbField(int m) {
    TEcc ecc;
    EccInit(&ecc, nullptr, nullptr);
    EXPECT_TRUE(EccSetBaseField(&ecc, m, 0, 0, 0)) << m;
    return ecc;
}

int PowMod2(int e, int p) {
    int r = 1;
    for (int i = 0; i < e; ++i) r = 2 * r % p;
    return r;
}

// The product computed from the definition of the basis, not from the tables:
// with p = 2m + 1 the basis element B^(2^i) is g^(2^i) + g^(-2^i) for a p-th root
// of unity g, so an element is a polynomial in g modulo g^p - 1, products are
// cyclic convolutions, and the coefficient of B^(2^i) in the result is the
// coefficient of g^(2^i mod p). Bit q of an element holds B^(2^((m - q) mod m)).
Elem SlowMul(int m, const Elem &a, const Elem &b) {
    const int p = 2 * m + 1;
    auto spread = [&](const Elem &e) {
        std::vector<uint8_t> v(p, 0);
        for (int q = 0; q < m; ++q) {
            if (!BitGet(e.w, q)) continue;
            const int s = PowMod2((m - q) % m, p);
            v[s] ^= 1;
            v[p - s] ^= 1;
        }
        return v;
    };
    const std::vector<uint8_t> x = spread(a), y = spread(b);
    std::vector<uint8_t> z(p, 0);
    for (int i = 0; i < p; ++i)
        if (x[i])
            for (int j = 0; j < p; ++j) z[(i + j) % p] ^= y[j];
    Elem c;
    for (int q = 0; q < m; ++q)
        if (z[PowMod2((m - q) % m, p)]) BitSet(c.w, q);
    return c;
}

Elem Mul(const TEcc *ecc, Elem a, const Elem &b) {
    BaseMul(ecc, a.w, b.w);
    return a;
}

Elem One(const TEcc *ecc) {
    Elem e;
    BaseSetOne(ecc, e.w);
    return e;
}

}  // namespace

// Every row of every table: the two entries are the only t in 0..m-1 with
// 2^d + 2^t or 2^d - 2^t equal to 1 or -1 modulo 2m + 1; the last word is 0.
TEST(OnbTables, EveryRowFollowsTheRule) {
    for (int m : OnbDegrees()) {
        const uint32_t *table = OnbTable(m);
        ASSERT_NE(table, nullptr) << m;
        const int p = 2 * m + 1;
        std::vector<int> pow2(m);
        for (int i = 0; i < m; ++i) pow2[i] = PowMod2(i, p);
        for (int d = 1; d < m; ++d) {
            std::vector<uint32_t> want;
            for (int t = 0; t < m; ++t) {
                const int sum = (pow2[d] + pow2[t]) % p, diff = (pow2[d] - pow2[t] + p) % p;
                if (sum == 1 || sum == p - 1 || diff == 1 || diff == p - 1) want.push_back(static_cast<uint32_t>(t));
            }
            ASSERT_EQ(want.size(), 2u) << m << " row " << d;
            std::vector<uint32_t> got = {table[2 * (d - 1)], table[2 * (d - 1) + 1]};
            std::sort(got.begin(), got.end());
            EXPECT_EQ(got, want) << m << " row " << d;
        }
        EXPECT_EQ(table[2 * (m - 1)], 0u) << m;
    }
    EXPECT_EQ(OnbTable(163), nullptr);
    EXPECT_EQ(bcfm509, OnbTable(509));
}

struct PathGuard {
    explicit PathGuard(bool portable) { ClmulForceOff(portable); }
    ~PathGuard() { ClmulForceOff(false); }
};

// Both products (the carry-less one through the palindromic form, and the window
// evaluation of the product rule) against the slow one, and Get32's window, on
// every degree.
TEST(OnbField, ProductMatchesTheDefinitionOnEveryDegree) {
    Rng rng(50);
    for (int m : OnbDegrees()) {
        const TEcc ecc = OnbField(m);
        for (int round = 0; round < 2; ++round) {
            const Elem a = RandomElement(&ecc, rng), b = RandomElement(&ecc, rng);
            const Elem want = SlowMul(m, a, b);
            for (bool portable : {false, true}) {
                PathGuard g(portable);
                const Elem c = Mul(&ecc, a, b);
                EXPECT_EQ(c, want) << m << (portable ? " windows" : " carry-less");
                Elem inv = a;
                BaseInverse(&ecc, inv.w);
                EXPECT_EQ(Mul(&ecc, inv, a), One(&ecc)) << m;
            }
            Elem w = a;
            OnbBaseMul(w.w, b.w, m);
            EXPECT_EQ(w, want) << m;
        }
        // A single coordinate times the unit, at the edges of the word layout.
        for (int q : {0, 1, 31, 32, m - 1}) {
            Elem e;
            BitSet(e.w, q);
            EXPECT_EQ(Mul(&ecc, e, One(&ecc)), e) << m << " bit " << q;
        }
    }
    // Get32 reads 32 coordinates cyclically: window i starts at m - 1 - (i mod m).
    const int m = 173;
    uint32_t v[18] = {};
    BitSet(v, 0);
    v[m / 32] |= 1u << (m % 32);  // the extension repeats bit 0 above bit m - 1
    EXPECT_EQ(Get32(v, m - 1, m), 1u);
    EXPECT_EQ(Get32(v, 0, m), 2u);          // bits 172 (clear), 173 (= bit 0)
    EXPECT_EQ(Get32(v, 2 * m - 1, m), 1u);  // i is taken modulo m
}

// The laws of the field on every degree: unit, square, rotation order, inverse,
// commutativity, associativity and adding the unit.
TEST(OnbField, FieldLaws) {
    Rng rng(51);
    for (int m : OnbDegrees()) {
        const TEcc ecc = OnbField(m);
        const Elem a = RandomElement(&ecc, rng), b = RandomElement(&ecc, rng), c = RandomElement(&ecc, rng);
        const Elem one = One(&ecc);
        EXPECT_EQ(Mul(&ecc, a, one), a) << m;
        Elem sq = a;
        BaseSquare(&ecc, sq.w);
        EXPECT_EQ(Mul(&ecc, a, a), sq) << m;
        Elem rot = a;
        for (int i = 0; i < m; ++i) BaseSquare(&ecc, rot.w);
        EXPECT_EQ(rot, a) << m;
        EXPECT_EQ(Mul(&ecc, a, b), Mul(&ecc, b, a)) << m;
        EXPECT_EQ(Mul(&ecc, Mul(&ecc, a, b), c), Mul(&ecc, a, Mul(&ecc, b, c))) << m;
        Elem inv = a;
        BaseInverse(&ecc, inv.w);
        EXPECT_EQ(Mul(&ecc, a, inv), one) << m;
        Elem zero;
        BaseInverse(&ecc, zero.w);
        EXPECT_TRUE(BaseIsZero(zero.w));
        // a + 1 complements the m coordinates; (a + 1)^2 = a^2 + 1.
        Elem inc = a;
        BaseSumShort(&ecc, inc.w, 1);
        Elem want = a;
        BaseSum(want.w, one.w);
        EXPECT_EQ(inc, want) << m;
        BaseSquare(&ecc, inc.w);
        BaseSumShort(&ecc, sq.w, 1);
        EXPECT_EQ(inc, sq) << m;
        EXPECT_EQ(BaseTrace(&ecc, one.w), 1);  // trace(1) = m mod 2
    }
}

// The normal-basis standard curves: a random point times h*n is the point at
// infinity (h = 4 for a = 0, 2 for a = 1), and signing, verification and key
// agreement work on each.
TEST(OnbCurves, OrderSignatureAndAgreement) {
    Rng rng(52);
    for (int m : OnbCurveDegrees()) {
        TEcc ecc;
        ASSERT_TRUE(SetUpStdCurve(&ecc, m, &rng, 1)) << m;
        EXPECT_EQ(ecc.Onb, 1);
        EXPECT_EQ(EccVerifyBasePoint(&ecc), 1) << m;

        // A point of the whole group, not only of the subgroup of order n.
        TEcPoint pt;
        for (int tries = 0; tries < 100; ++tries) {
            Elem u, w, t, z;
            ASSERT_TRUE(BaseGenRandom(&ecc, u.w));
            BaseCopy(u.w, t.w);
            BaseSquare(&ecc, t.w);
            BaseCopy(t.w, w.w);
            BaseMul(&ecc, w.w, u.w);
            if (ecc.A) BaseSum(w.w, t.w);
            BaseSum(w.w, ecc.B);
            if (BaseRootOfQuadraticEq(&ecc, u.w, w.w, z.w) == 0) continue;
            PointMake(&pt, u.w, z.w);
            break;
        }
        ASSERT_TRUE(PointOnCurve(&ecc, &pt)) << m;
        // The carry-less ladder against the one built on the window products.
        if (m == 173 || m == 509) {
            Elem k = RandomElement(&ecc, rng);
            TEcPoint fast, slow;
            EccScalarMul(&ecc, k.w, &pt, &fast);
            {
                PathGuard g(true);
                EccScalarMul(&ecc, k.w, &pt, &slow);
            }
            EXPECT_TRUE(PointIsEqual(&fast, &slow)) << m;
        }
        Elem h;
        h.w[0] = ecc.A ? 2 : 4;
        TEcPoint hp, o;
        EccScalarMul(&ecc, h.w, &pt, &hp);
        EccScalarMul(&ecc, ecc.N, &hp, &o);
        EXPECT_TRUE(EccPointIsInfinity(&o)) << m;

        Elem d;
        TEcPoint q;
        ASSERT_TRUE(EccGeneratePrivateKey(&ecc, d.w));
        ASSERT_TRUE(EccCalcPublicKey(&ecc, d.w, &q));
        std::array<uint8_t, 32> hash;
        for (auto &x : hash) x = static_cast<uint8_t>(rng.Next());
        std::vector<uint8_t> sig(ecc.SigLen);
        ASSERT_TRUE(EccSignHash(&ecc, d.w, hash.data(), sig.data()));
        EXPECT_EQ(EccCheckHash(&ecc, &q, hash.data(), sig.data(), 0), 1) << m;
        sig[0] ^= 1;
        EXPECT_EQ(EccCheckHash(&ecc, &q, hash.data(), sig.data(), 0), 0) << m;

        // Compression round trip in this basis.
        Elem packed;
        TEcPoint back;
        EccShrinkPoint(&ecc, &q, packed.w);
        EccExpandPoint(&ecc, packed.w, &back);
        EXPECT_TRUE(PointIsEqual(&back, &q)) << m;

        TEcDHKD sender, receiver;
        ASSERT_TRUE(EcdhInitTpl(&receiver, &ecc, nullptr));
        ASSERT_TRUE(EcdhInitStd(&sender, m, 1, &ecc.P, nullptr, nullptr, &Rng::Bit, &rng));
        std::array<uint8_t, 32> s0, s1, r0, r1;
        TEcPoint eph;
        ASSERT_TRUE(EcdhDeriveKeySend(&sender, &q, s0.data(), s1.data(), &eph)) << m;
        ASSERT_TRUE(EcdhDeriveKeyReceive(&receiver, &eph, d.w, r0.data(), r1.data())) << m;
        EXPECT_EQ(s0, r0) << m;
        EXPECT_EQ(s1, r1) << m;
        EcdhDone(&sender);
        EcdhDone(&receiver);
    }
}
