/* The texts a device record is announced under in the capabilities reply.
 * Apart from the device layer, so that the outpost's capability providers
 * do not bring in its threads. */
#include "core/diutil.h"
#include "devices/didevice.h"

int diDeviceAnnouncement(const DiDevice* d, uint32_t index, DiChar* out, size_t size) {
    if (size) out[0] = 0;
    if (!d) return 0;
    if (index == 0 && d->classCode == 128)
        return diFormatPositional(
            out, size, u"%d;%d;%d;%d;%d;",
            {int(d->deviceType), int(d->valueA), int(d->valueD), int(d->valueE), int(d->valueF)});
    if (d->classCode != 512) return 0;
    return diFormatPositional(out, size, u"%d;%d;%d;%d;%d;%d;%d;%d;%s;",
                              {int(d->deviceType), int(d->valueA), int(d->valueD), int(d->valueE),
                               int(d->valueF), int(d->valueB), int(d->valueC), int(index),
                               d->name ? d->name : u""});
}
