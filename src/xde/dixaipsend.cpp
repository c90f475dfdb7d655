/* Client messages of an X display (see dixaip.h). Each is built whole, then
 * appended to the output buffer. Texts held as UTF-16 go as the low byte of
 * each unit unless a field says UTF-8; coordinates go as u16 (negative
 * values wrap, as the server expects). */
#include "xde/dixaip.h"

#include "core/dilog.h"
#include "core/diutil.h"

#include <stdlib.h>
#include <string.h>

namespace {

/* A message under construction: fixed fields land in the local block; a
 * message that outgrows it moves to the heap. A failed growth marks the
 * message bad and it is not sent. */
struct Msg {
    uint8_t local[64];
    uint8_t* buf = local;
    uint32_t cap = sizeof local;
    uint32_t len = 3;
    bool bad = false;

    explicit Msg(uint8_t type) { buf[0] = type; }
    ~Msg() {
        if (buf != local) free(buf);
    }
    Msg(const Msg&) = delete;
    Msg& operator=(const Msg&) = delete;

    uint8_t* room(uint64_t n) {
        if (bad) return nullptr;
        uint64_t want = uint64_t(len) + n;
        /* No message may be longer than the framing allows. */
        if (want > DI_IO_MAX_MESSAGE) {
            bad = true;
            return nullptr;
        }
        if (want > cap) {
            uint64_t grow = uint64_t(cap) * 2 > want ? uint64_t(cap) * 2 : want;
            uint8_t* nb = static_cast<uint8_t*>(malloc(size_t(grow)));
            if (!nb) {
                bad = true;
                return nullptr;
            }
            memcpy(nb, buf, len);
            if (buf != local) free(buf);
            buf = nb;
            cap = uint32_t(grow);
        }
        uint8_t* at = buf + len;
        len += uint32_t(n);
        return at;
    }
    void u8(uint32_t v) {
        if (uint8_t* p = room(1)) p[0] = uint8_t(v);
    }
    void u16(uint32_t v) {
        if (uint8_t* p = room(2)) p[0] = uint8_t(v), p[1] = uint8_t(v >> 8);
    }
    void u32(uint32_t v) {
        if (uint8_t* p = room(4))
            p[0] = uint8_t(v), p[1] = uint8_t(v >> 8), p[2] = uint8_t(v >> 16),
            p[3] = uint8_t(v >> 24);
    }
    void bytes(const void* b, uint32_t n) {
        uint8_t* p = room(n);
        if (p && n) memcpy(p, b, n);
    }
    /* A text field: length u16, then `length` bytes taken as the low bytes
     * of the first `units` units of text; bytes past the text are 0. */
    void lowText(const DiChar* text, uint32_t units, uint32_t length) {
        if (length > 0xFFFF) {
            bad = true;
            return;
        }
        u16(length);
        uint8_t* p = room(length);
        if (!p) return;
        for (uint32_t i = 0; i < length; i++)
            p[i] = i < units && text ? uint8_t(text[i]) : 0;
    }
    void lowText(const DiChar* text, uint32_t units) { lowText(text, units, units); }
    void utf8Text(const char* text) {
        size_t n = text ? strlen(text) : 0;
        if (n > 0xFFFF) {
            bad = true;
            return;
        }
        u16(uint32_t(n));
        bytes(text, uint32_t(n));
    }
};

uint32_t unitsOf(const DiChar* text) {
    uint32_t n = 0;
    while (text && text[n]) n++;
    return n;
}

void send(DiXDisplay* d, Msg& m) {
    uint32_t payload = m.len - 3;
    if (m.bad || payload > 0xFFFF || m.len > d->ch.out.limit) {
        diLogErrorText(u"An X-AIP client message is too large to be sent; it is dropped.");
        return;
    }
    m.buf[1] = uint8_t(payload);
    m.buf[2] = uint8_t(payload >> 8);
    if (diIOWriteMessage(&d->ch.out, d->ch.socket, m.buf, m.len) < 0)
        diLogErrorText(u"An X-AIP client message could not be sent.");
}

void pointer(DiXDisplay* d, uint8_t type, uint32_t window, uint32_t button, int32_t x, int32_t y) {
    Msg m(type);
    m.u8(window);
    m.u8(button);
    m.u16(uint32_t(x));
    m.u16(uint32_t(y));
    send(d, m);
}

void empty(DiXDisplay* d, uint8_t type) {
    Msg m(type);
    send(d, m);
}

void keyboardBlock(Msg& m, const DdKeyboardInfo* kb) {
    m.u8(kb->flags);
    if (kb->flags & DD_KB_LANG_ID) {
        m.u16(2);
        m.u16(kb->langId);
    } else if (kb->flags & DD_KB_LANG_TEXT) {
        m.lowText(kb->langText, unitsOf(kb->langText), kb->langLength);
    } else {
        m.u16(0);
    }
    /* The IME name's length may count UTF-8 bytes of a UTF-16 text: the
     * bytes come from the text and its terminator only, the rest are 0. */
    if (kb->flags & DD_KB_IME) m.lowText(kb->ime, unitsOf(kb->ime), kb->imeLength);
    if (kb->flags & DD_KB_LAYOUT) m.lowText(kb->layout, unitsOf(kb->layout), kb->layoutLength);
}

void transition(Msg& m, const DiSystemTime& t) {
    m.u16(t.year);
    m.u16(t.month);
    m.u16(t.dayOfWeek);
    m.u16(t.day);
    m.u16(t.hour);
    m.u16(t.minute);
}

} // namespace

