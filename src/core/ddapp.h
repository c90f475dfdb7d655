/* The process entry and the one application structure. */
#ifndef HV_DDAPP_H
#define HV_DDAPP_H

#include "dd.h"

/* Registered window messages that the frame window uses. */
extern UINT g_ddMsgWebtopLaunch;   /* "QVLWebtopLaunch" */
extern UINT g_ddMsgWebtopLoggedIn; /* "QVLWebtopLoggedIn" */

/* The body of WinMain: returns the process exit code. */
int ddAppMain(HINSTANCE instance, HINSTANCE prevInstance, LPSTR cmdLine, int show);

#endif
