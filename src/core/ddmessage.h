/* Numbered messages of the core. */
#ifndef HV_DDMESSAGE_H
#define HV_DDMESSAGE_H

#include "dd.h"

/* Message N is string resource N + 500 (24 becomes resource 10 on major
 * version 4 or more). Returns the length, 0 when there is no such text. */
int ddLoadMessage(int message, wchar_t* buffer, int size);

#endif
