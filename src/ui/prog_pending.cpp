/* Stand-ins for what the progress window calls in modules that are being
 * written elsewhere: numbered messages, the login-dialog protocol and the
 * window-title service of the session layer. Each does the least the
 * progress window relies on; the real modules replace this file. */
#include "dd.h"

#include "core/ddmessage.h"
#include "net/dilaip.h"
#include "session/ddso.h"

int ddLoadMessage(int message, wchar_t* buffer, int size) {
    if (size <= 0) return 0;
    int n = LoadStringW(GetModuleHandleW(nullptr), UINT(message + 500), buffer, size);
    if (n <= 0) buffer[0] = 0;
    return n > 0 ? n : 0;
}

void ddSOSetWindowTitle(HWND window, int stringId) {
    wchar_t text[256];
    if (LoadStringW(GetModuleHandleW(nullptr), UINT(stringId), text, 256) > 0)
        SetWindowTextW(window, text);
}

void diLAIPFreeDialogState(DiChannel*) {}
