/* Stand-ins for the services that the end of a login-dialog exchange calls
 * in the server outpost's launches and the device channels, until those
 * modules are built. Each traces its call. */
#include "dd.h"

#include "core/ddtrace.h"
#include "core/diutil.h"
#include "net/dilaip.h"

void diSOSetLaunchRoute(DiChannel*, const DiLAIPDialog*) {
    ddTraceLogWrite(u"login dialog: launch route bound\r\n");
}

void diSOContinueLaunchOnRoute(DiChannel*, const DiLAIPDialog*) {
    ddTraceLogWrite(u"login dialog: launch continued on its route\r\n");
}

void diSOLaunchFailed(DiChannel*, int message, const DiChar*) {
    DiChar line[64];
    diFormatPositional(line, DI_COUNTOF(line), u"login dialog: launch failed (message %d)\r\n",
                       {message});
    ddTraceLogWrite(line);
}

void diSOCancelLaunchDialogTimer(void) {
    ddTraceLogWrite(u"login dialog: launch-dialog timer cancelled\r\n");
}
