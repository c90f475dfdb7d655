/* The Windows side of the log's local time: the system converts, with the
 * zone and daylight rules it shows its own clock in. */
#include "core/dilog.h"

#include <string.h>
#include <windows.h>

bool ddLogLocalTime(uint32_t when, struct tm* out) {
    /* FILETIME counts 100 ns steps from 1601; 11644473600 s lie before 1970. */
    ULARGE_INTEGER steps;
    steps.QuadPart = (uint64_t(when) + 11644473600ull) * 10000000ull;
    FILETIME ft = {steps.LowPart, steps.HighPart};
    SYSTEMTIME utc, local;
    if (!FileTimeToSystemTime(&ft, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
        return false;
    memset(out, 0, sizeof *out);
    out->tm_year = local.wYear - 1900;
    out->tm_mon = local.wMonth - 1;
    out->tm_mday = local.wDay;
    out->tm_hour = local.wHour;
    out->tm_min = local.wMinute;
    out->tm_sec = local.wSecond;
    out->tm_wday = local.wDayOfWeek;
    out->tm_isdst = -1;
    return true;
}
