#include "vtoken.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <new>

#include "curve191.h"
#include "token_crypto.h"

namespace vtoken {

namespace {

constexpr std::size_t kMaxData = 252;      // response data per exchange
constexpr std::size_t kRecordSize = 48;    // public key record: x then y
constexpr uint8_t kAcAlways = 0x00, kAcPin = 0x05, kAcNever = 0xFF;
constexpr std::size_t kStampSize = 14;

enum : uint16_t {
    kOk = 0x9000,
    kEndOfFile = 0x6282,
    kMemoryFailure = 0x6581,
    kWrongLength = 0x6700,
    kWrongStructure = 0x6981,
    kSecurity = 0x6982,
    kBlocked = 0x6983,
    kNotAllowed = 0x6985,
    kNoCurrentEf = 0x6986,
    kWrongData = 0x6A80,
    kFileNotFound = 0x6A82,
    kRecordNotFound = 0x6A83,
    kNoSpace = 0x6A84,
    kWrongP1P2 = 0x6A86,
    kRefNotFound = 0x6A88,
    kWrongOffset = 0x6B00,
    kWrongIns = 0x6D00,
    kWrongClass = 0x6E00,
    kNoPreciseDiagnosis = 0x6F00,
    kKeyState = 0x980D,
};

Bytes Sw(uint16_t sw) { return {static_cast<uint8_t>(sw >> 8), static_cast<uint8_t>(sw)}; }

Bytes WithSw(Bytes data, uint16_t sw = kOk) {
    data.push_back(static_cast<uint8_t>(sw >> 8));
    data.push_back(static_cast<uint8_t>(sw));
    return data;
}

bool SameBlock(const uint8_t *a, const uint8_t *b, std::size_t n) {
    uint8_t diff = 0;
    for (std::size_t i = 0; i < n; ++i) diff |= static_cast<uint8_t>(a[i] ^ b[i]);
    return diff == 0;
}

void PutBe32(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

bool IsContainer(uint16_t fid) { return fid > 0x0200 && fid <= 0x02FF; }

}  // namespace

struct Token::Apdu {
    uint8_t cla = 0, ins = 0, p1 = 0, p2 = 0;
    bool hasData = false;
    Bytes data;
    bool hasLe = false;
    std::size_t le = 0;  // Le 00 is 256
};

Token::Token(State state, Saver saver) : state_(std::move(state)), saver_(std::move(saver)) {}

vpcd::Bytes Token::Atr() {
    Bytes atr = {0x3B, 0xB7, 0x94, 0x00, 0x81, 0x31, 0xFE, 0x65, 0x20, 0, 0, 0, 0, 0, 0, 0};
    std::copy(state_.serial.begin() + 2, state_.serial.end(), atr.begin() + 9);
    uint8_t tck = 0;
    for (std::size_t i = 1; i < 15; ++i) tck ^= atr[i];
    atr[15] = tck;
    return atr;
}

void Token::InjectStatus(const Bytes &prefix, uint16_t sw) { injections_.emplace_back(prefix, sw); }

void Token::EndCardSession() {
    verified_ = false;
    appSelected_ = false;
    currentEf_ = -1;
}

bool Token::Commit(const State &next) {
    if (saver_ && !saver_(next)) return false;
    state_ = next;
    return true;
}

vpcd::Bytes Token::Transmit(const vpcd::Bytes &command) {
    if (mode_ != Mode::Reader) return Sw(kNoPreciseDiagnosis);  // no reader function in the boot loader
    for (const auto &[prefix, sw] : injections_)
        if (command.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), command.begin()))
            return Sw(sw);
    // Short APDUs only: CLA INS P1 P2 [Lc data] [Le].
    Apdu a;
    if (command.size() < 4) return Sw(kWrongLength);
    a.cla = command[0];
    a.ins = command[1];
    a.p1 = command[2];
    a.p2 = command[3];
    if (command.size() == 5) {
        a.hasLe = true;
        a.le = command[4] ? command[4] : 256;
    } else if (command.size() > 5) {
        std::size_t lc = command[4];
        if (lc == 0) return Sw(kWrongLength);  // no extended lengths
        if (command.size() != 5 + lc && command.size() != 6 + lc) return Sw(kWrongLength);
        a.hasData = true;
        a.data.assign(command.begin() + 5, command.begin() + 5 + static_cast<long>(lc));
        if (command.size() == 6 + lc) {
            a.hasLe = true;
            a.le = command.back() ? command.back() : 256;
        }
    }
    try {
        return Dispatch(a);
    } catch (const std::bad_alloc &) {
        return Sw(kNoPreciseDiagnosis);
    }
}

