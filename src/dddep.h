/* Windows layer: platform headers and the casts between the portable
 * UTF-16 type and wchar_t. Only dd modules include this. */
#ifndef HV_DDDEP_H
#define HV_DDDEP_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <windows.h>

#include "didep.h"

static_assert(sizeof(wchar_t) == sizeof(DiChar), "wchar_t must be a UTF-16 unit");

inline wchar_t* ddW(DiChar* s) { return reinterpret_cast<wchar_t*>(s); }
inline const wchar_t* ddW(const DiChar* s) { return reinterpret_cast<const wchar_t*>(s); }
inline DiChar* ddD(wchar_t* s) { return reinterpret_cast<DiChar*>(s); }
inline const DiChar* ddD(const wchar_t* s) { return reinterpret_cast<const DiChar*>(s); }

#endif
