/* Differential check against the X server's own frame buffer: random
 * operation sequences (fixed seeds) are drawn both by the renderer and by
 * Xvfb on pixmaps of depth 8, 16 and 24, and the pictures are compared
 * pixel for pixel after every operation. A difference prints the seed, the
 * operation and its arguments, and leaves PNGs of both pictures and of the
 * difference in the working directory.
 *
 * Left out, because the two are meant to differ there: zero-width lines,
 * segments and rectangle outlines under a fill style other than solid (drawn
 * here with the foreground), polygons of shape complex or non-convex, a
 * bitmap source of CopyPlane read past its edge, copy sources outside their
 * drawable, tiled or stippled text, ImageText8 with glyphs smaller than
 * their cell, image put with another function or plane mask, bitmap puts at
 * x not a multiple of 8 or of widths that are not whole bytes (the byte is
 * written as it stands), spans on their own, and empty rectangle outlines.
 * Run by run_xvfb_diff.sh on an Xvfb started with -linebias 216. */
#include "fb/fb.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <zlib.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

const int W = 97, H = 67;

Display* dpy;
Window root;

/* ---- PNG output ---- */

void PutBE32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 3; i >= 0; i--)
        v.push_back(uint8_t(x >> (8 * i)));
}
void Chunk(FILE* f, const char* type, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> c;
    PutBE32(c, uint32_t(data.size()));
    c.insert(c.end(), type, type + 4);
    c.insert(c.end(), data.begin(), data.end());
    uLong crc = crc32(0, c.data() + 4, uInt(c.size() - 4));
    PutBE32(c, uint32_t(crc));
    fwrite(c.data(), 1, c.size(), f);
}
void WritePng(const std::string& name, int w, int h, const std::vector<uint32_t>& rgb) {
    std::vector<uint8_t> raw;
    for (int y = 0; y < h; y++) {
        raw.push_back(0);
        for (int x = 0; x < w; x++) {
            uint32_t p = rgb[size_t(y) * w + x];
            raw.push_back(uint8_t(p >> 16));
            raw.push_back(uint8_t(p >> 8));
            raw.push_back(uint8_t(p));
        }
    }
    uLongf zlen = compressBound(uLong(raw.size()));
    std::vector<uint8_t> z(zlen);
    compress(z.data(), &zlen, raw.data(), uLong(raw.size()));
    z.resize(zlen);
    FILE* f = fopen(name.c_str(), "wb");
    if (!f)
        return;
    static const uint8_t sig[8] = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
    fwrite(sig, 1, 8, f);
    std::vector<uint8_t> ihdr;
    PutBE32(ihdr, uint32_t(w));
    PutBE32(ihdr, uint32_t(h));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
    Chunk(f, "IHDR", ihdr);
    Chunk(f, "IDAT", z);
    Chunk(f, "IEND", {});
    fclose(f);
    printf("  wrote %s\n", name.c_str());
}

/* ---- one format ---- */

struct Format {
    int depth;
    bool bpp4;
    const char* name;
    uint32_t mask() const { return depth == 8 ? 0xFF : depth == 16 ? 0xFFFF : 0xFFFFFF; }
    uint32_t toRgb(uint32_t v) const {
        if (depth == 8)
            return v * 0x010101u;
        if (depth == 16)
            return (v >> 11 & 31) << 19 | (v >> 5 & 63) << 10 | (v & 31) << 3;
        return v & 0xFFFFFF;
    }
};

uint32_t FbGet(const FbBuffer& b, int x, int y) {
    if (b.depth == 1)
        return (b.bits[size_t(y) * b.stride + x / 8] >> (x % 8)) & 1;
    const uint8_t* p = b.bits + size_t(b.height - 1 - y) * b.stride + size_t(x) * b.bytesPerPixel;
    uint32_t v = 0;
    for (uint32_t i = 0; i < b.bytesPerPixel; i++)
        v |= uint32_t(p[i]) << (8 * i);
    return b.depth == 24 ? v & 0xFFFFFF : v;
}
void FbSet(FbBuffer& b, int x, int y, uint32_t v) {
    if (b.depth == 1) {
        uint8_t& byte = b.bits[size_t(y) * b.stride + x / 8];
        byte = uint8_t((byte & ~(1u << (x % 8))) | ((v & 1) << (x % 8)));
        return;
    }
    uint8_t* p = b.bits + size_t(b.height - 1 - y) * b.stride + size_t(x) * b.bytesPerPixel;
    for (uint32_t i = 0; i < b.bytesPerPixel; i++)
        p[i] = uint8_t(v >> (8 * i));
}

