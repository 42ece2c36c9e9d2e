#include "StdReader.h"

#ifdef _WIN32
#define FWFLASH_SCARD_CONNECT SCardConnectA
#define FWFLASH_SCARD_STATUS SCardStatusA
#else
#define FWFLASH_SCARD_CONNECT SCardConnect
#define FWFLASH_SCARD_STATUS SCardStatus
#endif

namespace fwflash {

TScReader::TScReader() {
    (void)secondFlag_;
    SCARDCONTEXT context = 0;
    lastResult_ = SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context);
    context_ = lastResult_ == SCARD_S_SUCCESS ? context : 0;
}

TScReader::~TScReader() {
    Disconnect();
    if (context_ != 0) SCardReleaseContext(context_);
}

void TScReader::SetReaderName(const std::string &name) {
    if (!readerName_.empty()) Disconnect();
    readerName_ = name;
}

bool TScReader::Connect(uint8_t *atr, DWORD &atrLength) {
    atrLength = 0;
    if (readerName_.empty()) return false;
    Disconnect();
    DWORD share = exclusive_ ? SCARD_SHARE_EXCLUSIVE : SCARD_SHARE_SHARED;
    SCARDHANDLE card = 0;
    lastResult_ = FWFLASH_SCARD_CONNECT(context_, readerName_.c_str(), share, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1,
                                        &card, &activeProtocol_);
    if (lastResult_ != SCARD_S_SUCCESS) return false;
    card_ = card;
    atrLength = 64;
    DWORD nameLength = 0, state = 0;
    lastResult_ = FWFLASH_SCARD_STATUS(card_, nullptr, &nameLength, &state, &activeProtocol_, atr, &atrLength);
    if (lastResult_ != SCARD_S_SUCCESS) atrLength = 0;
    return lastResult_ == SCARD_S_SUCCESS;
}

void TScReader::Disconnect() {
    if (card_ == 0) return;
    lastResult_ = SCardDisconnect(card_, exclusive_ ? SCARD_UNPOWER_CARD : SCARD_LEAVE_CARD);
    card_ = 0;
}

bool TScReader::Control(DWORD code, const void *input, DWORD inputLength, void *output, DWORD outputLength,
                        DWORD &returned) {
    returned = 0;
    lastResult_ = SCardControl(card_, code, input, inputLength, output, outputLength, &returned);
    return lastResult_ == SCARD_S_SUCCESS;
}

}  // namespace fwflash
