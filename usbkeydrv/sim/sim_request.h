// An I/O request as the Linux tests make it: a buffered device I/O control
// whose input and output share one system buffer, as the I/O manager passes it.
#pragma once

#include <cstdint>
#include <vector>

#include "platform.h"

namespace usbsim {

struct SimRequest {
    uint32_t code = 0;
    std::vector<uint8_t> buffer;  // max(input, output) bytes
    uint32_t inLength = 0, outLength = 0;
    bool cancel = false;         // the Cancel flag
    bool cancelRoutine = false;  // a cancel routine is installed
    int completions = 0;
    usbkey::NtStatus status = 0;
    uint64_t information = 0;

    SimRequest() = default;
    SimRequest(uint32_t c, const std::vector<uint8_t> &input, uint32_t output) : code(c) {
        buffer = input;
        if (buffer.size() < output) buffer.resize(output);
        inLength = static_cast<uint32_t>(input.size());
        outLength = output;
    }
    usbkey::RequestHandle Handle() { return reinterpret_cast<usbkey::RequestHandle>(this); }
    static SimRequest *Of(usbkey::RequestHandle h) { return reinterpret_cast<SimRequest *>(h); }
    std::vector<uint8_t> Output() const {
        return std::vector<uint8_t>(buffer.begin(), buffer.begin() + static_cast<long>(information));
    }
};

}  // namespace usbsim
