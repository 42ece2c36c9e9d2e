// The Windows kernel and USB headers, as the kernel build includes them: the
// USB headers carry no C linkage of their own.
#pragma once

#include <ntddk.h>
extern "C" {
#include <usb.h>
#include <usbdlib.h>
#include <usbioctl.h>
}

#ifndef RTL_QUERY_REGISTRY_TYPECHECK
#define RTL_QUERY_REGISTRY_TYPECHECK 0x00000100
#define RTL_QUERY_REGISTRY_TYPECHECK_SHIFT 24
#endif
