// nki-vtoken through a real pcscd and the vpcd reader (run under
// scripts/pcsc-stack): an opensc-tool APDU script, the library's token layer,
// restarts that keep the state, two tokens in two slots, and the fault options.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <PCSC/winscard.h>

#include "e2e_support.h"
#include "kcarlib/nki_result.h"
#include "token/nki_abs.h"
#include "../support/temp_dir.h"

namespace {

const char kSlot0[] = "Virtual PCD 00 00";
const char kSlot1[] = "Virtual PCD 00 01";

struct Answer {
    uint16_t sw = 0;
    std::vector<std::string> tokens;  // the dump's words: hex bytes, then the text column
};

struct ToolRun {
    int status = -1;
    std::vector<Answer> answers;
    std::string output;
};

// opensc-tool on reader index `reader` with one -s per APDU.
ToolRun Tool(int reader, const std::vector<std::string> &apdus, const std::string &extra = "") {
    std::string cmd = std::string(OPENSC_TOOL) + " -r " + std::to_string(reader) + " " + extra;
    for (const auto &a : apdus) cmd += " -s '" + a + "'";
    cmd += " 2>&1";
    ToolRun run;
    FILE *p = ::popen(cmd.c_str(), "r");
    if (!p) return run;
    char line[512];
    while (std::fgets(line, sizeof line, p)) {
        run.output += line;
        unsigned sw1, sw2;
        if (std::sscanf(line, "Received (SW1=0x%x, SW2=0x%x)", &sw1, &sw2) == 2) {
            run.answers.push_back({static_cast<uint16_t>(sw1 << 8 | sw2), {}});
        } else if (!run.answers.empty() && std::strncmp(line, "Sending", 7) != 0) {
            std::istringstream words(line);
            for (std::string w; words >> w;) run.answers.back().tokens.push_back(w);
        }
    }
    int st = ::pclose(p);
    run.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return run;
}

// The first n data bytes of an answer, as hex words.
std::string Data(const Answer &a, std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n && i < a.tokens.size(); ++i) s += (i ? " " : "") + a.tokens[i];
    return s;
}

std::vector<uint16_t> Sws(const ToolRun &r) {
    std::vector<uint16_t> v;
    for (const auto &a : r.answers) v.push_back(a.sw);
    return v;
}

// Asks pcscd only; opensc-tool would send its own commands to the card.
bool Present(const char *reader) {
    SCARDCONTEXT ctx = 0;
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &ctx) != SCARD_S_SUCCESS) return false;
    SCARD_READERSTATE rs{};
    rs.szReader = reader;
    rs.dwCurrentState = SCARD_STATE_UNAWARE;
    bool present = SCardGetStatusChange(ctx, 0, &rs, 1) == SCARD_S_SUCCESS && (rs.dwEventState & SCARD_STATE_PRESENT);
    SCardReleaseContext(ctx);
    return present;
}

bool CardIn(int reader) { return Present(reader == 0 ? "Virtual PCD 00 00" : "Virtual PCD 00 01"); }

// Plain PC/SC exchanges; the status words of the answered ones, stopping at the
// first failed transmission.
std::vector<uint16_t> Exchange(const char *reader, const std::vector<std::vector<uint8_t>> &apdus) {
    std::vector<uint16_t> sws;
    SCARDCONTEXT ctx = 0;
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &ctx) != SCARD_S_SUCCESS) return sws;
    if (SCardConnect(ctx, reader, SCARD_SHARE_EXCLUSIVE, SCARD_PROTOCOL_T1, &card, &protocol) == SCARD_S_SUCCESS) {
        for (const auto &a : apdus) {
            uint8_t r[258];
            DWORD n = sizeof r;
            if (SCardTransmit(card, SCARD_PCI_T1, a.data(), static_cast<DWORD>(a.size()), nullptr, r, &n) !=
                    SCARD_S_SUCCESS ||
                n < 2)
                break;
            sws.push_back(static_cast<uint16_t>(r[n - 2] << 8 | r[n - 1]));
        }
        SCardDisconnect(card, SCARD_LEAVE_CARD);
    }
    SCardReleaseContext(ctx);
    return sws;
}

