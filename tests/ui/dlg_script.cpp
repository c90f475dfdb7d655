#include "ui/dlg_script.h"

DlgScript* g_script;

namespace {

const UINT_PTR kSafetyTimer = 0x5AFE;

void CALLBACK safety(HWND dlg, UINT, UINT_PTR id, DWORD) {
    KillTimer(dlg, id);
    PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
}

void hookInit(HWND dlg, int id) {
    SetTimer(dlg, kSafetyTimer, 10000, safety);
    if (!g_script) return;
    g_script->inits.push_back(id);
    if (g_script->onInit) g_script->onInit(dlg, id);
}

void hookWarn(HWND dlg, int id) {
    if (!g_script) return;
    g_script->warnings.push_back(id);
    if (g_script->onWarn) g_script->onWarn(dlg, id);
}

void hookTitle(HWND, int id) {
    if (g_script) g_script->titles.push_back(id);
}

} // namespace

ScriptScope::ScriptScope(DlgScript* script) {
    g_script = script;
    ddResSelectLanguage(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    ddDlgResetHooks();
    g_ddDlgHooks.initDialog = hookInit;
    g_ddDlgHooks.warnBox = hookWarn;
    g_ddDlgHooks.setTitle = hookTitle;
    g_ddDlgHooks.lookupHostName = nullptr; /* no name service in tests */
}

ScriptScope::~ScriptScope() {
    ddDlgResetHooks();
    g_script = nullptr;
}

void press(HWND dlg, int id) {
    PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
}

void setText(HWND dlg, int id, const std::u16string& t) {
    SetDlgItemTextW(dlg, id, reinterpret_cast<const wchar_t*>(t.c_str()));
}

void choose(HWND dlg, int first, int last, int id) {
    CheckRadioButton(dlg, first, last, id);
    SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
}

void toggle(HWND dlg, int id, bool on) {
    CheckDlgButton(dlg, id, on ? BST_CHECKED : BST_UNCHECKED);
    SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
}

std::u16string text(HWND dlg, int id) {
    wchar_t buf[4096];
    buf[0] = 0;
    GetDlgItemTextW(dlg, id, buf, 4096);
    return std::u16string(reinterpret_cast<const char16_t*>(buf));
}

std::u16string title(HWND dlg) {
    wchar_t buf[1024];
    buf[0] = 0;
    GetWindowTextW(dlg, buf, 1024);
    return std::u16string(reinterpret_cast<const char16_t*>(buf));
}

bool visible(HWND dlg, int id) {
    return (GetWindowLongW(GetDlgItem(dlg, id), GWL_STYLE) & WS_VISIBLE) != 0;
}

bool enabled(HWND dlg, int id) {
    return IsWindowEnabled(GetDlgItem(dlg, id)) != 0;
}

bool isChecked(HWND dlg, int id) {
    return IsDlgButtonChecked(dlg, id) == BST_CHECKED;
}

RECT rectIn(HWND dlg, int id) {
    RECT r;
    GetWindowRect(GetDlgItem(dlg, id), &r);
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

int windowHeight(HWND dlg) {
    RECT r;
    GetWindowRect(dlg, &r);
    return r.bottom - r.top;
}

int focusId(HWND dlg) {
    HWND f = GetFocus();
    if (f && GetParent(f) != dlg) f = GetParent(f); /* a combo box's edit */
    return f && GetParent(f) == dlg ? GetDlgCtrlID(f) : 0;
}
