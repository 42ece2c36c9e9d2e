// Helpers of the simulated token's tests: hex APDUs, status words and a fresh
// token held in memory.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "token_state.h"
#include "vpcd_link.h"
#include "vtoken.h"

namespace simtest {

using vtoken::Bytes;

inline Bytes H(const std::string &hex) {
    Bytes b;
    EXPECT_TRUE(vpcd::ParseHex(hex, b)) << hex;
    return b;
}

inline uint16_t SwOf(const Bytes &r) {
    return r.size() < 2 ? 0 : static_cast<uint16_t>(r[r.size() - 2] << 8 | r[r.size() - 1]);
}

inline Bytes DataOf(const Bytes &r) { return r.size() < 2 ? Bytes{} : Bytes(r.begin(), r.end() - 2); }

inline vtoken::State FreshState(vtoken::TokenOptions options = {}) {
    vtoken::State s;
    std::string error;
    EXPECT_TRUE(vtoken::MakeState(options, s, error)) << error;
    return s;
}

// Sends a hex APDU and answers the status word; the data goes to *data when given.
inline uint16_t Send(vtoken::Token &t, const std::string &hex, Bytes *data = nullptr) {
    Bytes r = t.Transmit(H(hex));
    EXPECT_GE(r.size(), 2u) << hex;
    if (data) *data = DataOf(r);
    return SwOf(r);
}

inline const char kVerifyDefault[] = "00 20 00 05 08 31 32 33 34 35 36 37 38";

}  // namespace simtest
