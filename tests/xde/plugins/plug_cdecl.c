/* A plug-in with __cdecl functions: it leaves its arguments on the stack
 * for the caller to remove. */
#include <windows.h>

static int g_calls;

__declspec(dllexport) int __cdecl qvlDLLInitialize(const wchar_t* instance) {
    (void)instance;
    return 1;
}

__declspec(dllexport) int __cdecl qvlDLLTerminate(const wchar_t* instance) {
    (void)instance;
    return 1;
}

__declspec(dllexport) int __cdecl qvlDLLCall(const wchar_t* instance, unsigned count,
                                             const wchar_t* const* args) {
    (void)instance;
    (void)args;
    return ++g_calls * 10 + (int)count;
}
