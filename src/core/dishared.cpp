/* The launch records of the shared mapping "QVLMappingObject": a count
 * byte, then records of 3592 bytes from byte 2, each {u32, u32 window,
 * UTF-16 URL at 8 (1024 units of room), UTF-16 user at 2056 (to the end)}.
 * The bytes come from another process. */
#include "core/diapp.h"

#include <string>

enum {
    DI_SHARED_RECORD = 3592,
    DI_SHARED_FIRST = 2,
    DI_SHARED_WINDOW = 4,
    DI_SHARED_URL = 8,
    DI_SHARED_URL_UNITS = 1024,
    DI_SHARED_USER = 2056,
    DI_SHARED_USER_UNITS = (DI_SHARED_RECORD - DI_SHARED_USER) / 2,
};

/* A field read within its room only: without a terminator it ends there. */
static std::u16string diSharedText(const uint8_t* p, size_t units) {
    std::u16string s;
    for (size_t i = 0; i < units; i++) {
        char16_t c = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
        if (!c) break;
        s += c;
    }
    return s;
}

uint32_t diAppFindSharedRecord(const uint8_t* view, size_t size, const DiChar* url, DiChar** user) {
    if (!view || size < DI_SHARED_FIRST) return 0;
    /* The count is another process's word: only records that lie wholly
     * inside the readable bytes are read. */
    size_t count = view[0];
    size_t fit = (size - DI_SHARED_FIRST) / DI_SHARED_RECORD;
    if (count > fit) count = fit;
    std::u16string want = url ? url : u"";
    uint32_t found = 0;
    for (size_t i = 0; i < count; i++) {
        const uint8_t* rec = view + DI_SHARED_FIRST + i * DI_SHARED_RECORD;
        if (diSharedText(rec + DI_SHARED_URL, DI_SHARED_URL_UNITS) != want) continue;
        std::u16string recUser = diSharedText(rec + DI_SHARED_USER, DI_SHARED_USER_UNITS);
        bool anyUser = !*user || !(*user)[0];
        if (!anyUser && recUser != *user) continue;
        if (anyUser) diAppSetText(user, recUser.c_str());
        const uint8_t* w = rec + DI_SHARED_WINDOW;
        found = w[0] | (w[1] << 8) | (w[2] << 16) | (static_cast<uint32_t>(w[3]) << 24);
    }
    return found;
}
