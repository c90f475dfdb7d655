/* The flat accessors through which engines, channels and dialogs reach the
 * one outpost. Each answers its neutral value (none, 0, false) while no
 * outpost exists. */
#include "session/disoaccess.h"

#include "core/diapp.h"
#include "devices/dipaip.h"
#include "devices/diprintq.h"
#include "session/diso.h"
#include "session/divaip.h"

#include <string.h>

DiChannel* diSOGetDriveChannel(void) {
    return g_diOutpost ? g_diOutpost->driveChannel : nullptr;
}

DiChannel* diSOGetDeviceListChannel(void) {
    return g_diOutpost ? g_diOutpost->deviceListChannel : nullptr;
}

/* The print queue owns the print channel. */
DiChannel* diSOGetPrintChannel(void) {
    return g_diOutpost && g_diOutpost->printJobs ? g_diOutpost->printJobs->channel : nullptr;
}

int diSOGetPrintJobCount(void) {
    return g_diOutpost && g_diOutpost->printJobs ? g_diOutpost->printJobs->GetJobCount() : 0;
}

void diSOStartNextPrintJob(void) {
    if (g_diOutpost && g_diOutpost->printJobs) g_diOutpost->printJobs->StartNextJob();
}

void diSOReplyPrint(const DiChar* jobName, const DiChar* messageId) {
    CServerOutpost* so = g_diOutpost;
    if (!so) return;
    CQVLSOAPResponse* r = CServerOutpost::MakeResponse(u"ns1:printResponse", u"qvl:print");
    if (!r) return;
    CQVLSOAPParameter p(u"jobname", jobName ? jobName : u"");
    r->AddReturnParameter(&p);
    so->Send(r, messageId);
    delete r;
}

void diSOFaultPrint(const DiChar* messageId, const DiChar* reason) {
    if (g_diOutpost) g_diOutpost->SendFault(u"Client.Print.Failed", reason, messageId);
}

void diSODescribePrinterType(DiChannel* print) {
    if (!print || print->hdr.type != DI_OBJ_PRINT) return;
    DiPrintChannel* pc = reinterpret_cast<DiPrintChannel*>(print);
    uint16_t os = g_ddApp ? g_ddApp->clientInfo.osCode : 0;
    const char* type = diSOPrinterType(pc->client.description.c_str(), os);
    pc->printerType = type ? std::u16string(type, type + strlen(type)) : std::u16string();
}

int diSOOpenUrl(const DiChar* url) {
    return g_diOutpost && g_diOutpost->OpenUrlInHelper(url) ? 1 : 0;
}