/* A buffer on both sides with the same random content. */
struct Twin {
    Pixmap x = 0;
    FbBuffer fb{};
    Twin(int w, int h, int depth, bool bpp4, std::mt19937& rng, uint32_t mask) {
        fb.width = w;
        fb.height = h;
        fb.depth = uint32_t(depth);
        fb.bytesPerPixel = bpp4 ? 4 : 0;
        if (fbCreatePixmap(nullptr, &fb) != 0)
            abort();
        x = XCreatePixmap(dpy, root, unsigned(w), unsigned(h), unsigned(depth));
        XImage* img = XCreateImage(dpy, DefaultVisual(dpy, DefaultScreen(dpy)), unsigned(depth),
                                   depth == 1 ? XYPixmap : ZPixmap, 0, nullptr, unsigned(w), unsigned(h), 32, 0);
        img->data = static_cast<char*>(calloc(size_t(img->bytes_per_line) * h, 1));
        for (int yy = 0; yy < h; yy++)
            for (int xx = 0; xx < w; xx++) {
                uint32_t v = uint32_t(rng()) & mask;
                XPutPixel(img, xx, yy, v);
                FbSet(fb, xx, yy, v);
            }
        GC g = XCreateGC(dpy, x, 0, nullptr);
        XPutImage(dpy, x, g, img, 0, 0, 0, 0, unsigned(w), unsigned(h));
        XFreeGC(dpy, g);
        XDestroyImage(img);
    }
    ~Twin() {
        XFreePixmap(dpy, x);
        fbDestroyPixmap(nullptr, &fb);
    }
};

/* The "fixed" font's characters as full-cell glyphs. */
struct Font {
    XFontStruct* fs = nullptr;
    std::vector<FbGlyph> glyphs = std::vector<FbGlyph>(256);
    FbGlyph* table[256] = {};
    bool load() {
        fs = XLoadQueryFont(dpy, "fixed");
        if (!fs || fs->min_bounds.width != fs->max_bounds.width)
            return false;
        int cw = fs->max_bounds.width, ch = fs->ascent + fs->descent;
        Pixmap cell = XCreatePixmap(dpy, root, unsigned(cw), unsigned(ch), 1);
        GC g = XCreateGC(dpy, cell, 0, nullptr);
        XSetFont(dpy, g, fs->fid);
        for (int c = 32; c < 127; c++) {
            XSetForeground(dpy, g, 0);
            XFillRectangle(dpy, cell, g, 0, 0, unsigned(cw), unsigned(ch));
            XSetForeground(dpy, g, 1);
            char s = char(c);
            XDrawString(dpy, cell, g, 0, fs->ascent, &s, 1);
            XImage* img = XGetImage(dpy, cell, 0, 0, unsigned(cw), unsigned(ch), 1, ZPixmap);
            FbGlyph& gl = glyphs[size_t(c)];
            gl.bitmap.width = cw;
            gl.bitmap.height = ch;
            gl.bitmap.depth = 1;
            if (fbCreateGlyph(nullptr, nullptr, &gl) != 0)
                abort();
            for (int y = 0; y < ch; y++)
                for (int x = 0; x < cw; x++)
                    FbSet(gl.bitmap, x, y, uint32_t(XGetPixel(img, x, y)));
            gl.xOffset = 0;
            gl.yOffset = fs->ascent;
            gl.advance = cw;
            table[c] = &gl;
            XDestroyImage(img);
        }
        XFreeGC(dpy, g);
        XFreePixmap(dpy, cell);
        return true;
    }
};
Font font;

struct Run {
    const Format& f;
    std::mt19937 rng;
    uint32_t seed;
    Twin dst, tile, src;
    Twin stipple, bitmap;
    GC xgc;
    FbGC gc{};
    std::string last;

