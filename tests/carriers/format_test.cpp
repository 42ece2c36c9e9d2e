// The carriers' stored formats: checksums, the key file's outer layer and body,
// the container card's copies, and the secure channel's command form.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "carriers/container_copy.h"
#include "carriers/crc.h"
#include "carriers/key_file_format.h"
#include "carriers/secure_channel.h"

namespace {

using kcar::keyfile::Bytes;

TEST(Checksums, KnownValues) {
    const std::string check = "123456789";
    EXPECT_EQ(kcar::Crc32(check.data(), check.size()), 0xCBF43926u);
    EXPECT_EQ(kcar::Crc16X25(check.data(), check.size()), 0x906Eu);
    // Pieces give the same CRC-32 as the whole.
    uint32_t crc = kcar::Crc32Update(kcar::Crc32Start(), check.data(), 4);
    crc = kcar::Crc32Update(crc, check.data() + 4, 5);
    EXPECT_EQ(kcar::Crc32Finish(crc), 0xCBF43926u);
}

const uint8_t kKey[32] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                          17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};

Bytes SampleFile(std::size_t c, std::size_t u, Bytes *plainOut = nullptr) {
    kcar::keyfile::KeyFileContent k;
    for (int i = 0; i < 8; ++i) k.uid[i] = uint8_t(0xA0 + i);
    k.state = 0xFFF00003;
    k.certs.assign(c, 0x11);
    k.userFile.assign(u, 0x22);
    Bytes plain = kcar::keyfile::EncodeBody(k);
    if (plainOut) *plainOut = plain;
    uint8_t sig[48];
    for (int i = 0; i < 48; ++i) sig[i] = uint8_t(i);
    return kcar::keyfile::SealFile(plain, sig, kKey);
}

TEST(KeyFileFormat, BodySizeAndFileLength) {
    struct Case {
        std::size_t c, u, body;
    } cases[] = {{0, 0, 456}, {4, 0, 456}, {2, 2, 456}, {5, 0, 464}, {0, 5, 464}, {100, 33, 592}};
    for (const Case &t : cases) {
        Bytes f = SampleFile(t.c, t.u);
        EXPECT_EQ(kcar::keyfile::BodySize(t.c, t.u), t.body) << t.c << "+" << t.u;
        EXPECT_EQ(f.size(), t.body + 64);
        EXPECT_EQ(std::memcmp(f.data(), "NKIF\x05\x00", 6), 0);
        EXPECT_EQ(f[6] | f[7] << 8, int(f.size()));
        EXPECT_EQ(f[f.size() - 50], 48);
        EXPECT_EQ(f[f.size() - 49], 0);
    }
}

TEST(KeyFileFormat, RoundTripKeepsEveryField) {
    Bytes plain;
    Bytes f = SampleFile(7, 9, &plain);
    Bytes back;
    uint8_t sig[48];
    ASSERT_EQ(kcar::keyfile::OpenFile(f, kKey, back, sig), 0u);
    EXPECT_EQ(back, plain);
    EXPECT_EQ(sig[47], 47);
    kcar::keyfile::KeyFileContent k;
    std::size_t len = 0;
    ASSERT_EQ(kcar::keyfile::DecodeBody(back.data(), back.size(), k, &len), 0u);
    EXPECT_EQ(len, back.size());
    EXPECT_EQ(k.state, 0x00000003u);  // only the low 20 bits are stored
    EXPECT_EQ(k.uid[7], 0xA7);
    EXPECT_EQ(k.certs, Bytes(7, 0x11));
    EXPECT_EQ(k.userFile, Bytes(9, 0x22));
}

