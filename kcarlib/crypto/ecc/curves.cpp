// Curve contexts: field and curve setup, the standard curves, the validity checks
// of DSTU 4145-2002 and random generation of elements, integers and base points.
// Elements and integers are 16 little-endian 32-bit words.
#include <cstring>

#include "crypto/ecc/ecc_internal.h"
#include "crypto/secure_wipe.h"

namespace kcar::ecc {

namespace {

struct StdCurve {
    int m;
    int onb;
    int a;
    const char *b;
};

// n depends only on m; b is given in the basis named.
struct StdOrder {
    int m;
    const char *n;
};

constexpr StdOrder kOrders[] = {
    {163, "400000000000000000002BEC12BE2262D39BCF14D"},
    {167, "3FFFFFFFFFFFFFFFFFFFFFB12EBCC7D7F29FF7701F"},
    {173, "800000000000000000000189B4E67606E3825BB2831"},
    {179, "3FFFFFFFFFFFFFFFFFFFFFFB981960435FE5AB64236EF"},
    {191, "40000000000000000000000069A779CAC1DABC6788F7474F"},
    {233, "1000000000000000000000000000013E974E72F8A6922031D2603CFE0D7"},
    {257, "800000000000000000000000000000006759213AF182E987D3E17714907D470D"},
    {307, "3FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFC079C2F3825DA70D390FBBA588D4604022B7B7"},
    {367, "40000000000000000000000000000000000000000000009C300B75A3FA824F22428FD28CE8812245EF44049B2D49"},
    {431, "3FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFBA3175458009A8C0A724F02F81AA8A1FCBAF80D90C7A95110504CF"},
    {509, "10000000000000000000000000000000000000000000000000000000000000001DD401302388FE904935573948ED58F7E13242A783052CC89E34020362A758F9"},
};

constexpr StdCurve kCurves[] = {
    {163, 0, 1, "5FF6108462A2DC8210AB403925E638A19C1455D21"},
    {167, 0, 1, "6EE3CEEB230811759F20518A0930F1A4315A827DAC"},
    {173, 0, 0, "108576C80499DB2FC16EDDF6853BBB278F6B6FB437D9"},
    {179, 0, 1, "4A6E0856526436F2F88DD07A341E32D04184572BEB710"},
    {191, 0, 1, "7BC86E2102902EC4D5890E8B6B4981FF27E0482750FEFC03"},
    {233, 0, 1, "06973B15095675534C7CF7E64A21BD54EF5DD3B8A0326AA936ECE454D2C"},
    {257, 0, 0, "1CEF494720115657E18F938D7A7942394FF9425C1458C57861F9EEA6ADBE3BE10"},
    {307, 0, 1, "393C7F7D53666B5054B5E6C6D3DE94F4296C0C599E2E2E241050DF18B6090BDC90186904968BB"},
    {367, 0, 1, "43FC8AD242B0B7A6F3D1627AD5654447556B47BF6AA4A64B0C2AFE42CADAB8F93D92394C79A79755437B56995136"},
    {431, 0, 1, "03CE10490F6A708FC26DFE8C3D27C4F94E690134D5BFF988D8D28AAEAEDE975936C66BAC536B18AE2DC312CA493117DAA469C640CAF3"},
    {509, 0, 1, "17A7821EB5205A6B8E8409CBB4BB4CAF3D393CA9641A0A7676E629AE52186F08966DC8743D8AE3A08D14FB95D997A3717FBC08AD85EEB78090E8BA6242DD0532"},
    {173, 1, 0, "043D7E139319F43BA00944915740E1E6651B06E278C7"},
    {179, 1, 1, "19C9EBC4FD8308193D3A61762C547C82F2E6B2182CBCB"},
    {191, 1, 1, "13871C9D29D6CEEA740FD57444F72FDBAE559C13A1E31EF8"},
    {233, 1, 1, "080F920952A702C75B704A424C018EEA55AA44664F3A003E0962D4F9A8E"},
    {431, 1, 1, "53FB7AF7B4407000A6F226AD6BAD28378646BD83F1F940810A4C19536EE65E53F40F973F2F06C5E80EFE3B43651BD5FF8B06BA5F9299"},
    {509, 1, 1, "197D9BE30EE2381E551DA2A0386EA6277DFB60F51D81364F2C4B2F3500F31ADCF9C012AE648360378360E15E41640418CD4A8B845536B9F3A2B3BFD1D1ADE6A3"},
};

// m / 2 of the degrees that have an optimal normal basis of type II.
constexpr uint8_t kBasisTabOnb[14] = {86, 89, 95, 116, 119, 125, 140, 146, 179, 209, 215, 221, 245, 254};

constexpr int kMinDegree = 163;
constexpr int kMaxDegree = 509;

bool DegreeListed(const uint8_t *table, int count, int m) {
    return m >= kMinDegree && m <= kMaxDegree && (m & 1) && lookup(table, count, m / 2);
}

// The IPolTabStd entry for m, or -1.
int StdPolyIndex(int m) {
    if (m < kMinDegree || m > kMaxDegree || !(m & 1)) return -1;
    for (int i = 0; i < 60; ++i)
        if (static_cast<int>(IPolTabStd[i] & 0xFF) == m / 2) return i;
    return -1;
}

int RandomBit(const TEcc *ecc) { return ecc->RandFunc(ecc->RandCtx) & 1; }

}  // namespace

void S2B(uint32_t *out, const char *hex) {
    std::memset(out, 0, sizeof(uint32_t) * kWords);
    const size_t len = std::strlen(hex);
    for (size_t i = 0; i < len && i < 4 * kWords * 2; ++i) {
        const char c = hex[len - 1 - i];
        const uint32_t d = (c >= 'A') ? static_cast<uint32_t>(c - 'A' + 10) : static_cast<uint32_t>(c - '0');
        out[i / 8] |= (d & 0xF) << (4 * (i % 8));
    }
}

int GetStandardCurve(int m, int onb, int *a, uint32_t *b, uint32_t *n) {
    for (const StdCurve &c : kCurves) {
        if (c.m != m || c.onb != (onb ? 1 : 0)) continue;
        for (const StdOrder &o : kOrders) {
            if (o.m != m) continue;
            *a = c.a;
            S2B(b, c.b);
            S2B(n, o.n);
            return 1;
        }
    }
    return 0;
}

int VecGenRandom(const TEcc *ecc, uint32_t *out, int bits) {
    if (ecc->RandFunc == nullptr) return 0;
    for (int w = 0; 32 * w < bits; ++w) {
        out[w] = 0;
        for (int j = 0; j < 32 && 32 * w + j < bits; ++j)
            out[w] |= static_cast<uint32_t>(RandomBit(ecc)) << j;
    }
    if (bits % 8)
        for (int i = bits % 8; i < 8; ++i) (void)RandomBit(ecc);
    return 1;
}

int BaseGenRandom(const TEcc *ecc, uint32_t *out) {
    if (ecc->M == 0) return 0;
    BaseClear(out);
    return VecGenRandom(ecc, out, static_cast<int>(ecc->M));
}

int IntGenRandom(const TEcc *ecc, uint32_t *out) {
    IntClear(out);
    return VecGenRandom(ecc, out, IntDegree(ecc->N));
}

int VerifyPrimitive(const TEcc *ecc) {
    const int m = static_cast<int>(ecc->M);
    uint32_t x[kWords] = {}, r[kWords], g[kWords], one[kWords] = {1};
    BitSet(x, 1);
    BaseCopy(x, r);
    // Irreducible: no factor of degree up to m / 2, i.e. gcd(x^(2^i) - x, f) = 1.
    for (int i = 1; i <= m / 2; ++i) {
        FieldSquare(ecc, r, r);
        BaseCopy(r, g);
        BaseSum(g, x);
        BaseGcd(g, ecc->Poly);
        if (!BaseIsEqual(g, one)) return 0;
    }
    // Primitive: x^((2^m - 1) / q) != 1 for every prime q dividing 2^m - 1.
    const uint32_t *entry = FactorTab;
    while (*entry != 0 && static_cast<int>(*entry) != m / 2) entry += 1 + entry[1];
    if (*entry == 0) return 0;
    const uint32_t count = entry[2];
    const uint32_t *factors = entry + 3;
    for (uint32_t q = 0; q < count; ++q) {
        uint32_t e[kWords] = {1};
        const uint32_t *g2 = factors;
        for (uint32_t j = 0; j < count; ++j) {
            if (j != q) {
                uint32_t v[kWords] = {};
                std::memcpy(v, g2 + 1, sizeof(uint32_t) * g2[0]);
                IntMul(e, v);
            }
            g2 += 1 + g2[0];
        }
        uint32_t t[kWords];
        BaseCopy(x, t);
        BaseExp(ecc, t, e);
        if (BaseIsEqual(t, one)) return 0;
    }
    return 1;
}

int IntIsPrime(const TEcc *ecc, const uint32_t *n) {
    if (!(n[0] & 1u) || ecc->RandFunc == nullptr) return 0;
    uint32_t nm1[kWords], d[kWords];
    IntCopy(n, nm1);
    IntDec(nm1, 1);
    IntCopy(nm1, d);
    int s = 0;
    while (!IntIsZero(d) && !(d[0] & 1u)) {
        IntDivBy2(d);
        ++s;
    }
    for (int round = 0; round < 50; ++round) {
        uint32_t a[kWords];
        int draw = 0;
        do {
            if (!IntGenRandom(ecc, a) || ++draw > kMaxRandomDraws) return 0;  // a broken source
        } while (IntIsZero(a) || IntIsOne(a));
        IntExpMod(a, d, n);
        if (IntIsOne(a) || IntIsEqual(a, nm1)) continue;
        for (int i = 1; i < s; ++i) {
            IntMulMod(a, a, n);
            if (IntIsOne(a)) return 0;
            if (IntIsEqual(a, nm1)) break;
        }
        if (!IntIsEqual(a, nm1)) return 0;
    }
    return 1;
}

int VerifyMOV(const TEcc *ecc) {
    uint32_t q[kWords] = {2}, u[kWords] = {1};
    for (int64_t i = 1; i < ecc->M; ++i) {
        uint32_t t[kWords];
        IntCopy(q, t);
        IntAddMod(q, t, ecc->N);
    }
    for (int k = 1; k <= 32; ++k) {
        IntMulMod(u, q, ecc->N);
        if (IntIsOne(u)) return 0;
    }
    return 1;
}

}  // namespace kcar::ecc