Token::Reply Token::Dispatch(const Apdu &a) {
    struct Command {
        uint8_t cla, ins;
        Reply (Token::*run)(const Apdu &);
    };
    static const Command kCommands[] = {
        {0x00, 0xA4, &Token::Select},          {0x00, 0xB0, &Token::ReadBinary},
        {0x00, 0xD6, &Token::UpdateBinary},    {0x00, 0xB2, &Token::ReadRecord},
        {0x00, 0x20, &Token::Verify},          {0x00, 0x84, &Token::GetChallenge},
        {0x80, 0x24, &Token::ChangeReference}, {0x80, 0xE0, &Token::ForgetPin},
        {0x80, 0xF2, &Token::QueryTries},      {0x80, 0xF6, &Token::GetSerial},
        {0x40, 0x4A, &Token::GenerateOrActivate}, {0x40, 0x4C, &Token::ShiftKeys},
        {0x40, 0x52, &Token::SignHash},        {0x40, 0x50, &Token::SignRequest},
        {0x40, 0x58, &Token::Authenticate},    {0x40, 0x56, &Token::WrapKeys},
        {0x40, 0x54, &Token::SignDocument},
    };
    bool knownIns = false;
    for (const Command &c : kCommands) {
        if (c.ins != a.ins) continue;
        if (c.cla == a.cla) return (this->*c.run)(a);
        knownIns = true;
    }
    return Sw(knownIns ? uint16_t{kWrongClass} : uint16_t{kWrongIns});
}

namespace {

// A fixed-size answer: 6C xx when an explicit Le asks for less.
Bytes Fixed(bool hasLe, std::size_t le, Bytes data) {
    if (hasLe && le < data.size()) return Sw(static_cast<uint16_t>(0x6C00 | data.size()));
    return WithSw(std::move(data));
}

}  // namespace

// ---- Files ----

const Bytes *Token::File(uint16_t fid) const {
    if (!appSelected_) return nullptr;
    auto it = state_.files.find(fid);
    return it == state_.files.end() ? nullptr : &it->second;
}

bool Token::Exists(uint16_t fid) const { return appSelected_ && (fid == kKeyFile || File(fid) != nullptr); }

Bytes Token::FileInformation(uint16_t fid) const {
    std::size_t size;
    uint8_t write, type;
    if (fid == kKeyFile) {
        size = state_.keys.size() << 8;
        write = kAcNever;
        type = 0x02;  // linear fixed records
    } else {
        size = File(fid)->size();
        write = IsContainer(fid) ? kAcPin : kAcNever;
        type = 0x01;  // transparent
    }
    return {0x62, 0x0F, 0x80, 0x02, static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size), 0x86, 0x02, kAcAlways,
            write, 0x82, 0x01, type, 0x83, 0x02, static_cast<uint8_t>(fid >> 8), static_cast<uint8_t>(fid)};
}

