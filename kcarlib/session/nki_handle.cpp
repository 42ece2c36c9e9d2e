#include "session/nki_handle.h"

#include <cstring>

#include "session/handle_registry.h"
#include "crypto/secure_wipe.h"
#include "carriers/carrier.h"

namespace kcar {

// The generator's callback reaches a context's random bits through this hook; the
// pointer is checked against the live contexts before it is used.
int NkiContextRandomBit(void *context) noexcept {
    TNkiHandle *h = FindHandle(context);
    return h != nullptr ? h->GetRandomBit() : 0;
}

TNkiHandle::TNkiHandle() {
    HashInit(&Hash, nullptr, nullptr);
    HashInit(&DsHash, nullptr, nullptr);
}

TNkiHandle::~TNkiHandle() {
    if (Carrier != nullptr) {
        Carrier->Close();
        delete Carrier;
        Carrier = nullptr;
    }
    if (RngReady) {
        MagmaRngDone(&Rng);
        RngReady = 0;
    }
    DropCertStore();
    HashDone(&Hash);
    HashDone(&DsHash);
    MagmaDone(&Cipher);
    EccDone(&Curve);
    EccDone(&DsCurve);
    SecureWipeObject(Rng);
    SecureWipe(SymmKey, sizeof SymmKey);
    SecureWipe(RngKey, sizeof RngKey);
    Magic = 0;
}

int TNkiHandle::GetRandomBit() { return RngReady ? MagmaRngNextBit(&Rng) : 0; }

void WordsFromBytes(const uint8_t *bytes, std::size_t count, uint32_t *words) {
    std::memset(words, 0, ECC_WORDS * sizeof(uint32_t));
    for (std::size_t i = 0; i < count && i < ECC_WORDS * 4; ++i) words[i / 4] |= uint32_t(bytes[i]) << (8 * (i % 4));
}

void BytesFromWords(const uint32_t *words, uint8_t *bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = i < ECC_WORDS * 4 ? static_cast<uint8_t>(words[i / 4] >> (8 * (i % 4))) : 0;
}

bool CurveFromParams(TEcc &curve, const tagTECParams &params, bool withBasePoint, TEccRandFunc rand, void *ctx) {
    EccInit(&curve, rand, ctx);
    if (!EccSetBaseField(&curve, static_cast<int32_t>(params.m), static_cast<int32_t>(params.k1),
                         static_cast<int32_t>(params.k2), static_cast<int32_t>(params.k3)))
        return false;
    const std::size_t L = (params.m + 7) / 8;
    uint32_t b[ECC_WORDS], n[ECC_WORDS];
    EccBaseFromArrayLSB(&curve, params.B, static_cast<int64_t>(L), b);
    EccIntFromArrayLSB(&curve, params.N, static_cast<int64_t>(L), n);
    if (!EccSetCurve(&curve, static_cast<int32_t>(params.A), b, n)) return false;
    if (!withBasePoint) return true;
    TEcPoint p;
    EccBaseFromArrayLSB(&curve, params.Px, static_cast<int64_t>(L), p.x);
    EccBaseFromArrayLSB(&curve, params.Py, static_cast<int64_t>(L), p.y);
    // Setting a base point only checks its range; a point off the curve, or not of
    // order n, would make every signature and key agreement on it meaningless.
    return EccSetBasePoint(&curve, &p) != 0 && EccVerifyBasePoint(&curve) != 0;
}

}  // namespace kcar
