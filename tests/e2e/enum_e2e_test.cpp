// Reader enumeration through the real pcscd, the vpcd reader and a virtual card.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "e2e_support.h"
#include "kcarlib/nki.h"

namespace {

const char *kSlot0 = "Virtual PCD 00 00";
const char *kSlot1 = "Virtual PCD 00 01";

std::string Enum(int index, bool withCard, uint32_t *rc = nullptr) {
    char name[NKI_MAX_READER_NAME] = "garbage";
    uint32_t r = nkiEnumDevices(index, withCard, name);
    if (rc) *rc = r;
    if (r == NKI_OK) return name;
    char code[16];  // formatted here: string concatenation trips a false -Wrestrict in GCC 12
    std::snprintf(code, sizeof code, "<%u>", static_cast<unsigned>(r));
    return code;
}

TEST(RealStack, ReadersWithoutCard) {
    ASSERT_GT(e2e::VpcdPort(), 0) << "run under scripts/pcsc-stack";
    EXPECT_EQ(Enum(1, false), kSlot0);
    EXPECT_EQ(Enum(2, false), kSlot1);
    EXPECT_EQ(Enum(3, false), "<52>");
    EXPECT_EQ(Enum(1, true), "<52>");
    EXPECT_EQ(Enum(0, true), "");
    int32_t kind = -1;
    EXPECT_EQ(nkiGetDeviceType(kSlot0, &kind), NKI_E_NOT_CONNECTED);
    EXPECT_EQ(nkiGetDeviceType("Virtual PCD 00 02", &kind), NKI_E_NOT_CONNECTED);
}

TEST(RealStack, CardInsertedAndRemoved) {
    e2e::Process card({NKI_VCARD_PATH, "--port", std::to_string(e2e::VpcdPort())});
    ASSERT_TRUE(card.Started());
    ASSERT_TRUE(e2e::WaitFor([] { return Enum(1, true) == kSlot0; })) << Enum(1, true);
    EXPECT_EQ(Enum(257, true), kSlot0);
    EXPECT_EQ(Enum(2, true), "<52>");
    int32_t kind = -1;
    EXPECT_EQ(nkiGetDeviceType(kSlot0, &kind), NKI_OK);
    EXPECT_EQ(kind, 3);
    EXPECT_EQ(nkiGetDeviceType(kSlot1, &kind), NKI_E_NOT_CONNECTED);

    EXPECT_EQ(card.Stop(), 0);
    EXPECT_TRUE(e2e::WaitFor([] { return Enum(1, true) == "<52>"; }));
    EXPECT_EQ(nkiGetDeviceType(kSlot0, &kind), NKI_E_NOT_CONNECTED);
    EXPECT_EQ(Enum(1, false), kSlot0);
}

TEST(RealStack, SecondSlotCard) {
    e2e::Process card({NKI_VCARD_PATH, "--port", std::to_string(e2e::VpcdPort() + 1)});
    ASSERT_TRUE(card.Started());
    ASSERT_TRUE(e2e::WaitFor([] { return Enum(1, true) == kSlot1; })) << Enum(1, true);
    int32_t kind = -1;
    EXPECT_EQ(nkiGetDeviceType(kSlot1, &kind), NKI_OK);
    EXPECT_EQ(nkiGetDeviceType(kSlot0, &kind), NKI_E_NOT_CONNECTED);
}

// Runs without a service: the socket named by PCSCLITE_CSOCK_NAME does not exist.
TEST(NoService, EnumerationFailsCleanly) {
    EXPECT_EQ(Enum(1, false), "<52>");
    EXPECT_EQ(Enum(0, false), "");
    int32_t kind = -1;
    EXPECT_EQ(nkiGetDeviceType(kSlot0, &kind), NKI_E_NOT_CONNECTED);
}

}  // namespace
