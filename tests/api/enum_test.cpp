// Reader enumeration through the in-process test PC/SC layer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kcarlib/nki.h"
#include "test_pcsc.h"

namespace {

const testpcsc::Bytes kAtr = {0x3B, 0xB7, 0x94, 0x00, 0x81, 0x31, 0xFE, 0x65, 0x20,
                              0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x17};

class Enumeration : public ::testing::Test {
protected:
    void SetUp() override {
        testpcsc::Reset();
        testpcsc::AddReader("Reader A 00 00");
        testpcsc::AddReader("Reader B 00 01");
        testpcsc::InsertCard("Reader B 00 01", testpcsc::FixedCard(kAtr, {0x90, 0x00}));
    }
    void TearDown() override { EXPECT_EQ(testpcsc::OpenContexts(), 0) << "a PC/SC context was left open"; }

    std::string Enum(int index, bool withCard, uint32_t expected) {
        char name[NKI_MAX_READER_NAME];
        std::memset(name, 'x', sizeof name);
        EXPECT_EQ(nkiEnumDevices(index, withCard, name), expected) << index << " " << withCard;
        return name;
    }
};

TEST_F(Enumeration, WithAndWithoutCardFilter) {
    EXPECT_EQ(Enum(1, true, NKI_OK), "Reader B 00 01");
    EXPECT_EQ(Enum(2, true, NKI_E_OUT_OF_RANGE), "");
    EXPECT_EQ(Enum(1, false, NKI_OK), "Reader A 00 00");
    EXPECT_EQ(Enum(2, false, NKI_OK), "Reader B 00 01");
    EXPECT_EQ(Enum(3, false, NKI_E_OUT_OF_RANGE), "");
}

TEST_F(Enumeration, IndexCountsOnlyItsLowByte) {
    EXPECT_EQ(Enum(0, true, NKI_OK), "");
    EXPECT_EQ(Enum(256, false, NKI_OK), "");
    EXPECT_EQ(Enum(257, false, NKI_OK), "Reader A 00 00");
    EXPECT_EQ(Enum(258, true, NKI_E_OUT_OF_RANGE), "");
    EXPECT_EQ(Enum(-255, false, NKI_OK), "Reader A 00 00");  // low byte 1
    EXPECT_EQ(nkiEnumDevices(1, 0, nullptr), NKI_E_BAD_ARGUMENTS);
}

TEST_F(Enumeration, UnknownReaderIsSkippedInBothModes) {
    testpcsc::SetReaderUnknown("Reader A 00 00", true);
    EXPECT_EQ(Enum(1, false, NKI_OK), "Reader B 00 01");
    testpcsc::SetReaderUnknown("Reader B 00 01", true);
    EXPECT_EQ(Enum(1, true, NKI_E_OUT_OF_RANGE), "");
}

TEST_F(Enumeration, NameLongerThanTheLibraryBuffersIsNotServed) {
    std::string longName(NKI_MAX_READER_NAME, 'L');  // one byte too long with its NUL
    testpcsc::AddReader(longName);
    testpcsc::InsertCard(longName, testpcsc::FixedCard(kAtr, {0x90, 0x00}));
    EXPECT_EQ(Enum(2, true, NKI_E_OUT_OF_RANGE), "");
    int32_t kind = -1;
    EXPECT_EQ(nkiGetDeviceType(longName.c_str(), &kind), NKI_E_NOT_CONNECTED);

    std::string longest(NKI_MAX_READER_NAME - 1, 'M');  // fits exactly
    testpcsc::AddReader(longest);
    testpcsc::InsertCard(longest, testpcsc::FixedCard(kAtr, {0x90, 0x00}));
    EXPECT_EQ(Enum(2, true, NKI_OK), longest);
    EXPECT_EQ(nkiGetDeviceType(longest.c_str(), &kind), NKI_OK);
}

TEST_F(Enumeration, DeviceType) {
    int32_t kind = -1;
    EXPECT_EQ(nkiGetDeviceType("Reader A 00 00", &kind), NKI_E_NOT_CONNECTED);  // no card
    EXPECT_EQ(nkiGetDeviceType("No such reader", &kind), NKI_E_NOT_CONNECTED);
    EXPECT_EQ(nkiGetDeviceType("Reader B 00", &kind), NKI_E_NOT_CONNECTED);     // prefix only
    EXPECT_EQ(kind, -1);
    EXPECT_EQ(nkiGetDeviceType("Reader B 00 01", &kind), NKI_OK);
    EXPECT_EQ(kind, 3);
    EXPECT_EQ(nkiGetDeviceType(nullptr, &kind), NKI_E_NOT_CONNECTED);
    EXPECT_EQ(nkiGetDeviceType("Reader B 00 01", nullptr), NKI_E_NOT_CONNECTED);
}

TEST_F(Enumeration, CardRemovedAndInsertedIsSeenAtOnce) {
    testpcsc::RemoveCard("Reader B 00 01");
    EXPECT_EQ(Enum(1, true, NKI_E_OUT_OF_RANGE), "");
    testpcsc::InsertCard("Reader A 00 00", testpcsc::FixedCard(kAtr, {0x90, 0x00}));
    EXPECT_EQ(Enum(1, true, NKI_OK), "Reader A 00 00");
}

TEST_F(Enumeration, NoServiceOrNoReaders) {
    testpcsc::SetServiceRunning(false);
    EXPECT_EQ(Enum(1, false, NKI_E_OUT_OF_RANGE), "");
    int32_t kind = -1;
    EXPECT_EQ(nkiGetDeviceType("Reader B 00 01", &kind), NKI_E_NOT_CONNECTED);
    testpcsc::Reset();
    EXPECT_EQ(Enum(1, false, NKI_E_OUT_OF_RANGE), "");
}

}  // namespace