    Run(const Format& fmt, uint32_t s)
        : f(fmt), rng(s), seed(s), dst(W, H, fmt.depth, fmt.bpp4, rng, fmt.mask()),
          tile(1 + 2 * int(rng() % 4), 1 + 2 * int(rng() % 3), fmt.depth, fmt.bpp4, rng, fmt.mask()),
          src(40, 30, fmt.depth, fmt.bpp4, rng, fmt.mask()), stipple(1 + 2 * int(rng() % 4), 3 + 2 * int(rng() % 3), 1, false, rng, 1),
          bitmap(40, 30, 1, false, rng, 1) {
        xgc = XCreateGC(dpy, dst.x, 0, nullptr);
        XSetGraphicsExposures(dpy, xgc, False);
        XSetLineAttributes(dpy, xgc, 0, LineSolid, CapNotLast, JoinMiter);
        XSetFont(dpy, xgc, font.fs->fid);
        XSetTile(dpy, xgc, tile.x);
        XSetStipple(dpy, xgc, stipple.x);
        gc.ops = &fbNoOps;
        gc.function = 3;
        gc.planeMask = ~0u;
        gc.changeMask = 0xFFFFFFFF;
        gc.tile = &tile.fb;
        gc.stipple = &stipple.fb;
        gc.glyphs = font.table;
        if (fbCreateGC(nullptr, &gc) != 0)
            abort();
    }
    ~Run() {
        fbDestroyGC(nullptr, &gc);
        XFreeGC(dpy, xgc);
    }

    void setState(bool solidOnly, bool copyOnly) {
        uint32_t function = copyOnly || rng() % 3 == 0 ? 3 : uint32_t(rng() % 16);
        uint32_t pm = copyOnly || rng() % 2 ? ~0u : uint32_t(rng());
        uint32_t fg = uint32_t(rng()) & f.mask(), bg = uint32_t(rng()) & f.mask();
        uint32_t fill = solidOnly ? 0 : uint32_t(rng() % 4);
        int ox = int(rng() % 21) - 10, oy = int(rng() % 21) - 10;
        /* Only what changed is marked, as the engine marks it. */
        if (function != gc.function) gc.changeMask |= FB_GC_FUNCTION;
        if (pm != gc.planeMask) gc.changeMask |= FB_GC_PLANE_MASK;
        if (fg != gc.foreground) gc.changeMask |= FB_GC_FOREGROUND;
        if (bg != gc.background) gc.changeMask |= FB_GC_BACKGROUND;
        if (fill != gc.fillStyle) gc.changeMask |= FB_GC_FILL_STYLE;
        gc.function = function;
        gc.planeMask = pm;
        gc.foreground = fg;
        gc.background = bg;
        gc.fillStyle = fill;
        gc.originX = ox;
        gc.originY = oy;
        XSetFunction(dpy, xgc, int(function));
        XSetPlaneMask(dpy, xgc, pm);
        XSetForeground(dpy, xgc, fg);
        XSetBackground(dpy, xgc, bg);
        static const int styles[] = {FillSolid, FillTiled, FillStippled, FillOpaqueStippled};
        XSetFillStyle(dpy, xgc, styles[fill]);
        XSetTSOrigin(dpy, xgc, ox, oy);
        char buf[160];
        snprintf(buf, sizeof buf, "function %u planemask 0x%08x fg 0x%x bg 0x%x fill %u origin %d,%d", function, pm,
                 fg, bg, fill, ox, oy);
        last = buf;
        if (gc.changeMask) {
            fbValidateGC(nullptr, &dst.fb, &gc);
            gc.changeMask = 0;
        }
    }
    int coord(int n) { return int(rng() % unsigned(n + 30)) - 15; }
    void note(const std::string& s) { last += "; " + s; }

    /* Random strictly convex polygon of 3 to 6 vertices. */
    std::vector<XPoint> convex() {
        for (;;) {
            int n = 3 + int(rng() % 4);
            double cx = coord(W), cy = coord(H), rx = 3 + rng() % 40, ry = 3 + rng() % 30;
            std::vector<double> a;
            for (int i = 0; i < n; i++)
                a.push_back((rng() % 3600) * 3.14159265358979 / 1800);
            std::sort(a.begin(), a.end());
            std::vector<XPoint> p;
            for (double t : a)
                p.push_back(XPoint{short(cx + rx * cos(t)), short(cy + ry * sin(t))});
            int sign = 0;
            bool ok = true;
            for (int i = 0; i < n && ok; i++) {
                const XPoint &A = p[size_t(i)], &B = p[size_t((i + 1) % n)], &C = p[size_t((i + 2) % n)];
                long cross = long(B.x - A.x) * (C.y - B.y) - long(B.y - A.y) * (C.x - B.x);
                int s = cross > 0 ? 1 : cross < 0 ? -1 : 0;
                if (s == 0 || (sign && s != sign))
                    ok = false;
                sign = s;
            }
            if (ok)
                return p;
        }
    }

