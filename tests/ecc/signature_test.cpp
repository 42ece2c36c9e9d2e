// DSTU 4145 signature: the standard's worked example, round trips on the standard
// curves, malformed signatures and the byte and text conversions.
#include "ecc_test_util.h"

using namespace ecctest;
using namespace kcar::ecc;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes LittleEndian(const Elem &v, size_t len) {
    Bytes b(len);
    CvBase2Mem(v.w, b.data(), static_cast<int64_t>(len));
    return b;
}

// The worked example's curve and base point.
struct Example {
    std::map<std::string, std::string> v = Section("B.1");
    TEcc ecc;
    Example() {
        EccInit(&ecc, nullptr, nullptr);
        EXPECT_TRUE(EccSetBaseField(&ecc, 163, 7, 6, 3));
        EXPECT_TRUE(EccSetCurve(&ecc, 1, Hex(v["b"]).w, Hex(v["n"]).w));
        TEcPoint p;
        PointMake(&p, Hex(v["Px"]).w, Hex(v["Py"]).w);
        EXPECT_TRUE(EccSetBasePoint(&ecc, &p));
    }
};

}  // namespace

TEST(EccSignature, WorkedExampleOfTheStandard) {
    Example ex;
    TEcc &ecc = ex.ecc;
    TEcPoint q;
    ASSERT_TRUE(EccCalcPublicKey(&ecc, Hex(ex.v["d"]).w, &q));
    EXPECT_EQ(ToHex(q.x), ToHex(Hex(ex.v["Qx"]).w));
    EXPECT_EQ(ToHex(q.y), ToHex(Hex(ex.v["Qy"]).w));

    const Bytes hash = LittleEndian(Hex(ex.v["H"]), 32);
    Elem h;
    CvHash2Base(&ecc, hash.data(), h.w);
    EXPECT_EQ(ToHex(h.w), ToHex(Hex(ex.v["h"]).w));

    FixedBits e;
    e.value = Hex(ex.v["e"]);
    ecc.RandFunc = &FixedBits::Bit;
    ecc.RandCtx = &e;
    Bytes sig(ecc.SigLen);
    ASSERT_TRUE(EccSignHash(&ecc, Hex(ex.v["d"]).w, hash.data(), sig.data()));
    Bytes want = LittleEndian(Hex(ex.v["r"]), 21);
    const Bytes s = LittleEndian(Hex(ex.v["s"]), 21);
    want.insert(want.end(), s.begin(), s.end());
    EXPECT_EQ(sig, want);
    EXPECT_EQ(EccCheckHash(&ecc, &q, hash.data(), sig.data(), 0), 1);
}

TEST(EccSignature, SignAndVerifyOnEveryStandardCurve) {
    Rng rng(30);
    for (int m : StdCurveDegrees()) {
        TEcc ecc;
        ASSERT_TRUE(SetUpStdCurve(&ecc, m, &rng)) << m;
        Elem d;
        ASSERT_TRUE(EccGeneratePrivateKey(&ecc, d.w));
        EXPECT_FALSE(IntIsZero(d.w));
        EXPECT_LT(IntCmp(d.w, ecc.N), 0);
        TEcPoint q;
        ASSERT_TRUE(EccCalcPublicKey(&ecc, d.w, &q));
        EXPECT_EQ(EccVerifyPublicKey(&ecc, &q), 1);
        Bytes hash(32);
        for (auto &b : hash) b = static_cast<uint8_t>(rng.Next());
        Bytes sig(ecc.SigLen);
        ASSERT_TRUE(EccSignHash(&ecc, d.w, hash.data(), sig.data()));
        EXPECT_EQ(EccCheckHash(&ecc, &q, hash.data(), sig.data(), 0), 1) << m;
        // Any changed hash or signature byte fails (one position of each per curve).
        Bytes h2 = hash;
        h2[rng.Next() % 24] ^= 0x01;
        EXPECT_EQ(EccCheckHash(&ecc, &q, h2.data(), sig.data(), 0), 0) << m;
        Bytes s2 = sig;
        s2[rng.Next() % sig.size()] ^= 0x10;
        EXPECT_EQ(EccCheckHash(&ecc, &q, hash.data(), s2.data(), 0), 0) << m;
    }
}

