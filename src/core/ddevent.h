/* The event loop of the GUI thread and the shared Windows timer that runs
 * the timer list inside modal loops. */
#ifndef HV_DDEVENT_H
#define HV_DDEVENT_H

#include "dd.h"

/* Runs until the application ends: the wParam of WM_QUIT, or 0. */
int ddEventLoop(void);
/* TIMERPROC of the shared 100 ms Windows timer (id 10). */
void CALLBACK ddTimerProc(HWND window, UINT message, UINT_PTR id, DWORD tick);
/* Set by ddMessageBox while a message box is up: the shared timer then
 * leaves the timer list alone. */
extern int g_ddMessageBoxUp;
/* Id of the shared Windows timer, 0 when none runs. */
UINT_PTR ddTimerSharedId(void);

#endif
