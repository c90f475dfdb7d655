/* The client of the session web service of the Halvanet web server: one
 * call road shared by all 19 operations, and the proxy that owns the SOAP
 * context of one call. The runtime's own numbering is mapped onto the codes
 * the callers know (WsMapCode); every call is bounded in time and size so
 * that a stalled or hostile web server cannot freeze or exhaust the
 * application thread. */
#ifndef HV_WSCLIENT_H
#define HV_WSCLIENT_H

#include "hvwsH.h"

#include <string>

/* Codes a call returns besides 0, the fault codes 1, 2, 8 and 12, the XML
 * errors 3 to 6 and HTTP status numbers. */
enum {
    WS_END_OF_INPUT = -1,  /* connection ended early, a stall, or a reply past its cap */
    WS_NO_ENDPOINT = 11,   /* no endpoint was given */
    WS_NO_CONTEXT = 15,    /* the proxy has no SOAP context */
    WS_TCP_ERROR = 21,     /* the connection could not be made */
    WS_HTTP_ERROR = 22,    /* the HTTP head could not be read */
    WS_TLS_ERROR = 23,     /* TLS set-up, handshake or a refused certificate */
    WS_ENCODED_REPLY = 24, /* a compressed reply (there is no decompression) */
    WS_NOT_ENVELOPE = 32,  /* not a SOAP envelope, or a version-mismatch fault */
};

/* Bounds of one exchange: connecting, and any stall while sending or
 * receiving; the reply as a whole and any one text in it. */
enum : int {
    WS_CONNECT_TIMEOUT_S = 30,
    WS_STALL_TIMEOUT_S = 60,
    WS_MAX_REPLY = 16 << 20,
};

/* The runtime's error code of a finished call as the caller's code. */
int WsMapCode(int runtimeCode);

/* The web-service proxy of one call: its context carries the endpoint,
 * TLS for "https", the HTTP proxy and the bounds above. Make one per call
 * and delete it once the result and fault texts have been copied. */
class SessionServiceProxy {
  public:
    /* protocol, host, port text and path make the endpoint; proxyHost and
     * proxyPort an HTTP proxy (used when the host is not empty and the port
     * not 0), proxyUser and proxyPassword its credentials (used when the
     * user is not empty and a password is given). proxyType is the kind of
     * the configured proxy ("HTTP", "SOCKS" or null): the runtime speaks
     * only to HTTP proxies, so a SOCKS proxy is not used. Every text is
     * copied. */
    SessionServiceProxy(const char* protocol, const char* host, const char* portText,
                        const char* path, const char* proxyHost, int proxyPort,
                        const char* proxyUser, const char* proxyPassword,
                        const char* proxyType = nullptr);
    virtual ~SessionServiceProxy();
    SessionServiceProxy(const SessionServiceProxy&) = delete;
    SessionServiceProxy& operator=(const SessionServiceProxy&) = delete;

    virtual int search(const char* sessionCookie, char** result);
    virtual int modifySession(const char* sessionCookie, const char* attrName,
                              const char* attrValue, char** result);
    virtual int getSessionCookie(const char* sessionToken, char** result);
    virtual int startSession(const char* clientId, bool join, char** result);
    virtual int restartSession(const char* clientId, const char* reconnectToken, char** result);
    virtual int setDRXConfiguration(const char* sessionCookie, char** result);
    virtual int startDRX(const char* sessionCookie, char** result);
    virtual int authenticateSession(const char* sessionCookie, const char* username,
                                    const char* password, char** result);
    virtual int endSession(const char* sessionCookie, char** result);
    virtual int lookupPrefs(const char* sessionCookie, char** result);
    virtual int searchWebtopContent(const char* sessionCookie, char** result);
    virtual int searchWebtopContentHierarchy(const char* sessionCookie, char** result);
    virtual int registerDRXEventListener(const char* sessionCookie, const char* eventName,
                                         char** result);
    virtual int resumeSession(const char* sessionCookie, const char* emulatorSessionId,
                              char** result);
    virtual int suspendSession(const char* sessionCookie, const char* emulatorSessionId,
                               char** result);
    virtual int getSessionToken(const char* sessionCookie, char** result);
    virtual int startEmulatorSession(const char* sessionCookie, const char* applicationName,
                                     char** result);
    virtual int endEmulatorSession(const char* sessionCookie, const char* emulatorSessionId,
                                   char** result);
    virtual int getWebtop(const char* sessionCookie, bool isHierarchical, bool lookupSessions,
                          char** result);

    /* The context of the call (null when it could not be made); its fault
     * record lives until the proxy is deleted. */
    struct soap* soap = nullptr;
    /* The endpoint, or null when the parts make no usable address ("http" or
     * "https" in any case, a plain host name, a port from 1 to 65535, a path
     * without blanks or control characters). */
    const char* endpoint = nullptr;
    std::string endpointText;

  private:
    std::string proxyHost_, proxyUser_, proxyPassword_;
};

#endif
