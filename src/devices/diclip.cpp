/* Clipboard format names and text forms: see diclip.h. */
#include "devices/diclip.h"

#include <stdlib.h>
#include <string.h>

namespace {

const char* const kNames[16] = {
    "STRING",  "CF_BITMAP",      "CF_METAFILEPICT", "CF_SYLK",    "CF_DIF",  "CF_TIFF",
    "TEXT",    "CF_DIB",         "CF_PALETTE",      "CF_PENDATA", "CF_RIFF", "CF_WAVE",
    "UNICODE", "CF_ENHMETAFILE", "CF_HDROP",        "CF_LOCALE",
};

/* Room for the worst case of a conversion: sizes are checked in 64 bits
 * before they reach malloc. */
DiClipBytes alloc(uint64_t n) {
    DiClipBytes b = {nullptr, 0, false};
    if (n > SIZE_MAX / 2) return b;
    b.data = static_cast<uint8_t*>(malloc(size_t(n ? n : 1)));
    b.ok = b.data != nullptr;
    return b;
}

uint16_t unit(const uint8_t* p, size_t i) {
    return uint16_t(p[2 * i] | (p[2 * i + 1] << 8));
}

void putUnit(uint8_t* p, size_t* at, uint16_t u) {
    p[(*at)++] = uint8_t(u);
    p[(*at)++] = uint8_t(u >> 8);
}

} // namespace

const char* diClipFormatName(uint32_t format) {
    return format >= 1 && format <= 16 ? kNames[format - 1] : nullptr;
}

uint32_t diClipFormatByName(const DiChar* name, uint32_t length) {
    for (uint32_t f = 0; f < 16; f++) {
        const char* t = kNames[f];
        if (strlen(t) != length) continue;
        uint32_t i = 0;
        while (i < length && name[i] == DiChar(uint8_t(t[i])))
            i++;
        if (i == length) return f + 1;
    }
    return 0;
}

bool diClipNamesLocalFiles(const DiChar* name, uint32_t length) {
    static const char* const kFileFormats[] = {
        "CF_HDROP",
        "FileName",
        "FileNameW",
        "Shell IDList Array",
        "FileGroupDescriptor",
        "FileGroupDescriptorW",
        "FileContents",
    };
    auto lower = [](DiChar c) { return c >= 'A' && c <= 'Z' ? DiChar(c + 32) : c; };
    for (const char* t : kFileFormats) {
        if (strlen(t) != length) continue;
        uint32_t i = 0;
        while (i < length && lower(name[i]) == lower(DiChar(uint8_t(t[i]))))
            i++;
        if (i == length) return true;
    }
    return false;
}

DiClipBytes diClipTextFromLocal(const uint8_t* text, size_t n) {
    const uint8_t* end = static_cast<const uint8_t*>(memchr(text, 0, n));
    if (end) n = size_t(end - text);
    DiClipBytes b = alloc(n);
    if (!b.ok) return b;
    for (size_t i = 0; i < n; i++) {
        uint8_t c = text[i];
        if (c == '\r' && i + 1 < n && text[i + 1] == '\n') continue;
        b.data[b.length++] = c == 0x80 ? 0xA4 : c;
    }
    return b;
}

DiClipBytes diClipTextToLocal(const uint8_t* text, size_t n) {
    DiClipBytes b = alloc(uint64_t(n) * 2 + 1);
    if (!b.ok) return b;
    for (size_t i = 0; i < n; i++) {
        uint8_t c = text[i];
        if (c == '\n' && (i == 0 || text[i - 1] != '\r')) {
            b.data[b.length++] = '\r';
        } else if (c == '\r' && (i + 1 == n || text[i + 1] != '\n')) {
            b.data[b.length++] = '\r';
            c = '\n';
        }
        b.data[b.length++] = c == 0xA4 ? 0x80 : c;
    }
    b.data[b.length++] = 0;
    return b;
}

DiClipBytes diClipUnicodeFromLocal(const uint8_t* text, size_t n) {
    size_t units = n / 2;
    for (size_t i = 0; i < units; i++)
        if (unit(text, i) == 0) {
            units = i;
            break;
        }
    DiClipBytes b = alloc(uint64_t(units) * 2);
    if (!b.ok) return b;
    for (size_t i = 0; i < units; i++) {
        uint16_t u = unit(text, i);
        if (u == '\r' && i + 1 < units && unit(text, i + 1) == '\n') continue;
        putUnit(b.data, &b.length, u);
    }
    return b;
}

