/* The options sheet: a modeless property sheet with the log level and the
 * reconnect policy ("General") and the proxy choice ("Proxy"). It gets its
 * messages from the event loop before any other dialog, and is destroyed on
 * the first message after its last page closed. */
#include "core/ddapp.h"
#include "core/dilog.h"
#include "resources/ddres.h"
#include "session/ddso.h"
#include "session/diso.h"

#include <commctrl.h>
#include <prsht.h>

namespace {
enum {
    kLogFirst = 2073,  /* 2073..2076: levels 0..3 */
    kModeFirst = 2077, /* 2077..2079: always, ask, never */
    kAttempts = 2083,
    kWait = 2084,
    kAttemptsSpin = 2085,
    kWaitSpin = 2086,
    kDefaultProxy = 1124,
    kSpecifyProxy = 1125,
};

HWND g_sheet = nullptr;
bool g_filling = false; /* controls being filled: no change to report */

int checkedOf(HWND d, int first, int count) {
    for (int i = 0; i < count; i++)
        if (IsDlgButtonChecked(d, first + i) == BST_CHECKED) return i;
    return 0;
}

void enableNumbers(HWND d, bool on) {
    for (int id : {kAttempts, kWait, kAttemptsSpin, kWaitSpin})
        EnableWindow(GetDlgItem(d, id), on);
}

int clampInt(int v, int lo, int hi) {
    return v < lo ? lo : v > hi ? hi : v;
}

INT_PTR CALLBACK generalProc(HWND d, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITDIALOG: {
        g_filling = true;
        CLog* log = diLogGet();
        CheckRadioButton(d, kLogFirst, kLogFirst + 3,
                         kLogFirst + clampInt(log ? int(log->level) : 1, 0, 3));
        CServerOutpost* so = g_diOutpost;
        int mode = clampInt(so ? so->EffectiveReconnectMode() : 0, 0, 2);
        CheckRadioButton(d, kModeFirst, kModeFirst + 2, kModeFirst + mode);
        SendDlgItemMessageW(d, kAttemptsSpin, UDM_SETRANGE32, 0, 50);
        SendDlgItemMessageW(d, kAttemptsSpin, UDM_SETPOS32, 0, so ? so->reconnectAttempts : 0);
        SendDlgItemMessageW(d, kWaitSpin, UDM_SETRANGE32, 0, 120);
        SendDlgItemMessageW(d, kWaitSpin, UDM_SETPOS32, 0, so ? so->reconnectWait : 0);
        enableNumbers(d, mode != 2);
        g_filling = false;
        return TRUE;
    }
    case WM_COMMAND: {
        int id = LOWORD(wp), code = HIWORD(wp);
        if (id >= kModeFirst && id <= kModeFirst + 2 && code == BN_CLICKED)
            enableNumbers(d, id != kModeFirst + 2);
        bool radio = id >= kLogFirst && id <= kModeFirst + 2 && code == BN_CLICKED;
        bool edit = (id == kAttempts || id == kWait) && code == EN_CHANGE;
        if ((radio || edit) && !g_filling) PropSheet_Changed(GetParent(d), d);
        return FALSE;
    }
    case WM_NOTIFY:
        if (reinterpret_cast<NMHDR*>(lp)->code == PSN_APPLY) {
            /* The sheet is modeless: the outpost it was opened for may be
             * gone, or another may have replaced it. */
            if (CLog* log = diLogGet()) log->level = uint32_t(checkedOf(d, kLogFirst, 4));
            if (CServerOutpost* so = g_diOutpost) {
                so->reconnectMode = checkedOf(d, kModeFirst, 3);
                so->reconnectAttempts =
                    clampInt(int(GetDlgItemInt(d, kAttempts, nullptr, FALSE)), 0, 50);
                so->reconnectWait = clampInt(int(GetDlgItemInt(d, kWait, nullptr, FALSE)), 0, 120);
            }
            SetWindowLongPtrW(d, DWLP_MSGRESULT, PSNRET_NOERROR);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

bool filled(HWND d, int id) {
    return GetWindowTextLengthW(GetDlgItem(d, id)) > 0;
}

/* Fields follow the checked types; the page counts as changed for the
 * default, or for a complete choice of at least one type. */
void proxyUpdate(HWND d) {
    bool specify = IsDlgButtonChecked(d, kSpecifyProxy) == BST_CHECKED;
    bool http = specify && IsDlgButtonChecked(d, 1098) == BST_CHECKED;
    bool socks = specify && IsDlgButtonChecked(d, 1046) == BST_CHECKED;
    for (int id : {1098, 1046, 1126})
        EnableWindow(GetDlgItem(d, id), specify);
    for (int id : {1099, 1100})
        EnableWindow(GetDlgItem(d, id), http);
    for (int id : {1063, 1064})
        EnableWindow(GetDlgItem(d, id), socks);
    bool complete = (http || socks) && (!http || (filled(d, 1099) && filled(d, 1100))) &&
                    (!socks || (filled(d, 1063) && filled(d, 1064)));
    if (g_filling) return;
    if (!specify || complete)
        PropSheet_Changed(GetParent(d), d);
    else
        PropSheet_UnChanged(GetParent(d), d);
}

INT_PTR CALLBACK proxyProc(HWND d, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITDIALOG:
        g_filling = true;
        CheckRadioButton(d, kDefaultProxy, kSpecifyProxy, kDefaultProxy);
        proxyUpdate(d);
        g_filling = false;
        return TRUE;
    case WM_COMMAND:
        if (HIWORD(wp) == BN_CLICKED || HIWORD(wp) == EN_CHANGE) proxyUpdate(d);
        return FALSE;
    case WM_NOTIFY:
        /* What a proxy chosen here should change is not settled: nothing
         * is stored. */
        if (reinterpret_cast<NMHDR*>(lp)->code == PSN_APPLY) {
            SetWindowLongPtrW(d, DWLP_MSGRESULT, PSNRET_NOERROR);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}
} // namespace

void ddSOShowOptions(void) {
    if (g_sheet) {
        ShowWindow(g_sheet, SW_SHOW);
        SetForegroundWindow(g_sheet);
        return;
    }
    PROPSHEETPAGEW pages[2] = {};
    DLGPROC procs[2] = {generalProc, proxyProc};
    int templates[2] = {186, 203};
    for (int i = 0; i < 2; i++) {
        pages[i].dwSize = sizeof pages[i];
        pages[i].hInstance = ddResModule();
        pages[i].pszTemplate = MAKEINTRESOURCEW(templates[i]);
        pages[i].pfnDlgProc = procs[i];
    }
    static DiChar caption[128];
    ddResLoadString(985, caption, 128);
    PROPSHEETHEADERW h = {};
    h.dwSize = sizeof h;
    h.dwFlags = PSH_MODELESS | PSH_PROPSHEETPAGE | PSH_NOCONTEXTHELP;
    h.hInstance = ddResModule();
    h.pszCaption = ddW(caption);
    h.nPages = 2;
    h.ppsp = pages;
    g_sheet = reinterpret_cast<HWND>(PropertySheetW(&h));
    if (g_sheet == reinterpret_cast<HWND>(-1)) g_sheet = nullptr;
    if (g_sheet) ddSOSetWindowIcons(g_sheet);
}

bool ddSOIsPropertySheetMessage(MSG* msg) {
    if (!g_sheet) return false;
    if (!PropSheet_GetCurrentPageHwnd(g_sheet)) {
        DestroyWindow(g_sheet);
        g_sheet = nullptr;
        return false;
    }
    return PropSheet_IsDialogMessage(g_sheet, msg);
}

void ddSOCloseOptions(void) {
    if (g_sheet) DestroyWindow(g_sheet);
    g_sheet = nullptr;
}

HWND ddSOOptionsSheet(void) {
    return g_sheet;
}
