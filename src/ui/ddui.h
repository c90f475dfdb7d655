/* Frame windows: the window classes and the main frame window, which is the
 * process's message sink (outpost creation, start and end). */
#ifndef HV_DDUI_H
#define HV_DDUI_H

#include "dd.h"
#include "ui/diui.h"

/* A display object of type 1 shown in a frame window: the portable frame
 * head (header, frame-list links, manager, X frame, mode), then the
 * Windows side. */
struct DdFrame {
    DiFrame base;
    DiObject* leftPane;
    DiObject* bottomBar;
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

/* ddUIFrameCreate (diui.h) makes a DdFrame with its window; a mode-1
 * frame's window becomes the main window. */
int ddUICreateFrameWindow(DdFrame* frame, uint32_t mode);

LRESULT CALLBACK ddUIFrameWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
LRESULT CALLBACK ddUIFrameXWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
LRESULT CALLBACK ddUIViewWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

#endif
