/* The Windows side of the X displays' clipboard relay: the service table
 * through which the relay reaches the Windows clipboard bridge, and the
 * render requests the display's view window passes on. */
#ifndef HV_DDXCLIP_H
#define HV_DDXCLIP_H

#include "dd.h"
#include "core/dide.h"

struct DiXDisplay;

/* Installs the relay's service table; start-up calls it. */
void ddXClipInstall();
/* WM_RENDERFORMAT on a display's view window: asks the server for the
 * announced format, or ends the render when the format is not the
 * display's. */
void ddClipRequestRemote(DiObject* obj, UINT format);
/* Asks the server for the data of one announced format; -1 when the
 * display has not announced it. */
int ddClipRequestByFormat(DiObject* obj, UINT format);
/* Answers the server's request for local data with message 32 (empty when
 * the local clipboard has none in that format). */
void ddClipSendLocal(DiXDisplay* d, const DiChar* name, uint32_t nameLength);

#endif
