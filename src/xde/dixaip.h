/* The X-AIP wire of a remote X display: the input pump (socket reads,
 * compressed blocks, syncs, the assembly buffer, acknowledgements), request
 * dispatch through the handler table with one decoding handler per request,
 * and the senders of every client message.
 *
 * Each handler checks the request's length, reads its fields through one
 * bounded cursor and calls one slot of the display's DiXRequestOps with the
 * decoded values: data as (pointer, length), texts as UTF-16 (pointer, units),
 * point/segment/rectangle lists unpacked into the shared scratch block as
 * 32-bit integers. Pointers are valid for the call only. */
#ifndef HV_DIXAIP_H
#define HV_DIXAIP_H

#include "core/dide.h"
#include "core/disysinfo.h"
#include "xde/diregion.h"

struct DiTimer;
struct DdXDeviceVector;
struct DiXColormap;
struct DiXGC;
struct DiXWindow;
struct DiXPixmap;
struct DiXFont;
struct DiXCursor;

struct DiXDisplay;
struct DiXFrame;

/* An image or icon as a request carries it. */
struct DiXImage {
    int32_t width, height;
    uint32_t depth, compression;
    const uint8_t* data;
    uint32_t length;
};

/* One entry of a server selection-targets request; the name is the wire's
 * bytes, one byte per character. */
struct DiXFormatEntry {
    uint32_t formatId;
    const uint8_t* name;
    uint32_t nameLength;
};

/* One chunk of server clipboard data. The first chunk (flags & 1) carries the
 * total, the name and, when the display has flag 0x800, the ids (hasIds). */
struct DiXClipChunk {
    uint32_t flags;
    uint32_t total;
    int hasIds;
    uint32_t formatId, ownerId;
    const DiChar* name;
    uint32_t nameLength;
    const uint8_t* data;
    uint32_t length;
};

/* The operations the requests call; the X engine fills one table, tests
 * install a recording one. Window, font, glyph and cursor ids are as the wire
 * gives them (not yet checked against the tables); a drawable is (kind: 0
 * window, 1 pixmap; id). Lists: count >= 0 whole records in `xy`. */
