// Context creation, destruction and the context check.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "kcarlib/nki.h"
#include "test_pcsc.h"

TEST(Context, KindsZeroAndThreeOnly) {
    for (uint8_t kind : {0, 3}) {
        NKI_CONTEXT c = nullptr;
        ASSERT_EQ(nkiCreateContext(&c, kind), NKI_OK) << int(kind);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(nkiDestroyContext(&c), NKI_OK);
        EXPECT_EQ(c, nullptr);
    }
    for (uint8_t kind : {1, 2, 4, 19, 255}) {
        NKI_CONTEXT c = reinterpret_cast<NKI_CONTEXT>(0x1234);
        EXPECT_EQ(nkiCreateContext(&c, kind), NKI_E_UNSUPPORTED_NKI) << int(kind);
        EXPECT_EQ(c, reinterpret_cast<NKI_CONTEXT>(0x1234));
    }
    EXPECT_EQ(nkiCreateContext(nullptr, 3), NKI_E_BAD_ARGUMENTS);
}

TEST(Context, DestroyRefusesWhatIsNotALiveContext) {
    EXPECT_EQ(nkiDestroyContext(nullptr), NKI_E_INVALID_CONTEXT);
    NKI_CONTEXT c = nullptr;
    EXPECT_EQ(nkiDestroyContext(&c), NKI_E_INVALID_CONTEXT);

    NKI_CONTEXT live = nullptr;
    ASSERT_EQ(nkiCreateContext(&live, 3), NKI_OK);
    NKI_CONTEXT copy = live;
    ASSERT_EQ(nkiDestroyContext(&live), NKI_OK);
    // A destroyed context: its memory is gone and must not be read.
    EXPECT_EQ(nkiDestroyContext(&copy), NKI_E_INVALID_CONTEXT);
    EXPECT_EQ(nkiGetUID(copy, nullptr), NKI_E_INVALID_CONTEXT);
}

TEST(Context, ForeignMemoryIsRefusedEvenWithTheMagicWord) {
    // Memory that starts with the magic word but was never created by the library.
    alignas(16) unsigned char fake[512] = {};
    const uint32_t magic = 0x41727241;
    std::memcpy(fake, &magic, 4);
    std::memcpy(fake + 8, &magic, 4);
    alignas(16) unsigned char zero[512] = {};
    for (NKI_CONTEXT c : {static_cast<NKI_CONTEXT>(fake), static_cast<NKI_CONTEXT>(zero)}) {
        EXPECT_EQ(nkiGetUID(c, nullptr), NKI_E_INVALID_CONTEXT);
        EXPECT_EQ(nkiCheckPIN(c, "12345678"), NKI_E_INVALID_CONTEXT);
        EXPECT_EQ(nkiIOControl(c, 0, nullptr, 0, nullptr, 0, nullptr), NKI_E_INVALID_CONTEXT);
        NKI_CONTEXT v = c;
        EXPECT_EQ(nkiDestroyContext(&v), NKI_E_INVALID_CONTEXT);
        EXPECT_EQ(v, c);
    }
}

TEST(Context, VersionAndDescription) {
    EXPECT_EQ(nkiGetDllVersion(), 65556u);
    const char *d = nkiGetDllDescription();
    EXPECT_STREQ(d, "kcarlib version 1.0.1.20, base release 05.february.2009");
    EXPECT_EQ(d, nkiGetDllDescription());
}

TEST(Context, OpenSessionWithoutReaders) {
    testpcsc::Reset();
    NKI_CONTEXT c = nullptr;
    ASSERT_EQ(nkiCreateContext(&c, 0), NKI_OK);
    EXPECT_EQ(nkiOpenSession(c, nullptr, nullptr), NKI_E_NOT_CONNECTED);
    EXPECT_EQ(nkiOpenSession(c, "", nullptr), NKI_E_NOT_CONNECTED);
    EXPECT_EQ(nkiOpenSession(nullptr, nullptr, nullptr), NKI_E_INVALID_CONTEXT);
    EXPECT_EQ(nkiDestroyContext(&c), NKI_OK);
}
