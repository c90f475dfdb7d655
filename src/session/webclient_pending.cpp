/* Stand-ins for the integrated webtop client until it is built: it is never
 * active and its login never succeeds, so the outpost connects by itself
 * and the connection settings dialog (CServerOutpost::AskConnectionSettings)
 * answers as cancelled. The web-services module replaces this file. */
#include "session/diso.h"

bool diSOIntegratedClientIsActive(void) {
    return false;
}

bool diSOIntegratedClientLogin(void) {
    return false;
}
