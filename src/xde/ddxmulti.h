/* Multi-window mode on Windows: every X top-level window is a Windows frame
 * of its own. Mapping, configuring, restacking and focusing those frames,
 * the stacking check that tells the engine of z-order changes the user
 * made, pointer grabs, and the hooks through which the frame windows read
 * their X window. */
#ifndef HV_DDXMULTI_H
#define HV_DDXMULTI_H

#include "xde/ddxde.h"

/* Device slots 18, 19, 23, 25 and 30 of multi-window frames. */
void ddXMapWindow(DiXDisplay* d, DiXWindow* w, uint32_t mode);
void ddXConfigureWindow(DiXDisplay* d, DiXWindow* w, int32_t x, int32_t y, int32_t width,
                        int32_t height);
void ddXRedrawWindow(DiXDisplay* d, DiXWindow* w);
void ddXGrabPointer(DiXDisplay* d, DiXWindow* w, uint32_t flags);
void ddXRestackWindow(DiXDisplay* d, DiXWindow* w, uint32_t mode, DiXWindow* sibling);

/* Gives the frame the keyboard focus, unless another display holds it. */
void ddXSetFocus(DiXDisplay* d, DiXFrame* f);

/* Brings a frame to the foreground when this process's window (or none)
 * holds it, joining the holder thread's input if need be. Another
 * program's foreground window is never taken: keys the user types there
 * would go to the server. The frame's taskbar button flashes instead, and
 * false says so (the keyboard focus is left where it is). */
bool ddXTakeForeground(HWND frame);

/* Arms the display's stacking check (100 ms, once while pending). */
void ddXScheduleStackCheck(DiXFrame* f);
/* Walks the z-order from the bottom, compares the display's frames with
 * the order last seen and sends the moved ones event 22. */
void ddXStackCheck(DiXDisplay* d);
/* The window leaves the order last seen (its frame is going). */
void ddXStackForget(DiXDisplay* d, uint32_t id);

/* Events of a frame before the engine's window handler; non-zero when the
 * event is handled here. */
int ddXMultiFrameEvent(DiXFrame* f, DiEvent* ev);

/* The frame layer's hooks of multi-window frames (start-up installs them). */
void ddXMultiInstallHooks();
/* The display is going: its pending stacking check with it. */
void ddXMultiRelease(DiXDisplay* d);

#endif
