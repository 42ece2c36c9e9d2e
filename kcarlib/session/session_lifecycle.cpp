// Session lifecycle, token information, random data, public keys, key pairs, PIN
// fronts and I/O control.
#include <cstring>
#include <ctime>
#include <new>

#include "token/pcsc_enum.h"
#include "crypto/secure_wipe.h"
#include "session/nki_handle.h"
#include "carriers/carrier.h"

namespace kcar {
namespace {

// A public key as the token answers it: x then y, 64 bytes each, least significant first.
void PointFromToken(const uint8_t *point128, TEcPoint &p) {
    WordsFromBytes(point128, 64, p.x);
    WordsFromBytes(point128 + 64, 64, p.y);
}

}  // namespace

uint32_t TNkiHandle::CloseOnFailure(uint32_t code) {
    CloseSession();
    return code;
}

uint32_t TNkiHandle::OpenSession(const char *readerName, const void *key, uint8_t deviceType) {
    char chosen[kAutoReaderNameCapacity];
    if (deviceType != kDeviceKeyFile && (readerName == nullptr || readerName[0] == '\0')) {
        if (!PcscEnumDevices(1, true, chosen, sizeof chosen) || chosen[0] == '\0') return NKI_E_NOT_CONNECTED;
        readerName = chosen;
    }
    // A store cached from an earlier carrier never reaches this one.
    DropCertStore();

    Carrier = MakeCarrier(deviceType, Build);
    if (Carrier == nullptr) return NKI_E_UNSUPPORTED_NKI;
    uint32_t rc = Carrier->Open(readerName, key);
    if (rc != NKI_OK) {
        delete Carrier;
        Carrier = nullptr;
        return rc;
    }

    rc = Carrier->GetSerial(Serial);
    if (rc == NKI_OK) rc = Carrier->GetCurveParams(Params);
    if (rc != NKI_OK) return CloseOnFailure(rc);
    ElementSize = (Params.m + 7) / 8;

    uint8_t point[kPointSize];
    if (Carrier->GetPublicKey(1, point) == NKI_OK) {
        PointFromToken(point, OwnerKey);
        State |= OwnerKeyLoaded;
    }
    if (Carrier->GetPublicKey(2, point) == NKI_OK) {
        PointFromToken(point, FutureKey);
        State |= FutureKeyLoaded;
    }

    if (MultiCarrier()) {
        // The generator key comes from the carrier now; the generator itself is
        // made on first use (EnsureRng).
        rc = Carrier->GetRandom(RngKey, sizeof RngKey);
        if (rc != NKI_OK) return CloseOnFailure(rc);
        if (Carrier->Caps() & TCarrier::CapDocumentSignedSk) State |= SkByDocument;
        if (Carrier->PinAcceptedAtOpen()) State |= PinAccepted;
    } else {
        // Seed the context's generator from the carrier and the process clock.
        uint8_t seed[32];
        rc = Carrier->GetRandom(seed, sizeof seed);
        if (rc != NKI_OK) {
            SecureWipe(seed, sizeof seed);
            return CloseOnFailure(rc);
        }
        for (auto &b : seed) b ^= static_cast<uint8_t>(std::clock());
        MagmaRngInit(&Rng, nullptr, nullptr, seed, nullptr);
        SecureWipe(seed, sizeof seed);
        RngReady = 1;
    }

    // The carrier's curve; its elements are already least significant byte first.
    if (!CurveFromParams(Curve, Params, true, nullptr, nullptr)) return CloseOnFailure(NKI_E_UNSUPPORTED_DS);
    SignSize = static_cast<uint64_t>(Curve.SigLen);

    rc = Carrier->GetContainerSize(1, &UserFileSize);
    if (rc == NKI_OK) rc = Carrier->GetContainerSize(2, &CertFileSize);
    if (rc != NKI_OK) return CloseOnFailure(rc);

    State |= SessionOpen;
    return NKI_OK;
}

uint32_t TNkiHandle::EnsureRng() {
    if (RngReady) return NKI_OK;
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    uint8_t seed[8];
    const uint32_t rc = Carrier->GetRandom(seed, sizeof seed);
    if (rc == NKI_OK) {
        MagmaRngInit(&Rng, seed, nullptr, RngKey, nullptr);
        RngReady = 1;
        State |= RngMade;
    }
    SecureWipe(seed, sizeof seed);
    return rc;
}

uint32_t TNkiHandle::CloseSession() {
    if (RngReady) {
        MagmaRngDone(&Rng);
        RngReady = 0;
    }
    if (State & SessionOpen) EccDone(&Curve);
    State &= ~(OwnerKeyLoaded | CaCertLoaded | FutureKeyLoaded | SessionOpen);
    if (MultiCarrier()) {
        // Back to the state of a new context: no key, no work objects, no PIN.
        State &= Created;
        SecureWipe(SymmKey, sizeof SymmKey);
        SecureWipe(RngKey, sizeof RngKey);
        MagmaDone(&Cipher);
        CipherReady = false;
        DsReady = false;
        HashDone(&Hash);
        HashInit(&Hash, nullptr, nullptr);
    }
    // The cached certificate store belongs to this carrier only.
    DropCertStore();
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    const uint32_t rc = Carrier->Close();
    delete Carrier;
    Carrier = nullptr;
    return rc;
}

uint32_t TNkiHandle::IsCardPresent() { return Carrier == nullptr ? NKI_E_CONNECTION_ABORTED : NKI_OK; }

uint32_t TNkiHandle::GetUid(void *uid8) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (uid8 == nullptr) return NKI_E_BAD_ARGUMENTS;
    std::memcpy(uid8, Serial, 8);
    return NKI_OK;
}

