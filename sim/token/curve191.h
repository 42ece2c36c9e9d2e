// The token's curve: DSTU 4145-2002 over GF(2^191) with the field polynomial
// x^191 + x^9 + 1, a = 1, the standard b and order n, and the published base
// point of that curve. Hexadecimal texts are most significant digit first.
#pragma once

#include <cstdint>
#include <vector>

namespace vtoken {

inline constexpr int kFieldDegree = 191;
inline constexpr int kElementBytes = 24;
inline constexpr int kSignatureBytes = 48;
inline constexpr int kCurveRecordSize = 204;

inline constexpr const char *kCurveB = "7BC86E2102902EC4D5890E8B6B4981FF27E0482750FEFC03";
// The square root of b in the field: the curve record stores b in this form.
inline constexpr const char *kCurveBRoot = "7A7418788A3B728F5C250FEE96220B3BB64FC8F4BC2232C1";
inline constexpr const char *kCurveN = "40000000000000000000000069A779CAC1DABC6788F7474F";
inline constexpr const char *kCurvePx = "714114B762F2FF4A7912A6D2AC58B9B5C2FCFE76DAEB7129";
inline constexpr const char *kCurvePy = "29C41E568B77C617EFE5902F11DB96FA9613CD8D03DB08DA";

// Packed GOST 28147-89 substitution table of the token's hash: the Ukrainian
// long-term key element DKE No. 1.
extern const uint8_t kDke1Sbox[64];

// Record offsets of the curve record (file 0005).
namespace rec {
inline constexpr int kDegree = 0;     // m
inline constexpr int kA = 1;          // bit 0: a
inline constexpr int kFormat = 7;     // 2
inline constexpr int kVersion = 8;    // 1
inline constexpr int kBRoot = 10;     // most significant byte first
inline constexpr int kN = 34;         // least significant byte first
inline constexpr int kPx = 58;        // most significant byte first
inline constexpr int kPy = 82;        // most significant byte first
inline constexpr int kIv = 106;       // hash start vector, 32 bytes
inline constexpr int kSbox = 138;     // packed substitution table, 64 bytes
}  // namespace rec

// The 204-byte curve record of a fresh token: the curve above, a zero hash start
// vector and the DKE No. 1 table.
std::vector<uint8_t> CurveRecord();

// Parses kElementBytes bytes of a hexadecimal constant, most significant first.
std::vector<uint8_t> HexMsb(const char *text);

}  // namespace vtoken
