// The multi-carrier library's C interface over the key file, the container card
// and the protected data card; the cards are nki-vcarrier daemons in the vpcd
// slots of a real pcscd (run under scripts/pcsc-stack).
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
const uint8_t kPin[8] = {'1', '2', '3', '4', '5', '6', '7', '8'};
const uint8_t kNewPin[8] = {'2', '4', '6', '8', 0, 0, 0, 0};
using Bytes = std::vector<uint8_t>;

bool CardIn(const char *reader) {
    int32_t type = 0;
    return nkiGetReaderType(reader, &type) == NKI_OK;
}

class Context {
public:
    explicit Context(uint8_t type) { EXPECT_EQ(nkiCreateContext(&c_, type), NKI_OK); }
    ~Context() {
        if (c_) nkiDestroyContext(&c_);
    }
    Context(const Context &) = delete;
    Context &operator=(const Context &) = delete;
    operator NKI_CONTEXT() const { return c_; }

private:
    NKI_CONTEXT c_ = 0;
};

class CarriersMulti : public ::testing::Test {
protected:
    void SetUp() override {
        if (e2e::VpcdPort() == 0) GTEST_SKIP() << "run under scripts/pcsc-stack";
        ASSERT_TRUE(e2e::WaitFor([] { return !CardIn(kSlot0) && !CardIn(kSlot1); }));
    }
    std::unique_ptr<e2e::Process> Card(int slot, const std::string &kind, const std::string &state,
                                       std::vector<std::string> extra = {}) {
        std::vector<std::string> argv = {NKI_VCARRIER_PATH, "--kind", kind, "--state", dir.File(state), "--port",
                                         std::to_string(e2e::VpcdPort() + slot)};
        argv.insert(argv.end(), extra.begin(), extra.end());
        // A build for another instruction set runs its daemons the way it runs this test.
        if (const char *emulator = std::getenv("KCARLIB_TEST_EMULATOR"); emulator != nullptr && *emulator != '\0')
            argv.insert(argv.begin(), emulator);
        auto p = std::make_unique<e2e::Process>(argv);
        const char *reader = slot == 0 ? kSlot0 : kSlot1;
        EXPECT_TRUE(e2e::WaitFor([reader] { return CardIn(reader); })) << reader;
        return p;
    }
    static void Gone(std::unique_ptr<e2e::Process> &p, const char *reader) {
        EXPECT_EQ(p->Stop(), 0);
        p.reset();
        EXPECT_TRUE(e2e::WaitFor([reader] { return !CardIn(reader); }));
    }
    testsupport::TempDir dir{"kcarlib-carriers-multi"};
};

TEST_F(CarriersMulti, DiscoveryByAtr) {
    auto c = Card(0, "container", "c.state", {"--serial", "00000102030405AB"});
    auto p = Card(1, "protected", "p.state");
    int32_t type = 0;
    ASSERT_EQ(nkiGetReaderType(kSlot0, &type), NKI_OK);
    EXPECT_EQ(type, 2);
    ASSERT_EQ(nkiGetReaderType(kSlot1, &type), NKI_OK);
    EXPECT_EQ(type, 19);
    char serial[80];
    ASSERT_EQ(nkiGetDeviceSN(kSlot0, serial), NKI_OK);
    EXPECT_STREQ(serial, "#0102030405AB");
    EXPECT_EQ(nkiGetDeviceSN(kSlot1, serial), NKI_E_NO_SERIAL);
    // A context of type 0 takes its type from the card.
    Context any(0);
    ASSERT_EQ(nkiOpenSession(any, "#0102030405AB", nullptr), NKI_OK);
    uint8_t uid[8];
    ASSERT_EQ(nkiGetUID(any, uid), NKI_OK);
    EXPECT_EQ(uid[7], 0xAB);
}

