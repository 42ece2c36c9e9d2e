// Cipher-based generator: output step, bit and byte order, resets, wiping.
#include <gtest/gtest.h>

#include <cstring>

#include "crypto/gost/magma_core.h"
#include "kcarlib/gost.h"
#include "vectors.h"

using namespace gosttest;

namespace {

const uint8_t kKey[32] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB,
                          0xCC, 0xDD, 0xEE, 0xFF, 0x00, 1,    2,    3,    4,    5,    6,
                          7,    8,    9,    10,   11,   12,   13,   14,   15,   16};
const uint8_t kSeed[8] = {0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02, 0x03, 0x04};
const uint8_t kTime[8] = {0x10, 0x32, 0x54, 0x76, 0, 0, 0, 0};

Bytes Draw(TMagmaRng *rng, int64_t n) {
    Bytes b(static_cast<size_t>(n));
    MagmaRngBuf(rng, b.data(), n);
    return b;
}

// R = E(V ^ E(I)), V' = E(R ^ E(I)), computed with a plain cipher record.
TEST(GostRng, OutputStepIsTwoEncryptionsAroundTheTimeBlock) {
    TMagmaRng rng;
    MagmaRngInit(&rng, kSeed, nullptr, kKey, kTime);
    TGostCipher e;
    MagmaInit(&e, UzUa01, kKey);
    uint8_t i[8], v[8], r[8];
    std::memcpy(i, kTime, 8);
    MagmaM1Encrypt(&e, i, 8);
    EXPECT_EQ(Hex(rng.TimeBlock, 8), Hex(i, 8));
    std::memcpy(v, kSeed, 8);
    for (int step = 0; step < 3; ++step) {
        for (int k = 0; k < 8; ++k) r[k] = uint8_t(v[k] ^ i[k]);
        MagmaM1Encrypt(&e, r, 8);
        for (int k = 0; k < 8; ++k) v[k] = uint8_t(r[k] ^ i[k]);
        MagmaM1Encrypt(&e, v, 8);
        uint8_t got[8];
        if (step == 1) {
            const uint8_t b = MagmaRngNext(&rng);
            EXPECT_EQ(b, r[0]);
        } else {
            _MagmaRngGetBlock(&rng, got);
            EXPECT_EQ(Hex(got, 8), Hex(r, 8)) << "step " << step;
        }
        EXPECT_EQ(Hex(rng.Seed, 8), Hex(v, 8)) << "step " << step;
        EXPECT_EQ(Hex(rng.TimeBlock, 8), Hex(i, 8)) << "time block stays";
    }
}

// A byte is eight bits from eight steps, the first in bit 0; MagmaRngBuf is
// MagmaRngNext8Bit in order.
TEST(GostRng, BitAndByteOrder) {
    TMagmaRng a;
    MagmaRngInit(&a, kSeed, Uz34311, kKey, kTime);
    const Bytes buf = Draw(&a, 5);

    // The same bytes composed from single steps of an identical record; a bit is
    // bit 0 of a step's byte.
    TMagmaRng b, c;
    MagmaRngInit(&b, kSeed, Uz34311, kKey, kTime);
    std::memcpy(&c, &b, sizeof b);
    for (int n = 0; n < 5; ++n) {
        uint8_t byte = 0;
        for (int bit = 0; bit < 8; ++bit) {
            const int step = MagmaRngNext(&b) & 1;
            EXPECT_EQ(MagmaRngNextBit(&c), step);
            byte = uint8_t(byte | step << bit);
        }
        EXPECT_EQ(buf[size_t(n)], byte) << "byte " << n;
    }
    TMagmaRng e;
    MagmaRngInit(&e, kSeed, Uz34311, kKey, kTime);
    for (int n = 0; n < 5; ++n) EXPECT_EQ(MagmaRngNext8Bit(&e), buf[size_t(n)]);
}

TEST(GostRng, EmptyOrNegativeRequestsDrawNothing) {
    TMagmaRng a;
    MagmaRngInit(&a, kSeed, nullptr, kKey, kTime);
    TMagmaRng before;
    std::memcpy(&before, &a, sizeof a);
    uint8_t out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    for (int64_t len : {int64_t(0), int64_t(-1), INT64_MIN}) {
        MagmaRngBuf(&a, out, len);
        EXPECT_EQ(0, std::memcmp(&a, &before, sizeof a)) << len;
        EXPECT_EQ(Hex(out, 4), "aaaaaaaa");
    }
}

TEST(GostRng, RecordsSetUpAlikeGiveTheSameStream) {
    struct {
        const char *name;
        const uint8_t *seed, *sbox;
        bool differs;
    } const cases[] = {
        {"same arguments", kSeed, nullptr, false},
        {"UzUa01 is the default table", kSeed, UzUa01, false},
        {"other table", kSeed, Uz34311, true},
        {"no seed means zeros", nullptr, nullptr, true},
    };
    TMagmaRng base;
    MagmaRngInit(&base, kSeed, nullptr, kKey, kTime);
    const Bytes want = Draw(&base, 32);
    for (const auto &c : cases) {
        TMagmaRng r;
        MagmaRngInit(&r, c.seed, c.sbox, kKey, kTime);
        EXPECT_EQ(Draw(&r, 32) != want, c.differs) << c.name;
    }
}

// A reset without a key keeps the key and the seed and takes the new time block;
// a record first set up without a key is usable after a keyed reset.
TEST(GostRng, ResetsKeepWhatTheyAreNotGiven) {
    const uint8_t time2[8] = {7, 7, 7, 7, 7, 7, 7, 7};
    TMagmaRng a;
    MagmaRngInit(&a, kSeed, nullptr, kKey, kTime);
    Draw(&a, 3);
    uint8_t seedNow[8];
    std::memcpy(seedNow, a.Seed, 8);
    MagmaRngReset(&a, nullptr, nullptr, nullptr, time2);

    TMagmaRng b;
    MagmaRngInit(&b, nullptr, nullptr, nullptr, nullptr);
    const uint8_t zero8[8] = {};
    EXPECT_EQ(Hex(b.Seed, 8), Hex(zero8, 8));
    MagmaRngReset(&b, seedNow, nullptr, kKey, time2);
    EXPECT_EQ(Draw(&a, 16), Draw(&b, 16));
}

TEST(GostRng, DoneWipesCipherSeedAndTimeBlock) {
    TMagmaRng r;
    MagmaRngInit(&r, kSeed, nullptr, kKey, kTime);
    Draw(&r, 2);
    MagmaRngDone(&r);
    TMagmaRng wiped;
    std::memset(&wiped, 0, sizeof wiped);
    wiped.Cipher.GammaStart = 1;
    EXPECT_EQ(0, std::memcmp(&r, &wiped, sizeof r));
}

}  // namespace
