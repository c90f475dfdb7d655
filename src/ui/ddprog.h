/* The progress window of a launch, Windows half: the object with its view
 * in the frame and the modeless "Connection Progress" dialog with its status
 * line, bar, Cancel/Close button and collapsible details pane. */
#ifndef HV_DDPROG_H
#define HV_DDPROG_H

#include "dd.h"
#include "ui/diprog.h"

/* Resource ids of the dialog. */
enum {
    DD_PROG_DIALOG = 110,
    DD_PROG_STATUS = 1012,  /* status text */
    DD_PROG_BAR = 1015,     /* owner-drawn progress bar */
    DD_PROG_MARKER = 1013,  /* invisible: its top is the bottom of the collapsed dialog */
    DD_PROG_LABEL = 1156,   /* "Details:" */
    DD_PROG_DETAILS = 1011, /* read-only multi-line details log */
    DD_PROG_CANCEL = 2,     /* Cancel, later Close */
    DD_PROG_TOGGLE = 1009,  /* "&Details >>" / "<< &Details" */
    DD_PROG_VIEW_ID = 7,    /* control id of the progress view */
    DD_PROG_TIMER_ID = 2,   /* the bar's timer on the dialog */
    DD_PROG_TIMER_MS = 250,
};

/* String resources of the dialog's texts. */
enum {
    DD_PROG_STR_DETAILS_OPEN = 2, /* "&Details >>" */
    DD_PROG_STR_DETAILS_SHUT = 3, /* "<< &Details" */
    DD_PROG_STR_CLOSE = 4,        /* "&Close" */
    DD_PROG_STR_CANCEL = 20,      /* "Cancel" */
    DD_PROG_STR_LABEL = 21,       /* "Details:" */
    DD_PROG_STR_TITLE = 947,      /* "Connection Progress" */
};

struct DdProgress {
    DiProgress base;
    DdGC* dialogGC;
    HWND dialog; /* none while closed */
    int32_t expandedWidth, expandedHeight;
    int32_t collapsedWidth, collapsedHeight;
    uint32_t expanded;
    uint32_t startTick;    /* the bar's start */
    int32_t percent;       /* 0 to 100 */
    UINT_PTR timer;        /* 0 when stopped */
    HWND view;             /* the view in the manager's window */
    HDC dialogDC;          /* held while dialogGC is attached */
    uint32_t detailsShown; /* characters of the details log in the control */
};

/* The dialog of a progress object, or none while it is closed. */
HWND ddProgDialog(DiObject* progress);

/* Test hooks: the clock of the bar (GetTickCount when none) and a witness
 * of every rectangle of the bar invalidated by the timer (none: whole bar). */
extern uint32_t (*g_ddProgClock)();
extern void (*g_ddProgInvalidateHook)(HWND bar, const RECT* band);

/* One tick of the bar's timer (WM_TIMER does this every 250 ms). */
void ddProgTimerTick(DiObject* progress);
/* Paints the bar's frames and fill into a w by h rectangle of dc. */
void ddProgDrawBar(HDC dc, int32_t w, int32_t h, int32_t percent);

#endif
