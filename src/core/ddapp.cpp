/* Application start-up and shut-down. */
#include "core/ddapp.h"

#include "core/ddevent.h"
#include "core/dilog.h"
#include "core/ddmessage.h"
#include "core/ddsetting.h"
#include "core/ddtrace.h"
#include "devices/ddaudio.h"
#include "devices/ddcdm.h"
#include "devices/dddevices.h"
#include "devices/ddpaip.h"
#include "net/ddnet.h"
#include "net/dicrypt.h"
#include "net/ddroute.h"
#include "net/ddtls.h"
#include "session/ddso.h"
#include "ui/ddcolor.h"
#include "ui/dddlg.h"
#include "ui/ddgdi.h"
#include "ui/ddmultimon.h"
#include "ui/ddui.h"
#include "xml/qvlxmlglobals.h"

#include <openssl/crypto.h>
#include <process.h>
#include <shellapi.h>
#include <stdlib.h>
#include <string.h>

#include <string>

static DdApp s_app;
DdApp* g_ddApp = &s_app;

UINT g_ddMsgWebtopLaunch;
UINT g_ddMsgWebtopLoggedIn;

void (*g_ddAppStepHook)(const char* step);

void ddAppStep(const char* step) {
    if (g_ddAppStepHook) g_ddAppStepHook(step);
    std::string line = std::string("step: ") + step + "\r\n";
    std::u16string wide(line.begin(), line.end());
    ddTraceLogWrite(wide.c_str());
}

/* OpenSSL allocates from the same C runtime heap as the rest of the client. */
static void* ddAppSslMalloc(size_t n, const char*, int) {
    return malloc(n);
}
static void* ddAppSslRealloc(void* p, size_t n, const char*, int) {
    return realloc(p, n);
}
static void ddAppSslFree(void* p, const char*, int) {
    free(p);
}

/* Numbered log messages come from the string tables like every message. */
static bool ddAppLoadLogMessage(uint32_t message, DiChar* buffer, size_t size) {
    int n = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
    return ddLoadMessage(static_cast<int>(message), ddW(buffer), n) > 0;
}

/* The XML writer's ANSI output is the process's ANSI code page: one byte on
 * a single-byte system, one or two on a double-byte one. A character the
 * code page lacks becomes its default character. */
static int ddAppAnsiConverter(DiChar c, uint8_t out[4]) {
    wchar_t unit = static_cast<wchar_t>(c);
    int n = WideCharToMultiByte(CP_ACP, 0, &unit, 1, reinterpret_cast<char*>(out), 4, nullptr,
                                nullptr);
    return n > 0 ? n : 0;
}

int ddAppMain(HINSTANCE instance, HINSTANCE prevInstance, LPSTR, int) {
    g_ddMsgWebtopLaunch = RegisterWindowMessageW(L"QVLWebtopLaunch");
    g_ddMsgWebtopLoggedIn = RegisterWindowMessageW(L"QVLWebtopLoggedIn");
    CRYPTO_set_mem_functions(ddAppSslMalloc, ddAppSslRealloc, ddAppSslFree);
    ddTlsLibraryInit();
    if (!ddAppInit(g_ddApp, instance, prevInstance)) {
        ddAppReleaseInstanceMutex();
        return g_ddApp->exitCode;
    }
    ddAppStep("post 0x8003");
    PostMessageW(g_ddApp->mainWindow, DD_MSG_OUTPOST_CREATE, 0, 0);
    ddAppStep("event loop");
    int result = diAppRunEventLoop();
    ddAppShutdown(g_ddApp);
    return result;
}

uint16_t ddAppOsCode(DWORD version) {
    unsigned major = version & 0xFF;
    unsigned minor = (version >> 8) & 0xFF;
    if (version & 0x80000000u) {
        if (major < 4) return 512;
        switch (minor) {
        case 0:
            return 513;
        case 10:
            return 514;
        case 90:
            return 515;
        default:
            return 512;
        }
    }
    if (major == 5 && minor <= 2) return static_cast<uint16_t>(518 + minor);
    if (major == 6 && minor == 0) return 521;
    return static_cast<uint16_t>(512 + major + 1);
}

