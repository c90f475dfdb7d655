#include "td_recorder.h"

#include "core/ditimer.h"
#include "ui/digdi.h"

#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>

TDRecord g_td;

namespace {

const uint64_t kPoison = 0xDEADull << 48;
const uint64_t kMark = 1ull << 63;

void put(int32_t x, int32_t y, uint64_t v) {
    TDCanvas& c = g_td.canvas;
    if (x >= 0 && y >= 0 && x < c.width && y < c.height) {
        c.px[size_t(y) * size_t(c.width) + size_t(x)] = v;
        if (!c.inverted.empty()) c.inverted[size_t(y) * size_t(c.width) + size_t(x)] = 0;
    }
}

void fillRect(int32_t x, int32_t y, int32_t w, int32_t h, uint64_t v) {
    const TDCanvas& c = g_td.canvas;
    int64_t x1 = int64_t(x) + w, y1 = int64_t(y) + h;
    if (x < 0) x = 0;
    if (y < 0) y = 0;
    w = int32_t((x1 < c.width ? x1 : c.width) - x);
    h = int32_t((y1 < c.height ? y1 : c.height) - y);
    for (int32_t j = y; j < y + h; j++)
        for (int32_t i = x; i < x + w; i++)
            put(i, j, v);
}

struct Strip {
    std::vector<std::vector<uint8_t>> cells{256};
};

void* createStrip(DdGC*, int32_t, int32_t) {
    g_td.liveStrips++;
    return new Strip;
}
void freeStrip(void* s) {
    g_td.liveStrips--;
    delete static_cast<Strip*>(s);
}
void putGlyph(void* s, int32_t, int32_t, uint32_t code, int32_t, int32_t height,
              const uint8_t* bits) {
    g_td.putGlyphs++;
    static_cast<Strip*>(s)->cells[code].assign(bits, bits + height);
}
void copyGlyph(DdGC*, void*, int32_t cw, int32_t chh, uint32_t code, int32_t x, int32_t y,
               uint32_t half, uint32_t fg, uint32_t bg) {
    int32_t h = half ? chh / 2 : chh;
    fillRect(x, y, cw, h, bg);
    put(x, y, kMark | (1ull << 62) | (uint64_t(code) << 24) | fg);
}
DiChar* fontFace(const DiChar*, uint32_t slot) {
    if (slot) return nullptr;
    DiChar* f = static_cast<DiChar*>(calloc(5, sizeof(DiChar)));
    memcpy(f, u"Mono", 4 * sizeof(DiChar));
    return f;
}
int32_t pointsToPixels(DdGC*, int32_t points) {
    return points * 96 / 72;
}
void textOut(DdGC*, int32_t x, int32_t y, int32_t cx, int32_t cy, int32_t cw, int32_t chh,
             const DiChar* text, int32_t count, const int32_t* adv, DiGDIFont*, uint32_t fg,
             uint32_t bg) {
    g_td.textCalls++;
    fillRect(cx, cy, cw, chh, bg);
    int32_t px = x;
    for (int32_t i = 0; i < count && px < g_td.canvas.width; i++) {
        if (text[i] != u' ' && px >= cx && px < cx + cw)
            put(px, cy, kMark | (uint64_t(y != cy) << 61) | (uint64_t(text[i]) << 24) | fg);
        px += adv[i];
    }
}
void moveWindow(DiObject*, int32_t, int32_t, int32_t, int32_t) {}
int fontMetrics(DdGC*, DiGDIFont* f, int32_t* w, int32_t* h, int32_t* a) {
    *h = g_td.fontH ? g_td.fontH : f->height;
    *w = g_td.fontW ? g_td.fontW : f->width ? f->width : (f->height + 1) / 2;
    *a = *h * 3 / 4;
    return 0;
}
void fill(DdGC*, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour) {
    g_td.fills++;
    fillRect(x, y, w, h, colour);
}
void scroll(DdGC*, int32_t dx, int32_t dy, int32_t x, int32_t y, int32_t w, int32_t h) {
    g_td.scrollCalls++;
    TDCanvas before = g_td.canvas;
    fillRect(x, y, w, h, kPoison);
    int32_t xe = int32_t(std::min<int64_t>(int64_t(x) + w, before.width));
    int32_t ye = int32_t(std::min<int64_t>(int64_t(y) + h, before.height));
    for (int32_t j = y < 0 ? 0 : y; j < ye; j++)
        for (int32_t i = x < 0 ? 0 : x; i < xe; i++)
            if (i >= 0 && j >= 0 && i < before.width && j < before.height)
                put(i + dx, j + dy, before.at(i, j));
}
void caretCreate(DdGC*, int32_t w, int32_t h) {
    g_td.caretWidth = w;
    g_td.caretHeight = h;
    if (!w) g_td.caretShown = false;
}
void caretMove(DdGC*, int32_t x, int32_t y) {
    g_td.caretX = x;
    g_td.caretY = y;
}
void caretShow(DdGC*, int show) {
    g_td.caretShown = show != 0;
}
void beep() {
    g_td.beeps++;
}
void invert(DdGC*, int32_t x, int32_t y, int32_t w, int32_t h) {
    TDCanvas& c = g_td.canvas;
    c.inverted.resize(c.px.size());
    for (int32_t j = std::max(y, 0); j < std::min(y + h, c.height); j++)
        for (int32_t i = std::max(x, 0); i < std::min(x + w, c.width); i++)
            c.inverted[size_t(j) * size_t(c.width) + size_t(i)] ^= 1;
}
int viewScrolled(DiObject*) {
    return g_td.viewW > 0;
}
void scrollView(DiObject*, int32_t dx, int32_t dy) {
    g_td.viewX = std::max(0, std::min(g_td.viewX + dx, g_td.canvas.width - g_td.viewW));
    g_td.viewY = std::max(0, std::min(g_td.viewY + dy, g_td.canvas.height - g_td.viewH));
}
void scrollToPoint(DiObject*, int32_t x, int32_t y) {
    g_td.scrolledTo.push_back({x, y});
}
void viewArea(DiObject*, int32_t* x, int32_t* y, int32_t* w, int32_t* h) {
    *x = g_td.viewX;
    *y = g_td.viewY;
    *w = g_td.viewW ? g_td.viewW : g_td.canvas.width;
    *h = g_td.viewH ? g_td.viewH : g_td.canvas.height;
}

} // namespace

