#include "test_pcsc.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace testpcsc {
namespace {

struct Reader {
    std::string name;
    bool unknown = false;
    bool hasCard = false;
    Card card;
    uint32_t insertion = 0;   // increases with every insertion and removal
    int exchanges = 0;
    Faults faults;
    std::vector<Bytes> sent;
    int connections = 0;
};

struct Connection {
    std::string reader;
    uint32_t insertion = 0;
    DWORD protocol = 0;
    SCARDCONTEXT context = 0;
};

struct Service {
    bool running = true;
    std::vector<std::unique_ptr<Reader>> readers;
    std::map<SCARDCONTEXT, bool> contexts;
    std::map<SCARDHANDLE, Connection> cards;
    SCARDCONTEXT nextContext = 0x1000;
    SCARDHANDLE nextCard = 0x2000;
};

std::mutex g_lock;
Service &S() {
    static Service s;
    return s;
}

Reader *Find(const std::string &name) {
    for (auto &r : S().readers)
        if (r->name == name) return r.get();
    return nullptr;
}

Reader &Must(const std::string &name) {
    Reader *r = Find(name);
    if (r == nullptr) {
        S().readers.push_back(std::make_unique<Reader>());
        S().readers.back()->name = name;
        r = S().readers.back().get();
    }
    return *r;
}

void Pull(Reader &r) {
    r.hasCard = false;
    ++r.insertion;
    r.connections = 0;
}

}  // namespace

void Reset() {
    std::lock_guard<std::mutex> g(g_lock);
    S() = Service{};
}

void SetServiceRunning(bool running) {
    std::lock_guard<std::mutex> g(g_lock);
    S().running = running;
}

void AddReader(const std::string &name) {
    std::lock_guard<std::mutex> g(g_lock);
    Must(name);
}

void SetReaderUnknown(const std::string &name, bool unknown) {
    std::lock_guard<std::mutex> g(g_lock);
    Must(name).unknown = unknown;
}

void InsertCard(const std::string &name, Card card) {
    std::lock_guard<std::mutex> g(g_lock);
    Reader &r = Must(name);
    r.card = std::move(card);
    r.hasCard = true;
    ++r.insertion;
    r.exchanges = 0;
}

void RemoveCard(const std::string &name) {
    std::lock_guard<std::mutex> g(g_lock);
    Pull(Must(name));
}

void SetFaults(const std::string &name, const Faults &faults) {
    std::lock_guard<std::mutex> g(g_lock);
    Must(name).faults = faults;
}

std::vector<Bytes> Sent(const std::string &name) {
    std::lock_guard<std::mutex> g(g_lock);
    Reader *r = Find(name);
    return r ? r->sent : std::vector<Bytes>{};
}

void ClearSent(const std::string &name) {
    std::lock_guard<std::mutex> g(g_lock);
    if (Reader *r = Find(name)) r->sent.clear();
}

int OpenContexts() {
    std::lock_guard<std::mutex> g(g_lock);
    return static_cast<int>(S().contexts.size());
}

int OpenCards() {
    std::lock_guard<std::mutex> g(g_lock);
    return static_cast<int>(S().cards.size());
}

Card FixedCard(Bytes atr, Bytes response) {
    Card c;
    c.atr = std::move(atr);
    c.handler = [response](const Bytes &) { return response; };
    return c;
}

}  // namespace testpcsc

using namespace testpcsc;

namespace {

bool ContextOk(SCARDCONTEXT c) { return S().running && S().contexts.count(c) != 0; }

DWORD StateOf(const Reader &r) {
    DWORD state = 0;
    if (r.unknown) state |= SCARD_STATE_UNKNOWN;
    if (r.hasCard) {
        state |= SCARD_STATE_PRESENT;
        if (r.connections > 0) state |= SCARD_STATE_EXCLUSIVE | SCARD_STATE_INUSE;
    } else {
        state |= SCARD_STATE_EMPTY;
    }
    return state;
}

}  // namespace

