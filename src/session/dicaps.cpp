/* The capability providers of the outpost and the reply to
 * ns1:clientCapabilities: what the client can do, from the platform's
 * descriptions (DescribePlatform), the outpost's proxy and the device
 * channels. */
#include "core/diapp.h"
#include "core/dilog.h"
#include "core/disysinfo.h"
#include "net/diroute.h"
#include "core/diutil.h"
#include "devices/didevice.h"
#include "devices/diaudio.h"
#include "devices/dicdm.h"
#include "devices/diprintq.h"
#include "session/dicapability.h"
#include "session/diprofile.h"
#include "session/diso.h"
#include "xml/qvlxmlglobals.h"

#include <stdlib.h>
#include <string.h>

static void addString(CQVLList<CCapability>* list, const DiChar* name, const DiChar* value) {
    list->Append(new (std::nothrow) CStringCapability(name, value, true), true);
}

static void addInt(CQVLList<CCapability>* list, const DiChar* name, int32_t value) {
    CIntCapability* c = new (std::nothrow) CIntCapability(name, true);
    if (c) c->value = value;
    list->Append(c, true);
}

static void addShort(CQVLList<CCapability>* list, const DiChar* name, int32_t value) {
    CShortCapability* c = new (std::nothrow) CShortCapability(name, true);
    if (c) c->value = value;
    list->Append(c, true);
}

static void addBool(CQVLList<CCapability>* list, const DiChar* name, bool value) {
    CBoolCapability* c = new (std::nothrow) CBoolCapability(name, true);
    if (c) c->value = value ? 1 : 0;
    list->Append(c, true);
}

/* The name of an operating-system code of the client description (512 + n
 * for the Windows family): its low byte picks the version. */
static const DiChar* osVersionName(uint16_t code) {
    switch (code & 0xff) {
    case 1:
        return u"Windows95";
    case 2:
        return u"Windows98";
    case 3:
        return u"WindowsMe";
    case 5:
        return u"WindowsNT4";
    case 6:
        return u"Windows2000";
    case 7:
        return u"WindowsXP";
    case 8:
        return u"Windows2003";
    case 9:
        return u"WindowsVista";
    default:
        return u"Windows";
    }
}

/* The platform code of the client description: 2 for Win32. */
static int32_t platformCode(const DiClientInfo* info) {
    return info && info->platform && qvlStrEqAscii(info->platform, "Win32") ? 2 : 0;
}

void CServerOutpost::AddDisplayItems(CQVLList<CCapability>* list, const DiSOCapFlags& f,
                                     const DiSOPlatform& p) {
    bool caps = f.all || f.clientcaps;
    if (caps) {
        addShort(list, u"screenwidth", p.screenWidth);
        addShort(list, u"screenheight", p.screenHeight);
        addShort(list, u"maxoutofplacewidth", p.maxWidth);
        addShort(list, u"maxoutofplaceheight", p.maxHeight);
        addShort(list, u"screenvirtualwidth", p.virtualWidth);
        addShort(list, u"screenvirtualheight", p.virtualHeight);
        addShort(list, u"colordepth", p.colorDepth);
    }
    if (f.all || f.launch) {
        addBool(list, u"localxserver", p.localXDisplay != nullptr);
        if (p.localXDisplay) addString(list, u"localxdisplay", p.localXDisplay);
    }
    if (!caps) return;
    if (platformCode(p.client) == 2) {
        addString(list, u"os", u"Windows");
        addString(list, u"osversion", osVersionName(p.client->osCode));
    }
    if (p.client && p.client->processor) addString(list, u"architecture", p.client->processor);
    if (p.logFile) addString(list, u"logfile", p.logFile);
    if (code) addString(list, u"drxcode", code);
    if (localHost) addString(list, u"mrkqvlsessiondrxclientip", localHost);
}

