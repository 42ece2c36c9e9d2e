// The PC/SC client interface. The token layer is the only part of the library that
// talks to the PC/SC service, and this is the one place that includes its header.
#pragma once

#include <PCSC/winscard.h>
