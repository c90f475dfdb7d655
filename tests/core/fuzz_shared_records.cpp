// The shared mapping's launch records are written by another process.
#include "core/diapp.h"

#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DiChar* user = nullptr;
    if (size > 1 && (data[1] & 1)) user = diAppStrDup(u"ann");
    diAppFindSharedRecord(data, size, u"http://h/", &user);
    free(user);
    return 0;
}
