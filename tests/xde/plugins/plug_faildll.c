/* A library whose DllMain refuses to attach: loading it fails. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    return reason == DLL_PROCESS_ATTACH ? FALSE : TRUE;
}

__declspec(dllexport) int __cdecl qvlDLLInitialize(const wchar_t* instance) {
    (void)instance;
    return 1;
}
