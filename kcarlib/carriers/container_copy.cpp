#include "carriers/container_copy.h"

#include <cstring>

#include "carriers/card_family.h"
#include "carriers/crc.h"
#include "crypto/secure_wipe.h"
#include "kcarlib/gost.h"

namespace kcar::container {

namespace {

void Put32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
uint32_t Get32(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PinHash(uint8_t startByte, const uint8_t *pin8, uint8_t *out32) {
    uint8_t iv[32];
    std::memset(iv, startByte, sizeof iv);
    TGostHash h;
    HashInit(&h, nullptr, iv);
    HashUpdate(&h, pin8, 8);
    HashFinal(&h, out32);
    HashDone(&h);
}

void Mac(const uint8_t *paramRecord, const uint8_t *plainCopy, const uint8_t *key32, uint8_t *mac4) {
    TGostCipher c;
    MagmaInit(&c, Uz34311, key32);
    MagmaMAC(&c, paramRecord, kParamRecordSize);
    MagmaMAC(&c, plainCopy, 296);
    MagmaGetMAC4(&c, mac4);
    MagmaDone(&c);
}

void Feedback(bool encipher, const uint8_t *key32, uint8_t *copy) {
    TGostCipher c;
    MagmaInit(&c, Uz34311, key32);
    MagmaSetSync(&c, copy);
    if (encipher) MagmaM3Encrypt(&c, copy + 8, 288);
    else MagmaM3Decrypt(&c, copy + 8, 288);
    MagmaDone(&c);
}

}  // namespace

void CardValue(const uint8_t *pin8, uint8_t *value8) {
    uint8_t h[32];
    PinHash(family::kCardValueStartByte, pin8, h);
    std::memcpy(value8, h, 8);
    SecureWipe(h, sizeof h);
}

void ContainerKey(const uint8_t *pin8, uint8_t *key32) { PinHash(family::kContainerKeyStartByte, pin8, key32); }

uint32_t CopyCounter(const uint8_t *copy) { return Get32(copy); }

void SealCopy(const CopyContent &k, const uint8_t *paramRecord, const uint8_t *key32, uint8_t *copy) {
    std::memset(copy, 0, kCopySize);
    Put32(copy, k.counter);
    uint16_t crc = Crc16X25(copy, 4);
    copy[4] = uint8_t(crc);
    copy[5] = uint8_t(crc >> 8);
    copy[6] = uint8_t(k.carrierWord);
    copy[7] = uint8_t(k.carrierWord >> 8);
    std::memcpy(copy + 8, k.ownerD, 64);
    std::memcpy(copy + 72, k.futureD, 64);
    std::memcpy(copy + 264, k.genKey, 32);
    Put32(copy + 304, k.state & 0x000FFFFF);
    Mac(paramRecord, copy, key32, copy + 296);
    Feedback(true, key32, copy);
}

uint32_t OpenCopy(const uint8_t *copy, const uint8_t *paramRecord, const uint8_t *key32, CopyContent &k) {
    uint16_t crc = Crc16X25(copy, 4);
    if (copy[4] != uint8_t(crc) || copy[5] != uint8_t(crc >> 8)) return 33;
    uint8_t plain[kCopySize];
    std::memcpy(plain, copy, kCopySize);
    Feedback(false, key32, plain);
    uint8_t mac[4];
    Mac(paramRecord, plain, key32, mac);
    uint8_t diff = 0;
    for (int i = 0; i < 4; ++i) diff |= uint8_t(mac[i] ^ plain[296 + i]);
    uint32_t rc = 33;
    if (diff == 0) {
        k.counter = Get32(plain);
        k.carrierWord = uint16_t(plain[6] | plain[7] << 8);
        std::memcpy(k.ownerD, plain + 8, 64);
        std::memcpy(k.futureD, plain + 72, 64);
        std::memcpy(k.genKey, plain + 264, 32);
        k.state = Get32(plain + 304) & 0x000FFFFF;
        rc = 0;
    }
    SecureWipe(plain, sizeof plain);
    return rc;
}

}  // namespace kcar::container
