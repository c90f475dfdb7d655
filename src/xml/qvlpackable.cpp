#include "xml/qvlpackable.h"
#include "xml/qvlxmlglobals.h"
#include "core/diutil.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

CQVLPackBuffer::CQVLPackBuffer(int enc, int m)
    : data(static_cast<uint8_t*>(malloc(16))), length(0), capacity(data ? 16 : 0), mode(m),
      encoding(enc), failed(false) {}

bool CQVLPackBuffer::Reserve(uint64_t needed) {
    if (needed <= capacity) return true;
    if (needed > kMaxSize) {
        failed = true;
        return false;
    }
    uint64_t cap = capacity ? capacity : 16;
    while (cap <= needed)
        cap *= 2;
    uint8_t* d = static_cast<uint8_t*>(malloc(static_cast<size_t>(cap)));
    if (!d) {
        failed = true;
        return false;
    }
    if (length) memcpy(d, data, length);
    free(data);
    data = d;
    capacity = static_cast<uint32_t>(cap);
    return true;
}

void CQVLPackBuffer::AppendBytes(const void* bytes, uint32_t n) {
    if (n == 0 || !Reserve(static_cast<uint64_t>(length) + n)) return;
    memcpy(data + length, bytes, n);
    length += n;
}

void CQVLPackBuffer::Append(const CQVLPackBuffer* other) {
    if (!other) return;
    if (other->failed) failed = true;
    AppendBytes(other->data, other->length);
}

static const char* escapeOf(unsigned c) {
    switch (c) {
    case '"':
        return "&quot;";
    case '&':
        return "&amp;";
    case '\'':
        return "&apos;";
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    }
    return nullptr;
}

void CQVLPackBuffer::WriteEscapableByte(int enc, uint8_t b) {
    (void)enc;
    const char* esc = mode == QVL_MODE_ESCAPED ? escapeOf(b) : nullptr;
    if (esc)
        AppendBytes(esc, static_cast<uint32_t>(strlen(esc)));
    else
        AppendBytes(&b, 1);
}

void CQVLPackBuffer::WriteUtf8(const DiChar* units, size_t n) {
    char bytes[4];
    char* out = bytes;
    const DiChar* src = units;
    bool lone = n == 1 && units[0] >= 0xD800 && units[0] <= 0xDFFF;
    int len = lone ? 0 : diUtf16ToUtf8(&src, units + n, &out, bytes + 4, DI_CONV_STRICT);
    if (len <= 0) {
        /* A lone surrogate has no UTF-8 form. */
        static const char kReplacement[3] = {'\xEF', '\xBF', '\xBD'};
        AppendBytes(kReplacement, 3);
        return;
    }
    AppendBytes(bytes, static_cast<uint32_t>(len));
}

void CQVLPackBuffer::WriteChar(int enc, DiChar c) {
    if (mode < QVL_MODE_TEXT || mode > QVL_MODE_MARKUP) return;
    switch (enc) {
    case QVL_ENC_ANSI7:
    case QVL_ENC_ANSI: {
        uint8_t b[4];
        int n = qvlToAnsi(c, b);
        for (int i = 0; i < n; i++)
            WriteEscapableByte(enc, enc == QVL_ENC_ANSI7 && b[i] > 0x7F ? '?' : b[i]);
        break;
    }
    case QVL_ENC_UTF8:
        /* Surrogate pairs are joined by WriteString before they get here. */
        WriteUtf8(&c, 1);
        break;
    case QVL_ENC_UTF16: {
        const char* esc = mode == QVL_MODE_ESCAPED && c < 0x80 ? escapeOf(c) : nullptr;
        if (esc) {
            for (; *esc; esc++) {
                uint8_t b[2] = {static_cast<uint8_t>(*esc), 0};
                AppendBytes(b, 2);
            }
        } else {
            uint8_t b[2] = {static_cast<uint8_t>(c & 0xFF), static_cast<uint8_t>(c >> 8)};
            AppendBytes(b, 2);
        }
        break;
    }
    default:
        break;
    }
}

void CQVLPackBuffer::WriteString(int enc, const DiChar* text) {
    if (!text) return;
    for (; *text; text++) {
        DiChar c = *text;
        if (enc == QVL_ENC_UTF8 && c >= 0xD800 && c <= 0xDBFF && text[1] >= 0xDC00 &&
            text[1] <= 0xDFFF) {
            if (mode >= QVL_MODE_TEXT && mode <= QVL_MODE_MARKUP) WriteUtf8(text, 2);
            text++;
            continue;
        }
        WriteChar(enc, c);
    }
}

void CQVLPackBuffer::WriteAscii(int enc, const char* text) {
    for (; text && *text; text++)
        WriteChar(enc, static_cast<unsigned char>(*text));
}

void CQVLPackBuffer::WriteQuoted(int enc, const DiChar* value) {
    if (!value) return;
    bool dq = false, sq = false;
    for (const DiChar* p = value; *p; p++) {
        dq |= *p == '"';
        sq |= *p == '\'';
    }
    if (!dq || !sq) {
        DiChar q = dq ? '\'' : '"';
        WriteChar(enc, q);
        WriteString(enc, value);
        WriteChar(enc, q);
        return;
    }
    /* Both quote kinds: double quotes, with the double quotes inside written
     * as references so that the value stays well-formed. */
    WriteChar(enc, '"');
    const DiChar* run = value;
    for (const DiChar* p = value;; p++) {
        if (*p == '"' || *p == 0) {
            size_t n = static_cast<size_t>(p - run);
            for (size_t i = 0; i < n; i++) {
                if (enc == QVL_ENC_UTF8 && run[i] >= 0xD800 && run[i] <= 0xDBFF && i + 1 < n) {
                    DiChar pair[3] = {run[i], run[i + 1], 0};
                    WriteString(enc, pair);
                    i++;
                } else {
                    WriteChar(enc, run[i]);
                }
            }
            if (*p == 0) break;
            WriteAscii(enc, "&quot;");
            run = p + 1;
        }
    }
    WriteChar(enc, '"');
}

void CQVLPackBuffer::WriteInt(int enc, int32_t value) {
    char s[16];
    snprintf(s, sizeof s, "%d", static_cast<int>(value));
    WriteAscii(enc, s);
}

bool CQVLPackBuffer::Terminate() {
    static const uint8_t zero[2] = {0, 0};
    uint32_t before = length;
    AppendBytes(zero, encoding == QVL_ENC_UTF16 ? 2 : 1);
    if (failed) return false;
    length = before; /* the terminator is not part of the data */
    return true;
}

uint8_t* CQVLPackBuffer::Detach() {
    uint8_t* d = data;
    data = nullptr;
    length = capacity = 0;
    return d;
}

void CQVLPackBuffer::Free() {
    free(data);
    data = nullptr;
    length = capacity = 0;
}
