// The certificate container as bytes on the token: reading a store out of it,
// building the container image of a store, and the order in which a new image is
// written over an old one.
//
// Container forms (told apart by the top four bits of the first little-endian
// 32-bit word):
//   packed  L & 0xFF, L >> 8, 0x00, 0xB0, then L bytes of coded store without its
//           final 0 header (see cert_packing.h)
//   plain   the store itself, records and the final 0 header
// A container of zero bytes is a plain, empty store.
//
// Writing order. The token writes a container in pieces of kPiece bytes, each
// applied whole or not at all, so a write cut short (card pulled, token
// restarted) leaves a mixture of old and new pieces. PlanContainerWrite skips the
// pieces that already hold the right bytes and chooses, among a few orders, the one
// whose intermediate mixtures read back as the old or the new store most often
// (it reads every mixture back with ReadCertContainer). The pieces beyond the old
// data always go first, so a store that grows past the old one's end only opens
// its window at the last pieces; which order wins for the rest depends on the two
// images.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kcar {

// Reads the store held by a container of size bytes into store (records and the
// final 0 header). 0, or 114 when the container holds no readable store (unknown
// form, packed data without its end item, records that run past the container or
// do not end where the packed data does).
uint32_t ReadCertContainer(const uint8_t *raw, std::size_t size, std::vector<uint8_t> &store);

// The container image of a complete store (size >= 4, ending with its 0 header):
// packed when that fits the container, else plain. 0, or 144 when neither fits
// (or the store exceeds the packing work area of 12 x container bytes).
uint32_t BuildCertContainer(const uint8_t *store, std::size_t size, std::size_t containerSize,
                            std::vector<uint8_t> &image);

struct TContainerPiece {
    uint32_t offset;
    uint32_t length;
};

// The pieces of image to write, in order, over a container that now holds old
// (the whole container; empty when its content is not known, then every piece of
// image is written and the one at offset 0 last).
std::vector<TContainerPiece> PlanContainerWrite(const std::vector<uint8_t> &old, const std::vector<uint8_t> &image,
                                                std::size_t piece);

}  // namespace kcar
