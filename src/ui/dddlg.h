/* Dialogs of the core. */
#ifndef HV_DDDLG_H
#define HV_DDDLG_H

#include "dd.h"

/* Appends to the Console Log window when it is open. */
void ddDlgConsoleAppend(const wchar_t* text);
/* Password-cache dialog: 1 OK with the three texts replaced (malloc'ed), 0
 * cancelled. */
int ddDlgPasswordCache(DiChar** url, DiChar** user, DiChar** password);

#endif
