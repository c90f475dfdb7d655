/* The one application structure and its portable half: launch options,
 * default routes, the root display object and the portable shut-down.
 * DdApp is laid out here so that the portable option and route code can fill
 * it; the Windows handles are spelled as the structure pointers that
 * <windows.h> itself uses, so both layers see exactly the same types. */
#ifndef HV_DIAPP_H
#define HV_DIAPP_H

#include "di.h"

struct HINSTANCE__;
struct HWND__;

/* Work-area record (ddAppComputeWorkArea). */
struct DdWorkArea {
    int32_t clientWidth;  /* default frame client width */
    int32_t clientHeight; /* client height less the caption */
    int32_t frameWidth;
    int32_t frameHeight;
};

/* A monitor record: the monitor and its work area, in virtual-screen
 * coordinates (ddMultiMonEnumerate). */
struct DdMonitor {
    int32_t x, y, width, height;
    int32_t workX, workY, workWidth, workHeight;
};

/* Launch options of the command line and the options files. */
struct DdLaunchOptions {
    DiChar* objectName; /* -application / -objectname */
    DiChar* objectArgs;
    DiChar* programPath;     /* first command-line argument, kept for the process */
    DiRoute* socksRoute;     /* default route of kind 3 */
    DiRoute* httpProxyRoute; /* default route of kind 2 */
    DiChar* routeText1;      /* the two owned texts freed with the routes */
    DiChar* routeText2;
    DiChar* baseRoute;
    uint32_t cache;       /* -cache */
    uint32_t setPassword; /* -setpassword */
    DiChar* script;
    DiChar* scriptLog;
    uint32_t windowMode; /* 1 show the webtop, 4 minimised, 2 or-ed by -application */
    uint32_t noProgress;
    int32_t imeConfig; /* -configurelocalime, 0 when not given */
    DiChar* server;
    DiChar* portFile;
    uint32_t port;
    DiChar* connectionCookie;
    uint32_t startImmediately; /* 1 unless -nostartimmediate */
    uint32_t secure;
    DiChar* resource;
    DiChar* logDir;
    DiChar* code;
    DiChar* loginUrl;
    DiChar* caFile;
    DiChar* preferredLanguage;
    uint32_t firewallTraversal;
    DiChar* profile;
    DiChar* launchConfig;
    uint32_t noJava;
    uint32_t keyboardGrab;
};

/* The application: one zero-initialised global, alive for the process. */
struct DdApp {
    DiObject* root; /* root frame */
    DiClientInfo clientInfo;
    DiChar* url;      /* -url */
    DiChar* user;     /* -username; empty text at start */
    DiChar* password; /* -password / -epassword */
    DiChannel* channels[4];
    uint32_t login;     /* -login */
    uint32_t anonymous; /* -anonymous */
    uint32_t hasDefaultPrinter;
    uint32_t noFork; /* -nofork */
    uint32_t canMapDrives;
    uint32_t hasAudio;
    uint32_t hasSmartCards;
    uint32_t probeOne;  /* set to 1 after the probes */
    uint32_t docLaunch; /* DocLaunch */
    uint32_t codePage;  /* 0: the system code page */
    int32_t displayWidth, displayHeight;
    int32_t customWidth, customHeight;
    uint32_t driveMapping;
    uint32_t xScaleQuality;
    uint32_t soundEffects;
    uint32_t xGraphicsOptions;
    DdWorkArea workArea;
    DdMonitor* monitors; /* owned table */
    int32_t monitorCount;
    DdLaunchOptions opt;
    struct HINSTANCE__* instance;
    unsigned int winsockMessage; /* "QVLWinSockMessage" */
    struct HWND__* mainWindow;
    struct HWND__* modelessDialog; /* the event loop passes messages to it */
    struct HWND__* traceWindow;
    DdColorMap* colorMap;
    int32_t depth; /* bits per pixel times planes */
    int32_t paletteSize;
    int32_t reservedEntries;
    uint32_t win9x4;     /* 9x family with major version 4 or more */
    uint32_t major4;     /* major version 4 or more */
    void* sharedMapping; /* "QVLMappingObject", kept once opened */
    int32_t usableWidth, usableHeight;
    int32_t exitCode;
    DdMonitor primaryMonitor; /* the primary monitor's record */
    DdMonitor virtualScreen;  /* work-area fields 0 */
    /* Work-area side allowance, set by the window layer: 5 pixels when the
     * layout flag is set, else the width value plus 1. */
    uint32_t layoutFlag;
    int32_t sideWidth;
    struct HWND__* consoleLog; /* the console-log dialog, none when closed */
    void* printDevMode;        /* print set-up (global memory), kept for the process */
    void* printDevNames;
    /* Connection settings of the session: which configured proxy route
     * (opt.httpProxyRoute, opt.socksRoute) is in use, the ';'-separated
     * wildcard hosts that bypass them, and the flag set when a hop chain
     * failed (the frame window then keeps the session open). */
    uint32_t httpProxyInUse;
    uint32_t socksInUse;
    DiChar* proxyExceptions; /* owned */
    uint32_t proxyFailed;
    /* The webtop URL the outpost last opened with "IC_JOIN" (owned), and
     * the flag set once the session is ending for good. */
    DiChar* webtopUrl;
    uint32_t closing;
    struct DdSCardEntries* scardEntries; /* owned; none without winscard */
};

