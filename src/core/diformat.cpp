/* The positional formatter of numbered messages. */
#include "core/diutil.h"

namespace {

/* Bounded output: at most size - 1 units and a NUL. Once a unit does not fit,
 * formatting stops; nothing is ever written past size. */
struct Sink {
    DiChar* out;
    size_t size;
    size_t n = 0;
    bool full = false;

    bool put(DiChar c) {
        if (full || n + 1 >= size) {
            full = true;
            return false;
        }
        out[n++] = c;
        return true;
    }
    bool repeat(DiChar c, size_t count) {
        for (size_t i = 0; i < count; i++)
            if (!put(c)) return false;
        return true;
    }
};

struct Spec {
    bool left = false, zero = false, plus = false, space = false, alt = false;
    size_t width = 0;
    bool hasPrecision = false;
    size_t precision = 0;
};

const size_t kNumberCap = 1u << 20; /* widths beyond any output we make */

size_t readNumber(const DiChar*& f) {
    size_t v = 0;
    while (*f >= '0' && *f <= '9') {
        if (v < kNumberCap) v = v * 10 + static_cast<size_t>(*f - '0');
        f++;
    }
    return v;
}

/* Writes body (length n) padded to the width; prefix goes before zero
 * padding, which goes before the body. */
void emitPadded(Sink& s, const Spec& sp, const DiChar* prefix, size_t prefixLen, size_t zeros,
                const DiChar* body, size_t n) {
    size_t len = prefixLen + zeros + n;
    size_t pad = sp.width > len ? sp.width - len : 0;
    if (!sp.left && !s.repeat(' ', pad)) return;
    for (size_t i = 0; i < prefixLen; i++)
        if (!s.put(prefix[i])) return;
    if (!s.repeat('0', zeros)) return;
    for (size_t i = 0; i < n; i++)
        if (!s.put(body[i])) return;
    if (sp.left) s.repeat(' ', pad);
}

void emitNumber(Sink& s, const Spec& sp, DiChar conv, uint32_t word) {
    bool isSigned = conv == 'd' || conv == 'i';
    bool negative = isSigned && static_cast<int32_t>(word) < 0;
    uint32_t v = negative ? 0u - word : word;
    unsigned base = (conv == 'x' || conv == 'X') ? 16 : 10;
    const char* digits = conv == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";

    DiChar body[16];
    size_t n = 0;
    DiChar rev[16];
    while (v) {
        rev[n++] = static_cast<DiChar>(digits[v % base]);
        v /= base;
    }
    for (size_t i = 0; i < n; i++)
        body[i] = rev[n - 1 - i];
    /* The default precision is 1: zero prints one digit unless precision 0. */
    size_t precision = sp.hasPrecision ? sp.precision : 1;
    size_t zeros = precision > n ? precision - n : 0;

    DiChar prefix[2];
    size_t prefixLen = 0;
    if (negative)
        prefix[prefixLen++] = '-';
    else if (isSigned && sp.plus)
        prefix[prefixLen++] = '+';
    else if (isSigned && sp.space)
        prefix[prefixLen++] = ' ';
    if (base == 16 && sp.alt && word != 0) {
        prefix[0] = '0';
        prefix[1] = conv;
        prefixLen = 2;
    }
    if (sp.zero && !sp.left && !sp.hasPrecision) {
        size_t len = prefixLen + zeros + n;
        if (sp.width > len) zeros += sp.width - len;
    }
    emitPadded(s, sp, prefix, prefixLen, zeros, body, n);
}

const DiChar kNull[] = u"(null)";

} // namespace

int diFormatPositional(DiChar* out, size_t size, const DiChar* format, const DiFmtArg* args,
                       size_t count) {
    if (!out || size == 0) return -1;
    Sink s{out, size};
    const DiChar* f = format ? format : u"";
    size_t next = 0; /* argument of the next conversion without a marker */

    while (*f && !s.full) {
        if (*f != '%') {
            s.put(*f++);
            continue;
        }
        f++;
        if (*f == '%') {
            s.put(*f++);
            continue;
        }
        /* "%N$": marker N takes argument N, however often it appears. */
        size_t index;
        if (*f >= '1' && *f <= '9' && f[1] == '$') {
            index = static_cast<size_t>(*f - '1');
            f += 2;
        } else {
            index = next++;
        }
        Spec sp;
        for (;; f++) {
            if (*f == '-')
                sp.left = true;
            else if (*f == '0')
                sp.zero = true;
            else if (*f == '+')
                sp.plus = true;
            else if (*f == ' ')
                sp.space = true;
            else if (*f == '#')
                sp.alt = true;
            else
                break;
        }
        sp.width = readNumber(f);
        if (*f == '.') {
            f++;
            sp.hasPrecision = true;
            sp.precision = readNumber(f);
        }
        while (*f == 'h' || *f == 'l' || *f == 'w')
            f++;
        DiChar conv = *f;
        if (!conv) break;
        f++;

        const DiFmtArg* arg = index < count ? &args[index] : nullptr;
        switch (conv) {
        case 's': {
            const DiChar* text = arg && arg->kind == DiFmtArg::Text ? arg->text : nullptr;
            if (!text) text = kNull;
            size_t n = 0;
            while (text[n] && (!sp.hasPrecision || n < sp.precision))
                n++;
            emitPadded(s, sp, nullptr, 0, 0, text, n);
            break;
        }
        case 'c': {
            /* A NUL character would end the text early while the count
             * went on: it formats as nothing (the width still applies). */
            DiChar c = static_cast<DiChar>(arg && arg->kind == DiFmtArg::Word ? arg->word : 0);
            emitPadded(s, sp, nullptr, 0, 0, &c, c ? 1 : 0);
            break;
        }
        case 'd':
        case 'i':
        case 'u':
        case 'x':
        case 'X':
            emitNumber(s, sp, conv, arg && arg->kind == DiFmtArg::Word ? arg->word : 0);
            break;
        default:
            /* Not a conversion: the letter stands for itself. */
            s.put(conv);
            break;
        }
    }
    out[s.n] = 0;
    return s.full ? -1 : static_cast<int>(s.n);
}
