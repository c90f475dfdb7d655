#include "xml/qvlparser.h"
#include "xml/qvlxmlglobals.h"

#include <stdlib.h>
#include <string.h>

void CQVLParser::Reset(const void* bytes, size_t n) {
    begin = cursor = static_cast<const uint8_t*>(bytes);
    end = begin + n;
    error[0] = 0;
    depth = 0;
    qvlTextCacheFree(texts);
    texts = nullptr;
}

void CQVLParser::SetError(const char* format, const DiChar* a1, const DiChar* a2) {
    if (error[0]) return;
    const size_t cap = DI_COUNTOF(error) - 1;
    size_t o = 0;
    const DiChar* args[2] = {a1, a2};
    int next = 0;
    for (const char* f = format; *f && o < cap; f++) {
        if (f[0] == '%' && f[1] == 's') {
            const DiChar* a = next < 2 ? args[next] : nullptr;
            next++;
            for (; a && *a && o < cap; a++)
                error[o++] = *a;
            f++;
        } else {
            error[o++] = static_cast<unsigned char>(*f);
        }
    }
    error[o] = 0;
    if (o == 0) { /* an empty message would read as "no error" */
        error[0] = '?';
        error[1] = 0;
    }
}

static bool isHex(DiChar c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

/* Value of the reference digits text[0..n) ("x" and hex digits, or decimal
 * digits), or -1 when they are not all digits. Saturates far above the
 * Unicode range. */
static int64_t referenceValue(const DiChar* t, size_t n) {
    int base = 10;
    size_t i = 0;
    if (n > 0 && (t[0] == 'x' || t[0] == 'X')) {
        base = 16;
        i = 1;
    }
    if (i >= n) return -1;
    int64_t v = 0;
    for (; i < n; i++) {
        DiChar c = t[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && isHex(c))
            d = (c | 0x20) - 'a' + 10;
        else
            return -1;
        if (v < 0x7FFFFFFF) v = v * base + d;
    }
    return v;
}

void qvlDecodeReferences(DiChar* text) {
    if (!text) return;
    DiChar* out = text;
    const DiChar* in = text;
    while (*in) {
        if (*in != '&') {
            *out++ = *in++;
            continue;
        }
        /* The ';' must stand 3 to 16 units after the '&'; only that window
         * is examined, so decoding stays linear. */
        size_t semi = 0;
        for (size_t k = 1; k <= 16 && in[k]; k++)
            if (in[k] == ';') {
                semi = k;
                break;
            }
        if (semi < 3) {
            *out++ = *in++;
            continue;
        }
        const DiChar* body = in + 1;
        size_t n = semi - 1;
        bool done = false;
        if (body[0] == '#') {
            int64_t v = referenceValue(body + 1, n - 1);
            /* NUL, surrogates and values past the last plane stay as text:
             * none of them is a character. */
            if (v > 0 && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
                if (v >= 0x10000) {
                    v -= 0x10000;
                    *out++ = static_cast<DiChar>(0xD800 + (v >> 10));
                    *out++ = static_cast<DiChar>(0xDC00 + (v & 0x3FF));
                } else {
                    *out++ = static_cast<DiChar>(v);
                }
                done = true;
            }
        } else if (int code = qvlEntityCode(body, n)) {
            *out++ = static_cast<DiChar>(code);
            done = true;
        }
        if (done) {
            in += semi + 1;
        } else {
            *out++ = *in++;
        }
    }
    *out = 0;
}

DiChar* CQVLParser::Substring(const uint8_t* from, const uint8_t* to) {
    if (!from || to < from) to = from;
    size_t n = static_cast<size_t>(to - from);
    DiChar* text = qvlUtf8ToUtf16Dup(from, n);
    /* Every reference starts with '&'; without one there is nothing to do. */
    if (n && memchr(from, '&', n)) qvlDecodeReferences(text);
    return text;
}

bool CQVLParser::PeekChar(uint8_t* c) {
    if (cursor >= end) {
        SetError("Read past end of buffer!");
        return false;
    }
    *c = *cursor;
    return true;
}

bool CQVLParser::AcceptLetter() {
    uint8_t c;
    return PeekChar(&c) && AcceptIf((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'));
}

bool CQVLParser::AcceptDigit() {
    uint8_t c;
    return PeekChar(&c) && AcceptIf(c >= '0' && c <= '9');
}

bool CQVLParser::AcceptHexDigit() {
    int c = Current();
    return AcceptIf(c > 0 && isHex(static_cast<DiChar>(c)));
}

bool CQVLParser::AcceptNameChar() {
    if (AcceptLetter() || AcceptDigit()) return true;
    int c = Current();
    return AcceptIf(c == '.' || c == '-' || c == '_' || c == ':');
}

bool CQVLParser::AcceptCharIn(const char* set) {
    int c = Current();
    return AcceptIf(c > 0 && strchr(set, c));
}

bool CQVLParser::AcceptCharNotIn(const char* set) {
    int c = Current();
    return AcceptIf(c > 0 && !strchr(set, c));
}

bool CQVLParser::AcceptUnless(const char* s, size_t n) {
    if (Current() < 0) return false;
    if (static_cast<size_t>(end - cursor) >= n && memcmp(cursor, s, n) == 0) return false;
    cursor++;
    return true;
}