struct DiXRequestOps {
    /* 2: image at (x, y). */
    void (*putImage)(DiXDisplay* d, int32_t x, int32_t y, const DiXImage* image);
    /* 3: count entries of {index, red, green, blue}, 4 bytes each. */
    void (*storeColors)(DiXDisplay* d, int32_t count, const uint8_t* entries);
    /* 4 */
    void (*bell)(DiXDisplay* d);
    /* 5 */
    void (*sessionStatus)(DiXDisplay* d, int32_t kind, int32_t code);
    /* 7: points (x, y). */
    void (*polyLine)(DiXDisplay* d, int32_t count, const int32_t* xy);
    /* 8: segments (x1, y1, x2, y2). */
    void (*polySegment)(DiXDisplay* d, int32_t count, const int32_t* xy);
    /* 9: rectangles (x, y, width, height). */
    void (*polyRectangle)(DiXDisplay* d, int32_t count, const int32_t* xy);
    /* 10: rectangles (x, y, width, height). */
    void (*polyFillRectangle)(DiXDisplay* d, int32_t count, const int32_t* xy);
    /* 11: points (x, y). */
    void (*fillPolygon)(DiXDisplay* d, uint32_t shape, int32_t count, const int32_t* xy);
    /* 12: the engine looks the source up and copies when it exists. */
    void (*copyArea)(DiXDisplay* d, uint32_t srcKind, uint32_t srcId, int32_t srcX, int32_t srcY,
                     int32_t dstX, int32_t dstY, int32_t width, int32_t height);
    /* 14 */
    void (*setStandardCursor)(DiXDisplay* d, uint32_t index);
    /* 15 */
    void (*createWindow)(DiXDisplay* d, uint32_t id, int32_t x, int32_t y, int32_t width,
                         int32_t height, uint32_t styleFlags, uint32_t ownerMode, uint32_t ownerId,
                         uint32_t frameFlags);
    /* 16 */
    void (*destroyWindow)(DiXDisplay* d, uint32_t id);
    /* 17: mode 1 show, 0 hide, 2 iconify. */
    void (*showWindow)(DiXDisplay* d, uint32_t id, uint32_t mode);
    /* 18: the frame value, when the request has one, is already stored. */
    void (*configureWindow)(DiXDisplay* d, uint32_t id, int32_t x, int32_t y, int32_t width,
                            int32_t height);
    /* 19 */
    void (*setDrawable)(DiXDisplay* d, uint32_t kind, uint32_t id);
    /* 20, 21: 8-, 16- or 24-bit pixel. */
    void (*setForeground)(DiXDisplay* d, uint32_t pixel);
    void (*setBackground)(DiXDisplay* d, uint32_t pixel);
    /* 22 */
    void (*setFunction)(DiXDisplay* d, uint32_t function);
    /* 23, 24: pixmap id. */
    void (*setTile)(DiXDisplay* d, uint32_t id);
    void (*setStipple)(DiXDisplay* d, uint32_t id);
    /* 25 */
    void (*setTSOrigin)(DiXDisplay* d, int32_t x, int32_t y);
    /* 26 */
    void (*setFillStyle)(DiXDisplay* d, uint32_t style);
    /* 27 */
    void (*createPixmap)(DiXDisplay* d, uint32_t id, int32_t width, int32_t height, uint32_t depth);
    /* 28 */
    void (*freePixmap)(DiXDisplay* d, uint32_t id);
    /* 29 */
    void (*setGCField6)(DiXDisplay* d, uint32_t value);
    /* 30 */
    void (*setFont)(DiXDisplay* d, uint32_t id);
    /* 31 */
    void (*setPlaneMask)(DiXDisplay* d, uint32_t mask);
    /* 34, 35: count glyph indexes. */
    void (*polyText8)(DiXDisplay* d, int32_t x, int32_t y, int32_t count, const uint8_t* glyphs);
    void (*imageText8)(DiXDisplay* d, int32_t x, int32_t y, int32_t count, const uint8_t* glyphs);
    /* 36: opened with the sizes 32 and 32. */
    void (*openFont)(DiXDisplay* d, uint32_t id);
    /* 37 */
    void (*closeFont)(DiXDisplay* d, uint32_t id);
    /* 38 */
    void (*defineGlyph)(DiXDisplay* d, uint32_t font, uint32_t glyph, int32_t width, int32_t height,
                        int32_t metric1, int32_t metric2, int32_t metric3);
    /* 39: bits into a glyph of the current font. */
    void (*putGlyphBits)(DiXDisplay* d, uint32_t glyph, int32_t x, int32_t y,
                         const DiXImage* bits);
    /* 40 */
    void (*freeGlyph)(DiXDisplay* d, uint32_t font, uint32_t glyph);
    /* 42: bits 0-1 of the flags; the engine changes the GC mode when it has
     * a GC and the mode differs. */
    void (*setGCMode)(DiXDisplay* d, uint32_t mode);
    /* 45 */
    void (*measureDrawing)(DiXDisplay* d);
    /* 47 */
    void (*copyPlane)(DiXDisplay* d, uint32_t srcKind, uint32_t srcId, int32_t srcX, int32_t srcY,
                      int32_t dstX, int32_t dstY, int32_t width, int32_t height,
                      uint32_t planeMask);
    /* 48: the server name and owner block are already stored. */
    void (*startSession)(DiXDisplay* d, uint32_t flags, uint32_t delay, int32_t width,
                         int32_t height, uint32_t depth, uint32_t flags2);
    /* 49 */
    void (*showStatusText)(DiXDisplay* d, const DiChar* text, uint32_t length);
    /* 52 */
    void (*clipboardData)(DiXDisplay* d, const DiXClipChunk* chunk);
    /* 53, 56 */
    void (*setWindowTitle)(DiXDisplay* d, uint32_t id, const DiChar* text, uint32_t length);
    void (*setIconTitle)(DiXDisplay* d, uint32_t id, const DiChar* text, uint32_t length);
    /* 54 (no mask) and 67 (mask or none). */
    void (*setWindowIconImage)(DiXDisplay* d, uint32_t id, const DiXImage* image,
                               const DiXImage* mask);
    /* 55 */
    void (*setSizeHints)(DiXDisplay* d, uint32_t id, uint32_t h1, uint32_t h2, uint32_t h3,
                         uint32_t h4);
    /* 57 */
    void (*updateWindow)(DiXDisplay* d, uint32_t id);
    /* 58: rows of the image: count, first and step. */
    void (*putSubImage)(DiXDisplay* d, int32_t x, int32_t y, int32_t rowCount, int32_t firstRow,
                        int32_t rowStep, const DiXImage* image);
    /* 59: operation 0 deleted, 1 set. */
    void (*propertyChanged)(DiXDisplay* d, uint32_t operation, const DiChar* window,
                            uint32_t windowLength, const DiChar* name, uint32_t nameLength,
                            const DiChar* value, uint32_t valueLength);
    /* 60 */
    void (*setPointerGrab)(DiXDisplay* d, uint32_t id, uint32_t flags);
    /* 61: mask then source bits, each `bitmapLength` bytes (height rows of
     * (width + 7) / 8 bytes). */
    void (*createCursor)(DiXDisplay* d, uint32_t id, uint32_t width, uint32_t height,
                         uint32_t depth, uint32_t hotX, uint32_t hotY, uint32_t foreground,
                         uint32_t background, const uint8_t* mask, const uint8_t* source,
                         uint32_t bitmapLength);
    /* 62 */
    void (*setCursor)(DiXDisplay* d, uint32_t id);
    /* 63: `count` entries read whole of `declared`; flag -1 when absent. */
    void (*selectionTargets)(DiXDisplay* d, int32_t declared, int32_t count,
                             const DiXFormatEntry* entries, int32_t flag);
    /* 64 */
    void (*requestSelection)(DiXDisplay* d, const DiChar* name, uint32_t length);
    /* 65: the sibling counts when mode is 1. */
    void (*restackWindow)(DiXDisplay* d, uint32_t id, uint32_t mode, uint32_t sibling);
    /* 70: width x height pixels of 4 bytes. */
    void (*createColorCursor)(DiXDisplay* d, uint32_t id, uint32_t width, uint32_t height,
                              uint32_t hotX, uint32_t hotY, const uint8_t* pixels,
                              uint32_t length);
    /* Dispatch calls this after every 27th message: paint due window updates. */
    void (*flushDueUpdates)(DiXDisplay* d);
};

