#include "recording_device.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <zlib.h>

RecordingDevice g_rdev;

// Lines are formatted only while the device records.
#define LOGLINE(line)                                                                      \
    do {                                                                                   \
        if (g_rdev.record) g_rdev.log.push_back(line);                                     \
    } while (0)

namespace {

std::string fmt(const char* f, ...) __attribute__((format(printf, 1, 2)));
std::string fmt(const char* f, ...) {
    char buf[256];
    va_list ap;
    va_start(ap, f);
    vsnprintf(buf, sizeof buf, f, ap);
    va_end(ap);
    return buf;
}

bool failing(const char* slot) {
    return g_rdev.fail.count(slot) != 0;
}

void add(const void* p, const char* kind) {
    g_rdev.live[p] = kind;
}
void drop(const void* p) {
    g_rdev.live.erase(p);
}

int createColormap(DiXDisplay*, DiXColormap* c) {
    LOGLINE("0");
    if (failing("0")) return -1;
    add(c, "colormap");
    return 0;
}
void storeColors(DiXDisplay*, DiXColormap*, uint32_t first, uint32_t count) {
    LOGLINE(fmt("1 %u %u", first, count));
}
void installColormap(DiXDisplay*, DiXColormap*) {
    LOGLINE("2");
}
void freeColormap(DiXDisplay*, DiXColormap* c) {
    LOGLINE("3");
    drop(c);
}
void setupBuffer(FbBuffer* b, const DiXDrawable* h) {
    b->width = h->width;
    b->height = h->height;
    b->depth = h->depth;
    b->bytesPerPixel = h->depth == 24 ? 3 : h->depth / 8;
}
int createPixmap(DiXDisplay* d, DiXPixmap* p) {
    LOGLINE(fmt("4 %u %d %d %u", p->head.id, p->head.width, p->head.height,
                             p->head.depth));
    if (failing("4")) return -1;
    setupBuffer(&p->head.fb, &p->head);
    if (fbCreatePixmap(d, &p->head.fb) < 0) return -1;
    add(p, "pixmap");
    return 0;
}
void freePixmap(DiXDisplay* d, DiXPixmap* p) {
    LOGLINE(fmt("5 %u", p->head.id));
    fbDestroyPixmap(d, &p->head.fb);
    drop(p);
}
int createGC(DiXDisplay* d, DiXGC* gc) {
    LOGLINE("6");
    if (failing("6") || fbCreateGC(d, &gc->fb) < 0) return -1;
    add(gc, "gc");
    return 0;
}
void validateGC(DiXDisplay* d, DiXDrawable* dr, DiXGC* gc) {
    LOGLINE(fmt("7 %u %u", dr->kind, dr->id));
    fbValidateGC(d, &dr->fb, &gc->fb);
    if (dr->kind == 0) gc->fb.damageFlags |= g_rdev.addDamageFlags;
}
void freeGC(DiXDisplay* d, DiXGC* gc) {
    LOGLINE("8");
    fbDestroyGC(d, &gc->fb);
    drop(gc);
}
int createFont(DiXDisplay*, DiXFont* f) {
    LOGLINE(fmt("9 %u", f->id));
    if (failing("9")) return -1;
    add(f, "font");
    return 0;
}
void freeFont(DiXDisplay*, DiXFont* f) {
    LOGLINE(fmt("10 %u", f->id));
    drop(f);
}
int createGlyph(DiXDisplay* d, DiXFont* f, DiXGlyph* g) {
    LOGLINE(fmt("11 %u %u", f->id, g->index));
    if (failing("11") || fbCreateGlyph(d, f, &g->fb) < 0) return -1;
    add(g, "glyph");
    return 0;
}
void putGlyphBits(DiXDisplay* d, DiXFont* f, DiXGlyph* g, int32_t x, int32_t y, int32_t w,
                  int32_t h, uint32_t compression, uint32_t length, const uint8_t* data) {
    LOGLINE(fmt("12 %u %u", f->id, g->index));
    fbPutGlyphImage(d, f, &g->fb, x, y, w, h, compression, length, data);
}
void freeGlyph(DiXDisplay* d, DiXFont* f, DiXGlyph* g) {
    LOGLINE(fmt("13 %u %u", f->id, g->index));
    fbFreeGlyph(d, f, &g->fb);
    drop(g);
}
int createWindow(DiXDisplay* d, DiXWindow* w) {
    LOGLINE(fmt("14 %u", w->head.id));
    if (failing("14")) return -1;
    if (w->head.id == 0) {
        setupBuffer(&w->head.fb, &w->head);
        if (fbCreatePixmap(d, &w->head.fb) < 0) return -1;
        g_rdev.root = w->head.fb;
        g_rdev.screen.assign(size_t(w->head.fb.stride) * size_t(w->head.fb.height), 0);
    } else {
        w->head.fb = g_rdev.root;
    }
    add(w, "window");
    return 0;
}
void freeWindow(DiXDisplay* d, DiXWindow* w) {
    LOGLINE(fmt("15 %u", w->head.id));
    if (w->head.id == 0) {
        fbDestroyPixmap(d, &w->head.fb);
        g_rdev.root = FbBuffer{};
    }
    drop(w);
}
void paint(DiXDisplay*, DiXWindow* w, int32_t count, const DiBox* boxes) {
    g_rdev.paints++;
    for (int32_t i = 0; i < count; i++) {
        const DiBox& b = boxes[i];
        LOGLINE(
            fmt("16 %u %d %d %d %d", w->head.id, b.x1, b.y1, b.x2 - b.x1, b.y2 - b.y1));
        const FbBuffer& r = g_rdev.root;
        if (!r.bits) continue;
        uint32_t bpp = r.bytesPerPixel;
        for (int32_t y = b.y1 < 0 ? 0 : b.y1; y < b.y2 && y < r.height; y++) {
            int32_t x1 = b.x1 < 0 ? 0 : b.x1, x2 = b.x2 > r.width ? r.width : b.x2;
            if (x2 <= x1) continue;
            size_t row = size_t(r.height - y - 1) * r.stride;
            memcpy(&g_rdev.screen[row + size_t(x1) * bpp], r.bits + row + size_t(x1) * bpp,
                   size_t(x2 - x1) * bpp);
        }
    }
    if (g_rdev.onPaint) g_rdev.onPaint();
}
void gcModeChanged(DiXDisplay*, DiXGC*, uint32_t mode) {
    LOGLINE(fmt("17 %u", mode));
}
void showWindow(DiXDisplay*, DiXWindow* w, uint32_t mode) {
    LOGLINE(fmt("18 %u %u", w->head.id, mode));
    if (g_rdev.onSlot) g_rdev.onSlot(18, w);
}
void configureWindow(DiXDisplay*, DiXWindow* w, int32_t x, int32_t y, int32_t wd, int32_t h) {
    LOGLINE(fmt("19 %u %d %d %d %d", w->head.id, x, y, wd, h));
    if (g_rdev.onSlot) g_rdev.onSlot(19, w);
}
void frameChanged(DiXDisplay*, DiXWindow* w) {
    LOGLINE(fmt("20 %u", w->head.id));
}
void sizeHints(DiXDisplay*, DiXWindow* w, const uint32_t h[4]) {
    LOGLINE(fmt("21 %u %u %u %u %u", w->head.id, h[0], h[1], h[2], h[3]));
}
void enableWindow(DiXDisplay*, DiXWindow* w, int enable) {
    LOGLINE(fmt("22 %u %d", w->head.id, enable));
}
void updateWindow(DiXDisplay*, DiXWindow* w) {
    LOGLINE(fmt("23 %u", w->head.id));
}
void setIcon(DiXDisplay*, DiXWindow* w, DiXPixmap*, DiXPixmap* mask) {
    LOGLINE(fmt("24 %u %d", w->head.id, mask ? 1 : 0));
}
void grabPointer(DiXDisplay*, DiXWindow* w, uint32_t flags) {
    LOGLINE(fmt("25 %u %u", w->head.id, flags));
}
// Reads what the Windows side copies: a colour cursor's pixels, or both
// planes of a bitmap cursor.
int createCursor(DiXDisplay*, DiXCursor* c, const uint8_t* mask, const uint8_t* source) {
    LOGLINE(fmt("27 %u", c->id));
    const bool argb = c->depth == 32;
    const size_t n = argb ? size_t(c->width) * c->height * 4 : size_t(c->width + 7) / 8 * c->height;
    for (size_t i = 0; i < n; i++)
        g_rdev.cursorBytesSum += source[i] + (argb ? 0 : mask[i]);
    if (failing("27")) return -1;
    add(c, "cursor");
    return 0;
}
void freeCursor(DiXDisplay*, DiXCursor* c) {
    LOGLINE(fmt("28 %u", c->id));
    drop(c);
}
void setCursor(DiXDisplay*, DdGC*, DiXCursor* c) {
    LOGLINE(fmt("29 %u", c->id));
}
void restackWindow(DiXDisplay*, DiXWindow* w, uint32_t mode, DiXWindow* s) {
    LOGLINE(fmt("30 %u %u %d", w->head.id, mode, s ? int(s->head.id) : -1));
    if (g_rdev.onSlot) g_rdev.onSlot(30, w);
}
int probeTargetVisible(DiXDisplay*, DiXWindow* w, const int32_t r[4]) {
    LOGLINE(fmt("31 %u %d %d %d %d", w->head.id, r[0], r[1], r[2], r[3]));
    return g_rdev.probeAnswer;
}
DiXFrame* createFrame(DiXDisplay* d, int32_t* x, int32_t* y, int32_t* w, int32_t* h,
                      uint32_t style) {
    LOGLINE(fmt("frame %d %d %d %d %u", *x, *y, *w, *h, style));
    if (failing("frame")) return nullptr;
    DiXFrame* f = diXCreateFrameWindow(d, nullptr);
    if (!f) return nullptr;
    memcpy(f->borders, g_rdev.borders, sizeof f->borders);
    f->styles[0] = g_rdev.frameStyle;
    add(f, "frame");
    return f;
}
void destroyFrame(DiXDisplay*, DiXFrame* f) {
    LOGLINE("unframe");
    drop(f);
    diXDestroyFrameWindow(f);
}
void setStandardCursor(DiXDisplay*, DdGC*, uint32_t index) {
    LOGLINE(fmt("stdcursor %u", index));
}
void sessionStarted(DiXDisplay*) {
    LOGLINE("started");
}
void openUrl(DiXDisplay*, const DiChar* url) {
    g_rdev.urls.push_back(url);
}
void launchSelf(DiXDisplay*, const DiChar* p) {
    g_rdev.launches.push_back(p);
}
void bell(DiXDisplay*) {
    LOGLINE("bell");
}
void playSound(DiXDisplay*, const DiChar* a) {
    g_rdev.sounds.push_back(a);
}
std::string narrow(const DiChar* s) {
    std::string o;
    while (*s) o += char(*s++);
    return o;
}
int32_t pluginInitialize(DiXDisplay*, const DiChar* i, const DiChar* l) {
    g_rdev.plugin.push_back("init " + narrow(i) + " " + narrow(l));
    return g_rdev.pluginResult;
}
int32_t pluginTerminate(DiXDisplay*, const DiChar* i) {
    g_rdev.plugin.push_back("term " + narrow(i));
    return g_rdev.pluginResult;
}
int32_t pluginCall(DiXDisplay*, const DiChar* i, int32_t argc, const DiChar* const* argv) {
    std::string s = "call " + narrow(i);
    for (int32_t k = 0; k < argc; k++) s += " [" + narrow(argv[k]) + "]";
    g_rdev.plugin.push_back(s);
    return g_rdev.pluginResult;
}
void createDragWindow(DiXDisplay*) {
    LOGLINE("dragwin");
    add(&g_rdev.live, "drag window");
}
void drawDragOutline(DiXDisplay*, DiXFrame*, const int32_t r[4]) {
    LOGLINE(fmt("outline %d %d %d %d", r[0], r[1], r[2], r[3]));
}
void destroyDragWindow(DiXDisplay*) {
    LOGLINE("undragwin");
    drop(&g_rdev.live);
}
void swmUpdateStyle(DiXDisplay*, DiXWindow* w) {
    LOGLINE(fmt("style %u %08x %08x %u", w->head.id, w->frame->styles[0], w->frame->styles[1],
                w->frame->styles[2]));
}
void swmFocus(DiXDisplay*, DiXWindow* w) {
    LOGLINE(fmt("swmfocus %u", w->head.id));
}
void setFocus(DiXDisplay*, DiObject*) {
    LOGLINE("focus");
}

const DdXDeviceVector kVector = {
    createColormap, storeColors, installColormap, freeColormap, createPixmap, freePixmap,
    createGC, validateGC, freeGC, createFont, freeFont, createGlyph, putGlyphBits, freeGlyph,
    createWindow, freeWindow, paint, gcModeChanged, showWindow, configureWindow, frameChanged,
    sizeHints, enableWindow, updateWindow, setIcon, grabPointer, nullptr, createCursor,
    freeCursor, setCursor, restackWindow, probeTargetVisible,
    createFrame, destroyFrame, setStandardCursor, sessionStarted, openUrl, launchSelf,
    playSound, bell, pluginInitialize, pluginTerminate, pluginCall,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    createDragWindow, drawDragOutline, destroyDragWindow, swmUpdateStyle, swmFocus, setFocus,
};

void crcPut(std::string& out, const std::string& type, const std::string& data) {
    uint32_t n = uint32_t(data.size());
    out += char(n >> 24), out += char(n >> 16), out += char(n >> 8), out += char(n);
    std::string td = type + data;
    out += td;
    uint32_t c = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(td.data()), uInt(td.size())));
    out += char(c >> 24), out += char(c >> 16), out += char(c >> 8), out += char(c);
}

} // namespace

