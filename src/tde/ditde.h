/* The terminal display engine (channel type 6): the T-AIP reader with its
 * reassembly and decompression, the dispatcher and message handlers, the
 * client messages, and the screen of character cells with its painter.
 *
 * Handlers only change the model and record damage; the painter draws the
 * damage after each reader pass and on expose, so what is on the window
 * always converges to a full repaint of the model. Everything the painter
 * draws goes through the operations table (DiTDOps) that the Windows half
 * installs; host tests install a recording one. */
#ifndef HV_DITDE_H
#define HV_DITDE_H

#include "core/dide.h"

#include <string>

struct DiGDIFont;

enum : uint32_t {
    DI_TDE_BUFFER_LIMIT = 16384, /* socket-read and reassembly buffers */
    DI_TDE_OUTPUT_LIMIT = 32767,
    DI_TAIP_KEEPALIVE = 45,
};
enum : int32_t {
    DI_TD_CELLS = 256, /* cells of storage per row at most; advances per table */
    DI_TD_PALETTE = 18,
    DI_TD_SLOTS = 5,
    DI_TD_VARIANTS = 4,
    DI_TD_PAINT_PACE = 40,
};

/* Internal rendition flags of a cell. */
enum : uint32_t {
    DI_TD_BLINK = 1,
    DI_TD_REVERSE = 2,
    DI_TD_UNDERLINE = 8,
    DI_TD_CONCEALED = 16,
    DI_TD_BOLD = 32,
    DI_TD_DIM = 64,
};

/* Line flags of a row, as the server sends them. */
enum : uint32_t {
    DI_TD_DOUBLE_HEIGHT = 1,
    DI_TD_DOUBLE_WIDTH = 2,
    DI_TD_UPPER_HALF = 4,
    DI_TD_LOWER_HALF = 8,
};

struct DiTDCell {
    uint32_t flags, slot, background, foreground;
};

struct DiTDRow {
    int32_t used; /* cells written; 0 = empty */
    uint32_t lineFlags;
    uint32_t eraseColour;
    uint32_t secondColour;
    DiChar chars[DI_TD_CELLS];
    DiTDCell attrs[DI_TD_CELLS];
    /* Damage: columns lo..hi-1 need painting (lo >= hi: none). */
    int32_t damageLo, damageHi;
};

/* A soft-font strip of one slot and line size: 256 cells of the variant's
 * cell size. `handle` is the Windows half's bitmap and context. */
struct DiTDStrip {
    int32_t cellWidth, cellHeight;
    uint8_t defined[32];
    void* handle;
};

/* What the screen draws with. One contract per slot; the first nine are the
 * glyph operations of the Windows half in their fixed order. */
struct DiTDOps {
    /* A white 1-bit strip of width x height pixels, or none. */
    void* (*createStrip)(DdGC* gc, int32_t width, int32_t height);
    void (*freeStrip)(void* strip);
    /* Draws the glyph rows (see diTDGlyphRowsToBits) scaled to the cell of
     * `code`, replacing what that cell held. */
    void (*putGlyph)(void* strip, int32_t cellWidth, int32_t cellHeight, uint32_t code,
                     int32_t width, int32_t height, const uint8_t* bits);
    /* Copies cell `code` of the strip to (x, y) in the foreground over the
     * background colour; line flag 4 or 8 copies the upper or lower half. */
    void (*copyGlyph)(DdGC* gc, void* strip, int32_t cellWidth, int32_t cellHeight, uint32_t code,
                      int32_t x, int32_t y, uint32_t lineFlags, uint32_t fg, uint32_t bg);
    /* The font face of a slot as a malloc'd text, or none (no font object). */
    DiChar* (*fontFace)(const DiChar* settingName, uint32_t slot);
    int32_t (*pointsToPixels)(DdGC* gc, int32_t points);
    /* Opaque text: clip is filled with bg, the characters drawn in fg. */
    void (*textOut)(DdGC* gc, int32_t x, int32_t y, int32_t clipX, int32_t clipY, int32_t clipW,
                    int32_t clipH, const DiChar* text, int32_t count, const int32_t* advances,
                    DiGDIFont* font, uint32_t fg, uint32_t bg);
    void* reserved;
    void (*moveWindow)(DiObject* obj, int32_t x, int32_t y, int32_t width, int32_t height);
    /* The font's average width, height and ascent: 0, or -1 when unknown. */
    int (*fontMetrics)(DdGC* gc, DiGDIFont* font, int32_t* width, int32_t* height, int32_t* ascent);
    void (*fill)(DdGC* gc, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour);
    /* Moves the pixels of the rectangle by (dx, dy); pixels leave it. */
    void (*scroll)(DdGC* gc, int32_t dx, int32_t dy, int32_t x, int32_t y, int32_t width,
                   int32_t height);
    /* width 0 destroys the caret. */
    void (*caretCreate)(DdGC* gc, int32_t width, int32_t height);
    void (*caretMove)(DdGC* gc, int32_t x, int32_t y);
    void (*caretShow)(DdGC* gc, int show);
    void (*beep)();
    /* Inverts the pixels of the rectangle (object coordinates). */
    void (*invert)(DdGC* gc, int32_t x, int32_t y, int32_t width, int32_t height);
    /* True when the view shows only part of the object (it can scroll). */
    int (*viewScrolled)(DiObject* obj);
    /* Scrolls the view by (dx, dy) pixels, kept inside the object. */
    void (*scrollView)(DiObject* obj, int32_t dx, int32_t dy);
    /* The visible part of the object: its origin and size less the scroll
     * bars. */
    void (*viewArea)(DiObject* obj, int32_t* x, int32_t* y, int32_t* width, int32_t* height);
    /* Scrolls the view so that the point (object coordinates) is visible. */
    void (*scrollToPoint)(DiObject* obj, int32_t x, int32_t y);
};