using namespace kcar::ecc;

extern "C" {

KCARLIB_API void EccInit(TEcc *ecc, TEccRandFunc rand_func, void *rand_ctx) {
    std::memset(ecc, 0, sizeof(TEcc));
    ecc->RandFunc = rand_func;
    ecc->RandCtx = rand_ctx;
}

KCARLIB_API void EccDone(TEcc *ecc) {
    const TEccRandFunc f = ecc->RandFunc;
    void *ctx = ecc->RandCtx;
    kcar::SecureWipe(ecc, sizeof(TEcc));
    ecc->RandFunc = f;
    ecc->RandCtx = ctx;
}

KCARLIB_API int32_t EccSetBaseField(TEcc *ecc, int32_t m, int32_t k1, int32_t k2, int32_t k3) {
    if ((k2 == 0) != (k3 == 0)) return 0;
    if (k1 == 0 && k2 != 0) return 0;
    if (!(m & 1)) return 0;
    if (k1 != 0) {
        if (!DegreeListed(BasisTabPoly, 60, m)) return 0;
    } else if (!DegreeListed(kBasisTabOnb, 14, m)) {
        return 0;
    }
    if (k1 < 0 || k2 < 0 || k3 < 0 || k1 >= m || k2 >= m || k3 >= m) return 0;
    ecc->Onb = k1 == 0 ? 1 : 0;
    ecc->M = m;
    ecc->K1 = k1;
    ecc->K2 = k2;
    ecc->K3 = k3;
    ecc->Words = (m + 31) / 32;
    BaseClear(ecc->Poly);
    BitSet(ecc->Poly, m);
    BitSet(ecc->Poly, k1);
    BitSet(ecc->Poly, k2);
    BitSet(ecc->Poly, k3);
    BitSet(ecc->Poly, 0);
    IntClear(ecc->N);
    ecc->BasePointSet = 0;
    ecc->SigLen = 0;
    return 1;
}

KCARLIB_API int32_t EccSetStdField(TEcc *ecc, int32_t m, int32_t onb) {
    if (onb) return EccSetBaseField(ecc, m, 0, 0, 0);
    const int i = StdPolyIndex(m);
    if (i < 0) return 0;
    const uint32_t e = IPolTabStd[i];
    return EccSetBaseField(ecc, m, (e >> 8) & 0xFF, (e >> 16) & 0xFF, e >> 24);
}

KCARLIB_API int32_t EccSetCurve(TEcc *ecc, int32_t a, const uint32_t *b, const uint32_t *n) {
    if (ecc->M == 0 || (a != 0 && a != 1)) return 0;
    if (!BaseOnField(ecc, b) || BaseIsZero(b)) return 0;
    if (n[0] == 0 || !BaseOnField(ecc, n)) return 0;
    ecc->A = a;
    BaseCopy(b, ecc->B);
    IntCopy(n, ecc->N);
    ecc->BasePointSet = 0;
    ecc->SigLen = 2 * ((IntDegree(n) + 8) / 8);
    return 1;
}

// Works on a copy so that a refusal at any stage leaves the context unchanged.
KCARLIB_API int32_t EccSetStdCurve(TEcc *ecc, int32_t m, int32_t onb) {
    TEcc t;
    std::memcpy(&t, ecc, sizeof t);
    int a = 0;
    uint32_t b[kWords], n[kWords];
    if (!GetStandardCurve(m, onb, &a, b, n)) return 0;
    if (!EccSetStdField(&t, m, onb) || !EccSetCurve(&t, a, b, n)) return 0;
    std::memcpy(ecc, &t, sizeof t);
    return 1;
}

KCARLIB_API int32_t EccSetBasePoint(TEcc *ecc, const TEcPoint *p) {
    if (ecc->N[0] == 0) return 0;
    if (!BaseOnField(ecc, p->x) || !BaseOnField(ecc, p->y) || BaseIsZero(p->x)) return 0;
    PointCopy(p, &ecc->P);
    ecc->BasePointSet = 1;
    return 1;
}

KCARLIB_API int32_t EccVerifyField(const TEcc *ecc) {
    if (ecc->M == 0) return 0;
    if (ecc->Onb) return 1;
    const int i = StdPolyIndex(static_cast<int>(ecc->M));
    if (i >= 0) {
        const uint32_t e = IPolTabStd[i];
        if (ecc->K1 == ((e >> 8) & 0xFF) && ecc->K2 == ((e >> 16) & 0xFF) && ecc->K3 == (e >> 24))
            return 1;
    }
    return VerifyPrimitive(ecc);
}

KCARLIB_API int32_t EccVerifyCurve(const TEcc *ecc) {
    if (ecc->N[0] == 0 || !IntIsPrime(ecc, ecc->N)) return 0;
    const int m = static_cast<int>(ecc->M);
    const int dn = IntDegree(ecc->N);
    if (m > 316) {
        if (dn <= m / 2 + 2) {
            // n must exceed 4 * sqrt(2^m).
            uint32_t t[kWords], one[kWords] = {1}, four[kWords] = {4};
            IntCopy(Sqrt2u509, t);
            BaseMulByXn(t, -((509 - m) / 2));
            IntAdd(t, one);
            IntMul(t, four);
            if (IntCmp(ecc->N, t) < 0) return 0;
        }
    } else if (dn <= 159) {
        return 0;
    }
    return VerifyMOV(ecc);
}

KCARLIB_API int32_t EccVerifyPublicKey(const TEcc *ecc, const TEcPoint *q) {
    if (ecc->N[0] == 0) return 0;
    if (!BaseOnField(ecc, q->x) || !BaseOnField(ecc, q->y)) return 0;
    if (EccPointIsInfinity(q) || !PointOnCurve(ecc, q)) return 0;
    TEcPoint r;
    EccScalarMul(ecc, ecc->N, q, &r);
    return EccPointIsInfinity(&r);
}

KCARLIB_API int32_t EccVerifyBasePoint(const TEcc *ecc) { return EccVerifyPublicKey(ecc, &ecc->P); }

KCARLIB_API int32_t EccGenerateBasePoint(const TEcc *ecc, TEcPoint *out) {
    if (ecc->N[0] == 0 || ecc->RandFunc == nullptr) return 0;
    for (int attempt = 0; attempt < 400; ++attempt) {
        uint32_t u[kWords], w[kWords], t[kWords], z[kWords];
        if (!BaseGenRandom(ecc, u)) return 0;
        // w = u^3 + a*u^2 + b
        FieldSquare(ecc, t, u);
        FieldMul(ecc, w, t, u);
        if (ecc->A == 1) BaseSum(w, t);
        BaseSum(w, ecc->B);
        if (BaseRootOfQuadraticEq(ecc, u, w, z) == 0) continue;
        PointMake(out, u, z);
        if (EccVerifyPublicKey(ecc, out)) return 1;
    }
    return 0;
}

}  // extern "C"
