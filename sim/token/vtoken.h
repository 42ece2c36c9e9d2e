// The simulated token: the card side of the active token, answering the same
// APDUs over T=1 as the real one, with its state kept by the caller (a file for
// the daemon, memory for in-process tests).
//
// Answer to reset (16 bytes): 3B B7 94 00 81 31 FE 65, then the historical bytes
// 20 (token kind) and bytes 2..7 of the serial number, then TCK. Only T=1 is
// offered, so PC/SC connects with T=1.
//
// File system. MF, with the application DF 42 below it; in DF 42 the transparent
// files 0004 (status: version bytes 01 09, flags, and a NUL-terminated version
// text from offset 8), 0005 (the 204-byte curve record), 000A and the containers
// 0201, 0202, ..., and the record file 0009 whose record n is the public key of
// key slot n (x then y, 24 bytes each, most significant byte first; 48 FF bytes
// for an empty slot). SELECT with P1 08 selects by path from the MF (DF 42), P1
// 00 by identifier in the current DF. With Le 00 (or any Le above 1) it answers
// the file information, shortened to Le:
//     62 L  80 02 size(2)  86 02 read-AC write-AC  82 01 type  83 02 FID
// (size at bytes 4-5, access conditions at bytes 8-9, and the size after the
// first 80 02); with no Le or Le 01 it answers no data. Access conditions: 00
// always, 05 after VERIFY of reference 5, FF never. The containers are read
// freely and written after VERIFY; the other files are read-only. The key file
// reports slots × 256 as its size.
//
// READ BINARY / UPDATE BINARY: P1 bit 7 set addresses a short identifier (P1 bits
// 0-4) at offset P2 and makes that file current; otherwise P1 P2 is the offset
// in the current file. READ BINARY answers Le bytes (Le 00: everything up to the
// end, at most 252); fewer bytes left than an explicit Le gives the bytes and
// 62 82. READ RECORD n with P2 = SFI × 8 + 4 (SFI 0: the current file).
//
// Reference data: reference 5 (the PIN) and 6, each an 8-byte block compared
// exactly, with a retry counter: a wrong value answers 63 Cn (n attempts left),
// 0 attempts answers 69 83. The counter is decreased and saved before the value
// is compared, and restored on a match, so cutting the power does not win an
// attempt. VERIFY without data answers the counter (63 Cn, or 90 00 when
// verified). CHANGE REFERENCE DATA 80 24 00 05 and 00 06 check the old value of
// the reference they change; 80 24 01 06 sets reference 6 after checking the
// old value against reference 5. 80 F2 00 05 / 00 06 answers the counter (1
// byte); 80 E0 02 00 drops the verified state, as do power off, reset and a
// failed VERIFY. Until VERIFY succeeds the key commands and UPDATE BINARY answer
// 69 82.
//
// Keys. Slot n holds a private key d and the public key Q = -d·P (DSTU 4145).
// 40 4A n 00 generates a pair in slot n (ready to use); 40 4C 00 00 moves every
// key one slot down (slot 2 into slot 1, ...; the last slot empties) and leaves
// the moved key of slot 1 pending; 40 4A n 01 makes a pending key ready. A
// command that needs a key of an empty or pending slot answers 98 0D. The key of
// slot 1 is the active key:
// - 40 52: DSTU 4145 signature of the 32-byte hash given (48 bytes).
// - 40 50 n: signature of the hash with the key of slot n, then 16 bytes: the
//   8-byte serial number, n, and seven zero bytes.
// - 40 58 (authentication): the token draws 16 random bytes R, hashes R and then
//   the 8 challenge bytes with GOST 34.311 under the start vector and table of
//   its curve record, and answers the signature of that hash (48 bytes) followed
//   by R. A verifier who holds the public key of slot 1 checks the signature over
//   the hash of R || challenge.
// - 40 56 00 00 with the peer's point x, y (24 bytes each, MSB first): the two
//   32-byte wrap keys of the key agreement, tags 0 and 1, hashed with a zero start
//   vector and the table of the curve record (the sender's derivation).
// - 40 54 with the 70-byte document record (pad count, byte count, running hash
//   value, control sum): the token appends its 14-byte stamp (bytes 2..7 of the
//   serial, a 4-byte document counter and the 4-byte UNIX time, both most
//   significant byte first), completes the GOST 34.311 hash under the table of
//   its curve record, signs it, and answers the signature and the stamp.
//
// Malformed commands get ISO status words: 67 00 wrong length, 6D 00 unknown
// instruction, 6E 00 wrong class, 6A 86 wrong P1 P2, 6A 82 file not found, 6A 83
// record not found, 6B 00 offset outside the file, 6A 84 data beyond the end of
// the file, 69 86 no current file, 69 81 wrong file structure, 69 85 read-only
// file, 6C xx wrong Le, 65 81 the state could not be saved (nothing changed).
//
// Vendor control requests on the token's reader (control code 0x3136B0, 4 input
// bytes, see vtoken_vendor.cpp): 0C A0 31 7A answers 16 bytes of reader
// information; 14 A0 31 7A restarts the token into its boot loader. In boot-loader
// mode the token has left its reader "Kelmar Morvane 0" (APDUs get 6F 00) and is
// the boot-loader device "ClsReaderB07r00" until the boot loader hands back.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "token_state.h"
#include "vpcd_link.h"

