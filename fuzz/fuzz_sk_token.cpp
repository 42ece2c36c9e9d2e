// The receiving side of session keys over hostile SK tokens and peer keys, and
// the sending side over hostile peer keys: nothing but 0 or a code, a key only
// on success, and a sent key only for a peer point of order n.
#include <cstring>

#include "kcarlib/ecc.h"
#include "kcarlib/nki_result.h"
#include "session_rig.h"

using fuzz::Check;

namespace {

struct Pair {
    fuzz::Rig a{"Virtual PCD 00 00", fuzz::FreshToken(1)};
    fuzz::Rig b{"Virtual PCD 00 01", fuzz::FreshToken(2)};
    uint8_t keyA[48] = {}, keyB[48] = {};
    tagTECParams paramsA{}, paramsB{};
    TEcc curve{};
    Pair() {
        for (fuzz::Rig *r : {&a, &b}) {
            Check(r->Open());
            Check(nkiGenerateOwnerKeyPair(r->context) == NKI_OK);
        }
        Check(nkiGetOwnerPublicKey(a.context, keyA, 0) == NKI_OK);
        Check(nkiGetOwnerPublicKey(b.context, keyB, 0) == NKI_OK);
        uint32_t length = 0;
        Check(nkiGetCryptoParams(a.context, 255, &paramsA, &length) == NKI_OK);
        Check(nkiGetCryptoParams(b.context, 255, &paramsB, &length) == NKI_OK);
        EccInit(&curve, nullptr, nullptr);
        Check(EccSetStdCurve(&curve, 191, 0) != 0);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    static Pair *p = [] {
        testpcsc::Reset();
        return new Pair;
    }();
    fuzz::Input in(data, size);
    const uint8_t mode = in.Byte();
    const std::vector<uint8_t> token = in.Fixed(80);
    const std::vector<uint8_t> peer = in.Fixed(48);
    const bool compressed = mode & 0x10;
    uint8_t key[32], marker[32];
    std::memset(marker, 0xC3, sizeof marker);
    std::memcpy(key, marker, sizeof key);
    uint32_t rc = 0;
    switch (mode % 5) {
        case 0: rc = nkiSetSessionKeyEx(p->b.context, key, 1, p->keyA, 0, &p->paramsA, token.data()); break;
        case 1: rc = nkiSetSessionKeyMac(p->b.context, key, 1, token.data()); break;
        case 2: rc = nkiGetSessionKey(p->b.context, key, p->keyA, token.data(), nullptr); break;
        case 3: rc = nkiSetSessionKeyEx(p->b.context, key, 1, peer.data(), compressed, &p->paramsA, token.data()); break;
        case 4: {
            std::vector<uint8_t> out(76);
            rc = compressed ? nkiGetSessionKeyMac(p->a.context, key, 1, peer.data(), 1, &p->paramsB, out.data())
                            : nkiGetSessionKeyEx(p->a.context, key, 1, peer.data(), 0, &p->paramsB, out.data());
            if (rc == NKI_OK) {
                // Sent only to a point of order n.
                TEcPoint q;
                uint32_t x[ECC_WORDS];
                EccBaseFromArrayLSB(&p->curve, peer.data(), 24, x);
                if (compressed) {
                    EccExpandPoint(&p->curve, x, &q);
                } else {
                    std::memcpy(q.x, x, sizeof x);
                    EccBaseFromArrayLSB(&p->curve, peer.data() + 24, 24, q.y);
                }
                Check(EccVerifyPublicKey(&p->curve, &q) != 0);
            }
            break;
        }
    }
    if (rc != NKI_OK) Check(std::memcmp(key, marker, sizeof key) == 0);
    return 0;
}
