/* Shared declarations of the Windows layer. */
#ifndef HV_DD_H
#define HV_DD_H

#include "dddep.h"
#include "di.h"

#endif
