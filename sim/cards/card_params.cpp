#include "card_params.h"

#include <algorithm>
#include <cstring>

#include "carriers/card_family.h"
#include "curve191.h"
#include "kcarlib/gost.h"

namespace vcards {

void CardValueOf(const uint8_t *pin8, uint8_t *value8) {
    uint8_t iv[32], h[32];
    std::memset(iv, kcar::family::kCardValueStartByte, sizeof iv);
    TGostHash hash;
    HashInit(&hash, nullptr, iv);
    HashUpdate(&hash, pin8, 8);
    HashFinal(&hash, h);
    HashDone(&hash);
    std::memcpy(value8, h, 8);
}

std::vector<uint8_t> ParameterRecord() {
    std::vector<uint8_t> r(366, 0);
    auto put16 = [&](std::size_t at, unsigned v) {
        r[at] = uint8_t(v);
        r[at + 1] = uint8_t(v >> 8);
    };
    auto putElement = [&](std::size_t at, const char *hex) {
        std::vector<uint8_t> msb = vtoken::HexMsb(hex);
        std::reverse_copy(msb.begin(), msb.end(), r.begin() + static_cast<long>(at));
    };
    put16(0, 1);
    put16(2, vtoken::kFieldDegree);
    put16(4, 9);
    put16(10, 1);
    putElement(12, vtoken::kCurveB);
    putElement(76, vtoken::kCurveN);
    putElement(140, vtoken::kCurvePx);
    putElement(204, vtoken::kCurvePy);
    std::memcpy(r.data() + 300, Uz34311, 64);
    return r;
}

}  // namespace vcards
