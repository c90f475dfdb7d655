/* What the user sees of the session around its windows: the program's
 * icons and titles on every window it opens, and the event log. */
#include "core/ddapp.h"
#include "core/ddmessage.h"
#include "core/dilog.h"
#include "resources/ddres.h"
#include "session/ddso.h"
#include "session/diso.h"
#include "session/disoui.h"
#include "ui/dddlg.h"

#include <shellapi.h>
#include <string.h>
#include <string>
#include <vector>

enum { DD_SO_ICON_APP = 184, DD_SO_STR_CAPTION = 936 };

void ddSOSetWindowIcons(HWND window) {
    if (!window) return;
    static const struct {
        WPARAM which;
        int metricX, metricY;
    } kSizes[] = {{ICON_BIG, SM_CXICON, SM_CYICON}, {ICON_SMALL, SM_CXSMICON, SM_CYSMICON}};
    for (const auto& s : kSizes) {
        HICON icon =
            ddResLoadIcon(DD_SO_ICON_APP, GetSystemMetrics(s.metricX), GetSystemMetrics(s.metricY));
        if (icon) SendMessageW(window, WM_SETICON, s.which, reinterpret_cast<LPARAM>(icon));
    }
}

void ddSOSetWindowTitle(HWND window, int stringId) {
    /* Without a session the window keeps the title of its own template. */
    if (!window || !ddSOExists()) return;
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

void ddSOSetWindowIconsAndTitle(HWND window, int stringId) {
    ddSOSetWindowIcons(window);
    ddSOSetWindowTitle(window, stringId);
}

const void* ddSOLoadResource(const wchar_t* name, const wchar_t* type) {
    for (HMODULE m : {g_ddResourceLibrary, static_cast<HMODULE>(ddResModule())}) {
        HRSRC r = m ? FindResourceW(m, name, type) : nullptr;
        HGLOBAL g = r ? LoadResource(m, r) : nullptr;
        if (g) return LockResource(g);
    }
    return nullptr;
}

static const BITMAPINFO* outpostLogo() {
    return static_cast<const BITMAPINFO*>(
        ddSOLoadResource(MAKEINTRESOURCEW(105), MAKEINTRESOURCEW(2)));
}

void ddSOShowEventLog(void) {
    if (CLog* log = diLogGet()) log->ShowWindow(true);
}

/* ---- the session menu model and the tray icon ---- */

namespace {
enum : UINT { kTrayId = 103, kTrayMessage = 0x8001 };
enum { kIconUnconnected = 176, kIconConnected = 177 };

struct DdSOTray {
    CSOUIRootMenu* model = nullptr;
    DiSOTrayAccess access;
    bool iconShown = false;
    /* Changes with every outpost, so code that ran a nested message loop
     * can tell whether the model it held is still the current one. */
    unsigned generation = 0;
} g_tray;

void showAbout() {
    if (g_ddApp && g_ddApp->mainWindow) PostMessageW(g_ddApp->mainWindow, WM_COMMAND, 40003, 0);
}

/* The Shell's record in the size every Windows since XP accepts. */
void trayRecord(NOTIFYICONDATAW* nid, UINT flags) {
    memset(nid, 0, sizeof *nid);
    nid->cbSize = NOTIFYICONDATAW_V3_SIZE;
    nid->hWnd = g_ddApp ? g_ddApp->mainWindow : nullptr;
    nid->uID = kTrayId;
    nid->uFlags = flags;
}

void trayIconAdd() {
    if (g_tray.iconShown || !g_tray.model || g_tray.model->state == DI_SOUI_HIDDEN) return;
    NOTIFYICONDATAW nid;
    trayRecord(&nid, NIF_MESSAGE | NIF_ICON | NIF_TIP);
    nid.uCallbackMessage = kTrayMessage;
    nid.hIcon = ddResLoadIcon(kIconUnconnected, GetSystemMetrics(SM_CXSMICON),
                              GetSystemMetrics(SM_CYSMICON));
    DiChar tip[64];
    ddResLoadMessage(416, tip, 64);
    wcsncpy(nid.szTip, ddW(tip), 63);
    if (Shell_NotifyIconW(NIM_ADD, &nid)) g_tray.iconShown = true;
}

void trayIconUpdate() {
    if (!g_tray.iconShown) return;
    NOTIFYICONDATAW nid;
    trayRecord(&nid, NIF_ICON | NIF_TIP);
    bool connected = g_diOutpost && g_diOutpost->connectionState == DI_SO_CONNECTED;
    nid.hIcon = ddResLoadIcon(connected ? kIconConnected : kIconUnconnected,
                              GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON));
    DiChar tip[64];
    diSOUITipText(g_tray.model, tip);
    wcsncpy(nid.szTip, ddW(tip), 63);
    Shell_NotifyIconW(NIM_MODIFY, &nid);
}

void trayIconRemove() {
    if (!g_tray.iconShown) return;
    NOTIFYICONDATAW nid;
    trayRecord(&nid, 0);
    if (Shell_NotifyIconW(NIM_DELETE, &nid)) g_tray.iconShown = false;
}

void trayOnStateChange(CSOUIComponent* c) {
    if (!g_tray.model || !c) return;
    if (c == g_tray.model) {
        g_tray.access.blocked = c->state != DI_SOUI_ENABLED;
        if (c->state == DI_SOUI_HIDDEN) {
            trayIconRemove();
        } else {
            trayIconAdd();
            trayIconUpdate();
        }
    } else if (c == &g_tray.model->server) {
        trayIconUpdate();
    }
}

HMENU buildMenu(const std::vector<DiSOUIMenuLine>& lines, std::vector<CSOUIComponent*>* table) {
    HMENU menu = CreatePopupMenu();
    if (!menu) return nullptr;
    table->assign(1, nullptr);
    for (const DiSOUIMenuLine& l : lines) {
        if (l.separator) {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        } else if (!l.component) {
            AppendMenuW(menu, MF_STRING | MF_DISABLED, 0, ddW(l.text.c_str()));
        } else {
            UINT flags = MF_STRING | (l.grayed ? MF_GRAYED | MF_DISABLED : 0);
            if (AppendMenuW(menu, flags, table->size(), ddW(l.text.c_str())))
                table->push_back(l.component);
        }
    }
    return menu;
}
} // namespace

