// Byte layout of the records that cross the interface: callers build them byte by byte.
#include <gtest/gtest.h>

#include <cstddef>

#include "kcarlib/nki.h"

extern "C" unsigned kcarlib_header_c_sizes(void);

TEST(Records, ECParamsOffsets) {
    struct Field {
        std::size_t offset, expected;
    } fields[] = {
        {offsetof(tagTECParams, m), 0},    {offsetof(tagTECParams, k1), 4},   {offsetof(tagTECParams, k2), 8},
        {offsetof(tagTECParams, k3), 12},  {offsetof(tagTECParams, A), 16},   {offsetof(tagTECParams, B), 20},
        {offsetof(tagTECParams, N), 84},   {offsetof(tagTECParams, Px), 148}, {offsetof(tagTECParams, Py), 212},
        {offsetof(tagTECParams, IV), 276}, {offsetof(tagTECParams, Sbox), 308},
    };
    for (auto f : fields) EXPECT_EQ(f.offset, f.expected);
    EXPECT_EQ(sizeof(tagTECParams), 372u);
}

TEST(Records, InfoOffsets) {
    struct Field {
        std::size_t offset, expected;
    } fields[] = {
        {offsetof(tagTNKIinfo, Kind), 0},          {offsetof(tagTNKIinfo, Serial), 1},
        {offsetof(tagTNKIinfo, Alg), 9},           {offsetof(tagTNKIinfo, SessionWord), 13},
        {offsetof(tagTNKIinfo, Flags), 15},        {offsetof(tagTNKIinfo, Value16), 16},
        {offsetof(tagTNKIinfo, Value20), 20},      {offsetof(tagTNKIinfo, HalfSignSize), 24},
        {offsetof(tagTNKIinfo, PointSize), 28},    {offsetof(tagTNKIinfo, Value32), 32},
        {offsetof(tagTNKIinfo, Value36), 36},      {offsetof(tagTNKIinfo, Value40), 40},
        {offsetof(tagTNKIinfo, SignSize), 44},
    };
    for (auto f : fields) EXPECT_EQ(f.offset, f.expected);
    EXPECT_EQ(sizeof(tagTNKIinfo), 48u);
}

TEST(Records, SameLayoutInC) { EXPECT_EQ(kcarlib_header_c_sizes(), 372u + 48u); }
