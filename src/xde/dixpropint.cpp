/* Integer lists of property values (see dixprop.h). Apart from the rest of
 * the property code so that readers of seamless values do not pull in the
 * URL and launch services. */
#include "xde/dixprop.h"

#include <string.h>

bool diXPropParseInts(const DiChar* text, uint32_t length, int64_t lo, int64_t hi,
                      int32_t* out, int count) {
    int32_t values[8];
    if (count < 1 || count > 8 || (length && !text)) return false;
    uint32_t i = 0;
    for (int k = 0; k < count; k++) {
        if (k > 0) {
            if (i >= length || text[i] != ',') return false;
            i++;
        }
        while (i < length && (text[i] == ' ' || text[i] == '\t')) i++;
        bool negative = false;
        if (i < length && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
        if (i >= length || text[i] < '0' || text[i] > '9') return false;
        int64_t v = 0;
        for (; i < length && text[i] >= '0' && text[i] <= '9'; i++) {
            v = v * 10 + (text[i] - '0');
            if (v > (int64_t(1) << 33)) return false;
        }
        if (negative) v = -v;
        if (v < lo || v > hi) return false;
        values[k] = int32_t(uint32_t(uint64_t(v)));
    }
    if (i != length) return false;
    memcpy(out, values, sizeof values[0] * size_t(count));
    return true;
}
