#include "carriers/host_keys.h"

#include <cstring>

#include "crypto/secure_wipe.h"
#include "kcarlib/gost.h"

namespace kcar {

CurveParams StandardCurve191() {
    CurveParams c;
    TEcc ecc;
    EccInit(&ecc, nullptr, nullptr);
    int32_t a = 0;
    if (EccSetStdCurve(&ecc, 191, 0)) {
        c.m = 191;
        c.k1 = static_cast<int32_t>(ecc.K1);
        c.k2 = static_cast<int32_t>(ecc.K2);
        c.k3 = static_cast<int32_t>(ecc.K3);
        a = ecc.A;
        std::memcpy(c.b, ecc.B, sizeof c.b);
        std::memcpy(c.n, ecc.N, sizeof c.n);
        // The published base point of this curve.
        EccBaseFromString(&ecc, "714114B762F2FF4A7912A6D2AC58B9B5C2FCFE76DAEB7129", c.p.x);
        EccBaseFromString(&ecc, "29C41E568B77C617EFE5902F11DB96FA9613CD8D03DB08DA", c.p.y);
    }
    c.a = a;
    EccDone(&ecc);
    std::memcpy(c.hashSbox, Uz34311, 64);
    return c;
}

uint32_t SetUpCurve(TEcc &ecc, const CurveParams &params, HostRng *rng) {
    EccInit(&ecc, rng != nullptr ? &HostRng::EccBit : nullptr, rng);
    if (!EccSetBaseField(&ecc, params.m, params.k1, params.k2, params.k3)) return 254;
    if (!EccSetCurve(&ecc, params.a, params.b, params.n)) return 33;
    if (!EccSetBasePoint(&ecc, &params.p) || !EccVerifyBasePoint(&ecc)) return 33;
    return 0;
}

void HostKeys::Wipe() noexcept {
    SecureWipeObject(owner);
    SecureWipeObject(future);
}

bool GenerateKeyPair(const TEcc &ecc, KeySlot &slot) {
    KeySlot fresh;
    bool ok = ecc.RandFunc != nullptr && EccGeneratePrivateKey(&ecc, fresh.d) && EccCalcPublicKey(&ecc, fresh.d, &fresh.q);
    if (ok) slot = fresh;
    SecureWipeObject(fresh);
    return ok;
}

bool PublicFromPrivate(const TEcc &ecc, KeySlot &slot) {
    if (IntIsZero(slot.d) || IntCmp(slot.d, ecc.N) >= 0) return false;
    return EccCalcPublicKey(&ecc, slot.d, &slot.q) != 0;
}

bool SignHashWith(const TEcc &ecc, const uint32_t *d, const uint8_t *hash32, uint8_t *signature) {
    return ecc.RandFunc != nullptr && EccSignHash(&ecc, d, hash32, signature) != 0;
}

bool VerifyHashWith(const TEcc &ecc, const TEcPoint &q, const uint8_t *hash32, const uint8_t *signature) {
    return EccCheckHash(&ecc, &q, hash32, signature, 0) != 0;
}

void HashWith(const CurveParams &params, const uint8_t *data, std::size_t length, uint8_t *hash32) {
    TGostHash h;
    HashInit(&h, params.hashSbox, params.hashIv);
    HashUpdate(&h, data, static_cast<uint32_t>(length));
    HashFinal(&h, hash32);
    HashDone(&h);
}

}  // namespace kcar
