#include "core/diutil.h"
