/* Small text helpers of the application core: owned UTF-16 copies. */
#include "core/diapp.h"

#include <stdlib.h>
#include <string.h>

size_t diAppStrLen(const DiChar* s) {
    size_t n = 0;
    while (s && s[n])
        n++;
    return n;
}

DiChar* diAppStrDup(const DiChar* s) {
    if (!s) return nullptr;
    size_t n = diAppStrLen(s);
    DiChar* copy = static_cast<DiChar*>(malloc((n + 1) * sizeof(DiChar)));
    if (copy) memcpy(copy, s, (n + 1) * sizeof(DiChar));
    return copy;
}

void diAppSetText(DiChar** slot, const DiChar* text) {
    free(*slot);
    *slot = diAppStrDup(text);
}