const DiTDOps g_tdRecordingOps = {
    createStrip, freeStrip,  putGlyph,    copyGlyph,    fontFace,   pointsToPixels, textOut,
    nullptr,     moveWindow, fontMetrics, fill,         scroll,     caretCreate,    caretMove,
    caretShow,   beep,       invert,      viewScrolled, scrollView, viewArea,       scrollToPoint};

uint64_t tdTextMark(uint32_t ch, uint32_t fg) {
    return kMark | (uint64_t(ch) << 24) | fg;
}

// The platform half of the font cache: records without platform fonts.
DiGDIFont* ddGDICreateFont(DdGC*, const DiChar* face, int32_t w, int32_t h, uint32_t bold,
                           uint32_t ee) {
    DiGDIFont* f = diGDIFontNew(face, w, h, bold, ee);
    if (f) diGDIFontAppend(f);
    return f;
}
void ddGDIDeleteFont(DdGC*, DiGDIFont* font) {
    diGDIFontUnlink(font);
    diGDIFontFreeRecord(font);
}

TDRig::TDRig(int32_t width, int32_t height) {
    fakesReset();
    g_td = TDRecord();
    g_td.canvas.width = width;
    g_td.canvas.height = height;
    g_td.canvas.px.assign(size_t(width) * size_t(height), kPoison);
    diUIObjectInit(&mgr.hdr, DI_OBJ_DEMANAGER, width, height);
    mgr.progress = &progress;
    diTDEInit(t.get(), width, height);
    diTDEBindChannel(&t->ch, &mgr.hdr, &gc, &sock);
    t->ops = &g_tdRecordingOps;
    DiClientInfo info{};
    info.platform = const_cast<DiChar*>(u"Win32");
    info.osVersion = const_cast<DiChar*>(u"6.1");
    DiEvent ev{};
    ev.w[0] = DI_EV_OPEN;
    ev.ptr = &info;
    diTDEHandleEvent(&t->ch.hdr, &ev);
}

TDRig::~TDRig() {
    t->ch.socket = nullptr;
    t->ch.hdr.gc = nullptr;
    diTDEReset(t.get());
}

