/* Session services that start-up, the event loop and shut-down call: the
 * profile store, the saved-session early paths and the server outpost's
 * lifetime. The outpost itself comes with the session subsystem; until then
 * ddSOCreate makes an empty outpost that cannot connect. */
#ifndef HV_DDSO_H
#define HV_DDSO_H

#include "dd.h"

void ddProfStoreCreate(void);
void ddProfStoreDestroy(void);
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
void ddSODestroy(void);
void ddSOOnStartRequest(void);
/* The exit command: ends the session and posts 0x8004 to the main window. */
void diSOUIExit(void);
/* True when the options property sheet consumed the message. */
bool ddSOIsPropertySheetMessage(MSG* msg);
void ddSOSetWindowIcons(HWND window);
/* Sets the window's title to string resource stringId and the application
 * caption joined as "%s - %s". */
void ddSOSetWindowTitle(HWND window, int stringId);
/* The CA certificate file named by the "-ca" launch option, or none. */
const DiChar* diSOGetCAFile(void);
/* The session's last connection error (diSOSetLastError), or none. */
const DiChar* diSOGetLastError(void);
/* True while an outpost exists (tests). */
bool ddSOExists(void);

#endif