void diXAIPSendButtonPress(DiXDisplay* d, uint32_t window, uint32_t button, int32_t x, int32_t y) {
    pointer(d, 3, window, button, x, y);
}

void diXAIPSendButtonRelease(DiXDisplay* d, uint32_t window, uint32_t button, int32_t x,
                             int32_t y) {
    pointer(d, 4, window, button, x, y);
}

void diXAIPSendPointerEvent16(DiXDisplay* d, uint32_t window, uint32_t button, int32_t x,
                              int32_t y) {
    pointer(d, 30, window, button, x, y);
}

void diXAIPSendMotion(DiXDisplay* d, uint32_t window, int32_t x, int32_t y) {
    Msg m(5);
    m.u8(window);
    m.u16(uint32_t(x));
    m.u16(uint32_t(y));
    send(d, m);
}

void diXAIPSendModifiers(DiXDisplay* d, uint32_t state) {
    Msg m(9);
    m.u16(state);
    send(d, m);
}

void diXAIPSendHello(DiXDisplay* d, const DiClientInfo* info, uint16_t desktopWidth,
                     uint16_t desktopHeight, const DdTimeZoneInfo* tz, const DdKeyboardInfo* kb) {
    Msg m(10);
    m.u16(13);
    m.u8(d->connectByte);
    m.lowText(info->platform, unitsOf(info->platform));
    m.lowText(info->osVersion, unitsOf(info->osVersion));
    m.u32(0);
    m.u32(0);
    m.u8(d->colormapKind);
    m.u16(d->featureBits);
    m.u16(desktopWidth);
    m.u16(desktopHeight);
    static const uint8_t kFixed[4] = {4, 3, 1, 153};
    m.bytes(kFixed, 4);
    m.lowText(info->platform2, unitsOf(info->platform2));
    m.lowText(info->osVersion2, unitsOf(info->osVersion2));
    m.lowText(info->processor, unitsOf(info->processor));
    uint32_t blocks = (info->osCode ? 0x10 : 0) | (tz ? 0x01 : 0) | (kb ? 0x20 : 0);
    m.u8(blocks);
    m.u8(0);
    if (blocks & 0x10) {
        m.u16(info->osCode);
        m.u16(info->osMajor);
        m.u16(info->osMinor);
    }
    if (tz) {
        m.u8(tz->flags);
        m.u32(uint32_t(tz->bias));
        m.utf8Text(tz->standardName);
        if (tz->flags & 1) {
            m.u32(uint32_t(tz->daylightOffset));
            m.utf8Text(tz->daylightName);
            /* The record holds the daylight date first; the wire wants the
             * standard transition first. */
            if (tz->flags & 2) {
                transition(m, tz->standardDate);
                transition(m, tz->daylightDate);
            }
        }
    }
    if (kb) keyboardBlock(m, kb);
    m.u32(d->engineFlags);
    send(d, m);
}

