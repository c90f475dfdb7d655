/* The connection settings the user gives when the client starts without a
 * login URL and without a stored profile: the server URL and, optionally,
 * an HTTP or SOCKS proxy. */
#ifndef HV_DICONNSET_H
#define HV_DICONNSET_H

#include "di.h"

enum : int32_t { DI_CONN_PROXY_BROWSER = 0, DI_CONN_PROXY_HTTP = 1, DI_CONN_PROXY_SOCKS = 2 };

class DiConnSettings {
  public:
    DiConnSettings() {}
    virtual ~DiConnSettings();
    DiConnSettings(const DiConnSettings&) = delete;
    DiConnSettings& operator=(const DiConnSettings&) = delete;

    DiChar* url = nullptr; /* owned */
    uint8_t usesProxy = 0;
    DiChar* proxyHost = nullptr; /* owned; only with a proxy */
    int32_t proxyPort = 0;       /* only with a proxy; 0 unless 1-65535 */
    int32_t proxyKind = DI_CONN_PROXY_BROWSER;
    int32_t result = 0; /* 1 when the user pressed Connect */
};

const DiChar* diConnSettingsGetURL(const DiConnSettings* s);
bool diConnSettingsUsesProxy(const DiConnSettings* s);
const DiChar* diConnSettingsGetProxyHost(const DiConnSettings* s);
/* "HTTP", "SOCKS", or none for the browser's settings. */
const DiChar* diConnSettingsGetProxyKindName(const DiConnSettings* s);
int32_t diConnSettingsGetResult(const DiConnSettings* s);

/* The dialog's "Connect" check: trims the URL in place; false when the URL
 * parser refuses what is left. */
bool diConnSettingsCheckUrl(DiChar* url);
/* Fills the value from how the dialog ended (1: Connect) and its entries;
 * the result. */
int32_t diConnSettingsFill(DiConnSettings* s, int dialogResult, const DiChar* url, int32_t kind,
                           const DiChar* host, const DiChar* portText);

#endif
