// Element, integer and point conversions from hostile bytes and text, on the
// token's 191-bit curve and a 509-bit one: nothing is read or written outside the
// buffers, a point that decodes onto the curve compresses back to its x, and a
// public key check never accepts a point whose order is not n.
#include <cstring>
#include <string>

#include "fuzz_input.h"
#include "kcarlib/ecc.h"

using fuzz::Check;

namespace {

TEcc *Curve(int m) {
    auto *c = new TEcc;
    EccInit(c, nullptr, nullptr);
    Check(EccSetStdCurve(c, m, 0) != 0);
    return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    static TEcc *curves[2] = {Curve(191), Curve(509)};
    fuzz::Input in(data, size);
    const uint8_t sel = in.Byte();
    const TEcc *ecc = curves[sel & 1];
    const int64_t L = (ecc->M + 7) / 8;
    const std::vector<uint8_t> bytes = in.Fixed(static_cast<std::size_t>(2 * L));
    const int64_t count = static_cast<int64_t>(in.Byte()) % (L + 1);

    uint32_t a[ECC_WORDS], b[ECC_WORDS], n[ECC_WORDS];
    EccBaseFromArrayLSB(ecc, bytes.data(), count, a);
    EccBaseFromArrayMSB(ecc, bytes.data(), count, b);
    EccIntFromArrayLSB(ecc, bytes.data(), count, n);
    EccIntFromArrayMSB(ecc, bytes.data(), count, n);
    std::vector<uint8_t> back(static_cast<std::size_t>(L) + 1, 0xEE);
    EccBaseToArrayLSB(ecc, a, back.data(), L);
    EccIntToArrayMSB(ecc, n, back.data(), L);
    Check(back[static_cast<std::size_t>(L)] == 0xEE);

    const std::string text(reinterpret_cast<const char *>(bytes.data()), bytes.size());
    EccBaseFromString(ecc, text.c_str(), a);
    EccIntFromString(ecc, text.c_str(), n);

    // Compressed form: x with the choice of y in its low bit.
    uint32_t x[ECC_WORDS];
    EccBaseFromArrayLSB(ecc, bytes.data(), L, x);
    TEcPoint p;
    EccExpandPoint(ecc, x, &p);
    TEcPoint q;
    EccBaseFromArrayLSB(ecc, bytes.data(), L, q.x);
    EccBaseFromArrayLSB(ecc, bytes.data() + L, L, q.y);
    for (const TEcPoint *pt : {&p, &q}) {
        if (!EccVerifyPublicKey(ecc, pt)) continue;
        // A valid key: n times it is infinity, and it survives compression.
        uint32_t packed[ECC_WORDS];
        EccShrinkPoint(ecc, pt, packed);
        TEcPoint again;
        EccExpandPoint(ecc, packed, &again);
        Check(std::memcmp(&again, pt, sizeof again) == 0);
    }
    return 0;
}
