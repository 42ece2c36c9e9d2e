// Everything a simulated token keeps across power cycles and restarts: serial
// number, reference data (PINs) with their retry counters, key slots, the
// document stamp counter and the transparent files of the application DF 42.
//
// The state file is text, one "name = value" per line, byte strings in hex:
//
//   nki-vtoken-state 1
//   serial = 0000A1B2C3D4E5F6
//   ref5 = 3132333435363738 10 10          (value, attempts left, attempts allowed)
//   ref6 = 3837363534333231 10 10
//   stamps = 0
//   key1 = empty | ready D X Y | pending D X Y   (D, X, Y: 24 bytes, MSB first)
//   file 0004 = ...
//   end
//
// It holds the private keys in clear: it is a development aid, not a safe store.
// Saving writes a temporary file in the same folder (PATH.XXXXXX), flushes it to
// disk and renames it over the old one, so a crash leaves either the old or the
// new state. A file that lacks its end line, or any of serial, ref5, ref6, stamps,
// key1 and the files 0004 and 0005, is refused rather than loaded with parts
// missing.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vtoken {

using Bytes = std::vector<uint8_t>;

inline constexpr uint16_t kStatusFile = 0x0004;
inline constexpr uint16_t kCurveFile = 0x0005;
inline constexpr uint16_t kKeyFile = 0x0009;
inline constexpr uint16_t kInfoFile = 0x000A;
inline constexpr uint16_t kFirstContainer = 0x0201;

struct RefData {
    std::array<uint8_t, 8> value{};   // the PIN block as VERIFY sends it: zero padded
    uint8_t triesLeft = 10;
    uint8_t triesMax = 10;
};

enum class KeyState : uint8_t { Empty, Ready, Pending };

struct KeySlot {
    KeyState state = KeyState::Empty;
    std::array<uint8_t, 24> d{};      // private key, most significant byte first
    std::array<uint8_t, 48> pub{};    // public key x then y, most significant byte first
};

struct State {
    std::array<uint8_t, 8> serial{};
    RefData ref5, ref6;
    std::vector<KeySlot> keys;        // slot n is keys[n - 1]
    uint32_t stamps = 0;              // document signatures made, part of every stamp
    std::map<uint16_t, Bytes> files;  // transparent EFs by identifier; size = content size
};

// What a fresh token is made of.
struct TokenOptions {
    std::string pin = "12345678";     // reference 5, 1 to 8 bytes
    std::string ref6 = "87654321";    // reference 6
    std::array<uint8_t, 8> serial{};  // all zero: a random serial is drawn
    std::vector<uint32_t> containerSizes{4096, 8192, 1024};  // files 0201, 0202, ...; 0 = absent
    int keySlots = 2;
    std::string version = "nki-vtoken 1.0";
};

// The PIN block of a PIN text: its bytes, zero padded to 8. False when the text
// is empty or longer than 8 bytes.
bool PinBlock(const std::string &pin, std::array<uint8_t, 8> &block);

// A fresh token: no keys, default reference data, status file, curve record,
// files 000A and the containers. False with a message when an option is unusable.
bool MakeState(const TokenOptions &options, State &state, std::string &error);

std::string Serialize(const State &state);
bool Parse(const std::string &text, State &state, std::string &error);

// Loads path into state. Returns 1 when loaded, 0 when the file does not exist,
// -1 when it cannot be read or parsed (error says why). First removes the
// temporary files that a save killed before its rename left beside path: they
// hold PINs and keys in clear.
int LoadStateFile(const std::string &path, State &state, std::string &error);
// Removes those temporary files (PATH. and six letters or digits).
void RemoveStaleTemporaries(const std::string &path);
// Atomic replacement of path by the serialized state (mode 0600).
bool SaveStateFile(const std::string &path, const State &state, std::string &error);

// Random bytes from the system.
void RandomBytes(uint8_t *out, std::size_t n);

}  // namespace vtoken
