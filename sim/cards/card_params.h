// The container card's derived values, computed the card issuer's way: the card
// value stored as reference 5 for a PIN, and the parameter record (file 5).
#pragma once

#include <cstdint>
#include <vector>

namespace vcards {

// The first 8 bytes of GOST 34.311 (default table) of the 8 PIN bytes under the
// family's card-value start vector.
void CardValueOf(const uint8_t *pin8, uint8_t *value8);

// The 366-byte parameter record of the standard 191-bit curve: a non-zero first
// word, m and the middle exponents, a, then b, n and the base point as 64-byte
// little-endian elements, a zero hash start vector and the Uz34311 table.
std::vector<uint8_t> ParameterRecord();

}  // namespace vcards