/* A mouse selection of cells: from the anchor to the end cell, as a stream
 * (reading order) or a block. While one is being made or shown the engine
 * holds its output (selectionHeld), and messages 7 and 2 bracket it. */
struct DiTDSelection {
    int32_t anchorColumn, anchorRow, endColumn, endRow;
    int32_t lastX, lastY; /* the pointer, in the object's scrolled coordinates */
    uint32_t selecting;   /* the button is held */
    uint32_t shown;       /* released over a non-empty area */
    uint32_t block;
    DiTimer* autoscroll;
};

struct DiTDScreen {
    uint32_t exists, focused;
    uint32_t flags, slot, background, foreground;
    uint32_t variant;
    DiGDIFont* fonts[DI_TD_VARIANTS]; /* slot 0 only; slots 1-4 draw glyphs */
    DiTDStrip* strips[DI_TD_SLOTS][DI_TD_VARIANTS];
    uint32_t palette[DI_TD_PALETTE];
    int32_t rows, columns, storage;
    int32_t cellWidth, cellHeight, ascent;
    DiChar* fontSetting;
    int32_t fontSize;
    uint32_t fixedSize;
    int32_t advances[DI_TD_CELLS], advances2[DI_TD_CELLS];
    int32_t cursorColumn, cursorRow;
    uint32_t cursorVisible, caretFactor, caretShown, caretMade;
    int32_t caretTop, caretBottom;
    uint32_t caretFlags;
    DiTDRow** rowList;
    DiTimer* blinkTimer;
    DiTimer* followTimer;
    uint32_t blinkPhase;
    /* A pending pixel scroll not yet drawn: rectangle in cells, merged dy. */
    uint32_t scrollPending;
    int32_t scrollLeft, scrollTop, scrollRight, scrollBottom, scrollDy;
    uint32_t damaged;
    /* Painting while output flows is paced: at most one paint per
     * DI_TD_PAINT_PACE ms, the rest left to a timer that paints once the
     * output pauses. */
    DiTimer* paintTimer;
    uint32_t lastPaint;
};

struct DiTDisplay {
    DiChannel ch;
    DiBuffer assembly;
    uint32_t readState;
    int32_t remaining, needed;
    uint8_t head[5]; /* header bytes of the message or block being read */
    int32_t ackCounter;
    uint32_t sessionActive;
    DiTimer* keepAliveTimer;
    uint32_t keepAliveMs;
    uint32_t sessionFlags;
    uint16_t helloValue;
    DiTDScreen screen;
    /* Set by the terminal window while a selection is made or shown. */
    uint32_t selectionHeld;
    const DiTDOps* ops;
    /* Painting off: the model is kept but nothing is drawn (measurement). */
    uint32_t paintingOff;
    DiTDSelection sel;
};

/* Engine. */
void diTDEInit(DiTDisplay* t, int32_t width, int32_t height);
void diTDEBindChannel(DiChannel* ch, DiObject* owner, DdGC* gc, DdSocket* s);
/* Removes the timers, frees the screen, the inflate stream, the reassembly
 * buffer and the channel base. The record itself stays the caller's. */
void diTDEReset(DiTDisplay* t);
int diTDEHandleEvent(DiObject* obj, DiEvent* ev);
/* 0, or -1 when the connection failed or a message cannot be held. */
int diTAIPReadInput(DiTDisplay* t);
/* Handles the complete messages at the front of b; sliced: stops when the
 * channel's time slice is over. */
int diTAIPDispatch(DiTDisplay* t, DiBuffer* b, bool sliced = true);

/* Client messages: 0 or -1. */
int diTAIPSendKeepAlive(DiChannel* ch);
int diTAIPSendHello(DiTDisplay* t, const DiClientInfo* info);
int diTAIPSendKey(DiTDisplay* t, uint8_t type, uint32_t character, uint32_t key,
                  uint32_t modifiers);
int diTAIPSendEmpty(DiTDisplay* t, uint8_t type);
int diTAIPSendPaste(DiTDisplay* t, const DiChar* text, uint32_t count);
uint8_t diTAIPModifiers(uint32_t state);

/* Screen. */
int diTDCreate(DiTDisplay* t, int32_t rows, int32_t columns, uint32_t caretStart, uint32_t caretEnd,
               uint32_t caretFlags, const DiChar* fontSetting, int32_t fontSize, uint32_t fixed);