Token::Reply Token::Select(const Apdu &a) {
    if ((a.p1 != 0x00 && a.p1 != 0x08) || (a.p2 != 0x00 && a.p2 != 0x04 && a.p2 != 0x0C)) return Sw(kWrongP1P2);
    if (!a.hasData || a.data.size() % 2 || a.data.size() > 4) return Sw(kWrongLength);
    auto fidAt = [&](std::size_t i) { return static_cast<uint16_t>(a.data[i] << 8 | a.data[i + 1]); };
    uint16_t first = fidAt(0);
    bool app = appSelected_;
    int ef = currentEf_;
    uint16_t target = first;
    if (a.p1 == 0x08) {  // path from the MF
        if (first != 0xDF42) return Sw(kFileNotFound);
        app = true;
        ef = -1;
        if (a.data.size() == 4) target = fidAt(2);
    } else if (a.data.size() != 2) {
        return Sw(kWrongLength);
    } else if (first == 0x3F00) {
        app = false;
        ef = -1;
    } else if (first == 0xDF42) {
        app = true;
        ef = -1;
    }
    bool selectsEf = target != 0x3F00 && target != 0xDF42;
    if (selectsEf) {
        bool wasApp = appSelected_;
        appSelected_ = app;
        bool found = Exists(target);
        appSelected_ = wasApp;
        if (!found) return Sw(kFileNotFound);
        ef = target;
    }
    appSelected_ = app;
    currentEf_ = ef;
    if (!a.hasLe || a.le == 1 || a.p2 == 0x0C) return Sw(kOk);
    Bytes info = selectsEf ? FileInformation(target)
                           : Bytes{0x62, 0x07, 0x82, 0x01, 0x38, 0x83, 0x02, static_cast<uint8_t>(target >> 8),
                                   static_cast<uint8_t>(target)};
    if (info.size() > a.le) info.resize(a.le);
    return WithSw(std::move(info));
}

namespace {

struct Address {
    uint16_t fid;
    std::size_t offset;
};

}  // namespace

// Resolves P1 P2 of READ/UPDATE BINARY; sw is set when it fails.
static bool BinaryAddress(const Token::Apdu &a, int currentEf, bool appSelected, Address &out, uint16_t &sw) {
    if (a.p1 & 0x80) {
        if (a.p1 & 0x60) {
            sw = kWrongP1P2;
            return false;
        }
        if (!appSelected) {
            sw = kFileNotFound;
            return false;
        }
        out.fid = a.p1 & 0x1F;
        out.offset = a.p2;
        return true;
    }
    if (currentEf < 0) {
        sw = kNoCurrentEf;
        return false;
    }
    out.fid = static_cast<uint16_t>(currentEf);
    out.offset = static_cast<std::size_t>(a.p1) << 8 | a.p2;
    return true;
}

Token::Reply Token::ReadBinary(const Apdu &a) {
    if (a.hasData || !a.hasLe) return Sw(kWrongLength);
    Address at{};
    uint16_t sw = 0;
    if (!BinaryAddress(a, currentEf_, appSelected_, at, sw)) return Sw(sw);
    if (at.fid == kKeyFile && appSelected_) return Sw(kWrongStructure);
    const Bytes *file = File(at.fid);
    if (!file) return Sw(kFileNotFound);
    currentEf_ = at.fid;
    if (at.offset >= file->size()) return Sw(kWrongOffset);
    std::size_t left = file->size() - at.offset;
    std::size_t n;
    uint16_t status = kOk;
    if (a.le == 256) {
        n = std::min(left, kMaxData);
    } else if (a.le > kMaxData) {
        return Sw(kWrongLength);
    } else if (a.le > left) {
        n = left;
        status = kEndOfFile;
    } else {
        n = a.le;
    }
    Bytes out(file->begin() + static_cast<long>(at.offset), file->begin() + static_cast<long>(at.offset + n));
    return WithSw(std::move(out), status);
}

Token::Reply Token::UpdateBinary(const Apdu &a) {
    if (!a.hasData) return Sw(kWrongLength);
    Address at{};
    uint16_t sw = 0;
    if (!BinaryAddress(a, currentEf_, appSelected_, at, sw)) return Sw(sw);
    if (at.fid == kKeyFile && appSelected_) return Sw(kWrongStructure);
    const Bytes *file = File(at.fid);
    if (!file) return Sw(kFileNotFound);
    currentEf_ = at.fid;
    if (!IsContainer(at.fid)) return Sw(kNotAllowed);
    if (!verified_) return Sw(kSecurity);
    if (at.offset >= file->size()) return Sw(kWrongOffset);
    if (a.data.size() > file->size() - at.offset) return Sw(kNoSpace);
    State next = state_;
    std::copy(a.data.begin(), a.data.end(), next.files[at.fid].begin() + static_cast<long>(at.offset));
    return Sw(Commit(next) ? uint16_t{kOk} : uint16_t{kMemoryFailure});
}

