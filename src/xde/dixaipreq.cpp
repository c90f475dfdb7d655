/* Request handlers: one per request type, each reading its payload through
 * one bounded cursor and calling one slot of the display's operations.
 *
 * Every type has a minimum length (its fixed fields); a shorter request is
 * skipped and logged. Lengths inside a payload (texts, images, bitmaps,
 * chunks) are checked against the rest of the payload and a request whose
 * length does not fit is skipped; counts of list records beyond the payload
 * use the whole records present, which also keeps the scratch block in
 * bounds. */
#include "xde/dixaip.h"

#include "core/dilog.h"
#include "core/diutil.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

/* A read-only cursor over one payload: a read past the end fails, returns
 * 0, and every later read fails too. */
struct Cur {
    const uint8_t* p;
    uint32_t left;
    bool bad;

    bool need(uint64_t n) {
        if (bad || n > left) return !(bad = true);
        return true;
    }
    uint32_t u8() {
        if (!need(1)) return 0;
        left--;
        return *p++;
    }
    uint32_t u16() {
        if (!need(2)) return 0;
        uint32_t v = uint32_t(p[0] | (p[1] << 8));
        p += 2, left -= 2;
        return v;
    }
    int32_t i16() { return int16_t(uint16_t(u16())); }
    uint32_t u24() {
        if (!need(3)) return 0;
        uint32_t v = uint32_t(p[0] | (p[1] << 8) | (p[2] << 16));
        p += 3, left -= 3;
        return v;
    }
    uint32_t u32() {
        if (!need(4)) return 0;
        uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                     uint32_t(p[3]) << 24;
        p += 4, left -= 4;
        return v;
    }
    /* n bytes in place, or none. */
    const uint8_t* bytes(uint64_t n) {
        if (!need(n)) return nullptr;
        const uint8_t* at = p;
        p += n, left -= uint32_t(n);
        return at;
    }
    bool skip(uint32_t n) { return bytes(n) != nullptr; }
};

/* A UTF-16 text converted from wire bytes; freed with the holder. */
struct Text16 {
    DiChar* text = nullptr;
    uint32_t length = 0;
    ~Text16() { free(text); }

    /* One byte per character (the first 256 code points). */
    bool fromLatin1(const uint8_t* b, uint32_t n) {
        text = diTextFromLatin1Dup(reinterpret_cast<const char*>(b), n);
        length = n;
        return text != nullptr;
    }
    /* A bad byte becomes U+FFFD where it stands: a title or a server name
     * is never cut at it, and names that differ after it stay different. */
    bool fromUtf8(const uint8_t* b, uint32_t n) {
        size_t units = 0;
        text = diTextFromUtf8Dup(reinterpret_cast<const char*>(b), n, &units);
        length = uint32_t(units);
        return text != nullptr;
    }
};

/* A text of `n` bytes read from the cursor; false when it does not fit or
 * cannot be converted. */
bool readText(Cur& c, int64_t n, bool utf8, Text16* out) {
    if (n < 0) return !(c.bad = true);
    const uint8_t* b = c.bytes(uint64_t(n));
    if (!b) return false;
    return utf8 ? out->fromUtf8(b, uint32_t(n)) : out->fromLatin1(b, uint32_t(n));
}

const DiXRequestOps& ops(DiXDisplay* d) {
    return *d->ops;
}

/* Unpacks `count` (i16) records of `Fields` i16 values each into the scratch
 * block; the fields marked in `SizeMask` are u16 (zero-extended). Returns
 * the whole records present, at most what the scratch block holds. The
 * records are bounded before the loop, so it reads without the cursor's
 * per-field checks. */
