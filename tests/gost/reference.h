// The obvious, slow form of the cipher, its modes, the MAC and the hash: expanded
// byte substitution tables, a separate rotation, one byte at a time. The
// library's fast paths must give exactly these results.
#pragma once

#include <cstdint>
#include <cstring>

namespace gosttest::ref {

struct Cipher {
    uint8_t subst[4][256];
    uint32_t rk[48];
    uint8_t sync[8], syncInit[8], gamma[8], mac[8];
    bool gammaStart = true;
    unsigned pos = 0, macPos = 0;

    Cipher(const uint8_t *sbox64, const uint8_t *key32, const uint8_t *sync8 = nullptr) {
        for (int k = 0; k < 4; ++k)
            for (int b = 0; b < 256; ++b)
                subst[k][b] = uint8_t((sbox64[16 * k + (b & 15)] & 0x0F) + (sbox64[16 * k + (b >> 4)] & 0xF0));
        uint32_t key[8];
        for (int i = 0; i < 8; ++i) key[i] = Get(key32 + 4 * i);
        for (int i = 0; i < 48; ++i) rk[i] = i < 24 ? key[i % 8] : key[7 - i % 8];
        std::memset(syncInit, 0, 8);
        if (sync8) std::memcpy(syncInit, sync8, 8);
        std::memcpy(sync, syncInit, 8);
        std::memset(mac, 0, 8);
    }

    static uint32_t Get(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
    static void Put(uint8_t *p, uint32_t v) {
        for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
    }

    void Cycle(uint8_t *blk, const uint32_t *keys, int rounds) const {
        uint32_t a = Get(blk), b = Get(blk + 4);
        for (int r = 0; r < rounds; ++r) {
            uint32_t s = a + keys[r], t = 0;
            for (int k = 0; k < 4; ++k) t |= uint32_t(subst[k][(s >> (8 * k)) & 0xFF]) << (8 * k);
            t = (t << 11) | (t >> 21);
            uint32_t na = b ^ t;
            b = a;
            a = na;
        }
        Put(blk, b);
        Put(blk + 4, a);
    }
    void Enc(uint8_t *blk) const { Cycle(blk, rk, 32); }
    void Dec(uint8_t *blk) const { Cycle(blk, rk + 16, 32); }

    void M1(uint8_t *p, size_t len, bool enc) const {
        for (size_t i = 0; i + 8 <= len; i += 8) enc ? Enc(p + i) : Dec(p + i);
    }

    static void AddC1C2(uint8_t *r) {
        Put(r, Get(r) + 0x01010101u);
        uint64_t n4 = uint64_t(Get(r + 4)) + 0x01010104u;
        if (n4 >> 32) n4 = (n4 & 0xFFFFFFFFu) + 1;
        Put(r + 4, uint32_t(n4));
    }

    void M2(uint8_t *p, size_t len) {
        if (len == 0) return;
        if (gammaStart) {
            Enc(sync);
            gammaStart = false;
        }
        for (size_t i = 0; i < len; ++i) {
            if (pos == 0) {
                AddC1C2(sync);
                std::memcpy(gamma, sync, 8);
                Enc(gamma);
            }
            p[i] ^= gamma[pos];
            pos = (pos + 1) % 8;
        }
    }

    void M3(uint8_t *p, size_t len, bool enc) {
        for (size_t i = 0; i < len; ++i) {
            if (pos == 0) Enc(sync);
            uint8_t in = p[i];
            p[i] = uint8_t(in ^ sync[pos]);
            sync[pos] = enc ? p[i] : in;
            pos = (pos + 1) % 8;
        }
    }

    void MacTransform() {
        Cycle(mac, rk, 16);
        uint8_t t[4];
        std::memcpy(t, mac, 4);
        std::memmove(mac, mac + 4, 4);
        std::memcpy(mac + 4, t, 4);
    }
    void Mac(const uint8_t *p, size_t len) {
        for (size_t i = 0; i < len; ++i) {
            mac[macPos] ^= p[i];
            macPos = (macPos + 1) % 8;
            if (macPos == 0) MacTransform();
        }
    }
    void MacFinal(uint8_t *out8) {
        if (macPos != 0) {
            macPos = 0;
            MacTransform();
        }
        std::memcpy(out8, mac, 8);
    }
};

// Hash, byte-wise, 256-bit values as little-endian byte arrays.
struct Hash {
    const uint8_t *sbox;
    uint8_t h[32], sum[32] = {}, length[32] = {}, block[32] = {};
    unsigned blockPos = 0;

