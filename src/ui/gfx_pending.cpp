/* Stand-in for the frame module's view creation (gfx_pending.h): a plain
 * child window of the parent's window, or an unowned hidden window when the
 * parent has none. Replaced by the real module. */
#include "ui/gfx_pending.h"

#include "ui/ddgdi.h"

HWND ddUICreateView(DiObject* parent, int id, int32_t width, int32_t height) {
    static ATOM s_class;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (!s_class) {
        WNDCLASSW wc = {};
        wc.style = CS_OWNDC;
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = instance;
        wc.lpszClassName = L"HvPendingViewClass";
        s_class = RegisterClassW(&wc);
        if (!s_class) return nullptr;
    }
    HWND parentWindow = parent ? ddGDIGetWindow(parent->gc) : nullptr;
    DWORD style = parentWindow ? WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN : WS_POPUP;
    return CreateWindowExW(0, L"HvPendingViewClass", L"", style, 0, 0, width, height, parentWindow,
                           parentWindow ? reinterpret_cast<HMENU>(static_cast<INT_PTR>(id))
                                        : nullptr,
                           instance, nullptr);
}