const DdXDeviceVector* recordingDevice() {
    return &kVector;
}

std::vector<std::string> RecordingDevice::with(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& l : log)
        if (l.compare(0, prefix.size(), prefix) == 0) out.push_back(l);
    return out;
}

std::vector<std::string> RecordingDevice::since(size_t m) const {
    return std::vector<std::string>(log.begin() + long(m), log.end());
}

bool RecordingDevice::screenMatchesBuffer() const {
    if (!root.bits) return false;
    return memcmp(screen.data(), root.bits, screen.size()) == 0;
}

bool RecordingDevice::writeScreenPng(const std::string& path, const DiXDisplay* d) const {
    const FbBuffer& r = root;
    if (!r.bits) return false;
    std::string raw;
    for (int32_t y = 0; y < r.height; y++) {
        raw += '\0';
        const uint8_t* row = screen.data() + size_t(r.height - y - 1) * r.stride;
        for (int32_t x = 0; x < r.width; x++) {
            uint8_t rgb[3];
            if (r.depth == 24) {
                rgb[0] = row[x * 3 + 2], rgb[1] = row[x * 3 + 1], rgb[2] = row[x * 3];
            } else if (r.depth == 16) {
                uint32_t p = row[x * 2] | row[x * 2 + 1] << 8;
                rgb[0] = uint8_t((p >> 11) << 3), rgb[1] = uint8_t(((p >> 5) & 63) << 2),
                rgb[2] = uint8_t((p & 31) << 3);
            } else {
                const uint8_t* e = d && d->colormap ? d->colormap->entries[row[x]] : nullptr;
                rgb[0] = e ? e[0] : row[x], rgb[1] = e ? e[1] : row[x], rgb[2] = e ? e[2] : row[x];
            }
            raw.append(reinterpret_cast<char*>(rgb), 3);
        }
    }
    uLongf zn = compressBound(uLong(raw.size()));
    std::string z(zn, '\0');
    compress2(reinterpret_cast<Bytef*>(&z[0]), &zn, reinterpret_cast<const Bytef*>(raw.data()),
              uLong(raw.size()), 6);
    z.resize(zn);
    std::string png("\x89PNG\r\n\x1a\n", 8), ihdr;
    uint32_t w = uint32_t(r.width), h = uint32_t(r.height);
    ihdr += char(w >> 24), ihdr += char(w >> 16), ihdr += char(w >> 8), ihdr += char(w);
    ihdr += char(h >> 24), ihdr += char(h >> 16), ihdr += char(h >> 8), ihdr += char(h);
    ihdr += std::string("\x08\x02\x00\x00\x00", 5);
    crcPut(png, "IHDR", ihdr);
    crcPut(png, "IDAT", z);
    crcPut(png, "IEND", "");
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    fwrite(png.data(), 1, png.size(), f);
    fclose(f);
    return true;
}
