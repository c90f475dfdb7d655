/* Frame and view windows: the three window classes, frame windows (main,
 * full screen, owned, X top level) with their child views, layout, scroll
 * bars, view origin, fit and raise, the frame window procedures, and the view
 * window procedure with keyboard, pointer and focus input. */
#ifndef HV_DDUI_H
#define HV_DDUI_H

#include "dd.h"
#include "ui/diui.h"

/* A frame: the portable frame head, then the Windows side. */
struct DdFrame {
    DiFrame base;
    DiObject* leftPane;  /* optional; its width word gives the pane width */
    DiObject* bottomBar; /* optional; its height word gives the bar height */
    DiObject* xwindow;   /* the X top-level window shown, or none */
    HWND window;
    HPALETTE palette; /* realised in the frame, 0 none */
    HMENU menu;
    HICON iconLarge;
    HICON iconSmall;
    HWND toolbar; /* sent TB_AUTOSIZE on resize, or 0 */
};

/* Private messages of the main frame window. */
enum : UINT {
    DD_MSG_TRAY = 0x8001,
    DD_MSG_OUTPOST_CREATE = 0x8003,
    DD_MSG_OUTPOST_END = 0x8004,
    DD_MSG_OUTPOST_START = 0x8005,
};

/* Control ids of view windows. */
enum : int { DD_VIEW_ID_PROGRESS = 7, DD_VIEW_ID_MANAGER = 9 };

/* The outpost's lifetime as the main window drives it: the session's
 * calls, replaceable by tests. */
struct DdUIOutpostCalls {
    int (*create)(void); /* 0 when creation or the immediate start failed */
    int (*destroy)(void); /* 0 when a box of the outpost holds the end */
    void (*exit)(void); /* ends the session; posts 0x8004 */
};
extern DdUIOutpostCalls g_ddUIOutpost;

/* Start and end. */
void ddUILoadSettings(void);
void ddUISaveSettings(int saveAll);
/* Registers the three classes unless they exist; 0 when one fails. */
int ddUIInit(HINSTANCE alreadyRegistered, HINSTANCE instance);
void ddUIShutdown(void);

/* Saved main-window geometry; 0x80000000 asks for the default. */
struct DdUIGeometry {
    int32_t x, y, width, height;
};
extern DdUIGeometry g_ddUIMainGeometry;
/* Keeps one axis of a saved geometry on a screen of `screen` pixels. */
void ddUIClampAxis(int32_t* pos, int32_t* size, int32_t screen);

/* Frames. */
int ddUICreateFrameWindow(DdFrame* frame, uint32_t mode);
/* x, y, width, height are in-out. */
DdFrame* ddUICreateFrameX(DiObject* engine, DdGC* gc, uint32_t decorations, DiObject* ownerX,
                          int32_t* x, int32_t* y, int32_t* width, int32_t* height,
                          uint32_t extraFlags);
void ddUIFitFrameToContent(DiFrame* frame);
/* Full-screen placement of a view along one axis: centred when the engine
 * is smaller than the screen, else at 0. */
int32_t ddUICentreOffset(int32_t screen, int32_t virtualSize, int32_t viewSize);
void ddUIRaiseFrame(DiFrame* frame);
/* Keeps the title on the object and shows it on the object's window. */
void ddUISetFrameTitle(DiObject* obj, const DiChar* title);
void ddUISetFramePalette(DiFrame* frame, HPALETTE palette);
/* The monitor work area an X frame of this rectangle is kept in: that of the
 * monitor with the largest share of the rectangle, else the primary's. */
struct DdUIMonitorArea {
    RECT monitor;
    RECT work;
};
const RECT* ddUIPickWorkArea(const RECT* window, const DdUIMonitorArea* monitors, int count,
                             const RECT* primaryWork);
void ddUIFrameXWorkArea(const RECT* window, RECT* work);

