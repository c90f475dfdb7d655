/* Display objects: the DiObject header's life (reference counting and
 * destruction by type) and event delivery. */
#ifndef HV_DIUI_H
#define HV_DIUI_H

#include "di.h"

void diUIObjectInit(DiObject* obj, uint32_t type, int32_t w, int32_t h);
void diUIObjectSetParent(DiObject* obj, DiObject* parent, DdGC* gc);
/* Takes one reference. */
void diUIObjectRef(DiObject* obj);
/* Drop one reference; the last one destroys the object by type. */
void diUIObjectRelease(DiObject* obj);
void diUIObjectDestroy(DiObject* obj);
/* The object stays alive for the whole handler call; none is ignored. */
void diUIDeliverEvent(DiObject* obj, DiEvent* ev);

#endif
