// The simulated boot loader of the token: what the token runs after its restart
// into boot-loader mode. It takes the 292-byte request records of device I/O
// control 0x222010, descrambles and checks each 131-byte block record, and
// gathers the firmware image; the final command 0x81 stores the image.
//
// Answers (in the record's result field): 0x90 accepted; 2 the block arrived
// damaged (CRC mismatch), send it again; 0x67 wrong data length; 0x6A block out
// of order; 0x6D unknown command; 0x69 final command before every block arrived
// (nothing is stored, the blocks received so far are kept); 0x65 the image could
// not be stored. A block already accepted may come again unchanged (0x90).
//
// Storing replaces the image file atomically (temporary file, flush, rename), so
// the file holds the old firmware or the new, never a mixture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bootsim {

using Bytes = std::vector<uint8_t>;

inline constexpr uint32_t kIoctl = 0x222010;
inline constexpr std::size_t kRecordSize = 292;

// Fault options; a block index of -1 leaves the fault out.
struct Faults {
    int resendBlock = -1;    // answer 2 to this block ...
    int resendTimes = 0;     // ... this many times before checking it
    int refuseBlock = -1;    // answer refuseResult to this block
    uint32_t refuseResult = 0x6F;
    int garbleBlock = -1;    // the first record of this block arrives with a bit flipped
    int failBlock = -1;      // the I/O control carrying this block fails (request not sent)
};

class BootLoader {
public:
    // imagePath: where the final command stores the image of imageSize bytes.
    explicit BootLoader(std::string imagePath, std::size_t imageSize = 6140);

    void SetFaults(const Faults &faults) { faults_ = faults; }
    // Handles one device I/O control. False when the control fails as a whole
    // (unknown code, wrong size, an injected failure); the record is then unchanged.
    bool Control(uint32_t code, uint8_t *record, std::size_t size);

    // Every request record as it arrived, in order (before the answer was set).
    const std::vector<Bytes> &Received() const { return received_; }
    // True once the final command stored a complete image.
    bool Stored() const { return stored_; }
    // Back to the start of a transfer (after the token restarted).
    void Restart();

private:
    uint32_t Block(const uint8_t *data, uint32_t length);
    uint32_t Finish();

    std::string imagePath_;
    std::size_t imageSize_;
    std::size_t blocks_;
    Faults faults_;
    Bytes image_;
    std::size_t next_ = 0;     // index of the next block expected
    std::vector<int> seen_;    // records seen per block index
    std::vector<Bytes> received_;
    bool stored_ = false;
};

// The boot loader's own CRC-16 (polynomial 0x1021, start 0xFFFF, no reflection,
// no final XOR) and descrambler, kept apart from the tool's so that each checks
// the other.
uint16_t BootCrc16(const uint8_t *data, std::size_t length);
void Descramble(uint8_t index, uint8_t *data, std::size_t length);

}  // namespace bootsim
