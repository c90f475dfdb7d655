/* Display objects: frames and the frame list. */
#ifndef HV_DIUI_H
#define HV_DIUI_H

#include "di.h"

/* A frame of the given window mode with a display-engine manager of the
 * engine type; none on failure. */
DiObject* diUICreateFrame(uint32_t mode, uint32_t engineType, int32_t width, int32_t height);
void diUIDestroyFrame(DiObject* frame);
/* The frame list, in creation order. */
DiObject* diUIFrameListFirst(void);
DiObject* diUIFrameListNext(DiObject* frame);

#endif