void diXAIPSendEvent9(DiXDisplay* d) {
    empty(d, 11);
}
void diXAIPSendEvent10(DiXDisplay* d) {
    empty(d, 12);
}
void diXAIPSendClose(DiXDisplay* d) {
    empty(d, 13);
}

void diXAIPSendAck(DiXDisplay* d, uint32_t bytes) {
    Msg m(16);
    m.u32(bytes);
    send(d, m);
}

void diXAIPSendProperty(DiXDisplay* d, const DiChar* window, uint32_t windowLength,
                        const DiChar* name, uint32_t nameLength, const DiChar* value,
                        uint32_t valueLength) {
    Msg m(17);
    m.lowText(window, windowLength);
    m.lowText(name, nameLength);
    m.u8(0);
    m.lowText(value, valueLength);
    send(d, m);
}

void diXAIPSendSyncReply(DiXDisplay* d) {
    Msg m(19);
    m.u32(0);
    send(d, m);
}

void diXAIPSendTimings(DiXDisplay* d, const uint32_t* values, uint32_t count) {
    Msg m(20);
    for (uint32_t i = 0; i < count; i++) m.u32(values[i]);
    send(d, m);
}

void diXAIPSendKeyPress(DiXDisplay* d, uint32_t code, uint32_t character) {
    Msg m(23);
    m.u16(code);
    m.u16(character);
    send(d, m);
}

void diXAIPSendKeyRelease(DiXDisplay* d, uint32_t code, uint32_t character) {
    Msg m(24);
    m.u16(code);
    m.u16(character);
    send(d, m);
}

void diXAIPSendFocusIn(DiXDisplay* d, uint32_t window) {
    Msg m(27);
    m.u8(window);
    send(d, m);
}

void diXAIPSendFocusOut(DiXDisplay* d, uint32_t window) {
    Msg m(28);
    m.u8(window);
    send(d, m);
}

void diXAIPSendScreenInfo(DiXDisplay* d, uint32_t value) {
    Msg m(29);
    m.u32(value);
    static const uint16_t kTables[5] = {256, 1024, 16, 256, 32};
    for (uint16_t t : kTables) m.u16(t);
    send(d, m);
}

void diXAIPSendPingReply(DiXDisplay* d, uint32_t value) {
    Msg m(31);
    m.u16(value);
    send(d, m);
}

void diXAIPSendClipboardChunks(DiXDisplay* d, const DiChar* name, uint32_t nameLength,
                               const uint8_t* data, uint32_t length, uint32_t formatId,
                               int passOn) {
    const uint32_t kChunk = 16384;
    uint32_t chunks = length == 0 ? 1 : uint32_t((uint64_t(length) + kChunk - 1) / kChunk);
    for (uint32_t i = 0; i < chunks; i++) {
        uint32_t at = i * kChunk;
        uint32_t n = length - at < kChunk ? length - at : kChunk;
        Msg m(32);
        m.u8((i == 0 ? 1 : 0) | (i + 1 == chunks ? 2 : 0) | (passOn ? 4 : 0));
        if (i == 0) {
            m.u32(length);
            if (d->flags & DI_XFLAG_CLIP_EX) m.u32(formatId);
            m.lowText(name, nameLength);
        }
        m.u16(n);
        m.bytes(data + at, n);
        send(d, m);
        if (m.bad) return; /* the rest would be chunks of a transfer with no start */
    }
}

void diXAIPSendClipboardData(DiXDisplay* d, const DiChar* name, uint32_t nameLength,
                             const uint8_t* data, uint32_t length, uint32_t formatId) {
    diXAIPSendClipboardChunks(d, name, nameLength, data, length, formatId, 0);
}

