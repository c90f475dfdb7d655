// A stored password-cache list from the settings (any text): lookups and a
// store survive it, malformed entries are kept as they were, and the list
// never grows past 32.
#include "fakes/route_fakes.h"
#include "net/dicrypt.h"

#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    routeFakesReset();
    std::u16string item;
    for (size_t i = 0; i < size; ++i) {
        // Bytes map to the encoding's own characters and the separators.
        DiChar c = data[i] < 0x80 ? DiChar(data[i]) : DiChar(0x100 + data[i]);
        item += c;
        if (c == u'\n') {
            g_fakeRoutes.cache.push_back(item);
            item.clear();
        }
    }
    if (!item.empty()) g_fakeRoutes.cache.push_back(item);
    std::vector<std::u16string> before = g_fakeRoutes.cache;
    DiChar *user = nullptr, *password = nullptr;
    if (diCryptLookupCredentials(u"HTTP proxy h:1", &user, &password)) {
        free(user);
        free(password);
    }
    diCryptStoreCredentials(u"HTTP proxy h:1", u"user", u"pw");
    size_t limit = before.size() > 32 ? before.size() : 32;
    if (g_fakeRoutes.cache.size() > limit) abort();
    // Items that were malformed are still there, unchanged.
    for (size_t i = 0; i < before.size() && i < 32; ++i) {
        DiCryptEntry e;
        if (!diCryptSplitEntry(before[i].c_str(), &e) && g_fakeRoutes.cacheWrites &&
            g_fakeRoutes.cache[i] != before[i].substr(0, before[i].find(u'\0')))
            abort();
        diCryptEntryFree(&e);
    }
    return 0;
}