/* Dialogs take their title, icons and logo through the outpost while it
 * exists, so "-resource" reaches them too. */
static void (*s_savedSetTitle)(HWND, int);
static const BITMAPINFO* (*s_savedLogo)();
static bool s_hooked;

void ddSOUICreate(void) {
    if (!s_hooked) {
        s_savedSetTitle = g_ddDlgHooks.setTitle;
        s_savedLogo = g_ddDlgHooks.logo;
        g_ddDlgHooks.setTitle = ddSOSetWindowIconsAndTitle;
        g_ddDlgHooks.logo = outpostLogo;
        s_hooked = true;
    }
    DiSOUIActions a;
    a.showEventLog = ddSOShowEventLog;
    a.showConnectionInfo = ddSOShowConnectionInfo;
    a.showOptions = ddSOShowOptions;
    a.exit = diSOUIExit;
    a.showAbout = showAbout;
    delete g_tray.model;
    g_tray = DdSOTray{nullptr, DiSOTrayAccess(), false, g_tray.generation + 1};
    g_tray.model = new (std::nothrow) CSOUIRootMenu(a);
}

void ddSOUIDestroy(void) {
    if (s_hooked) {
        g_ddDlgHooks.setTitle = s_savedSetTitle;
        g_ddDlgHooks.logo = s_savedLogo;
        s_hooked = false;
    }
    ddSOConnectionInfoDestroy();
    ddSOCloseOptions();
    trayIconRemove();
    delete g_tray.model;
    g_tray.model = nullptr;
    g_tray.generation++;
}

void ddSOTrayStart(void) {
    trayIconAdd();
    trayIconUpdate();
}

void ddSOTrayStop(void) {
    trayIconRemove();
}

void ddSOTrayRefresh(void) {
    trayIconUpdate();
}

bool ddSOSetUIComponent(const DiChar* verb, const DiChar* word) {
    CSOUIComponent* c = g_tray.model ? g_tray.model->Find(verb) : nullptr;
    int32_t state = diSOUIParseState(word);
    if (!c || state < 0) return false;
    if (state != c->state) {
        c->state = state;
        trayOnStateChange(c);
    }
    return true;
}