Token::Reply Token::ReadRecord(const Apdu &a) {
    if (a.hasData) return Sw(kWrongLength);
    if ((a.p2 & 0x07) != 0x04) return Sw(kWrongP1P2);
    int sfi = a.p2 >> 3;
    if (sfi == 0) {
        if (currentEf_ < 0) return Sw(kNoCurrentEf);
        if (currentEf_ != kKeyFile) return Sw(kWrongStructure);
    } else if (!Exists(static_cast<uint16_t>(sfi))) {
        return Sw(kFileNotFound);
    } else if (sfi != kKeyFile) {
        return Sw(kWrongStructure);
    }
    currentEf_ = kKeyFile;
    if (a.p1 == 0 || a.p1 > state_.keys.size()) return Sw(kRecordNotFound);
    const KeySlot &slot = state_.keys[a.p1 - 1u];
    Bytes record(kRecordSize, 0xFF);
    if (slot.state != KeyState::Empty) record.assign(slot.pub.begin(), slot.pub.end());
    return Fixed(a.hasLe, a.le, std::move(record));
}

// ---- Reference data ----

Token::Reply Token::CheckReference(int ref, const uint8_t *block, State &next) {
    RefData &r = ref == 5 ? next.ref5 : next.ref6;
    if (r.triesLeft == 0) return Sw(kBlocked);
    // The attempt is counted, and saved, before the comparison.
    --r.triesLeft;
    if (!Commit(next)) return Sw(kMemoryFailure);
    if (!SameBlock(r.value.data(), block, 8)) return Sw(static_cast<uint16_t>(0x63C0 | r.triesLeft));
    r.triesLeft = r.triesMax;
    return Sw(kOk);
}

Token::Reply Token::Verify(const Apdu &a) {
    if (a.p1 != 0x00) return Sw(kWrongP1P2);
    if (a.p2 != 0x05) return Sw(kRefNotFound);
    if (!a.hasData) {
        if (state_.ref5.triesLeft == 0) return Sw(kBlocked);
        return Sw(verified_ ? uint16_t{kOk} : static_cast<uint16_t>(0x63C0 | state_.ref5.triesLeft));
    }
    if (a.data.size() != 8) return Sw(kWrongLength);
    verified_ = false;
    State next = state_;
    Reply r = CheckReference(5, a.data.data(), next);
    if (r != Sw(kOk)) return r;
    if (!Commit(next)) return Sw(kMemoryFailure);
    verified_ = true;
    return r;
}

Token::Reply Token::ChangeReference(const Apdu &a) {
    int checked, changed;
    if (a.p1 == 0x00 && a.p2 == 0x05) {
        checked = changed = 5;
    } else if (a.p1 == 0x00 && a.p2 == 0x06) {
        checked = changed = 6;
    } else if (a.p1 == 0x01 && a.p2 == 0x06) {
        checked = 5;
        changed = 6;
    } else {
        return Sw(kWrongP1P2);
    }
    if (!a.hasData || a.data.size() != 16) return Sw(kWrongLength);
    State next = state_;
    Reply r = CheckReference(checked, a.data.data(), next);
    if (r != Sw(kOk)) {
        if (checked == 5) verified_ = false;
        return r;
    }
    RefData &target = changed == 5 ? next.ref5 : next.ref6;
    std::copy(a.data.begin() + 8, a.data.end(), target.value.begin());
    target.triesLeft = target.triesMax;
    return Sw(Commit(next) ? uint16_t{kOk} : uint16_t{kMemoryFailure});
}

Token::Reply Token::ForgetPin(const Apdu &a) {
    if (a.p1 != 0x02 || a.p2 != 0x00) return Sw(kWrongP1P2);
    if (a.hasData) return Sw(kWrongLength);
    verified_ = false;
    return Sw(kOk);
}

Token::Reply Token::QueryTries(const Apdu &a) {
    if (a.p1 != 0x00) return Sw(kWrongP1P2);
    if (a.p2 != 0x05 && a.p2 != 0x06) return Sw(kRefNotFound);
    if (a.hasData) return Sw(kWrongLength);
    return Fixed(a.hasLe, a.le, {a.p2 == 0x05 ? state_.ref5.triesLeft : state_.ref6.triesLeft});
}

// ---- Identity and random ----

