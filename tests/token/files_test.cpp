// File selection, chunked reads and writes, and container bounds.
#include "token_fixture.h"

#include <cstring>

namespace tokentest {
namespace {

using Files = BothBuilds;

// The SELECT that precedes a transfer differs between the builds.
Bytes TransferSelect(bool multi, uint16_t fid) { return Select(fid, multi ? 0x00 : 0x01); }

TEST_P(Files, ReadAtLargeOffsetSelectsThenAddressesTheCurrentFile) {
    TNkiAbs &t = Connected(GetParam());
    answers[TransferSelect(Multi(), 0x0201)] = kOk;
    answers[{0x00, 0xB0, 0x01, 0x2C, 0x0A}] = Cat({Seq(0x30, 10), kOk});
    uint8_t buf[11];
    std::memset(buf, 0xEE, sizeof buf);
    ASSERT_EQ(t.ReadDataEx(1, 300, buf, 10), NKI_OK);
    EXPECT_EQ(Sent(), (std::vector<Bytes>{TransferSelect(Multi(), 0x0201), {0x00, 0xB0, 0x01, 0x2C, 0x0A}}));
    EXPECT_EQ(Bytes(buf, buf + 11), Cat({Seq(0x30, 10), {0xEE}}));
}

TEST_P(Files, WriteIsSentIn96ByteChunks) {
    TNkiAbs &t = Connected(GetParam());
    answers[TransferSelect(Multi(), 0x0202)] = kOk;
    byHeader[{0x00, 0xD6, 0x00, 0x00}] = kOk;
    byHeader[{0x00, 0xD6, 0x00, 0x60}] = kOk;
    byHeader[{0x00, 0xD6, 0x00, 0xC0}] = kOk;
    const Bytes data = Seq(0, 200);
    ASSERT_EQ(t.WriteDataEx(2, 0, data.data(), 200), NKI_OK);
    EXPECT_EQ(Sent(), (std::vector<Bytes>{
                          TransferSelect(Multi(), 0x0202),
                          Cat({{0x00, 0xD6, 0x00, 0x00, 0x60}, Slice(data, 0, 96)}),
                          Cat({{0x00, 0xD6, 0x00, 0x60, 0x60}, Slice(data, 96, 96)}),
                          Cat({{0x00, 0xD6, 0x00, 0xC0, 0x08}, Slice(data, 192, 8)}),
                      }));
}

TEST_P(Files, ShortFileIdentifierAddressesTheFirstChunkOnly) {
    TNkiAbs &t = Connected(GetParam());
    answers[{0x00, 0xB0, 0x84, 0xF0, 0x60}] = Cat({Seq(0, 96), kOk});
    answers[{0x00, 0xB0, 0x01, 0x50, 0x04}] = Cat({Seq(96, 4), kOk});
    uint8_t buf[100];
    ASSERT_TRUE(t.EcReadBinary(4, 0xF0, buf, 100));
    EXPECT_EQ(Sent(), (std::vector<Bytes>{{0x00, 0xB0, 0x84, 0xF0, 0x60}, {0x00, 0xB0, 0x01, 0x50, 0x04}}));
    EXPECT_EQ(Bytes(buf, buf + 100), Seq(0, 100));
}

TEST_P(Files, ContainerBounds) {
    TokenImage image;
    image.files[0x0201] = 100;
    image.files[0x0202] = 0;
    TNkiAbs &t = Connected(GetParam(), image);
    answers[TransferSelect(Multi(), 0x0201)] = kOk;
    byHeader[{0x00, 0xB0, 0x00, 0x5A}] = Cat({Bytes(10, 0x11), kOk});
    struct Case {
        uint64_t n;
        uint32_t offset, length, rc;
        std::size_t sent;
    } cases[] = {
        {1, 90, 10, NKI_OK, 2},          // ends exactly at the size
        {1, 91, 10, NKI_E_NO_SPACE, 0},  // one byte beyond
        {1, 50, 0, NKI_OK, 0},           // nothing to read
        {1, 101, 0, NKI_E_NO_SPACE, 0},
        {1, 0xFFFFFFFFu, 2, NKI_E_NO_SPACE, 0},  // offset + length wraps in 32 bits
        {2, 0, 0, NKI_E_NO_SPACE, 0},            // empty container
        {2, 0, 1, NKI_E_NO_SPACE, 0},
        {0, 0, 1, NKI_E_BAD_ARGUMENTS, 0},
        {256, 0, 1, NKI_E_BAD_ARGUMENTS, 0},
    };
    for (const Case &c : cases) {
        testpcsc::ClearSent(kReader);
        uint8_t buf[16];
        EXPECT_EQ(t.ReadDataEx(c.n, c.offset, buf, c.length), c.rc) << c.n << " " << c.offset << " " << c.length;
        EXPECT_EQ(Sent().size(), c.sent) << c.n << " " << c.offset << " " << c.length;
        EXPECT_EQ(t.WriteDataEx(c.n, c.offset, buf, c.length), c.rc == NKI_OK && c.length ? 32u : c.rc);
    }
    if (Multi()) {  // container 3 is never sized by this build
        EXPECT_EQ(t.ReadDataEx(3, 0, nullptr, 0), NKI_E_NO_SPACE);
    }

    TNkiAbs idle(GetParam());
    uint32_t size = 7;
    EXPECT_EQ(idle.GetContainerSize(1, &size), NKI_E_INVALID_CONTEXT);
    EXPECT_EQ(idle.ReadDataEx(1, 0, nullptr, 0), NKI_E_INVALID_CONTEXT);
}

TEST_P(Files, OffsetsBeyondFifteenBitsAreNotSent) {
    TokenImage image;
    image.files[0x0201] = 0xFFFF;
    TNkiAbs &t = Connected(GetParam(), image);
    uint8_t buf[16];
    // P1 with bit 7 set would name a short file identifier: a different file.
    EXPECT_EQ(t.ReadDataEx(1, 0x8000, buf, 1), NKI_E_NO_SPACE);
    EXPECT_EQ(t.ReadDataEx(1, 0x7FF8, buf, 9), NKI_E_NO_SPACE);
    EXPECT_TRUE(Sent().empty());
}

TEST_P(Files, FailedChunkStopsTheTransfer) {
    TNkiAbs &t = Connected(GetParam());
    answers[TransferSelect(Multi(), 0x0201)] = kOk;
    answers[{0x00, 0xB0, 0x00, 0x00, 0x60}] = Cat({Seq(0, 96), kOk});
    answers[{0x00, 0xB0, 0x00, 0x60, 0x60}] = {0x69, 0x82};
    uint8_t buf[200];
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(t.ReadDataEx(1, 0, buf, 200), Multi() ? 37u : 39u);
    EXPECT_EQ(Sent().size(), 3u);
    EXPECT_EQ(Bytes(buf, buf + 96), Seq(0, 96));

    // A chunk that comes back short is a token fault, not a success.
    answers[{0x00, 0xB0, 0x00, 0x60, 0x60}] = Cat({Seq(0, 40), kOk});
    EXPECT_EQ(t.ReadDataEx(1, 0, buf, 200), NKI_E_DEVICE_CORRUPTED);
}

TEST_P(Files, FileInformation) {
    TNkiAbs &t = Connected(GetParam());
    struct Case {
        Bytes answer;
        int size64, sizeMulti;
        uint32_t access64;
    } cases[] = {
        {FileInfo(0x0123, 0xA1B2), 0x0123, 0x0123, 0xA1B2},
        {{0x62, 0x08, 0x80, 0x02, 0x01, 0x23, 0x85, 0x02, 0xA1, 0xB2, 0x90, 0x00}, 0x0123, 0x0123, 0x0505},
        {{0x6F, 0x10, 0x83, 0x02, 0x00, 0x40, 0x00, 0x00, 0x80, 0x02, 0x07, 0xD0, 0x90, 0x00}, 0x0040, 0x07D0, 0x0505},
        {{0x62, 0x03, 0x80, 0x02, 0x90, 0x00}, 0, 0, 0x0505},  // too short for either
        {{0x6A, 0x82}, 0, 0, 0x0505},
    };
    for (const Case &c : cases) {
        answers[Select(0x0300, 0x00)] = c.answer;
        int size = -1;
        uint32_t access = 0;
        const bool ok = t.EcSelectEFGetAC(0x0300, &size, &access);
        EXPECT_EQ(ok, c.answer.size() > 2) << testing::PrintToString(c.answer);
        EXPECT_EQ(size, Multi() ? c.sizeMulti : c.size64) << testing::PrintToString(c.answer);
        EXPECT_EQ(access, Multi() ? 0x0505u : c.access64) << testing::PrintToString(c.answer);
    }
    // Containers beyond 3 are sized on request; a missing one is empty.
    answers[Select(0x0204, 0x00)] = FileInfo(77);
    uint32_t size = 1;
    EXPECT_EQ(t.GetContainerSize(4, &size), NKI_OK);
    EXPECT_EQ(size, 77u);
    EXPECT_EQ(t.GetContainerSize(5, &size), NKI_OK);
    EXPECT_EQ(size, 0u);
}

TOKEN_BOTH_BUILDS(Files);

}  // namespace
}  // namespace tokentest
