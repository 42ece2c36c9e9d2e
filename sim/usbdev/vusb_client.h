// The client side of the nki-vusb wire (vusb_protocol.h), for the stand-ins: one
// request per TCP connection to 127.0.0.1 on the port named by NKI_VUSB_PORT.
#pragma once

#include "vusb_protocol.h"

namespace vusb {

// Sends request and reads the reply; false when the simulator cannot be reached.
bool Exchange(const Bytes &request, Bytes &reply);

}  // namespace vusb
