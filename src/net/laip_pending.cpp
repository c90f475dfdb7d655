/* Stand-ins for the device channels' start messages that the end of a
 * login-dialog exchange sends, until those channels are built. Each traces
 * its call. */
#include "dd.h"

#include "core/ddtrace.h"
#include "net/dilaip.h"

int diPAIPSendStart(DiChannel*, int) {
    ddTraceLogWrite(u"login dialog: print channel start message\r\n");
    return 0;
}
