// The multi-carrier build over simulated tokens in the in-process PC/SC layer: two
// readers, a token in each. The same fixture as the session tests, with signing
// set up by Ready.
#pragma once

#include "../session/session_fixture.h"

static_assert(KCARLIB_MULTI_CARRIER, "these tests are built against the multi-carrier library");

namespace multitest {

using sessiontest::Bytes;
using sessiontest::kPin;
using sessiontest::kReaderA;
using sessiontest::kReaderB;

class MultiTokens : public sessiontest::Sessions {
protected:
    // Opens a session, presents the PIN, makes the owner key and sets up signing.
    void Ready(NKI_CONTEXT c, const char *reader) {
        Sessions::Ready(c, reader);
        if (HasFatalFailure()) return;
        ASSERT_EQ(nkiInitDS(c, nullptr), NKI_OK);
    }
    using Sessions::OwnerKey;
    static Bytes OwnerKey(NKI_CONTEXT c) { return Sessions::OwnerKey(c, false); }
    static tagTECParams Params(NKI_CONTEXT c) {
        tagTECParams p{};
        uint32_t length = 0;
        EXPECT_EQ(nkiGetCryptoParams(c, 255, &p, &length), NKI_OK);
        return p;
    }
};

}  // namespace multitest
