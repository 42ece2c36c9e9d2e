// The container card and protected data card carriers through a real pcscd and
// the vpcd reader (run under scripts/pcsc-stack), with nki-vcarrier daemons as
// the cards: ATRs as the service reports them, formatting, PIN check and change
// with the recovery after a change cut short, keys and signatures, certificates
// across sessions, the secure channel, and a card pulled mid-session.
#include <gtest/gtest.h>

#include <PCSC/winscard.h>

#include <cstring>
#include <string>
#include <vector>

#include "../support/temp_dir.h"
#include "carriers/container_card_carrier.h"
#include "carriers/protected_card_carrier.h"
#include "e2e_support.h"
#include "kcarlib/nki_result.h"

namespace {

const char kSlot0[] = "Virtual PCD 00 00";
const char kSlot1[] = "Virtual PCD 00 01";
const uint8_t kPin[8] = {'1', '2', '3', '4', '5', '6', '7', '8'};
const uint8_t kNewPin[8] = {'5', '5', '5', '5', 0, 0, 0, 0};

// The ATR pcscd reports for a reader; empty without a card.
std::vector<uint8_t> AtrOf(const char *reader) {
    SCARDCONTEXT ctx = 0;
    std::vector<uint8_t> atr;
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &ctx) != SCARD_S_SUCCESS) return atr;
    SCARD_READERSTATE rs{};
    rs.szReader = reader;
    rs.dwCurrentState = SCARD_STATE_UNAWARE;
    if (SCardGetStatusChange(ctx, 0, &rs, 1) == SCARD_S_SUCCESS && (rs.dwEventState & SCARD_STATE_PRESENT))
        atr.assign(rs.rgbAtr, rs.rgbAtr + rs.cbAtr);
    SCardReleaseContext(ctx);
    return atr;
}

bool CardIn(const char *reader) { return !AtrOf(reader).empty(); }

std::vector<std::string> Daemon(const std::string &kind, const std::string &state, int port,
                                std::vector<std::string> extra = {}) {
    std::vector<std::string> argv = {NKI_VCARRIER_PATH, "--kind", kind, "--state", state, "--port",
                                     std::to_string(port)};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return argv;
}

class CarrierDaemons : public ::testing::Test {
protected:
    void SetUp() override {
        if (e2e::VpcdPort() == 0) GTEST_SKIP() << "run under scripts/pcsc-stack";
        ASSERT_TRUE(e2e::WaitFor([] { return !CardIn(kSlot0) && !CardIn(kSlot1); }));
    }
    testsupport::TempDir dir{"kcarlib-carriers-e2e"};
};

TEST_F(CarrierDaemons, AtrsNameTheirKinds) {
    e2e::Process c(Daemon("container", dir.File("c"), e2e::VpcdPort(), {"--serial", "0011223344556677"}));
    e2e::Process p(Daemon("protected", dir.File("p"), e2e::VpcdPort() + 1));
    ASSERT_TRUE(e2e::WaitFor([] { return CardIn(kSlot0) && CardIn(kSlot1); }));
    auto a = AtrOf(kSlot0), b = AtrOf(kSlot1);
    ASSERT_EQ(a.size(), 16u);
    ASSERT_EQ(b.size(), 16u);
    EXPECT_EQ(a[0], 0x3B);
    EXPECT_EQ(a[1], 0xB7);
    EXPECT_EQ(a[8] >> 4, 1);
    EXPECT_EQ(std::vector<uint8_t>(a.begin() + 9, a.begin() + 15),
              (std::vector<uint8_t>{0x22, 0x33, 0x44, 0x55, 0x66, 0x77}));
    EXPECT_EQ(b[8], 0x10);
    EXPECT_EQ(std::string(b.begin() + 9, b.begin() + 15), "CNTRV3");
}

