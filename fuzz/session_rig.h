// A context with a session on a simulated token in the in-process test PC/SC
// layer, for the fuzz targets that drive the library through its interface.
#pragma once

#include <memory>
#include <string>

#include "fuzz_input.h"
#include "kcarlib/nki.h"
#include "test_pcsc.h"
#include "vtoken.h"
#include "vtoken_testpcsc.h"

namespace fuzz {

inline const uint8_t kPin[8] = {'1', '2', '3', '4', '5', '6', '7', '8'};

inline vtoken::State FreshToken(uint8_t serial, std::vector<uint32_t> containers = {256, 1024, 64}) {
    vtoken::TokenOptions o;
    o.containerSizes = std::move(containers);
    o.serial = {0, 0, serial, 2, 3, 4, 5, 6};
    vtoken::State s;
    std::string error;
    Check(vtoken::MakeState(o, s, error));
    return s;
}

// One reader with a token and one context; the card can be re-inserted with a
// changed state before each run.
struct Rig {
    std::string reader;
    std::unique_ptr<vtoken::Token> token;
    NKI_CONTEXT context = nullptr;

    Rig(const std::string &name, vtoken::State state) : reader(name) {
        testpcsc::AddReader(reader);
        token = std::make_unique<vtoken::Token>(std::move(state));
        testpcsc::InsertCard(reader, vtoken::TestCard(*token));
        Check(nkiCreateContext(&context, 3) == NKI_OK);
    }
    // A session on the token as it now is, with the PIN presented.
    bool Open() {
        nkiCloseSession(context);
        testpcsc::SetFaults(reader, {});
        testpcsc::InsertCard(reader, vtoken::TestCard(*token));
        testpcsc::ClearSent(reader);
        return nkiOpenSession(context, reader.c_str(), nullptr) == NKI_OK && nkiCheckPIN(context, kPin) == NKI_OK;
    }
};

}  // namespace fuzz
