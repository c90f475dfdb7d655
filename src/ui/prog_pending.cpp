/* Stand-in for what the progress window calls in a module that is being
 * written elsewhere: the window-title service of the session layer. It does
 * the least the progress window relies on; the real module replaces it. */
#include "dd.h"

#include "session/ddso.h"

void ddSOSetWindowTitle(HWND window, int stringId) {
    wchar_t text[256];
    if (LoadStringW(GetModuleHandleW(nullptr), UINT(stringId), text, 256) > 0)
        SetWindowTextW(window, text);
}
