/* Seamless frames of the X engine (session flags 2 bit 0x1): every X top
 * level is a Windows top-level window that the user moves, sizes and
 * focuses. The portable part: the focus hand-over with its 250 ms and
 * 500 ms timers, the system commands sent as "qvl-swm-syscommand", the
 * client information, the client-side move and size (hit test, drag,
 * outline through the device) and direct drawing with the dragged-area
 * exposure. The clipboard calls are the relay's. */
#ifndef HV_DIXSEAMLESS_H
#define HV_DIXSEAMLESS_H

#include "xde/dixde.h"

/* The seamless frame that is the root of the session (frame flags bit 0),
 * or none. */
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

/* "qvl-swm-clientinfo": the monitor count and each monitor's work area. */
void diXSendClientInfo(DiXDisplay* d);
/* "qvl-swm-syscommand" on the frame's window: 61440 with the frame
 * rectangle, 63520 with a and b, any other command alone. */
void SWMSysCommand(DiXFrame* frame, uint32_t command, int32_t a, int32_t b);

/* Focus hand-over. The engine's own shows and hides, and the Windows side
 * for the focus changes its own calls cause, name the frames expected to
 * gain or lose the focus; an expectation lasts 500 ms. None clears. */
void diXSWMExpectGain(DiXDisplay* d, DiXFrame* frame);
void diXSWMExpectAny(DiXDisplay* d);
void diXSWMExpectLoss(DiXDisplay* d, DiXFrame* frame);
/* A focus event (in: 1, out: 0) of a seamless frame: the bookkeeping that
 * precedes the messages. */
void diXSWMFocusEvent(DiXDisplay* d, DiXFrame* frame, int in);
/* A left press on a frame may make it the expected one. */
void diXSWMPress(DiXDisplay* d, DiXFrame* frame);
/* A frame is going: it leaves the hand-over, and a drag of it ends (grab
 * released through slot 25 when its window still exists, outline window
 * destroyed). Safe to call more than once. */
void diXSWMForgetFrame(DiXFrame* frame);
/* The display is closing or going: the seamless timers stop and the
 * hand-over, a drag and direct drawing end without a message. */
void diXSWMFree(DiXDisplay* d);

/* The seamless properties the server sets (operation 1): "qvl-swm-
 * windowinfo" (the named window's three styles, then applied),
 * "qvl-swm-serverinfo" (the frame metrics) and "qvl-swm-focusinfo" (the
 * named window gets the Windows focus). A value is taken only when all
 * its integers parse; other names are ignored. */
void diXSWMPropertyChanged(DiXDisplay* d, const DiChar* window, uint32_t windowLength,
                           const DiChar* name, uint32_t nameLength, const DiChar* value,
                           uint32_t valueLength);

/* Hit test of a screen point against the frame's borders and caption:
 * 0 none, 1 move, 2 top-left, 3 top, 4 top-right, 5 right, 6 bottom-right,
 * 7 bottom, 8 bottom-left, 9 left. */
int diXHitTestFrame(const DiXFrame* frame, int32_t x, int32_t y);
/* Client-side move and size on a frame's pointer events (5, 6, 7 with
 * screen positions): 1 when the event is taken. */
int SWMHitTest(DiXDisplay* d, DiXFrame* frame, const DiEvent* ev);
/* Direct drawing while a frame is dragged: on at once; off after 1000 ms
 * (or earlier, once the dragged area is repainted). */
void diXSetDirectDrawing(DiXDisplay* d, int on);
/* Adds what a drag uncovered or covered to the display-wide exposure
 * region: the old and new rectangles when the frame moved, the changed
 * strips when only its size changed, the whole frame without a rectangle. */
void diXExposeDraggedArea(DiXDisplay* d, DiXFrame* frame, const int32_t* rect);
/* The end of direct drawing (its timer, or every exposure repainted). */
void diXEndDirectDrawing(DiXDisplay* d);
/* Non-zero while a drag of any frame runs (tests). */
int diXSWMDragging();

#endif
