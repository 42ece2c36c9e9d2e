// Certificate writes cut at every exchange: the card pulled before the exchange
// (the piece is not written), or the answer lost after it (the piece is written but
// the library sees a failure). Afterwards a new session must read the old store or
// the new one; only inside the write's short window may it read a damaged container
// (114), never a store of its own, and a damaged container is replaced by the next
// whole-store write.
#include <cstring>
#include <functional>
#include <string>

#include "session_fixture.h"

using namespace sessiontest;

namespace {

Bytes Noise(std::size_t n, uint32_t seed) {
    Bytes b(n);
    for (auto &v : b) v = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
    return b;
}

// Certificates that pack to a few hundred bytes: text with repeats and some noise.
Bytes Certificate(int i, std::size_t n) {
    std::string text;
    while (text.size() < n) text += "certificate " + std::to_string(i) + " of the token owner; ";
    Bytes b(text.begin(), text.begin() + n);
    Bytes noise = Noise(n / 4, 77u + i);
    std::copy(noise.begin(), noise.end(), b.begin() + n / 2);
    return b;
}

using Op = std::function<uint32_t(NKI_CONTEXT)>;

// What a session reads from the token's store: every certificate and the CA
// certificate, or the code that stopped the reading.
struct Snapshot {
    uint32_t rc = 0;
    std::vector<Bytes> certs;
    Bytes ca;
    bool operator==(const Snapshot &o) const { return rc == o.rc && certs == o.certs && ca == o.ca; }
};

Snapshot Read(NKI_CONTEXT c) {
    Snapshot s;
    uint32_t length = 0;
    uint32_t rc = nkiGetCACert(c, nullptr, &length);
    if (rc == NKI_OK) {
        s.ca.resize(length);
        rc = nkiGetCACert(c, s.ca.data(), &length);
    }
    if (rc != NKI_OK && rc != NKI_E_CERTS_NOT_LOADED) {
        s.rc = rc;
        return s;
    }
    for (int i = 1; i < 256; ++i) {
        uint32_t size = 0;
        rc = nkiGetCertSize(c, static_cast<uint8_t>(i), &size);
        if (rc == NKI_E_OUT_OF_RANGE) break;
        if (rc != NKI_OK) {
            s.rc = rc;
            return s;
        }
        Bytes cert(size);
        EXPECT_EQ(nkiGetCert(c, static_cast<uint8_t>(i), cert.data()), NKI_OK);
        s.certs.push_back(cert);
    }
    return s;
}

}  // namespace

class CertCut : public Sessions {
protected:
    // Fresh token A with the store that setup builds; its state is kept in start.
    void Prepare(const std::vector<Op> &setup) {
        nkiCloseSession(a);
        if (!fresh_) fresh_ = std::make_unique<vtoken::State>(tokenA->state());
        tokenA->MutableState() = *fresh_;
        testpcsc::SetFaults(kReaderA, {});
        testpcsc::InsertCard(kReaderA, vtoken::TestCard(*tokenA));
        Ready(a, kReaderA);
        for (const auto &op : setup) ASSERT_EQ(op(a), NKI_OK);
        ASSERT_EQ(nkiCloseSession(a), NKI_OK);
        start = tokenA->state();
    }
    // Token A back to start, a session with the PIN presented and the store loaded.
    void Begin() {
        nkiCloseSession(a);
        tokenA->MutableState() = start;
        testpcsc::SetFaults(kReaderA, {});
        testpcsc::InsertCard(kReaderA, vtoken::TestCard(*tokenA));
        testpcsc::ClearSent(kReaderA);
        ASSERT_EQ(nkiOpenSession(a, kReaderA, nullptr), NKI_OK);
        ASSERT_EQ(nkiCheckPIN(a, kPin), NKI_OK);
        before = Read(a);
        ASSERT_EQ(before.rc, NKI_OK);
    }
    Snapshot Reopen() {
        nkiCloseSession(a);
        testpcsc::SetFaults(kReaderA, {});
        testpcsc::InsertCard(kReaderA, vtoken::TestCard(*tokenA));
        EXPECT_EQ(nkiOpenSession(a, kReaderA, nullptr), NKI_OK);
        EXPECT_EQ(nkiCheckPIN(a, kPin), NKI_OK);
        return Read(a);
    }

