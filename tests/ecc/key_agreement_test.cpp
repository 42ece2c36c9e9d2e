// Key agreement: both sides agree on every standard curve, the derivation block,
// and the points the receiver refuses.
#include <array>

#include "ecc_test_util.h"

using namespace ecctest;
using namespace kcar::ecc;

namespace {

using Key = std::array<uint8_t, 32>;

// The receiver's key pair Q = d*P on a fresh record with a generated base point.
struct Party {
    TEcDHKD kd;
    Elem d;
    TEcPoint q;
    Party(int m, Rng *rng) {
        TEcc tpl;
        EXPECT_TRUE(SetUpStdCurve(&tpl, m, rng));
        EXPECT_TRUE(EcdhInitTpl(&kd, &tpl, nullptr));
        EXPECT_TRUE(EccGeneratePrivateKey(&kd.Ecc, d.w));
        EccScalarMul(&kd.Ecc, d.w, &kd.Ecc.P, &q);
    }
    ~Party() { EcdhDone(&kd); }
};

// The key of tag computed independently: hash of x(Z) padded to len, tag last.
Key ExpectedKey(const TEcc *ecc, const TEcPoint &z, size_t len, uint8_t tag) {
    std::vector<uint8_t> block(len, 0);
    EccBaseToArrayLSB(ecc, z.x, block.data(), (ecc->M + 7) / 8);
    block[len - 1] = tag;
    TGostHash h;
    HashInit(&h, nullptr, nullptr);
    HashUpdate(&h, block.data(), static_cast<uint32_t>(len));
    Key k;
    HashFinal(&h, k.data());
    HashDone(&h);
    return k;
}

}  // namespace

TEST(EccKeyAgreement, SenderAndReceiverAgreeOnEveryStandardCurve) {
    Rng rng(40);
    for (int m : StdCurveDegrees()) {
        Party receiver(m, &rng);
        TEcDHKD sender;
        ASSERT_TRUE(EcdhInitStd(&sender, m, 0, &receiver.kd.Ecc.P, nullptr, nullptr, &Rng::Bit, &rng));
        Key s0, s1, r0, r1;
        TEcPoint eph;
        ASSERT_TRUE(EcdhDeriveKeySend(&sender, &receiver.q, s0.data(), s1.data(), &eph)) << m;
        ASSERT_TRUE(EcdhDeriveKeyReceive(&receiver.kd, &eph, receiver.d.w, r0.data(), r1.data())) << m;
        EXPECT_EQ(s0, r0) << m;
        EXPECT_EQ(s1, r1) << m;
        EXPECT_NE(s0, s1) << m;
        EcdhDone(&sender);
    }
}

TEST(EccKeyAgreement, DerivationBlockLengthAndTag) {
    Rng rng(41);
    const struct {
        int m;
        size_t len;
    } cases[] = {{163, 32}, {257, 64}, {509, 96}};
    for (const auto &c : cases) {
        Party receiver(c.m, &rng);
        EXPECT_EQ(KeyBlockLength(&receiver.kd.Ecc), static_cast<int64_t>(c.len));
        TEcPoint r;
        Elem e = Hex("1234567890ABCDEF1234567");
        EccScalarMul(&receiver.kd.Ecc, e.w, &receiver.kd.Ecc.P, &r);
        Key k0, k1;
        ASSERT_TRUE(EcdhDeriveKeyReceive(&receiver.kd, &r, receiver.d.w, k0.data(), k1.data()));
        TEcPoint z;
        EccScalarMul(&receiver.kd.Ecc, receiver.d.w, &r, &z);
        EXPECT_EQ(k0, ExpectedKey(&receiver.kd.Ecc, z, c.len, 0)) << c.m;
        EXPECT_EQ(k1, ExpectedKey(&receiver.kd.Ecc, z, c.len, 1)) << c.m;
        // The same derivation again gives the same keys: every key restarts the hash.
        Key again0, again1;
        ASSERT_TRUE(EcdhDeriveKeyReceive(&receiver.kd, &r, receiver.d.w, again0.data(), again1.data()));
        EXPECT_EQ(again0, k0);
    }
}

