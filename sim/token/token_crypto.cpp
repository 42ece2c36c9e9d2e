#include "token_crypto.h"

#include <cstring>

#include "curve191.h"
#include "kcarlib/ecc.h"
#include "kcarlib/gost.h"
#include "token_state.h"

namespace vtoken::crypto {

namespace {

// Random bits for the curve code, from the system's generator.
int32_t SystemBit(void *) {
    thread_local uint8_t pool[64];
    thread_local int bitsLeft = 0;
    thread_local int index = 0;
    if (bitsLeft == 0) {
        RandomBytes(pool, sizeof pool);
        bitsLeft = 8 * static_cast<int>(sizeof pool);
        index = 0;
    }
    --bitsLeft;
    int bit = (pool[index / 8] >> (index % 8)) & 1;
    ++index;
    return bit;
}

// The token's curve, set up per operation and wiped afterwards.
class Curve {
public:
    Curve() {
        EccInit(&ecc_, SystemBit, nullptr);
        uint32_t b[ECC_WORDS], n[ECC_WORDS];
        TEcPoint p;
        std::vector<uint8_t> bb = HexMsb(kCurveB), nb = HexMsb(kCurveN), px = HexMsb(kCurvePx), py = HexMsb(kCurvePy);
        EccBaseFromArrayMSB(&ecc_, bb.data(), kElementBytes, b);
        EccIntFromArrayMSB(&ecc_, nb.data(), kElementBytes, n);
        PointClear(&p);
        EccBaseFromArrayMSB(&ecc_, px.data(), kElementBytes, p.x);
        EccBaseFromArrayMSB(&ecc_, py.data(), kElementBytes, p.y);
        ok_ = EccSetBaseField(&ecc_, kFieldDegree, 9, 0, 0) && EccSetCurve(&ecc_, 1, b, n) &&
              EccSetBasePoint(&ecc_, &p);
    }
    ~Curve() { EccDone(&ecc_); }
    Curve(const Curve &) = delete;
    Curve &operator=(const Curve &) = delete;

    bool ok() const { return ok_; }
    const TEcc *get() const { return &ecc_; }

private:
    TEcc ecc_;
    bool ok_ = false;
};

void Wipe(void *p, std::size_t n) {
    volatile uint8_t *v = static_cast<volatile uint8_t *>(p);
    while (n--) *v++ = 0;
}

}  // namespace

bool GenerateKeyPair(Scalar &d, PublicKey &q) {
    Curve c;
    if (!c.ok()) return false;
    uint32_t k[ECC_WORDS] = {};
    TEcPoint pub;
    bool ok = EccGeneratePrivateKey(c.get(), k) && EccCalcPublicKey(c.get(), k, &pub);
    if (ok) {
        EccIntToArrayMSB(c.get(), k, d.data(), kElementBytes);
        EccBaseToArrayMSB(c.get(), pub.x, q.data(), kElementBytes);
        EccBaseToArrayMSB(c.get(), pub.y, q.data() + kElementBytes, kElementBytes);
    }
    Wipe(k, sizeof k);
    return ok;
}

bool SignHash(const Scalar &d, const uint8_t *hash32, uint8_t *signature48) {
    Curve c;
    if (!c.ok()) return false;
    uint32_t k[ECC_WORDS] = {};
    EccIntFromArrayMSB(c.get(), d.data(), kElementBytes, k);
    bool ok = EccSignHash(c.get(), k, hash32, signature48);
    Wipe(k, sizeof k);
    return ok;
}

void Hash(const uint8_t *iv32, const uint8_t *sbox64, const uint8_t *data, std::size_t len, uint8_t *out32) {
    TGostHash h;
    HashInit(&h, sbox64, iv32);
    HashUpdate(&h, data, static_cast<uint32_t>(len));
    HashFinal(&h, out32);
    HashDone(&h);
}

void CompleteHash(const uint8_t *sbox64, const uint8_t *h32, const uint8_t *sum32, uint32_t byteCount,
                  const uint8_t *tail, std::size_t tailLen, uint8_t *out32) {
    TGostHash h;
    HashInit(&h, sbox64, nullptr);
    std::memcpy(h.H, h32, 32);
    std::memcpy(h.Sum, sum32, 32);
    std::memset(h.Length, 0, sizeof h.Length);
    uint64_t bits = static_cast<uint64_t>(byteCount) * 8;
    for (int i = 0; i < 8; ++i) h.Length[i] = static_cast<uint8_t>(bits >> (8 * i));
    h.BlockPos = 0;
    HashUpdate(&h, tail, static_cast<uint32_t>(tailLen));
    HashFinal(&h, out32);
    HashDone(&h);
}

bool WrapKeys(const Scalar &d, const uint8_t *x24, const uint8_t *y24, const uint8_t *sbox64, uint8_t *keys64) {
    Curve c;
    if (!c.ok()) return false;
    TEcPoint r, z;
    PointClear(&r);
    EccBaseFromArrayMSB(c.get(), x24, kElementBytes, r.x);
    EccBaseFromArrayMSB(c.get(), y24, kElementBytes, r.y);
    if (!EccVerifyPublicKey(c.get(), &r)) return false;
    uint32_t k[ECC_WORDS] = {};
    EccIntFromArrayMSB(c.get(), d.data(), kElementBytes, k);
    // Z = d·R; -Z = -d·R has the same x, and only x enters the keys.
    EccScalarMul(c.get(), k, &r, &z);
    uint8_t block[32];
    for (int tag = 0; tag < 2; ++tag) {
        std::memset(block, 0, sizeof block);
        EccBaseToArrayLSB(c.get(), z.x, block, kElementBytes);
        block[31] = static_cast<uint8_t>(tag);
        Hash(nullptr, sbox64, block, sizeof block, keys64 + 32 * tag);
    }
    Wipe(k, sizeof k);
    Wipe(&z, sizeof z);
    Wipe(block, sizeof block);
    return true;
}

}  // namespace vtoken::crypto
