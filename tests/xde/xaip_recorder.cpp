#include "xaip_recorder.h"

#include <stdio.h>

XRecorder g_xrec;

std::string xaipHex(const uint8_t* p, uint32_t n) {
    if (n == 0) return "-";
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(size_t(n) * 2);
    for (uint32_t i = 0; i < n; i++) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

namespace {

std::string text16(const DiChar* t, uint32_t n) {
    if (n == 0) return "-";
    std::string s;
    char u[8];
    for (uint32_t i = 0; i < n; i++) {
        snprintf(u, sizeof u, "%04x", unsigned(t[i]));
        s += u;
    }
    return s;
}

struct Line {
    std::string s;
    explicit Line(const char* name) : s(name) {}
    Line& n(int64_t v) {
        s += ' ' + std::to_string(v);
        return *this;
    }
    Line& hex(const uint8_t* p, uint32_t len) {
        s += ' ' + xaipHex(p, len);
        return *this;
    }
    Line& text(const DiChar* t, uint32_t len) {
        s += ' ' + text16(t, len);
        return *this;
    }
    Line& image(const DiXImage* im) {
        return n(im->width).n(im->height).n(im->depth).n(im->compression).hex(im->data, im->length);
    }
    Line& list(int32_t count, const int32_t* xy, int fields) {
        n(count);
        for (int32_t i = 0; i < count * fields; i++) n(xy[i]);
        return *this;
    }
    ~Line() {}
};

void rec(DiXDisplay* d, const Line& l) {
    if (!g_xrec.closeOn.empty() && l.s.compare(0, g_xrec.closeOn.size(), g_xrec.closeOn) == 0)
        d->ch.open = 0;
    g_xrec.lines.push_back(l.s);
}

DiXRequestOps makeOps() {
    DiXRequestOps o = {};
    o.putImage = [](DiXDisplay* d, int32_t x, int32_t y, const DiXImage* im) {
        rec(d, Line("PutImage").n(x).n(y).image(im));
    };
    o.storeColors = [](DiXDisplay* d, int32_t count, const uint8_t* e) {
        rec(d, Line("StoreColors").n(count).hex(e, uint32_t(count) * 4));
    };
    o.bell = [](DiXDisplay* d) { rec(d, Line("Bell")); };
    o.sessionStatus = [](DiXDisplay* d, int32_t k, int32_t c) {
        rec(d, Line("SessionStatus").n(k).n(c));
    };
    o.polyLine = [](DiXDisplay* d, int32_t c, const int32_t* xy) {
        rec(d, Line("PolyLine").list(c, xy, 2));
    };
    o.polySegment = [](DiXDisplay* d, int32_t c, const int32_t* xy) {
        rec(d, Line("PolySegment").list(c, xy, 4));
    };
    o.polyRectangle = [](DiXDisplay* d, int32_t c, const int32_t* xy) {
        rec(d, Line("PolyRectangle").list(c, xy, 4));
    };
    o.polyFillRectangle = [](DiXDisplay* d, int32_t c, const int32_t* xy) {
        rec(d, Line("PolyFillRectangle").list(c, xy, 4));
    };
    o.fillPolygon = [](DiXDisplay* d, uint32_t shape, int32_t c, const int32_t* xy) {
        rec(d, Line("FillPolygon").n(shape).list(c, xy, 2));
    };
    o.copyArea = [](DiXDisplay* d, uint32_t k, uint32_t id, int32_t sx, int32_t sy, int32_t dx,
                    int32_t dy, int32_t w, int32_t h) {
        rec(d, Line("CopyArea").n(k).n(id).n(sx).n(sy).n(dx).n(dy).n(w).n(h));
    };
    o.setStandardCursor = [](DiXDisplay* d, uint32_t i) { rec(d, Line("SetStandardCursor").n(i)); };
    o.createWindow = [](DiXDisplay* d, uint32_t id, int32_t x, int32_t y, int32_t w, int32_t h,
                        uint32_t style, uint32_t mode, uint32_t owner, uint32_t frame) {
        rec(d, Line("CreateWindow").n(id).n(x).n(y).n(w).n(h).n(style).n(mode).n(owner).n(frame));
    };
    o.destroyWindow = [](DiXDisplay* d, uint32_t id) { rec(d, Line("DestroyWindow").n(id)); };
    o.showWindow = [](DiXDisplay* d, uint32_t id, uint32_t m) {
        rec(d, Line("ShowWindow").n(id).n(m));
    };
    o.configureWindow = [](DiXDisplay* d, uint32_t id, int32_t x, int32_t y, int32_t w,
                           int32_t h) {
        rec(d, Line("ConfigureWindow").n(id).n(x).n(y).n(w).n(h).n(d->frameValue));
    };
    o.setDrawable = [](DiXDisplay* d, uint32_t k, uint32_t id) {
        rec(d, Line("SetDrawable").n(k).n(id));
    };
    o.setForeground = [](DiXDisplay* d, uint32_t v) { rec(d, Line("SetForeground").n(v)); };
    o.setBackground = [](DiXDisplay* d, uint32_t v) { rec(d, Line("SetBackground").n(v)); };
    o.setFunction = [](DiXDisplay* d, uint32_t v) { rec(d, Line("SetFunction").n(v)); };
    o.setTile = [](DiXDisplay* d, uint32_t v) { rec(d, Line("SetTile").n(v)); };
    o.setStipple = [](DiXDisplay* d, uint32_t v) { rec(d, Line("SetStipple").n(v)); };
    o.setTSOrigin = [](DiXDisplay* d, int32_t x, int32_t y) {
        rec(d, Line("SetTSOrigin").n(x).n(y));
    };
    o.setFillStyle = [](DiXDisplay* d, uint32_t v) { rec(d, Line("SetFillStyle").n(v)); };
    o.createPixmap = [](DiXDisplay* d, uint32_t id, int32_t w, int32_t h, uint32_t depth) {
        rec(d, Line("CreatePixmap").n(id).n(w).n(h).n(depth));
    };
    o.freePixmap = [](DiXDisplay* d, uint32_t v) { rec(d, Line("FreePixmap").n(v)); };
    o.setGCField6 = [](DiXDisplay* d, uint32_t v) { rec(d, Line("SetGCField6").n(v)); };
    o.setFont = [](DiXDisplay* d, uint32_t v) { rec(d, Line("SetFont").n(v)); };
    o.setPlaneMask = [](DiXDisplay* d, uint32_t v) { rec(d, Line("SetPlaneMask").n(v)); };
    o.polyText8 = [](DiXDisplay* d, int32_t x, int32_t y, int32_t c, const uint8_t* g) {
        rec(d, Line("PolyText8").n(x).n(y).n(c).hex(g, uint32_t(c)));
    };
    o.imageText8 = [](DiXDisplay* d, int32_t x, int32_t y, int32_t c, const uint8_t* g) {
        rec(d, Line("ImageText8").n(x).n(y).n(c).hex(g, uint32_t(c)));
    };
    o.openFont = [](DiXDisplay* d, uint32_t v) { rec(d, Line("OpenFont").n(v)); };
    o.closeFont = [](DiXDisplay* d, uint32_t v) { rec(d, Line("CloseFont").n(v)); };
    o.defineGlyph = [](DiXDisplay* d, uint32_t f, uint32_t g, int32_t w, int32_t h, int32_t m1,
                       int32_t m2, int32_t m3) {
        rec(d, Line("DefineGlyph").n(f).n(g).n(w).n(h).n(m1).n(m2).n(m3));
    };
    o.putGlyphBits = [](DiXDisplay* d, uint32_t g, int32_t x, int32_t y, const DiXImage* im) {
        rec(d, Line("PutGlyphBits").n(g).n(x).n(y).image(im));
    };
    o.freeGlyph = [](DiXDisplay* d, uint32_t f, uint32_t g) {
        rec(d, Line("FreeGlyph").n(f).n(g));
    };
    o.setGCMode = [](DiXDisplay* d, uint32_t m) {
        rec(d, Line("SetGCMode").n(m));
    };
    o.measureDrawing = [](DiXDisplay* d) { rec(d, Line("MeasureDrawing")); };
    o.copyPlane = [](DiXDisplay* d, uint32_t k, uint32_t id, int32_t sx, int32_t sy, int32_t dx,
                     int32_t dy, int32_t w, int32_t h, uint32_t mask) {
        rec(d, Line("CopyPlane").n(k).n(id).n(sx).n(sy).n(dx).n(dy).n(w).n(h).n(mask));
    };
    o.startSession = [](DiXDisplay* d, uint32_t f, uint32_t delay, int32_t w, int32_t h,
                        uint32_t depth, uint32_t f2) {
        Line l("StartSession");
        l.n(f).n(delay).n(w).n(h).n(depth).n(f2).text(d->serverName, d->serverNameLength);
        rec(d, l.hex(d->ownerBlock, d->ownerBlockLength));
    };
    o.showStatusText = [](DiXDisplay* d, const DiChar* t, uint32_t n) {
        rec(d, Line("ShowStatusText").text(t, n));
    };
    o.clipboardData = [](DiXDisplay* d, const DiXClipChunk* k) {
        rec(d, Line("ClipboardData").n(k->flags).n(k->total).n(k->hasIds).n(k->formatId)
                   .n(k->ownerId).text(k->name, k->nameLength).hex(k->data, k->length));
    };
    o.setWindowTitle = [](DiXDisplay* d, uint32_t id, const DiChar* t, uint32_t n) {
        rec(d, Line("SetWindowTitle").n(id).text(t, n));
    };
    o.setIconTitle = [](DiXDisplay* d, uint32_t id, const DiChar* t, uint32_t n) {
        rec(d, Line("SetIconTitle").n(id).text(t, n));
    };
    o.setWindowIconImage = [](DiXDisplay* d, uint32_t id, const DiXImage* im, const DiXImage* m) {
        Line l("SetWindowIconImage");
        l.n(id).image(im);
        if (m)
            l.image(m);
        else
            l.s += " nomask";
        rec(d, l);
    };
    o.setSizeHints = [](DiXDisplay* d, uint32_t id, uint32_t a, uint32_t b, uint32_t c,
                        uint32_t e) { rec(d, Line("SetSizeHints").n(id).n(a).n(b).n(c).n(e)); };
    o.updateWindow = [](DiXDisplay* d, uint32_t id) { rec(d, Line("UpdateWindow").n(id)); };
    o.putSubImage = [](DiXDisplay* d, int32_t x, int32_t y, int32_t rows, int32_t first,
                       int32_t step, const DiXImage* im) {
        rec(d, Line("PutSubImage").n(x).n(y).n(rows).n(first).n(step).image(im));
    };
    o.propertyChanged = [](DiXDisplay* d, uint32_t op, const DiChar* w, uint32_t wn,
                           const DiChar* n, uint32_t nn, const DiChar* v, uint32_t vn) {
        rec(d, Line("PropertyChanged").n(op).text(w, wn).text(n, nn).text(v, vn));
    };
    o.setPointerGrab = [](DiXDisplay* d, uint32_t id, uint32_t f) {
        rec(d, Line("SetPointerGrab").n(id).n(f));
    };
    o.createCursor = [](DiXDisplay* d, uint32_t id, uint32_t w, uint32_t h, uint32_t depth,
                        uint32_t hx, uint32_t hy, uint32_t fg, uint32_t bg, const uint8_t* mask,
                        const uint8_t* src, uint32_t len) {
        rec(d, Line("CreateCursor").n(id).n(w).n(h).n(depth).n(hx).n(hy).n(fg).n(bg)
                   .hex(mask, len).hex(src, len));
    };
    o.setCursor = [](DiXDisplay* d, uint32_t id) { rec(d, Line("SetCursor").n(id)); };
    o.selectionTargets = [](DiXDisplay* d, int32_t declared, int32_t count,
                            const DiXFormatEntry* e, int32_t flag) {
        Line l("SelectionTargets");
        l.n(declared).n(count);
        for (int32_t i = 0; i < count; i++) l.n(e[i].formatId).hex(e[i].name, e[i].nameLength);
        rec(d, l.n(flag));
    };
    o.requestSelection = [](DiXDisplay* d, const DiChar* t, uint32_t n) {
        rec(d, Line("RequestSelection").text(t, n));
    };
    o.restackWindow = [](DiXDisplay* d, uint32_t id, uint32_t m, uint32_t s) {
        rec(d, Line("RestackWindow").n(id).n(m).n(s));
    };
    o.createColorCursor = [](DiXDisplay* d, uint32_t id, uint32_t w, uint32_t h, uint32_t hx,
                             uint32_t hy, const uint8_t* px, uint32_t len) {
        rec(d, Line("CreateColorCursor").n(id).n(w).n(h).n(hx).n(hy).hex(px, len));
    };
    o.flushDueUpdates = [](DiXDisplay*) { g_xrec.flushes++; };
    return o;
}

const DiXRequestOps kOps = makeOps();

} // namespace

const DiXRequestOps* xaipRecordingOps() {
    return &kOps;
}