void diXAIPSendWindowState(DiXDisplay* d, uint32_t window, uint32_t kind, uint32_t value) {
    Msg m(34);
    m.u8(window);
    m.u8(kind);
    m.u8(value);
    send(d, m);
}

static void configureBody(Msg& m, uint32_t window, const int32_t prev[4], const int32_t next[4]) {
    m.u8(window);
    for (int i = 0; i < 4; i++) m.u16(uint32_t(prev[i]));
    for (int i = 0; i < 4; i++) m.u16(uint32_t(next[i]));
}

void diXAIPSendConfigureNotify(DiXDisplay* d, uint32_t window, const int32_t prev[4],
                               const int32_t next[4]) {
    Msg m(35);
    configureBody(m, window, prev, next);
    send(d, m);
}

void diXAIPSendConfigureNotifyEx(DiXDisplay* d, uint32_t window, const int32_t prev[4],
                                 const int32_t next[4], const int32_t borders[4]) {
    Msg m(35);
    configureBody(m, window, prev, next);
    for (int i = 0; i < 4; i++) m.u16(uint32_t(borders[i]));
    m.u16(d->frameValue);
    send(d, m);
}

void diXAIPSendActivate(DiXDisplay* d, uint32_t window, int32_t value) {
    Msg m(36);
    m.u8(window);
    m.u8(uint32_t(value));
    send(d, m);
}

void diXAIPSendWindowCreated(DiXDisplay* d, uint32_t window, const int32_t borders[4]) {
    Msg m(38);
    m.u8(window);
    for (int i = 0; i < 4; i++) m.u16(uint32_t(borders[i]));
    send(d, m);
}

void diXAIPSendPropertyNotify(DiXDisplay* d, const DiChar* window, uint32_t windowLength,
                              const DiChar* name, uint32_t nameLength) {
    Msg m(39);
    m.lowText(window, windowLength);
    m.lowText(name, nameLength);
    m.u8(0);
    m.u8(1);
    send(d, m);
}

void diXAIPSendWheel(DiXDisplay* d, uint32_t window, int32_t delta, int32_t notches, int32_t x,
                     int32_t y) {
    Msg m(40);
    m.u8(window);
    m.u16(uint32_t(delta));
    m.u16(uint32_t(notches));
    m.u16(uint32_t(x));
    m.u16(uint32_t(y));
    send(d, m);
}

static void offer(DiXDisplay* d, const DiChar* name, uint32_t nameLength, uint32_t formatId,
                  uint32_t requesterId, const uint8_t* block, uint32_t blockLength) {
    Msg m(41);
    m.u32(formatId);
    m.lowText(name, nameLength);
    m.u32(requesterId);
    if (blockLength > 0xFFFF) m.bad = true;
    m.u16(blockLength);
    m.bytes(block, blockLength);
    m.u8(0);
    m.u8(0);
    send(d, m);
}

void diXAIPSendClipboardOffer(DiXDisplay* d, const DiChar* name, uint32_t nameLength,
                              uint32_t formatId) {
    offer(d, name, nameLength, formatId, 0, nullptr, 0);
}

void diXAIPSendClipboardOfferFrom(DiXDisplay* d, const DiChar* name, uint32_t nameLength,
                                  uint32_t formatId, const DiXDisplay* requester) {
    if (!requester) {
        offer(d, name, nameLength, formatId, 0, nullptr, 0);
        return;
    }
    offer(d, name, nameLength, formatId, requester->id, requester->ownerBlock,
          requester->ownerBlockLength);
}

void diXAIPSendSelectionData(DiXDisplay* d, const uint8_t* list, uint32_t listLength,
                             uint32_t count, const uint8_t* block, uint32_t blockLength) {
    Msg m(42);
    m.u16(count);
    m.bytes(list, listLength);
    if (blockLength > 0xFFFF) m.bad = true;
    m.u16(blockLength);
    m.bytes(block, blockLength);
    send(d, m);
}

void diXAIPSendDisplayLayout(DiXDisplay* d, const DdKeyboardInfo* kb) {
    Msg m(44);
    keyboardBlock(m, kb);
    send(d, m);
}
