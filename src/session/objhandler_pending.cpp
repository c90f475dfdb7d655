/* Stand-in for the start-up request handler: no request is handled. */
#include "session/objhandler_pending.h"

int CLaunchObjectHandler::HandleObject(const DiChar*, CSettingsFile*) {
    return 1;
}

int CLaunchObjectHandler::HandleAllItems(CSettingsFile*) {
    return 1;
}