/* Views and lookups. */
HWND ddUICreateView(DiObject* parent, int id, int32_t width, int32_t height);
HWND ddUIObjectWindow(DiObject* obj);
DdFrame* ddUIFindFrame(HWND hwnd);
DiObject* ddUIFindEngineByWindow(HWND hwnd);
int ddUIIsXView(HWND hwnd);
/* The engine of a frame (the manager's channel), or none. */
DiObject* ddUIFrameEngine(DdFrame* frame);
void ddUIScrollToPoint(DiObject* obj, int32_t x, int32_t y);
void ddUIGetScrollBarSize(HWND hwnd, SIZE* size);
void ddUIInvalidateTree(HWND hwnd);
void ddUIPlaySound(const wchar_t* alias);
void ddUIPlayMessageSound(int messageNumber);
/* The printing scale kept for the process ("PrintScale", "PrintScaleX",
 * "PrintScaleY"): mode 0-3 and the custom factors. */
void ddUIGetPrintScale(int* mode, uint32_t* scaleX, uint32_t* scaleY);
void ddUISetPrintScale(int mode, uint32_t scaleX, uint32_t scaleY);
void ddUINotifyWebtop(WPARAM code);

/* Socket, copy-data and command handling shared by the window procedures. */
void ddUIOnSocketMessage(HWND hwnd, WPARAM socket, UINT event);
int ddUIOnCopyData(HWND hwnd, HWND sender, const COPYDATASTRUCT* data);
void ddUIFrameSysCommand(DdFrame* frame, DiObject* engine, UINT id);

/* Scaling menu. */
void ddUIAddScalingMenu(DiFrame* frame, int mode);
void ddUISetScalingMode(DiFrame* frame, DiObject* engine, int mode);
void ddUIToggleScaling(DiFrame* frame, DiObject* engine);
void ddUIAddFrameXSystemMenu(HWND hwnd, int clipboardAllowed, int copyPrintDenied);

LRESULT CALLBACK ddUIFrameWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
LRESULT CALLBACK ddUIFrameXWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
LRESULT CALLBACK ddUIViewWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

/* View input (ddview.cpp). */
enum : uint32_t {
    DD_MASK_SHIFT = 0x0001,
    DD_MASK_CTRL = 0x0002,
    DD_MASK_ALT = 0x0004,
    DD_MASK_RALT_FOCUS = 0x0008,
    DD_MASK_LBUTTON = 0x0010,
    DD_MASK_MBUTTON = 0x0020,
    DD_MASK_RBUTTON = 0x0040,
    DD_MASK_RSHIFT = 0x0080,
    DD_MASK_RCTRL = 0x0100,
    DD_MASK_RALT = 0x0200,
    DD_MASK_CAPS = 0x1000,
    DD_MASK_NUM = 0x2000,
    DD_MASK_SCROLL = 0x4000,
    DD_MASK_KANA = 0x8000,
};
extern uint32_t g_ddUIModMask;
/* The two configurable button keys (virtual-key codes, 0 none). */
extern uint32_t g_ddUIButtonKey[2];
void ddUIReadModMask(void);
void ddUIUpdateModMask(uint32_t vk, int down);
void ddUIViewKeyEvent(HWND hwnd, uint32_t vk, int down, LPARAM lp);
void ddUIViewSysKeyEvent(HWND hwnd, uint32_t vk, int down, LPARAM lp);
LRESULT CALLBACK ddUIKeyboardHook(int code, WPARAM wp, LPARAM lp);
/* Installs the low-level hook when the IME configuration asks for it. */
int ddUIHookWanted(int32_t imeConfig, const DiChar* preferredLanguage);
void ddUIInstallHook(void);
void ddUIRemoveHook(void);
void ddUIBeginCapture(HWND hwnd, int holder);
void ddUIEndCapture(int holder, WPARAM buttonFlags);
/* 0 with x, y, w, h in virtual coordinates, or -1 when cancelled. */
int ddUIRubberBandSelect(DiObject* obj, int32_t rect[4]);
HBITMAP ddUICaptureScreenBitmap(DiObject* obj, const int32_t rect[4], HPALETTE* palette);
/* The scroll handling of a view (WM_HSCROLL, WM_VSCROLL). */
void ddUIViewScroll(HWND hwnd, DiObject* obj, int bar, WPARAM wp);
/* Palette realisation in progress (palette messages ignored meanwhile). */
extern int g_ddUIRealizing;

#endif
