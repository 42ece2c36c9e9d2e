#include "vcarrier.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "carriers/card_family.h"
#include "kcarlib/gost.h"

namespace vcards {

namespace {

constexpr std::size_t kMaxData = 252;
constexpr uint16_t kAuditFile = 0x0053;

enum : uint16_t {
    kOk = 0x9000,
    kEndOfFile = 0x6282,
    kMemoryFailure = 0x6581,
    kWrongLength = 0x6700,
    kSecurity = 0x6982,
    kBlocked = 0x6983,
    kNotAllowed = 0x6985,
    kNoCurrentEf = 0x6986,
    kSmWrong = 0x6988,
    kFileNotFound = 0x6A82,
    kRecordNotFound = 0x6A83,
    kNoSpace = 0x6A84,
    kWrongP1P2 = 0x6A86,
    kRefNotFound = 0x6A88,
    kWrongOffset = 0x6B00,
    kWrongIns = 0x6D00,
    kNoDiagnosis = 0x6F00,
};

Bytes Sw(uint16_t sw) { return {uint8_t(sw >> 8), uint8_t(sw)}; }
Bytes WithSw(Bytes data, uint16_t sw = kOk) {
    data.push_back(uint8_t(sw >> 8));
    data.push_back(uint8_t(sw));
    return data;
}
uint16_t SwOf(const Bytes &r) { return r.size() < 2 ? 0 : uint16_t(r[r.size() - 2] << 8 | r[r.size() - 1]); }

void AddToWord(uint8_t *counter, int delta) {
    uint16_t w = uint16_t(counter[0] << 8 | counter[1]);
    w = uint16_t(w + delta);
    counter[0] = uint8_t(w >> 8);
    counter[1] = uint8_t(w);
}

}  // namespace

struct Card::Apdu {
    uint8_t cla = 0, ins = 0, p1 = 0, p2 = 0;
    bool hasData = false;
    Bytes data;
    bool hasLe = false;
    std::size_t le = 0;
    bool wrapped = false;  // arrived through the secure channel with a good MAC
};

Card::Card(CardState state, Saver saver) : state_(std::move(state)), saver_(std::move(saver)) {}

vpcd::Bytes Card::Atr() {
    Bytes atr = {0x3B, 0xB7, 0x94, 0x00, 0x81, 0x31, 0xFE, 0x65, 0x10, 0, 0, 0, 0, 0, 0, 0};
    if (state_.kind == Kind::Container) std::copy(state_.serial.begin() + 2, state_.serial.end(), atr.begin() + 9);
    else std::memcpy(atr.data() + 9, "CNTRV3", 6);
    uint8_t tck = 0;
    for (std::size_t i = 1; i < 15; ++i) tck ^= atr[i];
    atr[15] = tck;
    return atr;
}

void Card::EndCardSession() {
    verified_ = false;
    appSelected_ = false;
    currentEf_ = -1;
    channelOn_ = false;
    std::memset(counter_, 0, sizeof counter_);
}

bool Card::Commit(const CardState &next) {
    if (saver_ && !saver_(next)) return false;
    state_ = next;
    return true;
}

void Card::Mac(const uint8_t *data, std::size_t n, uint8_t *mac4) const {
    uint8_t key[32];
    std::memcpy(key, kcar::family::kChannelConstant, 32);
    key[0] = 0;
    TGostCipher c;
    MagmaInit(&c, Uz34311, key);
    MagmaMAC(&c, counter_, 8);
    MagmaMAC(&c, data, uint32_t(n));
    MagmaGetMAC4(&c, mac4);
    MagmaDone(&c);
}

void Card::Cipher(bool encipher, const uint8_t *sync8, uint8_t *data, std::size_t n) const {
    uint8_t key[32];
    std::memcpy(key, kcar::family::kChannelConstant, 32);
    key[0] = 1;
    TGostCipher c;
    MagmaInit(&c, Uz34311, key);
    MagmaSetSync(&c, sync8);
    if (encipher) MagmaM3Encrypt(&c, data, uint32_t(n));
    else MagmaM3Decrypt(&c, data, uint32_t(n));
    MagmaDone(&c);
}

// The plain command of a wrapped one, checked against its MAC under the current
// counter. False on a malformed command or a wrong MAC.
bool Card::Unwrap(const Bytes &cmd, Bytes &plain) {
    if (cmd.size() < 10 || cmd[4] < 5) return false;
    const std::size_t lc = cmd[4];
    uint8_t mac[4];
    if (lc == 5 && cmd.size() == 11 && cmd[10] == 0x00) {
        // CLA INS P1 P2 05 Le MAC 00: a command without data.
        Mac(cmd.data(), 6, mac);
        if (std::memcmp(mac, cmd.data() + 6, 4) != 0) return false;
        plain = {uint8_t(cmd[0] & ~0x04), cmd[1], cmd[2], cmd[3], cmd[5]};
        return true;
    }
    if (cmd.size() != 5 + lc && cmd.size() != 6 + lc) return false;
    Bytes body(cmd.begin(), cmd.begin() + 5 + static_cast<long>(lc) - 4);
    const bool enciphered = cmd[1] == 0x20 || cmd[1] == 0x24;
    if (enciphered) Cipher(false, counter_, body.data() + 5, lc - 4);
    Mac(body.data(), body.size(), mac);
    if (std::memcmp(mac, cmd.data() + 5 + lc - 4, 4) != 0) return false;
    plain = body;
    plain[0] = uint8_t(plain[0] & ~0x04);
    plain[4] = uint8_t(lc - 4);
    return true;
}

vpcd::Bytes Card::Transmit(const vpcd::Bytes &command) {
    for (const auto &[prefix, sw] : injections_)
        if (command.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), command.begin())) {
            if (channelOn_) AddToWord(counter_, 2);
            return Sw(sw);
        }
    if (command.size() < 4) return Sw(kWrongLength);
    // Channel start sets the counter; every other exchange while it is up moves it.
    const bool counted = channelOn_ && !(command[0] == 0x80 && command[1] == 0x80);
    Bytes plain = command;
    bool wrapped = false;
    Bytes reply;
    if (counted && (command[0] & 0x04)) {
        if (!Unwrap(command, plain)) {
            AddToWord(counter_, 2);
            return Sw(kSmWrong);
        }
        wrapped = true;
    }
    Apdu a;
    a.wrapped = wrapped;
    a.cla = plain[0];
    a.ins = plain[1];
    a.p1 = plain[2];
    a.p2 = plain[3];
    bool ok = true;
    if (plain.size() == 5) {
        a.hasLe = true;
        a.le = plain[4] ? plain[4] : 256;
    } else if (plain.size() > 5) {
        std::size_t lc = plain[4];
        if (lc == 0 || (plain.size() != 5 + lc && plain.size() != 6 + lc)) ok = false;
        else {
            a.hasData = true;
            a.data.assign(plain.begin() + 5, plain.begin() + 5 + static_cast<long>(lc));
            if (plain.size() == 6 + lc) {
                a.hasLe = true;
                a.le = plain.back() ? plain.back() : 256;
            }
        }
    }
    try {
        reply = ok ? Dispatch(a) : Sw(kWrongLength);
    } catch (const std::bad_alloc &) {
        reply = Sw(kNoDiagnosis);
    }
    if (counted) {
        if (wrapped && a.ins == 0xB0 && reply.size() > 2 && (SwOf(reply) >> 8) != 0x6C) {
            uint8_t sync[8];
            std::memcpy(sync, counter_, 8);
            AddToWord(sync, 1);
            Cipher(true, sync, reply.data(), reply.size() - 2);
        }
        AddToWord(counter_, 2);
    }
    return reply;
}

