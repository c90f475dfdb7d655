/* The Windows side of the time-zone and keyboard descriptions (the records
 * are in core/disysinfo.h). */
#ifndef HV_DDSYSINFO_H
#define HV_DDSYSINFO_H

#include "core/disysinfo.h"
#include "dd.h"

DdTimeZoneInfo* ddTimeZoneInfoGet(void);
void ddTimeZoneInfoFree(DdTimeZoneInfo* info);
/* None when the active layout cannot be described. */
DdKeyboardInfo* ddKeyboardInfoGet(void);
/* The same for a given active layout id (8 hex digits); none stands for a
 * failed query. */
DdKeyboardInfo* ddKeyboardInfoFor(const wchar_t* activeLayout);
void ddKeyboardInfoFree(DdKeyboardInfo* info);
/* Three-letter variant code of a layout id ("00010409" gives "DVK"), or none. */
const wchar_t* ddKeyboardVariant(const wchar_t* layoutId);

#endif
