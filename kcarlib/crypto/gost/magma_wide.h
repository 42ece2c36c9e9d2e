// Many independent GOST 28147-89 blocks at once in vector registers
// (magma_wide.cpp), chosen at run time: AVX-512 VBMI, AVX2, or none.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kcarlib/gost.h"

namespace kcar::gost {

// Encrypts (or decrypts) whole groups of blocks from in to out (may be the same
// buffer) with the cipher's key and tables, 32 rounds each, and answers how many
// blocks it did: a multiple of 32 with AVX-512, of 16 with AVX2, 0 without either.
// The caller does the rest with the portable engine.
size_t MagmaWideBlocks(const TGostCipher *c, bool decrypt, const uint8_t *in, uint8_t *out, size_t blocks);

// The best level the processor has: 2 AVX-512 VBMI, 1 AVX2, 0 none.
int MagmaWideLevelsAvailable();
// True when a vector level is in use now.
bool MagmaWideActive();
// Caps the level used (tests and benchmarks); -1 restores the automatic choice.
void MagmaWideForce(int level);
// The path that runs now, for the benchmarks' reports.
const char *MagmaWidePath();

}  // namespace kcar::gost
