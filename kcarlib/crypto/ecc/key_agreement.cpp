// Elliptic-curve key agreement: Z = e*Q = d*R, and two 256-bit keys, each the
// GOST 34.311 hash of a block holding the x-coordinate of Z (least significant
// byte first, zero-padded) and a tag byte 0 or 1 in its last byte. The block is
// (m + 7) / 8 + 1 bytes rounded up to a multiple of 32.
#include <cstring>

#include "crypto/ecc/ecc_internal.h"
#include "crypto/secure_wipe.h"

namespace kcar::ecc {

int64_t KeyBlockLength(const TEcc *ecc) { return (FieldBytes(ecc) + 1 + 31) / 32 * 32; }

namespace {

void ecdhMakeKey(TEcDHKD *kd, const TEcPoint *z, uint8_t tag, uint8_t *out) {
    uint8_t block[96] = {};
    const int64_t len = KeyBlockLength(&kd->Ecc);
    CvBase2Mem(z->x, block, FieldBytes(&kd->Ecc));
    block[len - 1] = tag;
    HashClear(&kd->Hash);
    HashUpdate(&kd->Hash, block, static_cast<uint32_t>(len));
    HashFinal(&kd->Hash, out);
    // Drop the state that came from Z; the table and start vector stay.
    HashClear(&kd->Hash);
    SecureWipe(kd->Hash.Block, sizeof kd->Hash.Block);
    SecureWipe(block, sizeof block);
}

void MakeKeys(TEcDHKD *kd, const TEcPoint *z, uint8_t *key0, uint8_t *key1) {
    ecdhMakeKey(kd, z, 0, key0);
    ecdhMakeKey(kd, z, 1, key1);
}

}  // namespace

}  // namespace kcar::ecc

using namespace kcar::ecc;

extern "C" {

KCARLIB_API int32_t EcdhInitAll(TEcDHKD *kd, int32_t m, int32_t k1, int32_t k2, int32_t k3, int32_t a,
                                const uint32_t *b, const uint32_t *n, const TEcPoint *p,
                                const void *sbox64, const void *iv32, TEccRandFunc rand_func,
                                void *rand_ctx) {
    EccInit(&kd->Ecc, rand_func, rand_ctx);
    if (!EccSetBaseField(&kd->Ecc, m, k1, k2, k3) || !EccSetCurve(&kd->Ecc, a, b, n) ||
        !EccSetBasePoint(&kd->Ecc, p))
        return 0;
    HashInit(&kd->Hash, sbox64, iv32);
    return 1;
}

KCARLIB_API int32_t EcdhInitStd(TEcDHKD *kd, int32_t m, int32_t onb, const TEcPoint *p,
                                const void *sbox64, const void *iv32, TEccRandFunc rand_func,
                                void *rand_ctx) {
    EccInit(&kd->Ecc, rand_func, rand_ctx);
    if (!EccSetStdCurve(&kd->Ecc, m, onb) || !EccSetBasePoint(&kd->Ecc, p)) return 0;
    HashInit(&kd->Hash, sbox64, iv32);
    return 1;
}

KCARLIB_API int32_t EcdhInitTpl(TEcDHKD *kd, const TEcc *tpl, const void *sbox64) {
    // A template whose base point was never set (or was cleared by a later curve)
    // may still hold a stale P; it must not be taken as a base point.
    if (!tpl->BasePointSet) {
        EccInit(&kd->Ecc, tpl->RandFunc, tpl->RandCtx);
        return 0;
    }
    TEcc t;
    std::memcpy(&t, tpl, sizeof t);  // tpl may lie inside kd
    const int32_t ok = EcdhInitAll(kd, static_cast<int32_t>(t.M), static_cast<int32_t>(t.K1),
                                   static_cast<int32_t>(t.K2), static_cast<int32_t>(t.K3), t.A, t.B, t.N,
                                   &t.P, sbox64, nullptr, t.RandFunc, t.RandCtx);
    kcar::SecureWipe(&t, sizeof t);
    return ok;
}

KCARLIB_API void EcdhDone(TEcDHKD *kd) {
    EccDone(&kd->Ecc);
    HashDone(&kd->Hash);
}

KCARLIB_API int32_t EcdhDeriveKeySend(TEcDHKD *kd, const TEcPoint *q, uint8_t *key0, uint8_t *key1,
                                      TEcPoint *ephemeral) {
    const TEcc *ecc = &kd->Ecc;
    // Keys from a point off the curve would not be shared with anyone, and a point
    // of small or mixed order gives Z in a small subgroup: keys anyone can compute.
    if (ecc->M == 0 || !EccVerifyPublicKey(ecc, q)) return 0;
    uint32_t e[kWords];
    if (!EccGeneratePrivateKey(ecc, e)) return 0;
    TEcPoint r, z;
    EccScalarMul(ecc, e, &ecc->P, &r);
    EccScalarMul(ecc, e, q, &z);
    kcar::SecureWipe(e, sizeof e);
    if (EccPointIsInfinity(&z)) {
        kcar::SecureWipe(&z, sizeof z);
        return 0;
    }
    MakeKeys(kd, &z, key0, key1);
    PointCopy(&r, ephemeral);
    kcar::SecureWipe(&z, sizeof z);
    return 1;
}

KCARLIB_API int32_t EcdhDeriveKeyReceive(TEcDHKD *kd, const TEcPoint *r, const uint32_t *d, uint8_t *key0,
                                         uint8_t *key1) {
    const TEcc *ecc = &kd->Ecc;
    if (!EccVerifyPublicKey(ecc, r)) return 0;
    TEcPoint z;
    EccScalarMul(ecc, d, r, &z);
    // d = 0 or a multiple of n: no shared secret.
    if (EccPointIsInfinity(&z)) return 0;
    MakeKeys(kd, &z, key0, key1);
    kcar::SecureWipe(&z, sizeof z);
    return 1;
}

}  // extern "C"
