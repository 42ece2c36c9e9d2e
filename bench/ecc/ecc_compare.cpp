// Our DSTU 4145 code against OpenSSL on the very same curves, side by side in one
// process: OpenSSL is given each standard polynomial-basis curve (field polynomial,
// a, b, a base point we generate, n and the cofactor) and the same key. Both sides
// are timed in CPU time of this thread, in alternating rounds; the table shows the
// median time per operation of each side and the ratio theirs / ours.
//
// Scalar multiplication is EccScalarMul against EC_POINT_mul of a non-generator
// point; signing and verification against ECDSA on the same curve and key. The
// normal-basis curves are compared with our polynomial basis of the same degree.
//
//   ecc_compare [seconds per round, default 0.2] [rounds, default 5]
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/obj_mac.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "crypto/ecc/ecc_internal.h"
#include "kcarlib/ecc.h"

namespace {

using namespace kcar::ecc;

struct Rng {
    uint64_t s = 0x243F6A8885A308D3ull;
    uint64_t Next() {
        s ^= s >> 12;
        s ^= s << 25;
        s ^= s >> 27;
        return s * 0x2545F4914F6CDD1Dull;
    }
    static int32_t Bit(void *ctx) { return static_cast<int32_t>(static_cast<Rng *>(ctx)->Next() >> 63); }
};

double CpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double g_round = 0.2;
int g_rounds = 5;

// CPU seconds per call of f, over one round.
template <class F>
double PerOp(F &&f) {
    long n = 0;
    const double start = CpuSeconds();
    double now = start;
    do {
        f();
        ++n;
        now = CpuSeconds();
    } while (now - start < g_round);
    return (now - start) / static_cast<double>(n);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Median time per operation of both sides, measured in alternating rounds.
template <class A, class B>
void Compare(const char *what, int m, A &&ours, B &&theirs, const char *peer) {
    std::vector<double> a, b;
    for (int r = 0; r < g_rounds; ++r) {
        a.push_back(PerOp(ours));
        b.push_back(PerOp(theirs));
    }
    const double ma = Median(a), mb = Median(b);
    std::printf("%-24s %4d  %10.1f us  %10.1f us  %6.2fx  (%s)\n", what, m, ma * 1e6, mb * 1e6, mb / ma, peer);
    std::fflush(stdout);
}

BIGNUM *ToBn(const uint32_t *w) {
    uint8_t be[64];
    for (int i = 0; i < 64; ++i) be[63 - i] = static_cast<uint8_t>(w[i / 4] >> (8 * (i % 4)));
    return BN_bin2bn(be, 64, nullptr);
}

struct Ours {
    Rng rng;
    TEcc ecc;
    uint32_t d[16] = {}, k[16] = {};
    TEcPoint q;
    bool Set(int m, int onb) {
        EccInit(&ecc, &Rng::Bit, &rng);
        TEcPoint p;
        if (!EccSetStdCurve(&ecc, m, onb) || !EccGenerateBasePoint(&ecc, &p) || !EccSetBasePoint(&ecc, &p))
            return false;
        EccGeneratePrivateKey(&ecc, d);
        EccCalcPublicKey(&ecc, d, &q);
        EccGeneratePrivateKey(&ecc, k);
        return true;
    }
};

const char *PathOf(const TEcc *ecc) {
    if (ecc->Onb) return "normal basis";
    if (StdClmulFieldFor(ecc)) return "carry-less, specialised field";
    if (ClmulUsable(ecc)) return "carry-less";
    return "portable";
}

std::string CpuModel() {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
    return "unknown";
}

void ComparePolynomialCurve(int m) {
    Ours o;
    if (!o.Set(m, 0)) {
        std::printf("%d: set-up failed\n", m);
        std::exit(1);
    }
    const TEcc &e = o.ecc;
    BN_CTX *ctx = BN_CTX_new();
    BIGNUM *p = BN_new(), *a = BN_new();
    for (int64_t bit : {e.M, e.K1, e.K2, e.K3, int64_t{0}}) BN_set_bit(p, static_cast<int>(bit));
    BN_set_word(a, static_cast<BN_ULONG>(e.A));
    BIGNUM *b = ToBn(e.B), *n = ToBn(e.N), *h = BN_new(), *d = ToBn(o.d), *k = ToBn(o.k);
    BN_set_word(h, e.A ? 2 : 4);
    EC_GROUP *group = EC_GROUP_new_curve_GF2m(p, a, b, ctx);
    EC_POINT *g = EC_POINT_new(group), *q = EC_POINT_new(group), *r = EC_POINT_new(group);
    BIGNUM *gx = ToBn(e.P.x), *gy = ToBn(e.P.y), *qx = ToBn(o.q.x), *qy = ToBn(o.q.y);
    if (!group || !EC_POINT_set_affine_coordinates(group, g, gx, gy, ctx) ||
        !EC_GROUP_set_generator(group, g, n, h) || !EC_POINT_set_affine_coordinates(group, q, qx, qy, ctx)) {
        std::printf("%d: OpenSSL refused the curve\n", m);
        std::exit(1);
    }
    // The peer computes our public key -d*P from our private key: the same curve.
    EC_POINT_mul(group, r, d, nullptr, nullptr, ctx);
    EC_POINT_invert(group, r, ctx);
    if (EC_POINT_cmp(group, r, q, ctx) != 0) {
        std::printf("%d: OpenSSL and kcarlib disagree on d*P\n", m);
        std::exit(1);
    }
    EC_KEY *key = EC_KEY_new();
    EC_KEY_set_group(key, group);
    EC_KEY_set_private_key(key, d);
    EC_POINT_mul(group, r, d, nullptr, nullptr, ctx);  // ECDSA's public key is d*P
    EC_KEY_set_public_key(key, r);

    TEcPoint out;
    Compare("scalar multiplication", m, [&] { EccScalarMul(&e, o.k, &o.q, &out); },
            [&] { EC_POINT_mul(group, r, nullptr, q, k, ctx); }, "EC_POINT_mul");
    uint8_t hash[32];
    for (int i = 0; i < 32; ++i) hash[i] = static_cast<uint8_t>(o.rng.Next());
    uint8_t sig[128];
    Compare("sign", m, [&] { EccSignHash(&e, o.d, hash, sig); },
            [&] { ECDSA_SIG_free(ECDSA_do_sign(hash, 32, key)); }, "ECDSA_do_sign");
    ECDSA_SIG *theirs = ECDSA_do_sign(hash, 32, key);
    EccSignHash(&e, o.d, hash, sig);
    if (EccCheckHash(&e, &o.q, hash, sig, 0) != 1 || ECDSA_do_verify(hash, 32, theirs, key) != 1) {
        std::printf("%d: a signature does not verify\n", m);
        std::exit(1);
    }
    Compare("verify", m, [&] { EccCheckHash(&e, &o.q, hash, sig, 0); },
            [&] { ECDSA_do_verify(hash, 32, theirs, key); }, "ECDSA_do_verify");
    ECDSA_SIG_free(theirs);
    EC_KEY_free(key);
    EC_POINT_free(g);
    EC_POINT_free(q);
    EC_POINT_free(r);
    EC_GROUP_free(group);
    for (BIGNUM *x : {p, a, b, n, h, d, k, gx, gy, qx, qy}) BN_free(x);
    BN_CTX_free(ctx);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc > 1) g_round = std::atof(argv[1]);
    if (argc > 2) g_rounds = std::atoi(argv[2]);
    std::printf("CPU: %s\n", CpuModel().c_str());
    {
        TEcc t;
        EccInit(&t, nullptr, nullptr);
        EccSetStdField(&t, 163, 0);
        std::printf("field path: %s; %d rounds of %.2f s CPU per side, medians\n", PathOf(&t), g_rounds, g_round);
    }
    std::printf("%-24s %4s  %13s  %13s  %7s\n", "operation", "m", "ours", "peer", "peer/ours");
    for (int m : {163, 167, 173, 179, 191, 233, 257, 307, 367, 431, 509}) ComparePolynomialCurve(m);
    for (int m : {173, 179, 191, 233, 431, 509}) {
        Ours nb, pb;
        if (!nb.Set(m, 1) || !pb.Set(m, 0)) return 1;
        TEcPoint out;
        Compare("normal-basis scalar mul", m, [&] { EccScalarMul(&nb.ecc, nb.k, &nb.q, &out); },
                [&] { EccScalarMul(&pb.ecc, pb.k, &pb.q, &out); }, "our polynomial basis");
    }
    return 0;
}
