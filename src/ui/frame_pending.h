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
DiChannel* diSOGetPrintChannel(void);

/* Print data channel. */
void diPrintResume(DiChannel* ch);
void diPrintPause(DiChannel* ch);

#include "xde/ddxclip.h"

#endif
