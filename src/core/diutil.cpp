#include "core/diutil.h"

#include <stdlib.h>
#include <string.h>

namespace {

const uint32_t kReplacement = 0xFFFD;
const uint32_t kMaxCodePoint = 0x10FFFF;

bool isHigh(uint32_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool isLow(uint32_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

/* Sequence length announced by a UTF-8 lead byte. Continuation bytes announce
 * 1 and are then rejected by the legality check. */
int utf8SeqLength(unsigned char lead) {
    if (lead < 0xC0) return 1;
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    if (lead < 0xF8) return 4;
    if (lead < 0xFC) return 5;
    return 6;
}

size_t dichars(const DiChar* s) {
    size_t n = 0;
    while (s[n])
        n++;
    return n;
}

bool isSpace(DiChar c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

} // namespace

int diUtf16ToUtf8(const DiChar** source, const DiChar* sourceEnd, char** target, char* targetEnd,
                  int mode) {
    const DiChar* s = *source;
    char* t = *target;
    int result = 0;
    auto atEnd = [&](const DiChar* p) { return sourceEnd ? p >= sourceEnd : *p == 0; };
    while (!atEnd(s)) {
        const DiChar* start = s;
        uint32_t c = *s++;
        if (isHigh(c)) {
            if (!atEnd(s)) {
                uint32_t c2 = *s;
                if (isLow(c2)) {
                    c = ((c - 0xD800) << 10) + (c2 - 0xDC00) + 0x10000;
                    s++;
                } else if (mode == DI_CONV_STRICT) {
                    s = start;
                    result = DI_CONV_ILLEGAL;
                    break;
                }
            }
            /* A high surrogate that ends the source is written on its own. */
        } else if (isLow(c) && mode == DI_CONV_STRICT) {
            s = start;
            result = DI_CONV_ILLEGAL;
            break;
        }
        int len = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        if (targetEnd - t < len) {
            s = start;
            result = DI_CONV_TARGET_FULL;
            break;
        }
        static const unsigned char firstMark[5] = {0, 0, 0xC0, 0xE0, 0xF0};
        for (int i = len - 1; i > 0; i--) {
            t[i] = static_cast<char>((c & 0x3F) | 0x80);
            c >>= 6;
        }
        t[0] = static_cast<char>(c | firstMark[len]);
        t += len;
    }
    int produced = static_cast<int>(t - *target);
    *source = s;
    *target = t;
    return result ? result : produced;
}

bool diUtf8IsLegal(const unsigned char* bytes, int length) {
    if (length < 1 || length > 4) return false;
    /* Every byte after the lead is a continuation byte. */
    for (int i = 1; i < length; i++)
        if (bytes[i] < 0x80 || bytes[i] > 0xBF) return false;
    unsigned char lead = bytes[0];
    if (length > 1) {
        unsigned char b = bytes[1];
        switch (lead) {
        case 0xE0:
            if (b < 0xA0) return false;
            break;
        case 0xED:
            if (b > 0x9F) return false;
            break;
        case 0xF0:
            if (b < 0x90) return false;
            break;
        case 0xF4:
            if (b > 0x8F) return false;
            break;
        default:
            break;
        }
    }
    if (lead >= 0x80 && lead < 0xC2) return false;
    if (lead > 0xF4) return false;
    return true;
}

int diUtf8ToUtf16(const char** source, const char* sourceEnd, DiChar** target, DiChar* targetEnd,
                  int mode) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(*source);
    const unsigned char* end = reinterpret_cast<const unsigned char*>(sourceEnd);
    DiChar* t = *target;
    int result = 0;
    while (end ? s < end : *s != 0) {
        int len = utf8SeqLength(*s);
        /* Without an end, the NUL ends the source: a sequence cut by it is
         * short. Never read past the NUL. */
        bool shortSource = false;
        if (end) {
            shortSource = end - s < len;
        } else {
            for (int i = 1; i < len; i++)
                if (s[i] == 0) {
                    shortSource = true;
                    break;
                }
        }
        if (shortSource) {
            result = DI_CONV_SOURCE_SHORT;
            break;
        }
        if (!diUtf8IsLegal(s, len)) {
            result = DI_CONV_ILLEGAL;
            break;
        }
        static const uint32_t offsets[5] = {0, 0, 0x3080, 0xE2080, 0x3C82080};
        uint32_t c = 0;
        for (int i = 0; i < len; i++)
            c = (c << 6) + s[i];
        c -= offsets[len];
        if (c < 0x10000) {
            if (c >= 0xD800 && c <= 0xDFFF && mode == DI_CONV_STRICT) {
                result = DI_CONV_ILLEGAL;
                break;
            }
            if (t >= targetEnd) {
                result = DI_CONV_TARGET_FULL;
                break;
            }
            *t++ = static_cast<DiChar>(c);
        } else if (c <= kMaxCodePoint) {
            if (targetEnd - t < 2) {
                result = DI_CONV_TARGET_FULL;
                break;
            }
            c -= 0x10000;
            *t++ = static_cast<DiChar>(0xD800 + (c >> 10));
            *t++ = static_cast<DiChar>(0xDC00 + (c & 0x3FF));
        } else {
            /* Unreachable with the legality rules above; kept so a change to
             * them cannot produce a unit outside UTF-16. */
            if (mode == DI_CONV_STRICT) {
                result = DI_CONV_ILLEGAL;
                break;
            }
            if (t >= targetEnd) {
                result = DI_CONV_TARGET_FULL;
                break;
            }
            *t++ = static_cast<DiChar>(kReplacement);
        }
        s += len;
    }
    int produced = static_cast<int>((t - *target) * sizeof(DiChar));
    *source = reinterpret_cast<const char*>(s);
    *target = t;
    return result ? result : produced;
}

int diTextToUtf8(char* target, char* targetEnd, const DiChar** source, const DiChar* sourceEnd) {
    return diUtf16ToUtf8(source, sourceEnd, &target, targetEnd, DI_CONV_LENIENT);
}

int diTextFromUtf8(DiChar* target, DiChar* targetEnd, const char** source, const char* sourceEnd) {
    return diUtf8ToUtf16(source, sourceEnd, &target, targetEnd, DI_CONV_LENIENT);
}

int diTextToLatin1(char** target, char* targetEnd, const DiChar** source, const DiChar* sourceEnd) {
    const DiChar* s = *source;
    char* t = *target;
    int n = 0;
    while ((sourceEnd ? s < sourceEnd : *s != 0) && t < targetEnd) {
        DiChar c = *s++;
        *t++ = c > 0xFF ? '?' : static_cast<char>(c);
        n++;
    }
    *source = s;
    *target = t;
    return n;
}

int diTextFromLatin1(DiChar** target, DiChar* targetEnd, const char** source,
                     const char* sourceEnd) {
    const char* s = *source;
    DiChar* t = *target;
    while ((sourceEnd ? s < sourceEnd : *s != 0) && t < targetEnd)
        *t++ = static_cast<unsigned char>(*s++);
    int bytes = static_cast<int>((t - *target) * sizeof(DiChar));
    *source = s;
    *target = t;
    return bytes;
}

namespace {

/* calloc of (n + 1) * unit bytes, refusing sizes that would wrap. */
void* allocText(size_t n, size_t unit) {
    if (n >= SIZE_MAX / unit - 1) return nullptr;
    return calloc(n + 1, unit);
}

} // namespace

DiChar* diTextFromLatin1Dup(const char* bytes, size_t n) {
    DiChar* out = static_cast<DiChar*>(allocText(n, sizeof(DiChar)));
    if (!out) return nullptr;
    DiChar* t = out;
    const char* s = bytes;
    diTextFromLatin1(&t, out + n, &s, bytes + n);
    return out;
}

char* diTextToUtf8Dup(const DiChar* text, size_t n) {
    char* out = static_cast<char*>(allocText(n, 3));
    if (!out) return nullptr;
    const DiChar* s = text;
    /* Three bytes per unit always suffice: pairs need four for two units. */
    diTextToUtf8(out, out + 3 * n, &s, text + n);
    return out;
}

DiChar* diTextFromUtf8Dup(const char* bytes, size_t n, size_t* units) {
    /* Every byte yields at most one unit, and a 4-byte sequence two. */
    DiChar* out = static_cast<DiChar*>(allocText(n, sizeof(DiChar)));
    if (!out) return nullptr;
    const char* s = bytes;
    const char* end = bytes + n;
    DiChar* t = out;
    /* Most texts are ASCII: each such byte is a whole character, so the
     * general converter is needed only from the first other byte on. */
    while (s < end && static_cast<unsigned char>(*s) < 0x80)
        *t++ = static_cast<unsigned char>(*s++);
    while (s < end) {
        if (diUtf8ToUtf16(&s, end, &t, out + n, DI_CONV_LENIENT) >= 0) break;
        /* An illegal or cut-off sequence: one replacement character for its
         * first byte, then go on after it; what follows is still the text. */
        *t++ = static_cast<DiChar>(kReplacement);
        s++;
    }
    if (units) *units = size_t(t - out);
    return out;
}

void diStrLowerAscii(DiChar* text, size_t n) {
    for (size_t i = 0; i < n && text[i]; i++)
        if (text[i] >= 'A' && text[i] <= 'Z') text[i] = static_cast<DiChar>(text[i] + ('a' - 'A'));
}

bool diIsDeviceName(const DiChar* name, size_t n) {
    /* The extension, and dots and spaces before it or at the end, are
     * ignored when the name is opened. */
    size_t stem = 0;
    while (stem < n && name[stem] != u'.')
        stem++;
    while (stem && name[stem - 1] == u' ')
        stem--;
    if (stem < 3 || stem > 7) return false;
    char low[8];
    for (size_t i = 0; i < stem; i++) {
        DiChar c = name[i];
        if (c >= u'A' && c <= u'Z') c = DiChar(c + (u'a' - u'A'));
        if (i == 3 && (c == 0xB9 || c == 0xB2 || c == 0xB3)) c = u'1';
        if (c > 0x7F) return false;
        low[i] = char(c);
    }
    low[stem] = 0;
    static const char* const kNames[] = {"con", "prn", "aux", "nul", "conin$", "conout$", "clock$"};
    for (const char* word : kNames)
        if (!strcmp(low, word)) return true;
    return stem == 4 && (!strncmp(low, "com", 3) || !strncmp(low, "lpt", 3)) && low[3] >= '0' &&
           low[3] <= '9';
}

static bool isTrimmed(DiChar c) {
    return c == u' ' || c == u'\n' || c == u'\t' || c == u'\r';
}

void diStrTrimLeft(DiChar* text) {
    if (!text) return;
    size_t skip = 0;
    while (text[skip] && isTrimmed(text[skip])) skip++;
    if (!skip) return;
    size_t i = 0;
    while ((text[i] = text[i + skip]) != 0) i++;
}

void diStrTrimRight(DiChar* text) {
    if (!text) return;
    size_t n = 0;
    while (text[n]) n++;
    while (n > 0 && isTrimmed(text[n - 1])) text[--n] = 0;
}

/* Wildcard matching. The rules, stated recursively: '*' followed by the end
 * of the pattern matches anything; otherwise a '*' fails at the end of the
 * text, and else tries the rest of the pattern from the current text
 * position and from each following position before the end. An escape at
 * the end of the pattern matches only the end of the text.
 *
 * Whether the rest after a '*' matches from position i can only get worse as
 * i grows (every later start is also tried from an earlier one), so only the
 * most recent '*' ever needs to be retried: the loop below keeps that one
 * and gives the same answers in at most length(text) x length(pattern)
 * steps instead of exponentially many. */
bool diWildcardMatch(const DiChar* text, const DiChar* pattern, DiChar escape) {
    const DiChar* t = text;
    const DiChar* p = pattern;
    if (!*p) return !*t;
    const DiChar* starP = nullptr; /* pattern just after the last '*' */
    const DiChar* starT = nullptr; /* text position it was last tried from */
    for (;;) {
        if (!*p) {
            if (!*t) return true;
        } else if (escape && *p == escape) {
            if (!p[1]) {
                if (!*t) return true;
            } else if (*t && *t == p[1]) {
                t++;
                p += 2;
                continue;
            }
        } else if (*p == '*') {
            p++;
            if (!*p) return true;
            if (*t) {
                starP = p;
                starT = t;
                continue;
            }
        } else if (*t && (*p == '?' || *p == *t)) {
            t++;
            p++;
            continue;
        }
        /* Mismatch: move the last '*' on by one unit, never to the end. */
        if (!starP || !starT[1]) return false;
        starT++;
        t = starT;
        p = starP;
    }
}

bool diWildcardMatchNoCase(const DiChar* text, const DiChar* pattern, DiChar escape) {
    size_t nt = dichars(text), np = dichars(pattern);
    DiChar* lt = static_cast<DiChar*>(allocText(nt, sizeof(DiChar)));
    DiChar* lp = static_cast<DiChar*>(allocText(np, sizeof(DiChar)));
    bool match = false;
    if (lt && lp) {
        memcpy(lt, text, nt * sizeof(DiChar));
        memcpy(lp, pattern, np * sizeof(DiChar));
        diStrLowerAscii(lt, nt);
        diStrLowerAscii(lp, np);
        match = diWildcardMatch(lt, lp, escape);
    }
    free(lt);
    free(lp);
    return match;
}

bool diWildcardMatchList(const DiChar* text, const DiChar* list, DiChar separator, DiChar escape) {
    const size_t kMaxItem = 512;
    if (!list) return false;
    const DiChar* s = list;
    for (;;) {
        const DiChar* end = s;
        while (*end && *end != separator)
            end++;
        const DiChar* a = s;
        const DiChar* b = end;
        while (a < b && isSpace(*a))
            a++;
        while (b > a && isSpace(b[-1]))
            b--;
        size_t n = static_cast<size_t>(b - a);
        if (n > 0 && n < kMaxItem) {
            DiChar item[kMaxItem];
            memcpy(item, a, n * sizeof(DiChar));
            item[n] = 0;
            if (diWildcardMatchNoCase(text, item, escape)) return true;
        }
        if (!*end) return false;
        s = end + 1;
    }
}

void diSplitCommandLine(const DiChar* commandLine, DiChar** argv, DiChar* chars, size_t* argc,
                        size_t* charCount) {
    const DiChar kQuote = '"', kSlash = '\\', kSpace = ' ', kTab = '\t';
    const DiChar* p = commandLine;
    DiChar* args = chars;
    size_t nargs = 1, nchars = 0;

    /* The program name: up to the closing quote when quoted, else up to the
     * first space or tab; backslashes and quotes are not special in it. */
    if (argv) *argv++ = args;
    if (*p == kQuote) {
        while (*++p != kQuote && *p) {
            nchars++;
            if (args) *args++ = *p;
        }
        nchars++;
        if (args) *args++ = 0;
        if (*p == kQuote) p++;
    } else {
        DiChar c;
        do {
            nchars++;
            if (args) *args++ = *p;
            c = *p++;
        } while (c != kSpace && c != 0 && c != kTab);
        if (c == 0)
            p--;
        else if (args)
            args[-1] = 0;
    }

    bool inQuote = false;
    for (;;) {
        while (*p == kSpace || *p == kTab)
            p++;
        if (!*p) break;
        if (argv) *argv++ = args;
        nargs++;
        for (;;) {
            bool copy = true;
            size_t slashes = 0;
            while (*p == kSlash) {
                p++;
                slashes++;
            }
            if (*p == kQuote) {
                if (slashes % 2 == 0) {
                    /* Two quotes inside quotes: one literal quote, and the
                     * quoted part ends. */
                    if (inQuote && p[1] == kQuote)
                        p++;
                    else
                        copy = false;
                    inQuote = !inQuote;
                }
                slashes /= 2;
            }
            nchars += slashes;
            while (slashes--)
                if (args) *args++ = kSlash;
            if (!*p || (!inQuote && (*p == kSpace || *p == kTab))) break;
            if (copy) {
                if (args) *args++ = *p;
                nchars++;
            }
            p++;
        }
        if (args) *args++ = 0;
        nchars++;
    }
    if (argv) *argv = nullptr;
    nargs++;
    if (argc) *argc = nargs;
    if (charCount) *charCount = nchars;
}
