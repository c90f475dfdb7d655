/* Session services that start-up, the event loop and shut-down call: the
 * profile store, the saved-session early paths and the server outpost's
 * lifetime. The outpost itself comes with the session subsystem; until then
 * ddSOCreate makes an empty outpost that cannot connect. */
#ifndef HV_DDSO_H
#define HV_DDSO_H

#include "dd.h"

void ddProfStoreCreate(void);
void ddProfStoreDestroy(void);
/* Start-up: removes from the store's folder (and its icons) what runs that
 * ended left behind: their settings files, session certificate files and
 * the temporaries of saves they did not finish. */
void ddProfRemoveEndedRuns(void);
/* The profile file path ("...\Vek\VHVN\profile.xml" in the user's local
 * application-data folder), or the one set instead; an empty path set keeps
 * the settings in memory only. */
const wchar_t* ddProfStorePath(void);
void ddProfStoreSetPath(const wchar_t* path);
/* Reads a whole file into a new NUL-terminated buffer (free()); false on a
 * read error. */
bool diProfReadWholeFile(const wchar_t* path, char** text, size_t* length, bool skipBom);
/* The two early paths of start-up. They run before start-up opens Windows
 * Sockets: whatever network work they come to do must start it themselves.
 * Launch configuration: start-up ends with 0 whatever it returns. */
int ddProfLaunchConfig(const DiChar* file, const DiChar* objectName);
/* The saved session of the current profile ("-profile") handed to the
 * start-up request handler with the object name: 0 done, 1 the request
 * failed, 2 no session cookie, 3 no usable settings (no login URL). */
int ddProfLaunchObject(const DiChar* objectName);

/* 1 on success (or when it exists), 0 when initialisation or the immediate
 * start fails. */
int ddSOCreate(void);
/* 1 when the outpost is gone; 0 when one of its boxes holds the end. */
int ddSODestroy(void);
void ddSOOnStartRequest(void);
/* The exit command: ends the session and posts 0x8004 to the main window. */
void diSOUIExit(void);
/* True when the options property sheet consumed the message. */
bool ddSOIsPropertySheetMessage(MSG* msg);
void ddSOSetWindowIcons(HWND window);
/* Sets the window's title to string resource stringId and the application
 * caption joined as "%s - %s". */
void ddSOSetWindowTitle(HWND window, int stringId);
/* The program's icons and the title "text - caption" on a window. */
void ddSOSetWindowIconsAndTitle(HWND window, int stringId);
/* A resource's bytes: the "-resource" library first, then the program. */
const void* ddSOLoadResource(const wchar_t* name, const wchar_t* type);
/* Shows the event-log window (created on first showing) in front. */
void ddSOShowEventLog(void);

/* Opens a fresh connection-information window (the previous one goes). */
void ddSOShowConnectionInfo(void);
void ddSOConnectionInfoDestroy(void);
/* The local X display the outpost found ("host:0"), or none. */
const DiChar* ddSOLocalXDisplay(void);

/* The options sheet: shown (created when closed), closed with the outpost;
 * the sheet itself for tests, or none. */
void ddSOShowOptions(void);
void ddSOCloseOptions(void);
HWND ddSOOptionsSheet(void);

/* The session menu model and the tray icon, made and ended with the
 * outpost: the icon appears at its start, follows its connection state and
 * the user information, and goes at its stop. */
void ddSOUICreate(void);
void ddSOUIDestroy(void);
void ddSOTrayStart(void);
void ddSOTrayStop(void);
void ddSOTrayRefresh(void);
/* The server's verbs: a component's state by word ("enabled", "disabled",
 * "hidden"), and running a component; false for an unknown verb or word. */
bool ddSOSetUIComponent(const DiChar* verb, const DiChar* stateWord);
bool ddSOTriggerUIComponent(const DiChar* verb);
/* The frame's tray callback (0x8001): a right click opens the menu. */
void ddSOTrayNotify(HWND hwnd, WPARAM wp, LPARAM lp);
/* Modal dialogs nest; the tray menu is unavailable until the last one
 * closes, and a click meanwhile brings the innermost owner to the front. */
void ddSOTrayBeginModal(HWND owner);
void ddSOTrayEndModal(void);
void ddSOTrayShowMenu(void);
/* A launch's frame shown inside the helper's (browser) window. The helper
 * window is refused unless it is a live window other than the frame and
 * its children; a failed re-parenting restores both windows' styles. */
bool ddSOEmbedWindow(HWND helper, HWND frame);
/* Tests: whether the icon is shown. */
bool ddSOTrayIconShown(void);
/* The CA certificate file named by the "-ca" launch option, or none. */
const DiChar* diSOGetCAFile(void);
/* The session's last connection error (diSOSetLastError), or none. */
const DiChar* diSOGetLastError(void);
/* True while an outpost exists (tests). */
bool ddSOExists(void);

#endif