    // Cuts op at each of its exchanges, both ways; answers the number of cut
    // points that left a damaged container.
    int CutEverywhere(const char *what, const Op &op, int &pieces) {
        Begin();
        const std::size_t opened = testpcsc::Sent(kReaderA).size();
        EXPECT_EQ(op(a), NKI_OK) << what;
        const int exchanges = static_cast<int>(testpcsc::Sent(kReaderA).size() - opened);
        pieces = exchanges - 1;  // one selection, then a piece per exchange
        const Snapshot after = Reopen();
        EXPECT_EQ(after.rc, NKI_OK) << what;
        EXPECT_FALSE(after == before) << what;

        int damaged = 0;
        for (int k = 1; k <= exchanges; ++k) {
            for (bool answerLost : {false, true}) {
                Begin();
                testpcsc::Faults f;
                (answerLost ? f.shortAtExchange : f.removeAtExchange) = static_cast<int>(opened) + k;
                testpcsc::SetFaults(kReaderA, f);
                EXPECT_NE(op(a), NKI_OK) << what << ": cut at exchange " << k << " reported success";
                const Snapshot now = Reopen();
                if (now == before || now == after) continue;
                EXPECT_EQ(now.rc, NKI_E_CERTS_UNKNOWN_PACKING)
                    << what << ": cut at exchange " << k << " left a store that is neither old nor new";
                ++damaged;
                // The damaged container is replaced by the next whole-store write.
                const Bytes fresh = {'n', 'e', 'w'};
                EXPECT_EQ(nkiSetCert(a, fresh.data(), fresh.size()), NKI_OK) << what;
                Snapshot repaired = Reopen();
                EXPECT_EQ(repaired.rc, NKI_OK) << what;
                EXPECT_EQ(repaired.certs, std::vector<Bytes>{fresh}) << what;
            }
        }
        return damaged;
    }

    vtoken::State start;
    Snapshot before;
    std::unique_ptr<vtoken::State> fresh_;
};

TEST_F(CertCut, EveryWriteCutAtEveryPiece) {
    auto set = [](Bytes cert) { return [cert](NKI_CONTEXT c) { return nkiSetCert(c, cert.data(), cert.size()); }; };
    auto setCa = [](Bytes cert) {
        return [cert](NKI_CONTEXT c) { return nkiSetCACert(c, cert.data(), cert.size()); };
    };
    auto del = [](uint8_t i) { return [i](NKI_CONTEXT c) { return nkiDelCert(c, i); }; };
    const Op clearCa = [](NKI_CONTEXT c) { return nkiClearCACert(c); };

    const std::vector<Op> three = {set(Certificate(1, 500)), set(Certificate(2, 700)), set(Certificate(3, 400))};
    std::vector<Op> withCa = three;
    withCa.insert(withCa.begin(), setCa(Certificate(9, 300)));
    // Noise does not pack: these stores are written in the plain form.
    const std::vector<Op> plain = {set(Noise(1200, 5)), set(Noise(1000, 6))};

    struct Case {
        const char *what;
        std::vector<Op> setup;
        Op op;
        bool shifts;  // the records move: every piece of the old data changes
    } cases[] = {
        {"first certificate", {}, set(Certificate(4, 900)), false},
        {"certificate added", three, set(Certificate(4, 900)), false},
        {"last certificate deleted", three, del(3), false},
        {"first certificate deleted", three, del(1), true},
        {"CA certificate added in front", three, setCa(Certificate(9, 300)), true},
        {"CA certificate cleared", withCa, clearCa, true},
        {"plain certificate added", plain, set(Noise(800, 7)), false},
        {"plain certificate deleted", plain, del(1), true},
    };
    for (const auto &c : cases) {
        Prepare(c.setup);
        int pieces = 0;
        const int damaged = CutEverywhere(c.what, c.op, pieces);
        // A store that only grows or shrinks at its end is never lost. When the
        // records move, the old store is lost from the first changed piece of its
        // data on, and the new one is there from the last piece written: at most
        // the pieces in between, each cut both ways.
        EXPECT_LE(damaged, c.shifts ? 2 * (pieces - 1) : 0) << c.what << ", pieces written " << pieces;
    }
}
