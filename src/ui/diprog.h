/* The progress window of a launch, portable half: the state of the launch
 * (0 to 14), the status line, the details log, the bar's arithmetic and the
 * view that shows the final status inside the frame. The Windows half
 * (ddprog) owns the "Connection Progress" dialog; the functions of it that
 * this half calls are declared at the end. */
#ifndef HV_DIPROG_H
#define HV_DIPROG_H

#include "di.h"

struct DiGDIFont; /* an entry of the graphics wrappers' font cache */

/* Launch states shown by the progress window. */
enum : int32_t {
    DI_PROG_DISCONNECTED = 0,
    DI_PROG_STARTING = 1,
    DI_PROG_RESUMING = 2,
    DI_PROG_STARTING2 = 3,
    DI_PROG_WAITING = 4,
    DI_PROG_CONNECTED = 5,
    DI_PROG_SUSPENDED = 6,
    DI_PROG_ENDED = 7,
    DI_PROG_FAILED_STATE = 8,
    DI_PROG_AUTHENTICATING = 9,
    DI_PROG_CONNECTING = 10,
    DI_PROG_RETRYING = 11,
    DI_PROG_WAIT_HELPER = 12,
    DI_PROG_ABOUT_TO_START = 13,
    DI_PROG_FAILED_DETAIL = 14, /* a failure with a detail message */
};

enum : uint32_t { DI_PROG_FLAG_FAILED = 1 }; /* set by states 8 and 14, never cleared */

enum : int32_t {
    DI_PROG_MSG_FAILED_DETAIL = 30, /* "Session failed: %s" */
    DI_PROG_MSG_CHARS = 512,        /* messages are read up to this many characters */
    DI_PROG_LINE_CHARS = 253,       /* longer details lines are broken after this */
};

/* Ceiling of the details log in characters: its lines come from servers. */
#define DI_PROG_DETAILS_MAX (1u << 18)

/* The portable part of a progress object (DiObjectType 7). The Windows
 * record DdProgress begins with it. */
struct DiProgress {
    DiObject hdr;
    uint32_t textColour; /* 0x00BBGGRR, 0 black */
    int32_t marginLeft, marginTop, marginRight, marginBottom;
    int32_t lineHeight; /* 12 until a font is attached */
    DiGDIFont* font;    /* one use of a font-cache entry */
    DiChar* status;     /* owned, or none */
    int32_t state;
    DiChar* details;        /* owned, NUL-terminated, or none */
    uint32_t detailsLength; /* characters without the NUL */
    uint32_t detailsRoom;   /* characters allocated */
    uint32_t duration;      /* expected milliseconds of the bar; 0: the bar stands still */
    uint32_t flags;         /* DI_PROG_FLAG_ */
    uint32_t autoDetails;   /* open the details pane on failure: 0 or 1 */
};

void diProgInit(DiProgress* p, int32_t width, int32_t height);
void diProgAttach(DiProgress* p, DiObject* parent, DdGC* gc, DiGDIFont* font);
/* Frees the texts and releases the font; the object itself stays. */
void diProgFree(DiProgress* p);
/* Keeps a copy of text (none clears it) and redraws the view; nothing when
 * the text is unchanged. 0, or -1 when memory is short (the old text stays). */
int diProgSetText(DiProgress* p, const DiChar* text);
/* Message number of a state's status text: states 0 to 13, else -1. */
int32_t diProgStateMessage(int32_t state);
/* Draws the view: the background, and the status text in states 7 and 14. */
void diProgDraw(DiProgress* p);

/* The interface the launch logic and the protocol engines use. detailMessage
 * is a message number (0: none). */
void diProgSetState(DiObject* progress, int32_t state, int32_t detailMessage);
/* Appends length characters of text (-1: up to its NUL) and CR LF to the
 * details; 0, or -1 for no text, a bad length, short memory or a log that
 * would pass DI_PROG_DETAILS_MAX. */
int diProgAppendDetails(DiObject* progress, int32_t length, const DiChar* text);
void diProgSetDuration(DiObject* progress, uint32_t milliseconds);
uint32_t diProgSetAutoDetails(DiObject* progress, uint32_t flag);
/* The user's cancel. The manager's slot is cleared before its reference is
 * released, so the object may be gone when this returns. */
void diProgCancel(DiObject* progress);
int diProgHandleEvent(DiObject* progress, DiEvent* ev);

/* Arithmetic shared with the Windows half. */

/* Percent of the duration elapsed since start (u32 ticks, wrapping), held at
 * 100; computed in 64 bits. duration must be non-zero. */
int32_t diProgPercent(uint32_t now, uint32_t start, uint32_t duration);
/* Filled pixels of a bar of width w: (w - 4) * percent / 100, 0 for w < 4. */
int32_t diProgFillWidth(int32_t w, int32_t percent);
/* Lines of a text: CR, LF, CR LF and LF CR each end one; empty text is one. */
int32_t diProgCountLines(const DiChar* text);
/* Next line of the details log from *pos: copies up to DI_PROG_LINE_CHARS
 * characters without NULs into line (room for DI_PROG_LINE_CHARS + 1 with
 * the NUL) and advances *pos past the line and its break. 0 at the end. */
int diProgNextLine(const DiChar* text, uint32_t length, uint32_t* pos, DiChar* line,
                   uint32_t* lineLength);

/* The Windows half, as this half calls it. */
DiObject* ddProgCreate(DiObject* parent, int32_t width, int32_t height, DdGC* gc);
void ddProgDestroy(DiObject* progress);
void ddProgUpdate(DiObject* progress, int32_t state);
void ddProgEnableDetails(DiObject* progress, int enable);
void ddProgShowDetails(DiObject* progress, int expand);
int ddProgIsExpanded(DiObject* progress);
void ddProgStartTimer(DiObject* progress);
void ddProgStopTimer(DiObject* progress);
/* Writes the details log into the dialog's details control when it is open. */
void ddProgRefreshDetails(DiObject* progress);
/* Height of a font on a context (its text metrics), 0 when unknown. */
int32_t ddProgFontHeight(DdGC* gc, DiGDIFont* font);
/* Message N of the user's language into buffer (size characters with the
 * NUL); the length, 0 when there is no such message. */
int ddProgLoadMessage(int32_t message, DiChar* buffer, int32_t size);

#endif