template <int Fields, unsigned SizeMask> int32_t unpackList(Cur& c, int32_t count) {
    if (count <= 0) return 0;
    const uint32_t recordBytes = uint32_t(Fields) * 2;
    uint32_t n = uint32_t(count);
    uint32_t present = c.left / recordBytes;
    const uint32_t room = DI_XAIP_SCRATCH_BYTES / (uint32_t(Fields) * 4);
    if (n > present) n = present;
    if (n > room) n = room;
    int32_t* out = diXAIPScratch();
    const uint8_t* p = c.p;
    for (uint32_t i = 0; i < n; i++, p += recordBytes, out += Fields)
        for (int f = 0; f < Fields; f++) {
            uint32_t v = uint32_t(p[2 * f] | (p[2 * f + 1] << 8));
            out[f] = (SizeMask >> f) & 1 ? int32_t(v) : int32_t(int16_t(uint16_t(v)));
        }
    c.p = p;
    c.left -= n * recordBytes;
    return int32_t(n);
}

/* The table. Each handler returns false when it skipped the request. */
typedef bool (*Handler)(DiXDisplay* d, Cur& c);

bool diXAIPPutImage(DiXDisplay* d, Cur& c) {
    int32_t x = c.i16(), y = c.i16();
    DiXImage im;
    im.width = c.i16();
    im.height = c.i16();
    im.depth = c.u8();
    im.compression = c.u8();
    im.length = c.left;
    im.data = c.bytes(c.left);
    if (ops(d).putImage) ops(d).putImage(d, x, y, &im);
    return true;
}

bool diXAIPStoreColors(DiXDisplay* d, Cur& c) {
    int32_t count = c.i16();
    if (count < 0) count = 0;
    if (uint32_t(count) > c.left / 4) count = int32_t(c.left / 4);
    if (ops(d).storeColors) ops(d).storeColors(d, count, c.p);
    return true;
}

bool diXAIPBell(DiXDisplay* d, Cur&) {
    if (ops(d).bell) ops(d).bell(d);
    return true;
}

bool diXAIPSessionStatus(DiXDisplay* d, Cur& c) {
    int32_t kind = c.i16(), code = c.i16();
    if (ops(d).sessionStatus) ops(d).sessionStatus(d, kind, code);
    return true;
}

template <int Fields, unsigned SizeMask, void (*DiXRequestOps::*Slot)(DiXDisplay*, int32_t, const int32_t*)>
bool listRequest(DiXDisplay* d, Cur& c) {
    int32_t n = unpackList<Fields, SizeMask>(c, c.i16());
    if (ops(d).*Slot) (ops(d).*Slot)(d, n, diXAIPScratch());
    return true;
}

bool diXAIPFillPolygon(DiXDisplay* d, Cur& c) {
    uint32_t shape = c.u8();
    int32_t n = unpackList<2, 0>(c, c.i16());
    if (ops(d).fillPolygon) ops(d).fillPolygon(d, shape, n, diXAIPScratch());
    return true;
}

struct CopyFields {
    int32_t dstX, dstY, width, height, srcX, srcY;
    uint32_t srcKind, srcLow;
};

CopyFields readCopy(Cur& c) {
    CopyFields f;
    f.dstX = c.i16();
    f.dstY = c.i16();
    f.width = int32_t(c.u16());
    f.height = int32_t(c.u16());
    f.srcKind = c.u8();
    f.srcLow = c.u8();
    f.srcX = c.i16();
    f.srcY = c.i16();
    return f;
}

bool diXAIPCopyArea(DiXDisplay* d, Cur& c) {
    CopyFields f = readCopy(c);
    uint32_t high = c.left >= 1 ? c.u8() : 0;
    if (ops(d).copyArea)
        ops(d).copyArea(d, f.srcKind, f.srcLow | high << 8, f.srcX, f.srcY, f.dstX, f.dstY,
                        f.width, f.height);
    return true;
}

bool diXAIPCopyPlane(DiXDisplay* d, Cur& c) {
    CopyFields f = readCopy(c);
    uint32_t mask = c.u32();
    uint32_t high = c.left >= 1 ? c.u8() : 0;
    if (ops(d).copyPlane)
        ops(d).copyPlane(d, f.srcKind, f.srcLow | high << 8, f.srcX, f.srcY, f.dstX, f.dstY,
                         f.width, f.height, mask);
    return true;
}

template <void (*DiXRequestOps::*Slot)(DiXDisplay*, uint32_t)>
bool oneByte(DiXDisplay* d, Cur& c) {
    uint32_t v = c.u8();
    if (ops(d).*Slot) (ops(d).*Slot)(d, v);
    return true;
}

