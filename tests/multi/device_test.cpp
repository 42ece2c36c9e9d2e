// Device discovery of the multi-carrier build: types from the ATR, ATR and serial
// number queries, opening by serial number and the type resolved once.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "multi_fixture.h"

namespace {

using multitest::Bytes;

Bytes FamilyAtr(uint8_t typeByte, const char *letters6) {
    Bytes atr(16, 0x00);
    const uint8_t head[8] = {0x3B, 0xB7, 0x94, 0x00, 0x81, 0x31, 0xFE, 0x65};
    std::memcpy(atr.data(), head, 8);
    atr[8] = typeByte;
    std::memcpy(atr.data() + 9, letters6, 6);
    return atr;
}

testpcsc::Card CardWith(Bytes atr) {
    testpcsc::Card card;
    card.atr = std::move(atr);
    card.handler = [](const Bytes &) { return Bytes{0x6D, 0x00}; };
    return card;
}

class Devices : public ::testing::Test {
protected:
    void SetUp() override {
        testpcsc::Reset();
        testpcsc::AddReader("R1");
    }
    void TearDown() override {
        EXPECT_EQ(testpcsc::OpenContexts(), 0);
        testpcsc::Reset();
    }
    void Insert(Bytes atr) {
        testpcsc::RemoveCard("R1");
        testpcsc::InsertCard("R1", CardWith(std::move(atr)));
    }
};

TEST_F(Devices, TypeFromAtr) {
    Bytes shortAtr = FamilyAtr(0x20, "ABCDEF");
    shortAtr.pop_back();
    Bytes foreign = FamilyAtr(0x20, "ABCDEF");
    foreign[0] = 0x3F;
    foreign[1] = 0x00;
    Bytes onlyB7 = FamilyAtr(0x20, "ABCDEF");
    onlyB7[0] = 0x3F;
    struct Case {
        Bytes atr;
        int32_t type;
    } cases[] = {
        {FamilyAtr(0x10, "ABCDEF"), 2},  {FamilyAtr(0x10, "CNTRV3"), 19}, {FamilyAtr(0x10, "CNTRV2"), 19},
        {FamilyAtr(0x1F, "CNTRV3"), 2},
        {FamilyAtr(0x10, "CNTRV4"), 2},  {FamilyAtr(0x20, "CNTRV3"), 3},  {FamilyAtr(0x27, "ABCDEF"), 3},
        {FamilyAtr(0x30, "ABCDEF"), 4},  {FamilyAtr(0x50, "ABCDEF"), 128}, {FamilyAtr(0x00, "ABCDEF"), 128},
        {shortAtr, 255},                  {foreign, 255},                   {onlyB7, 3},
    };
    for (const Case &c : cases) {
        Insert(c.atr);
        int32_t type = -1;
        EXPECT_EQ(nkiGetDeviceType("R1", &type), NKI_OK);
        EXPECT_EQ(type, c.type) << int(c.atr[8]);
        int32_t second = -1;
        EXPECT_EQ(nkiGetReaderType("R1", &second), NKI_OK);
        EXPECT_EQ(second, c.type);
    }
    int32_t type = -1;
    EXPECT_EQ(nkiGetDeviceType("no such reader", &type), NKI_E_NOT_CONNECTED);
    EXPECT_EQ(type, 0);
    testpcsc::RemoveCard("R1");
    EXPECT_EQ(nkiGetDeviceType("R1", &type), NKI_E_NOT_CONNECTED);
}

TEST_F(Devices, AtrAndSerialNumber) {
    Insert(FamilyAtr(0x20, "\x01\x23\x45\x67\x89\xAB"));
    int32_t length = 0;
    EXPECT_EQ(nkiGetDeviceAtr("R1", nullptr, &length), NKI_OK);
    EXPECT_EQ(length, 16);
    uint8_t atr[33];
    length = 10;
    EXPECT_EQ(nkiGetDeviceAtr("R1", atr, &length), NKI_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 16);
    EXPECT_EQ(nkiGetDeviceAtr("R1", atr, &length), NKI_OK);
    EXPECT_EQ(atr[8], 0x20);

    char serial[80];
    EXPECT_EQ(nkiGetDeviceSN("R1", serial), NKI_OK);
    EXPECT_STREQ(serial, "#0123456789AB");

    Insert(FamilyAtr(0x30, "ABCDEF"));
    EXPECT_EQ(nkiGetDeviceSN("R1", serial), NKI_OK);
    EXPECT_EQ(std::strlen(serial), 33u);
    EXPECT_EQ(std::string(serial, 3), "#00");  // the last ATR byte comes first

    struct Case {
        Bytes atr;
        uint32_t rc;
    } refused[] = {{FamilyAtr(0x10, "CNTRV3"), NKI_E_NO_SERIAL}, {FamilyAtr(0x50, "ABCDEF"), NKI_E_UNSUPPORTED_NKI}};
    for (const Case &c : refused) {
        Insert(c.atr);
        std::strcpy(serial, "stale");
        EXPECT_EQ(nkiGetDeviceSN("R1", serial), c.rc);
        EXPECT_STREQ(serial, "");
    }
    EXPECT_EQ(nkiGetDeviceSN("no such reader", serial), NKI_E_NOT_CONNECTED);
}

TEST_F(Devices, EnumerationCountsReadersThenEnds) {
    char name[NKI_MAX_READER_NAME];
    EXPECT_EQ(nkiEnumReaders(0, 0, name), NKI_OK);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(nkiEnumReaders(1, 0, name), NKI_OK);
    EXPECT_STREQ(name, "R1");
    EXPECT_EQ(nkiEnumReaders(1, 1, name), NKI_E_OUT_OF_RANGE);  // no card
    EXPECT_STREQ(name, "");
    EXPECT_EQ(nkiEnumDevices(2, 0, name), NKI_E_OUT_OF_RANGE);
}

TEST_F(Devices, TypeResolvedOnceAndKept) {
    Insert(FamilyAtr(0x50, "ABCDEF"));
    testpcsc::AddReader("R2");
    NKI_CONTEXT c = 0;
    ASSERT_EQ(nkiCreateContext(&c, 0), NKI_OK);
    EXPECT_EQ(nkiOpenSession(c, "R1", nullptr), NKI_E_UNSUPPORTED_NKI);
    Insert(FamilyAtr(0x20, "ABCDEF"));
    EXPECT_EQ(nkiOpenSession(c, "R1", nullptr), NKI_E_UNSUPPORTED_NKI);  // still type 128
    NKI_CONTEXT d = 0;
    ASSERT_EQ(nkiCreateContext(&d, 0), NKI_OK);
    EXPECT_EQ(nkiOpenSession(d, "R2", nullptr), NKI_E_NOT_CONNECTED);  // no card: not resolved
    EXPECT_EQ(nkiOpenSession(d, "~0123", nullptr), NKI_E_SERIAL_NOT_FOUND);
    EXPECT_EQ(nkiOpenSession(d, "#000000000000", nullptr), NKI_E_SERIAL_NOT_FOUND);
    nkiDestroyContext(&c);
    nkiDestroyContext(&d);
}

}  // namespace