Token::Reply Token::GetChallenge(const Apdu &a) {
    if (a.p1 != 0x00 || a.p2 != 0x00) return Sw(kWrongP1P2);
    if (a.hasData) return Sw(kWrongLength);
    std::size_t n = (!a.hasLe || a.le == 256) ? 8 : a.le;
    if (n > 32) return Sw(kWrongLength);
    Bytes out(n);
    RandomBytes(out.data(), n);
    return WithSw(std::move(out));
}

Token::Reply Token::GetSerial(const Apdu &a) {
    if (a.p1 != 0x00 || a.p2 != 0x00) return Sw(kWrongP1P2);
    if (a.hasData) return Sw(kWrongLength);
    return Fixed(a.hasLe, a.le, Bytes(state_.serial.begin(), state_.serial.end()));
}

// ---- Keys ----

const KeySlot *Token::UsableKey(int n, uint16_t &sw) const {
    if (!verified_) {
        sw = kSecurity;
        return nullptr;
    }
    if (n < 1 || static_cast<std::size_t>(n) > state_.keys.size() ||
        state_.keys[static_cast<std::size_t>(n) - 1].state != KeyState::Ready) {
        sw = kKeyState;
        return nullptr;
    }
    return &state_.keys[static_cast<std::size_t>(n) - 1];
}

const uint8_t *Token::HashIv() const {
    static const uint8_t zero[32] = {};
    auto it = state_.files.find(kCurveFile);
    return it != state_.files.end() && it->second.size() >= kCurveRecordSize ? it->second.data() + rec::kIv : zero;
}

const uint8_t *Token::HashSbox() const {
    auto it = state_.files.find(kCurveFile);
    return it != state_.files.end() && it->second.size() >= kCurveRecordSize ? it->second.data() + rec::kSbox
                                                                             : kDke1Sbox;
}

Token::Reply Token::GenerateOrActivate(const Apdu &a) {
    if (a.p2 > 0x01 || a.p1 == 0 || a.p1 > state_.keys.size()) return Sw(kWrongP1P2);
    if (a.hasData) return Sw(kWrongLength);
    if (!verified_) return Sw(kSecurity);
    State next = state_;
    KeySlot &slot = next.keys[a.p1 - 1u];
    if (a.p2 == 0x00) {
        KeySlot fresh;
        if (!crypto::GenerateKeyPair(fresh.d, fresh.pub)) return Sw(kNoPreciseDiagnosis);
        fresh.state = KeyState::Ready;
        slot = fresh;
    } else {
        if (slot.state == KeyState::Empty) return Sw(kKeyState);
        if (slot.state == KeyState::Ready) return Sw(kOk);
        slot.state = KeyState::Ready;
    }
    return Sw(Commit(next) ? uint16_t{kOk} : uint16_t{kMemoryFailure});
}

Token::Reply Token::ShiftKeys(const Apdu &a) {
    if (a.p1 != 0x00 || a.p2 != 0x00) return Sw(kWrongP1P2);
    if (a.hasData) return Sw(kWrongLength);
    if (!verified_) return Sw(kSecurity);
    if (state_.keys.size() < 2 || state_.keys[1].state == KeyState::Empty) return Sw(kKeyState);
    State next = state_;
    next.keys.erase(next.keys.begin());
    next.keys.push_back(KeySlot{});
    next.keys[0].state = KeyState::Pending;
    return Sw(Commit(next) ? uint16_t{kOk} : uint16_t{kMemoryFailure});
}

Token::Reply Token::SignHash(const Apdu &a) {
    if (a.p1 != 0x00 || a.p2 != 0x00) return Sw(kWrongP1P2);
    if (!a.hasData || a.data.size() != 32) return Sw(kWrongLength);
    uint16_t sw = 0;
    const KeySlot *key = UsableKey(1, sw);
    if (!key) return Sw(sw);
    Bytes sig(kSignatureBytes);
    if (!crypto::SignHash(key->d, a.data.data(), sig.data())) return Sw(kNoPreciseDiagnosis);
    return Fixed(a.hasLe, a.le, std::move(sig));
}

