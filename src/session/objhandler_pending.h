/* The local listener's start-up request handler, as the early start-up
 * paths call it. Until the listener's handler exists it handles nothing:
 * every request fails (result 1). */
#ifndef HV_OBJHANDLER_PENDING_H
#define HV_OBJHANDLER_PENDING_H

#include "di.h"

class CSettingsFile;

class CLaunchObjectHandler {
  public:
    /* Launches objectName in the session the settings file describes;
     * 0 done, 1 failed. */
    int HandleObject(const DiChar* objectName, CSettingsFile* sessionFile);
    /* Runs every item of the settings file; 0 done, 1 failed. */
    int HandleAllItems(CSettingsFile* sessionFile);
};

#endif
