/* The device list of the outpost's device channel, built when a capability
 * provider first finds it empty. */
#include "dd.h"

#include "devices/didevice.h"

void ddDevListBuild(void) {
    DiChannel* ch = diSOGetDeviceListChannel();
    if (ch) ddDevListBuildFor(reinterpret_cast<DiIOChannel*>(ch));
}

void ddDevListAnnounce(uint32_t classCode, void (*add)(void* arg, const DiChar* text, int code),
                       void* arg) {
    DiIOChannel* io = reinterpret_cast<DiIOChannel*>(diSOGetDeviceListChannel());
    if (!io) return;
    ddDevListBuildFor(io);
    DiDeviceList* list = diDeviceListOf(io);
    for (uint32_t i = 0; list && i < list->count; i++) {
        DiChar text[160];
        if (list->devices[i]->classCode == classCode &&
            diDeviceAnnouncement(list->devices[i], i, text, DI_COUNTOF(text)) > 0)
            add(arg, text, int(classCode));
    }
}
