// Byte reversal and squaring in GF(2^191), against a bit-by-bit reference.
#include <gtest/gtest.h>

#include <array>
#include <bitset>
#include <random>

#include "token/nki_abs.h"

namespace {

using Element = std::array<uint8_t, 24>;
using kcar::TNkiAbs;

// Square as a polynomial, then reduce with x^191 = x^9 + 1, one bit at a time.
Element ReferenceSquare(const Element &a) {
    std::bitset<384> s;
    for (int i = 0; i < 192; ++i)
        if (a[i / 8] >> (i % 8) & 1) s.set(2 * i);
    for (int i = 383; i >= 191; --i) {
        if (!s.test(i)) continue;
        s.reset(i);
        s.flip(i - 191);
        s.flip(i - 191 + 9);
    }
    Element r{};
    for (int i = 0; i < 191; ++i)
        if (s.test(i)) r[i / 8] |= static_cast<uint8_t>(1 << (i % 8));
    return r;
}

TEST(BaseSquare, KnownElements) {
    Element one{}, x96{}, x10x{};
    one[0] = 1;
    x96[12] = 1;
    x10x[0] = 0x02;  // x
    x10x[1] = 0x04;  // x^10
    Element a = one;
    TNkiAbs::BaseSquare(a.data());
    EXPECT_EQ(a, one);
    a = x96;
    TNkiAbs::BaseSquare(a.data());
    EXPECT_EQ(a, x10x);
}

TEST(BaseSquare, AgreesWithBitByBitReduction) {
    std::mt19937 rng(191);
    for (int n = 0; n < 2000; ++n) {
        Element a;
        for (auto &b : a) b = static_cast<uint8_t>(rng());
        if (n % 2) a[23] &= 0x7F;  // degree below 191; the rest also carry bit 191
        if (n < 24) a.fill(0), a[n] = 0xFF;  // every byte position saturated
        Element got = a;
        TNkiAbs::BaseSquare(got.data());
        ASSERT_EQ(got, ReferenceSquare(a)) << n;
    }
}

TEST(ByteReverse, OddEvenAndEmpty) {
    uint8_t even[4] = {1, 2, 3, 4}, odd[5] = {1, 2, 3, 4, 5}, one[1] = {7};
    TNkiAbs::ByteReverse(even, 4);
    TNkiAbs::ByteReverse(odd, 5);
    TNkiAbs::ByteReverse(one, 1);
    TNkiAbs::ByteReverse(nullptr, 0);
    EXPECT_EQ(std::vector<uint8_t>(even, even + 4), (std::vector<uint8_t>{4, 3, 2, 1}));
    EXPECT_EQ(std::vector<uint8_t>(odd, odd + 5), (std::vector<uint8_t>{5, 4, 3, 2, 1}));
    EXPECT_EQ(one[0], 7);
}

}  // namespace
