/* The password cache's settings list "CachePass List" (items "CachePass0",
 * "CachePass1", ...; the legacy registry key as a fallback). */
#include "dd.h"

#include "core/ddsetting.h"
#include "net/dicrypt.h"
#include "session/diprofile.h"

int ddCryptReadCache(DiChar** items, int max) {
    /* Entries are numbered: a list read before another copy of the client
     * stored an entry would write its own over that one. */
    if (g_diProfileStore) g_diProfileStore->Refresh();
    return ddSettingReadList(L"CachePass List", L"CachePass", reinterpret_cast<wchar_t**>(items),
                             max);
}

bool ddCryptWriteCache(DiChar** items, int count, bool retry) {
    return ddSettingWriteList(L"CachePass List", L"CachePass", reinterpret_cast<wchar_t**>(items),
                              count, retry);
}
