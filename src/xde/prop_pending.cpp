/* Stand-ins for the session layer's URL services: no launch gives a
 * base-URL override and no local helper is connected to open URLs. The
 * session layer replaces this file. */
#include "xde/dixprop.h"

const DiChar* diSOGetLaunchBaseUrl(DiObject*) {
    return nullptr;
}
int diSOOpenUrl(const DiChar*) {
    return 0;
}
