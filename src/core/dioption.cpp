/* Launch options: the option table, options files, the scrambled password
 * and the display settings kept beside the options. */
#include "core/diapp.h"

#include "session/diprofile.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

/* "%d" on UTF-16 text: leading white space, a sign, then digits; the first
 * non-digit ends the number ("12abc" is 12). False when no digit came. */
static bool diAppScanInt(const DiChar* s, size_t* used, int* out) {
    size_t i = 0;
    while (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))
        i++;
    bool negative = false;
    if (s[i] == '+' || s[i] == '-') negative = s[i++] == '-';
    if (s[i] < '0' || s[i] > '9') return false;
    int64_t v = 0;
    while (s[i] >= '0' && s[i] <= '9') {
        if (v < 0x80000000LL) v = v * 10 + (s[i] - '0');
        i++;
    }
    if (v > 0x7FFFFFFFLL + (negative ? 1 : 0)) v = 0x7FFFFFFFLL + (negative ? 1 : 0);
    *out = static_cast<int>(negative ? -v : v);
    *used = i;
    return true;
}

enum DiOptKind { OPT_FLAG, OPT_VALUE };

enum DiOptId {
    O_URL,
    O_USERNAME,
    O_PASSWORD,
    O_EPASSWORD,
    O_OBJECTNAME,
    O_ARGS,
    O_ANONYMOUS,
    O_NOFORK,
    O_SERVER,
    O_LOGIN,
    O_MINIMIZED,
    O_ICONIC,
    O_SETPASSWORD,
    O_CACHE,
    O_SCRIPT,
    O_SCRIPTLOG,
    O_SHOWWEBTOP,
    O_NOPROGRESS,
    O_PORTFILE,
    O_LOGINURL,
    O_PORT,
    O_COOKIE,
    O_LOGDIR,
    O_CA,
    O_BASEROUTE,
    O_CODE,
    O_STARTIMMEDIATE,
    O_NOSTARTIMMEDIATE,
    O_SECURE,
    O_FIREWALL,
    O_RESOURCE,
    O_LANGUAGE,
    O_IME,
    O_PROFILE,
    O_LAUNCHCONFIG,
    O_NOJAVA,
    O_GRABKEYBOARD,
    O_FILE,
};

struct DiOptEntry {
    const char* name;
    DiOptId id;
    DiOptKind kind;
    bool dashOnly;      /* not accepted after a slash */
    bool passwordCheck; /* recognised by diAppOptionKind */
};

static const DiOptEntry k_options[] = {
    {"url", O_URL, OPT_VALUE, false, true},
    {"username", O_USERNAME, OPT_VALUE, false, true},
    {"password", O_PASSWORD, OPT_VALUE, false, true},
    {"epassword", O_EPASSWORD, OPT_VALUE, false, true},
    {"objectname", O_OBJECTNAME, OPT_VALUE, false, true},
    {"application", O_OBJECTNAME, OPT_VALUE, false, true},
    {"args", O_ARGS, OPT_VALUE, false, true},
    {"anonymous", O_ANONYMOUS, OPT_FLAG, false, true},
    {"nofork", O_NOFORK, OPT_FLAG, false, true},
    {"server", O_SERVER, OPT_VALUE, false, true},
    {"login", O_LOGIN, OPT_FLAG, false, true},
    {"minimized", O_MINIMIZED, OPT_FLAG, false, true},
    {"iconic", O_ICONIC, OPT_FLAG, true, true},
    {"setpassword", O_SETPASSWORD, OPT_FLAG, false, true},
    {"cache", O_CACHE, OPT_FLAG, false, true},
    {"script", O_SCRIPT, OPT_VALUE, false, true},
    {"scriptlog", O_SCRIPTLOG, OPT_VALUE, false, true},
    {"showwebtop", O_SHOWWEBTOP, OPT_FLAG, false, true},
    {"noprogress", O_NOPROGRESS, OPT_FLAG, false, true},
    {"portfile", O_PORTFILE, OPT_VALUE, false, true},
    {"loginurl", O_LOGINURL, OPT_VALUE, false, true},
    {"port", O_PORT, OPT_VALUE, false, true},
    {"drxport", O_PORT, OPT_VALUE, false, true},
    {"connectioncookie", O_COOKIE, OPT_VALUE, false, true},
    {"logdir", O_LOGDIR, OPT_VALUE, false, true},
    {"ca", O_CA, OPT_VALUE, false, true},
    {"baseroute", O_BASEROUTE, OPT_VALUE, false, true},
    {"code", O_CODE, OPT_VALUE, false, true},
    {"startimmediate", O_STARTIMMEDIATE, OPT_FLAG, false, true},
    {"nostartimmediate", O_NOSTARTIMMEDIATE, OPT_FLAG, false, false},
    {"secure", O_SECURE, OPT_FLAG, false, true},
    {"firewalltraversal", O_FIREWALL, OPT_FLAG, false, true},
    {"resource", O_RESOURCE, OPT_VALUE, false, false},
    {"preferredlanguage", O_LANGUAGE, OPT_VALUE, false, true},
    {"configurelocalime", O_IME, OPT_VALUE, false, false},
    {"profile", O_PROFILE, OPT_VALUE, false, true},
    {"launchconfig", O_LAUNCHCONFIG, OPT_VALUE, false, true},
    {"no-java", O_NOJAVA, OPT_FLAG, false, true},
    {"grabkeyboard", O_GRABKEYBOARD, OPT_FLAG, false, false},
    {"file", O_FILE, OPT_VALUE, false, true},
};