Bytes Card::Dispatch(const Apdu &a) {
    const bool container = state_.kind == Kind::Container;
    switch (a.cla << 8 | a.ins) {
    case 0x00A4: return Select(a);
    case 0x00B0: return ReadBinary(a);
    case 0x00D6: return UpdateBinary(a);
    case 0x00B2: return container ? ReadRecord(a) : Sw(kWrongIns);
    case 0x0020: return Verify(a);
    case 0x8024: return ChangeReference(a);
    case 0x80E0:
        if (a.p1 != 0x02 || a.p2 != 0x00) return Sw(kWrongP1P2);
        verified_ = false;
        return Sw(kOk);
    case 0x80F6:
        if (a.p1 || a.p2) return Sw(kWrongP1P2);
        return WithSw(Bytes(state_.serial.begin(), state_.serial.end()));
    case 0x4084: {
        if (!container) return Sw(kWrongIns);
        Bytes r(8);
        RandomBytes(r.data(), r.size());
        return WithSw(r);
    }
    case 0x405A: {
        if (!container) return Sw(kWrongIns);
        if (!verified_) return Sw(kSecurity);
        CardState next = state_;
        ++next.signatures;
        if (!Commit(next)) return Sw(kMemoryFailure);
        uint32_t n = state_.signatures;
        return WithSw({uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
    }
    case 0x80F2: {
        if (container) return Sw(kWrongIns);
        auto st = state_.files.find(0x0004);
        bool offered = st == state_.files.end() || st->second.data.size() < 3 || st->second.data[2] != 0x01;
        if (!offered) return Sw(kWrongIns);
        return (a.p1 == 0x00 && a.p2 == 0x20) ? Sw(kOk) : Sw(kWrongP1P2);
    }
    case 0x8080: {
        if (container) return Sw(kWrongIns);
        if (!a.hasData || a.data.size() != 4) return Sw(kWrongLength);
        Bytes mine(4);
        RandomBytes(mine.data(), 4);
        std::memcpy(counter_, mine.data(), 4);
        std::memcpy(counter_ + 4, a.data.data(), 4);
        channelOn_ = true;
        return WithSw(mine);
    }
    default: return Sw(kWrongIns);
    }
}

namespace {

Bytes Fci(uint16_t fid, std::size_t size, uint8_t rac, uint8_t wac, uint8_t type) {
    return {0x62, 0x0F, 0x80, 0x02, uint8_t(size >> 8), uint8_t(size), 0x86, 0x02, rac, wac, 0x82, 0x01, type,
            0x83, 0x02, uint8_t(fid >> 8), uint8_t(fid)};
}

}  // namespace

Bytes Card::Select(const Apdu &a) {
    if ((a.p1 != 0x00 && a.p1 != 0x08) || (a.p2 != 0x00 && a.p2 != 0x04 && a.p2 != 0x0C)) return Sw(kWrongP1P2);
    if (!a.hasData || a.data.size() != 2) return Sw(kWrongLength);
    uint16_t fid = uint16_t(a.data[0] << 8 | a.data[1]);
    if (a.p1 == 0x08 || fid == 0xDF42) {
        if (fid != 0xDF42) return Sw(kFileNotFound);
        appSelected_ = true;
        currentEf_ = -1;
        return Sw(kOk);
    }
    if (fid == 0x3F00) {
        appSelected_ = false;
        currentEf_ = -1;
        return Sw(kOk);
    }
    if (!appSelected_) return Sw(kFileNotFound);
    Bytes info;
    if (fid == kAuditFile && state_.kind == Kind::Container) {
        info = Fci(fid, 4, kAcAlways, kAcNever, 0x02);
    } else {
        auto it = state_.files.find(fid);
        if (it == state_.files.end()) return Sw(kFileNotFound);
        info = Fci(fid, it->second.data.size(), it->second.readAc, it->second.writeAc, 0x01);
    }
    currentEf_ = fid;
    if (!a.hasLe || a.le == 1 || a.p2 == 0x0C) return Sw(kOk);
    if (info.size() > a.le) info.resize(a.le);
    return WithSw(info);
}

namespace {

bool Allowed(uint8_t ac, bool verified, bool channelOn, bool wrapped, bool write) {
    switch (ac) {
    case kAcAlways: return true;
    case kAcPin: return verified;
    case kAcChannel: return write ? channelOn : wrapped;
    default: return false;
    }
}

}  // namespace

Bytes Card::ReadBinary(const Apdu &a) {
    if (a.hasData || !a.hasLe) return Sw(kWrongLength);
    uint16_t fid;
    std::size_t offset;
    if (a.p1 & 0x80) {
        if (!appSelected_) return Sw(kFileNotFound);
        fid = a.p1 & 0x1F;
        offset = a.p2;
    } else {
        if (currentEf_ < 0) return Sw(kNoCurrentEf);
        fid = uint16_t(currentEf_);
        offset = std::size_t(a.p1) << 8 | a.p2;
    }
    auto it = state_.files.find(fid);
    if (it == state_.files.end()) return Sw(kFileNotFound);
    currentEf_ = fid;
    const CardFile &f = it->second;
    if (!Allowed(f.readAc, verified_, channelOn_, a.wrapped, false)) return Sw(kSecurity);
    if (offset >= f.data.size()) return Sw(kWrongOffset);
    std::size_t left = f.data.size() - offset, n;
    uint16_t status = kOk;
    if (a.le == 256) n = std::min(left, kMaxData);
    else if (a.le > kMaxData) return Sw(kWrongLength);
    else if (a.le > left) {
        n = left;
        status = kEndOfFile;
    } else n = a.le;
    return WithSw(Bytes(f.data.begin() + long(offset), f.data.begin() + long(offset + n)), status);
}

Bytes Card::UpdateBinary(const Apdu &a) {
    if (!a.hasData) return Sw(kWrongLength);
    uint16_t fid;
    std::size_t offset;
    if (a.p1 & 0x80) {
        if (!appSelected_) return Sw(kFileNotFound);
        fid = a.p1 & 0x1F;
        offset = a.p2;
    } else {
        if (currentEf_ < 0) return Sw(kNoCurrentEf);
        fid = uint16_t(currentEf_);
        offset = std::size_t(a.p1) << 8 | a.p2;
    }
    auto it = state_.files.find(fid);
    if (it == state_.files.end()) return Sw(kFileNotFound);
    currentEf_ = fid;
    if (it->second.writeAc == kAcNever) return Sw(kNotAllowed);
    if (!Allowed(it->second.writeAc, verified_, channelOn_, a.wrapped, true)) return Sw(kSecurity);
    if (offset >= it->second.data.size()) return Sw(kWrongOffset);
    if (a.data.size() > it->second.data.size() - offset) return Sw(kNoSpace);
    CardState next = state_;
    std::copy(a.data.begin(), a.data.end(), next.files[fid].data.begin() + long(offset));
    return Sw(Commit(next) ? uint16_t{kOk} : uint16_t{kMemoryFailure});
}

Bytes Card::ReadRecord(const Apdu &a) {
    if (a.hasData) return Sw(kWrongLength);
    if ((a.p2 & 0x07) != 0x04) return Sw(kWrongP1P2);
    int sfi = a.p2 >> 3;
    if (sfi == 0 ? currentEf_ != kAuditFile : sfi != kAuditFile) return Sw(sfi ? kFileNotFound : kNoCurrentEf);
    if (a.p1 != 1) return Sw(kRecordNotFound);
    uint32_t n = state_.signatures;
    Bytes rec = {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
    if (a.hasLe && a.le < rec.size()) return Sw(uint16_t(0x6C00 | rec.size()));
    return WithSw(rec);
}

Bytes Card::CheckRef(uint8_t ref, const uint8_t *value, CardState &next) {
    auto it = next.refs.find(ref);
    if (it == next.refs.end()) return Sw(kRefNotFound);
    Ref &r = it->second;
    if (r.triesLeft == 0) return Sw(kBlocked);
    // The attempt is counted, and saved, before the comparison.
    --r.triesLeft;
    if (!Commit(next)) return Sw(kMemoryFailure);
    uint8_t diff = 0;
    for (int i = 0; i < 8; ++i) diff |= uint8_t(r.value[i] ^ value[i]);
    if (diff != 0) return Sw(uint16_t(0x63C0 | r.triesLeft));
    r.triesLeft = r.triesMax;
    return Sw(kOk);
}

Bytes Card::Verify(const Apdu &a) {
    if (a.p1 != 0x00) return Sw(kWrongP1P2);
    if (a.p2 != 0x05) return Sw(kRefNotFound);
    if (!a.hasData) {
        const Ref &r = state_.refs.at(5);
        if (r.triesLeft == 0) return Sw(kBlocked);
        return Sw(verified_ ? uint16_t{kOk} : uint16_t(0x63C0 | r.triesLeft));
    }
    if (a.data.size() != 8) return Sw(kWrongLength);
    verified_ = false;
    CardState next = state_;
    Bytes r = CheckRef(5, a.data.data(), next);
    if (SwOf(r) != kOk) return r;
    if (!Commit(next)) return Sw(kMemoryFailure);
    verified_ = true;
    return r;
}

Bytes Card::ChangeReference(const Apdu &a) {
    uint8_t checked, changed;
    if (a.p1 == 0x00 && a.p2 == 0x05) checked = changed = 5;
    else if (a.p1 == 0x00 && a.p2 == 0x06) checked = changed = 6;
    else if (a.p1 == 0x01 && a.p2 == 0x06) {
        checked = 6;
        changed = 5;
    } else return Sw(kWrongP1P2);
    if (!state_.refs.count(checked) || !state_.refs.count(changed)) return Sw(kRefNotFound);
    if (!a.hasData || a.data.size() != 16) return Sw(kWrongLength);
    CardState next = state_;
    Bytes r = CheckRef(checked, a.data.data(), next);
    if (SwOf(r) != kOk) {
        if (checked == 5) verified_ = false;
        return r;
    }
    Ref &target = next.refs[changed];
    std::copy(a.data.begin() + 8, a.data.end(), target.value.begin());
    target.triesLeft = target.triesMax;
    return Sw(Commit(next) ? uint16_t{kOk} : uint16_t{kMemoryFailure});
}

}  // namespace vcards
