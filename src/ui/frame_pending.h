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
#include "session/ddso.h"
#include "ui/ddcolor.h"
#include "ui/dddlg.h"
#include "ui/ddgdi.h"
#include "ui/ddmultimon.h"
#include "ui/diui.h"

/* Session services. */
void ddSOTrayNotify(HWND hwnd, WPARAM wp, LPARAM lp);
/* The tray menu is unavailable while a modal dialog owned by a window is up. */
void ddSOTrayBeginModal(HWND owner);
void ddSOTrayEndModal(void);
DiChannel* diSOGetPrintChannel(void);

/* Print data channel. */
#include "devices/dipaip.h"

#include "xde/ddxclip.h"

#endif