void CServerOutpost::AddClientCapabilities(CQVLList<CCapability>* list, const DiSOPlatform& p) {
    DiSOCapFlags f;
    f.clientcaps = f.launch = true;
    AddDisplayItems(list, f, p);
    if (p.seamless) addBool(list, u"seamlesscapable", true);
}

void CServerOutpost::AddKeyboardItems(CQVLList<CCapability>* list, const DiSOPlatform& p) {
    const DdKeyboardInfo* kb = p.keyboard;
    if (!kb) return;
    if ((kb->flags & DD_KB_LANG_TEXT) && kb->langText)
        addString(list, u"inputlangrfc", kb->langText);
    if (kb->flags & DD_KB_LANG_ID) addInt(list, u"inputlangms", kb->langId);
    if ((kb->flags & DD_KB_LAYOUT) && kb->layout) addString(list, u"keyboardlayout", kb->layout);
    if ((kb->flags & DD_KB_IME) && kb->ime) addString(list, u"ime", kb->ime);
}

static const char* const kDaylightNames[8] = {
    "timezonedaylightyear",   "timezonedaylightmonth",   "timezonedaylightdayofweek",
    "timezonedaylightday",    "timezonedaylighthour",    "timezonedaylightminute",
    "timezonedaylightsecond", "timezonedaylightmillisec"};
/* The server reads the standard date's day of week under this spelling. */
static const char* const kStandardNames[8] = {
    "timezonestandardyear",   "timezonestandardmonth",   "timezonestanarddayofweek",
    "timezonestandardday",    "timezonestandardhour",    "timezonestandardminute",
    "timezonestandardsecond", "timezonestandardmillisec"};

static void addDate(CQVLList<CCapability>* list, const char* const names[8],
                    const DiSystemTime& t) {
    const uint16_t values[] = {t.year, t.month,  t.dayOfWeek, t.day,
                               t.hour, t.minute, t.second,    t.milliseconds};
    for (int i = 0; i < 8; i++) {
        DiChar name[64];
        int n = 0;
        for (const char* c = names[i]; *c && n < 63; c++)
            name[n++] = DiChar(*c);
        name[n] = 0;
        addInt(list, name, values[i]);
    }
}

void CServerOutpost::AddTimeZoneItems(CQVLList<CCapability>* list, const DiSOPlatform& p) {
    const DdTimeZoneInfo* tz = p.timeZone;
    if (!tz) return;
    addBool(list, u"timezoneindst", (tz->flags & DD_TZ_DAYLIGHT) != 0);
    if (tz->standardName) {
        DiChar* name = diTextFromUtf8Dup(tz->standardName, strlen(tz->standardName));
        addString(list, u"timezonestd", name ? name : u"");
        free(name);
        addInt(list, u"timezonestdoffset", tz->bias);
    }
    /* A daylight rule may come without transition dates: the offset and
     * name are announced for the rule, the dates only when it has them. */
    if (tz->flags & DI_SO_TZ_RULE) {
        addInt(list, u"timezonedstoffset", tz->daylightOffset);
        const char* dst = tz->daylightName ? tz->daylightName : "";
        DiChar* name = diTextFromUtf8Dup(dst, strlen(dst));
        addString(list, u"timezonedst", name ? name : u"");
        free(name);
    }
    if (tz->flags & DI_SO_TZ_RULE_DATES) {
        addDate(list, kDaylightNames, tz->daylightDate);
        addDate(list, kStandardNames, tz->standardDate);
    }
}

void CServerOutpost::AddComputerItems(CQVLList<CCapability>* list, const DiSOPlatform& p) {
    if (p.computerName) addString(list, u"clientname", p.computerName);
    if (!p.client) return;
    addInt(list, u"clientplatformid", platformCode(p.client));
    addInt(list, u"clientplatformversionmajor", p.client->osMajor);
    addInt(list, u"clientplatformversionminor", p.client->osMinor);
}

