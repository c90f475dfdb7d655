/* Portable half of the graphics wrappers: the font cache. */
#include "ui/digdi.h"

#include <stdlib.h>
#include <string.h>

static DiGDIFont* s_fontHead;
static DiGDIFont* s_fontTail;

static size_t diGDIFaceLength(const DiChar* s) {
    size_t n = 0;
    if (s)
        while (s[n])
            n++;
    return n;
}

static bool diGDIFaceEqual(const DiChar* a, const DiChar* b) {
    size_t n = diGDIFaceLength(a);
    return n == diGDIFaceLength(b) && (n == 0 || memcmp(a, b, n * sizeof(DiChar)) == 0);
}

DiGDIFont* diGDIFontList() {
    return s_fontHead;
}

DiGDIFont* diGDIFontNew(const DiChar* face, int32_t width, int32_t height, uint32_t bold,
                        uint32_t eastEuropean) {
    DiGDIFont* font = static_cast<DiGDIFont*>(calloc(1, sizeof(DiGDIFont)));
    if (!font) return nullptr;
    size_t n = diGDIFaceLength(face);
    font->face = static_cast<DiChar*>(calloc(n + 1, sizeof(DiChar)));
    if (!font->face) {
        free(font);
        return nullptr;
    }
    if (n) memcpy(font->face, face, n * sizeof(DiChar));
    font->useCount = 1;
    font->width = width;
    font->height = height;
    font->bold = bold;
    font->eastEuropean = eastEuropean;
    return font;
}

void diGDIFontAppend(DiGDIFont* font) {
    font->next = nullptr;
    font->prev = s_fontTail;
    if (s_fontTail)
        s_fontTail->next = font;
    else
        s_fontHead = font;
    s_fontTail = font;
}

void diGDIFontUnlink(DiGDIFont* font) {
    if (font->prev)
        font->prev->next = font->next;
    else if (s_fontHead == font)
        s_fontHead = font->next;
    if (font->next)
        font->next->prev = font->prev;
    else if (s_fontTail == font)
        s_fontTail = font->prev;
    font->next = font->prev = nullptr;
}

void diGDIFontFreeRecord(DiGDIFont* font) {
    if (!font) return;
    free(font->face);
    free(font);
}

DiGDIFont* diGDIFindFont(DdGC* gc, const DiChar* face, int32_t width, int32_t height, uint32_t bold,
                         uint32_t eastEuropean) {
    for (DiGDIFont* f = s_fontHead; f; f = f->next) {
        if (f->width == width && f->height == height && f->bold == bold &&
            f->eastEuropean == eastEuropean && diGDIFaceEqual(f->face, face)) {
            f->useCount++;
            return f;
        }
    }
    return ddGDICreateFont(gc, face, width, height, bold, eastEuropean);
}

void diGDIReleaseFont(DdGC* gc, DiGDIFont* font) {
    if (!font || font->useCount == 0) return;
    if (--font->useCount == 0) ddGDIDeleteFont(gc, font);
}

int diUtilSPrintf(DiChar* buffer, size_t size, const DiChar* format, const DiFmtArg* args,
                  size_t count) {
    if (!buffer || size == 0) return -1;
    if (!format) {
        buffer[0] = 0;
        return 0;
    }
    return diFormatPositional(buffer, size, format, args, count);
}