bool diXAIPCreateWindow(DiXDisplay* d, Cur& c) {
    uint32_t id = c.u8();
    int32_t x = c.i16(), y = c.i16();
    int32_t w = int32_t(c.u16()), h = int32_t(c.u16());
    uint32_t styleLow = c.u8(), ownerMode = c.u8(), ownerId = c.u8();
    uint32_t styleHigh = 0, frameFlags = 0;
    if (c.left >= 5) {
        styleHigh = c.u8();
        frameFlags = c.u32();
    }
    if (ops(d).createWindow)
        ops(d).createWindow(d, id, x, y, w, h, styleLow | styleHigh << 8, ownerMode, ownerId,
                            frameFlags);
    return true;
}

bool diXAIPShowWindow(DiXDisplay* d, Cur& c) {
    uint32_t id = c.u8(), mode = c.u8();
    if (ops(d).showWindow) ops(d).showWindow(d, id, mode);
    return true;
}

bool diXAIPConfigureWindow(DiXDisplay* d, Cur& c) {
    uint32_t id = c.u8();
    int32_t x = c.i16(), y = c.i16();
    int32_t w = int32_t(c.u16()), h = int32_t(c.u16());
    /* The frame value needs both of its bytes: at length 11 only one is
     * there. */
    if (c.left >= 3) {
        c.skip(1);
        d->frameValue = uint16_t(c.u16());
    }
    if (ops(d).configureWindow) ops(d).configureWindow(d, id, x, y, w, h);
    return true;
}

bool diXAIPSetDrawable(DiXDisplay* d, Cur& c) {
    uint32_t kind = c.u8(), low = c.u8();
    uint32_t high = c.left >= 1 ? c.u8() : 0;
    if (ops(d).setDrawable) ops(d).setDrawable(d, kind, low | high << 8);
    return true;
}

uint32_t readPixel(Cur& c) {
    if (c.left == 1) return c.u8();
    if (c.left == 2) return c.u16();
    return c.u24();
}

bool diXAIPSetForeground(DiXDisplay* d, Cur& c) {
    uint32_t v = readPixel(c);
    if (ops(d).setForeground) ops(d).setForeground(d, v);
    return true;
}

bool diXAIPSetBackground(DiXDisplay* d, Cur& c) {
    uint32_t v = readPixel(c);
    if (ops(d).setBackground) ops(d).setBackground(d, v);
    return true;
}

template <void (*DiXRequestOps::*Slot)(DiXDisplay*, uint32_t)>
bool pixmapId(DiXDisplay* d, Cur& c) {
    uint32_t v = c.left == 1 ? c.u8() : c.u16();
    if (ops(d).*Slot) (ops(d).*Slot)(d, v);
    return true;
}

bool diXAIPSetTSOrigin(DiXDisplay* d, Cur& c) {
    int32_t x = c.i16(), y = c.i16();
    if (ops(d).setTSOrigin) ops(d).setTSOrigin(d, x, y);
    return true;
}

bool diXAIPCreatePixmap(DiXDisplay* d, Cur& c) {
    uint32_t low = c.u8();
    int32_t w = int32_t(c.u16()), h = int32_t(c.u16());
    uint32_t depth = c.u8(), high = c.u8();
    if (ops(d).createPixmap) ops(d).createPixmap(d, low | high << 8, w, h, depth);
    return true;
}

bool diXAIPSetPlaneMask(DiXDisplay* d, Cur& c) {
    uint32_t v = c.u32();
    if (ops(d).setPlaneMask) ops(d).setPlaneMask(d, v);
    return true;
}

template <void (*DiXRequestOps::*Slot)(DiXDisplay*, int32_t, int32_t, int32_t, const uint8_t*)>
bool text8(DiXDisplay* d, Cur& c) {
    int32_t x = c.i16(), y = c.i16(), count = c.i16();
    if (count < 0) count = 0;
    if (uint32_t(count) > c.left) count = int32_t(c.left);
    if (ops(d).*Slot) (ops(d).*Slot)(d, x, y, count, c.p);
    return true;
}