uint32_t TNkiHandle::GetInfo(tagTNKIinfo *info) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (info == nullptr) return NKI_E_BAD_ARGUMENTS;
    tagTNKIinfo r{};
    r.Kind = NKI_KIND_ACTIVE_TOKEN;
    std::memcpy(r.Serial, Serial, 8);
    r.Alg[0] = r.Alg[1] = r.Alg[2] = r.Alg[3] = 1;
    r.SessionWord = 1;
    r.Flags = 0x87;
    r.Value16 = 32;
    r.Value20 = 8;
    r.HalfSignSize = static_cast<uint32_t>(SignSize / 2);
    r.PointSize = static_cast<uint32_t>(ElementSize * 2);
    r.Value32 = 8;
    r.Value36 = 32;
    r.Value40 = 32;
    r.SignSize = static_cast<uint32_t>(SignSize);
    std::memcpy(info, &r, sizeof r);
    return NKI_OK;
}

uint32_t TNkiHandle::GetCryptoParams(uint8_t index, void *out, uint32_t *outLength) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (outLength == nullptr) return NKI_E_BAD_ARGUMENTS;
    *outLength = 0;
    const uint32_t L = static_cast<uint32_t>(ElementSize);
    const void *source = nullptr;
    uint32_t length = 0;
    uint8_t compressed[64] = {};
    switch (index) {
        case 0: source = &Params.m; length = 16; break;
        case 1: source = &Params.A; length = 4; break;
        case 2: source = Params.B; length = L; break;
        case 3: source = Params.N; length = L; break;
        case 4: source = Params.Px; length = L; break;
        case 5: source = Params.Py; length = L; break;
        case 6: source = Params.IV; length = 32; break;
        case 7: source = Params.Sbox; length = 64; break;
        case 8: {
            uint32_t x[ECC_WORDS];
            EccShrinkPoint(&Curve, &Curve.P, x);
            BytesFromWords(x, compressed, L);
            source = compressed;
            length = L;
            break;
        }
        case 255: source = &Params; length = sizeof Params; break;
        case 240: return NKI_E_UNSUPPORTED_FUNCTION;
        default: return NKI_E_OUT_OF_RANGE;
    }
    *outLength = length;
    if (out != nullptr) std::memcpy(out, source, length);
    return NKI_OK;
}

uint32_t TNkiHandle::GetRandomBlock(void *out, uint32_t length) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (uint32_t rc = EnsureRng(); rc != NKI_OK) return rc;
    if (length == 0) return NKI_OK;
    if (out == nullptr) return NKI_E_BAD_ARGUMENTS;
    MagmaRngBuf(&Rng, out, length);
    return NKI_OK;
}