/* Display flags of the wire. */
enum : uint32_t {
    DI_XFLAG_ACK_ONCE = 0x2,  /* the at-once acknowledgement ends after one */
    DI_XFLAG_UTF8 = 0x4,      /* titles arrive as UTF-8 */
    DI_XFLAG_ACK_NOW = 0x8,   /* acknowledge consumed bytes at once */
    DI_XFLAG_CLIP_EX = 0x800, /* extended clipboard */
};

enum : uint32_t {
    DI_XAIP_TABLE_SIZE = 71,
    DI_XAIP_ASSEMBLY_LIMIT = 16384,
    DI_XAIP_MAX_PAYLOAD = DI_XAIP_ASSEMBLY_LIMIT - 3,
    DI_XAIP_ACK_THRESHOLD = 0x40000,
    DI_XAIP_SYNC_WAIT_MS = 1000,
    DI_XAIP_SCRATCH_BYTES = 32768,
};

/* The record of one remote X display: the fields of the wire. The engine
 * adds its own after these. */
struct DiXDisplay {
    DiChannel ch;
    const DiXRequestOps* ops;

    DiBuffer assembly; /* complete messages collected for dispatch */
    uint32_t pumpState; /* 0-7 */
    uint32_t pumpRemaining; /* payload or compressed bytes still to take */
    uint32_t pumpNeed;      /* room the current message needs; 1024 between */
    uint32_t pumpSkip;      /* payload of a sync still to skip */
    uint8_t pumpHead[5];    /* the head being read (states 0-4) */
    int32_t received;       /* X-AIP bytes taken since the last acknowledgement */
    int32_t dispatched;     /* bytes dispatched since the last acknowledgement */
    uint64_t acknowledged;  /* total acknowledged */
    uint32_t flags;         /* display flags */

    /* Connect-message values. */
    uint8_t connectByte;  /* 3 */
    uint8_t colormapKind; /* 0 */
    uint16_t featureBits; /* 0xF7B7 */
    uint32_t engineFlags; /* 7 */

    uint16_t frameValue;   /* of request 18, echoed by message 35 */
    DiChar* serverName;    /* of request 48, owned, or none; may hold NULs */
    uint32_t serverNameLength; /* UTF-16 units at serverName */
    uint8_t* ownerBlock;   /* of request 48, owned, or none */
    uint32_t ownerBlockLength;
    uint32_t id; /* a sequence number shared by all X displays, from 1 */

