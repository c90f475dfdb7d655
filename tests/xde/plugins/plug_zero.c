/* A plug-in whose initialisation fails (returns 0) but that answers calls. */
#include <windows.h>

__declspec(dllexport) int __cdecl qvlDLLInitialize(const wchar_t* instance) {
    (void)instance;
    return 0;
}

__declspec(dllexport) int __cdecl qvlDLLTerminate(const wchar_t* instance) {
    (void)instance;
    return 1;
}

__declspec(dllexport) int __cdecl qvlDLLCall(const wchar_t* instance, unsigned count,
                                             const wchar_t* const* args) {
    (void)instance;
    (void)count;
    (void)args;
    return 5;
}
