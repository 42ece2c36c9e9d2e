// The token's vendor control requests: control code 0x3136B0 with 4 input bytes,
// the low three bytes a reader request code and the top byte 0x7A.
//   0C A0 31 7A  reader information: 16 bytes (version minor, major, then the
//                reader kind "ReaderA12", zero padded)
//   14 A0 31 7A  restart into the boot loader: answers no data, then the token
//                leaves its reader function
// Anything else is refused.
#include <algorithm>

#include "vtoken.h"

namespace vtoken {

bool Token::Control(uint32_t code, const Bytes &input, Bytes &out) {
    static const Bytes kInfo = {0x0C, 0xA0, 0x31, 0x7A};
    static const Bytes kStartBootLoader = {0x14, 0xA0, 0x31, 0x7A};
    out.clear();
    if (mode_ != Mode::Reader || code != kVendorControlCode) return false;
    if (std::find(refusedControls_.begin(), refusedControls_.end(), input) != refusedControls_.end()) return false;
    if (input == kInfo) {
        out = {0x00, 0x01, 'R', 'e', 'a', 'd', 'e', 'r', 'A', '1', '2', 0, 0, 0, 0, 0};
        return true;
    }
    if (input == kStartBootLoader) {
        EndCardSession();
        mode_ = Mode::BootLoader;
        return true;
    }
    return false;
}

void Token::LeaveBootLoader() {
    EndCardSession();
    mode_ = Mode::Reader;
}

}  // namespace vtoken
