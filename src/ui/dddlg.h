/* Dialogs of the client core: About, password cache, login dialogs,
 * proxy credentials, certificate warnings and details, console log,
 * printing options and print set-up.
 *
 * Modal dialogs run a modal message loop that keeps dispatching the
 * thread's other messages (socket events, the frame window's 0x8004 end
 * message). Whatever a caller passes in must therefore stay alive for the
 * whole call; answers are gathered inside the dialog and written into the
 * caller's records only after the loop has ended with OK. */
#ifndef HV_DDDLG_H
#define HV_DDDLG_H

#include "dd.h"
#include "net/dilaip.h"

/* Dialog resources. */
enum {
    DD_DLG_AUTHENTICATE = 107,
    DD_DLG_ABOUT = 131,
    DD_DLG_CONSOLE = 144,
    DD_DLG_CHANGE_PASSWORD = 145,
    DD_DLG_PASSWORD_CACHE = 149,
    DD_DLG_SERVER_AUTH = 188,
    DD_DLG_PRINT_OPTIONS = 202,
    DD_DLG_CERT_CHANGED = 204,
    DD_DLG_UNTRUSTED = 206,
    DD_DLG_SECURITY = 209,
    DD_DLG_SECURITY_LIST = 211,
    DD_DLG_CERT_DETAILS = 212,
    /* Not a resource: the system's print set-up dialog, for the test hook. */
    DD_DLG_PRINT_SETUP = 1,
};

/* Request flags of the login dialogs (request flags | field 0's flags). */
enum {
    DD_AUTH_ASK_USER = 0x0001,
    DD_AUTH_DEFAULT_USER = 0x0002,
    DD_AUTH_ASK_PASSWORD = 0x0004,
    DD_AUTH_ASK_DOMAIN = 0x0008,
    DD_AUTH_DEFAULT_DOMAIN = 0x0010,
    DD_AUTH_MESSAGE = 0x0020,
    DD_AUTH_TITLE = 0x0040,
    DD_AUTH_USER_LABEL = 0x0200,
    DD_AUTH_PASSWORD_LABEL = 0x0400,
    DD_AUTH_SAVE_BOX = 0x0800,
    DD_AUTH_METHOD_CHOICE = 0x1000,
};

/* Text limits (characters, without the terminator). */
enum {
    DD_DLG_MAX_URL = 2048,
    DD_DLG_MAX_USER = 512,
    DD_DLG_MAX_PASSWORD = 128,
    DD_DLG_MAX_DOMAIN = 512,
};

/* Services of other subsystems that the dialogs use, and the test hook.
 * The defaults use what the core offers (warning box, trace file, name
 * service, colour map) and work without the rest (no owner window, no smart
 * cards, a plain URL check, no route access); start-up installs the real
 * ones. */
struct DdDlgHooks {
    /* Called at the end of every dialog's initialisation (also the print
     * set-up's). Tests fill controls and post a button press from here. */
    void (*initDialog)(HWND dialog, int dialogId);
    /* Runs a modal dialog; default DialogBoxParamW. The session's event
     * loop replaces it where the application's own loop must run. */
    INT_PTR (*runModal)(HWND owner, int dialogId, DLGPROC proc, LPARAM param);
    /* Tray menu unavailable while a modal dialog owned by a window is up. */
    void (*beginModal)(HWND owner);
    void (*endModal)();
    /* Sets a dialog's title (and icons) from string resource `stringId`. */
    void (*setTitle)(HWND window, int stringId);
    /* A warning message box with the text of string resource `stringId`. */
    void (*warnBox)(HWND owner, int stringId);
    /* The window of an object's frame, or none. */
    HWND (*objectWindow)(DiObject* object);
    int (*smartCardReadersPresent)();
    /* The host's official name into out; false when the lookup fails. */
    bool (*lookupHostName)(const DiChar* host, DiChar* out, size_t size);
    /* True when url is an absolute http or https URL. */
    bool (*isWebUrl)(const DiChar* url);
    /* Fills the console log's edit control with the trace file. */
    void (*fillConsole)(HWND edit);
    /* The logo bitmap (a packed DIB), or none; default resource 105. */
    const BITMAPINFO* (*logo)();
    /* The palette to draw the logo with, or none. */
    HPALETTE (*palette)();
    /* Route access for the proxy credentials (none: the dialog declines). */
    bool (*routeDescribe)(DiRoute* route, DiChar* out, size_t size);
    const DiChar* (*routeUser)(DiRoute* route);
    bool (*routeCached)(DiRoute* route);
    void (*routeSetCredentials)(DiRoute* route, const DiChar* user, const DiChar* password);
    void (*routeSetCached)(DiRoute* route, bool cached);
};

