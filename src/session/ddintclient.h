/* The Windows integrated webtop client and the web service it calls. */
#ifndef HV_DDINTCLIENT_H
#define HV_DDINTCLIENT_H

#include "dd.h"

class CIntegratedClient;
class CServerOutpost;

/* Installs the web service over the SOAP runtime (g_diWsService). */
void ddIntClientInstallService(void);
/* The outpost's integrated client (also g_diIntegratedClient), or none. */
CIntegratedClient* ddIntClientCreate(CServerOutpost* outpost);

#endif
