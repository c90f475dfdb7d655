/* The X display's Edit menu (session clipboard, copy and print of screen
 * areas, print set-up), its system-menu entry and the small services of
 * its device table (sound, time-zone and keyboard descriptions). */
#ifndef HV_DDXEDIT_H
#define HV_DDXEDIT_H

#include "xde/ddxde.h"

/* Menu commands of the display's view (frame none) or of one of its frames
 * (event 17, command in word 1). Returns 1: the command is consumed. */
int ddXDEMenuCommand(DiXDisplay* d, DiObject* frame, DiEvent* ev);
/* Copy (40062, 40063) or print (40065, 40066) a dragged rectangle or the
 * whole window of the frame, or of the display when frame is none. */
void ddXDECopyOrPrintArea(DiXDisplay* d, DiObject* frame, uint32_t command);
/* The view is closing (SC_CLOSE): the root window lets go of the view's
 * window and device context at once, so no repaint, timer or request that
 * comes later reaches them; the context keeps its record (the view frees it)
 * but draws nowhere. */
void ddXDEForgetRootWindow(DiXDisplay* d);
/* The Edit pop-up in the system menu of the display's top frame when that
 * is not the main frame; greyed by display flags 0x200 and 0x8000. */
void ddXDEAddSystemMenu(DiXDisplay* d);

/* Device-table services. */
void ddXSessionStarted(DiXDisplay* d);
void ddXPlaySound(DiXDisplay* d, const DiChar* alias);
void ddXBell(DiXDisplay* d);
DdTimeZoneInfo* ddXTimeZone(DiXDisplay* d);
void ddXFreeTimeZone(DdTimeZoneInfo* info);
DdKeyboardInfo* ddXKeyboard(DiXDisplay* d);
void ddXFreeKeyboard(DdKeyboardInfo* info);

#endif
