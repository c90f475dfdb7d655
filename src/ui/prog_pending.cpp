/* Stand-ins for what the progress window calls in modules that are being
 * written elsewhere: the graphics wrappers' text and font calls, the view
 * window, numbered messages, the login-dialog protocol and the window-title
 * service of the session layer. Each does the least the progress window
 * relies on; the real modules replace this file. */
#include "dd.h"

#include "core/ddmessage.h"
#include "net/dilaip.h"
#include "session/ddso.h"
#include "ui/ddframe.h"
#include "ui/ddgdi.h"
#include "ui/digdi.h"

#include <stdlib.h>
#include <string.h>

/* Graphics: contexts bind nothing and draw nothing; fonts are records. */
void ddGDIAttach(DdGC*, HWND, HDC) {}
void ddGDIDetach(DdGC*) {}
void ddGDISetBackground(DdGC*, uint32_t) {}
DiGDIFont* ddGDISelectFont(DdGC*, DiGDIFont*) {
    return nullptr;
}
int ddGDIGetFontMetrics(DdGC*, DiGDIFont* font, DdFontMetrics* metrics) {
    memset(metrics, 0, sizeof(*metrics));
    metrics->height = font ? font->height : 0;
    return 0;
}
void ddGDIDrawText(DdGC*, int32_t, int32_t, int32_t, int32_t, const DiChar*, uint32_t) {}
DiGDIFont* diGDIFindFont(DdGC*, const DiChar*, int32_t, int32_t height, uint32_t, uint32_t) {
    DiGDIFont* f = static_cast<DiGDIFont*>(calloc(1, sizeof(DiGDIFont)));
    if (f) f->height = height;
    return f;
}
void diGDIReleaseFont(DdGC*, DiGDIFont* font) {
    free(font);
}

/* A view: a hidden pop-up window, since the frame windows are not built. */
HWND ddUICreateView(DiObject*, int, int32_t width, int32_t height) {
    return CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, width, height, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

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