TEST_F(CarriersMulti, ContainerCardFormatKeysCertificatesPinChangeAndLoss) {
    auto card = Card(0, "container", "card.state");
    Bytes owner(48);
    const Bytes cert = {0x30, 0x82, 0x00, 0x02, 0x05, 0x00};
    {
        Context c(2);
        ASSERT_EQ(nkiFormat(c, kSlot0, kPin, nullptr), NKI_OK);
        ASSERT_EQ(nkiOpenSession(c, kSlot0, nullptr), NKI_OK);
        EXPECT_EQ(nkiCheckPIN(c, kNewPin), NKI_E_INVALID_PIN_BASE + 9);
        ASSERT_EQ(nkiCheckPIN(c, kPin), NKI_OK);
        ASSERT_EQ(nkiGenerateOwnerKeyPair(c), NKI_OK);
        ASSERT_EQ(nkiGetOwnerPublicKey(c, owner.data(), 0), NKI_OK);
        ASSERT_EQ(nkiInitDS(c, nullptr), NKI_OK);
        const char doc[] = "container card document";
        uint8_t sig[48];
        ASSERT_EQ(nkiSignData(c, doc, sizeof doc, sig), NKI_OK);
        EXPECT_EQ(nkiVerifyData(c, doc, sizeof doc, owner.data(), sig, 0), NKI_OK);
        ASSERT_EQ(nkiSetCert(c, cert.data(), uint32_t(cert.size())), NKI_OK);
        uint8_t audit[4];
        ASSERT_EQ(nkiGetAuditRec(c, 0, audit), NKI_OK);
        EXPECT_EQ(audit[3], 1) << "one host signature counted by the card";
        ASSERT_EQ(nkiCloseSession(c), NKI_OK);

        // Certificates across a session close and reopen; the PIN changed.
        ASSERT_EQ(nkiOpenSession(c, kSlot0, nullptr), NKI_OK);
        ASSERT_EQ(nkiCheckPIN(c, kPin), NKI_OK);
        uint32_t size = 0;
        ASSERT_EQ(nkiGetCertSize(c, 1, &size), NKI_OK);
        EXPECT_EQ(size, cert.size());
        Bytes again(48);
        ASSERT_EQ(nkiGetOwnerPublicKey(c, again.data(), 0), NKI_OK);
        EXPECT_EQ(again, owner);
        ASSERT_EQ(nkiChangePIN(c, kPin, kNewPin, 0), NKI_OK);
        ASSERT_EQ(nkiCloseSession(c), NKI_OK);
    }
    Gone(card, kSlot0);

    // The card refuses the change of reference: the container is already under
    // the newer PIN's key when the change stops.
    card = Card(0, "container", "card.state", {"--answer", "8024=6581"});
    {
        Context c(2);
        ASSERT_EQ(nkiOpenSession(c, kSlot0, nullptr), NKI_OK);
        ASSERT_EQ(nkiCheckPIN(c, kNewPin), NKI_OK);
        EXPECT_EQ(nkiChangePIN(c, kNewPin, kPin, 0), NKI_E_DEVICE_CORRUPTED);
    }
    Gone(card, kSlot0);

    card = Card(0, "container", "card.state");
    Context c(2);
    ASSERT_EQ(nkiOpenSession(c, kSlot0, nullptr), NKI_OK);
    ASSERT_EQ(nkiCheckPIN(c, kNewPin), NKI_OK) << "recovered from the older copy";
    Bytes again(48);
    ASSERT_EQ(nkiGetOwnerPublicKey(c, again.data(), 0), NKI_OK);
    EXPECT_EQ(again, owner);
    ASSERT_EQ(nkiInitDS(c, nullptr), NKI_OK);
    // The card is pulled mid-session.
    Gone(card, kSlot0);
    uint8_t sig[48];
    EXPECT_EQ(nkiSignData(c, "x", 1, sig), NKI_E_CONNECTION_ABORTED);
    EXPECT_EQ(nkiSignData(c, "x", 1, sig), NKI_E_NOT_CONNECTED) << "the session was closed";
}

