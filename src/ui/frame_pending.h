/* Services of other modules that the frame and view windows call, declared
 * with their owners' names until those modules are on the main line; the
 * bodies in frame_pending.cpp are the least the windows need. When an owner
 * lands, its header replaces the matching block here. */
#ifndef HV_FRAME_PENDING_H
#define HV_FRAME_PENDING_H

#include "dd.h"
#include "core/ddsetting.h"
#include "core/dide.h"
#include "core/ditimer.h"
#include "net/ddnet.h"
#include "ui/ddcolor.h"
#include "ui/ddgdi.h"
#include "ui/ddmultimon.h"
#include "ui/diui.h"

/* Session services. */
int ddSOCreate(void);
void ddSODestroy(void);
void ddSOOnStartRequest(void);
void diSOUIExit(void);
void ddSOSetWindowIcons(HWND window);
void ddSOTrayNotify(HWND hwnd, WPARAM wp, LPARAM lp);
DiChannel* diSOGetPrintChannel(void);

/* Print data channel. */
void diPrintResume(DiChannel* ch);
void diPrintPause(DiChannel* ch);

/* Dialogs. */
void ddDlgAbout(HWND owner);
void ddDlgConsoleLog(HWND owner);
void ddDlgConsoleLogClose(void);

/* Clipboard bridge: fetch a format from the session for delayed rendering. */
void ddClipRequestRemote(DiObject* obj, UINT format);

/* Application settings and monitors. */
void diAppLoadSettings(struct DdApp* app);
void diAppSaveSettings(struct DdApp* app);
void ddSettingSetInt(const wchar_t* name, int32_t value);

/* Test seams of the stand-ins: the outpost start. */
extern int (*g_framePendingSOCreate)(void);
extern void (*g_framePendingSODestroy)(void);
extern void (*g_framePendingSOUIExit)(void);

#endif