int TDRig::feed(const std::string& bytes, size_t chunk) {
    if (!chunk) chunk = bytes.size() ? bytes.size() : 1;
    for (size_t i = 0; i < bytes.size(); i += chunk)
        g_fakeNet.incoming.push_back(bytes.substr(i, chunk));
    int rc = 0;
    for (int guard = 0; guard < 100000; guard++) {
        if (DiTimer* resume = t->ch.resumeTimer) {
            // The time slice held bytes back: what its timer runs, at once.
            diTimerRemove(resume);
            diDEChannelResume(&t->ch);
            continue;
        }
        size_t pieces = g_fakeNet.incoming.size(), taken = g_fakeNet.offset;
        uint32_t held = t->ch.in.used;
        rc = diTAIPReadInput(t.get());
        if (rc < 0 || t->ch.stopReading) break;
        bool moved = g_fakeNet.incoming.size() != pieces || g_fakeNet.offset != taken ||
                     t->ch.in.used != held;
        if (g_fakeNet.incoming.empty() && !moved && !t->ch.resumeTimer) break;
    }
    // The output has paused: what was left to the pacing timer is painted.
    diTDPaint(t.get());
    return rc;
}

int TDRig::event(uint32_t type, uint32_t w1, uint32_t w2, uint32_t w3) {
    DiEvent ev{};
    ev.w[0] = type;
    ev.w[1] = w1;
    ev.w[2] = w2;
    ev.w[3] = w3;
    return diTDEHandleEvent(&t->ch.hdr, &ev);
}

std::string TDRig::sentAndClear() {
    std::string s = g_fakeNet.sent;
    g_fakeNet.sent.clear();
    return s;
}

TDCanvas TDRig::fullRepaint() {
    TDCanvas saved = g_td.canvas;
    g_td.canvas.px.assign(g_td.canvas.px.size(), kPoison);
    DiEvent ev{};
    ev.w[0] = DI_EV_EXPOSE;
    ev.w[4] = uint32_t(g_td.canvas.width);
    ev.w[5] = uint32_t(g_td.canvas.height);
    diTDEHandleEvent(&t->ch.hdr, &ev);
    TDCanvas full = g_td.canvas;
    g_td.canvas = saved;
    return full;
}

std::string tdMsg(uint8_t type, const std::string& payload) {
    std::string m(1, char(type));
    m += char(payload.size() & 0xFF);
    m += char(payload.size() >> 8);
    return m + payload;
}

std::string tdStart(int rows, int columns, const std::string& tail) {
    std::string p("\0\0\0\0", 4);
    p += char(rows);
    p += char(columns);
    p += std::string("\0\0", 2);         // text 1
    p += std::string("\x0c\x10\0\0", 4); // caret 12..16, flags
    p += std::string("\x04\0Font", 6);   // text 2: the setting name
    p += std::string("\x0a\0", 2);       // 10 points
    p += char(0);                        // fitted to the window
    p += std::string("\0\0\0\0", 4);     // texts 3 and 4
    return tdMsg(6, p + tail);
}

std::string tdBlocks(const std::string& plain, size_t blockSize, bool oneStream) {
    std::string out;
    z_stream z{};
    if (oneStream) deflateInit(&z, 6);
    for (size_t i = 0; i < plain.size(); i += blockSize) {
        std::string piece = plain.substr(i, blockSize);
        std::string comp(piece.size() + 64 + piece.size() / 8, '\0');
        if (!oneStream) {
            deflateInit(&z, 6);
        }
        z.next_in = reinterpret_cast<Bytef*>(&piece[0]);
        z.avail_in = uInt(piece.size());
        z.next_out = reinterpret_cast<Bytef*>(&comp[0]);
        z.avail_out = uInt(comp.size());
        deflate(&z, oneStream ? Z_SYNC_FLUSH : Z_FINISH);
        comp.resize(comp.size() - z.avail_out);
        if (!oneStream) deflateEnd(&z);
        size_t len = comp.size() + 2;
        out += char(0x80);
        out += char(len & 0xFF);
        out += char(len >> 8);
        out += char(piece.size() & 0xFF);
        out += char(piece.size() >> 8);
        out += comp;
    }
    if (oneStream) deflateEnd(&z);
    return out;
}