TEST_F(CarriersMulti, ProtectedCardChannelAndPermission) {
    auto card = Card(1, "protected", "p.state");
    Context c(19);
    ASSERT_EQ(nkiOpenSession(c, kSlot1, nullptr), NKI_OK);
    uint8_t counter[8], after[8];
    uint32_t n = 0;
    ASSERT_EQ(nkiIOControl(c, 0x227004, nullptr, 0, nullptr, 0, &n), NKI_OK);
    ASSERT_EQ(nkiCheckPIN(c, kPin), NKI_OK);
    const uint8_t data[120] = {5, 4, 3, 2, 1};
    ASSERT_EQ(nkiWriteFile(c, data, 0, sizeof data), NKI_OK);
    ASSERT_EQ(nkiIOControl(c, 0x222074, nullptr, 0, counter, 8, &n), NKI_OK);
    uint8_t back[120];
    ASSERT_EQ(nkiReadFile(c, back, 0, sizeof back), NKI_OK);
    EXPECT_EQ(std::memcmp(back, data, sizeof data), 0);
    ASSERT_EQ(nkiIOControl(c, 0x222074, nullptr, 0, after, 8, &n), NKI_OK);
    EXPECT_EQ(uint16_t((after[0] << 8 | after[1]) - (counter[0] << 8 | counter[1])), 6) << "select and two reads";
    EXPECT_EQ(nkiInitCipher(c, nullptr, nullptr, nullptr), NKI_E_UNSUPPORTED_FUNCTION);
    Gone(card, kSlot1);
    EXPECT_EQ(nkiReadFile(c, back, 0, 4), NKI_E_CONNECTION_ABORTED);
}

TEST_F(CarriersMulti, KeyFileSession) {
    const std::string path = dir.File("owner.nkif");
    const uint8_t key[32] = {0x5C, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    const uint8_t newKey[32] = {0xC5, 9, 8, 7};
    Bytes owner(48);
    {
        Context c(1);
        ASSERT_EQ(nkiFormat(c, path.c_str(), nullptr, key), NKI_OK);
        ASSERT_EQ(nkiOpenSession(c, path.c_str(), const_cast<uint8_t *>(key)), NKI_OK);
        ASSERT_EQ(nkiGetOwnerPublicKey(c, owner.data(), 0), NKI_OK);
        ASSERT_EQ(nkiInitDS(c, nullptr), NKI_OK);
        const char doc[] = "key file document";
        uint8_t sig[48];
        ASSERT_EQ(nkiSignData(c, doc, sizeof doc, sig), NKI_OK);
        EXPECT_EQ(nkiVerifyData(c, doc, sizeof doc, owner.data(), sig, 0), NKI_OK);
        const uint8_t cert[5] = {1, 2, 3, 4, 5};
        ASSERT_EQ(nkiSetCert(c, cert, sizeof cert), NKI_OK);
        ASSERT_EQ(nkiChangePassword(c, newKey), NKI_OK);
        EXPECT_EQ(nkiReadFile(c, sig, 0, 1), NKI_E_UNSUPPORTED_FUNCTION);
        ASSERT_EQ(nkiCloseSession(c), NKI_OK);
    }
    Context c(1);
    EXPECT_EQ(nkiOpenSession(c, path.c_str(), const_cast<uint8_t *>(key)), NKI_E_BAD_PASSWORD);
    ASSERT_EQ(nkiOpenSession(c, path.c_str(), const_cast<uint8_t *>(newKey)), NKI_OK);
    Bytes again(48);
    ASSERT_EQ(nkiGetOwnerPublicKey(c, again.data(), 0), NKI_OK);
    EXPECT_EQ(again, owner);
    uint32_t size = 0;
    ASSERT_EQ(nkiGetCertSize(c, 1, &size), NKI_OK);
    EXPECT_EQ(size, 5u);
}

}  // namespace
