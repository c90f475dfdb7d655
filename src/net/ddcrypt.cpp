/* The password cache's settings list "CachePass List" (items "CachePass0",
 * "CachePass1", ...; the legacy registry key as a fallback). */
#include "dd.h"

#include "core/ddsetting.h"
#include "net/dicrypt.h"

int ddCryptReadCache(DiChar** items, int max) {
    return ddSettingReadList(L"CachePass List", L"CachePass", reinterpret_cast<wchar_t**>(items),
                             max);
}

bool ddCryptWriteCache(DiChar** items, int count) {
    return ddSettingWriteList(L"CachePass List", L"CachePass", reinterpret_cast<wchar_t**>(items),
                              count);
}
