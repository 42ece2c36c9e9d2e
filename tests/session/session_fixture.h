// Sessions over simulated tokens in the in-process PC/SC layer: two readers, a
// token in each, and a context per token.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "kcarlib/nki.h"
#include "test_pcsc.h"
#include "token_state.h"
#include "vtoken.h"
#include "vtoken_testpcsc.h"

namespace sessiontest {

using Bytes = std::vector<uint8_t>;

inline const char kReaderA[] = "Virtual PCD 00 00";
inline const char kReaderB[] = "Virtual PCD 00 01";
inline const uint8_t kPin[8] = {'1', '2', '3', '4', '5', '6', '7', '8'};

class Sessions : public ::testing::Test {
protected:
    void SetUp() override {
        testpcsc::Reset();
        testpcsc::AddReader(kReaderA);
        testpcsc::AddReader(kReaderB);
        tokenA = MakeToken(0xA1);
        tokenB = MakeToken(0xB2);
        testpcsc::InsertCard(kReaderA, vtoken::TestCard(*tokenA));
        testpcsc::InsertCard(kReaderB, vtoken::TestCard(*tokenB));
        ASSERT_EQ(nkiCreateContext(&a, 3), NKI_OK);
        ASSERT_EQ(nkiCreateContext(&b, 3), NKI_OK);
    }
    void TearDown() override {
        nkiDestroyContext(&a);
        nkiDestroyContext(&b);
        EXPECT_EQ(testpcsc::OpenContexts(), 0) << "a PC/SC context was left open";
        testpcsc::Reset();
    }
    static std::unique_ptr<vtoken::Token> MakeToken(uint8_t serialByte) {
        vtoken::TokenOptions options;
        options.serial = {0, 0, serialByte, 2, 3, 4, 5, 6};
        vtoken::State s;
        std::string error;
        EXPECT_TRUE(vtoken::MakeState(options, s, error)) << error;
        return std::make_unique<vtoken::Token>(s);
    }
    // Opens a session on the reader, presents the PIN and makes the owner key.
    void Ready(NKI_CONTEXT c, const char *reader) {
        ASSERT_EQ(nkiOpenSession(c, reader, nullptr), NKI_OK);
        ASSERT_EQ(nkiCheckPIN(c, kPin), NKI_OK);
        ASSERT_EQ(nkiGenerateOwnerKeyPair(c), NKI_OK);
    }
    static Bytes OwnerKey(NKI_CONTEXT c, bool compressed) {
        Bytes key(compressed ? 24 : 48);
        EXPECT_EQ(nkiGetOwnerPublicKey(c, key.data(), compressed), NKI_OK);
        return key;
    }
    static tagTECParams Params(NKI_CONTEXT c) {
        tagTECParams p{};
        uint32_t length = 0;
        EXPECT_EQ(nkiGetCryptoParams(c, 255, &p, &length), NKI_OK);
        EXPECT_EQ(length, sizeof p);
        return p;
    }

    std::unique_ptr<vtoken::Token> tokenA, tokenB;
    NKI_CONTEXT a{}, b{};  // a pointer or an integer, as the library build has it
};

}  // namespace sessiontest
