/* The time-zone and keyboard descriptions that the client announces to the
 * server (portable records; the Windows layer fills them). Both are owned by
 * the caller and freed with their free function. */
#ifndef HV_DISYSINFO_H
#define HV_DISYSINFO_H

#include "di.h"

/* A date as the system's time-zone information holds it: eight u16. */
struct DiSystemTime {
    uint16_t year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};

enum {
    DD_TZ_DATES = 3,    /* both transition dates are defined */
    DD_TZ_DAYLIGHT = 4, /* daylight time is in force now */
};

struct DdTimeZoneInfo {
    uint32_t flags;
    int32_t bias;              /* system bias plus standard bias, minutes */
    char* standardName;        /* UTF-8, owned, or none */
    int32_t daylightOffset;    /* daylight bias less standard bias; with DD_TZ_DATES */
    char* daylightName;        /* UTF-8, owned; with DD_TZ_DATES */
    DiSystemTime daylightDate; /* with DD_TZ_DATES */
    DiSystemTime standardDate;
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

#endif