bool diXAIPDefineGlyph(DiXDisplay* d, Cur& c) {
    uint32_t font = c.u8(), glyph = c.u8();
    int32_t w = int32_t(c.u16()), h = int32_t(c.u16());
    int32_t m1 = c.i16(), m2 = c.i16(), m3 = c.i16();
    if (ops(d).defineGlyph) ops(d).defineGlyph(d, font, glyph, w, h, m1, m2, m3);
    return true;
}

bool diXAIPPutGlyphBits(DiXDisplay* d, Cur& c) {
    uint32_t glyph = c.u8();
    int32_t x = c.i16(), y = c.i16();
    DiXImage im;
    im.width = c.i16();
    im.height = c.i16();
    im.depth = 1;
    im.compression = c.u8();
    im.length = c.left;
    im.data = c.bytes(c.left);
    if (ops(d).putGlyphBits) ops(d).putGlyphBits(d, glyph, x, y, &im);
    return true;
}

bool diXAIPFreeGlyph(DiXDisplay* d, Cur& c) {
    uint32_t font = c.u8(), glyph = c.u8();
    if (ops(d).freeGlyph) ops(d).freeGlyph(d, font, glyph);
    return true;
}

bool diXAIPDiscardRectangles(DiXDisplay*, Cur& c) {
    unpackList<4, 0xC>(c, c.i16());
    return true;
}

bool diXAIPSetDisplayFlags(DiXDisplay* d, Cur& c) {
    uint32_t flags = c.u8();
    if (flags & 0x4) d->flags |= DI_XFLAG_ACK_NOW;
    if (ops(d).setGCMode) ops(d).setGCMode(d, flags & 3);
    return true;
}

bool diXAIPSync(DiXDisplay* d, Cur&) {
    diXAIPSendSyncReply(d);
    return true;
}

bool diXAIPMeasureDrawing(DiXDisplay* d, Cur&) {
    if (ops(d).measureDrawing) ops(d).measureDrawing(d);
    return true;
}

/* Positional: each later field only when the payload is long enough; a
 * damaged name or block keeps the fields before it. */
bool diXAIPServerInit(DiXDisplay* d, Cur& c) {
    uint32_t flags = c.u16(), delay = c.u16();
    int32_t width = 0, height = 0;
    uint32_t depth = 8, flags2 = 0;
    if (c.left >= 4) {
        width = int32_t(c.u16());
        height = int32_t(c.u16());
    }
    if (c.left >= 1) depth = c.u8();
    if (c.left >= 2) flags2 = c.u16();
    bool fine = true;
    if (c.left > 0 && c.skip(2) && c.left > 0) {
        int32_t n = c.i16();
        Text16 name;
        if (readText(c, n, true, &name)) {
            free(d->serverName);
            d->serverName = name.text;
            d->serverNameLength = name.length;
            name.text = nullptr;
        } else {
            fine = false;
        }
        if (fine && c.left > 0) {
            uint32_t len = c.u16();
            const uint8_t* b = c.bytes(len);
            uint8_t* copy = b ? static_cast<uint8_t*>(malloc(len ? len : 1)) : nullptr;
            if (copy) {
                memcpy(copy, b, len);
                free(d->ownerBlock);
                d->ownerBlock = copy;
                d->ownerBlockLength = len;
            } else {
                fine = false;
            }
        }
    }
    if (!fine) diLogErrorText(u"The X server's session start carries a damaged name or block.");
    if (ops(d).startSession) ops(d).startSession(d, flags, delay, width, height, depth, flags2);
    return true;
}

bool diXAIPShowStatusText(DiXDisplay* d, Cur& c) {
    Text16 t;
    if (!readText(c, c.i16(), false, &t)) return false;
    if (ops(d).showStatusText) ops(d).showStatusText(d, t.text, t.length);
    return true;
}

bool diXAIPPing(DiXDisplay* d, Cur& c) {
    diXAIPSendPingReply(d, c.u16());
    return true;
}

