#include "fakes/chan_fakes.h"

#include "core/ditimer.h"
#include "devices/didevice.h"
#include "devices/diiochan.h"
#include "ui/dicolor.h"
#include "ui/digdi.h"
#include "ui/diprog.h"

#include <stdlib.h>
#include <string.h>

FakeNet g_fakeNet;
FakeUI g_fakeUI;
void (*g_fakeProgDetails)(const DiChar*) = nullptr;
FakeChannels g_fakeChannels;

void fakesReset() {
    g_fakeNet = FakeNet();
    g_fakeUI = FakeUI();
    g_fakeChannels = FakeChannels();
}

int ddNetRecv(DdSocket* s, void* buf, int len) {
    if (g_fakeNet.recvFails) {
        s->error = DD_NET_ERR_FAILED;
        return -1;
    }
    if (g_fakeNet.incoming.empty()) {
        if (g_fakeNet.closed) return 0;
        s->error = DD_NET_ERR_WOULD_BLOCK;
        return -1;
    }
    const std::string& chunk = g_fakeNet.incoming.front();
    size_t left = chunk.size() - g_fakeNet.offset;
    size_t n = left < size_t(len) ? left : size_t(len);
    memcpy(buf, chunk.data() + g_fakeNet.offset, n);
    g_fakeNet.offset += n;
    if (g_fakeNet.offset == chunk.size()) {
        g_fakeNet.incoming.pop_front();
        g_fakeNet.offset = 0;
    }
    return int(n);
}

int ddNetSend(DdSocket* s, const void* buf, int len) {
    if (g_fakeNet.sendFails) {
        s->error = DD_NET_ERR_FAILED;
        return -1;
    }
    size_t n = size_t(len) < g_fakeNet.sendRoom ? size_t(len) : g_fakeNet.sendRoom;
    if (n == 0) {
        s->error = DD_NET_ERR_WOULD_BLOCK;
        return -1;
    }
    if (g_fakeNet.sendRoom != SIZE_MAX) g_fakeNet.sendRoom -= n;
    g_fakeNet.sentCount += n;
    if (!g_fakeNet.keepSent) {
        char* sink = g_fakeNet.sink;
        for (size_t at = 0; at < n; at += sizeof g_fakeNet.sink)
            memcpy(sink, static_cast<const char*>(buf) + at,
                   n - at < sizeof g_fakeNet.sink ? n - at : sizeof g_fakeNet.sink);
        return int(n);
    }
    g_fakeNet.sent.append(static_cast<const char*>(buf), n);
    g_fakeNet.sentBy[s].append(static_cast<const char*>(buf), n);
    return int(n);
}

void ddNetSelectEvents(DdSocket* s, uint32_t which, uint32_t values) {
    g_fakeNet.selects.push_back({which, values});
    /* The registration is kept as the real sockets keep it. */
    uint32_t fdWhich = diNetInterestToFd(which);
    if (s) s->eventMask = (s->eventMask & ~fdWhich) | diNetInterestToFd(values & which);
}

int ddNetWaitWritable(DdSocket*, uint32_t) {
    g_fakeNet.waits++;
    return 0;
}

DdSocket* ddNetSocketCreate() {
    if (g_fakeNet.createFails) return nullptr;
    DdSocket* s = static_cast<DdSocket*>(calloc(1, sizeof(DdSocket)));
    s->handle = DD_NET_NO_HANDLE;
    diNetLink(s);
    // A destroyed socket's address may come back: the new socket starts
    // with no bytes sent (the old record stays readable until then).
    g_fakeNet.sentBy.erase(s);
    g_fakeNet.created++;
    return s;
}

void ddNetSocketDestroy(DdSocket* s) {
    if (!s || s->destroyed) return;
    diNetUnlink(s);
    g_fakeNet.destroyed++;
    s->destroyed = 1;
    if (s->holdCount == 0) free(s);
}

int ddNetSocketClose(DdSocket* s) {
    g_fakeNet.closes++;
    if (s) s->handle = DD_NET_NO_HANDLE;
    return 0;
}

