// Launch records from other local processes: any bytes of any length are
// read without leaving the buffer, and the text always ends in its field.
#include "ui/diuirecord.h"

#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DiChar args[DI_LAUNCH_ARGS_UNITS + 1];
    int r = diUIReadLaunchArgs(data, size, args);
    size_t n = 0;
    while (args[n])
        n++;
    if (n > DI_LAUNCH_ARGS_UNITS || (r != 0 && n != 0)) abort();
    return 0;
}
