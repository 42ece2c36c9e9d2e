#include "api/capabilities.h"

#include <array>
#include <initializer_list>

namespace kcar {
namespace {

using TSet = std::array<uint8_t, 32>;

struct TRange {
    int first, last;
};

constexpr TSet MakeSet(std::initializer_list<TRange> ranges) {
    TSet set{};
    for (const TRange &r : ranges)
        for (int n = r.first; n <= r.last; ++n) set[n / 8] = static_cast<uint8_t>(set[n / 8] | (1u << (n % 8)));
    return set;
}

constexpr TSet kKeyFile = MakeSet({{1, 1}, {3, 6}, {8, 13}, {15, 24}, {27, 44}, {52, 68}, {75, 90}});
constexpr TSet kContainerCard = MakeSet({{1, 14}, {16, 24}, {27, 44}, {52, 68}, {75, 92}, {200, 200}});
constexpr TSet kActiveToken = MakeSet({{2, 14}, {16, 44}, {52, 92}});
constexpr TSet kType4 = MakeSet({{2, 14}, {16, 92}});
constexpr TSet kProtectedCard = MakeSet({{2, 7}, {10, 12}, {14, 14}, {86, 92}});
constexpr TSet kNone{};

// Operations that need the PIN on every device type.
constexpr TSet kPinAlways = MakeSet({{16, 19}, {21, 22}, {24, 25}, {29, 44}, {52, 74}, {77, 77}, {79, 79},
                                     {84, 89}, {91, 92}});
// Operations that need the PIN on a container card only.
constexpr TSet kPinContainerCard = MakeSet({{20, 20}, {23, 23}, {75, 76}});

bool Has(const TSet &set, int operation) {
    return operation >= 0 && operation < 256 && (set[operation / 8] >> (operation % 8) & 1) != 0;
}

}  // namespace

bool DeviceTypeServed(uint8_t type) noexcept {
    return type == 1 || type == 2 || type == 3 || type == 4 || type == 19;
}

const uint8_t *CapabilitySet(uint8_t type) noexcept {
    switch (type) {
    case 1: return kKeyFile.data();
    case 2: return kContainerCard.data();
    case 3: return kActiveToken.data();
    case 4: return kType4.data();
    case 19: return kProtectedCard.data();
    default: return kNone.data();
    }
}

bool OperationOffered(uint8_t type, int operation) noexcept {
    if (operation == 0) return true;
    if (operation < 0 || operation > 255) return false;
    const uint8_t *set = CapabilitySet(type);
    return (set[operation / 8] >> (operation % 8) & 1) != 0;
}

bool OperationNeedsPin(uint8_t type, int operation) noexcept {
    return Has(kPinAlways, operation) || (type == 2 && Has(kPinContainerCard, operation));
}

}  // namespace kcar
