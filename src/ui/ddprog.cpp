/* The progress window of a launch, Windows half: the object's allocation
 * and view, and the modeless "Connection Progress" dialog. The dialog holds
 * a pointer to its object in DWLP_USER; closing the dialog clears it before
 * the window goes, and the object closes its dialog before it is freed, so
 * neither outlives the other. GUI thread only. */
#include "ui/ddprog.h"

#include "core/ddapp.h"
#include "core/ddmessage.h"
#include "core/dide.h"
#include "session/ddso.h"
#include "ui/ddgdi.h"
#include "ui/ddui.h"
#include "ui/digdi.h"

#include <stdlib.h>

uint32_t (*g_ddProgClock)();
void (*g_ddProgInvalidateHook)(HWND bar, const RECT* band);

static const COLORREF kBarFill = RGB(0, 0, 128);

static DdProgress* ddProg(DiObject* obj) {
    return reinterpret_cast<DdProgress*>(obj);
}

static uint32_t ddProgNow() {
    return g_ddProgClock ? g_ddProgClock() : GetTickCount();
}

static HINSTANCE ddProgModule() {
    return g_ddApp && g_ddApp->instance ? g_ddApp->instance : GetModuleHandleW(nullptr);
}

int ddProgLoadMessage(int32_t message, DiChar* buffer, int32_t size) {
    if (size <= 0) return 0;
    return ddLoadMessage(message, ddW(buffer), size);
}

int32_t ddProgFontHeight(DdGC* gc, DiGDIFont* font) {
    DdFontMetrics m = {};
    return ddGDIGetFontMetrics(gc, font, &m) == 0 ? m.height : 0;
}

/* Sets a control's text to string resource id (empty when it is missing). */
static void ddProgSetItemString(HWND dialog, int item, UINT id) {
    wchar_t text[256];
    if (LoadStringW(ddProgModule(), id, text, DI_COUNTOF(text)) <= 0) text[0] = 0;
    SetDlgItemTextW(dialog, item, text);
}

HWND ddProgDialog(DiObject* obj) {
    return obj ? ddProg(obj)->dialog : nullptr;
}

DiObject* ddProgCreate(DiObject* parent, int32_t width, int32_t height, DdGC* gc) {
    DdProgress* p = static_cast<DdProgress*>(calloc(1, sizeof(DdProgress)));
    if (!p) return nullptr;
    diProgInit(&p->base, width, height);
    p->view = ddUICreateView(parent, DD_PROG_VIEW_ID, width, height);
    if (!p->view) {
        free(p);
        return nullptr;
    }
    /* The view class owns its device context: it stays valid for the view's
     * life, so it is attached once. */
    ddGDIAttach(gc, p->view, GetDC(p->view));
    HDC screen = GetDC(nullptr);
    int32_t points8 = screen ? GetDeviceCaps(screen, LOGPIXELSY) * 8 / 72 : 11;
    if (screen) ReleaseDC(nullptr, screen);
    DiGDIFont* font = diGDIFindFont(gc, u"MS Sans Serif", 0, points8, 0, 0);
    diProgAttach(&p->base, parent, gc, font);
    return &p->base.hdr;
}

static void ddProgCloseDialog(DdProgress* p);

void ddProgDestroy(DiObject* obj) {
    if (!obj) return;
    DdProgress* p = ddProg(obj);
    ddProgCloseDialog(p);
    HWND view = p->view;
    p->view = nullptr;
    if (view) DestroyWindow(view);
    diProgFree(&p->base);
    free(p);
}

/* Repaints the whole bar at once. */
static void ddProgRepaintBar(DdProgress* p) {
    if (!p->dialog) return;
    HWND bar = GetDlgItem(p->dialog, DD_PROG_BAR);
    if (!bar) return;
    if (g_ddProgInvalidateHook) g_ddProgInvalidateHook(bar, nullptr);
    InvalidateRect(bar, nullptr, FALSE);
    UpdateWindow(bar);
}

void ddProgStartTimer(DiObject* obj) {
    if (!obj) return;
    DdProgress* p = ddProg(obj);
    ddProgStopTimer(obj);
    p->startTick = ddProgNow();
    p->percent = 0;
    if (!p->dialog) return;
    /* SetTimer on a window keeps the id asked for. */
    p->timer = SetTimer(p->dialog, DD_PROG_TIMER_ID, DD_PROG_TIMER_MS, nullptr);
    ddProgRepaintBar(p);
}

