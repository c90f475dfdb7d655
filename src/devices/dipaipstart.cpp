/* The print channel's start message, sent once the connection's route is
 * up, and its state at the end of the route's login exchange (kept apart
 * from the channel so that tests of the route may stand in for them). */
#include "devices/dipaip.h"

int diPAIPSendStart(DiChannel* ch, int) {
    if (!ch || ch->hdr.type != DI_OBJ_PRINT) return -1;
    DiPrintChannel* pc = reinterpret_cast<DiPrintChannel*>(ch);
    pc->connected = true;
    pc->helloSeen = false;
    diPrintSetState(pc, DI_PRINT_PRINTING);
    return diPAIPSendBare(pc, 14, 1);
}

void diPAIPExchangeEnded(DiChannel* ch) {
    if (ch && ch->hdr.type == DI_OBJ_PRINT)
        diPrintSetState(reinterpret_cast<DiPrintChannel*>(ch), DI_PRINT_PRINTING);
}