bool diXAIPClipboardData(DiXDisplay* d, Cur& c) {
    DiXClipChunk k = {};
    k.flags = c.u8();
    Text16 name;
    if (k.flags & 1) {
        k.total = c.u32();
        if (d->flags & DI_XFLAG_CLIP_EX) {
            k.hasIds = 1;
            k.formatId = c.u32();
            k.ownerId = c.u32();
        }
        if (!readText(c, c.i16(), false, &name)) return false;
        k.name = name.text;
        k.nameLength = name.length;
    }
    int32_t n = c.i16();
    if (n < 0) return false;
    k.data = c.bytes(uint32_t(n));
    k.length = uint32_t(n);
    if (c.bad) return false;
    if (ops(d).clipboardData) ops(d).clipboardData(d, &k);
    return true;
}

template <void (*DiXRequestOps::*Slot)(DiXDisplay*, uint32_t, const DiChar*, uint32_t)>
bool title(DiXDisplay* d, Cur& c) {
    uint32_t id = c.u8();
    Text16 t;
    if (!readText(c, c.u16(), (d->flags & DI_XFLAG_UTF8) != 0, &t)) return false;
    if (ops(d).*Slot) (ops(d).*Slot)(d, id, t.text, t.length);
    return true;
}

bool diXAIPSetWindowIcon(DiXDisplay* d, Cur& c) {
    uint32_t id = c.u8();
    DiXImage im;
    im.width = int32_t(c.u16());
    im.height = int32_t(c.u16());
    im.depth = c.u8();
    im.compression = c.u8();
    im.length = c.left;
    im.data = c.bytes(c.left);
    if (ops(d).setWindowIconImage) ops(d).setWindowIconImage(d, id, &im, nullptr);
    return true;
}

bool diXAIPSetSizeHints(DiXDisplay* d, Cur& c) {
    uint32_t id = c.u8();
    uint32_t h1 = c.u16(), h2 = c.u16(), h3 = c.u16(), h4 = c.u16();
    if (ops(d).setSizeHints) ops(d).setSizeHints(d, id, h1, h2, h3, h4);
    return true;
}

bool diXAIPPutSubImage(DiXDisplay* d, Cur& c) {
    int32_t x = c.i16(), y = c.i16();
    DiXImage im;
    im.width = c.i16();
    im.height = c.i16();
    int32_t rows = c.i16(), first = c.i16(), step = c.i16();
    im.depth = c.u8();
    im.compression = c.u8();
    im.length = c.left;
    im.data = c.bytes(c.left);
    if (ops(d).putSubImage) ops(d).putSubImage(d, x, y, rows, first, step, &im);
    return true;
}

bool diXAIPChangeProperty(DiXDisplay* d, Cur& c) {
    c.skip(2);
    uint32_t op = c.u8();
    Text16 window, name, value;
    if (!readText(c, c.i16(), false, &window)) return false;
    if (!readText(c, c.i16(), false, &name)) return false;
    if (!readText(c, c.i16(), false, &value)) return false;
    if (ops(d).propertyChanged)
        ops(d).propertyChanged(d, op, window.text, window.length, name.text, name.length,
                               value.text, value.length);
    return true;
}

bool diXAIPSetPointerGrab(DiXDisplay* d, Cur& c) {
    uint32_t id = c.u8(), flags = c.u8();
    if (ops(d).setPointerGrab) ops(d).setPointerGrab(d, id, flags);
    return true;
}

bool diXAIPCreateCursor(DiXDisplay* d, Cur& c) {
    uint32_t id = c.u8(), w = c.u8(), h = c.u8(), depth = c.u8(), hx = c.u8(), hy = c.u8();
    uint32_t fg = c.u24(), bg = c.u24();
    uint64_t bitmap = uint64_t(h) * ((w + 7) / 8);
    const uint8_t* mask = c.bytes(bitmap);
    const uint8_t* source = c.bytes(bitmap);
    if (c.bad) return false;
    if (ops(d).createCursor)
        ops(d).createCursor(d, id, w, h, depth, hx, hy, fg, bg, mask, source, uint32_t(bitmap));
    return true;
}

