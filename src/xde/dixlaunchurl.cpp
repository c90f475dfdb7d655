/* The X engine's view of its launch: the base URL that relative URLs of the
 * X server's properties are joined to (see core/disohooks.h). */
#include "core/disohooks.h"
#include "xde/dixprop.h"

const DiChar* diSOGetLaunchBaseUrl(DiObject* obj) {
    return g_diSOLaunchHooks.getLaunchBaseUrl ? g_diSOLaunchHooks.getLaunchBaseUrl(obj) : nullptr;
}