void ddProgStopTimer(DiObject* obj) {
    if (!obj) return;
    DdProgress* p = ddProg(obj);
    if (p->timer && p->dialog) KillTimer(p->dialog, p->timer);
    p->timer = 0;
}

/* Stops the bar full and shows it so. */
static void ddProgFillBar(DdProgress* p) {
    ddProgStopTimer(&p->base.hdr);
    p->percent = 100;
    ddProgRepaintBar(p);
}

void ddProgTimerTick(DiObject* obj) {
    DdProgress* p = ddProg(obj);
    if (!p->base.duration) return;
    int32_t old = p->percent;
    int32_t now = diProgPercent(ddProgNow(), p->startTick, p->base.duration);
    if (now >= 100) {
        ddProgFillBar(p);
        return;
    }
    p->percent = now;
    if (!p->dialog) return;
    HWND bar = GetDlgItem(p->dialog, DD_PROG_BAR);
    if (!bar) return;
    if (now < old) {
        ddProgRepaintBar(p);
        return;
    }
    RECT r;
    GetClientRect(bar, &r);
    int32_t w = r.right - r.left, h = r.bottom - r.top;
    RECT band = {2 + diProgFillWidth(w, old), 2, 2 + diProgFillWidth(w, now), h - 2};
    if (band.right <= band.left || band.bottom <= band.top) return;
    if (g_ddProgInvalidateHook) g_ddProgInvalidateHook(bar, &band);
    InvalidateRect(bar, &band, FALSE);
    UpdateWindow(bar);
}

static void ddProgFill(HDC dc, int32_t x, int32_t y, int32_t w, int32_t h, HBRUSH brush) {
    if (w <= 0 || h <= 0) return;
    RECT r = {x, y, x + w, y + h};
    FillRect(dc, &r, brush);
}

/* A one-pixel frame: top and left in the first brush, bottom and right in
 * the second. */
static void ddProgFrame(HDC dc, int32_t x, int32_t y, int32_t w, int32_t h, HBRUSH topLeft,
                        HBRUSH bottomRight) {
    ddProgFill(dc, x, y, w - 1, 1, topLeft);
    ddProgFill(dc, x, y, 1, h - 1, topLeft);
    ddProgFill(dc, x + w - 1, y, 1, h, bottomRight);
    ddProgFill(dc, x, y + h - 1, w, 1, bottomRight);
}

void ddProgDrawBar(HDC dc, int32_t w, int32_t h, int32_t percent) {
    HBRUSH shadow = GetSysColorBrush(COLOR_BTNSHADOW);
    HBRUSH highlight = GetSysColorBrush(COLOR_BTNHIGHLIGHT);
    HBRUSH face = GetSysColorBrush(COLOR_BTNFACE);
    ddProgFrame(dc, 0, 0, w, h, shadow, highlight);
    ddProgFrame(dc, 1, 1, w - 2, h - 2, shadow, face);
    int32_t fill = diProgFillWidth(w, percent);
    HBRUSH blue = CreateSolidBrush(kBarFill);
    if (blue) {
        ddProgFill(dc, 2, 2, fill, h - 4, blue);
        DeleteObject(blue);
    }
    ddProgFill(dc, 2 + fill, 2, w - 4 - fill, h - 4, face);
}

/* Writes the details log from character `from` on into the details
 * control, emptying it first when from is 0. */
static void ddProgFillDetails(DdProgress* p, uint32_t from) {
    if (!p->dialog) return;
    HWND edit = GetDlgItem(p->dialog, DD_PROG_DETAILS);
    if (!edit) return;
    if (from == 0) SetWindowTextW(edit, L"");
    DiChar line[DI_PROG_LINE_CHARS + 3];
    uint32_t pos = from, n = 0;
    while (p->base.details &&
           diProgNextLine(p->base.details, p->base.detailsLength, &pos, line, &n)) {
        line[n] = u'\r';
        line[n + 1] = u'\n';
        line[n + 2] = 0;
        int end = GetWindowTextLengthW(edit);
        SendMessageW(edit, EM_SETSEL, end, end);
        SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(line));
    }
    p->detailsShown = p->base.detailsLength;
    SendMessageW(edit, EM_SETSEL, 0, 0);
}

void ddProgRefreshDetails(DiObject* obj) {
    if (!obj) return;
    DdProgress* p = ddProg(obj);
    /* An append only adds lines after what the control shows, so those
     * lines alone are written: refilling the whole log on every server line
     * would cost time in the square of its length. The shown part ends
     * with the CR LF of its last entry, a line start, unless the new text
     * begins with CR, which the whole log reads as part of a LF CR break:
     * then the control is refilled. */
    uint32_t from = p->detailsShown;
    if (from > p->base.detailsLength || (from && p->base.details[from] == u'\r')) from = 0;
    ddProgFillDetails(p, from);
}

