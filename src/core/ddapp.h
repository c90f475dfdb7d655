/* The one application structure and the process skeleton. */
#ifndef HV_DDAPP_H
#define HV_DDAPP_H

#include "dd.h"
#include "core/diapp.h"

#include <type_traits>

static_assert(std::is_same<decltype(DdApp::mainWindow), HWND>::value, "DdApp handle types");
static_assert(std::is_same<decltype(DdApp::instance), HINSTANCE>::value, "DdApp handle types");
static_assert(std::is_same<decltype(DdApp::sharedMapping), HANDLE>::value, "DdApp handle types");
static_assert(std::is_same<decltype(DdApp::winsockMessage), UINT>::value, "DdApp handle types");

extern DdApp* g_ddApp;

/* Registered window messages that the frame window uses. */
extern UINT g_ddMsgWebtopLaunch;   /* "QVLWebtopLaunch" */
extern UINT g_ddMsgWebtopLoggedIn; /* "QVLWebtopLoggedIn" */

/* The body of WinMain: returns the process exit code. */
int ddAppMain(HINSTANCE instance, HINSTANCE prevInstance, LPSTR cmdLine, int show);

/* Start-up: 1 when the event loop is to run, 0 when the process ends with
 * app->exitCode. ddAppInitWith takes the command line and the C runtime's
 * argument count explicitly (tests); ddAppInit uses the process's own. */
int ddAppInit(DdApp* app, HINSTANCE instance, HINSTANCE prevInstance);
int ddAppInitWith(DdApp* app, HINSTANCE instance, HINSTANCE prevInstance, const wchar_t* cmdLine,
                  int crtArgc);
int ddAppParseCommandLine(DdApp* app, int argc, wchar_t** argv);
int ddAppPasswordCacheMode(DdApp* app);
int ddAppPromptCachePassword(DdApp* app);
/* The login under the URL in the password cache: 1 when stored, else why
 * not (diCryptStoreCredentials). */
int ddAppCachePassword(const DiChar* url, const DiChar* user, const DiChar* password);
int ddAppWaitInstanceMutex(void);
void ddAppReleaseInstanceMutex(void);
HWND ddAppReadSharedRecords(DdApp* app);
void ddAppComputeWorkArea(DdApp* app);
void ddAppShutdown(DdApp* app);
/* OS code of the client description from the platform version word (low
 * byte major, next byte minor, top bit set for the 9x family). */
uint16_t ddAppOsCode(DWORD version);
/* Thread locale for a "-preferredlanguage" value; 0 leaves it unchanged. */
LCID ddAppLanguageLocale(const wchar_t* language);

/* Each start-up and shut-down step is announced here before it runs: it goes
 * to the trace file once that is open, and to the hook when one is set. */
extern void (*g_ddAppStepHook)(const char* step);
void ddAppStep(const char* step);

#endif
