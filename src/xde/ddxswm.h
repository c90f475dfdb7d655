/* Seamless windows on the Windows side: every X top-level window of a
 * seamless display is a Windows top-level window of its own. This module
 * keeps those windows on the taskbar, applies the window style the server
 * asks for, draws the outline of a client-side move or resize, and gives
 * the display the seamless forms of the window slots (map, configure,
 * restack, frame creation and destruction), which count the engine's own
 * Windows calls so that the window messages they cause can be told from
 * the user's. */
#ifndef HV_DDXSWM_H
#define HV_DDXSWM_H

#include "dd.h"

#include "xde/dixde.h"

/* Process-wide state: the shell's taskbar list, the outline's checkerboard
 * brush and the outline window class. Init returns whether the class was
 * registered; Term gives everything back. */
int ddSWMInit(void);
void ddSWMTerm(void);

/* Adds (show non-zero) or deletes the window's taskbar button; nothing
 * without a taskbar list. */
void ddSWMTaskbarShow(HWND window, int show);
/* Tests: the taskbar calls go to the recorder instead (none: the list). */
void ddSWMSetTaskbarRecorder(void (*recorder)(HWND window, int show));

/* Applies the frame's wanted style and extended style: the caption-button
 * bits (re-creating the taskbar button when they change on a visible
 * window that keeps one), the topmost band and the application-window bit. */
void ddSWMUpdateStyle(DiXFrame* frame);

/* The outline of a client-side drag: a topmost, colour-keyed layered
 * window over the virtual screen, on which the outline is drawn inverted,
 * so that drawing the same rectangle again erases it. Create returns
 * whether the window exists. */
int ddSWMCreateDragWindow(void);
void ddSWMDestroyDragWindow(void);
/* rect: {x, y, w, h} in screen coordinates. */
void ddSWMDrawDragOutline(DiXFrame* frame, const int32_t rect[4]);
/* The outline window, or none (tests). */
HWND ddSWMDragWindow(void);
/* The colour that the outline window shows as transparent. */
enum : uint32_t { DD_SWM_KEY_COLOUR = 0xFEFFFF }; /* COLORREF of RGB(255, 255, 254) */

/* Sends the seamless client information (the monitors' work areas). */
void ddSWMSendClientInfo(DiXDisplay* d);

/* Non-zero for a display in seamless mode. */
int ddXSWMActive(const DiXDisplay* d);
/* The window a window of the display goes behind to lie just above the
 * display's highest other window: the window above the first visible window
 * of the display met from the top of the z-order, `skip` left out of the
 * walk.
 * None when nothing lies above (the window then goes to the top). */
HWND ddXFindInsertAfterWindow(DiXDisplay* d, HWND skip);

/* Own-change counter: raised, in seamless mode, around every Windows call
 * the engine makes on its windows. */
struct DdXOwnChange {
    explicit DdXOwnChange(DiXDisplay* d);
    ~DdXOwnChange();
    DdXOwnChange(const DdXOwnChange&) = delete;
    DdXOwnChange& operator=(const DdXOwnChange&) = delete;

private:
    DiXDisplay* d_;
};
/* The display's own-change count (0: messages now come from the user). */
uint32_t ddXOwnChangeCount(const DiXDisplay* d);

/* The device table of seamless displays: the display's ordinary table with
 * the seamless window slots. */
const DdXDeviceVector* ddXSWMDeviceVector(void);
/* At the session start: a seamless session takes the seamless table. */
void ddXSWMSessionStarted(DiXDisplay* d);
/* Installs the seamless slots of g_ddXHooks; start-up calls it. */
void ddXSWMInstallHooks(void);

/* The server's sizing border thickness, horizontal and vertical. */
void ddXSWMBorderSize(const DiXDisplay* d, int32_t* horizontal, int32_t* vertical);

#endif