TEST(KeyFileFormat, OuterLayerRefusals) {
    Bytes good = SampleFile(0, 4);  // 520 bytes, the smallest file
    ASSERT_EQ(good.size(), 520u);
    struct Case {
        const char *what;
        std::function<void(Bytes &)> damage;
    } cases[] = {
        {"519 bytes", [](Bytes &f) { f.pop_back(); }},
        {"magic", [](Bytes &f) { f[0] = 'M'; }},
        {"version 4", [](Bytes &f) { f[4] = 4; }},
        {"length 16385", [](Bytes &f) { f[6] = 0x01; f[7] = 0x40; f[8] = 0; f[9] = 0; }},
        {"length past the end", [](Bytes &f) { f[6] = 0x10; f[7] = 0x02; }},
        {"enciphered byte", [](Bytes &f) { f[100] ^= 1; }},
        {"CRC byte", [](Bytes &f) { f[12] ^= 0x80; }},
        {"signature byte", [](Bytes &f) { f[f.size() - 1] ^= 1; }},
    };
    for (const Case &t : cases) {
        Bytes f = good;
        t.damage(f);
        Bytes plain;
        uint8_t sig[48];
        EXPECT_EQ(kcar::keyfile::OpenFile(f, kKey, plain, sig), 32u) << t.what;
    }
}

TEST(KeyFileFormat, BodyRefusals) {
    Bytes plain;
    SampleFile(3, 3, &plain);
    struct Case {
        const char *what;
        std::size_t at;
        uint8_t value;
        uint32_t code;
    } cases[] = {
        {"length below 452", 1, 0x00, 33},  // 456 -> 0x0000 01C8 -> 0xC8
        {"cipher identifier", 12, 2, 48},
        {"hash identifier", 13, 0, 49},
        {"signature identifier", 14, 3, 50},
        {"key length word", 22, 31, 33},
        {"private key length word", 56, 23, 33},
        {"public key length word", 82, 47, 33},
        {"certificate length past the body", 250, 1, 33},
    };
    for (const Case &t : cases) {
        Bytes b = plain;
        b[t.at] = t.value;
        kcar::keyfile::KeyFileContent k;
        EXPECT_EQ(kcar::keyfile::DecodeBody(b.data(), b.size(), k, nullptr), t.code) << t.what;
    }
    // A wrong key turns the body into noise: the length field no longer fits.
    Bytes f = kcar::keyfile::SealFile(plain, plain.data(), kKey);
    uint8_t other[32] = {9};
    Bytes noise;
    uint8_t sig[48];
    ASSERT_EQ(kcar::keyfile::OpenFile(f, other, noise, sig), 0u);
    kcar::keyfile::KeyFileContent k;
    EXPECT_NE(kcar::keyfile::DecodeBody(noise.data(), noise.size(), k, nullptr), 0u);
}

const uint8_t kPin[8] = {'1', '2', '3', '4', '5', '6', '7', '8'};

TEST(ContainerCopy, PinValuesDifferAndDependOnThePin) {
    uint8_t value[8], key[32], value2[8];
    kcar::container::CardValue(kPin, value);
    kcar::container::ContainerKey(kPin, key);
    EXPECT_NE(std::memcmp(value, key, 8), 0);
    uint8_t pin2[8] = {'1', '2', '3', '4', '5', '6', '7', '9'};
    kcar::container::CardValue(pin2, value2);
    EXPECT_NE(std::memcmp(value, value2, 8), 0);
}

