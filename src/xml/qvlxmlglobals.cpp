#include "xml/qvlxmlglobals.h"
#include "core/diutil.h"

#include <stdlib.h>
#include <string.h>

size_t qvlStrLen(const DiChar* s) {
    size_t n = 0;
    if (s)
        while (s[n])
            n++;
    return n;
}

DiChar* qvlStrDup(const DiChar* s) {
    if (!s) return nullptr;
    size_t n = qvlStrLen(s);
    DiChar* d = static_cast<DiChar*>(malloc((n + 1) * sizeof(DiChar)));
    if (d) memcpy(d, s, (n + 1) * sizeof(DiChar));
    return d;
}

DiChar* qvlStrDupAscii(const char* s) {
    if (!s) return nullptr;
    size_t n = strlen(s);
    DiChar* d = static_cast<DiChar*>(malloc((n + 1) * sizeof(DiChar)));
    if (!d) return nullptr;
    for (size_t i = 0; i <= n; i++)
        d[i] = static_cast<unsigned char>(s[i]);
    return d;
}

bool qvlStrEq(const DiChar* a, const DiChar* b) {
    if (a == b) return true;
    if (!a || !b) return false;
    return qvlStrCmp(a, b) == 0;
}

bool qvlStrEqAscii(const DiChar* a, const char* b) {
    if (!a || !b) return false;
    size_t i = 0;
    for (; b[i]; i++)
        if (a[i] != static_cast<unsigned char>(b[i])) return false;
    return a[i] == 0;
}

int qvlStrCmp(const DiChar* a, const DiChar* b) {
    static const DiChar empty[1] = {0};
    if (!a) a = empty;
    if (!b) b = empty;
    while (*a && *a == *b) {
        a++;
        b++;
    }
    return *a < *b ? -1 : (*a > *b ? 1 : 0);
}

int32_t qvlStrToInt(const DiChar* s) {
    if (!s) return 0;
    while (*s == ' ' || (*s >= 9 && *s <= 13))
        s++;
    bool neg = false;
    if (*s == '-' || *s == '+') neg = *s++ == '-';
    int64_t v = 0;
    for (; *s >= '0' && *s <= '9'; s++)
        if (v <= INT32_MAX) v = v * 10 + (*s - '0');
    if (neg) v = -v;
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

static int latin1Converter(DiChar c, uint8_t out[4]) {
    const DiChar* src = &c;
    char* dst = reinterpret_cast<char*>(out);
    return diTextToLatin1(&dst, dst + 1, &src, &c + 1);
}

static QVLAnsiConverter g_ansi = latin1Converter;

void qvlSetAnsiConverter(QVLAnsiConverter fn) {
    g_ansi = fn ? fn : latin1Converter;
}

int qvlToAnsi(DiChar c, uint8_t out[4]) {
    int n = g_ansi(c, out);
    return n < 0 ? 0 : (n > 4 ? 4 : n);
}

DiChar* qvlUtf8ToUtf16Dup(const uint8_t* b, size_t n) {
    return diTextFromUtf8Dup(reinterpret_cast<const char*>(b), n);
}

/* Latin-1 letter names for the codes 192-255; the two signs 215 and 247
 * have no name here. */
static const char* const kLatinLetters[64] = {
    "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig", "Ccedil",
    "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc", "Iuml",
    "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",  nullptr,
    "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN", "szlig",
    "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig", "ccedil",
    "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc", "iuml",
    "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",  nullptr,
    "oslash", "ugrave", "uacute", "ucirc",  "uuml",   "yacute", "thorn", "yuml"};

static bool nameIs(const DiChar* name, size_t n, const char* s) {
    size_t i = 0;
    for (; i < n && s[i]; i++)
        if (name[i] != static_cast<unsigned char>(s[i])) return false;
    return i == n && s[i] == 0;
}

int qvlEntityCode(const DiChar* name, size_t n) {
    static const struct {
        const char* name;
        int code;
    } kBasic[] = {{"quot", 34},  {"amp", 38},   {"lt", 60},   {"gt", 62},
                  {"nbsp", 160}, {"copy", 169}, {"reg", 174}, {"euro", 8364}};
    for (const auto& e : kBasic)
        if (nameIs(name, n, e.name)) return e.code;
    for (int i = 0; i < 64; i++)
        if (kLatinLetters[i] && nameIs(name, n, kLatinLetters[i])) return 192 + i;
    return 0;
}
