/* Opens every dialog in one language for tools/dialog-shots. For each one
 * it prints "SHOT <name> <x> <y> <width> <height>" (screen coordinates of
 * the window) once the dialog is painted, waits for a line on its input
 * (the script has then captured the screen) and closes the dialog. */
#include <stdio.h>
#include <string.h>

#include <string>

#include "core/ddapp.h"
#include "resources/ddres.h"
#include "ui/dddlg.h"

namespace {

const char* g_name = "";

void CALLBACK shoot(HWND dlg, UINT, UINT_PTR id, DWORD) {
    KillTimer(dlg, id);
    RedrawWindow(dlg, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    RECT r;
    GetWindowRect(dlg, &r);
    printf("SHOT %s %ld %ld %ld %ld\n", g_name, r.left, r.top, r.right - r.left, r.bottom - r.top);
    fflush(stdout);
    char line[16];
    if (!fgets(line, sizeof line, stdin)) {
    }
    PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
}

void onInit(HWND dlg, int) {
    SetWindowPos(dlg, HWND_TOP, 40, 40, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    SetTimer(dlg, 77, 400, shoot);
}

void shot(const char* name) {
    g_name = name;
}

bool lookup(const DiChar* host, DiChar* out, size_t size) {
    std::u16string full = std::u16string(host) + u".example.com";
    if (full.size() + 1 > size) return false;
    memcpy(out, full.c_str(), (full.size() + 1) * sizeof(DiChar));
    return true;
}

int readers() {
    return 1;
}

/* Dialogs whose procedures belong to other modules: shown from their
 * templates only. */
INT_PTR CALLBACK plainProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) {
    if (msg == WM_INITDIALOG) {
        onInit(dlg, 0);
        return TRUE;
    }
    if (msg == WM_COMMAND && (LOWORD(wp) == IDCANCEL || LOWORD(wp) == IDOK)) {
        if (GetWindowLongW(dlg, GWL_STYLE) & WS_CHILD)
            DestroyWindow(GetParent(dlg));
        else
            EndDialog(dlg, 0);
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK pageProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) {
    if (msg == WM_INITDIALOG) {
        SetTimer(dlg, 77, 400, shoot);
        return TRUE;
    }
    if (msg == WM_COMMAND && LOWORD(wp) == IDCANCEL) PostQuitMessage(0);
    return FALSE;
}

/* A property page is a child dialog: show it inside a frame of its size. */
void showPage(int id, const char* name) {
    shot(name);
    HWND host = CreateWindowExW(0, L"#32770", L"", WS_POPUP | WS_CAPTION | WS_VISIBLE, 40, 40, 100,
                                100, nullptr, nullptr, ddResModule(), nullptr);
    HWND page = CreateDialogParamW(ddResModule(), MAKEINTRESOURCEW(id), host, pageProc, 0);
    RECT r;
    GetWindowRect(page, &r);
    RECT frame = {0, 0, r.right - r.left, r.bottom - r.top};
    AdjustWindowRectEx(&frame, WS_POPUP | WS_CAPTION, FALSE, 0);
    SetWindowPos(host, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER);
    wchar_t caption[128];
    GetWindowTextW(page, caption, 128);
    SetWindowTextW(host, caption);
    SetWindowPos(page, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ShowWindow(page, SW_SHOW);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    DestroyWindow(host);
}

const DiChar* const kNames[] = {
    u"Subject",          u"Issuer", u"Effective date", u"Expiration date", u"MD5 fingerprint",
    u"SHA1 fingerprint", nullptr};
const DiChar* const kTexts[] = {u"CN=apps.example.com, O=Example",
                                u"CN=Example CA",
                                u"Jan  1 00:00:00 2026 GMT",
                                u"Jan  1 00:00:00 2027 GMT",
                                u"01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF",
                                u"01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67",
                                nullptr};

} // namespace

int main(int argc, char** argv) {
    static const struct {
        const char* code;
        LANGID id;
    } langs[] = {
        {"en", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)},
        {"fr", MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH)},
        {"ja", MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)},
        {"ko", MAKELANGID(LANG_KOREAN, SUBLANG_KOREAN)},
        {"zhs", MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED)},
        {"zht", MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL)},
    };
    LANGID lang = langs[0].id;
    for (const auto& l : langs)
        if (argc > 1 && !strcmp(argv[1], l.code)) lang = l.id;
    ddResSelectLanguage(lang);
    g_ddDlgHooks.initDialog = onInit;
    g_ddDlgHooks.lookupHostName = lookup;
    g_ddDlgHooks.smartCardReadersPresent = readers;

    shot("131-about");
    ddDlgAbout(nullptr);

    shot("149-password-cache");
    DiChar* url = nullptr;
    DiChar* user = nullptr;
    DiChar* password = nullptr;
    ddDlgPasswordCache(&url, &user, &password);

    DiLAIPField fields[2] = {};
    fields[0].value = 1;
    fields[0].flags = DD_AUTH_ASK_USER | DD_AUTH_ASK_PASSWORD | DD_AUTH_ASK_DOMAIN;
    fields[1].id = 1;
    fields[1].kind = 1;
    DiLAIPDialog request = {};
    request.flags = DD_AUTH_MESSAGE | DD_AUTH_SAVE_BOX | DD_AUTH_METHOD_CHOICE;
    request.host = const_cast<DiChar*>(u"apps");
    request.message = const_cast<DiChar*>(
        u"Your organisation asks you to sign in to the application server before the session "
        u"starts.");
    request.fieldCount = 2;
    request.fields = fields;
    DiLAIPReply reply = {};
    shot("107-authentication");
    ddDlgAuthenticate(nullptr, &request, &reply);
    shot("145-change-password");
    ddDlgChangePassword(nullptr, &request, &reply);

    DdDlgProxyAuth auth = {};
    auth.description = u"HTTP proxy proxy.example.com:8080";
    auth.allowSave = true;
    shot("188-server-authentication");
    ddDlgProxyCredentials(nullptr, &auth);

    shot("204-certificate-changed");
    ddDlgCertificateChanged(nullptr, u"apps.example.com", kNames, kTexts);
    shot("206-untrusted-first-connection");
    ddDlgUntrustedFirstConnection(nullptr, u"apps.example.com", kNames, kTexts);
    shot("209-security-warning");
    ddDlgSecurityWarning(nullptr, u"apps.example.com", kNames, kTexts, 15);
    shot("211-security-warning-list");
    ddDlgSecurityWarningList(nullptr, u"apps.example.com", kNames, kTexts, 15);
    shot("212-certificate-details");
    ddDlgCertificateDetails(nullptr, kNames, kTexts);

    int mode = 3;
    uint32_t x = 100, y = 100;
    shot("202-printing-options");
    ddDlgPrintingOptions(nullptr, &mode, &x, &y);

    shot("144-console-log");
    ddDlgConsoleLog(nullptr);
    /* The modeless console closes when the shot's Cancel (its Clear
     * button) arrives. */
    MSG msg;
    while (g_ddApp->consoleLog && GetMessageW(&msg, nullptr, 0, 0)) {
        if (msg.hwnd == g_ddApp->consoleLog && msg.message == WM_COMMAND &&
            LOWORD(msg.wParam) == IDCANCEL) {
            ddDlgConsoleDestroy();
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }

    static const struct {
        int id;
        const char* name;
    } plain[] = {{110, "110-connection-progress"},
                 {189, "189-table-window"},
                 {210, "210-connection-settings"}};
    for (const auto& p : plain) {
        shot(p.name);
        DialogBoxParamW(ddResModule(), MAKEINTRESOURCEW(p.id), nullptr, plainProc, 0);
    }
    showPage(186, "186-options-general");
    showPage(203, "203-options-proxy");
    return 0;
}