TEST(EccKeyAgreement, SenderRefusesPointsOfOrderFour) {
    // On a curve with a = 0 the group has cofactor 4: the points of order 4 have
    // x^4 = b (their double is the order-2 point (0, sqrt b)).
    Rng rng(7);
    Party receiver(173, &rng);
    TEcc *ecc = &receiver.kd.Ecc;
    ASSERT_EQ(ecc->A, 0);
    Elem x, w, z, one;
    BaseSquareRoot(ecc, ecc->B, w.w);
    BaseSquareRoot(ecc, w.w, x.w);  // x = b^(1/4)
    // y = x*z with z^2 + z = x + b/x^2 (a = 0).
    Elem inv = x;
    BaseSquare(ecc, inv.w);
    BaseInverse(ecc, inv.w);
    BaseMul(ecc, inv.w, ecc->B);
    BaseSum(inv.w, x.w);
    BaseSetOne(ecc, one.w);
    ASSERT_GT(BaseRootOfQuadraticEq(ecc, one.w, inv.w, z.w), 0);
    BaseMul(ecc, z.w, x.w);
    TEcPoint four;
    PointMake(&four, x.w, z.w);
    TEcPoint twice = four;
    AfDouble(ecc, &twice);
    ASSERT_TRUE(BaseIsZero(twice.x)) << "not a point of order 4";
    TEcPoint mixed = receiver.q;
    AfSum(ecc, &mixed, &four);
    Key k0, k1;
    TEcPoint eph;
    for (const TEcPoint *bad : {&four, &twice, &mixed})
        for (int i = 0; i < 4; ++i) EXPECT_EQ(EcdhDeriveKeySend(&receiver.kd, bad, k0.data(), k1.data(), &eph), 0);
    EXPECT_EQ(EcdhDeriveKeySend(&receiver.kd, &receiver.q, k0.data(), k1.data(), &eph), 1);
}

TEST(EccKeyAgreement, RefusedPointsAndRecords) {
    Rng rng(42);
    Party receiver(163, &rng);
    TEcc *ecc = &receiver.kd.Ecc;
    TEcPoint inf, off = receiver.q, two;
    PointClear(&inf);
    off.y[0] ^= 1;
    PointClear(&two);
    BaseSquareRoot(ecc, ecc->B, two.y);  // on the curve, order 2
    Key k0, k1;
    for (const TEcPoint *bad : {&inf, &off, &two})
        EXPECT_EQ(EcdhDeriveKeyReceive(&receiver.kd, bad, receiver.d.w, k0.data(), k1.data()), 0);
    EXPECT_EQ(EcdhDeriveKeyReceive(&receiver.kd, &receiver.q, Elem{}.w, k0.data(), k1.data()), 0);

    // The sender refuses the same points, and a point of order 2n: with them e*Q
    // would fall in a small subgroup and the keys would be guessable.
    TEcPoint mixed = receiver.q;
    AfSum(ecc, &mixed, &two);
    TEcPoint eph;
    for (const TEcPoint *bad : {&inf, &off, &two, &mixed})
        for (int i = 0; i < 4; ++i)  // about half the ephemeral keys missed the order-2 point
            EXPECT_EQ(EcdhDeriveKeySend(&receiver.kd, bad, k0.data(), k1.data(), &eph), 0);
    TEcDHKD no_rand;
    ASSERT_TRUE(EcdhInitStd(&no_rand, 163, 0, &ecc->P, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(EcdhDeriveKeySend(&no_rand, &receiver.q, k0.data(), k1.data(), &eph), 0);
    EcdhDone(&no_rand);

    // A template without a base point, including one whose P is only stale.
    TEcc tpl;
    EccInit(&tpl, &Rng::Bit, &rng);
    ASSERT_TRUE(EccSetStdCurve(&tpl, 163, 0));
    TEcDHKD kd;
    EXPECT_EQ(EcdhInitTpl(&kd, &tpl, nullptr), 0);
    EcdhDone(&kd);
    PointCopy(&ecc->P, &tpl.P);
    EXPECT_EQ(EcdhInitTpl(&kd, &tpl, nullptr), 0);
    EcdhDone(&kd);
    // Parameters refused by the curve setters.
    EXPECT_EQ(EcdhInitAll(&kd, 163, 7, 6, 3, 2, ecc->B, ecc->N, &ecc->P, nullptr, nullptr, nullptr, nullptr), 0);
    EcdhDone(&kd);
    EXPECT_EQ(EcdhInitStd(&kd, 165, 0, &ecc->P, nullptr, nullptr, nullptr, nullptr), 0);
    EcdhDone(&kd);
    EXPECT_EQ(EcdhInitAll(&kd, 163, 7, 6, 3, 1, ecc->B, ecc->N, &ecc->P, nullptr, nullptr, nullptr, nullptr), 1);
    EcdhDone(&kd);
}
