// A stand-in for the PC/SC client library that reaches the simulated token's USB
// device (nki-vusb) instead of a PC/SC service, so that the vendor control
// requests, which a virtual reader of pcscd cannot carry, reach the token. Built
// as libpcsclite.so.1 for Linux (used through LD_LIBRARY_PATH) and as
// winscard.dll for Windows programs under wine (WINEDLLOVERRIDES=winscard=n).
// It offers what the firmware update tool calls: contexts, connect, status,
// control and disconnect, for one thread at a time.
#include <cstdint>
#include <cstring>
#include <map>
#include <string>

#include "vusb_client.h"

#ifdef _WIN32
// Our own declarations: winscard.h declares these as imports.
typedef int32_t LONG;
typedef uint32_t DWORD;
typedef DWORD *LPDWORD;
typedef uintptr_t SCARDCONTEXT, SCARDHANDLE;
typedef SCARDCONTEXT *LPSCARDCONTEXT;
typedef SCARDHANDLE *LPSCARDHANDLE;
typedef const char *LPCSTR;
typedef char *LPSTR;
typedef uint8_t *LPBYTE;
typedef const void *LPCVOID;
typedef void *LPVOID;
#define STANDIN_API extern "C" __declspec(dllexport)
#define STANDIN_NAME(n) n##A
constexpr LONG kOk = 0;
constexpr LONG kInvalidParameter = static_cast<LONG>(0x80100004);
constexpr LONG kInvalidHandle = static_cast<LONG>(0x80100003);
constexpr LONG kInsufficientBuffer = static_cast<LONG>(0x80100008);
constexpr LONG kNoService = static_cast<LONG>(0x8010001D);
constexpr DWORD kSpecific = 6;
#else
#include <PCSC/winscard.h>
#define STANDIN_API extern "C" __attribute__((visibility("default")))
#define STANDIN_NAME(n) n
constexpr LONG kOk = SCARD_S_SUCCESS;
constexpr LONG kInvalidParameter = SCARD_E_INVALID_PARAMETER;
constexpr LONG kInvalidHandle = SCARD_E_INVALID_HANDLE;
constexpr LONG kInsufficientBuffer = SCARD_E_INSUFFICIENT_BUFFER;
constexpr LONG kNoService = SCARD_E_NO_SERVICE;
constexpr DWORD kSpecific = SCARD_SPECIFIC;
#endif

namespace {

std::map<SCARDCONTEXT, bool> g_contexts;
std::map<SCARDHANDLE, std::string> g_names;  // reader name per card handle
SCARDCONTEXT g_nextContext = 0x5100;

// Sends a request; the reply's first number is the PC/SC result, the rest goes
// to rest.
LONG Call(const vusb::Bytes &request, vusb::Bytes *rest = nullptr) {
    vusb::Bytes reply;
    if (!vusb::Exchange(request, reply)) return kNoService;
    if (rest) rest->assign(reply.begin() + 4, reply.end());
    return static_cast<LONG>(vusb::Get32(reply.data()));
}

}  // namespace

STANDIN_API LONG SCardEstablishContext(DWORD, LPCVOID, LPCVOID, LPSCARDCONTEXT context) {
    if (context == nullptr) return kInvalidParameter;
    *context = g_nextContext++;
    g_contexts[*context] = true;
    return kOk;
}

STANDIN_API LONG SCardReleaseContext(SCARDCONTEXT context) {
    return g_contexts.erase(context) ? kOk : kInvalidHandle;
}

STANDIN_API LONG STANDIN_NAME(SCardConnect)(SCARDCONTEXT context, LPCSTR reader, DWORD share, DWORD protocols,
                                           LPSCARDHANDLE card, LPDWORD active) {
    if (reader == nullptr || card == nullptr || active == nullptr) return kInvalidParameter;
    {
            if (!g_contexts.count(context)) return kInvalidHandle;
    }
    vusb::Bytes request{vusb::kConnect}, rest;
    vusb::Put32(request, static_cast<uint32_t>(share));
    vusb::Put32(request, static_cast<uint32_t>(protocols));
    vusb::PutText(request, reader);
    LONG rc = Call(request, &rest);
    if (rc != kOk) return rc;
    if (rest.size() < 8) return kNoService;
    *card = vusb::Get32(rest.data());
    *active = vusb::Get32(rest.data() + 4);
    g_names[*card] = reader;
    return kOk;
}

STANDIN_API LONG STANDIN_NAME(SCardStatus)(SCARDHANDLE card, LPSTR name, LPDWORD nameLength, LPDWORD state,
                                          LPDWORD protocol, LPBYTE atr, LPDWORD atrLength) {
    vusb::Bytes request{vusb::kStatus}, rest;
    vusb::Put32(request, static_cast<uint32_t>(card));
    LONG rc = Call(request, &rest);
    if (rc != kOk) return rc;
    if (rest.size() < 4) return kNoService;
    std::string reader;
    {
            reader = g_names[card];
    }
    if (nameLength) {
        DWORD needed = static_cast<DWORD>(reader.size() + 2);
        if (name && *nameLength < needed) return kInsufficientBuffer;
        if (name) {
            std::memcpy(name, reader.c_str(), reader.size() + 1);
            name[reader.size() + 1] = '\0';
        }
        *nameLength = needed;
    }
    if (state) *state = kSpecific;
    if (protocol) *protocol = vusb::Get32(rest.data());
    if (atrLength) {
        DWORD n = static_cast<DWORD>(rest.size() - 4);
        if (atr && *atrLength < n) return kInsufficientBuffer;
        if (atr) std::memcpy(atr, rest.data() + 4, n);
        *atrLength = n;
    }
    return kOk;
}

STANDIN_API LONG SCardControl(SCARDHANDLE card, DWORD code, LPCVOID input, DWORD inputLength, LPVOID output,
                              DWORD outputLength, LPDWORD returned) {
    if (returned) *returned = 0;
    vusb::Bytes request{vusb::kControl}, rest;
    vusb::Put32(request, static_cast<uint32_t>(card));
    vusb::Put32(request, static_cast<uint32_t>(code));
    vusb::Put32(request, static_cast<uint32_t>(outputLength));
    if (input && inputLength) {
        auto *p = static_cast<const uint8_t *>(input);
        request.insert(request.end(), p, p + inputLength);
    }
    LONG rc = Call(request, &rest);
    if (rc != kOk) return rc;
    if (rest.size() > outputLength) return kInsufficientBuffer;
    if (!rest.empty() && output) std::memcpy(output, rest.data(), rest.size());
    if (returned) *returned = static_cast<DWORD>(rest.size());
    return kOk;
}

STANDIN_API LONG SCardDisconnect(SCARDHANDLE card, DWORD) {
    vusb::Bytes request{vusb::kDisconnect};
    vusb::Put32(request, static_cast<uint32_t>(card));
    LONG rc = Call(request);
    g_names.erase(card);
    return rc;
}