LCID ddAppLanguageLocale(const wchar_t* language) {
    static const struct {
        const wchar_t* prefix;
        LCID locale;
    } k_languages[] = {
        {L"en", 0x409},    {L"fr", 0x40C},    {L"ja", 0x411}, {L"ko", 0x412},
        {L"zh_TW", 0x404}, {L"zh-tw", 0x404}, {L"zh", 0x804},
    };
    if (!language) return 0;
    for (const auto& l : k_languages) {
        if (wcsncmp(language, l.prefix, wcslen(l.prefix)) == 0) return l.locale;
    }
    return 0;
}

static const char* ddAppProcessorText(WORD architecture) {
    switch (architecture) {
    case 0:
        return "x86";
    case 1:
        return "mips";
    case 2:
        return "alpha";
    case 3:
        return "PowerPC";
    default:
        return "Unknown";
    }
}

static DiChar* ddAppAsciiDup(const char* text) {
    std::u16string wide(text, text + strlen(text));
    return diAppStrDup(wide.c_str());
}

int ddAppParseCommandLine(DdApp* app, int argc, wchar_t** argv) {
    if (argc < 1 || !argv) return 0;
    diAppSetText(&app->opt.programPath, ddD(argv[0]));
    for (int i = 1; i < argc; i++) {
        const DiChar* name = ddD(argv[i]);
        if (diAppSetOption(app, name, nullptr)) continue;
        if (i + 1 < argc) {
            /* The next argument is the value, used or not. */
            diAppSetOption(app, name, ddD(argv[i + 1]));
            i++;
        }
    }
    return 0;
}

static void ddAppCommandLinePass(DdApp* app, const wchar_t* cmdLine) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(cmdLine, &argc);
    if (!argv) return;
    ddAppParseCommandLine(app, argc, argv);
    LocalFree(argv);
}

/* Looks the URL up in the password cache; on an entry with a user and a
 * protected password, the recovered password becomes the launch password.
 * An entry of another user than the launch's is not taken: its password
 * would be sent under the wrong name. */
static bool ddAppPasswordFromCache(DdApp* app) {
    DiChar* user = nullptr;
    DiChar* password = nullptr;
    if (!app->url || !diCryptLookupCachedLogin(app->url, &user, &password)) return false;
    bool found = user && user[0] && password;
    if (found && app->user && app->user[0] && wcscmp(ddW(app->user), ddW(user)) != 0)
        found = false;
    if (found) {
        free(app->password);
        app->password = password;
        password = nullptr;
        if (!app->user || !app->user[0]) diAppSetText(&app->user, user);
    }
    free(user);
    free(password);
    return found;
}

/* The "-cache" prompt inside the launch: 1 when the dialog was confirmed for
 * the launch URL (its answers become the launch's, whether the cache could
 * keep them or not), 0 when it was cancelled or confirmed for another
 * location (that entry is stored; the launch ends as on a cancel). */
static int ddAppPromptLaunchPassword(DdApp* app) {
    DiChar* url = diAppStrDup(app->url);
    DiChar* user = diAppStrDup(app->user);
    DiChar* password = nullptr;
    int ok = ddDlgPasswordCache(&url, &user, &password);
    int result = 0;
    if (ok && password) {
        int stored = ddAppCachePassword(url, user, password);
        if (stored != 1) ddDlgPasswordNotRemembered(nullptr, stored);
        if (url && app->url && wcscmp(ddW(url), ddW(app->url)) == 0) {
            diAppSetText(&app->user, user);
            free(app->password);
            app->password = password;
            password = nullptr;
            result = 1;
        }
    }
    free(url);
    free(user);
    if (password) SecureZeroMemory(password, wcslen(ddW(password)) * sizeof(DiChar));
    free(password);
    return result;
}

int ddAppPromptCachePassword(DdApp* app) {
    DiChar* url = diAppStrDup(app->url);
    DiChar* user = diAppStrDup(app->user);
    DiChar* password = nullptr;
    int ok = ddDlgPasswordCache(&url, &user, &password);
    if (ok && password) {
        int stored = ddAppCachePassword(url, user, password);
        if (stored != 1) ddDlgPasswordNotRemembered(nullptr, stored);
    }
    free(url);
    free(user);
    free(password);
    return ok;
}

