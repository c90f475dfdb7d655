/* The Windows integrated webtop client and the web service it calls. */
#ifndef HV_DDINTCLIENT_H
#define HV_DDINTCLIENT_H

#include "dd.h"

#include "session/diobjhandler.h"

class CIntegratedClient;
class CServerOutpost;

/* Installs the web service over the SOAP runtime (g_diWsService). */
void ddIntClientInstallService(void);
/* The outpost's integrated client (also g_diIntegratedClient), or none. */
CIntegratedClient* ddIntClientCreate(CServerOutpost* outpost);

/* The start-up request handler on the desktop: the browser, message boxes,
 * real pauses and the profile store made anew. */
class CWinLaunchObjectHandler : public CLaunchObjectHandler {
  public:
    CWinLaunchObjectHandler();
    bool OpenBrowser(const DiChar* url) override;
    void ShowMessage(uint32_t message) override;
    void Pause(uint32_t ms) override;
    bool RecreateProfileStore() override;
};

#endif