extern "C" {

LONG SCardEstablishContext(DWORD scope, LPCVOID, LPCVOID, LPSCARDCONTEXT context) {
    std::lock_guard<std::mutex> g(g_lock);
    if (context == nullptr) return SCARD_E_INVALID_PARAMETER;
    if (scope > SCARD_SCOPE_SYSTEM) return SCARD_E_INVALID_VALUE;
    if (!S().running) return SCARD_E_NO_SERVICE;
    *context = S().nextContext++;
    S().contexts[*context] = true;
    return SCARD_S_SUCCESS;
}

LONG SCardReleaseContext(SCARDCONTEXT context) {
    std::lock_guard<std::mutex> g(g_lock);
    if (S().contexts.erase(context) == 0) return SCARD_E_INVALID_HANDLE;
    for (auto it = S().cards.begin(); it != S().cards.end();) {
        if (it->second.context == context) {
            if (Reader *r = Find(it->second.reader); r && r->insertion == it->second.insertion) --r->connections;
            it = S().cards.erase(it);
        } else {
            ++it;
        }
    }
    return SCARD_S_SUCCESS;
}

LONG SCardIsValidContext(SCARDCONTEXT context) {
    std::lock_guard<std::mutex> g(g_lock);
    return ContextOk(context) ? SCARD_S_SUCCESS : SCARD_E_INVALID_HANDLE;
}

LONG SCardListReaders(SCARDCONTEXT context, LPCSTR, LPSTR readers, LPDWORD length) {
    std::lock_guard<std::mutex> g(g_lock);
    if (!S().running) return SCARD_E_NO_SERVICE;
    if (!ContextOk(context)) return SCARD_E_INVALID_HANDLE;
    if (length == nullptr) return SCARD_E_INVALID_PARAMETER;
    if (S().readers.empty()) return SCARD_E_NO_READERS_AVAILABLE;
    std::string multi;
    for (auto &r : S().readers) {
        multi += r->name;
        multi.push_back('\0');
    }
    multi.push_back('\0');
    DWORD needed = static_cast<DWORD>(multi.size());
    if (readers == nullptr) {
        *length = needed;
        return SCARD_S_SUCCESS;
    }
    if (*length < needed) {
        *length = needed;
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    std::memcpy(readers, multi.data(), needed);
    *length = needed;
    return SCARD_S_SUCCESS;
}

LONG SCardListReaderGroups(SCARDCONTEXT, LPSTR, LPDWORD) { return SCARD_E_UNSUPPORTED_FEATURE; }

LONG SCardFreeMemory(SCARDCONTEXT, LPCVOID) { return SCARD_S_SUCCESS; }

LONG SCardGetStatusChange(SCARDCONTEXT context, DWORD timeout, SCARD_READERSTATE *states, DWORD count) {
    std::lock_guard<std::mutex> g(g_lock);
    if (!S().running) return SCARD_E_NO_SERVICE;
    if (!ContextOk(context)) return SCARD_E_INVALID_HANDLE;
    if (states == nullptr && count > 0) return SCARD_E_INVALID_PARAMETER;
    bool changed = false;
    for (DWORD i = 0; i < count; ++i) {
        if (states[i].szReader == nullptr) return SCARD_E_INVALID_VALUE;
        Reader *r = Find(states[i].szReader);
        if (r == nullptr) return SCARD_E_UNKNOWN_READER;
        DWORD now = StateOf(*r);
        if ((states[i].dwCurrentState & ~static_cast<DWORD>(SCARD_STATE_CHANGED) & 0xFFFF) != now) {
            now |= SCARD_STATE_CHANGED;
            changed = true;
        }
        states[i].dwEventState = now;
        if (r->hasCard) {
            std::size_t n = std::min<std::size_t>(r->card.atr.size(), sizeof states[i].rgbAtr);
            std::memcpy(states[i].rgbAtr, r->card.atr.data(), n);
            states[i].cbAtr = static_cast<DWORD>(n);
        } else {
            states[i].cbAtr = 0;
        }
    }
    (void)timeout;
    return changed ? SCARD_S_SUCCESS : SCARD_E_TIMEOUT;
}

LONG SCardConnect(SCARDCONTEXT context, LPCSTR name, DWORD share, DWORD preferred, LPSCARDHANDLE card,
                  LPDWORD active) {
    std::lock_guard<std::mutex> g(g_lock);
    if (!S().running) return SCARD_E_NO_SERVICE;
    if (!ContextOk(context)) return SCARD_E_INVALID_HANDLE;
    if (name == nullptr || card == nullptr || active == nullptr) return SCARD_E_INVALID_PARAMETER;
    Reader *r = Find(name);
    if (r == nullptr) return SCARD_E_UNKNOWN_READER;
    if (!r->hasCard) return SCARD_E_NO_SMARTCARD;
    if (r->connections > 0 && share == SCARD_SHARE_EXCLUSIVE) return SCARD_E_SHARING_VIOLATION;
    DWORD common = preferred & r->card.protocols;
    if (common == 0) return SCARD_E_PROTO_MISMATCH;
    DWORD protocol = (common & SCARD_PROTOCOL_T1) ? SCARD_PROTOCOL_T1 : SCARD_PROTOCOL_T0;
    *card = S().nextCard++;
    S().cards[*card] = Connection{r->name, r->insertion, protocol, context};
    ++r->connections;
    *active = protocol;
    return SCARD_S_SUCCESS;
}

LONG SCardReconnect(SCARDHANDLE card, DWORD, DWORD, DWORD, LPDWORD active) {
    std::lock_guard<std::mutex> g(g_lock);
    auto it = S().cards.find(card);
    if (it == S().cards.end()) return SCARD_E_INVALID_HANDLE;
    Reader *r = Find(it->second.reader);
    if (r == nullptr || !r->hasCard) return SCARD_E_NO_SMARTCARD;
    it->second.insertion = r->insertion;
    if (active) *active = it->second.protocol;
    return SCARD_S_SUCCESS;
}

LONG SCardDisconnect(SCARDHANDLE card, DWORD) {
    std::lock_guard<std::mutex> g(g_lock);
    auto it = S().cards.find(card);
    if (it == S().cards.end()) return SCARD_E_INVALID_HANDLE;
    if (Reader *r = Find(it->second.reader); r && r->insertion == it->second.insertion && r->connections > 0)
        --r->connections;
    S().cards.erase(it);
    return SCARD_S_SUCCESS;
}

LONG SCardBeginTransaction(SCARDHANDLE card) {
    std::lock_guard<std::mutex> g(g_lock);
    return S().cards.count(card) ? SCARD_S_SUCCESS : SCARD_E_INVALID_HANDLE;
}

LONG SCardEndTransaction(SCARDHANDLE card, DWORD) {
    std::lock_guard<std::mutex> g(g_lock);
    return S().cards.count(card) ? SCARD_S_SUCCESS : SCARD_E_INVALID_HANDLE;
}

LONG SCardStatus(SCARDHANDLE card, LPSTR readerName, LPDWORD readerLength, LPDWORD state, LPDWORD protocol,
                 LPBYTE atr, LPDWORD atrLength) {
    std::lock_guard<std::mutex> g(g_lock);
    auto it = S().cards.find(card);
    if (it == S().cards.end()) return SCARD_E_INVALID_HANDLE;
    Reader *r = Find(it->second.reader);
    if (r == nullptr) return SCARD_E_READER_UNAVAILABLE;
    if (!r->hasCard || r->insertion != it->second.insertion) return SCARD_W_REMOVED_CARD;
    if (readerLength) {
        DWORD needed = static_cast<DWORD>(r->name.size() + 2);
        if (readerName && *readerLength < needed) {
            *readerLength = needed;
            return SCARD_E_INSUFFICIENT_BUFFER;
        }
        if (readerName) {
            std::memcpy(readerName, r->name.c_str(), r->name.size() + 1);
            readerName[r->name.size() + 1] = '\0';
        }
        *readerLength = needed;
    }
    if (state) *state = SCARD_SPECIFIC;
    if (protocol) *protocol = it->second.protocol;
    if (atrLength) {
        DWORD needed = static_cast<DWORD>(r->card.atr.size());
        if (atr && *atrLength < needed) {
            *atrLength = needed;
            return SCARD_E_INSUFFICIENT_BUFFER;
        }
        if (atr) std::memcpy(atr, r->card.atr.data(), needed);
        *atrLength = needed;
    }
    return SCARD_S_SUCCESS;
}

LONG SCardTransmit(SCARDHANDLE card, const SCARD_IO_REQUEST *sendPci, LPCBYTE send, DWORD sendLength,
                   SCARD_IO_REQUEST *, LPBYTE recv, LPDWORD recvLength) {
    ApduHandler handler;
    Bytes command;
    Reader *r = nullptr;
    {
        std::lock_guard<std::mutex> g(g_lock);
        if (!S().running) return SCARD_E_NO_SERVICE;
        auto it = S().cards.find(card);
        if (it == S().cards.end()) return SCARD_E_INVALID_HANDLE;
        if (send == nullptr || recv == nullptr || recvLength == nullptr || sendPci == nullptr)
            return SCARD_E_INVALID_PARAMETER;
        r = Find(it->second.reader);
        if (r == nullptr) return SCARD_E_READER_UNAVAILABLE;
        if (!r->hasCard || r->insertion != it->second.insertion) return SCARD_W_REMOVED_CARD;
        if (sendPci->dwProtocol != it->second.protocol) return SCARD_E_PROTO_MISMATCH;
        int exchange = ++r->exchanges;
        if (r->faults.removeAtExchange == exchange) {
            // As the service reports a card that vanished mid-exchange; later calls
            // see SCARD_W_REMOVED_CARD.
            Pull(*r);
            return SCARD_E_NOT_TRANSACTED;
        }
        command.assign(send, send + sendLength);
        r->sent.push_back(command);
        if (r->faults.failAtExchange == exchange) return r->faults.failCode;
        handler = r->card.handler;
    }
    // The card runs outside the lock so that it may itself call back into the layer.
    Bytes response = handler ? handler(command) : Bytes{0x6F, 0x00};
    std::lock_guard<std::mutex> g(g_lock);
    if (r->faults.shortAtExchange == r->exchanges && response.size() > r->faults.shortLength)
        response.resize(r->faults.shortLength);
    if (response.size() > *recvLength) {
        *recvLength = static_cast<DWORD>(response.size());
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    if (!response.empty()) std::memcpy(recv, response.data(), response.size());
    *recvLength = static_cast<DWORD>(response.size());
    return SCARD_S_SUCCESS;
}

LONG SCardControl(SCARDHANDLE card, DWORD code, LPCVOID in, DWORD inLength, LPVOID out, DWORD outCapacity,
                  LPDWORD returned) {
    ControlHandler control;
    {
        std::lock_guard<std::mutex> g(g_lock);
        auto it = S().cards.find(card);
        if (it == S().cards.end()) return SCARD_E_INVALID_HANDLE;
        Reader *r = Find(it->second.reader);
        if (r == nullptr || !r->hasCard || r->insertion != it->second.insertion) return SCARD_W_REMOVED_CARD;
        control = r->card.control;
    }
    if (!control) return SCARD_E_UNSUPPORTED_FEATURE;
    Bytes input;
    if (in != nullptr) input.assign(static_cast<const uint8_t *>(in), static_cast<const uint8_t *>(in) + inLength);
    Bytes output;
    LONG rc = control(code, input, output);
    if (rc != SCARD_S_SUCCESS) return rc;
    if (output.size() > outCapacity) return SCARD_E_INSUFFICIENT_BUFFER;
    if (!output.empty() && out != nullptr) std::memcpy(out, output.data(), output.size());
    if (returned) *returned = static_cast<DWORD>(output.size());
    return SCARD_S_SUCCESS;
}

LONG SCardGetAttrib(SCARDHANDLE, DWORD, LPBYTE, LPDWORD) { return SCARD_E_UNSUPPORTED_FEATURE; }
LONG SCardSetAttrib(SCARDHANDLE, DWORD, LPCBYTE, DWORD) { return SCARD_E_UNSUPPORTED_FEATURE; }
LONG SCardCancel(SCARDCONTEXT) { return SCARD_S_SUCCESS; }

const SCARD_IO_REQUEST g_rgSCardT0Pci = {SCARD_PROTOCOL_T0, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardT1Pci = {SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardRawPci = {SCARD_PROTOCOL_RAW, sizeof(SCARD_IO_REQUEST)};

const char *pcsc_stringify_error(const LONG) { return "test PC/SC layer"; }

}  // extern "C"