namespace vtoken {

class Token : public vpcd::VirtualCard {
public:
    // Persists a state; false when it could not be saved (the command then fails).
    using Saver = std::function<bool(const State &)>;

    explicit Token(State state, Saver saver = {});

    vpcd::Bytes Atr() override;
    vpcd::Bytes Transmit(const vpcd::Bytes &command) override;
    void PowerOn() override { EndCardSession(); }
    void PowerOff() override { EndCardSession(); }
    void Reset() override { EndCardSession(); }

    // Fault injection: every later command whose bytes start with prefix is
    // answered with the status word alone (the first matching rule wins).
    void InjectStatus(const Bytes &prefix, uint16_t sw);
    void ClearInjections() { injections_.clear(); }

    const State &state() const { return state_; }
    // For tests that need an unusual token (another curve record, a key missing).
    State &MutableState() { return state_; }
    bool PinVerified() const { return verified_; }

    // ---- The token's USB device: vendor control requests and boot-loader mode ----
    enum class Mode { Reader, BootLoader };
    static constexpr char kReaderName[] = "Kelmar Morvane 0";
    static constexpr char kBootLoaderName[] = "ClsReaderB07r00";
    static constexpr uint32_t kVendorControlCode = 0x3136B0;
    // Answers a vendor control request into out; false when the token refuses it.
    bool Control(uint32_t code, const Bytes &input, Bytes &out);
    Mode mode() const { return mode_; }
    // The boot loader is done: the token comes back as a reader (card session anew).
    void LeaveBootLoader();
    // Fault injection: control requests with exactly this input are refused.
    void RefuseControl(const Bytes &input) { refusedControls_.push_back(input); }

    struct Apdu;

private:
    using Reply = Bytes;

    void EndCardSession();
    bool Commit(const State &next);
    Reply Dispatch(const Apdu &a);

    Reply Select(const Apdu &a);
    Reply ReadBinary(const Apdu &a);
    Reply UpdateBinary(const Apdu &a);
    Reply ReadRecord(const Apdu &a);
    Reply Verify(const Apdu &a);
    Reply ChangeReference(const Apdu &a);
    Reply ForgetPin(const Apdu &a);
    Reply QueryTries(const Apdu &a);
    Reply GetChallenge(const Apdu &a);
    Reply GetSerial(const Apdu &a);
    Reply GenerateOrActivate(const Apdu &a);
    Reply ShiftKeys(const Apdu &a);
    Reply SignHash(const Apdu &a);
    Reply SignRequest(const Apdu &a);
    Reply Authenticate(const Apdu &a);
    Reply WrapKeys(const Apdu &a);
    Reply SignDocument(const Apdu &a);

    // Checks a reference datum; answers 90 00 on a match. ref: 5 or 6.
    Reply CheckReference(int ref, const uint8_t *block, State &next);
    // The usable key of slot n once the PIN is verified, or null with the status
    // word in sw (69 82 before VERIFY, 98 0D for an empty or pending slot).
    const KeySlot *UsableKey(int n, uint16_t &sw) const;
    // The transparent file fid of DF 42, or null.
    const Bytes *File(uint16_t fid) const;
    bool Exists(uint16_t fid) const;
    Bytes FileInformation(uint16_t fid) const;
    const uint8_t *HashIv() const;
    const uint8_t *HashSbox() const;

    State state_;
    Saver saver_;
    bool verified_ = false;
    bool appSelected_ = false;
    int currentEf_ = -1;  // identifier of the current EF, -1 none
    std::vector<std::pair<Bytes, uint16_t>> injections_;
    Mode mode_ = Mode::Reader;
    std::vector<Bytes> refusedControls_;
};

}  // namespace vtoken
