// The certificate container: reading a store from hostile bytes, the packer and
// unpacker, and the write plan over a hostile old container.
#include <cstring>

#include "fuzz_input.h"
#include "kcarlib/nki_result.h"
#include "session/cert_container.h"
#include "session/cert_packing.h"

using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    if (size > 8192) return 0;
    // Whatever the bytes, packing and unpacking give them back.
    const std::vector<uint8_t> packed = kcar::Pack(data, size);
    std::vector<uint8_t> unpacked;
    Check(kcar::Unpack(packed.data(), packed.size(), unpacked, size + 1) && unpacked.size() == size &&
          (size == 0 || std::memcmp(unpacked.data(), data, size) == 0));
    std::vector<uint8_t> out;
    kcar::Unpack(data, size, out, 4 * size);
    Check(out.size() <= 4 * size);

    // A container read as a store builds a container that reads back the same
    // store, and the write plan over the old bytes reaches exactly that image.
    std::vector<uint8_t> store;
    if (kcar::ReadCertContainer(data, size, store) != NKI_OK) return 0;
    std::vector<uint8_t> image;
    if (kcar::BuildCertContainer(store.data(), store.size(), size, image) != NKI_OK) return 0;
    const std::vector<uint8_t> old(data, data + size);
    std::vector<uint8_t> raw = old;
    for (const auto &p : kcar::PlanContainerWrite(old, image, 96)) {
        Check(p.length > 0 && p.length <= 96 && p.offset + p.length <= image.size());
        std::memcpy(raw.data() + p.offset, image.data() + p.offset, p.length);
    }
    Check(std::memcmp(raw.data(), image.data(), image.size()) == 0);
    std::vector<uint8_t> again;
    Check(kcar::ReadCertContainer(raw.data(), raw.size(), again) == NKI_OK && again == store);
    return 0;
}
