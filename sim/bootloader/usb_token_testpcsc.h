// The simulated token's USB device in the in-process test PC/SC layer: its
// reader "Kelmar Morvane 0" holds the token while it is a reader and loses it
// when the token restarts into its boot loader.
#pragma once

#include "test_pcsc.h"
#include "usb_token.h"

namespace bootsim {

// Puts the token into its reader when it is in reader mode (the device must
// outlive the test PC/SC layer's use of it).
void PlugIn(UsbToken &device);

}  // namespace bootsim
