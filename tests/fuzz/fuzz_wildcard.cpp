// Wildcard matcher: agrees with the plain recursive rules on short inputs and
// stays bounded on long ones (the run's timeout catches a blow-up).
#include <stdlib.h>

#include <vector>

#include "core/diutil.h"

namespace {

bool reference(const DiChar* t, const DiChar* p, DiChar esc) {
    if (!*p) return !*t;
    for (;;) {
        if (!*p) return !*t;
        if (esc && *p == esc) {
            p++;
            if (!*p) return !*t;
            if (!*t || *t != *p) return false;
        } else if (*p == '*') {
            p++;
            if (!*p) return true;
            if (!*t) return false;
            for (; *t; t++)
                if (reference(t, p, esc)) return true;
            return false;
        } else if (*p == '?') {
            if (!*t) return false;
        } else if (!*t || *t != *p) {
            return false;
        }
        t++;
        p++;
    }
}

/* Bytes map onto a small alphabet so stars, escapes and repeats are common. */
DiChar unit(uint8_t b) {
    static const DiChar alphabet[8] = {'a', 'b', 'a', '*', '?', '\\', 'A', 'c'};
    return b < 0xF0 ? alphabet[b & 7] : static_cast<DiChar>(0x100 + b);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    DiChar esc = (data[0] & 1) ? DiChar('\\') : DiChar(0);
    std::vector<DiChar> text, pattern;
    bool inPattern = false;
    for (size_t i = 1; i < size; i++) {
        if (data[i] == 0xFF) {
            inPattern = true;
            continue;
        }
        (inPattern ? pattern : text).push_back(unit(data[i]));
    }
    text.push_back(0);
    pattern.push_back(0);
    bool got = diWildcardMatch(text.data(), pattern.data(), esc);
    if (text.size() <= 14 && pattern.size() <= 14 &&
        got != reference(text.data(), pattern.data(), esc))
        abort();
    if (got && !diWildcardMatchNoCase(text.data(), pattern.data(), esc)) abort();
    return 0;
}
