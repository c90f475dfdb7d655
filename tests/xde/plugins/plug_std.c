/* A plug-in with __stdcall functions exported under undecorated names
 * (plug_std.def) that records every call it gets. */
#include <windows.h>

static wchar_t g_log[1 << 16];
static size_t g_len;

static void put(const wchar_t* s) {
    while (*s && g_len + 1 < sizeof g_log / sizeof g_log[0]) g_log[g_len++] = *s++;
    g_log[g_len] = 0;
}

int __stdcall qvlDLLInitialize(const wchar_t* instance) {
    put(L"init ");
    put(instance);
    put(L"\n");
    return 1;
}

int __stdcall qvlDLLTerminate(const wchar_t* instance) {
    put(L"term ");
    put(instance);
    put(L"\n");
    return 1;
}

int __stdcall qvlDLLCall(const wchar_t* instance, unsigned count, const wchar_t* const* args) {
    put(L"call ");
    put(instance);
    for (unsigned i = 0; i < count; i++) {
        put(L" [");
        put(args[i]);
        put(L"]");
    }
    put(L"\n");
    return 1000 + (int)count;
}

/* The calls so far, and a fresh start. */
const wchar_t* __stdcall plugLog(void) {
    return g_log;
}

void __stdcall plugClear(void) {
    g_len = 0;
    g_log[0] = 0;
}