    void step(int i) {
        int op = int(rng() % 10);
        std::vector<FbPoint> pts;
        switch (op) {
        case 0: { /* filled rectangles */
            setState(false, false);
            int n = 1 + int(rng() % 4);
            std::vector<XRectangle> xr;
            std::vector<FbRect> fr;
            for (int k = 0; k < n; k++) {
                int x = coord(W), y = coord(H), w = 1 + int(rng() % 40), h = 1 + int(rng() % 30);
                xr.push_back({short(x), short(y), (unsigned short)w, (unsigned short)h});
                fr.push_back({x, y, uint32_t(w), uint32_t(h)});
                note("rect " + std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(w) + "x" + std::to_string(h));
            }
            XFillRectangles(dpy, dst.x, xgc, xr.data(), n);
            gc.ops->PolyFillRect(nullptr, &dst.fb, &gc, uint32_t(n), fr.data());
            last = "PolyFillRect " + last;
            break;
        }
        case 1:
        case 2: { /* lines and segments */
            setState(true, false);
            int n = 2 + int(rng() % 5);
            std::vector<XPoint> xp;
            for (int k = 0; k < n; k++) {
                int x = coord(W), y = coord(H);
                xp.push_back({short(x), short(y)});
                pts.push_back({x, y});
                note(std::to_string(x) + "," + std::to_string(y));
            }
            if (op == 1) {
                XDrawLines(dpy, dst.x, xgc, xp.data(), n, CoordModeOrigin);
                gc.ops->PolyLine(nullptr, &dst.fb, &gc, uint32_t(n), pts.data());
                last = "PolyLine " + last;
            } else {
                n &= ~1;
                XDrawSegments(dpy, dst.x, xgc, reinterpret_cast<XSegment*>(xp.data()), n / 2);
                gc.ops->PolySegment(nullptr, &dst.fb, &gc, uint32_t(n / 2), reinterpret_cast<FbSegment*>(pts.data()));
                last = "PolySegment " + last;
            }
            break;
        }
        case 3: { /* rectangle outlines */
            setState(true, false);
            int x = coord(W), y = coord(H), w = 1 + int(rng() % 40), h = 1 + int(rng() % 30);
            XDrawRectangle(dpy, dst.x, xgc, x, y, unsigned(w), unsigned(h));
            FbRect r = {x, y, uint32_t(w), uint32_t(h)};
            gc.ops->PolyRectangle(nullptr, &dst.fb, &gc, 1, &r);
            last = "PolyRectangle " + std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(w) + "x" +
                   std::to_string(h) + "; " + last;
            break;
        }
        case 4: { /* convex polygons */
            setState(false, false);
            std::vector<XPoint> xp = convex();
            for (const XPoint& p : xp) {
                pts.push_back({p.x, p.y});
                note(std::to_string(p.x) + "," + std::to_string(p.y));
            }
            XFillPolygon(dpy, dst.x, xgc, xp.data(), int(xp.size()), Convex, CoordModeOrigin);
            gc.ops->FillPolygon(nullptr, &dst.fb, &gc, 2, uint32_t(pts.size()), pts.data());
            last = "FillPolygon " + last;
            break;
        }
        case 5: { /* overlapping copies within the pixmap, and from another */
            setState(true, false);
            bool self = rng() % 3 != 0;
            Twin& s = self ? dst : src;
            int w = 1 + int(rng() % 30), h = 1 + int(rng() % 25);
            int sx = int(rng() % unsigned(s.fb.width - w + 1)), sy = int(rng() % unsigned(s.fb.height - h + 1));
            int dx = self ? sx + int(rng() % 9) - 4 : coord(W), dy = self ? sy + int(rng() % 9) - 4 : coord(H);
            XCopyArea(dpy, s.x, dst.x, xgc, sx, sy, unsigned(w), unsigned(h), dx, dy);
            gc.ops->CopyArea(nullptr, &dst.fb, &gc, dx, dy, w, h, &s.fb, sx, sy);
            last = "CopyArea " + std::string(self ? "self " : "") + std::to_string(sx) + "," + std::to_string(sy) +
                   " " + std::to_string(w) + "x" + std::to_string(h) + " to " + std::to_string(dx) + "," +
                   std::to_string(dy) + "; " + last;
            break;
        }
        case 6: { /* plane copies from a bitmap, from a pixmap, and overlapping within the pixmap */
            setState(true, false);
            unsigned kind = unsigned(rng() % 3);
            bool fromBitmap = kind == 0, self = kind == 2;
            Twin& s = fromBitmap ? bitmap : self ? dst : src;
            unsigned long plane = fromBitmap ? 1 : 1ul << (rng() % unsigned(f.depth));
            int w = 1 + int(rng() % 30), h = 1 + int(rng() % 25);
            int sx = int(rng() % unsigned(s.fb.width - w + 1)), sy = int(rng() % unsigned(s.fb.height - h + 1));
            int dx = self ? sx + int(rng() % 9) - 4 : coord(W), dy = self ? sy + int(rng() % 9) - 4 : coord(H);
            XCopyPlane(dpy, s.x, dst.x, xgc, sx, sy, unsigned(w), unsigned(h), dx, dy, plane);
            gc.ops->CopyPlane(nullptr, &dst.fb, &gc, dx, dy, w, h, &s.fb, sx, sy, uint32_t(plane));
            last = "CopyPlane " + std::string(fromBitmap ? "bitmap " : self ? "self " : "") + std::to_string(w) + "x" +
                   std::to_string(h) +
                   " plane " + std::to_string(plane) + "; " + last;
            break;
        }
        case 7: { /* image put */
            setState(true, true);
            int w = 1 + int(rng() % 40), h = 1 + int(rng() % 30), x = coord(W), y = coord(H);
            XImage* img = XCreateImage(dpy, DefaultVisual(dpy, DefaultScreen(dpy)), unsigned(f.depth), ZPixmap, 0,
                                       nullptr, unsigned(w), unsigned(h), 32, 0);
            img->data = static_cast<char*>(calloc(size_t(img->bytes_per_line) * h, 1));
            int dataBytes = f.depth == 8 ? 1 : f.depth == 16 ? 2 : 3;
            std::vector<uint8_t> data;
            for (int yy = 0; yy < h; yy++)
                for (int xx = 0; xx < w; xx++) {
                    uint32_t v = uint32_t(rng()) & f.mask();
                    XPutPixel(img, xx, yy, v);
                    for (int b = 0; b < dataBytes; b++)
                        data.push_back(uint8_t(v >> (8 * b)));
                }
            XPutImage(dpy, dst.x, xgc, img, 0, 0, x, y, unsigned(w), unsigned(h));
            XDestroyImage(img);
            gc.ops->PutImage(nullptr, &dst.fb, &gc, x, y, w, h, uint32_t(f.depth), 0, uint32_t(data.size()), data.data());
            last = "PutImage " + std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(w) + "x" +
                   std::to_string(h);
            break;
        }
        default: { /* text */
            setState(true, false);
            int n = 1 + int(rng() % 12), x = coord(W), y = coord(H);
            std::string s;
            for (int k = 0; k < n; k++)
                s.push_back(char(32 + rng() % 95));
            const uint8_t* chars = reinterpret_cast<const uint8_t*>(s.data());
            if (op == 8) {
                XDrawString(dpy, dst.x, xgc, x, y, s.data(), n);
                gc.ops->PolyText8(nullptr, &dst.fb, &gc, x, y, uint32_t(n), chars);
                last = "PolyText8 \"" + s + "\" at " + std::to_string(x) + "," + std::to_string(y) + "; " + last;
            } else {
                XDrawImageString(dpy, dst.x, xgc, x, y, s.data(), n);
                gc.ops->ImageText8(nullptr, &dst.fb, &gc, x, y, uint32_t(n), chars);
                last = "ImageText8 \"" + s + "\" at " + std::to_string(x) + "," + std::to_string(y) + "; " + last;
            }
            break;
        }
        }
        (void)i;
    }