int ddAppCachePassword(const DiChar* url, const DiChar* user, const DiChar* password) {
    if (!url || !user || !password) return 0;
    return diCryptStoreCredentials(url, user, password);
}

static HANDLE s_instanceMutex;

int ddAppWaitInstanceMutex(void) {
    s_instanceMutex = CreateMutexW(nullptr, FALSE, L"QVLSemaphore");
    if (!s_instanceMutex) return 0;
    if (WaitForSingleObject(s_instanceMutex, INFINITE) == WAIT_OBJECT_0) return 1;
    /* Abandoned (the previous holder died) or failed: this process ends too.
     * An abandoned wait still made this thread the owner: release it. */
    ReleaseMutex(s_instanceMutex);
    CloseHandle(s_instanceMutex);
    s_instanceMutex = nullptr;
    return 0;
}

void ddAppReleaseInstanceMutex(void) {
    if (!s_instanceMutex) return;
    ReleaseMutex(s_instanceMutex);
    CloseHandle(s_instanceMutex);
    s_instanceMutex = nullptr;
}

HWND ddAppReadSharedRecords(DdApp* app) {
    if (!app->sharedMapping)
        app->sharedMapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, L"QVLMappingObject");
    if (!app->sharedMapping) return nullptr;
    const unsigned char* view = static_cast<const unsigned char*>(
        MapViewOfFile(app->sharedMapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!view) return nullptr;
    MEMORY_BASIC_INFORMATION info;
    size_t mapped = VirtualQuery(view, &info, sizeof info) ? info.RegionSize : 0;
    uint32_t window = diAppFindSharedRecord(view, mapped, app->url, &app->user);
    HWND found = reinterpret_cast<HWND>(static_cast<uintptr_t>(window));
    UnmapViewOfFile(view);
    return found;
}

int ddAppPasswordCacheMode(DdApp* app) {
    DdLaunchOptions* o = &app->opt;
    if (app->anonymous) return 0;
    if (o->setPassword && o->cache) {
        ddAppPromptCachePassword(app);
        return 1;
    }
    if (o->cache) {
        if (app->password) {
            ddAppCachePassword(app->url, app->user, app->password);
        } else {
            /* A confirmed dialog ends the loop too: an entry that cannot be
             * stored (a long password) would otherwise bring it back for
             * ever. */
            while (!ddAppPasswordFromCache(app)) {
                if (!ddAppPromptLaunchPassword(app)) return 1;
                if (app->password) break;
            }
        }
    }
    if (!app->url) {
        o->windowMode = 1;
        return 0;
    }
    if (!o->objectName) {
        HWND window = ddAppReadSharedRecords(app);
        if (window) {
            if (o->windowMode == 1)
                ShowWindow(window, SW_SHOW);
            else if (o->windowMode == 4)
                ShowWindow(window, SW_SHOWMINIMIZED);
            return 1;
        }
    } else if (!ddAppWaitInstanceMutex()) {
        return 1;
    }
    if (!app->password) ddAppPasswordFromCache(app);
    return 0;
}

void ddAppComputeWorkArea(DdApp* app) {
    int fullWidth = GetSystemMetrics(SM_CXFULLSCREEN);
    int fullHeight = GetSystemMetrics(SM_CYFULLSCREEN);
    int borderX = GetSystemMetrics(SM_CXFRAME);
    int borderY = GetSystemMetrics(SM_CYFRAME);
    int caption = GetSystemMetrics(SM_CYCAPTION);
    app->usableWidth = fullWidth - 2 * borderX;
    app->usableHeight = fullHeight - 2 * borderY;
    /* A configured display size replaces the full-screen sizes; without one
     * the frame is sized from the full screen. */
    int width = fullWidth, height = fullHeight;
    if (app->displayWidth >= 32 && app->displayHeight >= 32) {
        width = app->displayWidth;
        height = app->displayHeight;
    }
    DdWorkArea* w = &app->workArea;
    w->frameWidth = width - 2 * borderX;
    w->frameHeight = height - 2 * borderY;
    w->clientHeight = w->frameHeight - caption;
    w->clientWidth = w->frameWidth - (app->layoutFlag ? 5 : app->sideWidth + 1);
}

