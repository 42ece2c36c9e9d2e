// TNkiAbs: the command layer of one connected token.
//
// One object stands for one token reached through one PC/SC reader. Every method
// builds its APDU in a command buffer (byte 0 = APDU length, the APDU follows),
// exchanges it with CardCommand and answers a result code of kcarlib/nki_result.h
// (0 = success). The first failing step's code is passed through unchanged and is
// also kept in LastError. Nothing throws, nothing is logged.
//
// Field elements travel on the wire most significant byte first (24 bytes for the
// 191-bit curve); on the host they are kept least significant byte first in 64-byte
// slots. Hashes and signatures pass through unchanged.
//
// The same source serves the single-token build and the multi-carrier build; the
// few places where the latter drives the token differently are chosen per object
// by the TokenBuild given to the constructor.
#pragma once

#include <cstddef>
#include <cstdint>

#include "token/pcsc.h"

namespace kcar {

enum class TokenBuild {
    Token,         // the single-token library
    MultiCarrier,  // the multi-carrier library: other SELECT form, exchange counter, ...
};

class TNkiAbs {
public:
    static constexpr std::size_t kCurveRecordSize = 204;
    static constexpr std::size_t kMaxResponse = 254;   // data + SW1 SW2 per exchange
    static constexpr std::size_t kChunk = 96;          // READ/UPDATE BINARY piece
    static constexpr std::size_t kPointSize = 128;     // x then y, 64 bytes each, LSB first

    // Caps bits.
    static constexpr uint64_t CapCurveLoaded = 0x01;
    static constexpr uint64_t CapStatusBit = 0x02;
    static constexpr uint64_t CapAgreeKeyZero = 0x40;

    // I/O-control codes.
    static constexpr uint32_t IoQueryPassThrough = 0x22204C;
    static constexpr uint32_t IoLastStatusWord = 0x222070;
    static constexpr uint32_t IoVersionInfo = 0x22203C;
    static constexpr uint32_t IoGetExchangeBlock = 0x222074;  // multi-carrier build only
    static constexpr uint32_t IoSetExchangeBlock = 0x222078;  // multi-carrier build only

    explicit TNkiAbs(TokenBuild build = TokenBuild::Token) noexcept : Build(build) {}
    // Ends the object only; the owner disconnects first.
    virtual ~TNkiAbs() = default;
    TNkiAbs(const TNkiAbs &) = delete;
    TNkiAbs &operator=(const TNkiAbs &) = delete;

    // --- Connection and command exchange (nki_abs.cpp) ---

    // Opens a PC/SC context, connects exclusively to the reader's card and runs the
    // token's start sequence. 0, or 3 on any failure (the multi-carrier build answers
    // 50 when the curve record is refused). A failed connect leaves nothing open.
    uint32_t connect(const char *readerName);
    // Unpowers and releases the card and the PC/SC context; safe when not connected.
    void disconnect() noexcept;
    // The start sequence: application, status file, serial, sizes, curve record.
    bool SvApplicationStart();
    // Sends bytes 1..command[0]. Copies the response data (at most limit bytes when
    // limit is not 0) to response when given, whatever the status word. True when
    // SW1 is 0x90. Sets LastSW, LastDataLength and LastError.
    bool CardCommand(const uint8_t *command, uint8_t *response, uint64_t limit);
    uint32_t SetError(uint32_t code) noexcept {
        LastError = code;
        return code;
    }
    // 1 when not connected; else clears LastError and answers 0.
    uint32_t TestConnected() noexcept;
    // The token's 80-byte information record (32-bit little-endian words): the
    // caller sets word 0 to 80 (any other value answers 252); the rest is filled
    // with FF and then: 0x104, Caps, the serial (8 bytes), four algorithm
    // identifiers 1, field degree 191, element length 24, signature length,
    // challenge and response lengths, 12, stamp length 14, key slots, the low byte
    // of file 000A's size minus 4, and the sizes of containers 1 and 2.
    static constexpr std::size_t kInfoRecordSize = 80;
    uint32_t GetInfoRecord(uint8_t *record80);
    // True while the connected card is still in its reader (asked of the PC/SC
    // service, no command is sent); false when not connected or the query fails.
    bool CardPresent() noexcept;

    // --- Field helpers (byte_order.cpp) ---
    static void ByteReverse(uint8_t *buffer, int length) noexcept;
    // Squares a 24-byte little-endian element of GF(2^191) mod x^191 + x^9 + 1 in place.
    static void BaseSquare(uint8_t *a24) noexcept;

    // --- Files and containers (token_files.cpp) ---

    // Selects an elementary file and reads its size and access conditions from the
    // answer. Size 0 and conditions 0x0505 stand when the answer lacks them.
    bool EcSelectEFGetAC(uint64_t fid, int *size, uint32_t *accessConditions);
    bool EcSelectEF(uint64_t fid, int *size);
    // Chunked transparent read/write; fid 0 = the current file, 1..31 = short
    // identifier (offset <= 255), otherwise the file is selected first.
    bool EcReadBinary(uint64_t fid, uint64_t offset, uint8_t *buffer, uint64_t length);
    bool EcWriteBinary(uint64_t fid, const uint8_t *data, uint64_t offset, uint64_t length);
    // Containers n = 1..255 are files 0x0200 + n.
    uint32_t GetContainerSize(uint64_t n, uint32_t *size);
    uint32_t ReadDataEx(uint64_t n, uint32_t offset, uint8_t *buffer, uint32_t length);
    uint32_t WriteDataEx(uint64_t n, uint32_t offset, const uint8_t *data, uint32_t length);
    // The audit record: file 0x0053, record 1, its first 4 bytes.
    uint32_t ReadAuditRecord(uint8_t *record4);

