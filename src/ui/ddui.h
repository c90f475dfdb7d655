/* Frame windows: the window classes and the main frame window, which is the
 * process's message sink (outpost creation, start and end). */
#ifndef HV_DDUI_H
#define HV_DDUI_H

#include "dd.h"

struct DdDEManager;

/* A display object of type 1 shown in a frame window. */
struct DdFrame {
    DiObject header;
    DdFrame* next; /* frame list */
    DdFrame* prev;
    DiObject* leftPane;
    DdDEManager* manager;
    DiObject* bottomBar;
    DiObject* xwindow;
    uint32_t mode; /* 1 main, 2 full screen, 3 owned, 0 X frame */
    HWND window;
    HPALETTE palette;
    HMENU menu;
    HICON iconLarge;
    HICON iconSmall;
    HWND toolbar;
};

/* Private messages of the main frame window. */
enum {
    DD_MSG_OUTPOST_CREATE = 0x8003,
    DD_MSG_OUTPOST_END = 0x8004,
    DD_MSG_OUTPOST_START = 0x8005,
};

void ddUILoadSettings(void);
void ddUISaveSettings(int saveAll);
/* Registers the three window classes unless told they exist; 0 on failure. */
int ddUIInit(HINSTANCE alreadyRegistered, HINSTANCE instance);
void ddUIShutdown(void);

/* A frame object with its window; a mode-1 frame's window becomes the main
 * window. None when the window cannot be made. */
DdFrame* ddUIFrameCreate(uint32_t mode, DdGC* gc);
int ddUICreateFrameWindow(DdFrame* frame, uint32_t mode);
void ddUIFrameFree(DdFrame* frame);

LRESULT CALLBACK ddUIFrameWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
LRESULT CALLBACK ddUIFrameXWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
LRESULT CALLBACK ddUIViewWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

#endif
