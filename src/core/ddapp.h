/* The one application structure and the process skeleton. */
#ifndef HV_DDAPP_H
#define HV_DDAPP_H

#include "dd.h"

/* Work-area record (ddAppComputeWorkArea). */
struct DdWorkArea {
    int32_t clientWidth;   /* default frame client width */
    int32_t clientHeight;  /* client height less the caption */
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
    DiChar* objectName;       /* -application / -objectname */
    DiChar* objectArgs;
    DiChar* programPath;      /* first command-line argument, kept for the process */
    DiRoute* socksRoute;      /* default route of kind 3 */
    DiRoute* httpProxyRoute;  /* default route of kind 2 */
    DiChar* routeText1;       /* the two owned texts freed with the routes */
    DiChar* routeText2;
    DiChar* baseRoute;
    uint32_t cache;           /* -cache */
    uint32_t setPassword;     /* -setpassword */
    DiChar* script;
    DiChar* scriptLog;
    uint32_t windowMode;      /* 1 show the webtop, 4 minimised, 2 or-ed by -application */
    uint32_t noProgress;
    DiChar* imeConfig;
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
    DiObject* root;                 /* root frame */
    DiClientInfo clientInfo;
    DiChar* url;                    /* -url */
    DiChar* user;                   /* -username; empty text at start */
    DiChar* password;               /* -password / -epassword */
    DiChannel* channels[4];
    uint32_t login;                 /* -login */
    uint32_t anonymous;             /* -anonymous */
    uint32_t hasDefaultPrinter;
    uint32_t noFork;                /* -nofork */
    uint32_t canMapDrives;
    uint32_t hasAudio;
    uint32_t hasSmartCards;
    uint32_t probeOne;              /* set to 1 after the probes */
    uint32_t docLaunch;             /* DocLaunch */
    uint32_t codePage;              /* 0: the system code page */
    int32_t displayWidth, displayHeight;
    int32_t customWidth, customHeight;
    uint32_t driveMapping;
    uint32_t xScaleQuality;
    uint32_t soundEffects;
    uint32_t xGraphicsOptions;
    DdWorkArea workArea;
    DdMonitor* monitors;            /* owned table */
    int32_t monitorCount;
    DdLaunchOptions opt;
    HINSTANCE instance;
    UINT winsockMessage;            /* "QVLWinSockMessage" */
    HWND mainWindow;
    HWND modelessDialog;            /* the event loop passes messages to it */
    HWND traceWindow;
    DdColorMap* colorMap;
    int32_t depth;                  /* bits per pixel times planes */
    int32_t paletteSize;
    int32_t reservedEntries;
    uint32_t win9x4;                /* 9x family with major version 4 or more */
    uint32_t major4;                /* major version 4 or more */
    HANDLE sharedMapping;           /* "QVLMappingObject", kept once opened */
    int32_t usableWidth, usableHeight;
    int32_t exitCode;
    DdMonitor primaryMonitor;       /* the primary monitor's record */
    DdMonitor virtualScreen;        /* work-area fields 0 */
    HWND consoleLog;                /* the console-log dialog, none when closed */
    HGLOBAL printDevMode;           /* print set-up, kept for the process */
    HGLOBAL printDevNames;
};

extern DdApp* g_ddApp;

/* Registered window messages that the frame window uses. */
extern UINT g_ddMsgWebtopLaunch;   /* "QVLWebtopLaunch" */
extern UINT g_ddMsgWebtopLoggedIn; /* "QVLWebtopLoggedIn" */

/* The body of WinMain: returns the process exit code. */
int ddAppMain(HINSTANCE instance, HINSTANCE prevInstance, LPSTR cmdLine, int show);

#endif
