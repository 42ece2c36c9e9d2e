// The certificate container's coder: the published encodings byte for byte, the
// round trip, the coder's limits and hostile streams.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "session/cert_packing.h"

using kcar::Pack;
using kcar::Unpack;
using Bytes = std::vector<uint8_t>;

namespace {

// Walks a packed stream and reports the longest match and the farthest distance.
void MatchExtremes(const Bytes &packed, std::size_t &maxLength, std::size_t &maxDistance) {
    maxLength = maxDistance = 0;
    std::size_t bit = 0;
    auto get = [&](int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++bit) v |= uint32_t((packed[bit >> 3] >> (bit & 7)) & 1) << i;
        return v;
    };
    for (;;) {
        if (get(1) == 0) {
            get(8);
            continue;
        }
        uint32_t lf = get(2);
        std::size_t length = lf == 3 ? 5 + get(4) : lf + 2;
        std::size_t distance = get(1) ? get(11) + 129 : get(7) + 1;
        if (distance == 2176) return;
        maxLength = std::max(maxLength, length);
        maxDistance = std::max(maxDistance, distance);
    }
}

}  // namespace

TEST(CertPacking, KnownEncodings) {
    struct Case {
        Bytes plain, packed;
    } cases[] = {
        {{}, {0xF9, 0x7F}},
        {Bytes(8, 0x41), {0x82, 0x2E, 0x00, 0xF9, 0x7F}},
        {{0x61, 0x62, 0x63, 0x61, 0x62, 0x63, 0x61, 0x62, 0x63}, {0xC2, 0x88, 0x19, 0x7B, 0x10, 0xE4, 0xFF, 0x01}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Pack(c.plain.data(), c.plain.size()), c.packed);
        Bytes out;
        ASSERT_TRUE(Unpack(c.packed.data(), c.packed.size(), out, 1 << 20));
        EXPECT_EQ(out, c.plain);
    }
}

TEST(CertPacking, RoundTripAndLimits) {
    std::mt19937 rng(7);
    for (std::size_t n : {1u, 2u, 21u, 300u, 5000u}) {
        Bytes data(n);
        // Few distinct values and long runs: many matches, some far back.
        for (auto &b : data) b = static_cast<uint8_t>(rng() % 3 == 0 ? rng() : 'A' + rng() % 2);
        if (n == 5000)
            for (std::size_t i = 2500; i < 2600; ++i) data[i] = data[i - 2175];
        Bytes packed = Pack(data.data(), data.size());
        Bytes out;
        ASSERT_TRUE(Unpack(packed.data(), packed.size(), out, 1 << 20));
        EXPECT_EQ(out, data) << n;
        std::size_t maxLength, maxDistance;
        MatchExtremes(packed, maxLength, maxDistance);
        EXPECT_LE(maxLength, 20u);
        EXPECT_LE(maxDistance, 2175u);
    }
}

TEST(CertPacking, BrokenStreamsAreRefusedWithoutOverrun) {
    Bytes out;
    EXPECT_TRUE(Unpack(nullptr, 0, out, 100));
    EXPECT_TRUE(out.empty());
    // A stream cut before its end item.
    Bytes packed = Pack(reinterpret_cast<const uint8_t *>("abcabcabc"), 9);
    EXPECT_FALSE(Unpack(packed.data(), packed.size() - 2, out, 1000));
    // The output limit is reached before the end item.
    Bytes runs = Pack(Bytes(200, 7).data(), 200);
    EXPECT_FALSE(Unpack(runs.data(), runs.size(), out, 100));
    EXPECT_LE(out.size(), 100u);
    // A back-reference as the first item has nothing to copy.
    Bytes first = {0x01, 0x00};
    EXPECT_FALSE(Unpack(first.data(), first.size(), out, 100));
    // Random input: always bounded, never reads past its end (the sanitizer build checks).
    std::mt19937 rng(11);
    for (int i = 0; i < 2000; ++i) {
        Bytes junk(1 + rng() % 64);
        for (auto &b : junk) b = static_cast<uint8_t>(rng());
        Bytes input(junk);  // exact-size heap copy
        Unpack(input.data(), input.size(), out, 512);
        EXPECT_LE(out.size(), 512u);
    }
}
