// UTF-8 and UTF-16 converters: no out-of-range access, counts that agree
// with the conversions, exact round trips of well-formed text, and U+FFFD
// replacement that leaves well-formed text alone.
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "core/diutil.h"

namespace {

bool wellFormed16(const std::vector<DiChar>& u) {
    for (size_t i = 0; i < u.size(); i++) {
        if (u[i] >= 0xD800 && u[i] <= 0xDBFF) {
            if (i + 1 >= u.size() || u[i + 1] < 0xDC00 || u[i + 1] > 0xDFFF) return false;
            i++;
        } else if (u[i] >= 0xDC00 && u[i] <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

void fromUtf8(const uint8_t* data, size_t size) {
    const char* in = reinterpret_cast<const char*>(data);
    // An exactly sized heap target lets the sanitizer catch any overrun;
    // the first byte picks a small target now and then to reach "full".
    size_t room = size && data[0] < 16 ? data[0] % 4 : size;
    std::vector<DiChar> out[2];
    int result[2];
    const char* stop = in;
    for (int mode = 0; mode < 2; mode++) {
        DiChar* buf = static_cast<DiChar*>(malloc((room + 1) * sizeof(DiChar)));
        const char* s = in;
        DiChar* t = buf;
        result[mode] = diUtf8ToUtf16(&s, in + size, &t, buf + room, mode);
        stop = s;
        if (s < in || s > in + size || t < buf || t > buf + room) abort();
        if (result[mode] >= 0 && (s != in + size || result[mode] != (t - buf) * 2)) abort();
        out[mode].assign(buf, t);
        free(buf);
    }
    // Encoded surrogates and values past U+10FFFF are illegal UTF-8, so the
    // two modes agree on every input.
    if (result[0] != result[1] || out[0] != out[1]) abort();

    // The replacing conversion is well formed and terminated, and is the
    // strict one whenever that takes the whole text. A bad sequence is
    // replaced, never cut at: the text is what precedes it, U+FFFD, and the
    // replacing conversion of what follows its first byte.
    size_t units = size + 1, restUnits = 0;
    DiChar* dup = diTextFromUtf8Dup(in, size, &units);
    if (!dup || units > size || dup[units] != 0) abort();
    std::vector<DiChar> replaced(dup, dup + units);
    free(dup);
    if (!wellFormed16(replaced) || (result[0] >= 0 && replaced != out[0])) abort();
    if (result[0] == DI_CONV_ILLEGAL || result[0] == DI_CONV_SOURCE_SHORT) {
        DiChar* rest = diTextFromUtf8Dup(stop + 1, size_t(in + size - stop - 1), &restUnits);
        std::vector<DiChar> expect = out[0];
        expect.push_back(0xFFFD);
        expect.insert(expect.end(), rest, rest + restUnits);
        free(rest);
        if (replaced != expect) abort();
    }
    if (result[0] < 0 || room < size) return;

    std::vector<DiChar>& u = out[0];
    u.reserve(u.size() + 1);
    if (!wellFormed16(u)) abort();
    std::vector<char> back(size + 1);
    const DiChar* s = u.data();
    char* t = back.data();
    if (diUtf16ToUtf8(&s, u.data() + u.size(), &t, back.data() + size, DI_CONV_STRICT) !=
        static_cast<int>(size))
        abort();
    if (memcmp(back.data(), in, size) != 0) abort();
}

void fromUtf16(const uint8_t* data, size_t size) {
    // One spare unit keeps data() valid for an empty range: an end equal to
    // a null start would mean "up to the NUL".
    std::vector<DiChar> u(size / 2 + 1);
    u.pop_back();
    for (size_t i = 0; i < u.size(); i++)
        u[i] = static_cast<DiChar>(data[2 * i] | data[2 * i + 1] << 8);
    size_t room = 3 * u.size();
    char* buf = static_cast<char*>(malloc(room + 1));
    for (int mode = 0; mode < 2; mode++) {
        const DiChar* s = u.data();
        char* t = buf;
        int r = diUtf16ToUtf8(&s, u.data() + u.size(), &t, buf + room, mode);
        if (t > buf + room) abort();
        // Lenient conversion with three bytes per unit cannot fail.
        if (mode == DI_CONV_LENIENT && r < 0) abort();
        if (wellFormed16(u)) {
            if (r < 0) abort();
            std::vector<DiChar> back(u.size() + 1);
            const char* bs = buf;
            DiChar* bt = back.data();
            if (diUtf8ToUtf16(&bs, buf + r, &bt, back.data() + u.size(), DI_CONV_STRICT) !=
                static_cast<int>(u.size() * 2))
                abort();
            if (memcmp(back.data(), u.data(), u.size() * sizeof(DiChar)) != 0) abort();
        }
    }
    free(buf);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fromUtf8(data, size);
    fromUtf16(data, size);
    return 0;
}