/* The one application structure (ddapp.cpp). */
extern DdApp* g_ddApp;

/* Option setter: 1 when accepted, 0 when refused. A value option offered
 * without a value is refused so that the command-line pass can retry with the
 * next argument as its value. */
int diAppSetOption(DdApp* app, const DiChar* name, const DiChar* value);
/* Non-zero when the text is one of the option names that "-password" refuses
 * as its value. */
int diAppOptionKind(const DiChar* text);
/* Applies one line of an options file ("name=value", "name value",
 * "name:value" or "name"); "file" lines are ignored so files do not nest. */
void diAppApplyOptionsLine(DdApp* app, DiChar* line);
/* Reads an options file line by line into diAppApplyOptionsLine; 0 when the
 * file cannot be opened (Windows layer). */
int ddAppReadOptionsFile(DdApp* app, const DiChar* path);
/* "-epassword": two upper-case hexadecimal digits per character, then the
 * keystream. Returns a new text (free()), or none when memory is exhausted. */
DiChar* diAppDecodeEPassword(const DiChar* text);
void diAppUnscramble(DiChar* text, size_t length);
/* "DisplaySize": "%dx%d" gives both sides, "x%d" with N gives -N, -N,
 * anything else -1, -1. */
void diAppParseDisplaySize(const DiChar* text, int32_t* width, int32_t* height);
/* An integer of the local settings, or def when absent or not a number. */
int diAppSettingInt(const char16_t* name, int def);
void diAppLoadSettings(DdApp* app);
void diAppSaveSettings(DdApp* app);

/* Walks the launch records another process wrote into the shared mapping
 * (`size` bytes readable at `view`): the window word of the last record
 * whose URL equals `url` and whose user equals *user, or any user when *user
 * is empty, in which case the record's user becomes *user. 0 when none. */
uint32_t diAppFindSharedRecord(const uint8_t* view, size_t size, const DiChar* url, DiChar** user);

/* Root frame and default routes; 0 or -1. */
int diAppCreateRoot(void);
/* Creates whichever default route is missing: SOCKS 5 (kind 3), then HTTP
 * proxy (kind 2), each with no host, port 0 and no TLS. */
void diAppInitRoutes(DdLaunchOptions* routes);
/* Frees both default routes and the two texts kept with them. */
void diAppFreeRoutes(DdLaunchOptions* routes);
int diAppRunEventLoop(void);
/* Frees the portable side of the application at shut-down. */
void diAppShutdown(void);

/* Small text helpers of the application core (owned copies use malloc). */
size_t diAppStrLen(const DiChar* s);
DiChar* diAppStrDup(const DiChar* s);
/* Replaces *slot with a copy of text (none clears); the old text is freed. */
void diAppSetText(DiChar** slot, const DiChar* text);

#endif
