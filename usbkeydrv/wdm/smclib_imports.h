// Our declarations of the smart-card driver library's entry points, on our own
// declaration of its device record (smartcard_abi.h). The import library comes
// from smclib.def.
#pragma once

#include "smartcard_abi.h"

extern "C" {
NTSTATUS NTAPI SmartcardInitialize(usbkey::SmartcardExtension *extension);
VOID NTAPI SmartcardExit(usbkey::SmartcardExtension *extension);
NTSTATUS NTAPI SmartcardDeviceControl(usbkey::SmartcardExtension *extension, PIRP irp);
NTSTATUS NTAPI SmartcardUpdateCardCapabilities(usbkey::SmartcardExtension *extension);
}