TEST_F(CarrierDaemons, ContainerCardLifecycle) {
    const std::string state = dir.File("container.state");
    TEcPoint owner;
    {
        e2e::Process card(Daemon("container", state, e2e::VpcdPort()));
        ASSERT_TRUE(e2e::WaitFor([] { return CardIn(kSlot0); }));
        ASSERT_EQ(kcar::ContainerCardCarrier::Format(kSlot0, kPin), NKI_OK);
        kcar::ContainerCardCarrier s;
        ASSERT_EQ(s.OpenCard(kSlot0), NKI_OK);
        ASSERT_EQ(s.CheckPin(kPin), NKI_OK);
        ASSERT_EQ(s.GenerateOwnerKeyPair(), NKI_OK);
        owner = s.OwnerPublicKey();
        uint8_t hash[32] = {1, 2, 3}, sig[48];
        ASSERT_EQ(s.SignHash(hash, sig), NKI_OK);
        EXPECT_EQ(s.VerifyHash(owner, hash, sig), NKI_OK);
        ASSERT_EQ(s.SetCertificateArea({0xC0, 0xFF, 0xEE}), NKI_OK);
        const uint8_t user[5] = {'h', 'e', 'l', 'l', 'o'};
        ASSERT_EQ(s.WriteUserFile(3, user, 5), NKI_OK);
        ASSERT_EQ(s.ChangePin(kPin, kNewPin, 0), NKI_OK);
        s.Close();
        ASSERT_EQ(s.OpenCard(kSlot0), NKI_OK);
        EXPECT_EQ(s.CheckPin(kPin), NKI_E_INVALID_PIN_BASE + 9);
        ASSERT_EQ(s.CheckPin(kNewPin), NKI_OK);
        EXPECT_TRUE(PointIsEqual(&s.OwnerPublicKey(), &owner));
        EXPECT_EQ(s.CertificateArea()[0], 0xC0);
        uint8_t back[5];
        ASSERT_EQ(s.ReadUserFile(3, back, 5), NKI_OK);
        EXPECT_EQ(std::memcmp(back, user, 5), 0);
        s.Close();
        EXPECT_EQ(card.Stop(), 0);
        ASSERT_TRUE(e2e::WaitFor([] { return !CardIn(kSlot0); }));
    }
    {
        // The card refuses to change its reference: the change stops after the
        // container was rewritten under the new PIN's key.
        e2e::Process card(Daemon("container", state, e2e::VpcdPort(), {"--answer", "8024=6581"}));
        ASSERT_TRUE(e2e::WaitFor([] { return CardIn(kSlot0); }));
        kcar::ContainerCardCarrier s;
        ASSERT_EQ(s.OpenCard(kSlot0), NKI_OK);
        EXPECT_EQ(s.ChangePin(kNewPin, kPin, 0), NKI_E_DEVICE_CORRUPTED);
        s.Close();
        EXPECT_EQ(card.Stop(), 0);
        ASSERT_TRUE(e2e::WaitFor([] { return !CardIn(kSlot0); }));
    }
    {
        // After a restart the PIN that the card still holds opens the older copy.
        e2e::Process card(Daemon("container", state, e2e::VpcdPort()));
        ASSERT_TRUE(e2e::WaitFor([] { return CardIn(kSlot0); }));
        kcar::ContainerCardCarrier s;
        ASSERT_EQ(s.OpenCard(kSlot0), NKI_OK);
        ASSERT_EQ(s.CheckPin(kNewPin), NKI_OK);
        EXPECT_TRUE(PointIsEqual(&s.OwnerPublicKey(), &owner));
        // The card leaves the reader mid-session.
        EXPECT_EQ(card.Stop(), 0);
        ASSERT_TRUE(e2e::WaitFor([] { return !CardIn(kSlot0); }));
        uint8_t hash[32] = {}, sig[48];
        EXPECT_EQ(s.SignHash(hash, sig), NKI_E_CONNECTION_ABORTED);
        EXPECT_FALSE(s.Open());
    }
}

TEST_F(CarrierDaemons, ProtectedCardChannel) {
    e2e::Process card(Daemon("protected", dir.File("protected.state"), e2e::VpcdPort() + 1));
    ASSERT_TRUE(e2e::WaitFor([] { return CardIn(kSlot1); }));
    kcar::ProtectedCardCarrier s;
    ASSERT_EQ(s.OpenCard(kSlot1), NKI_OK);
    EXPECT_EQ(s.Flags(), 0x31u);
    const uint8_t data[150] = {7, 7, 7};
    ASSERT_EQ(s.WriteUserFile(0, data, sizeof data), NKI_OK);
    uint8_t counter[8];
    uint32_t n = 0;
    ASSERT_EQ(s.IoControl(0x222074, nullptr, 0, counter, 8, &n), NKI_OK);
    uint8_t back[150];
    ASSERT_EQ(s.ReadUserFile(0, back, sizeof back), NKI_OK);
    EXPECT_EQ(std::memcmp(back, data, sizeof data), 0);
    uint8_t after[8];
    ASSERT_EQ(s.IoControl(0x222074, nullptr, 0, after, 8, &n), NKI_OK);
    EXPECT_EQ(uint16_t((after[0] << 8 | after[1]) - (counter[0] << 8 | counter[1])), 6) << "select and two reads";
    ASSERT_EQ(s.IoControl(0x227004, nullptr, 0, nullptr, 0, &n), NKI_OK);
    ASSERT_EQ(s.CheckPin(kPin), NKI_OK);
    ASSERT_EQ(s.IoControl(0x227004, nullptr, 0, nullptr, 0, &n), NKI_OK);
    EXPECT_EQ(s.CheckPin(kNewPin), NKI_E_INVALID_PIN_BASE + 9);
    EXPECT_EQ(card.Stop(), 0);
    ASSERT_TRUE(e2e::WaitFor([] { return !CardIn(kSlot1); }));
    EXPECT_EQ(s.ReadUserFile(0, back, 4), NKI_E_CONNECTION_ABORTED);
}

TEST_F(CarrierDaemons, CardThatLeavesAfterNCommands) {
    // Opening takes six commands (application, serial, channel probe and start,
    // two file selections); the card leaves after the eighth.
    e2e::Process card(Daemon("protected", dir.File("leaving.state"), e2e::VpcdPort(), {"--remove-after", "8"}));
    ASSERT_TRUE(e2e::WaitFor([] { return CardIn(kSlot0); }));
    kcar::ProtectedCardCarrier s;
    ASSERT_EQ(s.OpenCard(kSlot0), NKI_OK);
    uint8_t back[150];
    EXPECT_EQ(s.ReadUserFile(0, back, sizeof back), NKI_E_CONNECTION_ABORTED) << "select, one read, then gone";
    ASSERT_TRUE(e2e::WaitFor([] { return !CardIn(kSlot0); }));
    EXPECT_EQ(s.ReadUserFile(0, back, 4), NKI_E_CONNECTION_ABORTED);
    EXPECT_FALSE(s.Open()) << "the presence test closed the session";
}

}  // namespace
