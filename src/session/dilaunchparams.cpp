/* Launch parameters from the server's and helpers' requests. */
#include "session/dilaunchparams.h"

#include "core/diapp.h"
#include "core/diutil.h"
#include "xml/qvlsoap.h"
#include "xml/qvlxmlglobals.h"

#include <stdlib.h>
#include <string.h>

#include <string>

int32_t diLaunchScanNumber(const DiChar* text) {
    return qvlStrToInt(text);
}

static bool equalsNoCase(const DiChar* text, const char* ascii) {
    if (!text) return false;
    for (; *text && *ascii; text++, ascii++) {
        DiChar c = *text >= 'A' && *text <= 'Z' ? DiChar(*text - 'A' + 'a') : *text;
        if (c != DiChar(*ascii)) return false;
    }
    return !*text && !*ascii;
}

static bool contains(const DiChar* text, const char* ascii) {
    std::u16string hay = text ? text : u"";
    return hay.find(std::u16string(ascii, ascii + strlen(ascii))) != std::u16string::npos;
}

static void setText(DiChar** field, const DiChar* text) {
    DiChar* copy = diAppStrDup(text);
    free(*field);
    *field = copy;
}

/* The four value types a field accepts; any other leaves the field. */
enum ValueKind { NONE, STRING, INT, SHORT, BOOLEAN };

static ValueKind kindOf(CQVLSOAPParameter* p) {
    if (!p) return NONE;
    if (p->IsType(u"xsd:string")) return STRING;
    if (p->IsType(u"xsd:int")) return INT;
    if (p->IsType(u"xsd:short")) return SHORT;
    if (p->IsType(u"xsd:boolean")) return BOOLEAN;
    return NONE;
}

/* The parameter as text; false when it is absent or of another type. */
static bool asText(CQVLSOAPParameter* p, std::u16string* out) {
    DiChar number[16];
    switch (kindOf(p)) {
    case STRING:
        *out = p->GetString() ? p->GetString() : u"";
        return true;
    case INT:
    case SHORT:
        diFormatPositional(number, 16, u"%d",
                           {static_cast<int>(kindOf(p) == INT ? p->GetInt() : p->GetShort())});
        *out = number;
        return true;
    case BOOLEAN:
        *out = p->GetBool() ? u"true" : u"false";
        return true;
    default:
        return false;
    }
}

static void ruleText(CQVLSOAPParameter* p, DiChar** field) {
    std::u16string text;
    if (asText(p, &text)) setText(field, text.c_str());
}

static void ruleNumber(CQVLSOAPParameter* p, int32_t* field) {
    switch (kindOf(p)) {
    case STRING:
        *field = diLaunchScanNumber(p->GetString());
        break;
    case INT:
        *field = p->GetInt();
        break;
    case SHORT:
        *field = p->GetShort();
        break;
    case BOOLEAN:
        *field = p->GetBool() ? 1 : 0;
        break;
    default:
        break;
    }
}

static void ruleFlag(CQVLSOAPParameter* p, uint8_t* field) {
    switch (kindOf(p)) {
    case STRING: {
        const DiChar* s = p->GetString();
        *field = equalsNoCase(s, "true") || (s && s[0] == '1' && !s[1]) || equalsNoCase(s, "yes");
        break;
    }
    case INT:
    case SHORT:
        *field = (kindOf(p) == INT ? p->GetInt() : p->GetShort()) != 0;
        break;
    case BOOLEAN:
        *field = p->GetBool();
        break;
    default:
        break;
    }
}

/* A two-word choice ("shown"/"hidden"...): other texts leave the field. */
template <class T>
static void ruleChoice(CQVLSOAPParameter* p, T* field, const char* zero, const char* one) {
    std::u16string text;
    if (!asText(p, &text)) return;
    if (equalsNoCase(text.c_str(), zero)) *field = 0;
    if (equalsNoCase(text.c_str(), one)) *field = 1;
}

static void ruleObjectClass(CQVLSOAPParameter* p, DiLaunchParams* params) {
    static const struct {
        const char* word;
        int32_t engine, kind;
    } k_classes[] = {
        {"mrkqvlxapplication", 5, 1},       {"mrkqvlcharacterapplication", 6, 2},
        {"mrkqvlconsoleapplication", 6, 3}, {"mrkqvlwindowsapplication", 5, 4},
        {"mrkqvl3270application", 5, 6},    {"mrkqvl5250application", 5, 7},
    };
    std::u16string text;
    if (!asText(p, &text)) return;
    params->engineType = 5;
    params->appKind = 1;
    for (const auto& c : k_classes)
        if (contains(text.c_str(), c.word)) {
            params->engineType = c.engine;
            params->appKind = c.kind;
            return;
        }
}

static void rulePlacement(CQVLSOAPParameter* p, int32_t* field) {
    static const struct {
        const char* word;
        int32_t placement;
    } k_placements[] = {
        {"mrkqvltrylocalwindowsapplication", 6},
        {"mainbrowser", 1},
        {"newbrowser", 1},
        {"localx", 5},
        {"multiplewindows", 3},
        {"seamlesswindows", 7},
        {"kiosk", 4},
        {"awtwindow", 2},
    };
    std::u16string text;
    if (!asText(p, &text)) return;
    for (const auto& c : k_placements)
        if (equalsNoCase(text.c_str(), c.word)) *field = c.placement;
}

