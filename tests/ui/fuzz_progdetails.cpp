/* Details lines come from servers: append arbitrary UTF-16 text to a
 * progress object's log and split it into lines as the details control
 * shows them, checking that every line is short, free of NULs and breaks,
 * and that splitting ends. */
#include "prog_fakes.h"

#include "ui/diprog.h"

#include <stdint.h>
#include <string.h>

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    progfake::Reset();
    DiProgress p;
    diProgInit(&p, 100, 20);
    std::vector<DiChar> units(size / 2 + 1, 0);
    memcpy(units.data(), data, size / 2 * 2);
    /* The first unit, when there is one, splits the text into two appends. */
    size_t n = size / 2, cut = n ? units[0] % (n + 1) : 0;
    diProgAppendDetails(&p.hdr, int32_t(cut), units.data());
    diProgAppendDetails(&p.hdr, int32_t(n - cut), units.data() + cut);
    diProgCountLines(units.data());
    DiChar line[DI_PROG_LINE_CHARS + 1];
    uint32_t pos = 0, length = 0, lines = 0;
    while (diProgNextLine(p.details, p.detailsLength, &pos, line, &length)) {
        if (length > DI_PROG_LINE_CHARS || line[length] != 0) __builtin_trap();
        for (uint32_t i = 0; i < length; i++)
            if (line[i] == 0 || line[i] == u'\r' || line[i] == u'\n') __builtin_trap();
        if (++lines > p.detailsLength + 1) __builtin_trap();
    }
    if (pos != p.detailsLength) __builtin_trap();
    diProgFree(&p);
    return 0;
}
