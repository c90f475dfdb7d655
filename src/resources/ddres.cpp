/* Access to the client's own resources in the user's language. */
#include "resources/ddres.h"

#include "core/ddapp.h"
#include "core/ddmessage.h"

HINSTANCE ddResModule() {
    if (g_ddApp->instance) return g_ddApp->instance;
    return GetModuleHandleW(nullptr);
}

void ddResSelectLanguage(LANGID language) {
    SetThreadLocale(MAKELCID(language, SORT_DEFAULT));
    SetThreadUILanguage(language);
}

void ddResSetLibrary(HMODULE library) {
    g_ddResourceLibrary = library;
}

HICON ddResLoadIcon(int id, int width, int height) {
    HICON icon = nullptr;
    if (g_ddResourceLibrary)
        icon = static_cast<HICON>(LoadImageW(g_ddResourceLibrary, MAKEINTRESOURCEW(id), IMAGE_ICON,
                                             width, height, LR_SHARED));
    if (!icon)
        icon = static_cast<HICON>(
            LoadImageW(ddResModule(), MAKEINTRESOURCEW(id), IMAGE_ICON, width, height, LR_SHARED));
    return icon;
}

int ddResLoadString(UINT id, DiChar* out, int size) {
    if (!out || size <= 0) return 0;
    out[0] = 0;
    /* LoadStringW truncates and terminates; a missing id leaves 0. */
    int n = g_ddResourceLibrary ? LoadStringW(g_ddResourceLibrary, id, ddW(out), size) : 0;
    if (n <= 0) n = LoadStringW(ddResModule(), id, ddW(out), size);
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
