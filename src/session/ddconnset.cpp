/* The connection settings dialog (template 210) and the Windows outpost's
 * question for the server URL and proxy. */
#include "session/ddconnset.h"

#include "core/ddapp.h"
#include "resources/ddres.h"
#include "ui/dddlg.h"

#include <string>

enum : int {
    IDC_CS_URL = 1142,
    IDC_CS_BROWSER = 1144,
    IDC_CS_HTTP = 1145,
    IDC_CS_SOCKS = 1146,
    IDC_CS_HOST = 1147,
    IDC_CS_PORT = 1148,
};

/* The entries while the dialog is open. */
static std::u16string entryUrl, entryHost, entryPort;
static int32_t entryKind = 0;

static std::u16string itemText(HWND dialog, int id) {
    HWND item = GetDlgItem(dialog, id);
    int n = item ? GetWindowTextLengthW(item) : 0;
    std::wstring text(size_t(n) + 1, L'\0');
    if (n > 0) GetWindowTextW(item, &text[0], n + 1);
    text.resize(wcslen(text.c_str()));
    return std::u16string(text.begin(), text.end());
}

static void enableProxyEdits(HWND dialog) {
    BOOL on = IsDlgButtonChecked(dialog, IDC_CS_BROWSER) != BST_CHECKED;
    EnableWindow(GetDlgItem(dialog, IDC_CS_HOST), on);
    EnableWindow(GetDlgItem(dialog, IDC_CS_PORT), on);
}

static void badUrl(HWND dialog) {
    DiChar caption[256], text[512];
    if (ddResLoadString(40021, caption, 256) <= 0) caption[0] = 0;
    if (ddResLoadString(40022, text, 512) <= 0) text[0] = 0;
    MessageBoxW(dialog, reinterpret_cast<const wchar_t*>(text),
                reinterpret_cast<const wchar_t*>(caption), MB_OK | MB_ICONSTOP);
}

static INT_PTR CALLBACK connSettingsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        CheckDlgButton(dialog, IDC_CS_BROWSER, BST_CHECKED);
        EnableWindow(GetDlgItem(dialog, IDC_CS_HOST), FALSE);
        EnableWindow(GetDlgItem(dialog, IDC_CS_PORT), FALSE);
        EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
        if (g_ddDlgHooks.initDialog) g_ddDlgHooks.initDialog(dialog, 210);
        return TRUE;
    case WM_COMMAND: {
        enableProxyEdits(dialog);
        int id = LOWORD(wParam);
        if (id == IDC_CS_URL) {
            EnableWindow(GetDlgItem(dialog, IDOK), !itemText(dialog, IDC_CS_URL).empty());
        } else if (id == IDOK) {
            std::u16string url = itemText(dialog, IDC_CS_URL);
            if (!diConnSettingsCheckUrl(&url[0])) {
                badUrl(dialog);
                return TRUE;
            }
            entryUrl = url.c_str();
            if (IsDlgButtonChecked(dialog, IDC_CS_BROWSER) != BST_CHECKED) {
                entryHost = itemText(dialog, IDC_CS_HOST);
                entryPort = itemText(dialog, IDC_CS_PORT);
                entryKind = IsDlgButtonChecked(dialog, IDC_CS_HTTP) == BST_CHECKED
                                ? DI_CONN_PROXY_HTTP
                                : DI_CONN_PROXY_SOCKS;
            } else {
                entryKind = DI_CONN_PROXY_BROWSER;
            }
            EndDialog(dialog, 1);
        } else if (id == IDCANCEL) {
            EndDialog(dialog, 2);
        }
        return TRUE;
    }
    case WM_CLOSE:
        EndDialog(dialog, 2);
        return TRUE;
    }
    return FALSE;
}

DiConnSettingsDialog::~DiConnSettingsDialog() {
    entryUrl.clear();
    entryHost.clear();
    entryPort.clear();
    entryKind = 0;
}

int DiConnSettingsDialog::Run() {
    entryUrl.clear();
    entryHost.clear();
    entryPort.clear();
    entryKind = 0;
    HWND owner = g_ddApp ? g_ddApp->mainWindow : nullptr;
    INT_PTR r = g_ddDlgHooks.runModal(owner, 210, connSettingsProc, 0);
    return diConnSettingsFill(this, int(r), entryUrl.c_str(), entryKind, entryHost.c_str(),
                              entryPort.c_str());
}
