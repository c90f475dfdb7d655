/* The X display's shell services and plug-in libraries on Windows: the
 * device slots openUrl, launchSelf, pluginInitialize, pluginTerminate and
 * pluginCall. */
#ifndef HV_DDXPLUGIN_H
#define HV_DDXPLUGIN_H

#include "xde/dixde.h"

void ddXOpenUrl(DiXDisplay* d, const DiChar* url);
void ddXLaunchSelf(DiXDisplay* d, const DiChar* parameters);
int32_t ddXPluginInitialize(DiXDisplay* d, const DiChar* instance, const DiChar* library);
int32_t ddXPluginTerminate(DiXDisplay* d, const DiChar* instance);
int32_t ddXPluginCall(DiXDisplay* d, const DiChar* instance, int32_t argc,
                      const DiChar* const* argv);

/* Calls fn with count 32-bit arguments pushed right to left and restores
 * the stack pointer afterwards, whether fn removed its arguments
 * (__stdcall) or left them (__cdecl). */
extern "C" int32_t ddXPluginThunk(void* fn, const uintptr_t* args, uint32_t count);

#endif