using testsupport::TempDir;

std::vector<std::string> Daemon(const std::string &state, int port, std::vector<std::string> extra = {}) {
    std::vector<std::string> argv = {NKI_VTOKEN_PATH, "--state", state, "--port", std::to_string(port)};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return argv;
}

class VTokenDaemon : public ::testing::Test {
protected:
    void SetUp() override {
        if (e2e::VpcdPort() == 0) GTEST_SKIP() << "run under scripts/pcsc-stack";
        // pcscd notices a card that left by polling; start from empty slots.
        ASSERT_TRUE(e2e::WaitFor([] { return !CardIn(0) && !CardIn(1); }));
    }
    TempDir dir;
};

TEST_F(VTokenDaemon, AnswersAnOpenscScriptAndKeepsItsStateAcrossRestarts) {
    const std::string state = dir.File("token.state");
    std::string serial, record;
    {
        e2e::Process token(Daemon(state, e2e::VpcdPort(), {"--pin", "4321"}));
        ASSERT_TRUE(token.Started());
        ASSERT_TRUE(e2e::WaitFor([] { return CardIn(0); }));
        ToolRun run = Tool(0, {
            "00 A4 08 00 02 DF 42 01",
            "00 B0 84 00 04",
            "80 F6 00 00 08",
            "00 20 00 05 08 34 33 32 31 00 00 00 00",
            "40 4A 01 00",
            "00 B2 01 4C 00",
            "00 A4 00 00 02 02 01 01",
            "00 D6 00 10 04 DE AD BE EF",
            "00 20 00 05 08 31 31 31 31 00 00 00 00",
            "40 52 00 00 20 00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF 00",
            "00 FF 00 00",
        });
        ASSERT_EQ(run.status, 0) << run.output;
        EXPECT_EQ(Sws(run), (std::vector<uint16_t>{0x9000, 0x9000, 0x9000, 0x9000, 0x9000, 0x9000, 0x9000, 0x9000,
                                                   0x63C9, 0x6982, 0x6D00}))
            << run.output;
        ASSERT_EQ(run.answers.size(), 11u);
        EXPECT_EQ(Data(run.answers[1], 4), "01 09 00 00");
        serial = Data(run.answers[2], 8);
        record = Data(run.answers[5], 48);
        EXPECT_EQ(run.answers[5].tokens.size() >= 48, true);
        EXPECT_EQ(token.Stop(), 0) << "SIGTERM ends it cleanly";
        ASSERT_TRUE(e2e::WaitFor([] { return !CardIn(0); }));
    }
    {
        // --pin is ignored: the token keeps its own.
        e2e::Process token(Daemon(state, e2e::VpcdPort(), {"--pin", "9999"}));
        ASSERT_TRUE(e2e::WaitFor([] { return CardIn(0); }));
        ToolRun run = Tool(0, {
            "00 A4 08 00 02 DF 42 01",
            "80 F6 00 00 08",
            "00 20 00 05",
            "00 B2 01 4C 00",
            "00 B0 82 10 04",
            "00 20 00 05 08 34 33 32 31 00 00 00 00",
        });
        ASSERT_EQ(run.status, 0) << run.output;
        EXPECT_EQ(Sws(run), (std::vector<uint16_t>{0x9000, 0x9000, 0x63C9, 0x9000, 0x6A82, 0x9000})) << run.output;
        ASSERT_EQ(run.answers.size(), 6u);
        EXPECT_EQ(Data(run.answers[1], 8), serial);
        EXPECT_EQ(Data(run.answers[3], 48), record) << "the key survived";
        // Container 0201 has identifier 0201, not a short one: select, then read.
        ToolRun read = Tool(0, {"00 A4 08 00 02 DF 42 01", "00 A4 00 00 02 02 01 01", "00 B0 00 10 04"});
        ASSERT_EQ(read.answers.size(), 3u) << read.output;
        EXPECT_EQ(Data(read.answers[2], 4), "DE AD BE EF");
        EXPECT_EQ(token.Stop(), 0);
    }
}

