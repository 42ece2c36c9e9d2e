// What a simulated container card or protected data card keeps across power
// cycles and restarts: its kind, serial number, reference data with retry
// counters, signature counter and files (content and access conditions).
//
// The state file is text, one "name = value" per line, byte strings in hex:
//
//   nki-vcarrier-state 1
//   kind = container | protected
//   serial = 0000A1B2C3D4E5F6
//   ref5 = 0123456789ABCDEF 10 10        (value, attempts left, attempts allowed)
//   signatures = 0
//   file 0201 00 05 = ...                 (identifier, read and write condition, content)
//
// Saving writes a temporary file beside the old one (mode 0600), flushes it,
// renames it over the old one and flushes the folder.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vcards {

using Bytes = std::vector<uint8_t>;

enum class Kind { Container, Protected };

// Access conditions of a file: 00 always, 05 after the PIN, 80 through the
// secure channel only (reads wrapped, writes while the channel is up), FF never.
inline constexpr uint8_t kAcAlways = 0x00, kAcPin = 0x05, kAcChannel = 0x80, kAcNever = 0xFF;

struct CardFile {
    uint8_t readAc = kAcAlways;
    uint8_t writeAc = kAcNever;
    Bytes data;
};

struct Ref {
    std::array<uint8_t, 8> value{};
    uint8_t triesLeft = 10;
    uint8_t triesMax = 10;
};

struct CardState {
    Kind kind = Kind::Container;
    std::array<uint8_t, 8> serial{};
    std::map<uint8_t, Ref> refs;       // 5: PIN (or the container card's card value), 6: PUK
    uint32_t signatures = 0;           // container card: host signatures counted
    std::map<uint16_t, CardFile> files;
};

struct CardOptions {
    Kind kind = Kind::Container;
    std::string pin = "12345678";
    std::string puk = "87654321";
    std::array<uint8_t, 8> serial{};   // all zero: random
    uint32_t userFileSize = 1024;      // file 0201
    uint32_t certFileSize = 4096;      // container card: file 0202
    bool carryParameters = true;       // container card: file 5 holds the curve
    bool userFileNeedsChannel = true;  // protected card: file 0201 access 80 80
    bool channel = true;               // protected card: offers the secure channel
    std::string version = "nki-vcarrier 1.0";
};

bool MakeState(const CardOptions &options, CardState &state, std::string &error);
std::string Serialize(const CardState &state);
bool Parse(const std::string &text, CardState &state, std::string &error);
// 1 loaded, 0 no such file, -1 unreadable or malformed.
int LoadStateFile(const std::string &path, CardState &state, std::string &error);
bool SaveStateFile(const std::string &path, const CardState &state, std::string &error);

void RandomBytes(uint8_t *out, std::size_t n);

}  // namespace vcards
