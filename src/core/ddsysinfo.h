/* The time-zone and keyboard descriptions that the client announces to the
 * server. Both records are owned by the caller and freed with their free
 * function. */
#ifndef HV_DDSYSINFO_H
#define HV_DDSYSINFO_H

#include "dd.h"

enum {
    DD_TZ_DATES = 3,    /* both transition dates are defined */
    DD_TZ_DAYLIGHT = 4, /* daylight time is in force now */
};

struct DdTimeZoneInfo {
    uint32_t flags;
    int32_t bias;            /* system bias plus standard bias, minutes */
    char* standardName;      /* UTF-8, owned, or none */
    int32_t daylightOffset;  /* daylight bias less standard bias; with DD_TZ_DATES */
    char* daylightName;      /* UTF-8, owned; with DD_TZ_DATES */
    SYSTEMTIME daylightDate; /* with DD_TZ_DATES */
    SYSTEMTIME standardDate;
};

enum {
    DD_KB_LANG_TEXT = 1, /* input language as text (the "InputLocale" setting) */
    DD_KB_LANG_ID = 2,   /* input language as a Windows language id */
    DD_KB_IME = 4,
    DD_KB_LAYOUT = 16,
};

struct DdKeyboardInfo {
    uint16_t flags;
    uint16_t langLength; /* characters, or 2 for the language id */
    DiChar* langText;    /* owned; with DD_KB_LANG_TEXT */
    uint16_t langId;     /* with DD_KB_LANG_ID */
    uint16_t imeLength;  /* characters + 1 from the setting, UTF-8 bytes from the system */
    DiChar* ime;         /* owned */
    uint16_t layoutLength;
    DiChar* layout; /* owned */
};

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