bool CServerOutpost::ProxyRouteSet(int32_t* kind, const DiChar** host, int32_t* port) {
    if (!g_ddApp) return false;
    DiRoute* route = nullptr;
    if (g_ddApp->httpProxyInUse && g_ddApp->opt.httpProxyRoute) {
        route = g_ddApp->opt.httpProxyRoute;
        *kind = 2;
    } else if (g_ddApp->socksInUse && g_ddApp->opt.socksRoute) {
        route = g_ddApp->opt.socksRoute;
        *kind = 3;
    }
    if (!route) return false;
    *host = route->host;
    *port = int32_t(route->port);
    return true;
}

bool CServerOutpost::ServerIsProxyException() {
    return g_ddApp && g_ddApp->proxyExceptions && server &&
           diWildcardMatchList(server, g_ddApp->proxyExceptions, u';', 0);
}

void CServerOutpost::AddProxyItems(CQVLList<CCapability>* list) {
    if (ServerIsProxyException()) return;
    int32_t kind = 0, port = 0;
    const DiChar* host = nullptr;
    if (!ProxyRouteSet(&kind, &host, &port)) return;
    addString(list, u"proxyprotocol", kind == 3 ? u"socks" : u"http");
    addInt(list, u"proxyport", port);
    addString(list, u"proxyhost", host);
}

/* An int item named by the record's announcement, valued by its class code. */
static void addDeviceItem(CQVLList<CCapability>* list, const DiDevice* d, uint32_t index) {
    /* Room for the numbers and the longest name the port setting can hold. */
    DiChar text[1200];
    if (diDeviceAnnouncement(d, index, text, DI_COUNTOF(text)) > 0)
        addInt(list, text, d->classCode);
}

void CServerOutpost::AddSmartCardItems(CQVLList<CCapability>* list) {
    const DiDeviceList* l = DeviceList();
    if (l && l->count && l->devices[0] && l->devices[0]->classCode == 128)
        addDeviceItem(list, l->devices[0], 0);
}

void CServerOutpost::AddSerialItems(CQVLList<CCapability>* list) {
    const DiDeviceList* l = DeviceList();
    for (uint32_t i = 0; l && i < l->count; i++)
        if (l->devices[i] && l->devices[i]->classCode == 512) addDeviceItem(list, l->devices[i], i);
}

DiSODeviceHooks g_diSODeviceHooks;

void CServerOutpost::AddDriveItems(CQVLList<CCapability>* list) {
    const DiCDMDrive* drives = nullptr;
    uint32_t n = driveChannel && g_diSODeviceHooks.listDrives
                     ? g_diSODeviceHooks.listDrives(driveChannel, &drives)
                     : 0;
    for (uint32_t i = 0; i < n; i++)
        addInt(list, drives[i].root, drives[i].kind);
}

void CServerOutpost::AddAudioItems(CQVLList<CCapability>* list) {
    const DiAudioDeviceRecord* records = nullptr;
    uint32_t n = audioChannel && g_diSODeviceHooks.audioRecords
                     ? g_diSODeviceHooks.audioRecords(audioChannel, &records)
                     : 0;
    for (uint32_t i = 0; i < n; i++) {
        char text[DI_AUDIO_MAX_FORMATS * 64];
        diAudioRecordText(&records[i], text, sizeof text);
        DiChar* name = diTextFromUtf8Dup(text, strlen(text));
        if (name) addInt(list, name, records[i].kind);
        free(name);
    }
}

/* Each item as an "attribute" element holding its text form. */
static void addItemElements(CQVLXMLContentTag* tag, CQVLList<CCapability>* items) {
    for (auto* n = items->head; n; n = n->next) {
        if (n->item->flag) n->item->Log();
        DiChar* text = n->item->ToText();
        if (text) tag->AddChild(new (std::nothrow) CQVLXMLContentTag(u"attribute", text), true);
        free(text);
    }
}