bool diXAIPSelectionTargets(DiXDisplay* d, Cur& c) {
    int32_t declared = c.i16();
    uint32_t want = declared > 0 ? uint32_t(declared) : 0;
    /* An entry takes at least 6 bytes: no more entries than that can fit. */
    if (want > c.left / 6) want = c.left / 6;
    DiXFormatEntry* entries =
        static_cast<DiXFormatEntry*>(malloc((want ? want : 1) * sizeof(DiXFormatEntry)));
    if (!entries) return false;
    int32_t count = 0;
    for (uint32_t i = 0; i < want; i++) {
        Cur e = c;
        uint32_t id = e.u32();
        int32_t n = e.i16();
        const uint8_t* name = n >= 0 ? e.bytes(uint32_t(n)) : nullptr;
        if (e.bad || n < 0) {
            c.left = 0; /* the rest cannot be read: no flag either */
            break;
        }
        entries[count++] = {id, name, uint32_t(n)};
        c = e;
    }
    int32_t flag = c.left >= 1 ? int32_t(c.u8()) : -1;
    if (count < declared) diLogErrorText(u"The X server's clipboard formats are cut short.");
    if (ops(d).selectionTargets) ops(d).selectionTargets(d, declared, count, entries, flag);
    free(entries);
    return true;
}

bool diXAIPRequestSelection(DiXDisplay* d, Cur& c) {
    Text16 t;
    if (!readText(c, c.i16(), false, &t)) return false;
    if (ops(d).requestSelection) ops(d).requestSelection(d, t.text, t.length);
    return true;
}

bool diXAIPRestackWindow(DiXDisplay* d, Cur& c) {
    uint32_t id = c.u8(), mode = c.u8(), sibling = c.u8();
    if (ops(d).restackWindow) ops(d).restackWindow(d, id, mode, sibling);
    return true;
}

bool diXAIPSetWindowIconMasked(DiXDisplay* d, Cur& c) {
    uint32_t id = c.u8(), flags = c.u8();
    DiXImage im, mask;
    im.width = int32_t(c.u16());
    im.height = int32_t(c.u16());
    im.depth = c.u8();
    im.compression = c.u8();
    im.length = c.u16();
    im.data = c.bytes(im.length);
    bool hasMask = (flags & 0x2) != 0;
    if (hasMask) {
        mask.width = int32_t(c.u16());
        mask.height = int32_t(c.u16());
        mask.depth = 1;
        mask.compression = c.u8();
        mask.length = c.u16();
        mask.data = c.bytes(mask.length);
    }
    if (c.bad) return false;
    if (ops(d).setWindowIconImage)
        ops(d).setWindowIconImage(d, id, &im, hasMask ? &mask : nullptr);
    return true;
}

bool diXAIPCreateColorCursor(DiXDisplay* d, Cur& c) {
    uint32_t id = c.u32(), w = c.u32(), h = c.u32(), hx = c.u32(), hy = c.u32();
    uint64_t bytes = uint64_t(w) * h * 4; /* u32 fields: 64 bits cannot wrap */
    if (bytes > c.left) return false;
    const uint8_t* pixels = c.bytes(bytes);
    if (ops(d).createColorCursor)
        ops(d).createColorCursor(d, id, w, h, hx, hy, pixels, uint32_t(bytes));
    return true;
}

using O = DiXRequestOps;

/* Handlers shared by several rows, one name per row. */
const Handler diXAIPPolyLine = listRequest<2, 0, &O::polyLine>;
const Handler diXAIPPolySegment = listRequest<4, 0, &O::polySegment>;
const Handler diXAIPPolyRectangle = listRequest<4, 0xC, &O::polyRectangle>;
const Handler diXAIPPolyFillRectangle = listRequest<4, 0xC, &O::polyFillRectangle>;
const Handler diXAIPSetStandardCursor = oneByte<&O::setStandardCursor>;
const Handler diXAIPDestroyWindow = oneByte<&O::destroyWindow>;
const Handler diXAIPSetFunction = oneByte<&O::setFunction>;
const Handler diXAIPSetTile = pixmapId<&O::setTile>;
const Handler diXAIPSetStipple = pixmapId<&O::setStipple>;
const Handler diXAIPSetFillStyle = oneByte<&O::setFillStyle>;
const Handler diXAIPFreePixmap = pixmapId<&O::freePixmap>;
const Handler diXAIPSetGCField6 = oneByte<&O::setGCField6>;
const Handler diXAIPSetFont = oneByte<&O::setFont>;
const Handler diXAIPPolyText8 = text8<&O::polyText8>;
const Handler diXAIPImageText8 = text8<&O::imageText8>;
const Handler diXAIPOpenFont = oneByte<&O::openFont>;
const Handler diXAIPCloseFont = oneByte<&O::closeFont>;
const Handler diXAIPSetWindowTitle = title<&O::setWindowTitle>;
const Handler diXAIPSetIconTitle = title<&O::setIconTitle>;
const Handler diXAIPUpdateWindow = oneByte<&O::updateWindow>;
const Handler diXAIPSetCursor = oneByte<&O::setCursor>;

