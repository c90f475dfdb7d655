/* The settings store. */
#ifndef HV_DDSETTING_H
#define HV_DDSETTING_H

#include "dd.h"

/* The value of an integer setting, or def when absent or not a number. */
int32_t ddSettingGetInt(const wchar_t* name, int32_t def);

#endif