void TNkiHandle::StoreEcPoint(const TEcPoint &point, void *out, bool compressed) const {
    auto *bytes = static_cast<uint8_t *>(out);
    if (compressed) {
        uint32_t x[ECC_WORDS];
        EccShrinkPoint(&Curve, &point, x);
        BytesFromWords(x, bytes, ElementSize);
    } else {
        BytesFromWords(point.x, bytes, ElementSize);
        BytesFromWords(point.y, bytes + ElementSize, ElementSize);
    }
}

uint32_t TNkiHandle::GetPublicKey(uint32_t keyNumber, void *key, bool compressed) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    const TEcPoint *point = nullptr;
    if (keyNumber == 1 && (State & OwnerKeyLoaded)) point = &OwnerKey;
    if (keyNumber == 2 && (State & FutureKeyLoaded)) point = &FutureKey;
    if (point == nullptr) return NKI_E_KEY_ABSENT;
    if (key == nullptr) return NKI_E_BAD_ARGUMENTS;
    StoreEcPoint(*point, key, compressed);
    return NKI_OK;
}

uint32_t TNkiHandle::GenerateKeyPair(uint32_t keyNumber) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (keyNumber != 1 && keyNumber != 2) return NKI_E_KEY_ABSENT;
    uint8_t point[kPointSize];
    uint32_t rc = Carrier->GenerateKeyPair(keyNumber, point);
    if (rc != NKI_OK) return rc;
    if (keyNumber == 1) {
        PointFromToken(point, OwnerKey);
        State |= OwnerKeyLoaded;
    } else {
        PointFromToken(point, FutureKey);
        State |= FutureKeyLoaded;
    }
    return NKI_OK;
}

uint32_t TNkiHandle::ActivateFutureKey() {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    uint32_t rc = Carrier->ActivateFutureKey();
    if (rc != NKI_OK) return rc;
    State &= ~FutureKeyLoaded;
    State |= OwnerKeyLoaded;
    OwnerKey = FutureKey;
    return NKI_OK;
}

uint32_t TNkiHandle::IoControl(uint32_t code, const void *in, uint32_t inLength, void *out, uint32_t outCapacity,
                               uint32_t *outLength) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    return Carrier->IoControl(code, static_cast<const uint8_t *>(in), inLength, static_cast<uint8_t *>(out),
                            outCapacity, outLength);
}

uint32_t TNkiHandle::CheckPinEx(const void *pin, int32_t length) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (pin == nullptr && length > 0) return NKI_E_BAD_ARGUMENTS;
    return Carrier->CheckPin(static_cast<const uint8_t *>(pin), length);
}

uint32_t TNkiHandle::ForgetPin() {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    return Carrier->ForgetPin();
}

uint32_t TNkiHandle::ChangePinEx(const void *oldPin, int32_t oldLength, const void *newPin, int32_t newLength,
                                 int32_t mode) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if ((oldPin == nullptr && oldLength > 0) || (newPin == nullptr && newLength > 0)) return NKI_E_BAD_ARGUMENTS;
    return Carrier->ChangePin(static_cast<const uint8_t *>(oldPin), oldLength, static_cast<const uint8_t *>(newPin),
                              newLength, mode);
}

uint32_t TNkiHandle::GetAuthSize(int32_t *challengeLength, uint32_t *responseLength) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (challengeLength == nullptr || responseLength == nullptr) return NKI_E_BAD_ARGUMENTS;
    uint32_t challenge = 0, response = 0;
    const uint32_t rc = Carrier->GetAuthSizes(&challenge, &response);
    if (rc != NKI_OK) return rc;
    *challengeLength = static_cast<int32_t>(challenge);
    *responseLength = response;
    return NKI_OK;
}

uint32_t TNkiHandle::DoAuthentication(const void *challenge, void *response) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (challenge == nullptr || response == nullptr) return NKI_E_BAD_ARGUMENTS;
    return Carrier->Authenticate(static_cast<const uint8_t *>(challenge), static_cast<uint8_t *>(response));
}

}  // namespace kcar