    // --- PIN and authentication (token_pin.cpp) ---

    // The PIN goes out as an 8-byte block: cut to 8, zero-filled; a negative length
    // counts as 0. No connected test (the session only calls these while open).
    uint32_t CheckPinEx(const uint8_t *pin, int32_t length);
    uint32_t ForgetPin();
    // Mode 0: reference 5; 1: reference 6; 2: reference 6 with P1 = 1; else 52.
    uint32_t ChangePinEx(const uint8_t *oldPin, int32_t oldLength, const uint8_t *newPin, int32_t newLength,
                         int32_t mode);
    // challenge: AuthChallengeSize bytes; response: AuthResponseSize bytes, written
    // only on success.
    uint32_t DoAuthentication(const uint8_t *challenge, uint8_t *response);

    // --- Key operations (token_keys.cpp) ---

    uint32_t GetRandom(uint8_t *buffer, int32_t length);
    // index 0: four uint32 (191, 9, 0, 0); 1: uint32 A; 2..5: B, N, Px, Py (24 bytes,
    // LSB first); 6: hash start vector (32); 7: packed S-box (64).
    uint32_t GetDsaParams(int32_t index, uint8_t *out);
    // out: a 128-byte point, x and y least significant byte first.
    uint32_t GetOwnerPublicKey(uint32_t keyNumber, uint8_t *out);
    uint32_t GenerateOwnerKeyPair(uint32_t keyNumber, uint8_t *out);
    uint32_t ActivateKey(uint32_t keyNumber);
    uint32_t ShiftKey();
    // Signs with the active key (slot 1); signature: SignSize bytes.
    uint32_t SignHash(const uint8_t *hash32, uint8_t *signature);
    uint32_t SignCaRequest(uint32_t keyNumber, const uint8_t *hash32, uint8_t *signature, uint8_t *out16);
    // mode 1, or 0 when CapAgreeKeyZero is set; point: 128-byte peer point.
    uint32_t CreateWrapKeysEx(int32_t mode, const uint8_t *point, uint8_t *key0, uint8_t *key1);
    // Commands only the multi-carrier build sends. record70: the document record;
    // out: 48 signature bytes then the 14-byte stamp.
    uint32_t SignDocument(const uint8_t *record70, uint8_t *signature, uint8_t *stamp14);
    // The NUL-terminated text of the status file from offset 8 (up to 252 bytes);
    // *length receives the bytes returned by the token.
    uint32_t ReadStatusText(uint8_t *out, uint32_t capacity, uint32_t *length);

    // --- I/O control (token_iocontrol.cpp) ---
    uint32_t IoControl(uint32_t code, const uint8_t *in, uint32_t inLength, uint8_t *out, uint32_t outCapacity,
                       uint32_t *outLength);

    // Fields.
    const TokenBuild Build;
    uint32_t LastError = 0;
    uint8_t Connected = 0;
    uint8_t Serial[8] = {};
    uint32_t FieldDegree = 0;
    uint32_t SignSize = 0;
    uint32_t KeySlots = 0;
    uint32_t ContainerSize[3] = {};
    uint32_t InfoWord = 0;
    uint32_t InfoFileSize = 0;  // size of file 000A
    uint32_t AuthChallengeSize = 8;
    uint32_t AuthResponseSize = 64;
    SCARDCONTEXT Context = 0;
    SCARDHANDLE Card = 0;
    DWORD Protocol = 0;
    uint64_t Caps = 0;
    uint16_t LastSW = 0;
    uint8_t CurveRecord[kCurveRecordSize] = {};
    // Response data bytes of the last exchange (before any limit).
    uint32_t LastDataLength = 0;
    // Multi-carrier build: 8-byte block whose first two bytes (MSB first) count
    // exchanges in steps of 2.
    uint8_t ExchangeBlock[8] = {};

private:
    bool MultiCarrier() const noexcept { return Build == TokenBuild::MultiCarrier; }
    uint32_t StatusWordError(uint16_t sw) const noexcept;
    bool KeyNumberValid(uint32_t n) const noexcept { return n >= 1 && n <= KeySlots; }
    // CardCommand that also requires at least `need` response data bytes; a shorter
    // answer is a token fault (32).
    bool CommandFor(const uint8_t *command, uint8_t *response, uint64_t limit, uint32_t need);
    bool SelectForTransfer(uint64_t fid, uint64_t offset, uint8_t &p1, uint8_t &p2);
    bool Transfer(bool write, uint64_t fid, uint64_t offset, uint8_t *buffer, uint64_t length);
    uint32_t ContainerCheck(uint64_t n, uint32_t offset, uint32_t length);
};

}  // namespace kcar
