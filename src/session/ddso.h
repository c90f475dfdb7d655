/* Session services that the client windows call. */
#ifndef HV_DDSO_H
#define HV_DDSO_H

#include "dd.h"

/* Sets the window's title to string resource stringId and the application
 * caption joined as "%s - %s". */
void ddSOSetWindowTitle(HWND window, int stringId);

#endif