void ddProgEnableDetails(DiObject* obj, int enable) {
    if (!obj || !ddProg(obj)->dialog) return;
    EnableWindow(GetDlgItem(ddProg(obj)->dialog, DD_PROG_TOGGLE), enable ? TRUE : FALSE);
}

void ddProgShowDetails(DiObject* obj, int expand) {
    if (!obj) return;
    DdProgress* p = ddProg(obj);
    if (!p->dialog) return;
    int32_t w = expand ? p->expandedWidth : p->collapsedWidth;
    int32_t h = expand ? p->expandedHeight : p->collapsedHeight;
    SetWindowPos(p->dialog, nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    p->expanded = expand ? 1 : 0;
    ddProgSetItemString(p->dialog, DD_PROG_TOGGLE,
                        expand ? DD_PROG_STR_DETAILS_SHUT : DD_PROG_STR_DETAILS_OPEN);
    if (expand) ddProgSetItemString(p->dialog, DD_PROG_LABEL, DD_PROG_STR_LABEL);
}

int ddProgIsExpanded(DiObject* obj) {
    return obj ? int(ddProg(obj)->expanded) : 0;
}

/* Unlinks the dialog from its object; the window itself stays. */
static void ddProgForgetDialog(DdProgress* p) {
    HWND dialog = p->dialog;
    if (p->dialogGC) {
        ddGDIFreeGC(p->dialogGC);
        p->dialogGC = nullptr;
    }
    if (p->dialogDC) ReleaseDC(dialog, p->dialogDC);
    p->dialogDC = nullptr;
    ddProgStopTimer(&p->base.hdr);
    SetWindowLongPtrW(dialog, DWLP_USER, 0);
    p->dialog = nullptr;
    p->expanded = 0;
    /* Another modeless dialog may have taken the slot meanwhile. */
    if (g_ddApp && g_ddApp->modelessDialog == dialog) g_ddApp->modelessDialog = nullptr;
}

static void ddProgCloseDialog(DdProgress* p) {
    HWND dialog = p->dialog;
    if (!dialog) return;
    ddProgForgetDialog(p);
    DestroyWindow(dialog);
    HWND top = p->view ? GetAncestor(p->view, GA_ROOT) : nullptr;
    if (top) UpdateWindow(top);
}

static void ddProgInitDialog(HWND dialog, DdProgress* p) {
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(p));
    p->dialog = dialog;
    RECT window, client;
    GetWindowRect(dialog, &window);
    GetClientRect(dialog, &client);
    p->expandedWidth = window.right - window.left;
    p->expandedHeight = window.bottom - window.top;
    int32_t nonClient = p->expandedHeight - (client.bottom - client.top);
    int32_t markerTop = client.bottom;
    HWND marker = GetDlgItem(dialog, DD_PROG_MARKER);
    if (marker) {
        RECT r;
        GetWindowRect(marker, &r);
        POINT pt = {r.left, r.top};
        ScreenToClient(dialog, &pt);
        markerTop = pt.y;
    }
    p->collapsedWidth = p->expandedWidth;
    p->collapsedHeight = nonClient + markerTop;
    SetWindowPos(dialog, nullptr, 0, 0, p->collapsedWidth, p->collapsedHeight,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    p->expanded = 0;
    p->detailsShown = 0;
    /* The log may outgrow an edit control's default limit. */
    SendDlgItemMessageW(dialog, DD_PROG_DETAILS, EM_SETLIMITTEXT, 2 * DI_PROG_DETAILS_MAX, 0);
    SetFocus(GetDlgItem(dialog, DD_PROG_CANCEL));
    ddSOSetWindowTitle(dialog, DD_PROG_STR_TITLE);
}

/* Button 2 (Cancel, Close, Escape): the dialog goes first, while the object
 * is surely alive; the cancel may then free the object. */
static void ddProgDialogCancel(DdProgress* p) {
    DiObject* obj = &p->base.hdr;
    ddProgCloseDialog(p);
    diProgCancel(obj);
}

static INT_PTR CALLBACK ddProgDialogProc(HWND dialog, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        ddProgInitDialog(dialog, reinterpret_cast<DdProgress*>(lp));
        return FALSE; /* the focus is set */
    }
    DdProgress* p = reinterpret_cast<DdProgress*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (!p) return FALSE;
    switch (msg) {
    case WM_COMMAND:
        switch (LOWORD(wp)) {
        case IDCANCEL:
            ddProgDialogCancel(p);
            return TRUE;
        case IDOK:
            ddProgCloseDialog(p); /* the connection goes on */
            return TRUE;
        case DD_PROG_TOGGLE:
            ddProgShowDetails(&p->base.hdr, !p->expanded);
            return TRUE;
        }
        return FALSE;
    case WM_TIMER:
        if (wp == DD_PROG_TIMER_ID) ddProgTimerTick(&p->base.hdr);
        return TRUE;
    case WM_NCDESTROY:
        /* Destroyed from outside (the dialog closes itself unlinked first):
         * the object must not keep the handle. */
        ddProgForgetDialog(p);
        return FALSE;
    case WM_DRAWITEM: {
        const DRAWITEMSTRUCT* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
        if (wp != DD_PROG_BAR || !item) return FALSE;
        ddProgDrawBar(item->hDC, item->rcItem.right - item->rcItem.left,
                      item->rcItem.bottom - item->rcItem.top, p->percent);
        return TRUE;
    }
    }
    return FALSE;
}

