/* The platform side of routes (see ddroute.cpp). */
#ifndef HV_DDROUTE_H
#define HV_DDROUTE_H

/* Gives the dialogs their route access (proxy credentials) and the URL
 * check; start-up calls it before any dialog can run. */
void ddRouteInstallDialogHooks();

#endif
