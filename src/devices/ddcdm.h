/* Client drive mapping's Windows side. */
#ifndef HV_DDCDM_H
#define HV_DDCDM_H

#include "devices/dicdm.h"

/* The drives a session may map (removable, fixed, network, CD-ROM), at most
 * 26; 0 and the application's drives flag cleared when there are none. */
uint32_t ddCDMListDrives(DiCDMDrive* out);
/* Lets the outpost list a drive-mapping channel's drives (start-up). */
void ddCDMInstallHook(void);
/* The Win32 file calls behind the requests. */
extern const DiCDMFileOps g_ddCDMFileOps;

#endif
