#include "curve191.h"

#include <algorithm>
#include <string>

namespace vtoken {

const uint8_t kDke1Sbox[64] = {
    0x8A, 0x09, 0xCD, 0x46, 0x9E, 0x6B, 0x74, 0xB5, 0x2F, 0x31, 0x13, 0xFC, 0x57, 0xE0, 0xA8, 0xD2,
    0x3F, 0x86, 0xD5, 0x98, 0x6E, 0xBB, 0xFA, 0x04, 0x2C, 0x50, 0xC3, 0xA7, 0x42, 0xE9, 0x11, 0x7D,
    0x2F, 0x88, 0x9E, 0x79, 0x57, 0xF2, 0x00, 0xBD, 0xCC, 0x16, 0xD1, 0xE5, 0xAB, 0x34, 0x63, 0x4A,
    0x13, 0x28, 0x3B, 0xE5, 0x66, 0xD4, 0xBE, 0x8A, 0xF2, 0xAC, 0xC1, 0x57, 0x79, 0x9F, 0x0D, 0x40,
};

std::vector<uint8_t> HexMsb(const char *text) {
    std::string s(text);
    s.insert(0, std::string(2 * kElementBytes - std::min<std::size_t>(s.size(), 2 * kElementBytes), '0'));
    std::vector<uint8_t> out(kElementBytes);
    for (int i = 0; i < kElementBytes; ++i) out[i] = static_cast<uint8_t>(std::stoul(s.substr(2 * i, 2), nullptr, 16));
    return out;
}

std::vector<uint8_t> CurveRecord() {
    std::vector<uint8_t> r(kCurveRecordSize, 0);
    r[rec::kDegree] = kFieldDegree;
    r[rec::kA] = 1;
    r[rec::kFormat] = 2;
    r[rec::kVersion] = 1;
    auto put = [&](int offset, std::vector<uint8_t> v, bool reverse) {
        if (reverse) std::reverse(v.begin(), v.end());
        std::copy(v.begin(), v.end(), r.begin() + offset);
    };
    put(rec::kBRoot, HexMsb(kCurveBRoot), false);
    put(rec::kN, HexMsb(kCurveN), true);
    put(rec::kPx, HexMsb(kCurvePx), false);
    put(rec::kPy, HexMsb(kCurvePy), false);
    // The start vector stays zero: receivers of SK tokens check them with a zero
    // start vector.
    std::copy(kDke1Sbox, kDke1Sbox + 64, r.begin() + rec::kSbox);
    return r;
}

}  // namespace vtoken
