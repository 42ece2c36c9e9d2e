// GOST 34.311 hash: the published examples, the stream and restart contracts, the
// exported building blocks and agreement with the byte-wise form.
#include <gtest/gtest.h>

#include <cstring>

#include "kcarlib/gost.h"
#include "reference.h"
#include "vectors.h"

using namespace gosttest;

namespace {

std::string Digest(TGostHash *h) {
    uint8_t out[32];
    HashFinal(h, out);
    return Hex(out, 32);
}

// What a running hash record means: H, Sum, Length and the filled part of Block.
void ExpectSameState(const TGostHash &a, const TGostHash &b) {
    EXPECT_EQ(Hex(a.H, 32), Hex(b.H, 32));
    EXPECT_EQ(Hex(a.Sum, 32), Hex(b.Sum, 32));
    EXPECT_EQ(Hex(a.Length, 32), Hex(b.Length, 32));
    ASSERT_EQ(a.BlockPos, b.BlockPos);
    EXPECT_EQ(Hex(a.Block, a.BlockPos), Hex(b.Block, b.BlockPos));
}

TEST(GostHash, VectorsAndStreamContracts) {
    const auto vectors = ReadVectors("gost34311.txt");
    ASSERT_EQ(vectors.size(), 5u);
    Lcg rnd(34311);
    for (const Section &s : vectors) {
        SCOPED_TRACE(s.name);
        const Bytes in = s.bytes("In");
        const std::string want = Hex(s.bytes("Out"));
        const uint32_t n = uint32_t(in.size());

        TGostHash whole;
        HashInit(&whole, nullptr, nullptr);
        HashUpdate(&whole, in.data(), n);
        EXPECT_EQ(Digest(&whole), want);
        EXPECT_EQ(Digest(&whole), want) << "second final";

        // The explicit parameters are the defaults.
        TGostHash h;
        const uint8_t zero[32] = {};
        HashInit(&h, Uz34311, zero);
        HashUpdate(&h, in.data(), n);
        EXPECT_EQ(Digest(&h), want) << "explicit table and start vector";

        // Byte by byte, and at random places with a final in between.
        HashClear(&h);
        for (uint32_t i = 0; i < n; ++i) HashUpdate(&h, &in[i], 1);
        EXPECT_EQ(Digest(&h), want) << "byte by byte";
        ExpectSameState(h, whole);
        for (int round = 0; round < 20; ++round) {
            HashClear(&h);
            for (uint32_t pos = 0; pos < n;) {
                uint32_t step = rnd.next() % (n - pos + 1);
                HashUpdate(&h, in.data() + pos, step);
                pos += step;
                if (rnd.next() % 2) Digest(&h);
            }
            ASSERT_EQ(Digest(&h), want) << "random split " << round;
        }

        // A copy taken mid-stream continues like the original; a clear restarts.
        for (uint32_t i = 0; i <= n; i += 7) {
            TGostHash a;
            HashInit(&a, nullptr, nullptr);
            HashUpdate(&a, in.data(), i);
            TGostHash copy = a;
            HashUpdate(&copy, in.data() + i, n - i);
            ASSERT_EQ(Digest(&copy), want) << "copy at " << i;
            HashClear(&a);
            HashUpdate(&a, in.data(), n);
            ASSERT_EQ(Digest(&a), want) << "clear after " << i;
        }
    }
}

TEST(GostHash, FinalLeavesTheRecordToContinue) {
    Bytes msg(32);
    for (int i = 0; i < 32; ++i) msg[i] = uint8_t(0xA0 + i);
    TGostHash all, parts;
    HashInit(&all, nullptr, nullptr);
    HashUpdate(&all, msg.data(), 32);
    HashInit(&parts, nullptr, nullptr);
    HashUpdate(&parts, msg.data(), 10);
    const std::string ten = Digest(&parts);
    TGostHash ref10;
    HashInit(&ref10, nullptr, nullptr);
    HashUpdate(&ref10, msg.data(), 10);
    EXPECT_EQ(ten, Digest(&ref10));
    HashUpdate(&parts, msg.data() + 10, 22);
    EXPECT_EQ(Digest(&parts), Digest(&all));
    ExpectSameState(parts, all);
}

// The exported building blocks compose to HashFinal: a one-block message is one
// step over the block, then a step over Length = 256 and one over Sum = the block.
TEST(GostHash, BuildingBlocksComposeTheHash) {
    const uint8_t start[32] = {0x55, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    uint8_t block[32];
    for (int i = 0; i < 32; ++i) block[i] = uint8_t(31 * i + 7);

    TGostHash h;
    HashInit(&h, UzUa01, start);
    HashUpdate(&h, block, 32);
    const std::string want = Digest(&h);

    TGostHash s;
    HashInit(&s, UzUa01, start);
    HashStep(&s, block);
    IncreaseHsLen(&s, 32);
    AddV256(s.Sum, block);
    HashStep(&s, s.Length);
    uint8_t sum[32];
    std::memcpy(sum, s.Sum, 32);
    HashStep(&s, sum);
    EXPECT_EQ(Hex(s.H, 32), want);

    const uint8_t l256[32] = {0, 1};
    EXPECT_EQ(Hex(s.Length, 32), Hex(l256, 32));
}

TEST(GostHash, VectorArithmeticAndTransforms) {
    // Addition carries through all 32 bytes and wraps at 2^256.
    uint8_t a[32], one[32] = {1}, zero[32] = {};
    std::memset(a, 0xFF, 32);
    AddV256(a, one);
    EXPECT_EQ(Hex(a, 32), Hex(zero, 32));
    std::memset(a, 0xFF, 31);
    a[31] = 0;
    AddV256(a, one);
    uint8_t top[32] = {};
    top[31] = 1;
    EXPECT_EQ(Hex(a, 32), Hex(top, 32));

    // Length grows by 8 n bits; 32 bytes carry into byte 1.
    TGostHash h;
    HashInit(&h, nullptr, nullptr);
    std::memset(h.Length, 0, 32);
    h.Length[0] = 0xF8;
    IncreaseHsLen(&h, 1);
    EXPECT_EQ(h.Length[0], 0);
    EXPECT_EQ(h.Length[1], 1);
    IncreaseHsLen(&h, 32);
    EXPECT_EQ(h.Length[1], 2);

    Lcg rnd(94);
    const Bytes y = rnd.bytes(32), b = rnd.bytes(32);
    uint8_t x[32], want[32];
    std::memcpy(x, y.data(), 32);
    XorV256(x, b.data());
    for (int i = 0; i < 32; ++i) want[i] = uint8_t(y[i] ^ b[i]);
    EXPECT_EQ(Hex(x, 32), Hex(want, 32));

    // Each transform against the byte-wise definition, also in place.
    struct {
        const char *name;
        void (*fn)(void *, const void *);
        void (*ref)(uint8_t *);
    } const transforms[] = {
        {"A", TransformA, [](uint8_t *v) { ref::Hash::A(v); }},
        {"P", TransformP, [](uint8_t *v) {
             uint8_t t[32];
             ref::Hash::P(t, v);
             std::memcpy(v, t, 32);
         }},
        {"psi", TransformFu1, [](uint8_t *v) { ref::Hash::Psi(v); }},
        {"psi^12", TransformFu12, [](uint8_t *v) { for (int i = 0; i < 12; ++i) ref::Hash::Psi(v); }},
        {"psi^61", TransformFu61, [](uint8_t *v) { for (int i = 0; i < 61; ++i) ref::Hash::Psi(v); }},
    };
    for (const auto &t : transforms) {
        SCOPED_TRACE(t.name);
        uint8_t out[32], inplace[32];
        std::memcpy(want, y.data(), 32);
        t.ref(want);
        t.fn(out, y.data());
        EXPECT_EQ(Hex(out, 32), Hex(want, 32));
        std::memcpy(inplace, y.data(), 32);
        t.fn(inplace, inplace);
        EXPECT_EQ(Hex(inplace, 32), Hex(want, 32));
    }
    // P spelled out: output byte 4k + i is input byte k + 8i.
    uint8_t idx[32], p[32];
    for (int i = 0; i < 32; ++i) idx[i] = uint8_t(i);
    TransformP(p, idx);
    EXPECT_EQ(p[1], 8);
    EXPECT_EQ(p[3], 24);
    EXPECT_EQ(p[4], 1);
    EXPECT_EQ(p[31], 31);
}

// Other tables and start vectors (as the token's parameters give them) against the
// byte-wise form, over lengths around the block size and with splits.
TEST(GostHash, MatchesTheStraightforwardForm) {
    Lcg rnd(1995);
    for (int trial = 0; trial < 3; ++trial) {
        const Bytes sbox = rnd.bytes(64), start = rnd.bytes(32);
        for (uint32_t len : {0u, 1u, 31u, 32u, 33u, 64u, 95u, 96u, 97u, 300u}) {
            SCOPED_TRACE("trial " + std::to_string(trial) + " len " + std::to_string(len));
            const Bytes msg = rnd.bytes(len);
            ref::Hash r(sbox.data(), start.data());
            r.Update(msg.data(), len);
            uint8_t want[32];
            r.Final(want);

            TGostHash h;
            HashInit(&h, sbox.data(), start.data());
            const uint32_t cut = len / 3;
            HashUpdate(&h, msg.data(), cut);
            HashUpdate(&h, msg.data() + cut, len - cut);
            ASSERT_EQ(Digest(&h), Hex(want, 32));
            EXPECT_EQ(Hex(h.Sum, 32), Hex(r.sum, 32));
            EXPECT_EQ(Hex(h.Length, 32), Hex(r.length, 32));
        }
    }
}

TEST(GostHash, DoneWipesTheWholeRecord) {
    TGostHash h;
    const uint8_t start[32] = {1, 2, 3};
    HashInit(&h, UzUa01, start);
    const uint8_t msg[45] = {9, 9, 9};
    HashUpdate(&h, msg, sizeof msg);
    HashDone(&h);
    TGostHash wiped;
    std::memset(&wiped, 0, sizeof wiped);
    wiped.Cipher.GammaStart = 1;
    EXPECT_EQ(0, std::memcmp(&h, &wiped, sizeof h));
}

}  // namespace
