// The multi-carrier build's context registry, validation order and capability table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "api/capabilities.h"
#include "kcarlib/nki.h"

namespace {

class Registry : public ::testing::Test {
protected:
    void TearDown() override {
        for (NKI_CONTEXT c : made) nkiDestroyContext(&c);
    }
    NKI_CONTEXT Make(uint8_t type) {
        NKI_CONTEXT c = -7;
        EXPECT_EQ(nkiCreateContext(&c, type), NKI_OK);
        made.push_back(c);
        return c;
    }
    std::vector<NKI_CONTEXT> made;
};

TEST_F(Registry, HandlesCountUpAndOnlyTheLastIsIssuedAgain) {
    const NKI_CONTEXT first = Make(3);
    NKI_CONTEXT second = Make(3), third = Make(3);
    EXPECT_EQ(second, first + 1);
    EXPECT_EQ(third, first + 2);
    NKI_CONTEXT gone = third;
    ASSERT_EQ(nkiDestroyContext(&gone), NKI_OK);
    EXPECT_EQ(gone, 0);
    EXPECT_EQ(Make(3), third);  // the last handle comes back
    NKI_CONTEXT middle = second;
    ASSERT_EQ(nkiDestroyContext(&middle), NKI_OK);
    EXPECT_EQ(Make(3), third + 1);  // a gap in the middle is not filled
    NKI_CONTEXT unknown = second;
    EXPECT_EQ(nkiDestroyContext(&unknown), NKI_E_INVALID_CONTEXT);
    EXPECT_EQ(unknown, second);
    made.erase(std::remove(made.begin(), made.end(), second), made.end());
}

TEST_F(Registry, CreationTakesServedTypesByTheirLowByte) {
    for (int type : {5, 128, 255, 20}) {
        NKI_CONTEXT c = -7;
        EXPECT_EQ(nkiCreateContext(&c, static_cast<uint8_t>(type)), NKI_E_UNSUPPORTED_NKI) << type;
        EXPECT_EQ(c, -7);
    }
    NKI_CONTEXT c = Make(static_cast<uint8_t>(259));  // low byte 3: an active token
    uint8_t uid[8];
    EXPECT_EQ(nkiGetUID(c, uid), NKI_E_NOT_CONNECTED);
    EXPECT_EQ(nkiCreateContext(nullptr, 3), NKI_E_BAD_ARGUMENTS);
}

TEST_F(Registry, ValidationOrder) {
    uint8_t uid[8];
    int32_t k = 0, s = 0;
    EXPECT_EQ(nkiGetUID(99999, uid), NKI_E_INVALID_CONTEXT);
    EXPECT_EQ(nkiGetUID(0, uid), NKI_E_INVALID_CONTEXT);
    EXPECT_EQ(nkiGetUID(Make(0), uid), NKI_E_UNSUPPORTED_NKI);          // type not yet known
    EXPECT_EQ(nkiGetCurrentDsSizes(Make(0), &k, &s), NKI_E_UNSUPPORTED_NKI);
    EXPECT_EQ(nkiGetUID(Make(4), uid), NKI_E_NOT_CONNECTED);            // no session before the capability
    EXPECT_EQ(nkiCloseSession(Make(19)), NKI_E_NOT_CONNECTED);
    EXPECT_EQ(nkiOpenSession(Make(4), "any reader", nullptr), NKI_E_UNSUPPORTED_FUNCTION);
    // Calls that ask for no context.
    EXPECT_EQ(nkiGetCertListSize(0, nullptr), NKI_E_OBSOLETE);
    EXPECT_EQ(nkiGetCertList(0, nullptr), NKI_E_OBSOLETE);
    EXPECT_EQ(nkiSetParamSession(), NKI_OK);
    EXPECT_EQ(nkiGetDllVersion(), 0x10014u);
    EXPECT_STREQ(nkiGetDllDescription(), "kcarlib version 1.0.1.20 release 05.february.2009");
}

std::string Hex(const uint8_t *bytes, std::size_t n) {
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", bytes[i]);
        out += buf;
    }
    return out;
}

TEST(Capabilities, RowsAreTheDocumentedBitSets) {
    const std::string tail(40, '0');
    struct Row {
        uint8_t type;
        std::string bytes;
    } rows[] = {
        {1, "7abffff9ff1ff0ff1ff8ff07" + tail},
        {2, "fe7ffff9ff1ff0ff1ff8ff1f" + std::string(26, '0') + "01" + std::string(12, '0')},
        {3, "fc7fffffff1ff0ffffffff1f" + tail},
        {4, "fc7fffffffffffffffffff1f" + tail},
        {19, "fc5c0000000000000000c01f" + tail},
        {0, std::string(64, '0')},
        {128, std::string(64, '0')},
        {255, std::string(64, '0')},
    };
    for (const Row &r : rows) EXPECT_EQ(Hex(kcar::CapabilitySet(r.type), 32), r.bytes) << int(r.type);
}

TEST(Capabilities, PinRule) {
    struct Case {
        int operation;
        bool token, containerCard;
    } cases[] = {
        {3, false, false},  {10, false, false}, {11, false, false}, {16, true, true},  {20, false, true},
        {23, false, true},  {26, false, false}, {27, false, false}, {34, true, true},  {53, true, true},
        {69, true, true},   {75, false, true},  {76, false, true},  {78, false, false}, {86, true, true},
        {90, false, false}, {91, true, true},   {0, false, false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(kcar::OperationNeedsPin(3, c.operation), c.token) << c.operation;
        EXPECT_EQ(kcar::OperationNeedsPin(2, c.operation), c.containerCard) << c.operation;
    }
}

}  // namespace
