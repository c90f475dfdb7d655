/* Launch records (see diuirecord.h). */
#include "ui/diuirecord.h"

#include <string.h>

namespace {

/* A read-only cursor over (pointer, length): a read past the end fails and
 * every later read fails too. */
struct DiUICursor {
    const uint8_t* p;
    size_t left;
    bool failed;

    bool skip(size_t n) {
        if (failed || n > left) return !(failed = true);
        p += n;
        left -= n;
        return true;
    }
    uint16_t u16() {
        if (failed || left < 2) {
            failed = true;
            return 0;
        }
        uint16_t v = uint16_t(p[0] | (p[1] << 8));
        p += 2;
        left -= 2;
        return v;
    }
};

} // namespace

int diUIReadLaunchArgs(const void* data, size_t length, DiChar args[DI_LAUNCH_ARGS_UNITS + 1]) {
    args[0] = 0;
    /* Only whole records are launch records; anything after the record's
     * size is not part of it. */
    if (!data || length < DI_LAUNCH_RECORD_SIZE) return -1;
    DiUICursor c = {static_cast<const uint8_t*>(data), DI_LAUNCH_RECORD_SIZE, false};
    if (!c.skip(DI_LAUNCH_ARGS_OFFSET)) return -1;
    size_t n = 0;
    while (n < DI_LAUNCH_ARGS_UNITS) {
        DiChar unit = DiChar(c.u16());
        if (c.failed || unit == 0) break;
        args[n++] = unit;
    }
    args[n] = 0;
    return 0;
}
