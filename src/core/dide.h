/* The channel framework: the base record every channel type embeds, the
 * factory and channel list, the four life events, fair reading in time
 * slices, per-channel zlib streams, code-page tables and the assembly of a
 * display-engine manager with its engine channel and progress window. */
#ifndef HV_DIDE_H
#define HV_DIDE_H

#include "core/diio.h"
#include "di.h"

struct DdSocket;
struct DiTimer;
struct DiZStream; /* a zlib stream with the expected sizes of its block */

struct DiChannel {
    DiObject hdr;
    DiBuffer in, out;
    DdSocket* socket;
    int32_t value1, value2; /* the width and height given at creation */
    uint32_t open;          /* set by the open event, cleared by close */
    uint32_t active;        /* set by activate, cleared by deactivate */
    uint32_t stopReading;   /* set by the owner when the connection failed */
    DiTimer* resumeTimer;   /* armed after a slice ended, or none */
    uint32_t sliceDeadline; /* tick count; 0 when no slice runs */
    DiZStream* inflate;
    DiZStream* deflate;
    uint32_t codePageClass; /* 1 one of the 8-bit tables, 2 otherwise */
    uint32_t codePageKind;  /* 0-6 */
    DiBuffer extra[5];      /* owned by some channel types; freed here */
    DdSocket* socket2;
    DiBuffer extra2[2];
    uint32_t createWord; /* cleared at creation */
    DiChar* extraText;   /* owned */
};

/* The display-engine manager: hosts one engine channel and the progress
 * window of its launch. The Windows half adds its view. */
struct DiDEManager {
    DiObject hdr;
    DiChannel* channel;
    DiObject* progress;
};

/* Factory and channel list. */
DiChannel* diDECreateChannel(DiObject* owner, uint32_t type, int32_t v1, int32_t v2);
/* Returns the number of channels left. */
int diDEDestroyChannel(DiChannel* ch);
int diDEChannelCount();
void diDEChannelInit(DiChannel* ch, uint32_t type, int32_t v1, int32_t v2);
void diDEChannelFree(DiChannel* ch);
void diDEChannelSetContext(DiChannel* ch, DiObject* owner, DdGC* gc, DdSocket* s);
void diChannelAttachConnection(DiChannel* ch, DdSocket* s);
void diDEForEachChannel(void (*fn)(DiChannel* ch, void* arg), void* arg);
void diDEFreeExtras(DiChannel* ch);
/* Runs the destroy routine of a channel type; 0 when the type has none. */
int diDERunDestroyRoutine(DiObject* obj);

/* Life events. */
void diDEChannelOpen(DiChannel* ch);
void diDEChannelSendActivate(DiChannel* ch);
void diDEChannelSendDeactivate(DiChannel* ch);
void diDEChannelSendClose(DiChannel* ch);
void diDEChannelActivate(DiChannel* ch, int on);
void diDEChannelDisconnected(DiChannel* ch);
/* detailMessage: a message number shown in a failure (states 8 and 14), or 0. */
void diDEReportState(DiChannel* ch, int32_t state, int32_t detailMessage);
/* A display engine's session has started: its title becomes message 9
 * ("Connected") in the user's language, and it reports state 5. */
void diDEReportConnected(DiChannel* ch);

/* Fair reading. The clock is a u32 millisecond tick count; tests replace it. */
extern uint32_t (*diDEClock)();
void diDEChannelSliceStart(DiChannel* ch);
int diDEChannelSliceOver(DiChannel* ch);
void diDEChannelYield(DiChannel* ch);
uint32_t diDEChannelResume(void* ch);

/* Compression. Sizes are in/out: room or length before, bytes produced or
 * consumed after. */
/* Both sizes DI_DE_OPEN_SIZE: a stream of unknown length that ends where
 * the deflated data says (diDEInflateBlockMore then answers 1). */
enum : uint32_t { DI_DE_OPEN_SIZE = 0xFFFFFFFFu };
int diDEInflateBegin(DiChannel* ch, uint32_t compressed, uint32_t uncompressed);
int diDEInflateBlock(DiChannel* ch, uint8_t* out, const uint8_t* in, uint32_t* outRoom,
                     uint32_t* inLen);