static bool diAppNameIs(const DiChar* text, const char* name) {
    size_t i = 0;
    for (; name[i]; i++) {
        if (text[i] != static_cast<DiChar>(name[i])) return false;
    }
    return text[i] == 0;
}

/* The table entry an argument names ("-name" or "/name"), or none. */
static const DiOptEntry* diAppFindOption(const DiChar* arg) {
    if (!arg || (arg[0] != '-' && arg[0] != '/')) return nullptr;
    for (const DiOptEntry& e : k_options) {
        if (diAppNameIs(arg + 1, e.name) && (arg[0] == '-' || !e.dashOnly)) return &e;
    }
    return nullptr;
}

int diAppOptionKind(const DiChar* text) {
    const DiOptEntry* e = diAppFindOption(text);
    return e && e->passwordCheck ? 1 : 0;
}

int diAppSetOption(DdApp* app, const DiChar* name, const DiChar* value) {
    DdLaunchOptions* o = &app->opt;
    const DiOptEntry* e = diAppFindOption(name);
    if (!e) {
        /* Unknown: alone it names an options file; with a value it is
         * accepted and ignored (the value is skipped with it). */
        if (value) return 1;
        return ddAppReadOptionsFile(app, name);
    }
    if (e->kind == OPT_VALUE && !value) return 0;
    int n = 0;
    size_t used = 0;
    switch (e->id) {
    case O_URL:
        diAppSetText(&app->url, value);
        break;
    case O_USERNAME:
        diAppSetText(&app->user, value);
        app->anonymous = 0;
        break;
    case O_PASSWORD:
        if (diAppOptionKind(value)) {
            /* "-password -url ...": the password is to be asked for. */
            o->setPassword = 1;
            return 0;
        }
        diAppSetText(&app->password, value);
        app->anonymous = 0;
        break;
    case O_EPASSWORD: {
        DiChar* decoded = diAppDecodeEPassword(value);
        if (decoded) {
            free(app->password);
            app->password = decoded;
        }
        break;
    }
    case O_OBJECTNAME:
        if (!value[0]) return 0;
        diAppSetText(&o->objectName, value);
        if (o->windowMode != 1 && o->windowMode != 4) o->windowMode |= 2;
        break;
    case O_ARGS:
        diAppSetText(&o->objectArgs, value);
        break;
    case O_ANONYMOUS:
        app->anonymous = 1;
        break;
    case O_NOFORK:
        app->noFork = 1;
        break;
    case O_SERVER:
        diAppSetText(&o->server, value);
        break;
    case O_LOGIN:
        app->login = 1;
        break;
    case O_MINIMIZED:
    case O_ICONIC:
        o->windowMode = 4;
        break;
    case O_SETPASSWORD:
        o->setPassword = 1;
        break;
    case O_CACHE:
        o->cache = 1;
        break;
    case O_SCRIPT:
        diAppSetText(&o->script, value);
        break;
    case O_SCRIPTLOG:
        diAppSetText(&o->scriptLog, value);
        break;
    case O_SHOWWEBTOP:
        o->windowMode = 1;
        break;
    case O_NOPROGRESS:
        o->noProgress = 1;
        break;
    case O_PORTFILE:
        diAppSetText(&o->portFile, value);
        break;
    case O_LOGINURL:
        diAppSetText(&o->loginUrl, value);
        break;
    case O_PORT:
        o->port = diAppScanInt(value, &used, &n) ? static_cast<uint32_t>(n) : 0;
        break;
    case O_COOKIE:
        diAppSetText(&o->connectionCookie, value);
        break;
    case O_LOGDIR:
        diAppSetText(&o->logDir, value);
        break;
    case O_CA:
        diAppSetText(&o->caFile, value);
        break;
    case O_BASEROUTE:
        diAppSetText(&o->baseRoute, value);
        break;
    case O_CODE:
        diAppSetText(&o->code, value);
        break;
    case O_STARTIMMEDIATE:
        break;
    case O_NOSTARTIMMEDIATE:
        o->startImmediately = 0;
        break;
    case O_SECURE:
        o->secure = 1;
        break;
    case O_FIREWALL:
        o->firewallTraversal = 1;
        break;
    case O_RESOURCE:
        diAppSetText(&o->resource, value);
        break;
    case O_LANGUAGE:
        diAppSetText(&o->preferredLanguage, value);
        break;
    case O_IME:
        o->imeConfig = diAppScanInt(value, &used, &n) ? n : 0;
        break;
    case O_PROFILE:
        diAppSetText(&o->profile, value);
        break;
    case O_LAUNCHCONFIG:
        diAppSetText(&o->launchConfig, value);
        break;
    case O_NOJAVA:
        o->noJava = 1;
        break;
    case O_GRABKEYBOARD:
        o->keyboardGrab = 1;
        break;
    case O_FILE:
        return ddAppReadOptionsFile(app, value);
    }
    return 1;
}