TEST(EccSignature, EveryByteOfTheSignatureCounts) {
    Rng rng(31);
    TEcc ecc;
    ASSERT_TRUE(SetUpStdCurve(&ecc, 163, &rng));
    Elem d;
    TEcPoint q;
    ASSERT_TRUE(EccGeneratePrivateKey(&ecc, d.w));
    EccCalcPublicKey(&ecc, d.w, &q);
    const Bytes hash(32, 0x5A);
    Bytes sig(ecc.SigLen);
    ASSERT_TRUE(EccSignHash(&ecc, d.w, hash.data(), sig.data()));
    for (size_t i = 0; i < sig.size(); ++i) {
        Bytes s2 = sig;
        s2[i] ^= 0x80;
        EXPECT_EQ(EccCheckHash(&ecc, &q, hash.data(), s2.data(), 0), 0) << i;
    }
}

TEST(EccSignature, LengthsAndMalformedHalves) {
    Rng rng(32);
    TEcc ecc;
    ASSERT_TRUE(SetUpStdCurve(&ecc, 163, &rng));
    Elem d;
    TEcPoint q;
    ASSERT_TRUE(EccGeneratePrivateKey(&ecc, d.w));
    EccCalcPublicKey(&ecc, d.w, &q);
    const Bytes hash(32, 0xA5);
    const size_t L = static_cast<size_t>(ecc.SigLen), half = L / 2;
    Bytes sig(L);
    ASSERT_TRUE(EccSignHash(&ecc, d.w, hash.data(), sig.data()));

    auto padded = [&](size_t h) {  // each half widened to h bytes with zeros
        Bytes p(2 * h, 0);
        std::copy(sig.begin(), sig.begin() + half, p.begin());
        std::copy(sig.begin() + half, sig.end(), p.begin() + h);
        return p;
    };
    const Bytes n = LittleEndian(Elem{[&] { Elem e; IntCopy(ecc.N, e.w); return e; }()}, half);
    Bytes r_n = sig, s_n = sig, r_0 = sig, s_0 = sig;
    std::copy(n.begin(), n.end(), r_n.begin());
    std::copy(n.begin(), n.end(), s_n.begin() + half);
    std::fill(r_0.begin(), r_0.begin() + half, 0);
    std::fill(s_0.begin() + half, s_0.end(), 0);
    Bytes wide = padded(70);
    Bytes wide_junk = wide;
    wide_junk[66] = 1;  // beyond the 64 bytes that are read

    struct Case {
        const char *what;
        Bytes sig;
        uint32_t len;
        int want;
    } cases[] = {
        {"length 0 means SigLen", sig, 0, 1},
        {"exact length", sig, static_cast<uint32_t>(L), 1},
        {"two bytes short", sig, static_cast<uint32_t>(L - 2), 0},
        {"odd length", padded(half + 1), static_cast<uint32_t>(L + 1), 0},
        {"halves padded by one byte", padded(half + 1), static_cast<uint32_t>(L + 2), 1},
        {"halves of 70 bytes", wide, 140, 1},
        {"junk beyond 64 bytes of a half", wide_junk, 140, 0},
        {"r = n", r_n, 0, 0},
        {"s = n", s_n, 0, 0},
        {"r = 0", r_0, 0, 0},
        {"s = 0", s_0, 0, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(EccCheckHash(&ecc, &q, hash.data(), c.sig.data(), c.len), c.want) << c.what;

    TEcc bare = ecc;
    bare.BasePointSet = 0;
    EXPECT_EQ(EccCheckHash(&bare, &q, hash.data(), sig.data(), 0), 0);
}

TEST(EccSignature, PrerequisitesAndKeyRange) {
    Rng rng(33);
    TEcc ecc;
    ASSERT_TRUE(SetUpStdCurve(&ecc, 163, &rng));
    const Bytes hash(32, 1);
    Bytes sig(ecc.SigLen);
    Elem d = Hex("12345"), n;
    IntCopy(ecc.N, n.w);
    TEcc no_point = ecc, no_rand = ecc;
    no_point.BasePointSet = 0;
    no_rand.RandFunc = nullptr;
    TEcPoint q;
    EXPECT_EQ(EccSignHash(&no_point, d.w, hash.data(), sig.data()), 0);
    EXPECT_EQ(EccSignHash(&no_rand, d.w, hash.data(), sig.data()), 0);
    EXPECT_EQ(EccGeneratePrivateKey(&no_point, d.w), 0);
    EXPECT_EQ(EccGeneratePrivateKey(&no_rand, d.w), 0);
    EXPECT_EQ(EccCalcPublicKey(&no_point, d.w, &q), 0);
    EXPECT_EQ(EccSignHash(&ecc, Elem{}.w, hash.data(), sig.data()), 0);  // d = 0
    EXPECT_EQ(EccSignHash(&ecc, n.w, hash.data(), sig.data()), 0);       // d = n
}

TEST(EccSignature, HashToFieldElement) {
    TEcc ecc;
    EccInit(&ecc, nullptr, nullptr);
    ASSERT_TRUE(EccSetStdField(&ecc, 163, 0));
    Bytes hash(32, 0);
    hash[24] = 0xFF;  // beyond the 24 bytes used for m = 163
    Elem h;
    CvHash2Base(&ecc, hash.data(), h.w);
    EXPECT_EQ(h, Hex("1"));
    hash[20] = 0x80;  // bit 167: above m
    CvHash2Base(&ecc, hash.data(), h.w);
    EXPECT_EQ(h, Hex("1"));
    hash[20] = 0x04;  // bit 162
    CvHash2Base(&ecc, hash.data(), h.w);
    EXPECT_EQ(h, Hex("4" + std::string(40, '0')));
    ASSERT_TRUE(EccSetStdField(&ecc, 257, 0));
    CvHash2Base(&ecc, hash.data(), h.w);  // all 32 bytes
    EXPECT_EQ(ToHex(h.w), "FF00000004" + std::string(40, '0'));
}

TEST(EccConversions, TextAndByteArrays) {
    TEcc ecc;
    EccInit(&ecc, nullptr, nullptr);
    char text[130];
    struct Width {
        int m;
        size_t digits;
    } widths[] = {{163, 42}, {173, 44}, {257, 66}, {509, 128}};
    for (const Width &w : widths) {
        ASSERT_TRUE(EccSetStdField(&ecc, w.m, 0));
        EccBaseToString(&ecc, Elem{}.w, text);
        EXPECT_EQ(std::string(text), std::string(w.digits, '0'));
        EccIntToString(&ecc, Hex("AB").w, text);
        EXPECT_EQ(std::string(text), std::string(w.digits - 2, '0') + "AB");
    }
    Elem v;
    EccBaseFromString(&ecc, "1aF", v.w);
    EXPECT_EQ(v, Hex("1AF"));
    // More than 128 digits: only the last 128 count, nothing written past the value.
    const std::string long_text = "77" + std::string(128, 'F');
    EccIntFromString(&ecc, long_text.c_str(), v.w);
    for (uint32_t w : v.w) EXPECT_EQ(w, 0xFFFFFFFFu);

    const uint8_t two[] = {0x01, 0x02};
    EccBaseFromArrayMSB(&ecc, two, 2, v.w);
    EXPECT_EQ(v, Hex("102"));
    EccIntFromArrayLSB(&ecc, two, 2, v.w);
    EXPECT_EQ(v, Hex("201"));
    Bytes longer(70);
    for (size_t i = 0; i < longer.size(); ++i) longer[i] = static_cast<uint8_t>(i + 1);
    EccIntFromArrayMSB(&ecc, longer.data(), 70, v.w);  // the last 64 bytes count
    EXPECT_EQ(v.w[0], 0x43444546u);
    EXPECT_EQ(v.w[15], 0x07080900u | 0x0A);

    Elem all;
    for (int i = 0; i < 16; ++i) all.w[i] = 0x01010101u * static_cast<uint32_t>(i + 1);
    Bytes out(70, 0xEE);
    EccBaseToArrayMSB(&ecc, all.w, out.data(), 70);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(out[i], 0);
    EXPECT_EQ(out[6], 16);
    EXPECT_EQ(out[69], 1);
    Bytes lsb(3, 0xEE);
    EccIntToArrayLSB(&ecc, Hex("ABCDEF").w, lsb.data(), 3);
    EXPECT_EQ(lsb, (Bytes{0xEF, 0xCD, 0xAB}));
    EccIntToArrayMSB(&ecc, Hex("ABCDEF").w, lsb.data(), 3);
    EXPECT_EQ(lsb, (Bytes{0xAB, 0xCD, 0xEF}));
}

TEST(EccSignature, BrokenRandomSourceIsRefusedNotWaitedOn) {
    Example ex;
    TEcc &ecc = ex.ecc;
    ecc.RandFunc = [](void *) -> int32_t { return 0; };  // only zero bits
    uint32_t d[ECC_WORDS];
    EXPECT_EQ(EccGeneratePrivateKey(&ecc, d), 0);
    Bytes sig(ecc.SigLen), hash(32, 1);
    EXPECT_EQ(EccSignHash(&ecc, Hex(ex.v["d"]).w, hash.data(), sig.data()), 0);
    EXPECT_EQ(EccVerifyCurve(&ecc), 0);
}
