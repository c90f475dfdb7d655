/* Services of the frame and view windows that the display-engine manager
 * calls, declared with their owner's names until that module is on the main
 * line; its header replaces this one. */
#ifndef HV_GFX_PENDING_H
#define HV_GFX_PENDING_H

#include "dd.h"

/* A child view window (the view window class) of the parent object's window
 * with the control id and size; NULL when it cannot be made. */
HWND ddUICreateView(DiObject* parent, int id, int32_t width, int32_t height);

#endif
