// The active token's 80-byte information record, as the multi-carrier build's
// token layer fills it.
#include <gtest/gtest.h>

#include <cstring>

#include "multi_fixture.h"
#include "token/nki_abs.h"

namespace {

uint32_t Word(const uint8_t *record, std::size_t offset) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | record[offset + i];
    return v;
}

using multitest::MultiTokens;

TEST_F(MultiTokens, InformationRecordOfTheToken) {
    kcar::TNkiAbs token(kcar::TokenBuild::MultiCarrier);
    ASSERT_EQ(token.connect(multitest::kReaderA), NKI_OK);
    uint8_t record[80] = {79};
    EXPECT_EQ(token.GetInfoRecord(record), NKI_E_UNSUPPORTED_FUNCTION);
    record[0] = 80;
    ASSERT_EQ(token.GetInfoRecord(record), NKI_OK);
    struct Field {
        std::size_t offset;
        uint32_t value;
    } fields[] = {{0, 80},  {4, 0x104}, {20, 1},  {24, 1},  {28, 1},          {32, 1},
                  {36, 191}, {40, 24},  {44, 48}, {48, 8},  {52, 64},         {56, 12},
                  {60, 14},  {64, 2},   {72, 4096}, {76, 8192}, {8, uint32_t(token.Caps)}};
    for (const Field &f : fields) EXPECT_EQ(Word(record, f.offset), f.value) << f.offset;
    const uint8_t serial[8] = {0, 0, 0xA1, 2, 3, 4, 5, 6};
    EXPECT_EQ(0, std::memcmp(record + 12, serial, 8));
    token.disconnect();
}

}  // namespace
