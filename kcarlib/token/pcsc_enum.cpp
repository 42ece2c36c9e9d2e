#include "token/pcsc_enum.h"

#include "token/pcsc.h"

#include <cstring>
#include <vector>

namespace kcar {
namespace {

// The readers' multi-string (names separated by NUL, ended by an empty name), or
// false when the service fails.
bool ListReaders(SCARDCONTEXT context, std::vector<char> &names) {
    // The list may grow between the two calls; ask again a few times.
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD length = 0;
        if (SCardListReaders(context, nullptr, nullptr, &length) != SCARD_S_SUCCESS || length == 0) return false;
        names.assign(length + 1, '\0');
        LONG rc = SCardListReaders(context, nullptr, names.data(), &length);
        if (rc == SCARD_S_SUCCESS) {
            names.resize(length);
            names.push_back('\0');
            names.push_back('\0');
            return true;
        }
        if (rc != SCARD_E_INSUFFICIENT_BUFFER) return false;
    }
    return false;
}

bool Usable(SCARDCONTEXT context, const char *reader, bool withCard) {
    SCARD_READERSTATE state{};
    state.szReader = reader;
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    if (SCardGetStatusChange(context, 0, &state, 1) != SCARD_S_SUCCESS) return false;
    if (state.dwEventState & SCARD_STATE_UNKNOWN) return false;
    return !withCard || (state.dwEventState & SCARD_STATE_PRESENT) != 0;
}

}  // namespace

bool PcscEnumDevices(int index, bool withCard, char *name, std::size_t capacity) {
    if (name == nullptr) return false;
    name[0] = '\0';
    if (index == 0) return true;
    if (index < 0) return false;

    SCARDCONTEXT context = 0;
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS) return false;

    bool found = false;
    std::vector<char> names;
    if (ListReaders(context, names)) {
        int count = 0;
        for (const char *reader = names.data(); *reader != '\0'; reader += std::strlen(reader) + 1) {
            std::size_t length = std::strlen(reader);
            if (length + 1 > capacity) continue;  // a name the library cannot hold is not served
            if (!Usable(context, reader, withCard)) continue;
            if (++count == index) {
                std::memcpy(name, reader, length + 1);
                found = true;
                break;
            }
        }
    }
    SCardReleaseContext(context);
    return found;
}

bool PcscGetDeviceType(const char *name, int &kind) {
    if (name == nullptr) return false;
    char candidate[kReaderNameCapacity];
    for (int i = 1; PcscEnumDevices(i, true, candidate, sizeof candidate); ++i) {
        if (std::strcmp(candidate, name) == 0) {
            kind = 3;
            return true;
        }
    }
    return false;
}

bool PcscReaderAtr(const char *name, uint8_t *atr, std::size_t &length) {
    length = 0;
    if (name == nullptr) return false;
    SCARDCONTEXT context = 0;
    // Without a service the query below fails on the null context.
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS) context = 0;
    SCARD_READERSTATE state{};
    state.szReader = name;
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    const bool present = context != 0 && SCardGetStatusChange(context, 0, &state, 1) == SCARD_S_SUCCESS &&
                         (state.dwEventState & SCARD_STATE_PRESENT) != 0;
    if (present) {
        length = state.cbAtr < MAX_ATR_SIZE ? state.cbAtr : MAX_ATR_SIZE;
        std::memcpy(atr, state.rgbAtr, length);
    }
    if (context != 0) SCardReleaseContext(context);
    return present;
}

}  // namespace kcar