/* 0 when the dialog is open (or was already), -1 when it cannot be. */
static int ddProgOpenDialog(DdProgress* p) {
    if (p->dialog) return 0;
    HWND dialog = CreateDialogParamW(ddProgModule(), MAKEINTRESOURCEW(DD_PROG_DIALOG), nullptr,
                                     ddProgDialogProc, reinterpret_cast<LPARAM>(p));
    if (!dialog) return -1;
    p->dialogGC = ddGDICreateGC();
    if (!p->dialogGC) {
        ddProgCloseDialog(p);
        return -1;
    }
    SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ddProgSetItemString(dialog, DD_PROG_CANCEL, DD_PROG_STR_CANCEL);
    ddProgSetItemString(dialog, DD_PROG_TOGGLE, DD_PROG_STR_DETAILS_OPEN);
    ddProgSetItemString(dialog, DD_PROG_LABEL, DD_PROG_STR_LABEL);
    SetWindowPos(dialog, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (!diSOIsLaunchDialogPending()) ShowWindow(dialog, SW_SHOWNORMAL);
    SetForegroundWindow(dialog);
    if (g_ddApp) g_ddApp->modelessDialog = dialog;
    p->dialogDC = GetDC(dialog);
    ddGDIAttach(p->dialogGC, dialog, p->dialogDC);
    int32_t state = p->base.state;
    if (state != DI_PROG_FAILED_STATE && state != DI_PROG_ABOUT_TO_START)
        ddProgStartTimer(&p->base.hdr);
    return 0;
}

void ddProgUpdate(DiObject* obj, int32_t state) {
    if (!obj) return;
    DdProgress* p = ddProg(obj);
    bool closeButton = false;
    switch (state) {
    case DI_PROG_DISCONNECTED:
        ddProgCloseDialog(p);
        break;
    case DI_PROG_STARTING:
    case DI_PROG_RESUMING:
    case DI_PROG_ABOUT_TO_START:
        ddProgOpenDialog(p);
        break;
    case DI_PROG_CONNECTED:
    case DI_PROG_SUSPENDED:
    case DI_PROG_ENDED:
    case DI_PROG_FAILED_STATE:
        ddProgFillBar(p);
        if (state == DI_PROG_CONNECTED && !p->expanded) ddProgCloseDialog(p);
        closeButton = true;
        break;
    case DI_PROG_AUTHENTICATING:
        ddProgStopTimer(obj);
        break;
    case DI_PROG_RETRYING:
        ddProgStartTimer(obj);
        break;
    case DI_PROG_FAILED_DETAIL: {
        bool wasOpen = p->dialog != nullptr;
        ddProgOpenDialog(p);
        ddProgFillBar(p);
        /* Opening collapses the dialog: a pane asked to open on failure
         * before it existed is opened now. */
        if (!wasOpen && p->base.autoDetails) ddProgShowDetails(obj, 1);
        closeButton = true;
        break;
    }
    default:
        break;
    }
    if (!p->dialog) return;
    SetDlgItemTextW(p->dialog, DD_PROG_STATUS, p->base.status ? ddW(p->base.status) : L"");
    ddProgFillDetails(p, 0);
    if (closeButton) {
        ddProgSetItemString(p->dialog, DD_PROG_CANCEL, DD_PROG_STR_CLOSE);
        EnableWindow(GetDlgItem(p->dialog, DD_PROG_CANCEL), TRUE);
    }
}
