/* Text conversion and string utilities (portable). */
#ifndef HV_DIUTIL_H
#define HV_DIUTIL_H

#include "di.h"

#endif
