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
