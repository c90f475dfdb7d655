// Destroys a client frame from outside: "rundll32 DLL,destroyFrame TITLE"
// puts this DLL's message hook on the frame's thread, the only one that may
// destroy it, and posts the message the hook answers by destroying it.
#include <windows.h>

static UINT destroyMessage() {
    return RegisterWindowMessageW(L"HvDestroyWindow");
}

extern "C" __declspec(dllexport) LRESULT CALLBACK hook(int code, WPARAM wp, LPARAM lp) {
    const MSG* m = reinterpret_cast<const MSG*>(lp);
    if (code == HC_ACTION && wp == PM_REMOVE && m->message == destroyMessage())
        DestroyWindow(m->hwnd);
    return CallNextHookEx(nullptr, code, wp, lp);
}

extern "C" __declspec(dllexport) void CALLBACK destroyFrame(HWND, HINSTANCE, LPSTR title, int) {
    HWND w = FindWindowA("QVLFrameClass", title);
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&hook), &self);
    HHOOK h = w ? SetWindowsHookExW(WH_GETMESSAGE, hook, self, GetWindowThreadProcessId(w, nullptr))
                : nullptr;
    if (!h) return;
    PostMessageW(w, destroyMessage(), 0, 0);
    for (int i = 0; i < 200 && IsWindow(w); i++)
        Sleep(50);
    UnhookWindowsHookEx(h);
}
