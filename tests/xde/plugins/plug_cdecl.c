/* A plug-in with __cdecl functions: it leaves its arguments on the stack
 * for the caller to remove. Built as plug_zero with PLUG_INIT_RESULT 0, its
 * initialisation fails. */
#include <windows.h>

#ifndef PLUG_INIT_RESULT
#define PLUG_INIT_RESULT 1
#endif

static int g_calls;

__declspec(dllexport) int __cdecl qvlDLLInitialize(const wchar_t* instance) {
    (void)instance;
    return PLUG_INIT_RESULT;
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
