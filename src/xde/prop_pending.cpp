/* Stand-in for the session layer's launch base URL: no launch gives a
 * base-URL override. The launch module replaces this file. */
#include "xde/dixprop.h"

const DiChar* diSOGetLaunchBaseUrl(DiObject*) {
    return nullptr;
}
