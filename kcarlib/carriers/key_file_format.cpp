#include "carriers/key_file_format.h"

#include <cstring>

#include "carriers/crc.h"
#include "crypto/secure_wipe.h"
#include "kcarlib/gost.h"

namespace kcar::keyfile {

namespace {

void Put16(uint8_t *p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
uint32_t Get16(const uint8_t *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t Get32(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Gamma mode under Uz34311 with a zero synchronisation message, in place.
void Gamma(const uint8_t *key32, uint8_t *data, std::size_t length) {
    TGostCipher c;
    MagmaInit(&c, Uz34311, key32);
    MagmaM2Encrypt(&c, data, static_cast<uint32_t>(length));
    MagmaDone(&c);
}

uint32_t TrailerCrc(const uint8_t *encBody, std::size_t length, const uint8_t *signature48) {
    uint8_t word[2];
    Put16(word, kSignatureSize);
    uint32_t crc = Crc32Update(Crc32Start(), encBody, length);
    crc = Crc32Update(crc, word, 2);
    crc = Crc32Update(crc, signature48, kSignatureSize);
    return Crc32Finish(crc);
}

}  // namespace

void KeyFileContent::WipeSecrets() noexcept {
    SecureWipe(symKey, sizeof symKey);
    SecureWipe(ownerD, sizeof ownerD);
    SecureWipe(genSeed, sizeof genSeed);
    SecureWipe(genKey, sizeof genKey);
    SecureWipe(futureD, sizeof futureD);
}

std::size_t BodySize(std::size_t c, std::size_t u) { return (kFixedBody + c + u + 7) / 8 * 8; }

Bytes EncodeBody(const KeyFileContent &k) {
    Bytes b(BodySize(k.certs.size(), k.userFile.size()), 0);
    uint8_t *p = b.data();
    Put32(p + 0, static_cast<uint32_t>(b.size()));
    std::memcpy(p + 4, k.uid, 8);
    std::memcpy(p + 12, k.alg, 4);
    Put16(p + 16, k.openWord);
    Put32(p + 18, k.state & 0x000FFFFF);
    Put16(p + 22, 32);
    std::memcpy(p + 24, k.symKey, 32);
    Put16(p + 56, 24);
    std::memcpy(p + 58, k.ownerD, 24);
    Put16(p + 82, 48);
    std::memcpy(p + 84, k.ownerX, 24);
    std::memcpy(p + 108, k.ownerY, 24);
    std::memcpy(p + 132, k.genSeed, 8);
    std::memcpy(p + 140, k.genKey, 32);
    std::memcpy(p + 222, k.futureD, 24);
    Put32(p + 248, static_cast<uint32_t>(k.certs.size()));
    Put32(p + 252, static_cast<uint32_t>(k.userFile.size()));
    Put32(p + 256, k.a);
    std::memcpy(p + 260, k.b, 24);
    std::memcpy(p + 284, k.n, 24);
    std::memcpy(p + 308, k.px, 24);
    std::memcpy(p + 332, k.py, 24);
    std::memcpy(p + 356, k.hashIv, 32);
    std::memcpy(p + 388, k.hashSbox, 64);
    if (!k.certs.empty()) std::memcpy(p + kFixedBody, k.certs.data(), k.certs.size());
    if (!k.userFile.empty()) std::memcpy(p + kFixedBody + k.certs.size(), k.userFile.data(), k.userFile.size());
    return b;
}

uint32_t DecodeBody(const uint8_t *p, std::size_t available, KeyFileContent &k, std::size_t *bodyLength) {
    if (available < kFixedBody) return 33;
    std::size_t length = Get32(p);
    if (length < kFixedBody || length > available) return 33;
    if (p[12] != 1) return 48;
    if (p[13] != 1) return 49;
    if (p[14] != 1) return 50;
    if (Get16(p + 22) != 32 || Get16(p + 56) != 24 || Get16(p + 82) != 48) return 33;
    // The two areas must lie inside the body; a damaged or forged count must not
    // send the reader past its end.
    uint64_t c = Get32(p + 248), u = Get32(p + 252);
    if (kFixedBody + c + u > length) return 33;
    std::memcpy(k.uid, p + 4, 8);
    std::memcpy(k.alg, p + 12, 4);
    k.openWord = static_cast<uint16_t>(Get16(p + 16));
    k.state = Get32(p + 18) & 0x000FFFFF;
    std::memcpy(k.symKey, p + 24, 32);
    std::memcpy(k.ownerD, p + 58, 24);
    std::memcpy(k.ownerX, p + 84, 24);
    std::memcpy(k.ownerY, p + 108, 24);
    std::memcpy(k.genSeed, p + 132, 8);
    std::memcpy(k.genKey, p + 140, 32);
    std::memcpy(k.futureD, p + 222, 24);
    k.a = Get32(p + 256);
    std::memcpy(k.b, p + 260, 24);
    std::memcpy(k.n, p + 284, 24);
    std::memcpy(k.px, p + 308, 24);
    std::memcpy(k.py, p + 332, 24);
    std::memcpy(k.hashIv, p + 356, 32);
    std::memcpy(k.hashSbox, p + 388, 64);
    k.certs.assign(p + kFixedBody, p + kFixedBody + c);
    k.userFile.assign(p + kFixedBody + c, p + kFixedBody + c + u);
    if (bodyLength) *bodyLength = length;
    return 0;
}

Bytes SealFile(const Bytes &plainBody, const uint8_t *signature48, const uint8_t *key32) {
    const std::size_t total = kHeaderSize + plainBody.size() + kTrailerSize;
    Bytes f(total);
    uint8_t *body = f.data() + kHeaderSize;
    std::memcpy(body, plainBody.data(), plainBody.size());
    Gamma(key32, body, plainBody.size());
    uint8_t *trailer = body + plainBody.size();
    Put16(trailer, kSignatureSize);
    std::memcpy(trailer + 2, signature48, kSignatureSize);
    std::memcpy(f.data(), "NKIF", 4);
    Put16(f.data() + 4, kVersion);
    Put32(f.data() + 6, static_cast<uint32_t>(total));
    Put32(f.data() + 10, TrailerCrc(body, plainBody.size(), signature48));
    return f;
}

uint32_t OpenFile(const Bytes &file, const uint8_t *key32, Bytes &plainBody, uint8_t *signature48) {
    if (file.size() < kMinFile) return 32;
    const uint8_t *h = file.data();
    if (std::memcmp(h, "NKIF", 4) != 0 || Get16(h + 4) != kVersion) return 32;
    std::size_t total = Get32(h + 6);
    // The length must also leave room for a whole header, body and trailer, and
    // the file must hold all of it.
    if (total > kMaxFile || total < kMinFile || total > file.size()) return 32;
    const std::size_t bodySize = total - kHeaderSize - kTrailerSize;
    const uint8_t *enc = h + kHeaderSize;
    const uint8_t *trailer = enc + bodySize;
    if (TrailerCrc(enc, bodySize, trailer + 2) != Get32(h + 10)) return 32;
    // The signature length word is covered by the CRC; anything but 48 is damage.
    if (Get16(trailer) != kSignatureSize) return 32;
    plainBody.assign(enc, enc + bodySize);
    Gamma(key32, plainBody.data(), plainBody.size());
    std::memcpy(signature48, trailer + 2, kSignatureSize);
    return 0;
}

}  // namespace kcar::keyfile
