// Command-line splitter: the counting pass sizes the filling pass exactly.
#include <stdlib.h>

#include <vector>

#include "core/diutil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<DiChar> line;
    for (size_t i = 0; i < size; i++) {
        // Favour the characters the rules care about.
        static const DiChar special[4] = {'"', '\\', ' ', '\t'};
        DiChar c = data[i] < 0x40 ? special[data[i] & 3] : static_cast<DiChar>(data[i]);
        if (c) line.push_back(c);
    }
    line.push_back(0);
    size_t argc = 0, nchars = 0;
    diSplitCommandLine(line.data(), nullptr, nullptr, &argc, &nchars);
    if (argc < 2 || nchars < 1 || nchars > line.size()) abort();
    DiChar** argv = static_cast<DiChar**>(malloc(argc * sizeof(DiChar*)));
    DiChar* chars = static_cast<DiChar*>(malloc(nchars * sizeof(DiChar)));
    size_t argc2 = 0, nchars2 = 0;
    diSplitCommandLine(line.data(), argv, chars, &argc2, &nchars2);
    if (argc2 != argc || nchars2 != nchars || argv[argc - 1]) abort();
    size_t total = 0;
    for (size_t i = 0; i + 1 < argc; i++) {
        if (argv[i] < chars || argv[i] >= chars + nchars) abort();
        size_t n = 0;
        while (argv[i][n])
            n++;
        total += n + 1;
    }
    if (total != nchars) abort();
    free(argv);
    free(chars);
    return 0;
}