struct Entry {
    Handler handler;
    uint16_t minLength;
};

/* Indexed by request type: the handler and its payload's fixed fields. */
const Entry XAIPHandlerTable[DI_XAIP_TABLE_SIZE] = {
    /* 0 */ {nullptr, 0},
    /* 1 */ {nullptr, 0},
    /* 2 */ {diXAIPPutImage, 10},
    /* 3 */ {diXAIPStoreColors, 2},
    /* 4 */ {diXAIPBell, 0},
    /* 5 */ {diXAIPSessionStatus, 4},
    /* 6 */ {nullptr, 0},
    /* 7 */ {diXAIPPolyLine, 2},
    /* 8 */ {diXAIPPolySegment, 2},
    /* 9 */ {diXAIPPolyRectangle, 2},
    /* 10 */ {diXAIPPolyFillRectangle, 2},
    /* 11 */ {diXAIPFillPolygon, 3},
    /* 12 */ {diXAIPCopyArea, 14},
    /* 13 */ {nullptr, 0},
    /* 14 */ {diXAIPSetStandardCursor, 1},
    /* 15 */ {diXAIPCreateWindow, 12},
    /* 16 */ {diXAIPDestroyWindow, 1},
    /* 17 */ {diXAIPShowWindow, 2},
    /* 18 */ {diXAIPConfigureWindow, 9},
    /* 19 */ {diXAIPSetDrawable, 2},
    /* 20 */ {diXAIPSetForeground, 1},
    /* 21 */ {diXAIPSetBackground, 1},
    /* 22 */ {diXAIPSetFunction, 1},
    /* 23 */ {diXAIPSetTile, 1},
    /* 24 */ {diXAIPSetStipple, 1},
    /* 25 */ {diXAIPSetTSOrigin, 4},
    /* 26 */ {diXAIPSetFillStyle, 1},
    /* 27 */ {diXAIPCreatePixmap, 7},
    /* 28 */ {diXAIPFreePixmap, 1},
    /* 29 */ {diXAIPSetGCField6, 1},
    /* 30 */ {diXAIPSetFont, 1},
    /* 31 */ {diXAIPSetPlaneMask, 4},
    /* 32 */ {nullptr, 0},
    /* 33 */ {nullptr, 0},
    /* 34 */ {diXAIPPolyText8, 6},
    /* 35 */ {diXAIPImageText8, 6},
    /* 36 */ {diXAIPOpenFont, 1},
    /* 37 */ {diXAIPCloseFont, 1},
    /* 38 */ {diXAIPDefineGlyph, 12},
    /* 39 */ {diXAIPPutGlyphBits, 10},
    /* 40 */ {diXAIPFreeGlyph, 2},
    /* 41 */ {diXAIPDiscardRectangles, 2},
    /* 42 */ {diXAIPSetDisplayFlags, 1},
    /* 43 */ {diXAIPSync, 0},
    /* 44 */ {nullptr, 0},
    /* 45 */ {diXAIPMeasureDrawing, 0},
    /* 46 */ {nullptr, 0},
    /* 47 */ {diXAIPCopyPlane, 18},
    /* 48 */ {diXAIPServerInit, 4},
    /* 49 */ {diXAIPShowStatusText, 2},
    /* 50 */ {diXAIPPing, 2},
    /* 51 */ {nullptr, 0},
    /* 52 */ {diXAIPClipboardData, 3},
    /* 53 */ {diXAIPSetWindowTitle, 3},
    /* 54 */ {diXAIPSetWindowIcon, 7},
    /* 55 */ {diXAIPSetSizeHints, 9},
    /* 56 */ {diXAIPSetIconTitle, 3},
    /* 57 */ {diXAIPUpdateWindow, 1},
    /* 58 */ {diXAIPPutSubImage, 16},
    /* 59 */ {diXAIPChangeProperty, 9},
    /* 60 */ {diXAIPSetPointerGrab, 2},
    /* 61 */ {diXAIPCreateCursor, 12},
    /* 62 */ {diXAIPSetCursor, 1},
    /* 63 */ {diXAIPSelectionTargets, 2},
    /* 64 */ {diXAIPRequestSelection, 2},
    /* 65 */ {diXAIPRestackWindow, 3},
    /* 66 */ {nullptr, 0},
    /* 67 */ {diXAIPSetWindowIconMasked, 10},
    /* 68 */ {nullptr, 0},
    /* 69 */ {nullptr, 0},
    /* 70 */ {diXAIPCreateColorCursor, 20},
};

