#include "session/cert_container.h"

#include <algorithm>
#include <cstring>

#include "kcarlib/nki_result.h"
#include "session/cert_packing.h"

namespace kcar {
namespace {

constexpr uint32_t kPackedMark = 0xB;

// Length of the records of a store up to and including its 0 header, or 0 when
// they run past size without one.
std::size_t StoreLength(const uint8_t *store, std::size_t size) {
    std::size_t pos = 0;
    while (pos + 4 <= size) {
        const uint32_t header = MakeULong(store + pos);
        if (header == 0) return pos + 4;
        pos += 4 + (header & 0xFFFF);
    }
    return 0;
}

// Bytes at the start of a container that its store occupies; the whole container
// when it holds no readable form.
std::size_t UsedLength(const std::vector<uint8_t> &raw) {
    if (raw.size() < 4) return raw.size();
    const uint32_t w = MakeULong(raw.data());
    std::size_t used = (w >> 28) == kPackedMark ? 4 + (w & 0xFFFF) : StoreLength(raw.data(), raw.size());
    return used == 0 || used > raw.size() ? raw.size() : used;
}

struct Outcome {
    uint32_t rc;
    std::vector<uint8_t> store;
};

Outcome Read(const std::vector<uint8_t> &raw) {
    Outcome o;
    o.rc = ReadCertContainer(raw.data(), raw.size(), o.store);
    return o;
}

void Apply(std::vector<uint8_t> &raw, const std::vector<uint8_t> &image, const TContainerPiece &p) {
    std::memcpy(raw.data() + p.offset, image.data() + p.offset, p.length);
}

// How bad the mixtures along an order are: each one that reads back as neither
// store costs 1 when it is refused (114) and much more when it reads back as a
// store of its own, which the caller could not tell from a real one.
uint64_t Cost(const std::vector<uint8_t> &old, const Outcome &before, const Outcome &after,
              const std::vector<uint8_t> &image, const std::vector<TContainerPiece> &order) {
    std::vector<uint8_t> raw = old;
    uint64_t cost = 0;
    for (std::size_t i = 0; i + 1 < order.size(); ++i) {
        Apply(raw, image, order[i]);
        const Outcome now = Read(raw);
        if (now.rc != NKI_OK) {
            cost += 1;
        } else if (!(now.store == after.store) && !(before.rc == NKI_OK && now.store == before.store)) {
            cost += 1000;
        }
    }
    return cost;
}

}  // namespace

uint32_t ReadCertContainer(const uint8_t *raw, std::size_t size, std::vector<uint8_t> &store) {
    store.clear();
    if (size < 4) return NKI_E_CERTS_UNKNOWN_PACKING;
    const uint32_t w = MakeULong(raw);
    if ((w >> 28) != kPackedMark) {
        const std::size_t length = StoreLength(raw, size);
        if (length == 0) return NKI_E_CERTS_UNKNOWN_PACKING;  // records run past the container
        store.assign(raw, raw + length);
        return NKI_OK;
    }
    if (((w >> 24) & 0xF) != 0) return NKI_E_CERTS_UNKNOWN_PACKING;
    const std::size_t L = w & 0xFFFF;
    if (L > size - 4) return NKI_E_CERTS_UNKNOWN_PACKING;
    if (!Unpack(raw + 4, L, store, size * 12)) {
        store.clear();
        return NKI_E_CERTS_UNKNOWN_PACKING;
    }
    store.insert(store.end(), 4, 0);
    if (StoreLength(store.data(), store.size()) != store.size()) {
        store.clear();
        return NKI_E_CERTS_UNKNOWN_PACKING;  // the records do not end where the data does
    }
    return NKI_OK;
}

uint32_t BuildCertContainer(const uint8_t *store, std::size_t size, std::size_t containerSize,
                            std::vector<uint8_t> &image) {
    image.clear();
    if (size < 4) return NKI_E_BAD_ARGUMENTS;
    if (size > containerSize * 12 + 4) return NKI_E_NO_SPACE;  // too large for the packing work area
    const std::vector<uint8_t> packed = Pack(store, size - 4);
    const std::size_t L = packed.size();
    if (L <= 0xFFFF && L + 4 <= containerSize) {
        image.resize(L + 4);
        image[0] = static_cast<uint8_t>(L);
        image[1] = static_cast<uint8_t>(L >> 8);
        image[2] = 0;
        image[3] = 0xB0;
        std::memcpy(image.data() + 4, packed.data(), L);
        return NKI_OK;
    }
    if (size > containerSize) return NKI_E_NO_SPACE;
    image.assign(store, store + size);
    return NKI_OK;
}

std::vector<TContainerPiece> PlanContainerWrite(const std::vector<uint8_t> &old, const std::vector<uint8_t> &image,
                                                std::size_t piece) {
    const bool known = old.size() >= image.size();
    const std::size_t oldUsed = known ? UsedLength(old) : image.size();
    std::vector<TContainerPiece> beyond, inside;
    bool head = false;
    for (std::size_t start = 0; start < image.size(); start += piece) {
        const TContainerPiece p{static_cast<uint32_t>(start),
                                static_cast<uint32_t>(std::min(piece, image.size() - start))};
        if (known && std::memcmp(old.data() + start, image.data() + start, p.length) == 0) continue;
        if (start == 0)
            head = true;
        else
            (start >= oldUsed ? beyond : inside).push_back(p);
    }
    const TContainerPiece first{0, static_cast<uint32_t>(std::min(piece, image.size()))};
    std::vector<TContainerPiece> insideDown(inside.rbegin(), inside.rend());
    auto order = [&](bool headFirst, const std::vector<TContainerPiece> &middle) {
        std::vector<TContainerPiece> o;
        if (head && headFirst) o.push_back(first);
        o.insert(o.end(), beyond.begin(), beyond.end());
        o.insert(o.end(), middle.begin(), middle.end());
        if (head && !headFirst) o.push_back(first);
        return o;
    };
    std::vector<TContainerPiece> best = order(false, insideDown);
    if (!known || best.size() <= 1) return best;

    const Outcome before = Read(old);
    std::vector<uint8_t> done = old;
    for (const auto &p : best) Apply(done, image, p);
    const Outcome after = Read(done);
    uint64_t bestCost = Cost(old, before, after, image, best);
    for (auto candidate : {order(false, inside), order(true, inside), order(true, insideDown)}) {
        if (bestCost == 0) break;
        const uint64_t cost = Cost(old, before, after, image, candidate);
        if (cost < bestCost) {
            bestCost = cost;
            best = std::move(candidate);
        }
    }
    return best;
}

}  // namespace kcar
