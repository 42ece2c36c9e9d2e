// GOST 28147-89: tables, setup, the three modes and the MAC.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "crypto/gost/magma_core.h"
#include "crypto/gost/magma_wide.h"
#include "kcarlib/gost.h"
#include "reference.h"
#include "vectors.h"

using namespace gosttest;

namespace {

const uint8_t *Table(const Section &s) {
    if (!s.has("Sbox") || s.text("Sbox") == "Uz34311") return Uz34311;
    if (s.text("Sbox") == "UzUa01") return UzUa01;
    throw std::runtime_error("unknown table " + s.text("Sbox"));
}

bool SameRecord(const TGostCipher &a, const TGostCipher &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(GostTables, ExportedTablesAreThePublishedNodes) {
    for (const Section &s : ReadVectors("sboxes.txt")) {
        SCOPED_TRACE(s.name);
        const uint8_t *exported = s.name == "Uz34311" ? Uz34311 : s.name == "UzUa01" ? UzUa01 : nullptr;
        ASSERT_NE(exported, nullptr);
        Bytes packed = s.bytes("packed");
        ASSERT_EQ(packed.size(), 64u);
        EXPECT_EQ(Hex(exported, 64), Hex(packed));

        // Node rows K1..K8 against the packed form and the expanded SubstTab.
        uint8_t node[8][16];
        for (int r = 0; r < 8; ++r) {
            const char field[3] = {'K', char('1' + r), 0};
            const std::string &row = s.text(field);
            int j = 0;
            for (char ch : row)
                if (ch != ' ') node[r][j++] = uint8_t(std::stoi(std::string(1, ch), nullptr, 16));
            ASSERT_EQ(j, 16);
        }
        TGostCipher c;
        MagmaSetUz(&c, exported);
        for (int k = 0; k < 4; ++k) {
            for (int b = 0; b < 256; ++b) {
                ASSERT_EQ(c.SubstTab[k][b] & 0x0F, node[2 * k][b & 15]) << k << " " << b;
                ASSERT_EQ(c.SubstTab[k][b] >> 4, node[2 * k + 1][b >> 4]) << k << " " << b;
            }
        }
    }
}

// One stream operation: mode 2 or 3 encrypt/decrypt, or the MAC.
using StreamOp = std::function<void(TGostCipher *, uint8_t *, uint32_t)>;

StreamOp ModeOp(int mode, bool encrypt) {
    switch (mode) {
        case 2: return [](TGostCipher *c, uint8_t *p, uint32_t n) { MagmaM2Encrypt(c, p, n); };
        case 3:
            if (encrypt) return [](TGostCipher *c, uint8_t *p, uint32_t n) { MagmaM3Encrypt(c, p, n); };
            return [](TGostCipher *c, uint8_t *p, uint32_t n) { MagmaM3Decrypt(c, p, n); };
    }
    return nullptr;
}

// The stream contracts for one vector: any split into two or three calls gives the
// output and the final record of one call; a reset repeats the stream; a copy of
// the record taken mid-stream continues like the original.
void CheckStreamContracts(const TGostCipher &start, const StreamOp &op, const Bytes &in, const Bytes &want) {
    const uint32_t n = uint32_t(in.size());
    TGostCipher whole = start;
    Bytes out = in;
    op(&whole, out.data(), n);
    ASSERT_EQ(Hex(out), Hex(want));

    for (uint32_t i = 0; i <= n; ++i) {
        for (uint32_t j = i; j <= n; ++j) {
            TGostCipher c = start;
            Bytes b = in;
            op(&c, b.data(), i);
            op(&c, b.data() + i, j - i);
            op(&c, b.data() + j, n - j);
            ASSERT_EQ(Hex(b), Hex(want)) << "split at " << i << ", " << j;
            ASSERT_TRUE(SameRecord(c, whole)) << "split at " << i << ", " << j;
        }
        TGostCipher original = start;
        Bytes b1 = in;
        op(&original, b1.data(), i);
        TGostCipher copy = original;
        Bytes b2 = b1;
        op(&original, b1.data() + i, n - i);
        op(&copy, b2.data() + i, n - i);
        ASSERT_EQ(Hex(b1), Hex(want));
        ASSERT_EQ(Hex(b2), Hex(want)) << "copy at " << i;
    }

    TGostCipher again = whole;
    MagmaReset(&again);
    Bytes b = in;
    op(&again, b.data(), n);
    EXPECT_EQ(Hex(b), Hex(want)) << "after MagmaReset";
}

int ModeOf(const std::string &name) {
    for (int m = 1; m <= 3; ++m)
        if (name.find("mode " + std::to_string(m)) != std::string::npos) return m;
    return 0;
}

TEST(GostModes, VectorsAndStreamContracts) {
    int checked = 0;
    for (const char *file : {"gost28147.txt", "gost28147_more.txt"}) {
        for (const Section &s : ReadVectors(file)) {
            if (s.has("Mac")) continue;
            SCOPED_TRACE(std::string(file) + ": " + s.name);
            const int mode = ModeOf(s.name);
            ASSERT_NE(mode, 0);
            TGostCipher start;
            MagmaInit(&start, Table(s), s.bytes("Key").data());
            if (s.has("Sync")) MagmaSetSync(&start, s.bytes("Sync").data());
            const Bytes in = s.bytes("In"), want = s.bytes("Out");

            if (mode == 1) {
                // Blocks in place; trailing bytes of a partial block and the stream
                // state stay as they were.
                Bytes b = in;
                b.insert(b.end(), {0xA1, 0xB2, 0xC3});
                TGostCipher c = start;
                MagmaM1Encrypt(&c, b.data(), uint32_t(b.size()));
                EXPECT_EQ(Hex(b), Hex(want) + "a1b2c3");
                EXPECT_TRUE(SameRecord(c, start));
                MagmaM1Decrypt(&c, b.data(), uint32_t(b.size()));
                EXPECT_EQ(Hex(b), Hex(in) + "a1b2c3");
            } else {
                CheckStreamContracts(start, ModeOp(mode, true), in, want);
                CheckStreamContracts(start, ModeOp(mode, false), want, in);
            }
            ++checked;
        }
    }
    EXPECT_EQ(checked, 7);
}

TEST(GostMac, VectorsAndStreamContracts) {
    int checked = 0;
    for (const Section &s : ReadVectors("gost28147_more.txt")) {
        if (!s.has("Mac")) continue;
        SCOPED_TRACE(s.name);
        TGostCipher start;
        MagmaInit(&start, Table(s), s.bytes("Key").data());
        const Bytes in = s.bytes("In"), want = s.bytes("Mac");
        TGostCipher c = start;
        MagmaMAC(&c, in.data(), uint32_t(in.size()));
        uint8_t mac[8], again[8];
        MagmaGetMAC(&c, mac);
        MagmaGetMAC(&c, again);
        EXPECT_EQ(Hex(mac, 8), Hex(want));
        EXPECT_EQ(Hex(again, 8), Hex(want)) << "second get";
        uint8_t mac4[4];
        MagmaGetMAC4(&c, mac4);
        EXPECT_EQ(Hex(mac4, 4), Hex(want).substr(0, 8));
        EXPECT_EQ(MagmaCheckMAC(&c, want.data()), 1);
        EXPECT_EQ(MagmaCheckMAC4(&c, want.data()), 1);

        // Any split of the message gives the same MAC.
        for (size_t i = 0; i <= in.size(); ++i) {
            for (size_t j = i; j <= in.size(); ++j) {
                TGostCipher d = start;
                MagmaMAC(&d, in.data(), uint32_t(i));
                MagmaMAC(&d, in.data() + i, uint32_t(j - i));
                MagmaMAC(&d, in.data() + j, uint32_t(in.size() - j));
                ASSERT_EQ(MagmaCheckMAC(&d, want.data()), 1) << "split at " << i << ", " << j;
            }
            TGostCipher d = start;
            MagmaMAC(&d, in.data(), uint32_t(i));
            TGostCipher copy = d;
            MagmaMAC(&copy, in.data() + i, uint32_t(in.size() - i));
            ASSERT_EQ(MagmaCheckMAC(&copy, want.data()), 1) << "copy at " << i;
        }
        // Restart with the same key.
        MagmaReset(&c);
        MagmaMAC(&c, in.data(), uint32_t(in.size()));
        EXPECT_EQ(MagmaCheckMAC(&c, want.data()), 1) << "after MagmaReset";
        ++checked;
    }
    EXPECT_EQ(checked, 7);
}

TEST(GostMac, ChecksRejectEveryWrongByteAndOnlyCompareTheirLength) {
    TGostCipher c;
    MagmaInit(&c, UzUa01, Uz34311 + 8);
    const uint8_t msg[] = "authenticated message";
    MagmaMAC(&c, msg, sizeof msg);
    uint8_t mac[8];
    MagmaGetMAC(&c, mac);
    for (int i = 0; i < 8; ++i) {
        uint8_t bad[8];
        std::memcpy(bad, mac, 8);
        bad[i] ^= 0x01;
        EXPECT_EQ(MagmaCheckMAC(&c, bad), 0) << "byte " << i;
        EXPECT_EQ(MagmaCheckMAC4(&c, bad), i < 4 ? 0 : 1) << "byte " << i;
    }
}

TEST(GostMac, PaddingAndFinalisation) {
    const uint8_t key[32] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    TGostCipher base;
    MagmaInit(&base, Uz34311, key);

    // The empty message is eight zero bytes.
    TGostCipher c = base;
    uint8_t mac[8], zeros[8] = {};
    MagmaGetMAC(&c, mac);
    EXPECT_EQ(Hex(mac, 8), Hex(zeros, 8));
    EXPECT_EQ(MagmaCheckMAC(&c, zeros), 1);

    // A partial block is zero padded; after a get, feeding continues from the
    // padded state.
    const uint8_t five[8] = {0x10, 0x20, 0x30, 0x40, 0x50, 0, 0, 0};
    const uint8_t tail[3] = {7, 8, 9};
    uint8_t a[8], b[8];
    c = base;
    MagmaMAC(&c, five, 5);
    MagmaGetMAC(&c, a);
    MagmaMAC(&c, tail, 3);
    MagmaGetMAC(&c, a);
    c = base;
    MagmaMAC(&c, five, 8);
    MagmaMAC(&c, tail, 3);
    MagmaGetMAC(&c, b);
    EXPECT_EQ(Hex(a, 8), Hex(b, 8));

    // One whole block gets no padding block: the MAC is the 16-step transform of
    // that block alone.
    c = base;
    MagmaMAC(&c, five, 8);
    MagmaGetMAC(&c, a);
    std::memcpy(b, five, 8);
    MagmaCycle(&c, b, c.RoundKeys, 16);
    swaprl(b);
    EXPECT_EQ(Hex(a, 8), Hex(b, 8));
}

TEST(GostModes, SimpleReplacementOfPartialBlocks) {
    TGostCipher c;
    MagmaInit(&c, Uz34311, UzUa01);
    uint8_t data[13], orig[13], block[8];
    for (int i = 0; i < 13; ++i) orig[i] = data[i] = uint8_t(i * 7);
    MagmaM1Encrypt(&c, data, 7);
    EXPECT_EQ(0, std::memcmp(data, orig, 13)) << "len 7 changes nothing";
    MagmaM1Encrypt(&c, data, 13);
    std::memcpy(block, orig, 8);
    MagmaM1Encrypt(&c, block, 8);
    EXPECT_EQ(0, std::memcmp(data, block, 8));
    EXPECT_EQ(0, std::memcmp(data + 8, orig + 8, 5)) << "len 13 keeps the last 5 bytes";
}

TEST(GostModes, GammaCounterAndStart) {
    struct {
        uint32_t n3, n4, n3After, n4After;
    } const cases[] = {
        {0, 0, 0x01010101, 0x01010104},
        {0xFFFFFFFF, 0xFEFEFEFC, 0x01010100, 0x00000001},  // carry, reduced mod 2^32 - 1
        {0x12345678, 0xFEFEFEFB, 0x13355779, 0xFFFFFFFF},  // no carry: 2^32 - 1 stays
        {0, 0xFFFFFFFF, 0x01010101, 0x01010104},
    };
    for (const auto &t : cases) {
        uint8_t r[8];
        kcar::gost::Store32(r, t.n3);
        kcar::gost::Store32(r + 4, t.n4);
        addc1c2(r);
        EXPECT_EQ(kcar::gost::Load32(r), t.n3After);
        EXPECT_EQ(kcar::gost::Load32(r + 4), t.n4After) << std::hex << t.n4;
    }

    // len 0 leaves the stream untouched, GammaStart included; the first gamma block
    // is E(step(E(sync))).
    TGostCipher c;
    MagmaInit(&c, Uz34311, UzUa01);
    const uint8_t sync[8] = {0xFC, 0xFE, 0xFE, 0xFE, 0xFC, 0xFE, 0xFE, 0xFE};
    MagmaSetSync(&c, sync);
    TGostCipher before = c;
    uint8_t data[8] = {};
    MagmaM2Encrypt(&c, data, 0);
    EXPECT_TRUE(SameRecord(c, before));
    EXPECT_EQ(c.GammaStart, 1);
    MagmaM2Encrypt(&c, data, 8);
    uint8_t want[8];
    std::memcpy(want, sync, 8);
    MagmaM1Encrypt(&c, want, 8);
    addc1c2(want);
    MagmaM1Encrypt(&c, want, 8);
    EXPECT_EQ(Hex(data, 8), Hex(want, 8));
    EXPECT_EQ(c.GammaStart, 0);
}

// The fast paths (several blocks at once, whole blocks straight from the buffer)
// against the straightforward byte-wise form, for arbitrary tables, keys, syncs,
// lengths and a first call that ends inside a block.
// Every vector level the processor has runs the same cases; lengths from 512 bytes
// up reach the vector engine with and without a tail.
TEST(GostModes, MatchTheStraightforwardForm) {
    Lcg rnd(28147);
    const uint32_t lengths[] = {0, 1, 7, 8, 9, 15, 16, 17, 31, 32, 33, 40, 63, 64, 65, 100, 257, 1031, 4099};
    for (int trial = 0; trial < 3 * (1 + kcar::gost::MagmaWideLevelsAvailable()); ++trial) {
        const int level = trial / 3;  // 0 portable, then each vector level
        kcar::gost::MagmaWideForce(level);
        SCOPED_TRACE(std::string("path ") + kcar::gost::MagmaWidePath());
        const Bytes sbox = rnd.bytes(64), key = rnd.bytes(32), sync = rnd.bytes(8);
        TGostCipher start;
        MagmaInit(&start, sbox.data(), key.data());
        MagmaSetSync(&start, sync.data());
        for (uint32_t len : lengths) {
            for (uint32_t first : {0u, 3u}) {
                if (first > len) continue;
                SCOPED_TRACE("trial " + std::to_string(trial) + " len " + std::to_string(len) + " first " +
                             std::to_string(first));
                const Bytes msg = rnd.bytes(len);
                for (int op = 0; op < 6; ++op) {
                    TGostCipher c = start;
                    ref::Cipher r(sbox.data(), key.data(), sync.data());
                    Bytes mine = msg, theirs = msg;
                    auto run = [&](uint8_t *p, uint32_t n) {
                        switch (op) {
                            case 0: MagmaM1Encrypt(&c, p, n); break;
                            case 1: MagmaM1Decrypt(&c, p, n); break;
                            case 2: MagmaM2Encrypt(&c, p, n); break;
                            case 3: MagmaM3Encrypt(&c, p, n); break;
                            case 4: MagmaM3Decrypt(&c, p, n); break;
                            case 5: MagmaMAC(&c, p, n); break;
                        }
                    };
                    if (op < 2) {
                        run(mine.data(), len);
                        r.M1(theirs.data(), len, op == 0);
                    } else {
                        run(mine.data(), first);
                        run(mine.data() + first, len - first);
                        if (op == 2) r.M2(theirs.data(), len);
                        if (op == 3 || op == 4) r.M3(theirs.data(), len, op == 3);
                        if (op == 5) r.Mac(theirs.data(), len);
                    }
                    ASSERT_EQ(Hex(mine), Hex(theirs)) << "op " << op;
                    if (op >= 2 && op <= 4) {
                        ASSERT_EQ(Hex(c.Sync, 8), Hex(r.sync, 8)) << "op " << op;
                        ASSERT_EQ(c.Pos, r.pos) << "op " << op;
                    }
                    if (op == 2 && r.pos != 0) {
                        ASSERT_EQ(Hex(c.Gamma, 8), Hex(r.gamma, 8));
                    }
                    if (op == 5) {
                        uint8_t a[8], b[8];
                        MagmaGetMAC(&c, a);
                        r.MacFinal(b);
                        ASSERT_EQ(Hex(a, 8), Hex(b, 8));
                    }
                }
            }
        }
    }
    kcar::gost::MagmaWideForce(-1);
}

TEST(GostSetup, EverySetupCallRestartsStreamAndMac) {
    const uint8_t sync[8] = {1, 2, 3, 4, 5, 6, 7, 8}, other[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    const std::pair<const char *, std::function<void(TGostCipher *)>> calls[] = {
        {"MagmaSetUz", [](TGostCipher *c) { MagmaSetUz(c, UzUa01); }},
        {"MagmaSetKey", [](TGostCipher *c) { MagmaSetKey(c, Uz34311); }},
        {"MagmaSetSync", [&](TGostCipher *c) { MagmaSetSync(c, other); }},
        {"MagmaClearSync", [](TGostCipher *c) { MagmaClearSync(c); }},
        {"MagmaReset", [](TGostCipher *c) { MagmaReset(c); }},
    };
    for (const auto &[name, call] : calls) {
        SCOPED_TRACE(name);
        TGostCipher c;
        MagmaInit(&c, Uz34311, UzUa01);
        MagmaSetSync(&c, sync);
        uint8_t data[5] = {};
        MagmaM2Encrypt(&c, data, 5);
        MagmaMAC(&c, data, 3);
        call(&c);
        EXPECT_EQ(0, std::memcmp(c.Sync, c.SyncInit, 8));
        const uint8_t zero[8] = {};
        EXPECT_EQ(0, std::memcmp(c.Mac, zero, 8));
        EXPECT_EQ(c.Pos, 0u);
        EXPECT_EQ(c.MacPos, 0u);
        EXPECT_EQ(c.GammaStart, 1);
    }
}

TEST(GostSetup, DoneWipesTheWholeRecord) {
    TGostCipher c;
    MagmaInit(&c, Uz34311, UzUa01);
    uint8_t data[13] = {};
    MagmaM2Encrypt(&c, data, 13);
    MagmaMAC(&c, data, 13);
    MagmaDone(&c);
    TGostCipher wiped;
    std::memset(&wiped, 0, sizeof wiped);
    wiped.GammaStart = 1;  // a cleared sync, ready to start
    EXPECT_TRUE(SameRecord(c, wiped));
}

}  // namespace