    /* The engine's fields (dixde.h). Fields that name windows hold ids. */
    const DdXDeviceVector* dev;
    uint32_t windowSize, pixmapSize, gcSize, fontSize, glyphSize, cursorSize, colormapRecordSize;
    DiXColormap* colormap;
    DiXGC* gc; /* the display's single GC */
    DiXWindow* windows[256]; /* 0 the root */
    DiXPixmap* pixmaps[1024];
    DiXFont* fonts[16];
    DiXCursor* cursors[32];
    uint32_t depth;        /* 8 until the session start */
    uint32_t colormapSize; /* 256 */
    int32_t screenWidth, screenHeight;
    uint32_t emulationDelay; /* ms; 0 off */
    uint32_t sessionFlags, sessionFlags2;
    uint32_t sessionStarted;
    /* Settings: [0] no button, [1] a button down. */
    uint32_t throttleDelay[2];
    int32_t throttleCount[2];
    int32_t throttleThreshold[2];
    uint32_t sizeMoveDelay, updateInterval, scaleUpdateInterval, scaleMaxUpdateInterval;
    /* Motion and buttons. */
    int32_t motionWindow; /* -1 none */
    int32_t motionX, motionY;
    DiTimer* motionTimer;
    uint32_t buttonMask; /* 0x10 left, 0x20 middle emulated, 0x40 right */
    uint32_t pendingWindow;
    int32_t pendingX, pendingY;
    DiTimer* emulationTimer;
    uint32_t modifiers;
    uint32_t windowLimit; /* 1, or 256 in multi-window mode */
    uint32_t reentrancy;
    /* Seamless frames: the focus hand-over (frames, cleared when a frame
     * goes), the window whose drag just ended (0 none) and the server's
     * frame metrics: sizing border width and height, caption height,
     * caption button width, corner size. */
    DiXFrame* focusLast;
    DiTimer* focusTimer;  /* 250 ms after a focus event */
    DiTimer* expectTimer; /* 500 ms: how long an expectation lasts */
    DiXFrame* expectGain;
    uint32_t expectGainAny; /* any frame may gain it */
    DiXFrame* expectLoss;
    uint32_t draggedWindow;
    int32_t swmMetrics[5];
    DiTimer* exposureRegionTimer;
    DiXRegionArea exposureRegion; /* display-wide, of a seamless drag */
    DdKeyboardInfo* keyboard; /* the stored description, or none */
    uint32_t standardCursor;
    uint64_t pixelBytes; /* held by pixmaps and glyphs, against the ceiling */
    uint64_t screenBytes;   /* held by the root's buffers, against the process's */
    DiTimer* settingsTimer; /* armed by the frame window; freed here */
    uint32_t clientValue;   /* the client description's last word (message 29) */
    uint32_t windowEnd;     /* one past the highest window id in use; 0 none */
};

/* Wire set-up: pump state, limits (input 16384, output 32767, assembly
 * 16384), display flag 0x8 and a use of the scratch block. 0, or -1 when the
 * scratch block cannot be made. Free releases what init took and what
 * requests stored. */
int diXAIPInit(DiXDisplay* d);
void diXAIPFree(DiXDisplay* d);
int diXAIPScratchRef();
void diXAIPScratchUnref();
/* The shared block of 32768 bytes that list requests unpack into. */
int32_t* diXAIPScratch();

/* The input pump: 0, or -1 when the connection must be treated as lost. */
int diXAIPReadInput(DiXDisplay* d);
/* Dispatches the complete messages at the front of buf; with sliceCheck the
 * walk stops when the channel's time slice is over. Stops at once when a
 * handler closes the channel. */
int diXAIPDispatch(DiXDisplay* d, DiBuffer* buf, int sliceCheck);
/* Runs one request's handler (a type without one, or of 71 and above, does
 * nothing). A payload shorter than the type's minimum is skipped and logged. */
void diXAIPHandleRequest(DiXDisplay* d, uint32_t type, const uint8_t* payload, uint32_t length);
void diXAIPCountConsumed(DiXDisplay* d, int32_t bytes);
void diXAIPAckConsumed(DiXDisplay* d);
void diXAIPFreeInflateStream(DiChannel* ch);

/* Senders. Each builds one message whole and appends it to the output
 * buffer; a message that cannot be built or exceeds the output limit is not
 * sent and the failure is logged. */
