/* The logger: messages for the user's event log and the log file. */
#ifndef HV_DILOG_H
#define HV_DILOG_H

#include "didep.h"

/* Logs a literal text at the error level. */
void diLogErrorText(const DiChar* text);

#endif
