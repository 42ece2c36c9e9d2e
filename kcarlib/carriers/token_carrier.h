// The active token as a carrier: the token command layer behind the carrier
// interface. Opening connects through PC/SC and runs the token's start sequence.
#pragma once

#include "carriers/carrier.h"
#include "token/nki_abs.h"

namespace kcar {

class TTokenCarrier final : public TCarrier {
public:
    explicit TTokenCarrier(CarrierBuild build) noexcept
        : Abs(build == CarrierBuild::MultiCarrier ? TokenBuild::MultiCarrier : TokenBuild::Token) {}
    ~TTokenCarrier() override { Abs.disconnect(); }

    uint8_t DeviceType() const noexcept override { return kDeviceActiveToken; }
    uint32_t Open(const char *name, const void *key) override;
    uint32_t Close() noexcept override;
    bool IsPresent() noexcept override;
    uint64_t Caps() const noexcept override;

    uint32_t GetSerial(uint8_t *serial8) override;
    uint32_t GetCurveParams(tagTECParams &params) override;
    uint32_t GetPublicKey(uint32_t slot, uint8_t *point128) override;
    uint32_t GetRandom(uint8_t *out, uint32_t length) override;
    uint32_t GetContainerSize(uint32_t n, uint32_t *size) override;
    uint32_t ReadContainer(uint32_t n, uint32_t offset, uint8_t *buffer, uint32_t length) override;
    uint32_t WriteContainer(uint32_t n, uint32_t offset, const uint8_t *data, uint32_t length) override;

    uint32_t CheckPin(const uint8_t *pin, int32_t length) override;
    uint32_t ForgetPin() override;
    uint32_t ChangePin(const uint8_t *oldPin, int32_t oldLength, const uint8_t *newPin, int32_t newLength,
                       int32_t mode) override;
    uint32_t GetAuthSizes(uint32_t *challengeLength, uint32_t *responseLength) override;
    uint32_t Authenticate(const uint8_t *challenge, uint8_t *response) override;

    uint32_t GenerateKeyPair(uint32_t slot, uint8_t *point128) override;
    uint32_t ActivateFutureKey() override;
    uint32_t SignHash(const uint8_t *hash32, uint8_t *signature) override;
    uint32_t SignCaRequest(uint32_t slot, const uint8_t *hash32, uint8_t *signature, uint8_t *out16) override;
    uint32_t AgreeKeys(const uint8_t *point128, uint8_t *key0, uint8_t *key1) override;
    uint32_t SignDocument(const uint8_t *record70, uint8_t *signature, uint8_t *stamp14) override;

    uint32_t IoControl(uint32_t code, const uint8_t *in, uint32_t inLength, uint8_t *out, uint32_t outCapacity,
                       uint32_t *outLength) override;
    uint32_t ReadAuditRecord(uint8_t *record4) override;
    uint32_t GetInfoEx(int32_t code, uint8_t *buffer, int32_t *length) override;

    // The token command layer itself, for the token's own information record.
    TNkiAbs Abs;

private:
    char ReaderName[272] = {};
};

}  // namespace kcar
