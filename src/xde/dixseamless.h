/* Calls from the X engine into the seamless-window layer. Until that
 * layer exists, src/xde/seamless_pending.cpp answers each as a display
 * without seamless windows would. */
#ifndef HV_DIXSEAMLESS_H
#define HV_DIXSEAMLESS_H

#include "xde/dixde.h"

/* The seamless frame that is the root of the session, or none. */
DiXFrame* diXFindSeamlessRoot(DiXDisplay* d);
/* Announces the local clipboard to the server when another program owns
 * it (force: one "STRING" record when it lists nothing). The clipboard
 * relay (dixclip.cpp) provides it. */
void diXAnnounceLocalClipboard(DiXDisplay* d, int force);
/* Seamless session start: centre the scroll position, send the client
 * information. */
void diXSWMSessionStarted(DiXDisplay* d);
/* The clipboard relay (dixclip.cpp) forgets a display that is going. */
void diXForgetClipboardOwner(DiXDisplay* d);

#endif