void diTDDestroy(DiTDisplay* t);
void diTDSetPaletteEntry(DiTDisplay* t, uint32_t index, uint8_t r, uint8_t g, uint8_t b);
void diTDSelectColour(DiTDisplay* t, uint32_t index, int background);
void diTDMoveCursor(DiTDisplay* t, int32_t column, int32_t row);
void diTDShowCursor(DiTDisplay* t, int visible);
void diTDSetCursorShape(DiTDisplay* t, uint32_t start, uint32_t end, uint32_t flags);
void diTDEraseRect(DiTDisplay* t, int32_t left, int32_t top, int32_t right, int32_t bottom);
void diTDScrollRect(DiTDisplay* t, int32_t dx, int32_t dy, int32_t left, int32_t top, int32_t right,
                    int32_t bottom);
int diTDResize(DiTDisplay* t, int32_t rows, int32_t columns);
/* 16-bit text: each cell holds the character as sent. */
void diTDWriteText(DiTDisplay* t, int32_t column, int32_t row, const DiChar* text, int32_t count);
/* 8-bit text: in font slot 0 each byte becomes its character in the
 * channel's code page; other slots keep the byte as their code. */
void diTDWriteText8(DiTDisplay* t, int32_t column, int32_t row, const uint8_t* bytes,
                    int32_t count);
void diTDSelectFont(DiTDisplay* t, uint32_t slot);
void diTDSetRendition(DiTDisplay* t, uint32_t wireFlags);
void diTDDefineGlyph(DiTDisplay* t, uint32_t slot, uint32_t code, int32_t width, int32_t height,
                     uint32_t length, const uint8_t* data);
void diTDSetLineAttributes(DiTDisplay* t, uint32_t flags, int32_t row);
/* Marks the cells under the pixel rectangle for painting. */
void diTDDamagePixels(DiTDisplay* t, int32_t x, int32_t y, int32_t width, int32_t height);
/* Draws every damaged cell and the pending scroll. */
void diTDPaint(DiTDisplay* t);
/* Paints now, or within DI_TD_PAINT_PACE ms when a paint ran just before. */
void diTDPaintSoon(DiTDisplay* t);
/* Effective colours of a cell attribute against the palette. */
uint32_t diTDEffectiveBackground(const DiTDScreen* s, const DiTDCell* c);
uint32_t diTDEffectiveForeground(const DiTDScreen* s, const DiTDCell* c);
/* Character-set maps: set 1 code page 437, set 2 the line-drawing set. */
DiChar diTDMapCharacter(uint32_t set, uint32_t code);
/* Glyph rows (one byte per row, leftmost pixel bit 0) as a 1-bit bitmap of
 * (width + 15) / 16 16-bit words per row, leftmost pixel most significant;
 * malloc'd and zeroed, or none when the size is out of range. */
uint8_t* diTDGlyphRowsToBits(int32_t width, int32_t height, const uint8_t* rows, uint32_t* stride);

extern const uint32_t g_diTDDefaultPalette[DI_TD_PALETTE];

/* Terminal window: keys, selection, copy and paste (ditsel.cpp). */
/* The key code sent for a virtual key: the key table's entry, 0 for keys
 * that travel only as their character. */
extern const uint32_t TerminalKeyLookup[256];
/* The window's handling of keys, pointer and expose before the engine's
 * own handler, which it then runs; returns that handler's result, or 1
 * when the event was used up (a key during a selection). */
int diTDWindowEvent(DiObject* obj, DiEvent* ev);
/* The cell under a pixel position of the object, each limited to
 * 0..columns and 0..rows. */
void diTDSelCell(const DiTDisplay* t, int32_t x, int32_t y, int32_t* column, int32_t* row);
/* The columns lo..hi-1 of `row` inside the area; false when the row has
 * none of it. */
bool diTDSelRowSpan(const DiTDSelection* sel, int32_t columns, int32_t row, int32_t* lo,
                    int32_t* hi);
void diTDSelPress(DiTDisplay* t, int32_t x, int32_t y, int block);
void diTDSelMotion(DiTDisplay* t, int32_t x, int32_t y);
void diTDSelRelease(DiTDisplay* t);
/* Ends a selection being made or shown: its cells back to normal, message
 * 2, reads on, and one readable event for input held meanwhile. */
void diTDSelClear(DiTDisplay* t);
/* Stops the autoscroll timer. */
void diTDSelStopTimer(DiTDisplay* t);
/* The text of the shown selection (rows joined by LF), empty without one. */
std::u16string diTDSelText(const DiTDisplay* t);
/* Characters of the next paste piece: at most 80, ending after the first
 * LF, never between the halves of a surrogate pair. */
uint32_t diTDPastePiece(const DiChar* text, uint32_t n);
/* Sends a pasted text in pieces (message 49); a text longer than the grid
 * is bracketed by 7 and 2. Returns -1 when a piece could not be queued. */
int diTDSendPasted(DiTDisplay* t, const DiChar* text, uint32_t n);
/* True when a pasted text of n characters is long (bracketed). */
bool diTDPasteIsLong(const DiTDisplay* t, uint32_t n);

#endif
