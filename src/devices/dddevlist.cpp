/* The device list of the outpost's device channel, built when a capability
 * provider first finds it empty. */
#include "dd.h"

#include "devices/didevice.h"

void ddDevListBuild(void) {
    DiChannel* ch = diSOGetDeviceListChannel();
    if (ch) ddDevListBuildFor(reinterpret_cast<DiIOChannel*>(ch));
}