    /* True when both pictures are equal; else reports and writes PNGs. */
    bool compare(int i) {
        XImage* img = XGetImage(dpy, dst.x, 0, 0, W, H, AllPlanes, ZPixmap);
        int bad = 0, fx = -1, fy = -1;
        std::vector<uint32_t> ours(W * H), theirs(W * H), diff(W * H);
        for (int y = 0; y < H; y++)
            for (int x = 0; x < W; x++) {
                uint32_t a = FbGet(dst.fb, x, y), b = uint32_t(XGetPixel(img, x, y)) & f.mask();
                ours[size_t(y) * W + x] = f.toRgb(a);
                theirs[size_t(y) * W + x] = f.toRgb(b);
                diff[size_t(y) * W + x] = a == b ? 0x303030 : 0xFF0000;
                if (a != b && !bad++) {
                    fx = x;
                    fy = y;
                }
            }
        XDestroyImage(img);
        if (!bad)
            return true;
        printf("MISMATCH format %s seed %u operation %d: %s\n  %d pixels differ, first at (%d, %d): ours 0x%x, Xvfb 0x%x\n",
               f.name, seed, i, last.c_str(), bad, fx, fy, FbGet(dst.fb, fx, fy) & f.mask(),
               theirs[size_t(fy) * W + fx]);
        std::string base = std::string("fb_xvfb_") + f.name + "_" + std::to_string(seed);
        WritePng(base + "_ours.png", W, H, ours);
        WritePng(base + "_xvfb.png", W, H, theirs);
        WritePng(base + "_diff.png", W, H, diff);
        return false;
    }
};