/* Frees what the early exits leave behind. */
static void ddAppFreeEarly(DdApp* app) {
    free(app->password);
    free(app->url);
    free(app->user);
    free(app->opt.objectName);
    app->password = app->url = app->user = app->opt.objectName = nullptr;
}

int ddAppInit(DdApp* app, HINSTANCE instance, HINSTANCE prevInstance) {
    return ddAppInitWith(app, instance, prevInstance, GetCommandLineW(), __argc);
}

/* The audio probe loads the system's whole sound stack, which takes longer
 * than anything else before the first window. It runs beside the rest of
 * start-up and is awaited before start-up returns, on every path, so that
 * whatever reads the flag afterwards finds it set. */
struct DdAppAudioProbe {
    HANDLE thread = nullptr;
    static unsigned __stdcall run(void* flag) {
        *static_cast<uint32_t*>(flag) = ddAudioPresent() ? 1 : 0;
        return 0;
    }
    void start(uint32_t* flag) {
        thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, run, flag, 0, nullptr));
        if (!thread) run(flag);
    }
    ~DdAppAudioProbe() {
        if (!thread) return;
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
};

int ddAppInitWith(DdApp* app, HINSTANCE instance, HINSTANCE prevInstance, const wchar_t* cmdLine,
                  int crtArgc) {
    DdAppAudioProbe audio;
    DWORD version = GetVersion();
    memset(app, 0, sizeof *app);
    app->user = diAppStrDup(u"");
    app->instance = instance;
    app->opt.startImmediately = 1;
    diLogSetMessageLoader(ddAppLoadLogMessage);
    /* The profile store and the certificate cache speak before the log
     * file exists (a file set aside, a save that failed). */
    diLogHoldUntilSet();
    qvlSetAnsiConverter(ddAppAnsiConverter);

    ddAppStep("command line");
    ddAppCommandLinePass(app, cmdLine);
    /* Before the early paths, which end the process within the minute. */
    ddDeleteStaleTempPages();
    ddProfRemoveEndedRuns();
    ddAppStep("profile store");
    ddProfStoreCreate();
    if (app->opt.launchConfig) {
        ddAppStep("launch configuration");
        ddProfLaunchConfig(app->opt.launchConfig, app->opt.objectName);
        app->exitCode = 0;
        return 0;
    }
    if (app->opt.objectName) {
        ddAppStep("saved session");
        int r = ddProfLaunchObject(app->opt.objectName);
        if (r == 0 || r == 1) {
            app->exitCode = r == 0 ? 0 : 102;
            return 0;
        }
    }
    ddAppStep("settings");
    ddUILoadSettings();
    ddAppStep("command line again");
    ddAppCommandLinePass(app, cmdLine);
    if (LCID lcid = ddAppLanguageLocale(ddW(app->opt.preferredLanguage))) {
        ddAppStep("language");
        SetThreadLocale(lcid);
        /* The resource language follows the UI language on current Windows;
         * the thread locale alone only changes it on old systems. */
        SetThreadUILanguage(LANGIDFROMLCID(lcid));
    }
    ddRouteInstallDialogHooks();
    if (crtArgc > 1) {
        ddAppStep("password cache modes");
        if (ddAppPasswordCacheMode(app)) {
            ddAppFreeEarly(app);
            ddGDIPurgeObjectCaches();
            app->exitCode = 0;
            return 0;
        }
    }
    ddAppStep("winsock");
    if (ddNetInit() != 0) {
        ddMessageBoxWarnId(nullptr, 644);
        app->exitCode = 0;
        return 0;
    }
    ddTraceLogOpen();
    ddAppStep("trace file");

    ddAppStep("client description");
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    const char* processor = ddAppProcessorText(si.wProcessorArchitecture);
    unsigned major = version & 0xFF, minor = (version >> 8) & 0xFF;
    app->clientInfo.osCode = ddAppOsCode(version);
    app->clientInfo.osMajor = static_cast<uint16_t>(major);
    app->clientInfo.osMinor = static_cast<uint16_t>(minor);
    std::string osVersion = std::to_string(major) + "." + std::to_string(minor);
    app->clientInfo.platform = ddAppAsciiDup("Win32");
    app->clientInfo.osVersion = ddAppAsciiDup(osVersion.c_str());
    app->clientInfo.clientVersion = ddAppAsciiDup("4.31.953");
    app->clientInfo.value8192 = 8192;
    ddAppStep("probes");
    app->hasDefaultPrinter = ddPrintCheckDefault();
    ddPrintInstallQueueHook();
    ddAudioInstallHook();
    ddCDMInstallHook();
    audio.start(&app->hasAudio);
    app->canMapDrives = ddCDMPresent();
    app->hasSmartCards = ddSCardIsAvailable();
    g_ddDlgHooks.smartCardReadersPresent = ddSCardReadersPresent;
    app->probeOne = 1;
    app->instance = instance;
    app->major4 = major >= 4;
    app->modelessDialog = nullptr;

    ddAppStep("socket message");
    app->winsockMessage = RegisterWindowMessageW(L"QVLWinSockMessage");
    app->clientInfo.platform2 = ddAppAsciiDup("Win32");
    app->clientInfo.osVersion2 = ddAppAsciiDup(osVersion.c_str());
    app->clientInfo.processor = ddAppAsciiDup(processor);
    app->win9x4 = (version & 0x80000000u) && major >= 4;

    ddAppStep("display");
    HDC dc = CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr);
    if (dc) {
        app->depth = GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES);
        app->paletteSize = GetDeviceCaps(dc, SIZEPALETTE);
        app->reservedEntries = GetDeviceCaps(dc, NUMRESERVED);
        DeleteDC(dc);
    }
    ddAppStep("colour map");
    app->colorMap = ddColorMapCreate(app->depth, -1, -1);
    if (!app->colorMap) {
        app->exitCode = 0;
        return 0;
    }
    ddAppStep("monitors");
    ddMultiMonEnumerate();
    ddAppStep("cursors");
    ddGDILoadCursors();
    ddAppStep("clipboard");
    ddClipStart();
    ddAppStep("user interface");
    if (!ddUIInit(prevInstance, instance)) {
        /* The clipboard thread must not outlive start-up into the
         * process's exit, where it would run on while the run-time tears
         * down what it uses. */
        ddClipStop();
        app->exitCode = 0;
        return 0;
    }
    ddAppStep("root");
    if (diAppCreateRoot() != 0) {
        ddClipStop();
        app->exitCode = 0;
        return 0;
    }
    ddAppStep("work area");
    ddAppComputeWorkArea(app);
    return 1;
}

