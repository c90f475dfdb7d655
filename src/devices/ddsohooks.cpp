/* What the outpost reads of the device channels for the capability items
 * and ns1:startCdm; start-up installs these. */
#include "dd.h"

#include "devices/ddaudio.h"
#include "devices/ddcdm.h"
#include "session/diso.h"

#include <string.h>

static uint32_t audioRecords(DiChannel* ch, const DiAudioDeviceRecord** records) {
    return diAudioDeviceRecords(reinterpret_cast<DiIOChannel*>(ch), records);
}

/* The drives are listed again; later requests follow the new list. */
static uint32_t listDrives(DiChannel* ch, const DiCDMDrive** drives) {
    DiCDMState* st = static_cast<DiCDMState*>(reinterpret_cast<DiIOChannel*>(ch)->priv);
    *drives = nullptr;
    if (!st) return 0;
    DiCDMDrive fresh[26];
    uint32_t n = ddCDMListDrives(fresh);
    memcpy(st->drives, fresh, n * sizeof *fresh);
    st->driveCount = uint8_t(n);
    *drives = st->drives;
    return n;
}

void ddAudioInstallHook(void) {
    g_diSODeviceHooks.audioRecords = audioRecords;
}

void ddCDMInstallHook(void) {
    g_diSODeviceHooks.listDrives = listDrives;
}
