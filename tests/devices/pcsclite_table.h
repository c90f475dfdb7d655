// The smart-card class's function table over the host's libpcsclite.
#ifndef HV_TESTS_PCSCLITE_TABLE_H
#define HV_TESTS_PCSCLITE_TABLE_H

#include "devices/discard.h"

extern const DiSCardApi g_pcscliteApi;

#endif