/* Raw puts into a bitmap at x a multiple of 8 and widths of whole bytes
 * (a bitmap row is written a byte at a time). */
bool BitmapPuts(uint32_t seed, int steps) {
    std::mt19937 rng(seed);
    Twin bm(W, H, 1, false, rng, 1);
    GC xgc = XCreateGC(dpy, bm.x, 0, nullptr);
    FbGC gc{};
    gc.ops = &fbNoOps;
    gc.changeMask = 0xFFFFFFFF;
    gc.function = 3;
    gc.planeMask = ~0u;
    bool same = fbCreateGC(nullptr, &gc) == 0;
    fbValidateGC(nullptr, &bm.fb, &gc);
    for (int i = 0; i < steps && same; i++) {
        int x = 8 * (int(rng() % 15) - 2), y = int(rng() % (H + 20)) - 10;
        int w = 8 * (1 + int(rng() % 5)), h = 1 + int(rng() % 30), rowBytes = w / 8;
        std::vector<uint8_t> data(size_t(rowBytes) * h);
        XImage* img = XCreateImage(dpy, DefaultVisual(dpy, DefaultScreen(dpy)), 1, ZPixmap, 0, nullptr,
                                   unsigned(w), unsigned(h), 8, 0);
        img->data = static_cast<char*>(calloc(size_t(img->bytes_per_line) * h, 1));
        for (int yy = 0; yy < h; yy++)
            for (int b = 0; b < rowBytes; b++) {
                uint8_t v = uint8_t(rng());
                data[size_t(yy) * rowBytes + b] = v;
                for (int k = 0; k < 8; k++)
                    XPutPixel(img, 8 * b + k, yy, (v >> k) & 1);
            }
        XPutImage(dpy, bm.x, xgc, img, 0, 0, x, y, unsigned(w), unsigned(h));
        XDestroyImage(img);
        gc.ops->PutImage(nullptr, &bm.fb, &gc, x, y, w, h, 1, 0, uint32_t(data.size()), data.data());
        XImage* got = XGetImage(dpy, bm.x, 0, 0, W, H, 1, ZPixmap);
        for (int yy = 0; yy < H && same; yy++)
            for (int xx = 0; xx < W && same; xx++)
                if (FbGet(bm.fb, xx, yy) != (uint32_t(XGetPixel(got, xx, yy)) & 1)) {
                    printf("MISMATCH bitmap seed %u operation %d: PutImage %d,%d %dx%d, first at (%d, %d)\n", seed, i,
                           x, y, w, h, xx, yy);
                    same = false;
                }
        XDestroyImage(got);
    }
    fbDestroyGC(nullptr, &gc);
    XFreeGC(dpy, xgc);
    return same;
}

} // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        printf("no X display\n");
        return 1;
    }
    root = DefaultRootWindow(dpy);
    if (!font.load()) {
        printf("the fixed font is missing or not monospaced\n");
        return 1;
    }
    int steps = argc > 1 ? atoi(argv[1]) : 400;
    const Format formats[] = {{8, false, "8"}, {16, false, "16"}, {24, false, "24"}, {24, true, "32"}};
    int failures = 0;
    for (const Format& f : formats)
        for (uint32_t seed = 1; seed <= 6; seed++) {
            Run run(f, seed * 7919 + uint32_t(f.depth));
            if (!run.compare(-1)) {
                failures++;
                continue;
            }
            for (int i = 0; i < steps; i++) {
                run.step(i);
                if (!run.compare(i)) {
                    failures++;
                    break;
                }
            }
        }
    for (uint32_t seed = 1; seed <= 3; seed++)
        failures += BitmapPuts(seed, steps / 4) ? 0 : 1;
    for (FbGlyph& g : font.glyphs)
        fbFreeGlyph(nullptr, nullptr, &g);
    XCloseDisplay(dpy);
    printf("%s: %d of %d sequences differ\n", failures ? "FAIL" : "PASS", failures, 4 * 6 + 3);
    return failures ? 1 : 0;
}
