// Streams in pieces against one call: hashing, gamma and feedback ciphering and
// the MAC give the same result however the data is split; deciphering restores.
#include <algorithm>
#include <cstring>

#include "fuzz_input.h"
#include "kcarlib/gost.h"

using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    fuzz::Input in(data, size);
    const uint8_t sel = in.Byte();
    const uint8_t *sbox = (sel & 1) ? UzUa01 : Uz34311;
    const std::vector<uint8_t> key = in.Fixed(32), sync = in.Fixed(8), iv = in.Fixed(32);
    std::vector<uint8_t> cuts = in.Fixed(4);
    const std::vector<uint8_t> message = in.Rest();
    const uint32_t n = static_cast<uint32_t>(message.size());
    // Up to four cut points, in order.
    std::vector<uint32_t> at;
    for (uint8_t c : cuts) at.push_back(n == 0 ? 0 : c % (n + 1));
    std::sort(at.begin(), at.end());
    auto pieces = [&](auto &&feed) {
        uint32_t from = 0;
        for (uint32_t to : at) {
            feed(from, to - from);
            from = to;
        }
        feed(from, n - from);
    };

    // Hash.
    uint8_t whole[32], split[32];
    TGostHash h;
    HashInit(&h, sbox, (sel & 2) ? iv.data() : nullptr);
    HashUpdate(&h, message.data(), n);
    HashFinal(&h, whole);
    HashClear(&h);
    pieces([&](uint32_t from, uint32_t len) { HashUpdate(&h, message.data() + from, len); });
    HashFinal(&h, split);
    HashDone(&h);
    Check(std::memcmp(whole, split, 32) == 0);

    // Gamma (2) and gamma with feedback (3), and the MAC.
    for (int mode : {2, 3}) {
        std::vector<uint8_t> once = message, parts = message;
        TGostCipher c;
        MagmaInit(&c, sbox, key.data());
        MagmaSetSync(&c, sync.data());
        if (mode == 2)
            MagmaM2Encrypt(&c, once.data(), n);
        else
            MagmaM3Encrypt(&c, once.data(), n);
        MagmaSetSync(&c, sync.data());
        pieces([&](uint32_t from, uint32_t len) {
            if (mode == 2)
                MagmaM2Encrypt(&c, parts.data() + from, len);
            else
                MagmaM3Encrypt(&c, parts.data() + from, len);
        });
        Check(once == parts);
        MagmaSetSync(&c, sync.data());
        if (mode == 2)
            MagmaM2Decrypt(&c, parts.data(), n);
        else
            MagmaM3Decrypt(&c, parts.data(), n);
        Check(parts == message);
        MagmaDone(&c);
    }
    uint8_t macWhole[8], macSplit[8];
    TGostCipher m;
    MagmaInit(&m, sbox, key.data());
    MagmaSetSync(&m, sync.data());
    MagmaMAC(&m, message.data(), n);
    MagmaGetMAC(&m, macWhole);
    MagmaReset(&m);
    pieces([&](uint32_t from, uint32_t len) { MagmaMAC(&m, message.data() + from, len); });
    MagmaGetMAC(&m, macSplit);
    Check(std::memcmp(macWhole, macSplit, 8) == 0);
    // Simple replacement round trip over whole blocks.
    std::vector<uint8_t> blocks = message;
    MagmaM1Encrypt(&m, blocks.data(), n);
    MagmaM1Decrypt(&m, blocks.data(), n);
    Check(blocks == message);
    MagmaDone(&m);
    return 0;
}