void CServerOutpost::AddDeviceElements(CQVLXMLContentTag* devices, const DiSOCapFlags& f) {
    /* Every element whose flag is asked for is present, empty when its
     * channel has nothing to announce. */
    const struct {
        bool on;
        const char* name;
        void (CServerOutpost::*items)(CQVLList<CCapability>*);
    } kinds[] = {{f.all || f.print, "print", nullptr},
                 {f.all || f.audio, "audio", &CServerOutpost::AddAudioItems},
                 {f.all || f.cdm, "cdm", &CServerOutpost::AddDriveItems},
                 {f.all || f.smartcard, "smartcard", &CServerOutpost::AddSmartCardItems},
                 {f.all || f.io, "io", &CServerOutpost::AddSerialItems}};
    for (auto& k : kinds) {
        if (!k.on) continue;
        CQVLXMLContentTag* tag = new (std::nothrow) CQVLXMLContentTag(k.name);
        if (!tag) continue;
        CQVLList<CCapability> items;
        if (!strcmp(k.name, "print") && printJobs) {
            /* The printers travel as typed parameters, the others as text. */
            printJobs->AddPrinterCapabilities(&items, g_ddApp && g_ddApp->hasDefaultPrinter);
            for (auto* n = items.head; n; n = n->next) {
                if (n->item->flag) n->item->Log();
                tag->AddChild(n->item->ToSOAPParameter(), true);
            }
            devices->AddChild(tag, true);
            continue;
        }
        if (k.items) (this->*k.items)(&items);
        addItemElements(tag, &items);
        devices->AddChild(tag, true);
    }
}

void CServerOutpost::FreePlatform(DiSOPlatform* p) {
    if (p->timeZone) {
        free(p->timeZone->standardName);
        free(p->timeZone->daylightName);
        free(p->timeZone);
    }
    if (p->keyboard) {
        free(p->keyboard->langText);
        free(p->keyboard->ime);
        free(p->keyboard->layout);
        free(p->keyboard);
    }
    free(p->computerName);
    *p = DiSOPlatform();
}

void CServerOutpost::OnClientCapabilities(CQVLSOAPRequest* request, const DiChar* messageId) {
    DiSOCapFlags f;
    f.all = request->HasParameter(u"all", nullptr);
    if (!f.all) {
        f.print = request->HasParameter(u"print", nullptr);
        f.audio = request->HasParameter(u"audio", nullptr);
        f.cdm = request->HasParameter(u"cdm", nullptr);
        f.clientcaps = request->HasParameter(u"clientcaps", nullptr);
        f.launch = request->HasParameter(u"launch", nullptr);
        f.smartcard = request->HasParameter(u"smartcard", nullptr);
        f.io = request->HasParameter(u"io", nullptr);
        f.profile = true;
    }
    DiSOPlatform platform;
    DescribePlatform(&platform);
    CQVLList<CCapability> list;
    AddDisplayItems(&list, f, platform);
    if (f.all || f.clientcaps) {
        AddKeyboardItems(&list, platform);
        AddTimeZoneItems(&list, platform);
        AddProxyItems(&list);
    }
    FreePlatform(&platform);
    StartDeviceChannels();
    CQVLSOAPResponse* r =
        MakeResponse(u"ns1:clientCapabilitiesResponse", u"qvl:clientCapabilities");
    if (!r) return;
    for (auto* n = list.head; n; n = n->next) {
        if (n->item->flag) n->item->Log();
        r->AddReturnChild(n->item->ToSOAPParameter(), true);
    }
    CQVLXMLContentTag* devices = new (std::nothrow) CQVLXMLContentTag("devices");
    if (devices) {
        AddDeviceElements(devices, f);
        r->AddReturnChild(devices, true);
    }
    CProfileStore* store = g_diProfileStore;
    if (store && store->current && store->current->profileElement)
        r->AddReturnChild(store->current->profileElement, false); /* the store's own */
    Send(r, messageId);
    delete r;
}
