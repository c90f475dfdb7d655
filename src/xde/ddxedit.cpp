/* The X display's Edit menu and the small services of its device table. */
#include "xde/ddxedit.h"
#include "xde/ddxswm.h"
#include "xde/ddxint.h"

#include "core/ddapp.h"
#include "core/ddsysinfo.h"
#include "devices/dddevices.h"
#include "tde/ditde.h"
#include "ui/dddlg.h"
#include "ui/ddgdi.h"
#include "ui/ddui.h"
#include "ui/diui.h"
#include "xde/dixseamless.h"

namespace {

enum : uint32_t {
    CMD_PASTE_SESSION = 40060,
    CMD_COPY_SESSION = 40061,
    CMD_COPY_RECT = 40062,
    CMD_COPY_WINDOW = 40063,
    CMD_PRINT_SESSION = 40064,
    CMD_PRINT_RECT = 40065,
    CMD_PRINT_WINDOW = 40066,
    CMD_PRINT_SETUP = 40067,
};

/* Display flag 0x8000: copying and printing of screen areas is refused. */
const uint32_t kFlagCopyPrintDenied = 0x8000;

HWND targetWindow(DiObject* target) {
    return target && target->gc ? ddGDIGetWindow(target->gc) : nullptr;
}

/* Asks the server for the session clipboard's contents; only while the
 * session has one. */
void requestSessionClipboard(DiXDisplay* d, int print) {
    if (!(d->flags & DI_XFLAG_SESSION_CLIPBOARD)) return;
    /* Set only when the request goes out: a flag left from a refused
     * request would print a later, ordinary copy. */
    if (print) ddXDev(d)->printOnArrival = 1;
    diTAIPSendKeepAlive(&d->ch);
}

} // namespace

void ddXDEForgetRootWindow(DiXDisplay* d) {
    if (!d->windows[0]) return;
    DdXDisplay* x = ddXDev(d);
    /* Detaching selects the context's own palette, pen and brush back into
     * the view's device context while it still exists. */
    if (d->ch.hdr.gc) ddGDIDetach(d->ch.hdr.gc);
    x->view = nullptr;
}

void ddXDECopyOrPrintArea(DiXDisplay* d, DiObject* frame, uint32_t command) {
    DiObject* target = frame ? frame : &d->ch.hdr;
    HWND h = targetWindow(target);
    if (!h) return;
    UpdateWindow(h);
    int32_t rect[4];
    if (command == CMD_COPY_RECT || command == CMD_PRINT_RECT) {
        if (ddUIRubberBandSelect(target, rect) != 0) return; /* cancelled */
    } else {
        RECT rc;
        if (!GetClientRect(h, &rc)) return;
        rect[0] = target->scrollX, rect[1] = target->scrollY;
        rect[2] = rc.right - rc.left, rect[3] = rc.bottom - rc.top;
    }
    HPALETTE palette = nullptr;
    HBITMAP bitmap = ddUICaptureScreenBitmap(target, rect, &palette);
    if (!bitmap) return;
    bool taken = false;
    if (command == CMD_PRINT_RECT || command == CMD_PRINT_WINDOW) {
        int mode;
        uint32_t scaleX, scaleY;
        ddUIGetPrintScale(&mode, &scaleX, &scaleY);
        if (ddDlgPrintingOptions(h, &mode, &scaleX, &scaleY)) {
            ddPrintBitmap(bitmap, palette, uint32_t(mode), int32_t(scaleX), int32_t(scaleY), 0);
            ddUISetPrintScale(mode, scaleX, scaleY);
        }
    } else if (ddClipSetBitmap(bitmap, palette)) {
        /* The clipboard owns both now. */
        taken = true;
        diXAnnounceLocalClipboard(d, 1);
    }
    if (!taken) {
        DeleteObject(bitmap);
        if (palette) DeleteObject(palette);
    }
}

int ddXDEMenuCommand(DiXDisplay* d, DiObject* frame, DiEvent* ev) {
    switch (ev->w[1]) {
    case CMD_PASTE_SESSION:
        diXAnnounceLocalClipboard(d, 1);
        break;
    case CMD_COPY_SESSION:
        requestSessionClipboard(d, 0);
        break;
    case CMD_PRINT_SESSION:
        requestSessionClipboard(d, 1);
        break;
    case CMD_COPY_RECT:
    case CMD_COPY_WINDOW:
    case CMD_PRINT_RECT:
    case CMD_PRINT_WINDOW:
        ddXDECopyOrPrintArea(d, frame, ev->w[1]);
        break;
    case CMD_PRINT_SETUP:
        ddDlgPrintSetup(targetWindow(frame ? frame : &d->ch.hdr));
        break;
    case SC_CLOSE:
        if (!(d->sessionFlags & DI_XSESSION_MULTI)) ddXDEForgetRootWindow(d);
        break;
    default:
        break;
    }
    return 1;
}

void ddXDEAddSystemMenu(DiXDisplay* d) {
    DiObject* top = diUIFindTopFrame(&d->ch.hdr);
    if (!top || (g_ddApp && top == g_ddApp->root)) return;
    HWND h = reinterpret_cast<DdFrame*>(top)->window;
    if (!h) return;
    ddUIAddFrameXSystemMenu(h, (d->flags & DI_XFLAG_SESSION_CLIPBOARD) != 0,
                            (d->flags & kFlagCopyPrintDenied) != 0);
}

void ddXSessionStarted(DiXDisplay* d) {
    /* A seamless session takes the seamless device table first. */
    ddXSWMSessionStarted(d);
    ddXDEAddSystemMenu(d);
}

void ddXPlaySound(DiXDisplay*, const DiChar* alias) {
    if (alias && alias[0]) ddUIPlaySound(reinterpret_cast<const wchar_t*>(alias));
}

void ddXBell(DiXDisplay*) {
    ddGDIBeep();
}

DdTimeZoneInfo* ddXTimeZone(DiXDisplay*) {
    return ddTimeZoneInfoGet();
}

void ddXFreeTimeZone(DdTimeZoneInfo* info) {
    ddTimeZoneInfoFree(info);
}

DdKeyboardInfo* ddXKeyboard(DiXDisplay*) {
    return ddKeyboardInfoGet();
}

void ddXFreeKeyboard(DdKeyboardInfo* info) {
    ddKeyboardInfoFree(info);
}
