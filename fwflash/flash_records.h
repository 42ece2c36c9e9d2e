// The boot loader's transfer format: the 292-byte request record that every
// device I/O control carries, the 131-byte block record, the block scrambler and
// the CRC-16 that protects each block. Platform-free.
//
// Request record (integers little-endian):
//   0 command (0x83 block, 0x81 final)   4 largest reply accepted (250)
//   8 result (0xFF00 sent; the boot loader's answer comes back here)
//  12 data length (131 or 0)  16 reply length (0)  20 reply wanted (1)
//  24 data area, 268 bytes: 266 bytes of 0x37 with the data copied over the
//     start, then two bytes of 0x37 as well.
//
// Block record: byte 0 the block index 0..47, bytes 1..128 the image bytes
// 128 × index … 128 × index + 127 (the last block: 124 bytes and 4 zero bytes),
// scrambled; bytes 129, 130 the CRC-16 of bytes 0..128 as sent, low byte first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace fwflash {

inline constexpr std::size_t kImageSize = 6140;
inline constexpr std::size_t kBlockDataSize = 128;
inline constexpr std::size_t kBlockCount = (kImageSize + kBlockDataSize - 1) / kBlockDataSize;  // 48
inline constexpr std::size_t kBlockRecordSize = 131;
inline constexpr std::size_t kRequestSize = 292;
inline constexpr std::size_t kRequestDataOffset = 24;
inline constexpr std::size_t kRequestDataArea = kRequestSize - kRequestDataOffset;  // 268
inline constexpr std::size_t kRequestFilled = 266;  // bytes of the data area pre-filled with 0x37

inline constexpr uint32_t kBootLoaderIoctl = 0x222010;
inline constexpr uint32_t kCommandBlock = 0x83;
inline constexpr uint32_t kCommandFinish = 0x81;
inline constexpr uint32_t kResultAccepted = 0x90;
inline constexpr uint32_t kResultResend = 2;
inline constexpr uint32_t kResultNotSent = 0xFF00;

inline constexpr uint8_t kScramblerSeed = 0x4E;
inline constexpr uint8_t kScramblerFeedback = 0x9B;

using BlockRecord = std::array<uint8_t, kBlockRecordSize>;
using RequestRecord = std::array<uint8_t, kRequestSize>;

// CRC-16, polynomial 0x1021, initial value 0xFFFF, most significant bit first, no
// reflection, no final XOR: "123456789" gives 0x29B1.
uint16_t Crc16(const uint8_t *data, std::size_t length);

// XORs the 128 data bytes of block index with the block's key stream; applying
// it twice gives the bytes back.
void ScrambleBlock(uint8_t index, uint8_t *data);

// The block record of block index (0..47) of a 6140-byte image.
BlockRecord MakeBlockRecord(const uint8_t *image, std::size_t index);

// A fresh request record for command with length data bytes (at most 266).
RequestRecord MakeRequest(uint32_t command, const uint8_t *data, std::size_t length);

uint32_t GetLe32(const uint8_t *p);
void PutLe32(uint8_t *p, uint32_t v);

}  // namespace fwflash