void ddAppShutdown(DdApp* app) {
    ddAppStep("shutdown: outpost");
    ddSODestroy();
    ddAppStep("shutdown: display objects");
    diAppShutdown();
    ddAppStep("shutdown: smart cards");
    ddSCardUnload();
    ddAppStep("shutdown: winsock");
    WSACleanup();
    ddAppStep("shutdown: user interface");
    ddUIShutdown();
    ddAppStep("shutdown: clipboard");
    ddClipStop();
    ddAppStep("shutdown: graphics");
    ddGDIShutdown();
    ddAppStep("shutdown: colour map");
    ddColorMapDestroy(app->colorMap);
    app->colorMap = nullptr;
    ddAppStep("shutdown: trace file");
    ddTraceLogClose();
    ddAppStep("shutdown: texts");
    free(app->password);
    free(app->clientInfo.clientVersion);
    free(app->url);
    free(app->user);
    free(app->opt.objectName);
    app->password = app->clientInfo.clientVersion = app->url = app->user = nullptr;
    app->opt.objectName = nullptr;
    ddAppStep("shutdown: profile store");
    ddProfStoreDestroy();
    /* An orderly end hands the instance mutex to the next process waiting
     * for it; only a process that dies leaves it abandoned, which ends the
     * waiter. */
    ddAppReleaseInstanceMutex();
}
