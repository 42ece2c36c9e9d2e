// The token layer over a card whose answers are rewritten: for each exchange the
// input says whether the simulated token's answer passes, is cut short, has a
// byte changed, is replaced by the input's bytes (up to oversized), or is only a
// status word. A session is opened and used; every call answers 0 or a code.
#include <cstring>

#include "kcarlib/nki_result.h"
#include "session_rig.h"

using fuzz::Check;

namespace {

fuzz::Input *g_in = nullptr;

testpcsc::Bytes Rewrite(vtoken::Token &token, const testpcsc::Bytes &command) {
    testpcsc::Bytes reply = token.Transmit(command);
    const uint8_t op = g_in->Byte();
    switch (op & 7) {
        case 1: reply.resize(g_in->Byte() % (reply.size() + 1)); break;
        case 2:
            if (!reply.empty()) reply[g_in->Byte() % reply.size()] ^= static_cast<uint8_t>(1 + g_in->Byte());
            break;
        case 3: reply = g_in->Bytes(static_cast<std::size_t>(op >> 3) * 12); break;
        case 4: reply = {g_in->Byte(), g_in->Byte()}; break;
        default: break;  // passes
    }
    return reply;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    static vtoken::State fresh = [] {
        vtoken::State s = fuzz::FreshToken(3, {256, 512, 64});
        // A key in slot 1, so that the key commands have something to answer.
        vtoken::Token t(s);
        t.Transmit({0x00, 0xA4, 0x08, 0x00, 0x02, 0xDF, 0x42});
        t.Transmit({0x00, 0x20, 0x00, 0x05, 0x08, '1', '2', '3', '4', '5', '6', '7', '8'});
        t.Transmit({0x40, 0x4A, 0x01, 0x00});
        return t.state();
    }();
    static bool ready = [] {
        testpcsc::Reset();
        testpcsc::AddReader("Virtual PCD 00 00");
        return true;
    }();
    (void)ready;
    fuzz::Input in(data, size);
    g_in = &in;
    vtoken::Token token(fresh);
    testpcsc::Card card = vtoken::TestCard(token);
    card.handler = [&token](const testpcsc::Bytes &command) { return Rewrite(token, command); };
    testpcsc::InsertCard("Virtual PCD 00 00", card);

    NKI_CONTEXT c = nullptr;
    Check(nkiCreateContext(&c, 3) == NKI_OK);
    if (nkiOpenSession(c, "Virtual PCD 00 00", nullptr) == NKI_OK) {
        uint8_t buffer[600], sig[64], uid[8];
        uint32_t length = 0;
        int32_t fileSize = 0;
        tagTNKIinfo info{};
        nkiGetInfo(c, &info);
        nkiGetUID(c, uid);
        nkiCheckPIN(c, fuzz::kPin);
        nkiGetOwnerPublicKey(c, buffer, 0);
        nkiGetCryptoParams(c, 255, buffer, &length);
        nkiGetRandomBlock(c, buffer, 40);
        nkiSignData(c, "data", 4, sig);
        nkiGetFileSize(c, &fileSize);
        nkiReadFile(c, buffer, 0, 200);
        nkiWriteFile(c, buffer, 10, 150);
        nkiGetCertSize(c, 1, &length);
        nkiSetCert(c, "cert", 4);
        nkiGetSKTokenSize(c, &length);
        nkiCloseSession(c);
    }
    Check(nkiDestroyContext(&c) == NKI_OK);
    Check(testpcsc::OpenContexts() == 0 && testpcsc::OpenCards() == 0);
    g_in = nullptr;
    return 0;
}
