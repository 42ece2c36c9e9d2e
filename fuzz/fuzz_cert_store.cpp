// The certificate store over a hostile container: whatever the container holds,
// reads answer a certificate or a code, a whole-store write always leaves a store
// that a new session reads back, and nothing is read outside the data.
#include <cstring>

#include "kcarlib/nki_result.h"
#include "session_rig.h"

using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    static fuzz::Rig *rig = [] {
        testpcsc::Reset();
        return new fuzz::Rig("Virtual PCD 00 00", fuzz::FreshToken(1));
    }();
    fuzz::Input in(data, size);
    const uint8_t ops = in.Byte();
    std::vector<uint8_t> container = in.Fixed(1024);
    rig->token->MutableState().files[0x0202] = container;
    if (!rig->Open()) return 0;
    NKI_CONTEXT c = rig->context;

    uint32_t length = 0, size1 = 0;
    const uint32_t ca = nkiGetCACert(c, nullptr, &length);
    if (ca == NKI_OK) {
        std::vector<uint8_t> buffer(length);
        Check(nkiGetCACert(c, buffer.data(), &length) == NKI_OK && length == buffer.size());
    }
    int count = 0;
    for (uint8_t i = 1; i != 0; ++i) {
        const uint32_t rc = nkiGetCertSize(c, i, &size1);
        if (rc != NKI_OK) break;
        std::vector<uint8_t> cert(size1 + 1);
        Check(nkiGetCert(c, i, cert.data()) == NKI_OK);
        ++count;
    }
    const std::vector<uint8_t> cert = {'c', 'e', 'r', 't'};
    uint32_t rc = NKI_OK;
    switch (ops % 4) {
        case 0: rc = nkiSetCert(c, cert.data(), 4); break;
        case 1: rc = nkiSetCACert(c, cert.data(), 4); break;
        case 2: rc = nkiClearCACert(c); break;
        case 3: rc = nkiDelCert(c, static_cast<uint8_t>(1 + (ops >> 2) % 4)); break;
    }
    if (rc == NKI_OK) {
        // What was written reads back in a new session.
        Check(rig->Open());
        const uint32_t again = nkiGetCertSize(c, 1, &size1);
        Check(again == NKI_OK || again == NKI_E_OUT_OF_RANGE);
    }
    return 0;
}