static bool diAppIsSpace(DiChar c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

void diAppApplyOptionsLine(DdApp* app, DiChar* line) {
    size_t n = diAppStrLen(line);
    while (n > 0 && diAppIsSpace(line[n - 1]))
        line[--n] = 0;
    if (n == 0) return;
    size_t split = n;
    for (DiChar sep : {u'=', u' ', u':'}) {
        for (size_t i = 0; i < n; i++) {
            if (line[i] == sep) {
                split = i;
                break;
            }
        }
        if (split < n) break;
    }
    std::u16string name = u"-" + std::u16string(line, split);
    const DiChar* value = split < n ? line + split + 1 : nullptr;
    if (name == u"-file") return; /* files do not nest */
    diAppSetOption(app, name.c_str(), value);
}

static const char k_scrambleKey[] = "kelp.mint.stroll";

void diAppUnscramble(DiChar* text, size_t length) {
    enum { K = sizeof(k_scrambleKey) - 1 };
    uint32_t k[K];
    for (size_t i = 0; i < K; i++)
        k[i] = static_cast<unsigned char>(k_scrambleKey[i]);
    size_t j = 0;
    for (size_t i = 0; i < length; i++) {
        uint32_t c = text[i];
        c ^= (static_cast<uint32_t>(j) * k[0]) % 65536u;
        c ^= k[j];
        /* The keystream grows past 8 bits; the password's characters are
         * bytes, so only the low byte is the character. */
        text[i] = static_cast<DiChar>(c & 0xFF);
        k[j] = (k[j] + (j < K - 1 ? k[j + 1] : k[0])) % 65536u;
        if (k[j] == 0) k[j] = 1;
        if (++j == K) j = 0;
    }
}

static uint32_t diAppHexDigit(DiChar c) {
    return c > '9' ? c - 55u : c - static_cast<uint32_t>('0');
}

DiChar* diAppDecodeEPassword(const DiChar* text) {
    size_t n = diAppStrLen(text) / 2;
    DiChar* out = static_cast<DiChar*>(malloc((n + 1) * sizeof(DiChar)));
    if (!out) return nullptr;
    for (size_t i = 0; i < n; i++)
        out[i] =
            static_cast<DiChar>(diAppHexDigit(text[2 * i]) * 16 + diAppHexDigit(text[2 * i + 1]));
    diAppUnscramble(out, n);
    out[n] = 0;
    return out;
}

void diAppParseDisplaySize(const DiChar* text, int32_t* width, int32_t* height) {
    *width = *height = -1;
    if (!text) return;
    int w, h;
    size_t used;
    if (diAppScanInt(text, &used, &w) && text[used] == 'x') {
        size_t used2;
        if (diAppScanInt(text + used + 1, &used2, &h)) {
            *width = w;
            *height = h;
        }
        return;
    }
    if (text[0] == 'x' && diAppScanInt(text + 1, &used, &h))
        *width = *height = h == INT32_MIN ? INT32_MAX : -h;
}

int diAppSettingInt(const char16_t* name, int def) {
    DiChar text[64];
    int v;
    size_t used;
    if (!diSOGetLocalSetting(name, text, DI_COUNTOF(text)) || !diAppScanInt(text, &used, &v))
        return def;
    return v;
}

static void diAppSettingSetInt(const char16_t* name, int value) {
    char buf[16];
    snprintf(buf, sizeof buf, "%d", value);
    std::u16string text(buf, buf + strlen(buf));
    diSOSetLocalSetting(name, text.c_str());
}

void diAppLoadSettings(DdApp* app) {
    app->driveMapping = diAppSettingInt(u"EnableCDM", 1);
    app->xScaleQuality = diAppSettingInt(u"XScaleQuality", 3);
    app->xGraphicsOptions = diAppSettingInt(u"XGraphicsOptions", 0);
    app->soundEffects = diAppSettingInt(u"SoundEffects", 1);
    DiChar text[64];
    if (!diSOGetLocalSetting(u"DisplaySize", text, DI_COUNTOF(text))) text[0] = 0;
    diAppParseDisplaySize(text, &app->displayWidth, &app->displayHeight);
    app->customWidth = 1280;
    app->customHeight = 1024;
    if (diSOGetLocalSetting(u"DisplayCustom", text, DI_COUNTOF(text))) {
        int32_t w, h;
        diAppParseDisplaySize(text, &w, &h);
        /* Only the "%dx%d" form counts here; the others keep the default. */
        if (text[0] != 'x' && !(w == -1 && h == -1)) {
            app->customWidth = w;
            app->customHeight = h;
        }
    }
}

static void diAppSetSize(const char16_t* name, const char* format, int a, int b) {
    char buf[32];
    snprintf(buf, sizeof buf, format, a, b);
    std::u16string text(buf, buf + strlen(buf));
    diSOSetLocalSetting(name, text.c_str());
}

void diAppSaveSettings(DdApp* app) {
    diAppSettingSetInt(u"DocLaunch", static_cast<int>(app->docLaunch));
    if (app->codePage) diAppSettingSetInt(u"CodePage", static_cast<int>(app->codePage));
    diAppSettingSetInt(u"EnableCDM", static_cast<int>(app->driveMapping));
    diAppSettingSetInt(u"XScaleQuality", static_cast<int>(app->xScaleQuality));
    if (app->displayWidth > 0 && app->displayHeight > 0)
        diAppSetSize(u"DisplaySize", "%dx%d", app->displayWidth, app->displayHeight);
    else
        diAppSetSize(u"DisplaySize", "x%d",
                     app->displayHeight == INT32_MIN ? INT32_MAX : -app->displayHeight, 0);
    diAppSetSize(u"DisplayCustom", "%dx%d", app->customWidth, app->customHeight);
}
