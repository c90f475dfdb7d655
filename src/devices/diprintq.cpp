/* The print-job queue (see diprintq.h). */
#include "devices/diprintq.h"

#include "core/dide.h"
#include "core/dilog.h"
#include "session/dicapability.h"
#include "session/disoaccess.h"

#include <string.h>

namespace {

const char16_t* const kStateNames[] = {
    u"initializing", u"ready",        u"printing",      u"paused",
    u"offline",      u"cannotprint",  u"admindisabled", u"adminpaused",
    u"lookuperror",  u"adminoffline", u"noprintertype", u"launching",
};

DiPrintChannel* printChannel(DiChannel* ch) {
    return ch && ch->hdr.type == DI_OBJ_PRINT ? reinterpret_cast<DiPrintChannel*>(ch) : nullptr;
}

/* The part of a job name that names the server side delivering it: up to
 * and including the slash before "/_service/". */
std::u16string urlBaseOf(const std::u16string& name) {
    size_t at = name.find(u"/_service/");
    if (at == std::u16string::npos) return name;
    size_t slash = at == 0 ? std::u16string::npos : name.rfind(u'/', at - 1);
    return slash == std::u16string::npos ? name.substr(0, at + 1) : name.substr(0, slash + 1);
}

/* The length of a text, counted no further than `max`. */
size_t boundedLength(const DiChar* s, size_t max) {
    size_t n = 0;
    while (n < max && s[n])
        n++;
    return n;
}

/* Answers a job that will not print with the print fault, and logs why. */
void refuse(const DiChar* messageId, const char16_t* why) {
    diLogErrorText((u"Print job refused: " + std::u16string(why)).c_str());
    diSOFaultPrint(messageId, why);
}

} // namespace

CPrintJobQueue::CPrintJobQueue() {
    channel = diDECreateChannel(nullptr, DI_OBJ_PRINT, 0, 0);
    RegisterChannel();
}

void CPrintJobQueue::RegisterChannel() {
    DiPrintChannel* pc = printChannel(channel);
    if (!pc) return;
    pc->printerType.clear();
    diSODescribePrinterType(channel);
}

CPrintJobQueue::~CPrintJobQueue() {
    if (channel) diDEDestroyChannel(channel);
    channel = nullptr;
}

void CPrintJobQueue::AddJob(const DiChar* name, const DiChar* messageId) {
    if (!name || !*name || !messageId || !*messageId) return;
    /* Lengths first: a name of any length would be kept, and compared with
     * every queued one. */
    if (boundedLength(name, DI_PRINT_MAX_JOB_TEXT + 1) > DI_PRINT_MAX_JOB_TEXT ||
        boundedLength(messageId, DI_PRINT_MAX_JOB_TEXT + 1) > DI_PRINT_MAX_JOB_TEXT ||
        !diPAIPJobNameFits(name)) {
        refuse(messageId, u"Print job name or message id too long");
        return;
    }
    if (FindJob(name)) return;
    if (GetJobCount() >= int(DI_PRINT_MAX_JOBS)) {
        refuse(messageId, u"Too many print jobs waiting");
        return;
    }
    diLogInfoArgs(378, {name});
    DiPrintChannel* pc = printChannel(channel);
    if (!pc) {
        refuse(messageId, u"Print job could not be started");
        return;
    }
    diPrintQueueJob(pc, name, messageId);
    /* A paused state now counts the job as pending. */
    if (pc->state == DI_PRINT_OFFLINE || pc->state == DI_PRINT_ADMIN_OFFLINE)
        diPrintSetState(pc, pc->state);
    if (GetState() != DI_PRINT_PRINTING) StartNextJob();
}

void CPrintJobQueue::StartNextJob() {
    DiPrintChannel* pc = printChannel(channel);
    if (!pc) return;
    while (CPrintJob* job = diPrintFirstJob(pc, DI_JOB_QUEUED)) {
        int started = StartJob(job);
        /* A job leaves the queue only once it has started or has been
         * answered: behind a busy channel it waits for that job's end. */
        if (started >= 0) return;
        refuse(job->messageId.c_str(), u"Print job could not be started");
        diPrintEndJob(pc, job);
    }
}

