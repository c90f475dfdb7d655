/* The start-up request handler: given a session settings file that holds a
 * session cookie, it opens a webtop URL of that session, ends the webtop
 * session ("ic_logout"), starts an application by its object name, or moves
 * every emulator session of a launch configuration to this client, all
 * through the session web service. Runs on the GUI thread before the event
 * loop; the calls block. */
#ifndef HV_DIOBJHANDLER_H
#define HV_DIOBJHANDLER_H

#include "di.h"

#include <string>
#include <vector>

class CSettingsFile;
struct DiWsReply;

/* StartEmulatorSession's results besides 0 and the service's own codes. */
enum : int {
    DI_LAUNCH_FAILED = 1,     /* refused launch, or a "soap_endv" reply */
    DI_LAUNCH_BAD_COOKIE = 2, /* the session cookie is no longer valid */
    DI_LAUNCH_NO_SETTINGS = 3,
    DI_LAUNCH_NO_SERVER = 4, /* the server could not reach its engine */
};

class CLaunchObjectHandler {
  public:
    virtual ~CLaunchObjectHandler() {}

    /* 0 done, otherwise a failure code: a name beginning with "http" is a
     * URL for the browser (1 when it was not started), exactly "ic_logout"
     * ends the webtop session (2 on failure), anything else is started as
     * an application. */
    int HandleObject(const DiChar* objectName, CSettingsFile* sessionFile);
    /* Suspends every item of the file's emulator cookies, then resumes them
     * in order with pauses of 3, 2, then 1 s. 0, or 1 when an item failed. */
    int HandleAllItems(CSettingsFile* sessionFile);

    bool ReadSessionSettings(CSettingsFile* file);
    int StartEmulatorSession(const DiChar* objectName, CSettingsFile* file);
    bool SuspendEmulatorSession(const std::string& item, CSettingsFile* file);
    bool ResumeEmulatorSession(const std::string& item, CSettingsFile* file);
    bool EndWebtopSession(CSettingsFile* file);
    bool OpenWebtopUrl(const DiChar* url, CSettingsFile* file);

    /* ---- the platform ---- */
    virtual bool OpenBrowser(const DiChar* /*url*/) { return false; }
    /* Message box by message number (495: instance limit). */
    virtual void ShowMessage(uint32_t /*message*/) {}
    virtual void Pause(uint32_t /*ms*/) {}
    /* Makes the profile store anew after the webtop session ended; false
     * while none can be made. */
    virtual bool RecreateProfileStore() { return true; }

    std::string sessionCookie, protocol, server, port, jwsLocation;
    std::u16string proxyServerW;
    std::string proxyServer, proxyPortText, proxyUser, proxyPassword;
    int32_t proxyPort = 0;

  private:
    /* One call with the 407 rule; the reply of the last try. */
    DiWsReply Call(const char* operation, const std::vector<std::string>& args);
    bool ProxyCredentials(bool ask, bool useCache);
};

#endif
