/* Numbered messages, message boxes and small system services of the core. */
#ifndef HV_DDMESSAGE_H
#define HV_DDMESSAGE_H

#include "dd.h"

#include <string>

struct DdFrame;

/* The "-resource" library, searched before the program for messages and
 * strings (resources/ddres.h sets it); none: the program only. */
extern HMODULE g_ddResourceLibrary;

/* Message N is string resource N + 500 (24 becomes resource 10 on major
 * version 4 or more). Returns the length, 0 when there is no such text. */
int ddLoadMessage(int message, wchar_t* buffer, int size);
/* Exclamation box; holds the timer list while it is up. */
int ddMessageBox(HWND window, const wchar_t* text, const wchar_t* caption);
int ddMessageBoxWarnId(HWND window, int stringId);
bool ddAskYesNoHwnd(HWND window, const wchar_t* text, const wchar_t* caption);
int ddMessageBoxInfoHwnd(HWND window, const wchar_t* text, const wchar_t* caption);

/* Shell: 0, or -1 when the shell reports 32 or less. */
int ddShellOpen(HWND window, const wchar_t* file, const wchar_t* parameters, int show);
int ddShellOpenDefault(const wchar_t* file, const wchar_t* parameters, int unused);
int ddShellRun(int mode, const wchar_t* text, int show);
/* Opens a URL through a temporary redirecting page (deleted after 60 s);
 * 0 or -1. A URL with CR, LF or NUL... is refused (-1). */
int ddOpenUrlInBrowser(const wchar_t* url);
/* The redirecting page's text for a URL, with & " < > escaped; false when
 * the URL holds a CR or LF. */
bool ddTempPageText(const wchar_t* url, std::string* out);
uint32_t ddDeleteTempPage(void* path);
/* Deletes the temporary pages of the temporary folder whose minute is over:
 * a process that ended first never ran their timer, and they hold a
 * session's address with its cookie. */
void ddDeleteStaleTempPages(void);

#endif