DdGC* ddGDICreateGC() {
    if (g_fakeUI.gcFails) return nullptr;
    g_fakeUI.gcCreated++;
    return new DdGC();
}

void ddGDIFreeGC(DdGC* gc) {
    g_fakeUI.gcFreed++;
    delete gc;
}

void ddGDISetFunction(DdGC* gc, uint32_t f) {
    gc->function = f;
}
void ddGDISetForeground(DdGC* gc, uint32_t c) {
    gc->foreground = c;
}
void ddGDIFillRect(DdGC* gc, int32_t x, int32_t y, int32_t w, int32_t h) {
    gc->fills.push_back({x, y, w, h, int32_t(gc->foreground), int32_t(gc->function)});
}

DiFrame* ddUIFrameCreate(uint32_t, DdGC* gc) {
    if (g_fakeUI.frameFails) return nullptr;
    DiFrame* f = static_cast<DiFrame*>(calloc(1, sizeof(DiFrame)));
    diUIFrameInit(f, 0, 0);
    f->hdr.gc = gc;
    return f;
}

void ddUIFrameFree(DiFrame* f) {
    g_fakeUI.framesFreed++;
    diUIObjectFreeTitle(&f->hdr);
    free(f);
}

void ddUILayoutFrame(DiFrame*) {}
void ddUIShowObjectWindow(DiObject* obj, int show) {
    g_fakeUI.shows.push_back({obj, show});
}
void ddUIUpdateScrollRange(DiObject*) {
    g_fakeUI.scrollRangeUpdates++;
}
void ddUIUpdateScrollPos(DiObject*) {
    g_fakeUI.scrollPosUpdates++;
}
void ddUIDisableIME(DiObject*) {}
void ddUIForgetRoot(DiObject* frame) {
    g_fakeUI.forgottenRoot = frame;
}

DiObject* ddProgCreate(DiObject*, int32_t w, int32_t h, DdGC* gc) {
    if (g_fakeUI.progressFails) return nullptr;
    DiObject* p = static_cast<DiObject*>(calloc(1, sizeof(DiObject)));
    diUIObjectInit(p, DI_OBJ_PROGRESS, w, h);
    p->gc = gc;
    g_fakeUI.progressCreated++;
    return p;
}

void ddProgDestroy(DiObject* p) {
    g_fakeUI.progressDestroyed++;
    g_fakeUI.gcAtDestroy = p->gc;
    free(p);
}

int ddProgIsExpanded(DiObject*) {
    return 0;
}

void diProgSetState(DiObject*, int32_t state, int32_t detail) {
    g_fakeUI.states.push_back(state);
    g_fakeUI.details.push_back(detail);
}
uint32_t diProgSetAutoDetails(DiObject*, uint32_t flag) {
    g_fakeUI.autoDetails = flag;
    return flag;
}
void ddProgStopTimer(DiObject*) {}
void ddProgShowDetails(DiObject*, int shown) {
    g_fakeUI.detailsShown = shown;
}
void ddProgEnableDetails(DiObject*, int enabled) {
    g_fakeUI.detailsEnabled = enabled;
}
int diProgAppendDetails(DiObject*, int32_t, const DiChar* text) {
    if (g_fakeProgDetails) g_fakeProgDetails(text);
    return 0;
}

DiDEManager* ddDEMgrCreate(DiObject* parent, int32_t w, int32_t h, DdGC* gc) {
    if (g_fakeUI.managerFails) return nullptr;
    DiDEManager* m = static_cast<DiDEManager*>(calloc(1, sizeof(DiDEManager)));
    diDEManagerInit(m, w, h);
    diDEAttach(&m->hdr, parent, gc);
    return m;
}

void ddDEMgrDestroy(DiDEManager* m) {
    g_fakeUI.managersDestroyed++;
    diDEManagerFree(m);
}

void ddColorReserveSystemColors(DdColorMap*) {}

void ddDESetCodePage(DiChannel* ch) {
    diDESetCodePageKind(ch, g_fakeUI.codePage);
}
DiClientInfo* ddDEGetClientInfo() {
    return &g_fakeUI.clientInfo;
}
int ddDENoProgress() {
    return g_fakeUI.noProgress;
}

