/* Launch records that other local processes send to the main frame window:
 * 3592 bytes whose argument text (UTF-16, at most 256 units, zero-ended
 * when shorter) starts at byte 3080. The bytes come from any process on the
 * desktop, so they are read through one bounds-checked cursor. */
#ifndef HV_DIUIRECORD_H
#define HV_DIUIRECORD_H

#include "didep.h"

enum : uint32_t {
    DI_LAUNCH_RECORD_SIZE = 3592,
    DI_LAUNCH_ARGS_OFFSET = 3080,
    DI_LAUNCH_ARGS_UNITS = 256,
};

/* Reads the argument text of a record of `length` bytes into `args`
 * (always zero-terminated, empty when the record carries none). Returns 0,
 * or -1 for a missing or short record (nothing is read then). */
int diUIReadLaunchArgs(const void* data, size_t length, DiChar args[DI_LAUNCH_ARGS_UNITS + 1]);

#endif