void diXAIPSendButtonPress(DiXDisplay* d, uint32_t window, uint32_t button, int32_t x, int32_t y);
void diXAIPSendButtonRelease(DiXDisplay* d, uint32_t window, uint32_t button, int32_t x,
                             int32_t y);
void diXAIPSendPointerEvent16(DiXDisplay* d, uint32_t window, uint32_t button, int32_t x,
                              int32_t y);
void diXAIPSendMotion(DiXDisplay* d, uint32_t window, int32_t x, int32_t y);
void diXAIPSendModifiers(DiXDisplay* d, uint32_t state);
/* The connect message; tz and kb may be none. */
void diXAIPSendHello(DiXDisplay* d, const DiClientInfo* info, uint16_t desktopWidth,
                     uint16_t desktopHeight, const DdTimeZoneInfo* tz, const DdKeyboardInfo* kb);
void diXAIPSendEvent9(DiXDisplay* d);
void diXAIPSendEvent10(DiXDisplay* d);
void diXAIPSendClose(DiXDisplay* d);
void diXAIPSendAck(DiXDisplay* d, uint32_t bytes);
/* Property set (operation 0 with its value): window text empty for the
 * display. */
void diXAIPSendProperty(DiXDisplay* d, const DiChar* window, uint32_t windowLength,
                        const DiChar* name, uint32_t nameLength, const DiChar* value,
                        uint32_t valueLength);
void diXAIPSendSyncReply(DiXDisplay* d);
void diXAIPSendTimings(DiXDisplay* d, const uint32_t* values, uint32_t count);
void diXAIPSendKeyPress(DiXDisplay* d, uint32_t code, uint32_t character);
void diXAIPSendKeyRelease(DiXDisplay* d, uint32_t code, uint32_t character);
void diXAIPSendFocusIn(DiXDisplay* d, uint32_t window);
void diXAIPSendFocusOut(DiXDisplay* d, uint32_t window);
void diXAIPSendScreenInfo(DiXDisplay* d, uint32_t value);
void diXAIPSendPingReply(DiXDisplay* d, uint32_t value);
/* Clipboard data as chunks of at most 16384 bytes (one chunk for 0 bytes);
 * passOn adds chunk flag 4. */
void diXAIPSendClipboardChunks(DiXDisplay* d, const DiChar* name, uint32_t nameLength,
                               const uint8_t* data, uint32_t length, uint32_t formatId,
                               int passOn);
void diXAIPSendClipboardData(DiXDisplay* d, const DiChar* name, uint32_t nameLength,
                             const uint8_t* data, uint32_t length, uint32_t formatId);
void diXAIPSendWindowState(DiXDisplay* d, uint32_t window, uint32_t kind, uint32_t value);
/* prev and next: x, y, width, height of the frame. */
void diXAIPSendConfigureNotify(DiXDisplay* d, uint32_t window, const int32_t prev[4],
                               const int32_t next[4]);
/* borders: left, right, top, bottom; followed by the display's frame value. */
void diXAIPSendConfigureNotifyEx(DiXDisplay* d, uint32_t window, const int32_t prev[4],
                                 const int32_t next[4], const int32_t borders[4]);
void diXAIPSendActivate(DiXDisplay* d, uint32_t window, int32_t value);
void diXAIPSendWindowCreated(DiXDisplay* d, uint32_t window, const int32_t borders[4]);
void diXAIPSendPropertyNotify(DiXDisplay* d, const DiChar* window, uint32_t windowLength,
                              const DiChar* name, uint32_t nameLength);
void diXAIPSendWheel(DiXDisplay* d, uint32_t window, int32_t delta, int32_t notches, int32_t x,
                     int32_t y);
void diXAIPSendClipboardOffer(DiXDisplay* d, const DiChar* name, uint32_t nameLength,
                              uint32_t formatId);
/* requester: its id and owner block fill the requester fields. */
void diXAIPSendClipboardOfferFrom(DiXDisplay* d, const DiChar* name, uint32_t nameLength,
                                  uint32_t formatId, const DiXDisplay* requester);
/* list: count records of name length u16 and UTF-8 name, listLength bytes;
 * then the owner identity block. */
void diXAIPSendSelectionData(DiXDisplay* d, const uint8_t* list, uint32_t listLength,
                             uint32_t count, const uint8_t* block, uint32_t blockLength);
void diXAIPSendDisplayLayout(DiXDisplay* d, const DdKeyboardInfo* kb);

#endif
