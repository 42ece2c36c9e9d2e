// TScReader: one PC/SC reader connection of the firmware update tool, over
// winscard on Windows and pcsc-lite on Linux.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <winscard.h>
#else
#include <PCSC/winscard.h>
#endif

#include <cstdint>
#include <string>

namespace fwflash {

class TScReader {
public:
    // Establishes a user-scope context; the context stays 0 when that fails.
    TScReader();
    // Disconnects when connected and releases the context.
    ~TScReader();
    TScReader(const TScReader &) = delete;
    TScReader &operator=(const TScReader &) = delete;

    // Disconnects first when a name is already set, then keeps the name.
    void SetReaderName(const std::string &name);
    // Connects to the named reader (T=0 or T=1) and reads the card's answer to
    // reset into atr, at most 64 bytes; atrLength gets its length (0 on failure).
    bool Connect(uint8_t *atr, DWORD &atrLength);
    void Disconnect();
    bool Control(DWORD code, const void *input, DWORD inputLength, void *output, DWORD outputLength,
                 DWORD &returned);

    const std::string &ReaderName() const { return readerName_; }
    DWORD ActiveProtocol() const { return activeProtocol_; }
    bool Connected() const { return card_ != 0; }
    LONG LastResult() const { return lastResult_; }
    // Exclusive (the default): connect with SCARD_SHARE_EXCLUSIVE and unpower the
    // card on disconnect; otherwise shared, leaving the card as it is.
    void SetExclusive(bool exclusive) { exclusive_ = exclusive ? 1 : 0; }

private:
    std::string readerName_;
    DWORD activeProtocol_ = 0;
    uint8_t exclusive_ = 1;
    uint8_t secondFlag_ = 0;  // kept for the record layout; never read
    SCARDCONTEXT context_ = 0;
    SCARDHANDLE card_ = 0;
    LONG lastResult_ = SCARD_S_SUCCESS;
};

}  // namespace fwflash