void logSkipped(uint32_t type, uint32_t length, const char* why) {
    DiChar text[128];
    char narrow[128];
    int n = snprintf(narrow, sizeof narrow, "X-AIP request %u of %u bytes skipped: %s.", type,
                     length, why);
    if (n < 0) return;
    size_t i = 0;
    for (; narrow[i] && i + 1 < DI_COUNTOF(text); i++)
        text[i] = DiChar(uint8_t(narrow[i]));
    text[i] = 0;
    diLogErrorText(text);
}

/* One request through its table entry; inlined into the dispatch loop. */
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline void handle(DiXDisplay* d, uint32_t type, const uint8_t* payload, uint32_t length) {
    if (type >= DI_XAIP_TABLE_SIZE) return;
    const Entry& e = XAIPHandlerTable[type];
    if (!e.handler) return;
    if (length < e.minLength) {
        logSkipped(type, length, "shorter than its fields");
        return;
    }
    Cur c = {payload, length, false};
    if (!e.handler(d, c)) logSkipped(type, length, "a length does not fit");
}

/* Messages between two readings of the clock in dispatch. */
const uint32_t kSliceCheckEvery = 32;
const uint32_t kFlushEvery = 27;

} // namespace

void diXAIPHandleRequest(DiXDisplay* d, uint32_t type, const uint8_t* payload, uint32_t length) {
    handle(d, type, payload, length);
}

int diXAIPDispatch(DiXDisplay* d, DiBuffer* buf, int sliceCheck) {
    uint32_t at = 0;
    uint32_t flushIn = kFlushEvery, clockIn = kSliceCheckEvery;
    while (buf->used - at >= 3) {
        const uint8_t* m = buf->data + at;
        uint32_t type = m[0], len = uint32_t(m[1] | (m[2] << 8));
        if (len > buf->used - at - 3) break;
        /* A handler may have closed the channel (its close event frees the
         * display's resources): run nothing more, and drop what ran, so
         * that no later call runs it again. */
        if (!d->ch.open) break;
        handle(d, type, m + 3, len);
        at += 3 + len;
        if (!d->ch.open) break;
        if (--flushIn == 0) {
            flushIn = kFlushEvery;
            if (d->ops->flushDueUpdates) d->ops->flushDueUpdates(d);
        }
        /* The clock is read every 32 messages: reading it costs more than
         * several small requests, and 32 of them take far less than a
         * slice. */
        if (sliceCheck && --clockIn == 0) {
            clockIn = kSliceCheckEvery;
            if (diDEChannelSliceOver(&d->ch)) break;
        }
    }
    if (at) {
        uint32_t rest = buf->used - at;
        if (rest) memmove(buf->data, buf->data + at, rest);
        buf->used = rest;
        if (d->ch.open) diXAIPCountConsumed(d, int32_t(at));
    }
    return 0;
}