int diDEInflateBlockMore(DiChannel* ch, uint8_t* out, const uint8_t* in, uint32_t* outRoom,
                         uint32_t* inLen, int keepInput);
void diDEInflateEnd(DiChannel* ch);
int diDEDeflateBegin(DiChannel* ch);
void diDEDeflateEnd(DiChannel* ch);
/* Deflates in[0, *inLen) as one whole zlib stream into out[0, *outRoom):
 * 1 when the stream ended there, 0 when the room ran short, 2 when the
 * first `probe` bytes did not shrink (0: no probe), -1 on error; the output
 * is usable only after 1. The sizes come back as the bytes taken and
 * written. The probe is part of the same stream (flushed to a byte
 * boundary), so data that do not deflate cost a probe, not a whole deflate,
 * and data that do are deflated once. The compressor stays with the channel
 * and is reset for the next call, so a stream of replies sets up its tables
 * once. */
int diDEDeflateWhole(DiChannel* ch, uint8_t* out, const uint8_t* in, uint32_t* outRoom,
                     uint32_t* inLen, uint32_t probe);

/* Code pages. */
void diDESetCodePageKind(DiChannel* ch, uint32_t codePage);
uint32_t diDECharToUnicode(DiChannel* ch, uint32_t code);

/* Display-engine manager assembly. */
DiDEManager* diDEManagerCreate(DiObject* parent, uint32_t engineType, int32_t w, int32_t h);
void diDEManagerDestroy(DiDEManager* m);
void diDEManagerInit(DiDEManager* m, int32_t w, int32_t h);
void diDEManagerFree(DiDEManager* m);
void diDEManagerActivate(DiDEManager* m, int on);
void diDEAttach(DiObject* obj, DiObject* parent, DdGC* gc);

/* The Windows side of the framework (ddde.cpp). */
void ddDESetCodePage(DiChannel* ch);
DiClientInfo* ddDEGetClientInfo();
int ddDENoProgress(); /* the "-noprogress" option */
DiDEManager* ddDEMgrCreate(DiObject* parent, int32_t w, int32_t h, DdGC* gc);
void ddDEMgrDestroy(DiDEManager* m);

/* Channel constructors and destroy routines of the channel types, provided
 * by their subsystems: display engines get (owner, v1, v2, gc, socket), the
 * others only the socket. Each returns the new channel or none. */
DiChannel* ddXDECreate(DiObject* owner, int32_t v1, int32_t v2, DdGC* gc, DdSocket* s);
void ddXDEDestroy(DiChannel* ch);
/* Shows the Windows frame of every X window of an X engine channel that has
 * one of its own, window ids 0-255 in id order (a multi-window launch's
 * raise); frames the application keeps unmapped stay hidden. */
void ddXDEShowFramedWindows(DiChannel* engine);
DiChannel* ddTDECreate(DiObject* owner, int32_t v1, int32_t v2, DdGC* gc, DdSocket* s);
void ddTDEDestroy(DiChannel* ch);
DiChannel* ddPrintCreate(DdSocket* s);
void ddPrintDestroy(DiChannel* ch);
DiChannel* ddCDMCreate(DdSocket* s);
void ddCDMDestroy(DiChannel* ch);
DiChannel* ddListenerChannelCreate(DdSocket* s);
void ddListenerChannelDestroy(DiChannel* ch);
DiChannel* ddSOAPChannelCreate(DdSocket* s);
void ddSOAPChannelDestroy(DiChannel* ch);
DiChannel* ddAudioCreate(DdSocket* s);
void ddAudioDestroy(DiChannel* ch);
DiChannel* ddDevListCreate(DdSocket* s);
void ddDevListDestroy(DiChannel* ch);

/* Services of the session layer. */
void diSOSetLaunchState(DiObject* obj, int32_t state);
void diSODisplayObjectClosed(DiObject* obj);
int diSOIsLaunchDialogPending();
/* The launch that owns the display object fits its frame to the display. */
void diSOFitLaunchFrame(DiObject* obj);

#endif
