/* Dialogs of the client core. Each modal dialog keeps its inputs and the
 * user's answers in a state record on the caller's stack; the record goes
 * to the dialog procedure as its parameter, and answers reach the caller's
 * records only once the dialog has ended with OK. */
#include "ui/dddlg.h"

#include <commdlg.h>
#include <limits.h>
#include <algorithm>
#include <initializer_list>
#include <stdlib.h>
#include <string.h>

#include "core/ddapp.h"
#include "core/ddmessage.h"
#include "core/ddtrace.h"
#include "core/diutil.h"
#include "net/ddnet.h"
#include "net/dicrypt.h"
#include "resources/ddres.h"
#include "ui/ddcolor.h"

namespace {

const DiChar kClientName[] = u"Vek Halvanet Client";
const DiChar kClientVersion[] = u"4.31.953";

/* Control ids. */
enum {
    CTL_ICON = 1199,
    CTL_LOGO = 1036,
    CTL_PRODUCT = 1023,
    CTL_LOCATION = 1000,
    CTL_USER = 1001,
    CTL_PASSWORD = 1002,
    CTL_DOMAIN = 1003,
    CTL_CONFIRM = 1004,
    CTL_SAVE = 1008,
    CTL_ALWAYS_CARD = 1009,
    CTL_DOMAIN_LABEL = 1053,
    CTL_CP_DOMAIN = 1054,
    CTL_CP_DOMAIN_LABEL = 1055,
    CTL_USER_LABEL = 1067,
    CTL_PASSWORD_LABEL = 1068,
    CTL_NEW_LABEL = 1069,
    CTL_CONFIRM_LABEL = 1070,
    CTL_PROMPT = 1101,
    CTL_SAVE_DETAILS = 1102,
    CTL_MESSAGE = 1118,
    CTL_USE_PASSWORD = 1120,
    CTL_USE_CARD = 1121,
    CTL_CARD_GROUP = 1122,
    CTL_METHOD_GROUP = 1123,
    CTL_CHANGED_TEXT = 1134,
    CTL_PROBLEMS = 1159,
    CTL_EXAMINE = 1160,
    CTL_FIRST_TEXT = 1161,
    CTL_VIEW = 1157,
    CTL_TEMPORARY = 1155,
    CTL_PERMANENT = 1145,
    CTL_CHAIN = 1146,
    CTL_FIELDS = 1031,
    CTL_DETAILS = 1030,
    CTL_CONSOLE = 1047,
    CTL_ACTUAL = 1109,
    CTL_CUSTOM = 1112,
    CTL_SCALE_X = 1113,
    CTL_SCALE_Y = 1114,
    CTL_SETUP = 1115,
    CTL_X_LABEL = 1116,
    CTL_Y_LABEL = 1117,
};

/* Small helpers over controls. */

DiChar* dupText(const DiChar* s) {
    size_t n = 0;
    if (s)
        while (s[n])
            ++n;
    DiChar* d = static_cast<DiChar*>(malloc((n + 1) * sizeof(DiChar)));
    if (!d) return nullptr;
    if (n) memcpy(d, s, n * sizeof(DiChar));
    d[n] = 0;
    return d;
}

size_t textLen(const DiChar* s) {
    size_t n = 0;
    if (s)
        while (s[n])
            ++n;
    return n;
}

bool textEqual(const DiChar* a, const DiChar* b) {
    size_t i = 0;
    for (; a[i] && a[i] == b[i]; ++i) {
    }
    return a[i] == b[i];
}

/* Reads at most `limit` characters of a control into out (limit + 1). */
void readItem(HWND dlg, int id, DiChar* out, int limit) {
    out[0] = 0;
    GetDlgItemTextW(dlg, id, ddW(out), limit + 1);
}

int itemLength(HWND dlg, int id) {
    return GetWindowTextLengthW(GetDlgItem(dlg, id));
}

void setItem(HWND dlg, int id, const DiChar* text) {
    SetDlgItemTextW(dlg, id, text ? ddW(text) : L"");
}

void enableItem(HWND dlg, int id, bool on) {
    EnableWindow(GetDlgItem(dlg, id), on ? TRUE : FALSE);
}

void showItem(HWND dlg, int id, bool on) {
    ShowWindow(GetDlgItem(dlg, id), on ? SW_SHOW : SW_HIDE);
}

bool checked(HWND dlg, int id) {
    return IsDlgButtonChecked(dlg, id) == BST_CHECKED;
}

void replaceText(DiChar** slot, const DiChar* text) {
    free(*slot);
    *slot = dupText(text);
}

void loadString(int id, DiChar* out, int size) {
    ddResLoadString(static_cast<UINT>(id), out, size);
}

/* Formats a template whose "%s" markers take the given texts into a new
 * malloc'd text sized to fit. */
DiChar* formatTexts(const DiChar* format, std::initializer_list<DiFmtArg> args) {
    size_t size = textLen(format) + 1;
    for (const DiFmtArg& a : args)
        size += textLen(a.text);
    DiChar* out = static_cast<DiChar*>(malloc(size * sizeof(DiChar)));
    if (out && diFormatPositional(out, size, format, args) < 0) out[0] = 0;
    return out;
}

void setFormattedItem(HWND dlg, int id, const DiChar* format,
                      std::initializer_list<DiFmtArg> args) {
    DiChar* text = formatTexts(format, args);
    setItem(dlg, id, text);
    free(text);
}

/* The template text a control was given by its dialog resource. */
DiChar* itemTemplate(HWND dlg, int id) {
    int n = itemLength(dlg, id);
    DiChar* t = static_cast<DiChar*>(malloc((n + 1) * sizeof(DiChar)));
    if (t) readItem(dlg, id, t, n);
    return t;
}

void finishInit(HWND dlg, int id) {
    if (g_ddDlgHooks.initDialog) g_ddDlgHooks.initDialog(dlg, id);
}

INT_PTR runModal(HWND owner, int id, DLGPROC proc, void* state) {
    if (owner && g_ddDlgHooks.beginModal) g_ddDlgHooks.beginModal(owner);
    INT_PTR r = g_ddDlgHooks.runModal(owner, id, proc, reinterpret_cast<LPARAM>(state));
    if (owner && g_ddDlgHooks.endModal) g_ddDlgHooks.endModal();
    return r;
}

template <typename T> T* stateOf(HWND dlg, UINT msg, LPARAM lp) {
    if (msg == WM_INITDIALOG) SetWindowLongPtrW(dlg, DWLP_USER, lp);
    return reinterpret_cast<T*>(GetWindowLongPtrW(dlg, DWLP_USER));
}

/* Rows of a form. Each row owns the band from its top to the next row's
 * top (the last one up to `bottomId`); hiding rows moves every control
 * below them up by the hidden bands and shrinks the dialog by their sum. */
struct Row {
    const int* ids;
    int count;
    bool visible;
};

RECT itemRect(HWND dlg, HWND item) {
    RECT r;
    GetWindowRect(item, &r);
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void layoutRows(HWND dlg, const Row* rows, int n, int bottomId) {
    int tops[16];
    for (int i = 0; i < n && i < 16; ++i) {
        tops[i] = INT_MAX;
        for (int k = 0; k < rows[i].count; ++k) {
            HWND item = GetDlgItem(dlg, rows[i].ids[k]);
            if (item) tops[i] = std::min<int>(tops[i], itemRect(dlg, item).top);
        }
    }
    int bottom = itemRect(dlg, GetDlgItem(dlg, bottomId)).top;
    int hiddenTop[16], hiddenHeight[16], hidden = 0, total = 0;
    for (int i = 0; i < n && i < 16; ++i) {
        if (rows[i].visible) continue;
        int next = i + 1 < n ? tops[i + 1] : bottom;
        hiddenTop[hidden] = tops[i];
        hiddenHeight[hidden] = next - tops[i];
        total += hiddenHeight[hidden];
        ++hidden;
        for (int k = 0; k < rows[i].count; ++k)
            showItem(dlg, rows[i].ids[k], false);
    }
    if (!total) return;
    for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        RECT r = itemRect(dlg, c);
        int shift = 0;
        for (int h = 0; h < hidden; ++h)
            if (r.top >= hiddenTop[h] + hiddenHeight[h]) shift += hiddenHeight[h];
        if (shift)
            SetWindowPos(c, nullptr, r.left, r.top - shift, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    RECT w;
    GetWindowRect(dlg, &w);
    SetWindowPos(dlg, nullptr, 0, 0, w.right - w.left, w.bottom - w.top - total,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

/* Default hooks. */

INT_PTR defaultRunModal(HWND owner, int id, DLGPROC proc, LPARAM param) {
    return DialogBoxParamW(ddResModule(), MAKEINTRESOURCEW(id), owner, proc, param);
}

/* "text - caption" with the application caption (string 936); either one
 * alone when the other is missing. */
void defaultSetTitle(HWND window, int stringId) {
    DiChar text[256], caption[128], title[400];
    bool hasText = ddResLoadString(static_cast<UINT>(stringId), text, 256) > 0;
    bool hasCaption = ddResLoadString(936, caption, 128) > 0;
    if (hasText && hasCaption)
        diFormatPositional(title, DI_COUNTOF(title), u"%s - %s", {text, caption});
    else
        diFormatPositional(title, DI_COUNTOF(title), u"%s", {hasText ? text : caption});
    SetWindowTextW(window, ddW(title));
}

void defaultWarnBox(HWND owner, int stringId) {
    ddMessageBoxWarnId(owner, stringId);
}

/* The trace file's contents go straight into the console's edit control:
 * the console is not yet recorded in DdApp while it initialises. */
void appendToEdit(const DiChar* text, void* edit) {
    HWND e = static_cast<HWND>(edit);
    int end = GetWindowTextLengthW(e);
    SendMessageW(e, EM_SETSEL, end, end);
    SendMessageW(e, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(ddW(text)));
}

void defaultFillConsole(HWND edit) {
    ddTraceLogShowTo(appendToEdit, edit);
}

bool defaultLookupHostName(const DiChar* host, DiChar* out, size_t size) {
    DiChar* name = nullptr;
    if (ddNetLookupHostName(host, &name) < 0 || !name) return false;
    size_t n = textLen(name);
    bool fits = n < size;
    if (fits) memcpy(out, name, (n + 1) * sizeof(DiChar));
    free(name);
    return fits;
}

bool defaultIsWebUrl(const DiChar* url) {
    static const DiChar* const schemes[] = {u"http://", u"https://"};
    for (const DiChar* scheme : schemes) {
        size_t i = 0;
        for (; scheme[i]; ++i) {
            DiChar c = url[i];
            if (c >= u'A' && c <= u'Z') c = static_cast<DiChar>(c - u'A' + u'a');
            if (c != scheme[i]) break;
        }
        if (!scheme[i]) return url[i] && url[i] != u'/' && url[i] != u':';
    }
    return false;
}

const BITMAPINFO* defaultLogo() {
    HMODULE module = ddResModule();
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(105), MAKEINTRESOURCEW(2) /* RT_BITMAP */);
    HGLOBAL data = found ? LoadResource(module, found) : nullptr;
    return data ? static_cast<const BITMAPINFO*>(LockResource(data)) : nullptr;
}

const DdDlgHooks kDefaultHooks = {
    nullptr,               /* initDialog */
    defaultRunModal,       /* runModal */
    nullptr,               /* beginModal */
    nullptr,               /* endModal */
    defaultSetTitle,       /* setTitle */
    defaultWarnBox,        /* warnBox */
    nullptr,               /* objectWindow */
    nullptr,               /* smartCardReadersPresent */
    defaultLookupHostName, /* lookupHostName */
    defaultIsWebUrl,       /* isWebUrl */
    defaultFillConsole,    /* fillConsole */
    defaultLogo,           /* logo */
    ddColorDefaultPalette, /* palette */
    nullptr,               /* routeDescribe */
    nullptr,               /* routeUser */
    nullptr,               /* routeCached */
    nullptr,               /* routeSetCredentials */
    nullptr,               /* routeSetCached */
};

HWND ownerOf(DiObject* object) {
    return object && g_ddDlgHooks.objectWindow ? g_ddDlgHooks.objectWindow(object) : nullptr;
}

/* The focus is placed first: the message box hands it back to the window
 * that had it when the box closes. */
void warn(HWND dlg, int stringId, int focusId) {
    SetFocus(GetDlgItem(dlg, focusId));
    if (g_ddDlgHooks.warnBox) g_ddDlgHooks.warnBox(dlg, stringId);
}

/* ---- About ---------------------------------------------------------- */

struct AboutState {
    const BITMAPINFO* logo;
    HBRUSH white;
};

const void* dibBits(const BITMAPINFO* bi) {
    const BITMAPINFOHEADER& h = bi->bmiHeader;
    DWORD colours = h.biClrUsed;
    if (!colours && h.biBitCount <= 8) colours = 1u << h.biBitCount;
    if (h.biCompression == BI_BITFIELDS && colours == 0) colours = 3;
    return reinterpret_cast<const BYTE*>(bi) + h.biSize + colours * sizeof(RGBQUAD);
}

void aboutInit(HWND dlg, AboutState* st) {
    st->logo = g_ddDlgHooks.logo ? g_ddDlgHooks.logo() : nullptr;
    HWND logo = GetDlgItem(dlg, CTL_LOGO);
    if (st->logo) {
        int w = st->logo->bmiHeader.biWidth;
        int h = abs(st->logo->bmiHeader.biHeight);
        RECT r = itemRect(dlg, logo);
        int grow = w - (r.right - r.left);
        SetWindowPos(logo, nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        if (grow > 0) {
            HWND ok = GetDlgItem(dlg, IDOK);
            RECT o = itemRect(dlg, ok);
            SetWindowPos(ok, nullptr, o.left + grow, o.top, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            RECT d;
            GetWindowRect(dlg, &d);
            SetWindowPos(dlg, nullptr, 0, 0, d.right - d.left + grow, d.bottom - d.top,
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    const DiChar* version =
        g_ddApp->clientInfo.clientVersion ? g_ddApp->clientInfo.clientVersion : kClientVersion;
    setFormattedItem(dlg, CTL_PRODUCT, u"%s %s", {kClientName, version});
    if (g_ddDlgHooks.setTitle) g_ddDlgHooks.setTitle(dlg, 941);
}

void aboutDraw(AboutState* st, const DRAWITEMSTRUCT* di) {
    if (!st->logo && g_ddDlgHooks.logo) st->logo = g_ddDlgHooks.logo();
    if (!st->logo) return;
    HPALETTE pal = g_ddDlgHooks.palette ? g_ddDlgHooks.palette() : nullptr;
    HPALETTE old = nullptr;
    if (pal) {
        old = SelectPalette(di->hDC, pal, FALSE);
        RealizePalette(di->hDC);
    }
    const BITMAPINFOHEADER& h = st->logo->bmiHeader;
    DWORD height = static_cast<DWORD>(abs(h.biHeight));
    SetDIBitsToDevice(di->hDC, 0, 0, static_cast<DWORD>(h.biWidth), height, 0, 0, 0, height,
                      dibBits(st->logo), st->logo, DIB_RGB_COLORS);
    if (pal) SelectPalette(di->hDC, old, FALSE);
}

INT_PTR CALLBACK aboutProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    AboutState* st = stateOf<AboutState>(dlg, msg, lp);
    switch (msg) {
    case WM_INITDIALOG:
        aboutInit(dlg, st);
        finishInit(dlg, DD_DLG_ABOUT);
        return TRUE;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
        SetTextColor(reinterpret_cast<HDC>(wp), RGB(0, 0, 0));
        SetBkColor(reinterpret_cast<HDC>(wp), RGB(255, 255, 255));
        return reinterpret_cast<INT_PTR>(st->white);
    case WM_DRAWITEM:
        if (wp == CTL_LOGO) {
            aboutDraw(st, reinterpret_cast<const DRAWITEMSTRUCT*>(lp));
            return TRUE;
        }
        break;
    case WM_COMMAND:
        if (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL) {
            /* The logo is a resource: nothing to free but our reference. */
            st->logo = nullptr;
            EndDialog(dlg, 1);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

/* ---- Password cache --------------------------------------------------- */

struct CacheState {
    DiChar* url;
    DiChar* user;
    DiChar location[DD_DLG_MAX_URL + 1];
    DiChar name[DD_DLG_MAX_USER + 1];
    DiChar password[DD_DLG_MAX_PASSWORD + 1];
};

void cacheUpdate(HWND dlg) {
    int pw = itemLength(dlg, CTL_PASSWORD), confirm = itemLength(dlg, CTL_CONFIRM);
    enableItem(dlg, IDOK,
               itemLength(dlg, CTL_LOCATION) > 0 && itemLength(dlg, CTL_USER) > 0 && pw > 0 &&
                   confirm > 0 && pw == confirm);
}

bool cacheOk(HWND dlg, CacheState* st) {
    readItem(dlg, CTL_LOCATION, st->location, DD_DLG_MAX_URL);
    if (!g_ddDlgHooks.isWebUrl || !g_ddDlgHooks.isWebUrl(st->location)) {
        warn(dlg, 5, CTL_LOCATION);
        return false;
    }
    /* Both are read to the same limit: a shorter limit on the confirmation
     * would reject every password longer than it. */
    DiChar confirm[DD_DLG_MAX_PASSWORD + 1];
    readItem(dlg, CTL_PASSWORD, st->password, DD_DLG_MAX_PASSWORD);
    readItem(dlg, CTL_CONFIRM, confirm, DD_DLG_MAX_PASSWORD);
    bool same = textEqual(st->password, confirm);
    SecureZeroMemory(confirm, sizeof confirm);
    if (!same) {
        warn(dlg, 19, CTL_PASSWORD);
        return false;
    }
    readItem(dlg, CTL_USER, st->name, DD_DLG_MAX_USER);
    return true;
}

INT_PTR CALLBACK cacheProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    CacheState* st = stateOf<CacheState>(dlg, msg, lp);
    switch (msg) {
    case WM_INITDIALOG: {
        SendDlgItemMessageW(dlg, CTL_LOCATION, CB_LIMITTEXT, DD_DLG_MAX_URL, 0);
        SendDlgItemMessageW(dlg, CTL_USER, EM_LIMITTEXT, DD_DLG_MAX_USER, 0);
        SendDlgItemMessageW(dlg, CTL_PASSWORD, EM_LIMITTEXT, DD_DLG_MAX_PASSWORD, 0);
        SendDlgItemMessageW(dlg, CTL_CONFIRM, EM_LIMITTEXT, DD_DLG_MAX_PASSWORD, 0);
        setItem(dlg, CTL_LOCATION, st->url);
        setItem(dlg, CTL_USER, st->user);
        int focus = !textLen(st->url) ? CTL_LOCATION : !textLen(st->user) ? CTL_USER : CTL_PASSWORD;
        SetFocus(GetDlgItem(dlg, focus));
        cacheUpdate(dlg);
        finishInit(dlg, DD_DLG_PASSWORD_CACHE);
        return FALSE;
    }
    case WM_COMMAND:
        switch (LOWORD(wp)) {
        case IDOK:
            if (cacheOk(dlg, st)) EndDialog(dlg, 1);
            return TRUE;
        case IDCANCEL:
            EndDialog(dlg, 0);
            return TRUE;
        default:
            if (HIWORD(wp) == EN_CHANGE || HIWORD(wp) == CBN_EDITCHANGE ||
                HIWORD(wp) == CBN_SELCHANGE)
                cacheUpdate(dlg);
        }
        break;
    }
    return FALSE;
}

/* ---- Authentication and change of password --------------------------- */

struct LoginState {
    DiLAIPDialog* request;
    DiLAIPField* field0;
    DiLAIPField* card; /* the smart-card preference field, or none */
    uint32_t flags;    /* request flags | field 0's flags */
    uint8_t saveMode;
    bool readers;
    bool changePassword;
    /* Answers, valid after OK. */
    uint16_t method;
    uint8_t preference;
    uint8_t save;
    DiChar user[DD_DLG_MAX_USER + 1];
    DiChar password[DD_DLG_MAX_PASSWORD + 1];
    DiChar password2[DD_DLG_MAX_PASSWORD + 1];
    DiChar domain[DD_DLG_MAX_DOMAIN + 1];
};

void loginPrepare(LoginState* st, DiLAIPDialog* request) {
    st->request = request;
    st->field0 = diLAIPFindField(request, 0);
    DiLAIPField* card = diLAIPFindField(request, 1);
    st->card = card && card->kind == 1 ? card : nullptr;
    st->flags = request->flags | (st->field0 ? st->field0->flags : 0u);
    st->saveMode = st->field0 ? st->field0->byte : 0;
    st->readers = g_ddDlgHooks.smartCardReadersPresent && g_ddDlgHooks.smartCardReadersPresent();
}

void loginTitle(HWND dlg, LoginState* st, int stringId) {
    if ((st->flags & DD_AUTH_TITLE) && st->request->title) {
        SetWindowTextW(dlg, ddW(st->request->title));
        return;
    }
    DiChar host[256], format[256];
    const DiChar* name = st->request->host ? st->request->host : u"";
    if (g_ddDlgHooks.lookupHostName && g_ddDlgHooks.lookupHostName(name, host, DI_COUNTOF(host)))
        name = host;
    loadString(stringId, format, 256);
    DiChar* title = formatTexts(format, {name});
    if (title) SetWindowTextW(dlg, ddW(title));
    free(title);
}

/* The fields and labels that both login dialogs share. */
void loginFill(HWND dlg, LoginState* st, int domainId) {
    const DiLAIPDialog* rq = st->request;
    if (st->flags & DD_AUTH_MESSAGE) setItem(dlg, CTL_MESSAGE, rq->message);
    if ((st->flags & DD_AUTH_USER_LABEL) && rq->userLabel)
        setItem(dlg, CTL_USER_LABEL, rq->userLabel);
    if ((st->flags & DD_AUTH_PASSWORD_LABEL) && rq->passwordLabel)
        setItem(dlg, CTL_PASSWORD_LABEL, rq->passwordLabel);
    if ((st->flags & DD_AUTH_DEFAULT_USER) && st->field0) setItem(dlg, CTL_USER, st->field0->label);
    if ((st->flags & DD_AUTH_DEFAULT_DOMAIN) && st->field0)
        setItem(dlg, domainId, st->field0->second);
    SendDlgItemMessageW(dlg, CTL_USER, EM_LIMITTEXT, DD_DLG_MAX_USER, 0);
    SendDlgItemMessageW(dlg, CTL_PASSWORD, EM_LIMITTEXT, DD_DLG_MAX_PASSWORD, 0);
    SendDlgItemMessageW(dlg, domainId, EM_LIMITTEXT, DD_DLG_MAX_DOMAIN, 0);
    CheckDlgButton(dlg, CTL_SAVE, (st->saveMode & 1) ? BST_CHECKED : BST_UNCHECKED);
}

bool cardChosen(HWND dlg) {
    return checked(dlg, CTL_USE_CARD);
}

void authUpdate(HWND dlg, LoginState* st) {
    bool card = cardChosen(dlg);
    for (int id :
         {CTL_USER_LABEL, CTL_USER, CTL_PASSWORD_LABEL, CTL_PASSWORD, CTL_DOMAIN_LABEL, CTL_DOMAIN})
        enableItem(dlg, id, !card);
    enableItem(dlg, CTL_SAVE, !card && st->saveMode < 2);
    enableItem(dlg, CTL_ALWAYS_CARD, card && st->readers && st->card && !(st->card->byte & 2));
    enableItem(dlg, IDOK, card || !(st->flags & DD_AUTH_ASK_USER) || itemLength(dlg, CTL_USER) > 0);
}

void authFocus(HWND dlg, LoginState* st) {
    if (cardChosen(dlg)) return;
    if ((st->flags & DD_AUTH_ASK_USER) && !itemLength(dlg, CTL_USER))
        SetFocus(GetDlgItem(dlg, CTL_USER));
    else if ((st->flags & DD_AUTH_ASK_PASSWORD) && !itemLength(dlg, CTL_PASSWORD))
        SetFocus(GetDlgItem(dlg, CTL_PASSWORD));
}

void authInit(HWND dlg, LoginState* st) {
    bool cardUsable = st->card && st->readers;
    int method = cardUsable && st->request->lastMethod == 1 ? CTL_USE_CARD : CTL_USE_PASSWORD;
    CheckRadioButton(dlg, CTL_USE_PASSWORD, CTL_USE_CARD, method);
    enableItem(dlg, CTL_USE_CARD, cardUsable);
    CheckDlgButton(dlg, CTL_ALWAYS_CARD,
                   st->card && (st->card->byte & 1) ? BST_CHECKED : BST_UNCHECKED);
    loginTitle(dlg, st, 7);
    loginFill(dlg, st, CTL_DOMAIN);

    uint32_t f = st->flags;
    static const int message[] = {CTL_MESSAGE};
    static const int choice[] = {CTL_METHOD_GROUP, CTL_USE_PASSWORD, CTL_USE_CARD, CTL_CARD_GROUP,
                                 CTL_ALWAYS_CARD};
    static const int user[] = {CTL_USER_LABEL, CTL_USER};
    static const int password[] = {CTL_PASSWORD_LABEL, CTL_PASSWORD};
    static const int domain[] = {CTL_DOMAIN_LABEL, CTL_DOMAIN};
    static const int save[] = {CTL_SAVE};
    const Row rows[] = {
        {message, 1, (f & DD_AUTH_MESSAGE) != 0},
        {choice, 5, (f & DD_AUTH_METHOD_CHOICE) != 0},
        {user, 2, (f & DD_AUTH_ASK_USER) != 0},
        {password, 2, (f & DD_AUTH_ASK_PASSWORD) != 0},
        {domain, 2, (f & DD_AUTH_ASK_DOMAIN) != 0},
        {save, 1, (f & DD_AUTH_ASK_PASSWORD) && (f & DD_AUTH_SAVE_BOX)},
    };
    layoutRows(dlg, rows, DI_COUNTOF(rows), IDOK);
    if ((f & DD_AUTH_METHOD_CHOICE) && !st->card) {
        showItem(dlg, CTL_ALWAYS_CARD, false);
        showItem(dlg, CTL_CARD_GROUP, false);
    }
    authUpdate(dlg, st);
    authFocus(dlg, st);
}

void loginReadCredentials(HWND dlg, LoginState* st, int domainId) {
    readItem(dlg, CTL_USER, st->user, DD_DLG_MAX_USER);
    if (st->flags & DD_AUTH_ASK_DOMAIN) readItem(dlg, domainId, st->domain, DD_DLG_MAX_DOMAIN);
    st->save = st->saveMode == 2 ? 2 : checked(dlg, CTL_SAVE) ? 1 : 0;
}

void authOk(HWND dlg, LoginState* st) {
    if (cardChosen(dlg)) {
        st->method = 1;
        uint8_t pref = st->card ? st->card->byte : 0;
        st->preference = static_cast<uint8_t>(pref & ~1u);
        if (!(pref & 2) && checked(dlg, CTL_ALWAYS_CARD)) st->preference |= 1;
        return;
    }
    st->method = 0;
    readItem(dlg, CTL_PASSWORD, st->password, DD_DLG_MAX_PASSWORD);
    loginReadCredentials(dlg, st, CTL_DOMAIN);
}

INT_PTR CALLBACK authProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    LoginState* st = stateOf<LoginState>(dlg, msg, lp);
    switch (msg) {
    case WM_INITDIALOG:
        authInit(dlg, st);
        finishInit(dlg, DD_DLG_AUTHENTICATE);
        return FALSE;
    case WM_COMMAND:
        switch (LOWORD(wp)) {
        case IDOK:
            if (!IsWindowEnabled(GetDlgItem(dlg, IDOK))) return TRUE;
            authOk(dlg, st);
            EndDialog(dlg, 1);
            return TRUE;
        case IDCANCEL:
            EndDialog(dlg, 0);
            return TRUE;
        case CTL_USE_PASSWORD:
        case CTL_USE_CARD:
            authUpdate(dlg, st);
            authFocus(dlg, st);
            return TRUE;
        case CTL_USER:
            if (HIWORD(wp) == EN_CHANGE) authUpdate(dlg, st);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

void changeUpdate(HWND dlg, LoginState* st) {
    /* A dialog that does not ask the user name cannot require one. */
    enableItem(dlg, IDOK, !(st->flags & DD_AUTH_ASK_USER) || itemLength(dlg, CTL_USER) > 0);
}

void changeInit(HWND dlg, LoginState* st) {
    loginTitle(dlg, st, 18);
    loginFill(dlg, st, CTL_CP_DOMAIN);
    for (int id : {CTL_DOMAIN, CTL_CONFIRM})
        SendDlgItemMessageW(dlg, id, EM_LIMITTEXT, DD_DLG_MAX_PASSWORD, 0);
    enableItem(dlg, CTL_SAVE, st->saveMode < 2);
    uint32_t f = st->flags;
    static const int message[] = {CTL_MESSAGE};
    static const int user[] = {CTL_USER_LABEL, CTL_USER};
    static const int oldPw[] = {CTL_PASSWORD_LABEL, CTL_PASSWORD};
    static const int newPw[] = {CTL_NEW_LABEL, CTL_DOMAIN};
    static const int confirm[] = {CTL_CONFIRM_LABEL, CTL_CONFIRM};
    static const int domain[] = {CTL_CP_DOMAIN_LABEL, CTL_CP_DOMAIN};
    static const int save[] = {CTL_SAVE};
    const Row rows[] = {
        {message, 1, (f & DD_AUTH_MESSAGE) != 0},
        {user, 2, (f & DD_AUTH_ASK_USER) != 0},
        {oldPw, 2, true},
        {newPw, 2, true},
        {confirm, 2, true},
        {domain, 2, (f & DD_AUTH_ASK_DOMAIN) != 0},
        {save, 1, true},
    };
    layoutRows(dlg, rows, DI_COUNTOF(rows), IDOK);
    changeUpdate(dlg, st);
    bool userEmpty = (f & DD_AUTH_ASK_USER) && !itemLength(dlg, CTL_USER);
    SetFocus(GetDlgItem(dlg, userEmpty ? CTL_USER : CTL_PASSWORD));
}

bool changeOk(HWND dlg, LoginState* st) {
    /* New password (control 1003) and confirmation are read to the same
     * limit, so that any password the new field accepts can be confirmed. */
    DiChar confirm[DD_DLG_MAX_PASSWORD + 1];
    readItem(dlg, CTL_DOMAIN, st->password2, DD_DLG_MAX_PASSWORD);
    readItem(dlg, CTL_CONFIRM, confirm, DD_DLG_MAX_PASSWORD);
    bool same = textEqual(st->password2, confirm);
    SecureZeroMemory(confirm, sizeof confirm);
    if (!same) {
        warn(dlg, 712, CTL_DOMAIN);
        return false;
    }
    st->method = 0;
    readItem(dlg, CTL_PASSWORD, st->password, DD_DLG_MAX_PASSWORD);
    loginReadCredentials(dlg, st, CTL_CP_DOMAIN);
    return true;
}

INT_PTR CALLBACK changeProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    LoginState* st = stateOf<LoginState>(dlg, msg, lp);
    switch (msg) {
    case WM_INITDIALOG:
        changeInit(dlg, st);
        finishInit(dlg, DD_DLG_CHANGE_PASSWORD);
        return FALSE;
    case WM_COMMAND:
        switch (LOWORD(wp)) {
        case IDOK:
            if (IsWindowEnabled(GetDlgItem(dlg, IDOK)) && changeOk(dlg, st)) EndDialog(dlg, 1);
            return TRUE;
        case IDCANCEL:
            EndDialog(dlg, 0);
            return TRUE;
        case CTL_USER:
            if (HIWORD(wp) == EN_CHANGE) changeUpdate(dlg, st);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

/* Copies the answers of a confirmed login dialog into the reply. */
void loginReply(LoginState* st, DiLAIPReply* reply) {
    reply->method = st->method;
    if (st->method == 1) {
        reply->kind = st->preference;
        return;
    }
    reply->save = st->save;
    replaceText(&reply->user, st->user);
    replaceText(&reply->password, st->password);
    if (st->changePassword) replaceText(&reply->password2, st->password2);
    if (st->flags & DD_AUTH_ASK_DOMAIN) replaceText(&reply->domain, st->domain);
}

void wipeLogin(LoginState* st) {
    SecureZeroMemory(st->password, sizeof st->password);
    SecureZeroMemory(st->password2, sizeof st->password2);
}

/* ---- Proxy credentials -------------------------------------------------- */

INT_PTR CALLBACK proxyProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    DdDlgProxyAuth* st = stateOf<DdDlgProxyAuth>(dlg, msg, lp);
    switch (msg) {
    case WM_INITDIALOG: {
        DiChar format[512];
        ddResLoadMessage(267, format, 512);
        setFormattedItem(dlg, CTL_PROMPT, format, {st->description ? st->description : u""});
        ddResLoadMessage(268, format, 512);
        SetWindowTextW(dlg, ddW(format));
        SendDlgItemMessageW(dlg, CTL_USER, EM_LIMITTEXT, DD_DLG_MAX_USER, 0);
        SendDlgItemMessageW(dlg, CTL_PASSWORD, EM_LIMITTEXT, DD_DLG_MAX_PASSWORD, 0);
        bool hasUser = st->user[0] != 0;
        if (hasUser) setItem(dlg, CTL_USER, st->user);
        enableItem(dlg, CTL_SAVE_DETAILS, st->allowSave);
        CheckDlgButton(dlg, CTL_SAVE_DETAILS,
                       st->allowSave && st->cached ? BST_CHECKED : BST_UNCHECKED);
        enableItem(dlg, IDOK, hasUser);
        SetFocus(GetDlgItem(dlg, hasUser ? CTL_PASSWORD : CTL_USER));
        finishInit(dlg, DD_DLG_SERVER_AUTH);
        return FALSE;
    }
    case WM_COMMAND:
        switch (LOWORD(wp)) {
        case IDOK:
            if (!IsWindowEnabled(GetDlgItem(dlg, IDOK))) return TRUE;
            readItem(dlg, CTL_USER, st->user, DD_DLG_MAX_USER);
            readItem(dlg, CTL_PASSWORD, st->password, DD_DLG_MAX_PASSWORD);
            if (st->allowSave) st->cached = checked(dlg, CTL_SAVE_DETAILS);
            EndDialog(dlg, 1);
            return TRUE;
        case IDCANCEL:
            EndDialog(dlg, 0);
            return TRUE;
        case CTL_USER:
            if (HIWORD(wp) == EN_CHANGE) enableItem(dlg, IDOK, itemLength(dlg, CTL_USER) > 0);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

/* ---- Certificates --------------------------------------------------- */

struct CertState {
    int dialogId;
    const DiChar* server;
    const DiChar* const* names;
    const DiChar* const* texts;
    uint32_t problems;
    int choice; /* 211: 1, 2 or 3 on accept */
};

struct DetailsState {
    const DiChar* const* names;
    const DiChar* const* texts;
    int count;
};

void detailsShow(HWND dlg, DetailsState* st) {
    LRESULT sel = SendDlgItemMessageW(dlg, CTL_FIELDS, LB_GETCURSEL, 0, 0);
    const DiChar* text = nullptr;
    if (sel != LB_ERR && sel >= 0 && sel < st->count && st->texts) text = st->texts[sel];
    setItem(dlg, CTL_DETAILS, text);
}

INT_PTR CALLBACK detailsProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    DetailsState* st = stateOf<DetailsState>(dlg, msg, lp);
    switch (msg) {
    case WM_INITDIALOG:
        for (int i = 0; i < st->count; ++i)
            SendDlgItemMessageW(dlg, CTL_FIELDS, LB_ADDSTRING, 0,
                                reinterpret_cast<LPARAM>(ddW(st->names[i])));
        SendDlgItemMessageW(dlg, CTL_FIELDS, LB_SETCURSEL, 0, 0);
        detailsShow(dlg, st);
        finishInit(dlg, DD_DLG_CERT_DETAILS);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL) {
            EndDialog(dlg, 1);
            return TRUE;
        }
        if (LOWORD(wp) == CTL_FIELDS && HIWORD(wp) == LBN_SELCHANGE) {
            detailsShow(dlg, st);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

void certInit(HWND dlg, CertState* st) {
    SendDlgItemMessageW(
        dlg, CTL_ICON, STM_SETICON,
        reinterpret_cast<WPARAM>(
            LoadIconW(nullptr, st->dialogId == DD_DLG_UNTRUSTED ? IDI_QUESTION : IDI_WARNING)),
        0);
    const DiChar* server = st->server ? st->server : u"";
    /* The templates name server and client in their own order. */
    if (st->dialogId == DD_DLG_CERT_CHANGED || st->dialogId == DD_DLG_UNTRUSTED) {
        int id = st->dialogId == DD_DLG_CERT_CHANGED ? CTL_CHANGED_TEXT : CTL_FIRST_TEXT;
        DiChar* format = itemTemplate(dlg, id);
        if (format) {
            if (st->dialogId == DD_DLG_CERT_CHANGED)
                setFormattedItem(dlg, id, format, {server, kClientName});
            else
                setFormattedItem(dlg, id, format, {kClientName, server});
        }
        free(format);
        return;
    }
    DiChar list[512];
    ddDlgFormatProblems(st->problems, list, DI_COUNTOF(list));
    setItem(dlg, CTL_PROBLEMS, list);
    if (textLen(server) < 256) {
        DiChar* format = itemTemplate(dlg, CTL_EXAMINE);
        if (format) setFormattedItem(dlg, CTL_EXAMINE, format, {server});
        free(format);
    }
    if (st->dialogId == DD_DLG_SECURITY_LIST)
        CheckRadioButton(dlg, CTL_TEMPORARY, CTL_TEMPORARY, CTL_TEMPORARY);
}

INT_PTR CALLBACK certProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    CertState* st = stateOf<CertState>(dlg, msg, lp);
    switch (msg) {
    case WM_INITDIALOG:
        certInit(dlg, st);
        /* Enter must not accept a certificate: the focus starts on the
         * default button, which declines. */
        SetFocus(GetDlgItem(dlg, IDCANCEL));
        finishInit(dlg, st->dialogId);
        return FALSE;
    case WM_COMMAND:
        switch (LOWORD(wp)) {
        case IDOK:
            st->choice = checked(dlg, CTL_CHAIN) ? 3 : checked(dlg, CTL_PERMANENT) ? 2 : 1;
            EndDialog(dlg, 1);
            return TRUE;
        case IDCANCEL:
            EndDialog(dlg, 0);
            return TRUE;
        case CTL_VIEW:
            ddDlgCertificateDetails(dlg, st->names, st->texts);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

int runCertificate(DiObject* object, int id, const DiChar* server, const DiChar* const* names,
                   const DiChar* const* texts, uint32_t problems) {
    CertState st = {id, server, names, texts, problems, 0};
    INT_PTR r = runModal(ownerOf(object), id, certProc, &st);
    if (r != 1) return 0;
    return id == DD_DLG_SECURITY_LIST ? st.choice : 1;
}

/* ---- Console log ------------------------------------------------------ */

struct ConsoleState {
    int width, height; /* client size last seen */
    HICON icon;
};

ConsoleState s_console;

void moveBy(HWND dlg, int id, int dx, int dy) {
    HWND item = GetDlgItem(dlg, id);
    RECT r = itemRect(dlg, item);
    SetWindowPos(item, nullptr, r.left + dx, r.top + dy, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void consoleResize(HWND dlg, int width, int height) {
    int dx = width - s_console.width, dy = height - s_console.height;
    s_console.width = width;
    s_console.height = height;
    HWND edit = GetDlgItem(dlg, CTL_CONSOLE);
    RECT r = itemRect(dlg, edit);
    SetWindowPos(edit, nullptr, 0, 0, r.right - r.left + dx, r.bottom - r.top + dy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    /* The buttons sit below the edit control: they follow its bottom as
     * well as its right edge, or a taller window would cover them. */
    moveBy(dlg, IDOK, dx, dy);
    moveBy(dlg, IDCANCEL, dx, dy);
    InvalidateRect(dlg, nullptr, TRUE);
}

INT_PTR CALLBACK consoleProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITDIALOG: {
        s_console.icon = static_cast<HICON>(LoadImageW(ddResModule(), MAKEINTRESOURCEW(103),
                                                       IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                       GetSystemMetrics(SM_CYSMICON), 0));
        if (s_console.icon)
            SendMessageW(dlg, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(s_console.icon));
        RECT c;
        GetClientRect(dlg, &c);
        s_console.width = c.right;
        s_console.height = c.bottom;
        if (g_ddDlgHooks.fillConsole) g_ddDlgHooks.fillConsole(GetDlgItem(dlg, CTL_CONSOLE));
        finishInit(dlg, DD_DLG_CONSOLE);
        return TRUE;
    }
    case WM_SIZE:
        if (wp != SIZE_MINIMIZED) consoleResize(dlg, LOWORD(lp), HIWORD(lp));
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wp) == IDOK) {
            PostMessageW(dlg, WM_CLOSE, 0, 0);
            return TRUE;
        }
        if (LOWORD(wp) == IDCANCEL) {
            setItem(dlg, CTL_CONSOLE, nullptr);
            return TRUE;
        }
        break;
    case WM_CLOSE:
        DestroyWindow(dlg);
        return TRUE;
    case WM_DESTROY:
        if (g_ddApp->consoleLog == dlg) g_ddApp->consoleLog = nullptr;
        if (s_console.icon) DestroyIcon(s_console.icon);
        s_console.icon = nullptr;
        return FALSE;
    }
    return FALSE;
}

/* ---- Printing options -------------------------------------------------- */

struct PrintState {
    int mode;
    uint32_t x, y;
};

/* Print needs a mode, and for the custom mode both factors; a mode from
 * outside 0-3 checks no button, and Print waits for the user's choice. */
void printUpdate(HWND dlg) {
    bool custom = checked(dlg, CTL_CUSTOM), chosen = false;
    for (int i = 0; i < 4; ++i)
        chosen = chosen || checked(dlg, CTL_ACTUAL + i);
    for (int id : {CTL_SCALE_X, CTL_SCALE_Y, CTL_X_LABEL, CTL_Y_LABEL})
        enableItem(dlg, id, custom);
    enableItem(dlg, IDOK,
               chosen && (!custom ||
                          (itemLength(dlg, CTL_SCALE_X) > 0 && itemLength(dlg, CTL_SCALE_Y) > 0)));
}

INT_PTR CALLBACK printProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    PrintState* st = stateOf<PrintState>(dlg, msg, lp);
    switch (msg) {
    case WM_INITDIALOG:
        if (st->mode >= 0 && st->mode <= 3)
            CheckRadioButton(dlg, CTL_ACTUAL, CTL_CUSTOM, CTL_ACTUAL + st->mode);
        SetDlgItemInt(dlg, CTL_SCALE_X, st->x, FALSE);
        SetDlgItemInt(dlg, CTL_SCALE_Y, st->y, FALSE);
        printUpdate(dlg);
        finishInit(dlg, DD_DLG_PRINT_OPTIONS);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wp)) {
        case IDOK: {
            if (!IsWindowEnabled(GetDlgItem(dlg, IDOK))) return TRUE;
            int mode = -1;
            for (int i = 0; i < 4; ++i)
                if (checked(dlg, CTL_ACTUAL + i)) mode = i;
            if (mode < 0) return TRUE;
            st->mode = mode;
            if (mode == 3) {
                st->x = GetDlgItemInt(dlg, CTL_SCALE_X, nullptr, FALSE);
                st->y = GetDlgItemInt(dlg, CTL_SCALE_Y, nullptr, FALSE);
            }
            EndDialog(dlg, 1);
            return TRUE;
        }
        case IDCANCEL:
            EndDialog(dlg, 0);
            return TRUE;
        case CTL_SETUP:
            ddDlgPrintSetup(dlg);
            return TRUE;
        default:
            printUpdate(dlg);
        }
        break;
    }
    return FALSE;
}

UINT_PTR CALLBACK printSetupHook(HWND dlg, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_INITDIALOG) finishInit(dlg, DD_DLG_PRINT_SETUP);
    return 0;
}

} // namespace

DdDlgHooks g_ddDlgHooks = kDefaultHooks;

void ddDlgResetHooks() {
    g_ddDlgHooks = kDefaultHooks;
}

void ddDlgAbout(HWND owner) {
    AboutState st = {nullptr, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))};
    runModal(owner, DD_DLG_ABOUT, aboutProc, &st);
}

int ddDlgPasswordCache(DiChar** url, DiChar** user, DiChar** password) {
    CacheState* st = static_cast<CacheState*>(calloc(1, sizeof(CacheState)));
    if (!st) return 0;
    st->url = dupText(url ? *url : nullptr);
    st->user = dupText(user ? *user : nullptr);
    /* The caller's two texts are given up on entry, whatever the answer. */
    for (DiChar** slot : {url, user}) {
        if (slot && *slot && **slot) {
            free(*slot);
            *slot = nullptr;
        }
    }
    int result = runModal(nullptr, DD_DLG_PASSWORD_CACHE, cacheProc, st) == 1 ? 1 : 0;
    if (result) {
        if (url) replaceText(url, st->location);
        if (user) replaceText(user, st->name);
        if (password) replaceText(password, st->password);
    }
    SecureZeroMemory(st->password, sizeof st->password);
    free(st->url);
    free(st->user);
    free(st);
    return result;
}

int ddDlgAuthenticate(HWND owner, DiLAIPDialog* request, DiLAIPReply* reply) {
    if (!request || !reply) return 0;
    LoginState* st = static_cast<LoginState*>(calloc(1, sizeof(LoginState)));
    if (!st) return 0;
    loginPrepare(st, request);
    int result = runModal(owner, DD_DLG_AUTHENTICATE, authProc, st) == 1 ? 1 : 0;
    if (result) loginReply(st, reply);
    wipeLogin(st);
    free(st);
    return result;
}

int ddDlgAuthenticateForObject(DiObject* object, DiLAIPDialog* request, DiLAIPReply* reply) {
    return ddDlgAuthenticate(ownerOf(object), request, reply);
}

int ddDlgChangePassword(HWND owner, DiLAIPDialog* request, DiLAIPReply* reply) {
    if (!request || !reply) return 0;
    LoginState* st = static_cast<LoginState*>(calloc(1, sizeof(LoginState)));
    if (!st) return 0;
    loginPrepare(st, request);
    st->changePassword = true;
    int result = runModal(owner, DD_DLG_CHANGE_PASSWORD, changeProc, st) == 1 ? 1 : 0;
    if (result) {
        loginReply(st, reply);
        if (st->field0) st->field0->byte = st->save;
    }
    wipeLogin(st);
    free(st);
    return result;
}

int ddDlgChangePasswordForObject(DiObject* object, DiLAIPDialog* request, DiLAIPReply* reply) {
    return ddDlgChangePassword(ownerOf(object), request, reply);
}

int ddDlgProxyCredentials(HWND owner, DdDlgProxyAuth* auth) {
    if (!auth) return 0;
    /* Work on a copy: the caller's record changes only on OK. */
    DdDlgProxyAuth* st = static_cast<DdDlgProxyAuth*>(malloc(sizeof(DdDlgProxyAuth)));
    if (!st) return 0;
    *st = *auth;
    st->password[0] = 0;
    int result = runModal(owner, DD_DLG_SERVER_AUTH, proxyProc, st) == 1 ? 1 : 0;
    if (result) *auth = *st;
    SecureZeroMemory(st, sizeof *st);
    free(st);
    return result;
}

int ddDlgServerAuthentication(DiObject* object, DiRoute* route, int allowSave) {
    const DdDlgHooks& h = g_ddDlgHooks;
    if (!route || !h.routeDescribe || !h.routeSetCredentials) return 0;
    DiChar description[512];
    if (!h.routeDescribe(route, description, DI_COUNTOF(description))) description[0] = 0;
    DdDlgProxyAuth* auth = static_cast<DdDlgProxyAuth*>(calloc(1, sizeof(DdDlgProxyAuth)));
    if (!auth) return 0;
    auth->description = description;
    auth->allowSave = allowSave != 0;
    auth->cached = h.routeCached && h.routeCached(route);
    const DiChar* user = h.routeUser ? h.routeUser(route) : nullptr;
    for (size_t i = 0; user && user[i] && i < DD_DLG_MAX_USER; ++i)
        auth->user[i] = user[i];
    HWND owner = ownerOf(object);
    if (owner) owner = GetLastActivePopup(owner);
    int result = ddDlgProxyCredentials(owner, auth);
    if (result) {
        h.routeSetCredentials(route, auth->user, auth->password);
        if (allowSave && h.routeSetCached) h.routeSetCached(route, auth->cached);
    }
    SecureZeroMemory(auth, sizeof *auth);
    free(auth);
    return result;
}

void ddDlgPasswordNotRemembered(DiObject* object, int reason) {
    HWND owner = ownerOf(object);
    if (owner) owner = GetLastActivePopup(owner);
    if (g_ddDlgHooks.warnBox) g_ddDlgHooks.warnBox(owner, reason == DI_CRYPT_TOO_LONG ? 22 : 23);
}

int ddDlgFormatProblems(uint32_t problems, DiChar* out, size_t size) {
    if (!out || !size) return 0;
    out[0] = 0;
    size_t len = 0;
    for (int bit = 0; bit < 4; ++bit) {
        if (!(problems & (1u << bit))) continue;
        DiChar message[256];
        ddResLoadMessage(490 + bit, message, 256);
        DiChar line[300];
        int n = diFormatPositional(line, DI_COUNTOF(line), len ? u"\n- %s" : u"- %s", {message});
        /* Lines are added only while the whole list stays under 512. */
        if (n < 0 || len + n >= 512 || len + n >= size) break;
        memcpy(out + len, line, (n + 1) * sizeof(DiChar));
        len += n;
    }
    return static_cast<int>(len);
}

int ddDlgCertificateChanged(DiObject* object, const DiChar* server, const DiChar* const* names,
                            const DiChar* const* texts) {
    return runCertificate(object, DD_DLG_CERT_CHANGED, server, names, texts, 0);
}

int ddDlgUntrustedFirstConnection(DiObject* object, const DiChar* server,
                                  const DiChar* const* names, const DiChar* const* texts) {
    return runCertificate(object, DD_DLG_UNTRUSTED, server, names, texts, 0);
}

int ddDlgSecurityWarning(DiObject* object, const DiChar* server, const DiChar* const* names,
                         const DiChar* const* texts, uint32_t problems) {
    return runCertificate(object, DD_DLG_SECURITY, server, names, texts, problems);
}

int ddDlgSecurityWarningList(DiObject* object, const DiChar* server, const DiChar* const* names,
                             const DiChar* const* texts, uint32_t problems) {
    return runCertificate(object, DD_DLG_SECURITY_LIST, server, names, texts, problems);
}

void ddDlgCertificateDetails(HWND owner, const DiChar* const* names, const DiChar* const* texts) {
    DetailsState st = {names, texts, 0};
    while (names && names[st.count])
        ++st.count;
    runModal(owner, DD_DLG_CERT_DETAILS, detailsProc, &st);
}

int ddDlgConsoleLog(HWND) {
    HWND dlg = g_ddApp->consoleLog;
    if (dlg && IsWindow(dlg)) {
        SetWindowPos(dlg, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        ShowWindow(dlg, SW_SHOW);
        return 0;
    }
    /* Owned by the desktop, so it outlives any frame window. */
    dlg = CreateDialogParamW(ddResModule(), MAKEINTRESOURCEW(DD_DLG_CONSOLE), nullptr, consoleProc,
                             0);
    g_ddApp->consoleLog = dlg;
    if (dlg) ShowWindow(dlg, SW_SHOW);
    return 0;
}

void ddDlgConsoleAppend(const DiChar* text) {
    HWND dlg = g_ddApp->consoleLog;
    if (!dlg || !text) return;
    appendToEdit(text, GetDlgItem(dlg, CTL_CONSOLE));
}

void ddDlgConsoleDestroy() {
    if (g_ddApp->consoleLog) DestroyWindow(g_ddApp->consoleLog);
    g_ddApp->consoleLog = nullptr;
}

int ddDlgPrintingOptions(HWND owner, int* mode, uint32_t* scaleX, uint32_t* scaleY) {
    if (!mode || !scaleX || !scaleY) return 0;
    PrintState st = {*mode, *scaleX, *scaleY};
    if (runModal(owner, DD_DLG_PRINT_OPTIONS, printProc, &st) != 1) return 0;
    *mode = st.mode;
    if (st.mode == 3) {
        *scaleX = st.x;
        *scaleY = st.y;
    }
    return 1;
}

int ddDlgPrintSetup(HWND owner) {
    PRINTDLGW pd;
    memset(&pd, 0, sizeof pd);
    pd.lStructSize = sizeof pd;
    pd.hwndOwner = owner;
    pd.hDevMode = g_ddApp->printDevMode;
    pd.hDevNames = g_ddApp->printDevNames;
    pd.Flags = PD_PRINTSETUP;
    if (g_ddDlgHooks.initDialog) {
        pd.Flags |= PD_ENABLESETUPHOOK;
        pd.lpfnSetupHook = printSetupHook;
    }
    /* The common dialogs bring in the print spooler, which re-reads the
     * print server's queues: load them only when print set-up is asked for. */
    static HMODULE comdlg = LoadLibraryW(L"comdlg32.dll");
    auto printDlg = comdlg ? reinterpret_cast<decltype(&PrintDlgW)>(
                                 reinterpret_cast<void*>(GetProcAddress(comdlg, "PrintDlgW")))
                           : nullptr;
    if (!printDlg || !printDlg(&pd)) return 0;
    /* The dialog may hand back new handles; the old ones are then ours to
     * free. */
    if (g_ddApp->printDevMode && g_ddApp->printDevMode != pd.hDevMode)
        GlobalFree(g_ddApp->printDevMode);
    if (g_ddApp->printDevNames && g_ddApp->printDevNames != pd.hDevNames)
        GlobalFree(g_ddApp->printDevNames);
    g_ddApp->printDevMode = pd.hDevMode;
    g_ddApp->printDevNames = pd.hDevNames;
    return 1;
}
