#include "carriers/card_link.h"

#include <cstring>

#include "kcarlib/nki_result.h"

namespace kcar {

namespace {

bool ContainerFamilyAtr(const BYTE *atr, DWORD length) {
    return length == 16 && atr[0] == 0x3B && atr[1] == 0xB7 && (atr[8] & 0xF0) == 0x10;
}

}  // namespace

uint32_t CardLink::MapStatus(uint16_t sw) {
    if ((sw >> 8) == 0x90) return NKI_OK;
    if (sw == 0x1111) return NKI_E_CONNECTION_ABORTED;
    if (sw == 0x6982) return NKI_E_ACCESS_CONDITION;
    if (sw == 0x6983) return NKI_E_DEVICE_BLOCKED;
    if (sw == 0x980D) return NKI_E_INVALID_KEY_STATE;
    if ((sw & 0xFFF0) == 0x63C0) return NKI_E_INVALID_PIN_BASE + (sw & 0x0F);
    return NKI_E_DEVICE_CORRUPTED;
}

uint32_t CardLink::Connect(const std::string &reader) {
    Disconnect();
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context_) != SCARD_S_SUCCESS) {
        context_ = 0;
        return NKI_E_NOT_CONNECTED;
    }
    std::string name = reader;
    if (name.empty()) {
        DWORD length = 0;
        if (SCardListReaders(context_, nullptr, nullptr, &length) == SCARD_S_SUCCESS && length > 0) {
            std::vector<char> list(length);
            if (SCardListReaders(context_, nullptr, list.data(), &length) == SCARD_S_SUCCESS) {
                for (const char *p = list.data(); *p != '\0' && name.empty(); p += std::strlen(p) + 1) {
                    SCARD_READERSTATE rs{};
                    rs.szReader = p;
                    rs.dwCurrentState = SCARD_STATE_UNAWARE;
                    if (SCardGetStatusChange(context_, 0, &rs, 1) == SCARD_S_SUCCESS &&
                        (rs.dwEventState & SCARD_STATE_PRESENT) && ContainerFamilyAtr(rs.rgbAtr, rs.cbAtr))
                        name = p;
                }
            }
        }
    }
    if (name.empty() || SCardConnect(context_, name.c_str(), SCARD_SHARE_EXCLUSIVE,
                                     SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card_, &protocol_) != SCARD_S_SUCCESS) {
        card_ = 0;
        SCardReleaseContext(context_);
        context_ = 0;
        return NKI_E_NOT_CONNECTED;
    }
    reader_ = name;
    return NKI_OK;
}

void CardLink::Disconnect() noexcept {
    if (card_ != 0) SCardDisconnect(card_, SCARD_UNPOWER_CARD);
    card_ = 0;
    if (context_ != 0) SCardReleaseContext(context_);
    context_ = 0;
    channel_ = nullptr;
}

bool CardLink::Present() {
    if (card_ == 0) return false;
    char name[256];
    DWORD nameLength = sizeof name, state = 0, protocol = 0, atrLength = 33;
    BYTE atr[33];
    LONG rc = SCardStatus(card_, name, &nameLength, &state, &protocol, atr, &atrLength);
    return rc == SCARD_S_SUCCESS && (state & (SCARD_PRESENT | SCARD_SPECIFIC | SCARD_NEGOTIABLE | SCARD_POWERED)) != 0;
}

uint32_t CardLink::Exchange(const Bytes &command, Bytes *data, Options options) {
    lastSw_ = 0x1111;
    if (data) data->clear();
    if (card_ == 0) return NKI_E_CONNECTION_ABORTED;
    const bool channel = channel_ != nullptr && channel_->On();
    Bytes sent = (channel && options.wrap) ? channel_->Wrap(command, options.encipher) : command;
    BYTE answer[258];
    DWORD length = sizeof answer;
    const SCARD_IO_REQUEST *pci = protocol_ == SCARD_PROTOCOL_T0 ? SCARD_PCI_T0 : SCARD_PCI_T1;
    LONG rc = SCardTransmit(card_, pci, sent.data(), static_cast<DWORD>(sent.size()), nullptr, answer, &length);
    if (channel) channel_->Advance();  // every exchange, whatever its outcome
    if (rc != SCARD_S_SUCCESS || length < 2) return NKI_E_CONNECTION_ABORTED;
    lastSw_ = static_cast<uint16_t>(answer[length - 2] << 8 | answer[length - 1]);
    if (data) {
        data->assign(answer, answer + length - 2);
        if (channel && options.wrap && options.decipher && !data->empty())
            channel_->DecipherAnswer(data->data(), data->size());
    }
    return MapStatus(lastSw_);
}

uint32_t CardLink::SelectApplication() { return Exchange({0x00, 0xA4, 0x08, 0x00, 0x02, 0xDF, 0x42}); }

uint32_t CardLink::SelectFile(uint16_t fid, uint32_t *size, uint16_t *access) {
    Bytes fci;
    uint32_t rc = Exchange({0x00, 0xA4, 0x00, 0x00, 0x02, uint8_t(fid >> 8), uint8_t(fid), 0x00}, &fci);
    if (rc != NKI_OK) return rc;
    if (size) *size = fci.size() >= 6 ? uint32_t(fci[4] << 8 | fci[5]) : 0;
    if (access) *access = fci.size() >= 10 ? uint16_t(fci[8] << 8 | fci[9]) : 0;
    return NKI_OK;
}

uint32_t CardLink::ReadBinary(uint32_t offset, uint8_t *out, uint32_t length, Options options) {
    while (length > 0) {
        uint32_t n = length < kChunk ? length : uint32_t(kChunk);
        if (offset > 0x7FFF) return NKI_E_OUT_OF_RANGE;
        Bytes piece;
        uint32_t rc = Exchange({0x00, 0xB0, uint8_t(offset >> 8), uint8_t(offset), uint8_t(n)}, &piece, options);
        if (rc != NKI_OK) return rc;
        if (piece.size() != n) return NKI_E_DEVICE_CORRUPTED;
        std::memcpy(out, piece.data(), n);
        out += n;
        offset += n;
        length -= n;
    }
    return NKI_OK;
}

uint32_t CardLink::UpdateBinary(uint32_t offset, const uint8_t *data, uint32_t length) {
    while (length > 0) {
        uint32_t n = length < kChunk ? length : uint32_t(kChunk);
        if (offset > 0x7FFF) return NKI_E_OUT_OF_RANGE;
        Bytes cmd(5 + n);
        cmd[1] = 0xD6;
        cmd[2] = uint8_t(offset >> 8);
        cmd[3] = uint8_t(offset);
        cmd[4] = uint8_t(n);
        std::memcpy(cmd.data() + 5, data, n);
        uint32_t rc = Exchange(cmd);
        if (rc != NKI_OK) return rc;
        data += n;
        offset += n;
        length -= n;
    }
    return NKI_OK;
}

uint32_t CardLink::ReadFile(uint16_t fid, uint32_t offset, uint8_t *out, uint32_t length, Options options) {
    uint32_t rc = SelectFile(fid);
    return rc != NKI_OK ? rc : ReadBinary(offset, out, length, options);
}

uint32_t CardLink::WriteFile(uint16_t fid, uint32_t offset, const uint8_t *data, uint32_t length) {
    uint32_t rc = SelectFile(fid);
    return rc != NKI_OK ? rc : UpdateBinary(offset, data, length);
}

}  // namespace kcar
