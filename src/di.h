/* Shared declarations of the portable layer. */
#ifndef HV_DI_H
#define HV_DI_H

#include "didep.h"

#endif