// The library's own token layer through pcscd, with two tokens at once.
TEST_F(VTokenDaemon, LibraryConnectsToTwoTokensInTwoSlots) {
    e2e::Process a(Daemon(dir.File("a.state"), e2e::VpcdPort()));
    e2e::Process b(Daemon(dir.File("b.state"), e2e::VpcdPort() + 1, {"--containers", "100,200"}));
    ASSERT_TRUE(e2e::WaitFor([] { return CardIn(0) && CardIn(1); }));

    kcar::TNkiAbs first, second;
    ASSERT_EQ(first.connect(kSlot0), NKI_OK);
    ASSERT_EQ(second.connect(kSlot1), NKI_OK);
    EXPECT_NE(std::memcmp(first.Serial, second.Serial, 8), 0);
    EXPECT_EQ(first.ContainerSize[0], 4096u);
    EXPECT_EQ(second.ContainerSize[0], 100u);
    EXPECT_EQ(second.ContainerSize[2], 0u);
    EXPECT_EQ(second.KeySlots, 2u);

    const uint8_t pin[] = "12345678";
    uint8_t point[128], hash[32] = {1}, sig[48];
    EXPECT_EQ(first.SignHash(hash, sig), NKI_E_PIN_REQUIRED);
    ASSERT_EQ(first.CheckPinEx(pin, 8), NKI_OK);
    ASSERT_EQ(first.GenerateOwnerKeyPair(1, point), NKI_OK);
    EXPECT_EQ(first.SignHash(hash, sig), NKI_OK);
    EXPECT_EQ(second.SignHash(hash, sig), NKI_E_PIN_REQUIRED) << "each token has its own PIN state";
    first.disconnect();
    second.disconnect();

    // Disconnecting unpowers the card: the PIN must be presented again.
    kcar::TNkiAbs again;
    ASSERT_EQ(again.connect(kSlot0), NKI_OK);
    EXPECT_EQ(again.SignHash(hash, sig), NKI_E_PIN_REQUIRED);
    again.disconnect();
}

TEST_F(VTokenDaemon, FaultOptionsRemoveTheCardAndForceStatusWords) {
    e2e::Process token(Daemon(dir.File("f.state"), e2e::VpcdPort(), {"--remove-after", "3", "--answer", "80F6=6A88"}));
    ASSERT_TRUE(e2e::WaitFor([] { return CardIn(0); }));
    const std::vector<uint8_t> status = {0x00, 0xB0, 0x84, 0x00, 0x04};
    EXPECT_EQ(Exchange(kSlot0, {{0x00, 0xA4, 0x08, 0x00, 0x02, 0xDF, 0x42, 0x01}, {0x80, 0xF6, 0x00, 0x00, 0x08},
                                status, status}),
              (std::vector<uint16_t>{0x9000, 0x6A88, 0x9000}))
        << "the fourth command finds no card";
    EXPECT_TRUE(e2e::WaitFor([] { return !CardIn(0); }));
    EXPECT_EQ(token.Stop(), 0);
}

TEST(VTokenCommandLine, HelpAndBadArguments) {
    auto run = [](const std::string &args) {
        int st = std::system((std::string(NKI_VTOKEN_PATH) + " " + args + " >/dev/null 2>&1").c_str());
        return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    };
    EXPECT_EQ(run("--help"), 0);
    EXPECT_EQ(run(""), 2) << "--state is required";
    EXPECT_EQ(run("--state /tmp/x --port 0"), 2);
    EXPECT_EQ(run("--state /tmp/x --pin 123456789"), 2);
    EXPECT_EQ(run("--state /tmp/x --answer 4052=69"), 2);
    EXPECT_EQ(run("--state /tmp/x --containers 10,,20"), 2);
    EXPECT_EQ(run("--state /tmp/x --bogus 1"), 2);
}

}  // namespace
