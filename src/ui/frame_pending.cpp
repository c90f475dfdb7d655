/* Stand-ins for the services declared in frame_pending.h and ui/diui.h that
 * other modules provide. Each is the least the frame and view windows need;
 * the owners' modules replace this file. */
#include "ui/frame_pending.h"

#include "core/ddapp.h"
#include "ui/ddui.h"

#include <stdlib.h>

/* ---- Session, print, dialogs, clipboard ---- */

void diPrintResume(DiChannel*) {}
void diPrintPause(DiChannel*) {}