Token::Reply Token::SignRequest(const Apdu &a) {
    if (a.p2 != 0x00 || a.p1 == 0 || a.p1 > state_.keys.size()) return Sw(kWrongP1P2);
    if (!a.hasData || a.data.size() != 32) return Sw(kWrongLength);
    uint16_t sw = 0;
    const KeySlot *key = UsableKey(a.p1, sw);
    if (!key) return Sw(sw);
    Bytes out(kSignatureBytes + 16, 0);
    if (!crypto::SignHash(key->d, a.data.data(), out.data())) return Sw(kNoPreciseDiagnosis);
    std::copy(state_.serial.begin(), state_.serial.end(), out.begin() + kSignatureBytes);
    out[kSignatureBytes + 8] = a.p1;
    return Fixed(a.hasLe, a.le, std::move(out));
}

Token::Reply Token::Authenticate(const Apdu &a) {
    if (a.p1 != 0x00 || a.p2 != 0x00) return Sw(kWrongP1P2);
    if (!a.hasData || a.data.size() != 8) return Sw(kWrongLength);
    uint16_t sw = 0;
    const KeySlot *key = UsableKey(1, sw);
    if (!key) return Sw(sw);
    uint8_t input[24];
    RandomBytes(input, 16);
    std::memcpy(input + 16, a.data.data(), 8);
    uint8_t hash[32];
    crypto::Hash(HashIv(), HashSbox(), input, sizeof input, hash);
    Bytes out(kSignatureBytes + 16);
    if (!crypto::SignHash(key->d, hash, out.data())) return Sw(kNoPreciseDiagnosis);
    std::copy(input, input + 16, out.begin() + kSignatureBytes);
    return Fixed(a.hasLe, a.le, std::move(out));
}

Token::Reply Token::WrapKeys(const Apdu &a) {
    // P1 names the key: 00 the active key. This token has no key number 0 (P1 FF).
    if (a.p1 != 0x00 || a.p2 != 0x00) return Sw(kWrongP1P2);
    if (!a.hasData || a.data.size() != 2 * kElementBytes) return Sw(kWrongLength);
    uint16_t sw = 0;
    const KeySlot *key = UsableKey(1, sw);
    if (!key) return Sw(sw);
    Bytes keys(64);
    // The derivation hash always starts from a zero vector, as the sender's does.
    if (!crypto::WrapKeys(key->d, a.data.data(), a.data.data() + kElementBytes, HashSbox(), keys.data()))
        return Sw(kWrongData);
    return Fixed(a.hasLe, a.le, std::move(keys));
}

Token::Reply Token::SignDocument(const Apdu &a) {
    if (a.p1 != 0x00 || a.p2 != 0x00) return Sw(kWrongP1P2);
    if (!a.hasData || a.data.size() != 70) return Sw(kWrongLength);
    uint16_t sw = 0;
    const KeySlot *key = UsableKey(1, sw);
    if (!key) return Sw(sw);
    const uint8_t *rec = a.data.data();
    unsigned pad = rec[0] | rec[1] << 8;
    uint32_t count = static_cast<uint32_t>(rec[2] | rec[3] << 8 | rec[4] << 16 | static_cast<uint32_t>(rec[5]) << 24);
    // The state handed over ends on a block boundary, after 0..31 padding bytes.
    if (pad < 1 || pad > 32 || count % 32 != 0 || (pad != 32 && count == 0)) return Sw(kWrongData);

    // Every stamp is unique: the counter is saved before the signature leaves.
    State next = state_;
    ++next.stamps;
    if (!Commit(next)) return Sw(kMemoryFailure);
    uint8_t stamp[kStampSize];
    std::copy(state_.serial.begin() + 2, state_.serial.end(), stamp);
    PutBe32(stamp + 6, state_.stamps);
    PutBe32(stamp + 10, static_cast<uint32_t>(std::time(nullptr)));

    uint8_t hash[32];
    crypto::CompleteHash(HashSbox(), rec + 6, rec + 38, count, stamp, kStampSize, hash);
    Bytes out(kSignatureBytes + kStampSize);
    if (!crypto::SignHash(key->d, hash, out.data())) return Sw(kNoPreciseDiagnosis);
    std::copy(stamp, stamp + kStampSize, out.begin() + kSignatureBytes);
    return Fixed(a.hasLe, a.le, std::move(out));
}

}  // namespace vtoken
