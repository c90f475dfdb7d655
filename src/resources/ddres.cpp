/* Access to the client's own resources in the user's language. */
#include "resources/ddres.h"

#include "core/ddapp.h"

HINSTANCE ddResModule() {
    if (g_ddApp->instance) return g_ddApp->instance;
    return GetModuleHandleW(nullptr);
}

void ddResSelectLanguage(LANGID language) {
    SetThreadLocale(MAKELCID(language, SORT_DEFAULT));
    SetThreadUILanguage(language);
}

int ddResLoadString(UINT id, DiChar* out, int size) {
    if (!out || size <= 0) return 0;
    out[0] = 0;
    /* LoadStringW truncates and terminates; a missing id leaves 0. */
    int n = LoadStringW(ddResModule(), id, ddW(out), size);
    if (n <= 0) {
        out[0] = 0;
        return 0;
    }
    return n;
}

int ddResLoadMessage(int n, DiChar* out, int size) {
    UINT id = (n == 24 && g_ddApp->major4) ? 10u : static_cast<UINT>(n + 500);
    return ddResLoadString(id, out, size);
}