    Hash(const uint8_t *sbox64, const uint8_t *start32) : sbox(sbox64) {
        std::memset(h, 0, 32);
        if (start32) std::memcpy(h, start32, 32);
    }

    static void A(uint8_t *y) {
        uint8_t t[32];
        for (int i = 0; i < 24; ++i) t[i] = y[i + 8];
        for (int i = 0; i < 8; ++i) t[24 + i] = uint8_t(y[i] ^ y[8 + i]);
        std::memcpy(y, t, 32);
    }
    static void P(uint8_t *out, const uint8_t *in) {
        for (int k = 0; k < 8; ++k)
            for (int i = 0; i < 4; ++i) out[4 * k + i] = in[k + 8 * i];
    }
    static void Psi(uint8_t *y) {
        uint16_t w[16];
        for (int i = 0; i < 16; ++i) w[i] = uint16_t(y[2 * i] | y[2 * i + 1] << 8);
        uint16_t top = uint16_t(w[0] ^ w[1] ^ w[2] ^ w[3] ^ w[12] ^ w[15]);
        for (int i = 0; i < 15; ++i) w[i] = w[i + 1];
        w[15] = top;
        for (int i = 0; i < 16; ++i) {
            y[2 * i] = uint8_t(w[i]);
            y[2 * i + 1] = uint8_t(w[i] >> 8);
        }
    }
    static void Add(uint8_t *a, const uint8_t *b) {
        unsigned c = 0;
        for (int i = 0; i < 32; ++i) {
            c += a[i] + b[i];
            a[i] = uint8_t(c);
            c >>= 8;
        }
    }

    void Step(uint8_t *hv, const uint8_t *m) const {
        static const uint8_t c3[32] = {0x00, 0xff, 0x00, 0xff, 0x00, 0xff, 0x00, 0xff, 0xff, 0x00, 0xff,
                                       0x00, 0xff, 0x00, 0xff, 0x00, 0x00, 0xff, 0xff, 0x00, 0xff, 0x00,
                                       0x00, 0xff, 0xff, 0x00, 0x00, 0x00, 0xff, 0xff, 0x00, 0xff};
        uint8_t u[32], v[32], w[32], k[4][32];
        std::memcpy(u, hv, 32);
        std::memcpy(v, m, 32);
        for (int j = 0; j < 4; ++j) {
            if (j > 0) {
                A(u);
                if (j == 2)
                    for (int i = 0; i < 32; ++i) u[i] ^= c3[i];
                A(v);
                A(v);
            }
            for (int i = 0; i < 32; ++i) w[i] = u[i] ^ v[i];
            P(k[j], w);
        }
        uint8_t s[32];
        std::memcpy(s, hv, 32);
        for (int i = 0; i < 4; ++i) Cipher(sbox, k[i]).Enc(s + 8 * i);
        for (int i = 0; i < 12; ++i) Psi(s);
        for (int i = 0; i < 32; ++i) s[i] ^= m[i];
        Psi(s);
        for (int i = 0; i < 32; ++i) hv[i] ^= s[i];
        for (int i = 0; i < 61; ++i) Psi(hv);
    }

    void Update(const uint8_t *p, size_t len) {
        static const uint8_t l256[32] = {0, 1};
        for (size_t i = 0; i < len; ++i) {
            block[blockPos] = p[i];
            blockPos = (blockPos + 1) % 32;
            if (blockPos == 0) {
                Add(length, l256);
                Add(sum, block);
                Step(h, block);
            }
        }
    }

    void Final(uint8_t *out) const {
        uint8_t hv[32], s[32], l[32], b[32] = {};
        std::memcpy(hv, h, 32);
        std::memcpy(s, sum, 32);
        std::memcpy(l, length, 32);
        if (blockPos != 0) {
            std::memcpy(b, block, blockPos);
            uint8_t bits[32] = {uint8_t(8 * blockPos), uint8_t((8 * blockPos) >> 8)};
            Add(l, bits);
            Add(s, b);
            Step(hv, b);
        }
        Step(hv, l);
        Step(hv, s);
        std::memcpy(out, hv, 32);
    }
};

}  // namespace gosttest::ref
