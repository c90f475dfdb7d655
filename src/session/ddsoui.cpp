/* What the user sees of the session around its windows: the program's
 * icons and titles on every window it opens, and the event log. */
#include "core/ddapp.h"
#include "core/dilog.h"
#include "resources/ddres.h"
#include "session/ddso.h"

#include <string>

enum { DD_SO_ICON_APP = 184, DD_SO_STR_CAPTION = 936 };

void ddSOSetWindowIcons(HWND window) {
    if (!window) return;
    static const struct {
        WPARAM which;
        int metricX, metricY;
    } kSizes[] = {{ICON_BIG, SM_CXICON, SM_CYICON}, {ICON_SMALL, SM_CXSMICON, SM_CYSMICON}};
    for (const auto& s : kSizes) {
        /* Shared icons: the system frees them with the module. */
        HICON icon = static_cast<HICON>(LoadImageW(ddResModule(), MAKEINTRESOURCEW(DD_SO_ICON_APP),
                                                   IMAGE_ICON, GetSystemMetrics(s.metricX),
                                                   GetSystemMetrics(s.metricY), LR_SHARED));
        if (icon) SendMessageW(window, WM_SETICON, s.which, reinterpret_cast<LPARAM>(icon));
    }
}

void ddSOSetWindowTitle(HWND window, int stringId) {
    if (!window) return;
    DiChar text[256], caption[256];
    ddResLoadString(UINT(stringId), text, 256);
    ddResLoadString(DD_SO_STR_CAPTION, caption, 256);
    std::wstring title = ddW(text);
    if (title.empty())
        title = ddW(caption);
    else if (caption[0])
        title += std::wstring(L" - ") + ddW(caption);
    SetWindowTextW(window, title.c_str());
}

bool ddSOIsPropertySheetMessage(MSG*) {
    return false;
}

void ddSOShowEventLog(void) {
    if (CLog* log = diLogGet()) log->ShowWindow(true);
}