int CPrintJobQueue::StartJob(CPrintJob* job) {
    DiPrintChannel* pc = printChannel(channel);
    if (!pc) return -1;
    /* Busy while a job prints, while one waits for the connection the
     * server makes for it (the hello will request that one), and while the
     * pause holds a finished one, which prints first. The user's pause
     * holds every job until the resume. */
    if (pc->state == DI_PRINT_PRINTING || diPrintFirstJob(pc, DI_JOB_WAITING) ||
        diPrintFirstJob(pc, DI_JOB_HELD) || diPrintUserPaused(pc))
        return 0;
    if (pc->connected) {
        if (!pc->urlBase.empty() && job->name.compare(0, pc->urlBase.size(), pc->urlBase) == 0) {
            if (diPAIPSendJobRequest(pc, job, 1) != 0) return -1;
            diPrintSetState(pc, DI_PRINT_PRINTING);
            return 1;
        }
        /* Another service's job: nothing more goes on the connection
         * being stopped. */
        diPAIPSendStop(pc);
        pc->connected = false;
    }
    /* The server connects the channel for this job's service; the request
     * follows the hello of that connection (and waits for the next one when
     * it cannot be sent). */
    diSOReplyPrint(job->name.c_str(), job->messageId.c_str());
    pc->urlBase = urlBaseOf(job->name);
    diPAIPAwaitConnection(pc, job);
    return 1;
}

uint32_t CPrintJobQueue::ConnectionStarting() {
    DiPrintChannel* pc = printChannel(channel);
    return pc ? diPAIPConnectionStarting(pc) : 0;
}

void CPrintJobQueue::ConnectionStarted(uint32_t job) {
    if (DiPrintChannel* pc = printChannel(channel)) diPAIPConnectionMade(pc, job);
}

void CPrintJobQueue::ConnectionFailed(uint32_t job) {
    if (DiPrintChannel* pc = printChannel(channel))
        diPAIPDropWaitingJob(pc, job, u"its connection failed");
}

CPrintJob* CPrintJobQueue::FindJob(const DiChar* name) {
    DiPrintChannel* pc = printChannel(channel);
    if (!name || !pc) return nullptr;
    for (CPrintJob& j : pc->jobs)
        if (j.step == DI_JOB_QUEUED && j.name == name) return &j;
    return nullptr;
}

int CPrintJobQueue::GetJobCount() const {
    DiPrintChannel* pc = printChannel(channel);
    return pc ? diPrintQueuedJobs(pc) : 0;
}

uint32_t CPrintJobQueue::GetState() const {
    DiPrintChannel* pc = printChannel(channel);
    return pc ? pc->state : DI_PRINT_NO_TYPE;
}

const DiChar* CPrintJobQueue::GetStateName() const {
    uint32_t s = GetState();
    return s < DI_COUNTOF(kStateNames) ? kStateNames[s] : u"unknown";
}

void CPrintJobQueue::AddPrinterCapabilities(CQVLList<CCapability>* caps, bool printerPresent) {
    DiPrintChannel* pc = printChannel(channel);
    if (!caps || !printerPresent || !pc || pc->client.description.empty()) return;
    const DiPrintClient* client = &pc->client;
    lastPrinterName = client->defaultName;
    lastPrinterList = client->list;
    for (const DiPrintItem& item : diPrintCapabilityItems(*client)) {
        std::u16string name(item.name, item.name + strlen(item.name));
        if (item.isNumber) {
            CIntCapability* c = new (std::nothrow) CIntCapability(name.c_str(), !item.hidden);
            if (c) c->value = item.number;
            caps->Append(c, true);
        } else {
            caps->Append(new (std::nothrow)
                             CStringCapability(name.c_str(), item.text.c_str(), !item.hidden),
                         true);
        }
    }
}
