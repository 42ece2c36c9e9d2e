// The container card carrier: a card of the family that stores the key
// container in two enciphered copies (container_copy.h) and checks a value
// derived from the PIN; every key operation runs on the host.
//
// The copies alternate: each commit writes the slot that is not current, body
// first and counter last, so a copy becomes the newest only once it is whole.
// A PIN change rewrites the container under the new key, raises the PIN-change
// flag in the container header, changes the card's reference and lowers the
// flag; a PIN check that finds the newest copy unreadable while the flag is up
// falls back to the older copy, which is still under the old key.
#pragma once

#include <cstdint>
#include <string>

#include "carriers/card_link.h"
#include "carriers/container_copy.h"
#include "carriers/host_key_session.h"

namespace kcar {

class ContainerCardCarrier : public HostKeySession {
public:
    static constexpr uint32_t kMarker = 0xAC044EC3;

    // Connects and reads the card's identity, file sizes and parameter record:
    // 0, 3 (no card), 50 (field degree outside 5..509), or the card's failure.
    uint32_t OpenCard(const std::string &reader);
    void Close();
    // 0 while the card is in the reader; else the session is closed and 35.
    uint32_t Present();

    // PIN as 8 bytes.
    uint32_t CheckPin(const uint8_t *pin8);
    // Mode 0 only (1 and 2: 252).
    uint32_t ChangePin(const uint8_t *oldPin8, const uint8_t *newPin8, int mode);
    uint32_t ForgetPin();
    // Empties both copies and the certificate store and writes a container with
    // no keys under the PIN; leaves no session open.
    static uint32_t Format(const std::string &reader, const uint8_t *pin8);

    uint32_t Commit() override;

    uint32_t UserFileSize() const { return userFileSize_; }
    uint32_t ReadUserFile(uint32_t offset, uint8_t *out, uint32_t length);
    uint32_t WriteUserFile(uint32_t offset, const uint8_t *data, uint32_t length);
    // The certificate store file 0202, as stored.
    uint32_t ReadCertificateFile(Bytes &out);
    uint32_t AuditRecord(int index, uint8_t *record4);
    // The card's version text, up to its first NUL.
    uint32_t InfoText(std::string &text);
    uint32_t IoControl(uint32_t code, const uint8_t *in, uint32_t inLength, uint8_t *out, uint32_t outCapacity,
                       uint32_t *outLength);

    uint32_t CertificateFileSize() const { return certFileSize_; }
    bool HasParameters() const { return hasParameters_; }
    // n random bytes from the card, 8 per command.
    uint32_t CardRandom(uint8_t *out, uint32_t n);
    int CurrentCopy() const { return currentCopy_; }
    uint32_t CopyCounter() const { return copyCounter_; }
    const uint8_t *Serial() const { return uid_; }
    CardLink &Link() { return link_; }

protected:
    uint32_t Ready() override;
    uint32_t AfterSignature() override;

private:
    uint32_t Fail(uint32_t rc);  // closes the session and answers rc
    uint32_t ReadParameters(uint8_t *record);
    uint32_t LoadCurve(const uint8_t *record);
    uint32_t WriteHeader(uint32_t word);
    uint32_t WriteCopy(int slot, const uint8_t *copy);

    uint32_t marker_ = kMarker;
    CardLink link_;
    bool hasParameters_ = false;
    uint32_t userFileSize_ = 0, certFileSize_ = 0, file10Size_ = 0;
    int currentCopy_ = 1;
    uint32_t copyCounter_ = 0;
    uint16_t carrierWord_ = 0;
};

}  // namespace kcar