extern DdDlgHooks g_ddDlgHooks;

/* Restores every hook to its default. */
void ddDlgResetHooks();

/* About box (modal). */
void ddDlgAbout(HWND owner);

/* Password-cache entry, owned by the desktop. The caller's url and user
 * (malloc'd texts or none) are released on entry (freed and set to none
 * when not empty). On OK returns 1 with the three replaced by new malloc'd
 * copies; on cancel returns 0. */
int ddDlgPasswordCache(DiChar** url, DiChar** user, DiChar** password);

/* Authentication (107) and change of password (145) for a login-dialog
 * request. Return 1 when confirmed with OK, the reply then filled (its
 * previous texts freed); 0 on cancel with the reply untouched. The change
 * of password writes the save choice back into field 0 of the request. */
int ddDlgAuthenticate(HWND owner, DiLAIPDialog* request, DiLAIPReply* reply);
int ddDlgAuthenticateForObject(DiObject* object, DiLAIPDialog* request, DiLAIPReply* reply);
int ddDlgChangePassword(HWND owner, DiLAIPDialog* request, DiLAIPReply* reply);
int ddDlgChangePasswordForObject(DiObject* object, DiLAIPDialog* request, DiLAIPReply* reply);

/* Proxy credentials (188): the record the dialog reads and fills. */
struct DdDlgProxyAuth {
    const DiChar* description; /* the route's description for the prompt */
    DiChar user[DD_DLG_MAX_USER + 1];
    DiChar password[DD_DLG_MAX_PASSWORD + 1];
    bool cached; /* keep the credentials in the password cache */
    bool allowSave;
};
/* 1 on OK with user, password and (when saving is allowed) cached set. */
int ddDlgProxyCredentials(HWND owner, DdDlgProxyAuth* auth);
/* The same for a route, over the last active pop-up of the object's frame. */
int ddDlgServerAuthentication(DiObject* object, DiRoute* route, int allowSave);

/* Certificate warnings. names and texts are parallel arrays, names ending
 * with a none entry. */
int ddDlgCertificateChanged(DiObject* object, const DiChar* server, const DiChar* const* names,
                            const DiChar* const* texts);
int ddDlgUntrustedFirstConnection(DiObject* object, const DiChar* server,
                                  const DiChar* const* names, const DiChar* const* texts);
int ddDlgSecurityWarning(DiObject* object, const DiChar* server, const DiChar* const* names,
                         const DiChar* const* texts, uint32_t problems);
/* 0 reject, 1 accept for this session, 2 permanently, 3 with the chain. */
int ddDlgSecurityWarningList(DiObject* object, const DiChar* server, const DiChar* const* names,
                             const DiChar* const* texts, uint32_t problems);
void ddDlgCertificateDetails(HWND owner, const DiChar* const* names, const DiChar* const* texts);

/* The problem list of the security warnings: "- " and the message of each
 * set bit (0 host name, 1 not yet valid, 2 expired, 3 unknown issuer), one
 * line each, kept under 512 characters. Returns its length. */
int ddDlgFormatProblems(uint32_t problems, DiChar* out, size_t size);

/* Console log: one modeless window owned by the desktop. */
int ddDlgConsoleLog(HWND owner);
void ddDlgConsoleAppend(const DiChar* text);
inline void ddDlgConsoleAppend(const wchar_t* text) {
    ddDlgConsoleAppend(ddD(text));
}
void ddDlgConsoleDestroy();

/* Printing options: mode 0 actual size, 1 best fit, 2 stretch to page,
 * 3 custom with the two scale factors. In-out; non-zero on Print. */
int ddDlgPrintingOptions(HWND owner, int* mode, uint32_t* scaleX, uint32_t* scaleY);

/* The system's print set-up, from and into the settings kept in DdApp.
 * Non-zero on OK; a failure keeps the previous settings. */
int ddDlgPrintSetup(HWND owner);

#endif