static void ruleOverride(CQVLSOAPParameter* p, DiChar** field) {
    std::u16string text;
    if (!asText(p, &text)) return;
    size_t eq = text.find(u'=');
    std::u16string name = text.substr(0, eq);
    if (!equalsNoCase(name.c_str(), "drx.baseurl")) return;
    setText(field, eq == std::u16string::npos ? u"" : text.c_str() + eq + 1);
}

DiLaunchParams::DiLaunchParams(CQVLSOAPRequest* request) {
    Parse(request);
}

DiLaunchParams::~DiLaunchParams() {
    DiChar** texts[] = {&sessionId,
                        &sessionCookie,
                        &externalDnsName,
                        &peerDnsName,
                        &owner,
                        &connectionId,
                        &appName,
                        &launchHostName,
                        &requestTransactionId,
                        &url,
                        &localLaunchCommand,
                        &localLaunchArguments,
                        &baseUrl,
                        &transactionId};
    for (DiChar** t : texts)
        free(*t);
}

void DiLaunchParams::Parse(CQVLSOAPRequest* request) {
    if (!request) return;
    auto find = [request](const DiChar* name) { return request->FindParameter(name); };
    ruleText(find(u"mrkqvlsessionid"), &sessionId);
    ruleText(find(u"mrkqvlsessioncookie"), &sessionCookie);
    ruleNumber(find(u"mrkqvlsessionport"), &port);
    ruleText(find(u"mrkqvlsessionpeerdnsname"), &peerDnsName);
    ruleText(find(u"mrkqvlsessionexternaldnsname"), &externalDnsName);
    ruleText(find(u"mrkqvlsessionowner"), &owner);
    ruleNumber(find(u"mrkqvlsessionwidth"), &width);
    ruleNumber(find(u"mrkqvlsessionheight"), &height);
    ruleText(find(u"connectionid"), &connectionId);
    ruleText(find(u"mrkqvlsessionappname"), &appName);
    ruleText(find(u"url"), &url);
    ruleText(find(u"locallaunchcommand"), &localLaunchCommand);
    ruleText(find(u"locallauncharguments"), &localLaunchArguments);
    ruleText(find(u"transactionid"), &transactionId);
    ruleText(find(u"mrkqvlsessionlaunchhostname"), &launchHostName);
    ruleText(find(u"requesttransactionid"), &requestTransactionId);
    ruleFlag(find(u"mrkqvlscalable"), &scalable);
    ruleNumber(find(u"mrkqvlshowlaunchdialogafter"), &showLaunchDialogAfter);
    std::u16string security;
    if (asText(find(u"mrkqvlsessionsecurity"), &security))
        secure = equalsNoCase(security.c_str(), "ssl");
    ruleObjectClass(find(u"objectclass"), this);
    rulePlacement(find(u"mrkqvlapplicationplacement"), &placement);
    ruleChoice(find(u"mrkqvllaunchdetailsinitialstate"), &detailsHidden, "shown", "hidden");
    ruleChoice(find(u"mrkqvllaunchdetailsactivestate"), &detailsDisabled, "enabled", "disabled");
    ruleChoice(find(u"mrkqvllaunchdetailsshowonerror"), &showOnError, "false", "true");
    ruleOverride(find(u"override"), &baseUrl);
    RecomputeShortName();
}

void DiLaunchParams::Merge(const DiLaunchParams& o) {
    auto text = [](DiChar** mine, const DiChar* theirs) {
        if (theirs) setText(mine, theirs);
    };
    text(&sessionId, o.sessionId);
    text(&sessionCookie, o.sessionCookie);
    text(&externalDnsName, o.externalDnsName);
    text(&peerDnsName, o.peerDnsName);
    text(&owner, o.owner);
    port = o.port;
    text(&connectionId, o.connectionId);
    text(&appName, o.appName);
    engineType = o.engineType;
    appKind = o.appKind;
    width = o.width;
    height = o.height;
    placement = o.placement;
    text(&launchHostName, o.launchHostName);
    text(&requestTransactionId, o.requestTransactionId);
    text(&url, o.url);
    text(&localLaunchCommand, o.localLaunchCommand);
    text(&localLaunchArguments, o.localLaunchArguments);
    text(&baseUrl, o.baseUrl);
    text(&transactionId, o.transactionId);
    detailsHidden = o.detailsHidden;
    detailsDisabled = o.detailsDisabled;
    showOnError = o.showOnError;
    showLaunchDialogAfter = o.showLaunchDialogAfter;
    scalable = o.scalable;
    secure = o.secure;
    RecomputeShortName();
}

void DiLaunchParams::ReplaceSessionId(const DiChar* text) {
    setText(&sessionId, text);
}

void DiLaunchParams::ClearTransactionId() {
    free(transactionId);
    transactionId = nullptr;
}

void DiLaunchParams::RecomputeShortName() {
    appShortName = appName;
    for (const DiChar* p = appName; p && *p; p++)
        if (*p == '=') appShortName = p + 1;
}
