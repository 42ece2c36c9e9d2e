// The simulated token's APDU dispatcher: a sequence of hostile commands, with
// power cycles between them, against a token that saves its state through the
// state file's text after every change (which must read back whole).
#include <string>

#include "fuzz_input.h"
#include "vtoken.h"

namespace {

vtoken::State Fresh() {
    vtoken::TokenOptions o;
    o.containerSizes = {64, 300, 32};
    o.serial = {0, 0, 1, 2, 3, 4, 5, 6};
    vtoken::State s;
    std::string error;
    fuzz::Check(vtoken::MakeState(o, s, error));
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    static const vtoken::State fresh = Fresh();
    fuzz::Input in(data, size);
    vtoken::Token token(fresh, [](const vtoken::State &s) {
        vtoken::State back;
        std::string error;
        fuzz::Check(vtoken::Parse(vtoken::Serialize(s), back, error));
        return true;
    });
    // Most runs want the PIN presented and the application selected.
    if (in.Byte() & 1) {
        token.Transmit({0x00, 0xA4, 0x08, 0x00, 0x02, 0xDF, 0x42});
        token.Transmit({0x00, 0x20, 0x00, 0x05, 0x08, '1', '2', '3', '4', '5', '6', '7', '8'});
    }
    while (!in.empty()) {
        const uint8_t op = in.Byte();
        if (op == 0xFF) {
            token.PowerOff();
            continue;
        }
        if (op == 0xFE) {
            token.Reset();
            continue;
        }
        const vpcd::Bytes reply = token.Transmit(in.Bytes(op));
        fuzz::Check(reply.size() >= 2);
    }
    return 0;
}