static DiChannel* fakeCtor(uint32_t type, int32_t v1, int32_t v2, DdGC* gc, DdSocket* s) {
    g_fakeChannels.log.push_back("c" + std::to_string(type));
    g_fakeChannels.gcs.push_back(gc);
    g_fakeChannels.sockets.push_back(s);
    if (!g_fakeChannels.ctorSucceeds) return nullptr;
    // Room for the IO channel's fields, which the outpost fills on the
    // drive, audio and device channels.
    DiChannel* ch = static_cast<DiChannel*>(calloc(1, sizeof(DiIOChannel)));
    diDEChannelInit(ch, type, v1, v2);
    if (g_fakeChannels.handler) ch->hdr.handler = g_fakeChannels.handler;
    if (g_fakeChannels.bufferLimit) ch->in.limit = ch->out.limit = g_fakeChannels.bufferLimit;
    diChannelAttachConnection(ch, s);
    return ch;
}

static void fakeDestroy(DiChannel* ch) {
    g_fakeChannels.log.push_back("d" + std::to_string(ch->hdr.type));
    for (DiChar* t : reinterpret_cast<DiIOChannel*>(ch)->texts)
        free(t);
    diDEChannelFree(ch);
    free(ch);
}

DiChannel* ddXDECreate(DiObject*, int32_t v1, int32_t v2, DdGC* gc, DdSocket* s) {
    return fakeCtor(5, v1, v2, gc, s);
}
DiChannel* ddTDECreate(DiObject*, int32_t v1, int32_t v2, DdGC* gc, DdSocket* s) {
    return fakeCtor(6, v1, v2, gc, s);
}
DiChannel* ddPrintCreate(DdSocket* s) {
    if (g_fakeChannels.printCtor) return g_fakeChannels.printCtor(s);
    return fakeCtor(11, 0, 0, nullptr, s);
}
DiChannel* ddCDMCreate(DdSocket* s) {
    return fakeCtor(12, 0, 0, nullptr, s);
}
DiChannel* ddListenerChannelCreate(DdSocket* s) {
    return fakeCtor(13, 0, 0, nullptr, s);
}
DiChannel* ddSOAPChannelCreate(DdSocket* s) {
    if (g_fakeChannels.soapCtor) return g_fakeChannels.soapCtor(s);
    return fakeCtor(14, 0, 0, nullptr, s);
}
DiChannel* ddAudioCreate(DdSocket* s) {
    return fakeCtor(15, 0, 0, nullptr, s);
}
DiChannel* ddDevListCreate(DdSocket* s) {
    return fakeCtor(16, 0, 0, nullptr, s);
}
void ddXDEDestroy(DiChannel* ch) {
    fakeDestroy(ch);
}
void ddTDEDestroy(DiChannel* ch) {
    fakeDestroy(ch);
}
void ddPrintDestroy(DiChannel* ch) {
    if (g_fakeChannels.printDtor) return g_fakeChannels.printDtor(ch);
    fakeDestroy(ch);
}
void ddCDMDestroy(DiChannel* ch) {
    fakeDestroy(ch);
}
void ddListenerChannelDestroy(DiChannel* ch) {
    fakeDestroy(ch);
}
void ddSOAPChannelDestroy(DiChannel* ch) {
    if (g_fakeChannels.soapDtor) return g_fakeChannels.soapDtor(ch);
    fakeDestroy(ch);
}
void ddAudioDestroy(DiChannel* ch) {
    fakeDestroy(ch);
}
void ddDevListDestroy(DiChannel* ch) {
    fakeDestroy(ch);
}

// The Windows side of the timer list: plain records on the channel
// framework's clock, which the tests may replace.
DiTimer* ddTimerAlloc(uint32_t) {
    return static_cast<DiTimer*>(calloc(1, sizeof(DiTimer)));
}
void ddTimerFree(DiTimer* t) {
    free(t);
}
uint32_t ddTimerNow(void) {
    return diDEClock();
}