DiClipBytes diClipUnicodeToLocal(const uint8_t* text, size_t n) {
    size_t units = n / 2;
    DiClipBytes b = alloc(uint64_t(units) * 4 + 2);
    if (!b.ok) return b;
    for (size_t i = 0; i < units; i++) {
        uint16_t u = unit(text, i);
        if (u == '\n' && (i == 0 || unit(text, i - 1) != '\r')) putUnit(b.data, &b.length, '\r');
        putUnit(b.data, &b.length, u);
    }
    putUnit(b.data, &b.length, 0);
    return b;
}

namespace {

uint16_t le16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++)
        p[i] = uint8_t(v >> (8 * i));
}

} // namespace

bool diClipMetafileFromServer(const uint8_t* data, size_t n, DiClipMetafile* out) {
    const size_t kHeader = 18;
    if (n < 12 + kHeader) return false;
    const uint8_t* bits = data + 12;
    size_t length = n - 12;
    if (length % 2) return false;
    uint16_t type = le16(bits), headerWords = le16(bits + 2), version = le16(bits + 4);
    uint64_t total = uint64_t(le32(bits + 6)) * 2;
    if (type != 1 || headerWords != 9 || (version != 0x100 && version != 0x300)) return false;
    if (total < kHeader || total > length) return false;
    /* Every record is read by its size: walk them as a player would. */
    for (uint64_t at = kHeader; at < total;) {
        if (total - at < 6) return false;
        uint64_t words = le32(bits + at);
        if (words < 3 || words * 2 > total - at) return false;
        if (le16(bits + at + 4) == 0) break; /* the end record */
        at += words * 2;
    }
    out->mappingMode = int32_t(le32(data));
    out->xExt = int32_t(le32(data + 4));
    out->yExt = int32_t(le32(data + 8));
    out->bits = bits;
    out->length = size_t(total);
    return true;
}

DiClipBytes diClipMetafileToServer(int32_t mappingMode, int32_t xExt, int32_t yExt,
                                   const uint8_t* bits, size_t n) {
    DiClipBytes b = alloc(uint64_t(n) + 16);
    if (!b.ok) return b;
    put32(b.data, uint32_t(mappingMode));
    put32(b.data + 4, uint32_t(xExt));
    put32(b.data + 8, uint32_t(yExt));
    if (n) memcpy(b.data + 12, bits, n);
    put32(b.data + 12 + n, 0);
    b.length = n + 16;
    return b;
}

bool diClipPaletteFromServer(const uint8_t* data, size_t n, const uint8_t** entries,
                             uint32_t* count) {
    if (n < 8 || n / 4 - 1 > 0xFFFF) return false;
    *entries = data + 4;
    *count = uint32_t(n / 4 - 1);
    return true;
}

DiClipBytes diClipPaletteToServer(const uint8_t* entries, uint32_t count) {
    if (count > 0xFFFF) return DiClipBytes{nullptr, 0, false};
    DiClipBytes b = alloc(uint64_t(count) * 4 + 4);
    if (!b.ok) return b;
    b.data[0] = 0x00, b.data[1] = 0x03;
    b.data[2] = uint8_t(count), b.data[3] = uint8_t(count >> 8);
    if (count) memcpy(b.data + 4, entries, size_t(count) * 4);
    b.length = size_t(count) * 4 + 4;
    return b;
}

DiClipBytes diClipTerminalText(const char16_t* text, size_t n, size_t limit) {
    size_t units = 0;
    while (units < n && units < limit && text[units])
        units++;
    /* A high surrogate cut from its partner is no character. */
    if (units == limit && units < n && units && text[units - 1] >= 0xD800 &&
        text[units - 1] < 0xDC00)
        units--;
    DiClipBytes b = alloc(uint64_t(units) * 2);
    if (!b.ok) return b;
    for (size_t i = 0; i < units; i++) {
        if (text[i] == u'\r' && i + 1 < units && text[i + 1] == u'\n') continue;
        putUnit(b.data, &b.length, text[i]);
    }
    return b;
}
