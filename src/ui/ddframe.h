/* Frame and view windows. */
#ifndef HV_DDFRAME_H
#define HV_DDFRAME_H

#include "dd.h"

/* A hidden "QVLViewClass" child of the window of the parent object's
 * graphics context, with a control id; none on failure. */
HWND ddUICreateView(DiObject* parent, int id, int32_t width, int32_t height);

#endif
