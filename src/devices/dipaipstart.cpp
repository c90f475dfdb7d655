/* The print channel's start message, sent once the connection's route is
 * up, and its state at the end of the route's login exchange (kept apart
 * from the channel so that tests of the route may stand in for them). */
#include "devices/dipaip.h"

#include "core/dilog.h"

int diPAIPSendStart(DiChannel* ch, int) {
    if (!ch || ch->hdr.type != DI_OBJ_PRINT) return -1;
    DiPrintChannel* pc = reinterpret_cast<DiPrintChannel*>(ch);
    DiPrintJob* w = diPrintFirstJob(pc, DI_JOB_WAITING);
    if (pc->connNamed && (!w || pc->connJob != w->wait)) {
        /* Its job was given up meanwhile: a job answered since is requested
         * on the connection the server makes for that one. */
        diLogErrorText(u"print channel: a connection that came after its job was given up is "
                       u"closed");
        diDEChannelDisconnected(ch);
        return -1;
    }
    /* Jobs still counted as requested belong to an earlier connection. */
    diPAIPHandBackLost(pc);
    pc->connected = true;
    pc->startState = pc->state == DI_PRINT_PRINTING ? pc->resumeState : pc->state;
    diPrintSetState(pc, DI_PRINT_PRINTING);
    return diPAIPSendBare(pc, 14, 1);
}

/* A successful exchange is followed by the start message, which sets the
 * printing state. Without it no job can be printing on this route: a
 * printing state left behind would keep every later job queued, and the job
 * that waited for this connection will not come, so the next one starts. */
void diPAIPExchangeEnded(DiChannel* ch, int started) {
    if (!ch || ch->hdr.type != DI_OBJ_PRINT || started) return;
    DiPrintChannel* pc = reinterpret_cast<DiPrintChannel*>(ch);
    if (pc->state == DI_PRINT_PRINTING || pc->state == DI_PRINT_LAUNCHING)
        diPrintSetState(pc, pc->resumeState);
    diPAIPDropWaitingJob(pc, diPAIPConnectionJob(pc), u"its connection failed");
    /* With no job waiting for this connection, the jobs queued behind the
     * printing state go on all the same. */
    diPrintGoOnWhenIdle(pc);
}

void diPAIPQuestionOpen(DiChannel* ch, int open) {
    if (!ch || ch->hdr.type != DI_OBJ_PRINT) return;
    diPAIPQuestion(reinterpret_cast<DiPrintChannel*>(ch), open != 0);
}
