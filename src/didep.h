/* Portable layer: fixed-size types and compiler helpers. Never includes
 * <windows.h>; builds natively in the host tree and cross in the win32 tree. */
#ifndef HV_DIDEP_H
#define HV_DIDEP_H

#include <stddef.h>
#include <stdint.h>

/* A UTF-16 code unit. On Windows it has the size and representation of
 * wchar_t; the Windows layer casts at its boundary. */
typedef char16_t DiChar;

#define DI_COUNTOF(a) (sizeof(a) / sizeof((a)[0]))

#endif
