// Positional formatter: never writes past the size, always terminates, and
// a bounded result is a prefix of the unbounded one.
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "core/diutil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    size_t room = data[0] % 48;
    std::vector<DiChar> format;
    for (size_t i = 1; i < size; i++)
        format.push_back(data[i] ? data[i] : DiChar(0x263A));
    format.push_back(0);
    const DiFmtArg args[] = {u"tea", 42, u"", -7, DiChar('x'), 0xFFFFFFFFu, u"Ann", 0, u"z"};
    size_t nargs = data[0] / 48 % 10;

    DiChar* small = static_cast<DiChar*>(malloc((room ? room : 1) * sizeof(DiChar)));
    int r = diFormatPositional(small, room, format.data(), args, nargs);
    const size_t bigRoom = 4096;
    std::vector<DiChar> big(bigRoom);
    int rb = diFormatPositional(big.data(), bigRoom, format.data(), args, nargs);
    if (room == 0) {
        if (r != -1) abort();
    } else {
        size_t n = 0;
        while (n < room && small[n])
            n++;
        if (n >= room) abort(); // not terminated inside the size
        if (r >= 0 && (static_cast<size_t>(r) != n || rb != r)) abort();
        if (r < 0 && n != room - 1) abort();
        if (rb >= 0 && memcmp(small, big.data(), n * sizeof(DiChar)) != 0) abort();
    }
    free(small);
    return 0;
}
