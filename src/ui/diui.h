/* Display objects: the DiObject header's life (reference counting and
 * destruction by type), event delivery with its default handling, and the
 * frame list. */
#ifndef HV_DIUI_H
#define HV_DIUI_H

#include "di.h"

struct DiDEManager;
struct DiXFrame;

/* The portable head of a frame (type 1); the Windows frame record starts
 * with it. */
struct DiFrame {
    DiObject hdr;
    DiFrame* next;
    DiFrame* prev;
    DiDEManager* manager;
    DiXFrame* xframe; /* frame record of an X top-level window, or none */
    uint32_t mode;    /* 1 main, 2 full screen, 3 owned, 0 X frame */
    uint8_t keptForError; /* its launch ended and left it showing the failure */
};

enum : uint32_t { DI_ROP_COPY = 3 };

void diUIObjectInit(DiObject* obj, uint32_t type, int32_t w, int32_t h);
void diUIObjectSetParent(DiObject* obj, DiObject* parent, DdGC* gc);
void diUIObjectSetGC(DiObject* obj, DdGC* gc);
void diUIFrameInit(DiFrame* frame, int32_t w, int32_t h);
/* Takes one reference. */
void diUIObjectRef(DiObject* obj);
/* Drop one reference; the last one destroys the object by type. */
void diUIObjectRelease(DiObject* obj);
void diUIObjectDestroy(DiObject* obj);
/* The object stays alive for the whole handler call; none is ignored. */
void diUIDeliverEvent(DiObject* obj, DiEvent* ev);
void diUIClearArea(DiObject* obj, int32_t x, int32_t y, int32_t w, int32_t h);
void diUISetVirtualSize(DiObject* obj, int32_t w, int32_t h);
void diUISetScrollPos(DiObject* obj, int32_t x, int32_t y);
/* 0, or -1 when memory is short (the old title stays). */
int diUISetTitle(DiObject* obj, const DiChar* text);
void diUIObjectFreeTitle(DiObject* obj);
DiObject* diUIFindTopFrame(DiObject* obj);

DiFrame* diUICreateFrame(uint32_t mode, uint32_t engineType, int32_t w, int32_t h);
void diUIDestroyFrame(DiFrame* frame);
void diUIFrameListAppend(DiFrame* frame);
void diUIFrameListRemove(DiFrame* frame);
DiFrame* diUIFrameListHead();
/* Frames that outlived their failed launch and still show its error. */
uint32_t diUIKeptErrorFrames();
DiObject* diUICreateProgressWindow(DiObject* manager, uint32_t type, int32_t w, int32_t h);

/* The Windows side of display objects and frames. */
DiFrame* ddUIFrameCreate(uint32_t mode, DdGC* gc);
void ddUIFrameFree(DiFrame* frame);
void ddUILayoutFrame(DiFrame* frame);
void ddUIShowObjectWindow(DiObject* obj, int show);
void ddUIUpdateScrollRange(DiObject* obj);
void ddUIUpdateScrollPos(DiObject* obj);
void ddUIDisableIME(DiObject* obj);
/* Clears DdApp's root frame when it is this one. */
void ddUIForgetRoot(DiObject* frame);

/* Services of the X engine. */
void diXDestroyFrameWindow(DiXFrame* xframe);

#endif
