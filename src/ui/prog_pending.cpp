/* Stand-ins for what the progress window calls in modules that are being
 * written elsewhere: the login-dialog protocol and the window-title service
 * of the session layer. Each does the least the
 * progress window relies on; the real modules replace this file. */
#include "dd.h"

#include "net/dilaip.h"
#include "session/ddso.h"

void ddSOSetWindowTitle(HWND window, int stringId) {
    wchar_t text[256];
    if (LoadStringW(GetModuleHandleW(nullptr), UINT(stringId), text, 256) > 0)
        SetWindowTextW(window, text);
}

void diLAIPFreeDialogState(DiChannel*) {}