bool ddSOTriggerUIComponent(const DiChar* verb) {
    return diSOUIActivateVerb(g_tray.model, verb);
}

bool ddSOTrayIconShown(void) {
    return g_tray.iconShown;
}

void ddSOTrayBeginModal(HWND owner) {
    g_tray.access.Disable(owner);
}

void ddSOTrayEndModal(void) {
    g_tray.access.Enable();
}

/* While the menu runs, socket notices and the server's requests are still
 * dispatched: a sign-out may end the outpost, and with it the model, the
 * table's components and this record. */
void ddSOTrayShowMenu(void) {
    if (!g_tray.model) return;
    if (!g_tray.access.Available(g_tray.model)) {
        HWND owner = static_cast<HWND>(g_tray.access.Owner());
        if (owner && IsWindow(owner)) SetForegroundWindow(owner);
        return;
    }
    std::vector<DiSOUIMenuLine> lines;
    diSOUIMenuLines(g_tray.model, &lines);
    std::vector<CSOUIComponent*> table;
    HMENU menu = buildMenu(lines, &table);
    if (!menu) return;
    HWND main = g_ddApp->mainWindow;
    POINT at;
    GetCursorPos(&at);
    SetForegroundWindow(main);
    InvalidateRect(main, nullptr, TRUE);
    UpdateWindow(main);
    PostMessageW(main, WM_NULL, 0, 0);
    unsigned generation = g_tray.generation;
    g_tray.access.Disable(nullptr); /* no second menu from inside this one */
    UINT id = static_cast<UINT>(TrackPopupMenu(menu, TPM_RIGHTBUTTON | TPM_NONOTIFY | TPM_RETURNCMD,
                                               at.x, at.y, 0, main, nullptr));
    DestroyMenu(menu);
    if (generation != g_tray.generation || !g_diOutpost) return;
    g_tray.access.Enable();
    if (id > 0 && id < table.size() && table[id]) table[id]->Activate();
}

void ddSOTrayNotify(HWND, WPARAM, LPARAM lp) {
    if (LOWORD(lp) == WM_RBUTTONUP) ddSOTrayShowMenu();
}

/* The exit command: when connected, the user confirms first; the question
 * runs a message loop in which the outpost may end. */
void diSOUIExit(void) {
    CServerOutpost* so = g_diOutpost;
    if (so && so->connectionState == DI_SO_CONNECTED) {
        unsigned generation = g_tray.generation;
        g_tray.access.Disable(nullptr);
        DiChar text[512];
        ddResLoadMessage(309, text, 512);
        bool yes = so->AskYesNo(u"", text);
        if (generation != g_tray.generation || g_diOutpost != so) return;
        g_tray.access.Enable();
        if (!yes) return;
        so->ending = 1;
    }
    if (g_ddApp->mainWindow) PostMessageW(g_ddApp->mainWindow, 0x8004, 0, 0);
}

/* ---- launch frames inside a helper's window ---- */

bool ddSOEmbedWindow(HWND helper, HWND frame) {
    /* The helper's window is any number a local program sent: it must be
     * a live window that is neither the frame nor inside it. */
    if (!helper || !frame || !IsWindow(helper) || !IsWindow(frame)) return false;
    if (helper == frame || IsChild(frame, helper)) return false;
    LONG frameStyle = GetWindowLongW(frame, GWL_STYLE);
    LONG helperStyle = GetWindowLongW(helper, GWL_STYLE);
    SetWindowLongW(frame, GWL_STYLE, WS_CHILD | WS_VISIBLE);
    SetWindowLongW(helper, GWL_STYLE, helperStyle | WS_CLIPCHILDREN);
    if (!SetParent(frame, helper)) {
        SetWindowLongW(frame, GWL_STYLE, frameStyle);
        SetWindowLongW(helper, GWL_STYLE, helperStyle);
        return false;
    }
    SetWindowPos(frame, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    SetWindowPos(helper, nullptr, 0, 0, 0, 0,
                 SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_FRAMECHANGED | SWP_ASYNCWINDOWPOS);
    InvalidateRect(frame, nullptr, TRUE);
    UpdateWindow(frame);
    InvalidateRect(helper, nullptr, TRUE);
    UpdateWindow(helper);
    return true;
}
