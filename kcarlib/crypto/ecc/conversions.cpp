// Conversions between 16-word numbers (little-endian 32-bit words) and byte arrays,
// hexadecimal text and hash values. At most 64 bytes (512 bits) of a buffer count.
#include <cstring>

#include "crypto/ecc/ecc_internal.h"

namespace kcar::ecc {

namespace {

constexpr char kHexConversionTab[] = "0123456789ABCDEF";
constexpr int64_t kMaxBytes = 4 * kWords;

int64_t CountedBytes(int64_t count) { return count < 0 ? 0 : (count > kMaxBytes ? kMaxBytes : count); }

uint8_t ByteOf(const uint32_t *words, int64_t i) {
    return static_cast<uint8_t>(words[i / 4] >> (8 * (i % 4)));
}

void FromString(const char *text, uint32_t *out) {
    std::memset(out, 0, sizeof(uint32_t) * kWords);
    const size_t len = std::strlen(text);
    // Only the last 128 digits fit; longer text must not run past the value.
    for (size_t i = 0; i < len && i < 8 * kWords; ++i) {
        const uint32_t d = static_cast<uint32_t>(ConvertHexToInt(text[len - 1 - i])) & 0xF;
        out[i / 8] |= d << (4 * (i % 8));
    }
}

void ToString(const TEcc *ecc, const uint32_t *a, char *text) {
    const int digits = 2 * FieldBytes(ecc);
    for (int i = 0; i < digits && i < 8 * kWords; ++i)
        text[digits - 1 - i] = kHexConversionTab[(a[i / 8] >> (4 * (i % 8))) & 0xF];
    text[digits] = '\0';
}

void FromArrayLSB(const uint8_t *bytes, int64_t count, uint32_t *out) { CvMem2Base(bytes, out, count); }

void FromArrayMSB(const uint8_t *bytes, int64_t count, uint32_t *out) {
    std::memset(out, 0, sizeof(uint32_t) * kWords);
    const int64_t n = CountedBytes(count);
    for (int64_t i = 0; i < n; ++i)
        out[i / 4] |= static_cast<uint32_t>(bytes[count - 1 - i]) << (8 * (i % 4));
}

void ToArrayLSB(const uint32_t *a, uint8_t *bytes, int64_t count) {
    if (count <= 0) return;
    std::memset(bytes, 0, static_cast<size_t>(count));
    CvBase2Mem(a, bytes, count);
}

void ToArrayMSB(const uint32_t *a, uint8_t *bytes, int64_t count) {
    if (count <= 0) return;
    std::memset(bytes, 0, static_cast<size_t>(count));
    const int64_t n = CountedBytes(count);
    for (int64_t i = 0; i < n; ++i) bytes[count - 1 - i] = ByteOf(a, i);
}

}  // namespace

int ConvertHexToInt(char c) {
    int v = (static_cast<unsigned char>(c) | 0x20) - 0x30;
    if (v > 9) v -= 39;
    return v;
}

void CvBase2Mem(const uint32_t *words, uint8_t *bytes, int64_t count) {
    const int64_t n = CountedBytes(count);
    for (int64_t i = 0; i < n; ++i) bytes[i] = ByteOf(words, i);
}

void CvMem2Base(const uint8_t *bytes, uint32_t *words, int64_t count) {
    std::memset(words, 0, sizeof(uint32_t) * kWords);
    const int64_t n = CountedBytes(count);
    for (int64_t i = 0; i < n; ++i) words[i / 4] |= static_cast<uint32_t>(bytes[i]) << (8 * (i % 4));
}

void CvHash2Base(const TEcc *ecc, const uint8_t *hash, uint32_t *out) {
    const int64_t n = 4 * ecc->Words < 32 ? 4 * ecc->Words : 32;
    CvMem2Base(hash, out, n);
    const int m = static_cast<int>(ecc->M);
    for (int i = m; i < 32 * kWords; ++i) out[i / 32] &= ~(1u << (i % 32));
    if (BaseIsZero(out)) BaseSetOne(ecc, out);
}

void CvBase2Int(const TEcc *ecc, const uint32_t *a, uint32_t *out) {
    IntCopy(a, out);
    const int top = IntDegree(ecc->N);
    for (int i = top; i < 32 * kWords; ++i) out[i / 32] &= ~(1u << (i % 32));
}

}  // namespace kcar::ecc

using namespace kcar::ecc;

extern "C" {

KCARLIB_API void EccBaseFromString(const TEcc *, const char *text, uint32_t *out) { FromString(text, out); }
KCARLIB_API void EccIntFromString(const TEcc *, const char *text, uint32_t *out) { FromString(text, out); }
KCARLIB_API void EccBaseToString(const TEcc *ecc, const uint32_t *a, char *text) { ToString(ecc, a, text); }
KCARLIB_API void EccIntToString(const TEcc *ecc, const uint32_t *a, char *text) { ToString(ecc, a, text); }

KCARLIB_API void EccBaseFromArrayMSB(const TEcc *, const uint8_t *bytes, int64_t count, uint32_t *out) {
    FromArrayMSB(bytes, count, out);
}
KCARLIB_API void EccIntFromArrayMSB(const TEcc *, const uint8_t *bytes, int64_t count, uint32_t *out) {
    FromArrayMSB(bytes, count, out);
}
KCARLIB_API void EccBaseFromArrayLSB(const TEcc *, const uint8_t *bytes, int64_t count, uint32_t *out) {
    FromArrayLSB(bytes, count, out);
}
KCARLIB_API void EccIntFromArrayLSB(const TEcc *, const uint8_t *bytes, int64_t count, uint32_t *out) {
    FromArrayLSB(bytes, count, out);
}
KCARLIB_API void EccBaseToArrayMSB(const TEcc *, const uint32_t *a, uint8_t *bytes, int64_t count) {
    ToArrayMSB(a, bytes, count);
}
KCARLIB_API void EccIntToArrayMSB(const TEcc *, const uint32_t *a, uint8_t *bytes, int64_t count) {
    ToArrayMSB(a, bytes, count);
}
KCARLIB_API void EccBaseToArrayLSB(const TEcc *, const uint32_t *a, uint8_t *bytes, int64_t count) {
    ToArrayLSB(a, bytes, count);
}
KCARLIB_API void EccIntToArrayLSB(const TEcc *, const uint32_t *a, uint8_t *bytes, int64_t count) {
    ToArrayLSB(a, bytes, count);
}

}  // extern "C"
