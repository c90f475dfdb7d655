/* The channel framework (see dide.h). */
#include "core/dide.h"

#include "core/dilog.h"
#include "core/ditimer.h"
#include "net/dinet.h"
#include "ui/digdi.h"
#include "ui/diprog.h"
#include "ui/diui.h"

#include <chrono>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

struct DiZStream {
    z_stream z;
    uint32_t expectIn;  /* compressed bytes of the current block */
    uint32_t expectOut; /* uncompressed bytes of the current block */
    bool open;          /* sizes unknown: the stream's own end ends it */
};

/* The channel list: nodes pushed at the head. */
struct DiChannelNode {
    DiChannel* channel;
    DiChannelNode* next;
};

static DiChannelNode* s_channels;
static int s_channelCount;

static uint32_t diDESteadyClock() {
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

uint32_t (*diDEClock)() = diDESteadyClock;

static int diDEDefaultHandler(DiObject*, DiEvent*) {
    return 0;
}

int diDEChannelCount() {
    return s_channelCount;
}

void diDEChannelInit(DiChannel* ch, uint32_t type, int32_t v1, int32_t v2) {
    diUIObjectInit(&ch->hdr, type, v1, v2);
    ch->hdr.handler = diDEDefaultHandler;
    ch->value1 = v1;
    ch->value2 = v2;
    ch->extraText = nullptr;
    ch->resumeTimer = nullptr; /* diDEChannelFree cancels what it holds */
}

static void diDECancelResume(DiChannel* ch) {
    DiTimer* t = ch->resumeTimer;
    ch->resumeTimer = nullptr;
    if (t) diTimerRemove(t);
}

void diDEChannelFree(DiChannel* ch) {
    /* A resume left armed would deliver to the freed record. */
    diDECancelResume(ch);
    diUIObjectFreeTitle(&ch->hdr);
    DdSocket* s = ch->socket;
    ch->socket = nullptr;
    if (s) ddNetSocketDestroy(s);
    diIOBufferFree(&ch->in);
    diIOBufferFree(&ch->out);
    /* A stream left by an error or a block never finished ends here. */
    diDEInflateEnd(ch);
    diDEDeflateEnd(ch);
}

void diDEChannelSetContext(DiChannel* ch, DiObject* owner, DdGC* gc, DdSocket* s) {
    diUIObjectSetParent(&ch->hdr, owner, gc);
    ch->socket = s;
}

void diChannelAttachConnection(DiChannel* ch, DdSocket* s) {
    diDEChannelSetContext(ch, nullptr, nullptr, s);
}

void diDEForEachChannel(void (*fn)(DiChannel* ch, void* arg), void* arg) {
    for (DiChannelNode* n = s_channels; n;) {
        DiChannelNode* next = n->next;
        fn(n->channel, arg);
        n = next;
    }
}

/* The link that points at the channel's node, or none. */
static DiChannelNode** diDEFindNode(DiChannel* ch) {
    DiChannelNode** link = &s_channels;
    while (*link && (*link)->channel != ch)
        link = &(*link)->next;
    return *link ? link : nullptr;
}

static bool diDEIsEngineType(uint32_t type) {
    return type == 3 || type == 5 || type == 6;
}

static DiChannel* diDEConstruct(DiObject* owner, uint32_t type, int32_t v1, int32_t v2, DdGC* gc,
                                DdSocket* s) {
    switch (type) {
    case DI_OBJ_XDE:
        return ddXDECreate(owner, v1, v2, gc, s);
    case DI_OBJ_TDE:
        return ddTDECreate(owner, v1, v2, gc, s);
    case DI_OBJ_PRINT:
        return ddPrintCreate(s);
    case DI_OBJ_CDM:
        return ddCDMCreate(s);
    case DI_OBJ_LISTENER:
        return ddListenerChannelCreate(s);
    case DI_OBJ_SOAP:
        return ddSOAPChannelCreate(s);
    case DI_OBJ_AUDIO:
        return ddAudioCreate(s);
    case DI_OBJ_DEVLIST:
        return ddDevListCreate(s);
    default:
        return nullptr;
    }
}

int diDERunDestroyRoutine(DiObject* obj) {
    DiChannel* ch = reinterpret_cast<DiChannel*>(obj);
    switch (obj->type) {
    case DI_OBJ_XDE:
        ddXDEDestroy(ch);
        return 1;
    case DI_OBJ_TDE:
        ddTDEDestroy(ch);
        return 1;
    case DI_OBJ_PRINT:
        ddPrintDestroy(ch);
        return 1;
    case DI_OBJ_CDM:
        ddCDMDestroy(ch);
        return 1;
    case DI_OBJ_LISTENER:
        ddListenerChannelDestroy(ch);
        return 1;
    case DI_OBJ_SOAP:
        ddSOAPChannelDestroy(ch);
        return 1;
    case DI_OBJ_AUDIO:
        ddAudioDestroy(ch);
        return 1;
    case DI_OBJ_DEVLIST:
        ddDevListDestroy(ch);
        return 1;
    default:
        return 0;
    }
}

DiChannel* diDECreateChannel(DiObject* owner, uint32_t type, int32_t v1, int32_t v2) {
    bool withSocket = diDEIsEngineType(type) || (type >= 11 && type <= 16);
    DdGC* gc = nullptr;
    DdSocket* s = nullptr;
    if (diDEIsEngineType(type) && !(gc = ddGDICreateGC())) return nullptr;
    if (withSocket && !(s = ddNetSocketCreate())) goto fail;
    {
        DiChannelNode* node = static_cast<DiChannelNode*>(calloc(1, sizeof(DiChannelNode)));
        if (!node) goto fail;
        DiChannel* ch = diDEConstruct(owner, type, v1, v2, gc, s);
        if (!ch) {
            free(node);
            goto fail;
        }
        node->channel = ch;
        node->next = s_channels;
        s_channels = node;
        ddDESetCodePage(ch);
        if (type == DI_OBJ_XDE) ddUIDisableIME(&ch->hdr);
        diDEChannelSetContext(ch, owner, gc, s);
        diNetSetOwner(s, &ch->hdr);
        s_channelCount++;
        ch->createWord = 0;
        return ch;
    }
fail:
    if (s) ddNetSocketDestroy(s);
    if (gc) ddGDIFreeGC(gc);
    return nullptr;
}

void diDEFreeExtras(DiChannel* ch) {
    for (DiBuffer& b : ch->extra)
        diIOBufferFree(&b);
    for (DiBuffer& b : ch->extra2)
        diIOBufferFree(&b);
    DdSocket* s2 = ch->socket2;
    ch->socket2 = nullptr;
    if (s2) {
        ddNetSocketClose(s2);
        ddNetSocketDestroy(s2);
    }
}

int diDEDestroyChannel(DiChannel* ch) {
    if (!ch) return s_channelCount;
    /* A channel not in the list was destroyed already: releasing it again
     * would free it twice. */
    if (!diDEFindNode(ch)) return s_channelCount;
    /* The handlers of the last events may destroy the channel themselves;
     * this reference keeps it readable until the end. */
    ch->hdr.refCount++;
    diDEChannelSendDeactivate(ch);
    diDEChannelSendClose(ch);
    DiChannelNode** link = diDEFindNode(ch);
    if (!link) {
        diUIObjectRelease(&ch->hdr);
        return s_channelCount;
    }
    diDEFreeExtras(ch);
    diDECancelResume(ch);
    if (ch->socket) ddNetSocketClose(ch->socket);
    free(ch->extraText);
    ch->extraText = nullptr;
    DiChannelNode* node = *link;
    *link = node->next;
    free(node);
    s_channelCount--;
    diUIObjectRelease(&ch->hdr); /* the factory's reference */
    diUIObjectRelease(&ch->hdr); /* ours: at 0 the type's routine runs */
    return s_channelCount;
}

static void diDESend(DiChannel* ch, uint32_t type, void* ptr) {
    DiEvent ev;
    memset(&ev, 0, sizeof ev);
    ev.w[0] = type;
    ev.ptr = ptr;
    diUIDeliverEvent(&ch->hdr, &ev);
}

void diDEChannelOpen(DiChannel* ch) {
    if (ch->open) return;
    ch->open = 1;
    diDESend(ch, DI_EV_OPEN, ddDEGetClientInfo());
}

void diDEChannelSendActivate(DiChannel* ch) {
    if (!ch->open || ch->active) return;
    ch->active = 1;
    diDESend(ch, DI_EV_ACTIVATE, nullptr);
}

void diDEChannelSendDeactivate(DiChannel* ch) {
    if (!ch->open || !ch->active) return;
    ch->active = 0;
    diDESend(ch, DI_EV_DEACTIVATE, nullptr);
}

void diDEChannelSendClose(DiChannel* ch) {
    if (!ch->open) return;
    ch->open = 0;
    diDESend(ch, DI_EV_CLOSE, nullptr);
}

void diDEChannelActivate(DiChannel* ch, int on) {
    ddUIShowObjectWindow(&ch->hdr, on);
    if (on)
        diDEChannelSendActivate(ch);
    else
        diDEChannelSendDeactivate(ch);
}

void diDEChannelDisconnected(DiChannel* ch) {
    if (ch->socket) ddNetSocketClose(ch->socket);
    diSOSetLaunchState(&ch->hdr, 6);
    diDECancelResume(ch);
}

void diDEReportState(DiChannel* ch, int32_t state, int32_t detailMessage) {
    DiObject* parent = ch->hdr.parent;
    if (parent && parent->type == DI_OBJ_DEMANAGER) {
        DiDEManager* m = reinterpret_cast<DiDEManager*>(parent);
        if (m->progress) diProgSetState(m->progress, state, detailMessage);
    }
    diSOSetLaunchState(&ch->hdr, state);
}

void diDEReportConnected(DiChannel* ch) {
    DiChar title[64];
    diLogLoadMessage(9, title, 64);
    diUISetTitle(&ch->hdr, title);
    diDEReportState(ch, 5, 0);
}

void diDEChannelSliceStart(DiChannel* ch) {
    if (ch->sliceDeadline) return;
    uint32_t n = s_channelCount > 0 ? uint32_t(s_channelCount) : 1;
    uint32_t deadline = diDEClock() + 1000 / n;
    ch->sliceDeadline = deadline ? deadline : 1; /* 0 means no slice runs */
}

int diDEChannelSliceOver(DiChannel* ch) {
    if (ch->stopReading) return 1;
    /* The tick count wraps every 49.7 days: compare the signed distance. */
    if (int32_t(diDEClock() - ch->sliceDeadline) < 0) return 0;
    diDEChannelYield(ch);
    return 1;
}

void diDEChannelYield(DiChannel* ch) {
    if (ch->resumeTimer) return;
    ddNetSelectEvents(ch->socket, DD_NET_READ | DD_NET_CLOSE, 0);
    ch->resumeTimer = diTimerAdd(10, diDEChannelResume, ch);
}

uint32_t diDEChannelResume(void* arg) {
    DiChannel* ch = static_cast<DiChannel*>(arg);
    ddNetSelectEvents(ch->socket, DD_NET_READ | DD_NET_CLOSE, DD_NET_READ | DD_NET_CLOSE);
    ch->hdr.refCount++;
    ch->resumeTimer = nullptr;
    ch->sliceDeadline = 0;
    diDESend(ch, DI_EV_READABLE, nullptr);
    diUIObjectRelease(&ch->hdr);
    return 0;
}

/* Compression. Each block is either a whole zlib stream or a stretch of a
 * stream that continues from block to block; both end when the running
 * totals reach the sizes announced for the block. */

static void diDEZFree(DiZStream** slot, bool inflating) {
    DiZStream* zs = *slot;
    if (!zs) return;
    *slot = nullptr;
    if (inflating)
        inflateEnd(&zs->z);
    else
        deflateEnd(&zs->z);
    free(zs);
}

int diDEInflateBegin(DiChannel* ch, uint32_t compressed, uint32_t uncompressed) {
    if (!ch->inflate) {
        DiZStream* zs = static_cast<DiZStream*>(calloc(1, sizeof(DiZStream)));
        if (!zs) return -1;
        if (inflateInit_(&zs->z, "1.0.4", int(sizeof(z_stream))) != Z_OK) {
            free(zs);
            return -1;
        }
        ch->inflate = zs;
    }
    ch->inflate->z.total_in = 0;
    ch->inflate->z.total_out = 0;
    ch->inflate->expectIn = compressed;
    ch->inflate->expectOut = uncompressed;
    ch->inflate->open = compressed == DI_DE_OPEN_SIZE && uncompressed == DI_DE_OPEN_SIZE;
    return 0;
}

/* Runs inflate and writes back the bytes consumed and produced. Returns the
 * zlib result, or 1 when the stream ended with the sizes announced, -1 when
 * it ended with others. */
static int diDEInflateRun(DiChannel* ch, uint8_t* out, uint32_t* outRoom, uint32_t* inLen,
                          uint32_t inBefore) {
    z_stream* z = &ch->inflate->z;
    z->next_out = out;
    z->avail_out = *outRoom;
    int r = inflate(z, Z_PARTIAL_FLUSH);
    *inLen = inBefore - z->avail_in;
    *outRoom = *outRoom - z->avail_out;
    if (r == Z_BUF_ERROR) r = Z_OK; /* no progress possible: wait for more */
    if (r == Z_STREAM_END) {
        bool whole = ch->inflate->open || (z->total_in == ch->inflate->expectIn &&
                                           z->total_out == ch->inflate->expectOut);
        diDEZFree(&ch->inflate, true);
        /* A stream that ends before (or after) the announced sizes would
         * leave the rest of the block to be read as new messages. */
        return whole ? Z_STREAM_END : Z_DATA_ERROR;
    }
    if (r == Z_OK && !ch->inflate->open &&
        (z->total_in > ch->inflate->expectIn || z->total_out > ch->inflate->expectOut))
        return Z_DATA_ERROR;
    return r;
}

int diDEInflateBlock(DiChannel* ch, uint8_t* out, const uint8_t* in, uint32_t* outRoom,
                     uint32_t* inLen) {
    if (!ch->inflate) return -1;
    z_stream* z = &ch->inflate->z;
    z->next_in = const_cast<uint8_t*>(in);
    z->avail_in = *inLen;
    int r = diDEInflateRun(ch, out, outRoom, inLen, *inLen);
    if (r == Z_STREAM_END) return 1;
    if (r != Z_OK) return -1;
    return (z->total_in == ch->inflate->expectIn && z->total_out == ch->inflate->expectOut) ? 1 : 0;
}

int diDEInflateBlockMore(DiChannel* ch, uint8_t* out, const uint8_t* in, uint32_t* outRoom,
                         uint32_t* inLen, int keepInput) {
    if (!ch->inflate) return -1;
    z_stream* z = &ch->inflate->z;
    if (!keepInput) {
        z->next_in = const_cast<uint8_t*>(in);
        z->avail_in = *inLen;
    }
    int r = diDEInflateRun(ch, out, outRoom, inLen, z->avail_in);
    if (r == Z_STREAM_END) return 1;
    if (r != Z_OK) return -1;
    int roomResult = z->avail_out == 0 ? 2 : 0;
    if (ch->inflate->open || z->total_in < ch->inflate->expectIn) return roomResult;
    return z->total_out == ch->inflate->expectOut ? 1 : roomResult;
}

void diDEInflateEnd(DiChannel* ch) {
    diDEZFree(&ch->inflate, true);
}

int diDEDeflateBegin(DiChannel* ch) {
    if (!ch->deflate) {
        DiZStream* zs = static_cast<DiZStream*>(calloc(1, sizeof(DiZStream)));
        if (!zs) return -1;
        if (deflateInit_(&zs->z, 3, "1.0.4", int(sizeof(z_stream))) != Z_OK) {
            free(zs);
            return -1;
        }
        ch->deflate = zs;
    }
    ch->deflate->z.total_in = 0;
    ch->deflate->z.total_out = 0;
    return 0;
}

void diDEDeflateEnd(DiChannel* ch) {
    diDEZFree(&ch->deflate, false);
}

int diDEDeflateWhole(DiChannel* ch, uint8_t* out, const uint8_t* in, uint32_t* outRoom,
                     uint32_t* inLen, uint32_t probe) {
    if (ch->deflate) {
        if (deflateReset(&ch->deflate->z) != Z_OK) diDEZFree(&ch->deflate, false);
    }
    if (!ch->deflate && diDEDeflateBegin(ch) < 0) return -1;
    z_stream* z = &ch->deflate->z;
    z->next_in = const_cast<uint8_t*>(in);
    z->next_out = out;
    z->avail_out = *outRoom;
    uint32_t total = *inLen;
    int r = Z_OK;
    bool shrank = true;
    if (probe && probe < total) {
        z->avail_in = probe;
        r = deflate(z, Z_SYNC_FLUSH);
        shrank = z->avail_in == 0 && *outRoom - z->avail_out < probe;
    }
    if (r == Z_OK && shrank) {
        z->avail_in = total - uint32_t(z->next_in - in);
        r = deflate(z, Z_FINISH);
    }
    *inLen = uint32_t(z->next_in - in);
    *outRoom -= z->avail_out;
    int result;
    if (r == Z_STREAM_END)
        result = 1;
    else if (r == Z_OK || r == Z_BUF_ERROR)
        result = shrank ? 0 : 2;
    else {
        diDEZFree(&ch->deflate, false);
        result = -1;
    }
    return result;
}

/* Display-engine manager assembly. */

DiDEManager* diDEManagerCreate(DiObject* parent, uint32_t engineType, int32_t w, int32_t h) {
    DdGC* gc = ddGDICreateGC();
    if (!gc) return nullptr;
    DiDEManager* m = ddDEMgrCreate(parent, w, h, gc);
    if (!m) {
        ddGDIFreeGC(gc);
        return nullptr;
    }
    DiObject* progress = nullptr;
    if (!ddDENoProgress()) {
        progress = diUICreateProgressWindow(&m->hdr, DI_OBJ_PROGRESS, w, h);
        if (!progress) goto fail;
    }
    if (engineType != 2) {
        DiChannel* ch = diDECreateChannel(&m->hdr, engineType, w, h);
        if (!ch) {
            diUIObjectRelease(progress);
            goto fail;
        }
        m->channel = ch;
    }
    m->progress = progress;
    return m;
fail:
    /* The manager's header holds gc; clear it so that it is freed once. */
    m->hdr.gc = nullptr;
    ddDEMgrDestroy(m);
    ddGDIFreeGC(gc);
    return nullptr;
}

void diDEManagerDestroy(DiDEManager* m) {
    if (!m) return;
    DiChannel* ch = m->channel;
    m->channel = nullptr;
    if (ch) diDEDestroyChannel(ch);
    DiObject* progress = m->progress;
    m->progress = nullptr;
    if (progress && !ddDENoProgress()) diUIObjectRelease(progress);
    diUIObjectRelease(&m->hdr);
}

void diDEManagerInit(DiDEManager* m, int32_t w, int32_t h) {
    diUIObjectInit(&m->hdr, DI_OBJ_DEMANAGER, w, h);
    m->channel = nullptr;
    m->progress = nullptr;
}

void diDEManagerFree(DiDEManager* m) {
    if (!m) return;
    diUIObjectFreeTitle(&m->hdr);
    free(m);
}

void diDEManagerActivate(DiDEManager* m, int on) {
    if (on) {
        if (m->progress && !ddProgIsExpanded(m->progress)) ddUIShowObjectWindow(m->progress, 0);
        if (m->channel) diDEChannelActivate(m->channel, 1);
    } else {
        if (m->channel) diDEChannelActivate(m->channel, 0);
        if (m->progress && !diSOIsLaunchDialogPending()) ddUIShowObjectWindow(m->progress, 1);
    }
}

void diDEAttach(DiObject* obj, DiObject* parent, DdGC* gc) {
    diUIObjectSetParent(obj, parent, gc);
    if (parent && parent->type == DI_OBJ_FRAME && reinterpret_cast<DiFrame*>(parent)->mode == 2)
        obj->background = 0;
}