TEST(ContainerCopy, SealOpenAndRefusals) {
    uint8_t params[366];
    for (int i = 0; i < 366; ++i) params[i] = uint8_t(i * 7);
    uint8_t key[32];
    kcar::container::ContainerKey(kPin, key);
    kcar::container::CopyContent in;
    in.counter = 1;
    in.carrierWord = 0xBEEF;
    in.ownerD[0] = 0x42;
    in.futureD[63] = 0x17;
    in.genKey[5] = 9;
    in.state = 0x80000013;
    uint8_t copy[308];
    kcar::container::SealCopy(in, params, key, copy);
    // The counter 01 00 00 00 and its CRC-16/X-25, little-endian.
    const uint8_t one[4] = {1, 0, 0, 0};
    uint16_t crc = kcar::Crc16X25(one, 4);
    EXPECT_EQ(copy[0], 1);
    EXPECT_EQ(copy[4] | copy[5] << 8, crc);
    EXPECT_EQ(copy[6] | copy[7] << 8, 0xBEEF);
    EXPECT_NE(copy[8], 0x42);  // enciphered
    EXPECT_EQ(copy[304], 0x13);

    kcar::container::CopyContent out;
    ASSERT_EQ(kcar::container::OpenCopy(copy, params, key, out), 0u);
    EXPECT_EQ(out.counter, 1u);
    EXPECT_EQ(out.carrierWord, 0xBEEF);
    EXPECT_EQ(out.ownerD[0], 0x42);
    EXPECT_EQ(out.futureD[63], 0x17);
    EXPECT_EQ(out.genKey[5], 9);
    EXPECT_EQ(out.state, 0x13u);

    uint8_t other[32];
    uint8_t pin2[8] = {'0'};
    kcar::container::ContainerKey(pin2, other);
    EXPECT_EQ(kcar::container::OpenCopy(copy, params, other, out), 33u) << "another key";
    for (std::size_t at : {std::size_t(0), std::size_t(5), std::size_t(100), std::size_t(297)}) {
        uint8_t bad[308];
        std::memcpy(bad, copy, 308);
        bad[at] ^= 1;
        EXPECT_EQ(kcar::container::OpenCopy(bad, params, key, out), 33u) << "byte " << at;
    }
    uint8_t otherParams[366];
    std::memcpy(otherParams, params, 366);
    otherParams[365] ^= 1;
    EXPECT_EQ(kcar::container::OpenCopy(copy, otherParams, key, out), 33u) << "another parameter record";
    uint8_t zero[308] = {};
    EXPECT_EQ(kcar::container::OpenCopy(zero, params, key, out), 33u) << "a cleared copy";
}

TEST(SecureChannelForm, CommandShapesAndCounter) {
    kcar::SecureChannel ch;
    const uint8_t card[4] = {0x12, 0x34, 0x56, 0x78}, host[4] = {1, 2, 3, 4};
    ch.Start(card, host);
    Bytes verify = {0x00, 0x20, 0x00, 0x05, 0x08, '1', '2', '3', '4', '5', '6', '7', '8'};
    Bytes w = ch.Wrap(verify, true);
    ASSERT_EQ(w.size(), 17u);
    EXPECT_EQ(w[0], 0x04);
    EXPECT_EQ(w[4], 12);
    EXPECT_NE(Bytes(w.begin() + 5, w.begin() + 13), Bytes(verify.begin() + 5, verify.end())) << "PIN enciphered";
    Bytes plainWrap = ch.Wrap(verify, false);
    EXPECT_EQ(Bytes(plainWrap.begin() + 5, plainWrap.begin() + 13), Bytes(verify.begin() + 5, verify.end()));
    EXPECT_EQ(Bytes(plainWrap.begin() + 13, plainWrap.end()), Bytes(w.begin() + 13, w.end())) << "MAC of the plain data";

    Bytes read = {0x00, 0xB0, 0x00, 0x10, 0x60};
    Bytes r = ch.Wrap(read, false);
    ASSERT_EQ(r.size(), 11u);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 6), (Bytes{0x04, 0xB0, 0x00, 0x10, 0x05, 0x60}));
    EXPECT_EQ(r.back(), 0x00);

    ch.Advance();
    EXPECT_EQ(ch.Counter()[0] << 8 | ch.Counter()[1], 0x1236);
    EXPECT_NE(ch.Wrap(read, false), r) << "a new counter gives a new MAC";
    uint8_t top[8] = {0xFF, 0xFF, 0, 0, 0, 0, 0, 0};
    ch.SetCounter(top);
    ch.Advance();
    EXPECT_EQ(ch.Counter()[0] << 8 | ch.Counter()[1], 0x0001) << "the word wraps";
    EXPECT_EQ(ch.Counter()[2], 0);
}

}  // namespace
