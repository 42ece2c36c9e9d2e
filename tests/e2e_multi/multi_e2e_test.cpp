// The multi-carrier library through a real pcscd and the vpcd reader (run under
// scripts/pcsc-stack): a simulated token in one slot and another card in the
// other; types from the ATRs, opening by serial number, PIN errors, document
// signatures, token-signed SK tokens between two tokens, a card pulled in
// mid-session. The same test runs against the 32-bit build of the library.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "kcarlib/nki.h"
#include "../support/temp_dir.h"

static_assert(KCARLIB_MULTI_CARRIER, "built against the multi-carrier library");

namespace {

const char kSlot0[] = "Virtual PCD 00 00";
const char kSlot1[] = "Virtual PCD 00 01";
const uint8_t kPin[] = {'1', '2', '3', '4', '5', '6', '7', '8'};
using Bytes = std::vector<uint8_t>;

bool CardIn(const char *reader) {
    int32_t type = 0;
    return nkiGetDeviceType(reader, &type) == NKI_OK;
}

// A context, destroyed (closing its session) at the end of the scope.
class Context {
public:
    explicit Context(uint8_t type = 0) { rc_ = nkiCreateContext(&c_, type); }
    ~Context() {
        if (c_) nkiDestroyContext(&c_);
    }
    Context(const Context &) = delete;
    Context &operator=(const Context &) = delete;
    operator NKI_CONTEXT() const { return c_; }

private:
    NKI_CONTEXT c_ = 0;
    uint32_t rc_ = 0;
};

class MultiE2E : public ::testing::Test {
protected:
    void SetUp() override {
        if (e2e::VpcdPort() == 0) GTEST_SKIP() << "run under scripts/pcsc-stack";
        ASSERT_TRUE(e2e::WaitFor([] { return !CardIn(kSlot0) && !CardIn(kSlot1); }));
    }
    std::unique_ptr<e2e::Process> Start(int slot, std::vector<std::string> argv) {
        // A build for another instruction set runs its daemons the way it runs this test.
        if (const char *emulator = std::getenv("KCARLIB_TEST_EMULATOR"); emulator != nullptr && *emulator != '\0')
            argv.insert(argv.begin(), emulator);
        argv.push_back("--port");
        argv.push_back(std::to_string(e2e::VpcdPort() + slot));
        auto p = std::make_unique<e2e::Process>(argv);
        EXPECT_TRUE(p->Started());
        const char *reader = slot == 0 ? kSlot0 : kSlot1;
        EXPECT_TRUE(e2e::WaitFor([reader] { return CardIn(reader); })) << reader;
        return p;
    }
    std::unique_ptr<e2e::Process> StartToken(int slot, const std::string &state, const std::string &serial) {
        return Start(slot, {NKI_VTOKEN_PATH, "--state", dir_.File(state), "--serial", serial});
    }
    // Session with the PIN presented, an owner key and signing set up; answers the key.
    static Bytes Ready(NKI_CONTEXT c, const char *name) {
        Bytes key(48);
        EXPECT_EQ(nkiOpenSession(c, name, nullptr), NKI_OK) << name;
        EXPECT_EQ(nkiCheckPIN(c, kPin), NKI_OK);
        if (nkiGetOwnerPublicKey(c, key.data(), 0) == NKI_E_KEY_ABSENT) {
            EXPECT_EQ(nkiGenerateOwnerKeyPair(c), NKI_OK);
        }
        EXPECT_EQ(nkiGetOwnerPublicKey(c, key.data(), 0), NKI_OK);
        EXPECT_EQ(nkiInitDS(c, nullptr), NKI_OK);
        return key;
    }
    static tagTECParams Params(NKI_CONTEXT c) {
        tagTECParams p{};
        uint32_t length = 0;
        EXPECT_EQ(nkiGetCryptoParams(c, 255, &p, &length), NKI_OK);
        return p;
    }
    testsupport::TempDir dir_;
};

TEST_F(MultiE2E, TypesSerialNumbersPinAndDocumentSignature) {
    auto token = StartToken(0, "t.state", "0000A1B2C3D4E5F6");
    // A container card of the family in the other slot (it answers no command).
    auto card = Start(1, {NKI_VCARD_PATH, "--atr", "3B B7 94 00 81 31 FE 65 10 11 22 33 44 55 66 00"});

    char name[NKI_MAX_READER_NAME];
    ASSERT_EQ(nkiEnumReaders(1, 1, name), NKI_OK);
    EXPECT_STREQ(name, kSlot0);
    EXPECT_EQ(nkiEnumReaders(3, 1, name), NKI_E_OUT_OF_RANGE);
    int32_t type = 0;
    ASSERT_EQ(nkiGetReaderType(kSlot0, &type), NKI_OK);
    EXPECT_EQ(type, 3);
    ASSERT_EQ(nkiGetReaderType(kSlot1, &type), NKI_OK);
    EXPECT_EQ(type, 2);
    char serial[80];
    ASSERT_EQ(nkiGetDeviceSN(kSlot0, serial), NKI_OK);
    EXPECT_STREQ(serial, "#A1B2C3D4E5F6");
    ASSERT_EQ(nkiGetDeviceSN(kSlot1, serial), NKI_OK);
    EXPECT_STREQ(serial, "#112233445566");

    Context c;  // type resolved from the ATR at opening
    ASSERT_EQ(nkiOpenSession(c, "#A1B2C3D4E5F6", nullptr), NKI_OK);
    tagTNKIinfo info;
    ASSERT_EQ(nkiGetInfo(c, &info), NKI_OK);
    EXPECT_EQ(info.Kind, 3);
    const uint8_t wrong[8] = {'0', '0', '0', '0', '0', '0', '0', '0'};
    const uint32_t first = nkiCheckPIN(c, wrong);
    EXPECT_GE(first, NKI_E_INVALID_PIN_BASE);
    EXPECT_LE(first, NKI_E_INVALID_PIN_BASE + 15);
    EXPECT_EQ(nkiCheckPIN(c, wrong), first - 1);
    uint8_t hash[32];
    EXPECT_EQ(nkiGetHash(c, "x", 1, hash), NKI_E_PIN_REQUIRED);
    ASSERT_EQ(nkiCloseSession(c), NKI_OK);

    const Bytes signer = Ready(c, "#A1B2C3D4E5F6");
    ASSERT_FALSE(HasFailure());
    const char doc[] = "A document of forty-five bytes, give or take.";
    uint8_t signature[48], stamp[14];
    int32_t stampLength = 0;
    ASSERT_EQ(nkiSignDoc(c, doc, sizeof doc, signature, stamp, &stampLength), NKI_OK);
    EXPECT_EQ(stampLength, 14);
    EXPECT_EQ(nkiVerifyDoc(c, doc, sizeof doc, stamp, 14, signer.data(), signature, 0), NKI_OK);
    stamp[13] ^= 1;
    EXPECT_EQ(nkiVerifyDoc(c, doc, sizeof doc, stamp, 14, signer.data(), signature, 0), NKI_E_INVALID_SIGNATURE);
    stamp[13] ^= 1;
    char changed[sizeof doc];
    std::memcpy(changed, doc, sizeof doc);
    changed[0] ^= 0x20;
    EXPECT_EQ(nkiVerifyDoc(c, changed, sizeof doc, stamp, 14, signer.data(), signature, 0),
              NKI_E_INVALID_SIGNATURE);

    // The other card's type is served but has no module in this library.
    Context other;
    EXPECT_EQ(nkiOpenSession(other, "#112233445566", nullptr), NKI_E_UNSUPPORTED_NKI);
    Context missing;
    EXPECT_EQ(nkiOpenSession(missing, "#000000000000", nullptr), NKI_E_SERIAL_NOT_FOUND);
}

TEST_F(MultiE2E, TokenSignedSkTokensBetweenTwoTokens) {
    auto tokenA = StartToken(0, "a.state", "00000000000000A1");
    auto tokenB = StartToken(1, "b.state", "00000000000000B2");
    Context a(3), b(3);
    const Bytes keyA = Ready(a, kSlot0), keyB = Ready(b, kSlot1);
    ASSERT_FALSE(HasFailure());
    const tagTECParams paramsA = Params(a), paramsB = Params(b);
    uint32_t size = 0;
    ASSERT_EQ(nkiGetSKTokenSize(a, &size), NKI_OK);
    for (int way = 0; way < 2; ++way) {
        const NKI_CONTEXT from = way == 0 ? a : b, to = way == 0 ? b : a;
        const Bytes &toKey = way == 0 ? keyB : keyA, &fromKey = way == 0 ? keyA : keyB;
        const tagTECParams &toParams = way == 0 ? paramsB : paramsA, &fromParams = way == 0 ? paramsA : paramsB;
        Bytes token(size);
        uint8_t sent[32], received[32];
        ASSERT_EQ(nkiGetSessionKeyEx(from, sent, 1, toKey.data(), 0, &toParams, token.data()), NKI_OK);
        EXPECT_EQ(token[1], 14);
        ASSERT_EQ(nkiSetSessionKeyEx(to, received, 1, fromKey.data(), 0, &fromParams, token.data()), NKI_OK);
        EXPECT_EQ(0, std::memcmp(sent, received, 32));
        token[4 + 24 + 2] ^= 1;  // a stamp byte
        EXPECT_EQ(nkiSetSessionKeyEx(to, received, 1, fromKey.data(), 0, &fromParams, token.data()),
                  NKI_E_INVALID_TOKEN);
    }
}

TEST_F(MultiE2E, APulledCardClosesTheSession) {
    auto token = StartToken(0, "pull.state", "0000000000000001");
    Context c(3);
    Ready(c, kSlot0);
    ASSERT_FALSE(HasFailure());
    ASSERT_EQ(token->Stop(), 0);
    ASSERT_TRUE(e2e::WaitFor([] { return !CardIn(kSlot0); }));
    uint8_t out[8];
    EXPECT_EQ(nkiGetRandomBlock(c, out, 8), NKI_E_CONNECTION_ABORTED);
    EXPECT_EQ(nkiGetRandomBlock(c, out, 8), NKI_E_NOT_CONNECTED);
    token = StartToken(0, "pull.state", "0000000000000001");
    Ready(c, kSlot0);
}

}  // namespace
