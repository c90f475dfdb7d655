/* The print channel (see dipaip.h). */
#include "devices/dipaip.h"

#include "core/dilog.h"
#include "core/ditimer.h"
#include "core/diutil.h"
#include "devices/diiochan.h"
#include "session/disoaccess.h"
#include "ui/diui.h"

#include <stdlib.h>
#include <string.h>

#include <vector>

DiPrintSweepDelays diPrintSweepDelays = {180000, 1800000};
uint32_t diPrintHelloWaitMs = 60000;

namespace {

enum : uint8_t {
    MSG_HELLO = 1,
    MSG_JOB_START = 2,
    MSG_JOB_END = 3,
    MSG_JOB_DATA = 4,
    MSG_ACK = 5,
    MSG_PAUSE = 8,
    MSG_STATUS = 9,
    MSG_STOP = 9,
    MSG_ACK_REQUEST = 10,
    MSG_ADMIN = 12,
    MSG_JOB_REQUEST = 13,
    MSG_START = 14,
};

enum : uint8_t {
    FLAG_ACK = 1,
    FLAG_PDF = 4,
    FLAG_PDF_DIALOG = 8,
    FLAG_PDF_SHOW = 16,
};

struct PendingDelete {
    uint32_t due;
    std::u16string path; /* empty: the entry is free */
};
std::vector<PendingDelete> s_deletes;

void trace(DiPrintChannel* pc, const std::u16string& line) {
    if (pc->ops && pc->ops->trace) pc->ops->trace(line);
}

std::u16string fromUtf8(const uint8_t* p, size_t n) {
    DiChar* t = diTextFromUtf8Dup(reinterpret_cast<const char*>(p), n);
    std::u16string s = t ? std::u16string(t) : std::u16string();
    free(t);
    return s;
}

std::string toUtf8(const std::u16string& s) {
    char* t = diTextToUtf8Dup(s.c_str(), s.size());
    std::string r = t ? std::string(t) : std::string();
    free(t);
    return r;
}

/* A text that ends at a zero byte or at `end`, whichever comes first; the
 * cursor moves past the zero. */
std::u16string takeText(const uint8_t*& p, const uint8_t* end) {
    const uint8_t* z = static_cast<const uint8_t*>(memchr(p, 0, size_t(end - p)));
    const uint8_t* stop = z ? z : end;
    std::u16string s = fromUtf8(p, size_t(stop - p));
    p = z ? z + 1 : end;
    return s;
}

int sendMessage(DiPrintChannel* pc, uint8_t type, uint8_t flags, uint16_t jobId, uint32_t value,
                const uint8_t* payload, size_t n) {
    if (n > DI_PAIP_OUT_LIMIT - DI_PAIP_HEADER) return -1;
    std::vector<uint8_t> m(DI_PAIP_HEADER + n);
    m[0] = type;
    diIOPut16(&m[1], uint32_t(m.size() - 3));
    m[3] = flags;
    diIOPut16(&m[4], jobId);
    diIOPut32(&m[6], value);
    if (n) memcpy(&m[DI_PAIP_HEADER], payload, n);
    if (!pc->ch.socket) return -1;
    return diIOWriteMessage(&pc->ch.out, pc->ch.socket, m.data(), uint32_t(m.size())) < 0 ? -1 : 0;
}

/* Acknowledgement: header only, or with status byte 1 after a failure. */
int sendAck(DiPrintChannel* pc, bool failed) {
    uint8_t status = 1;
    return sendMessage(pc, MSG_ACK, 0, pc->jobId, 0, failed ? &status : nullptr, failed ? 1 : 0);
}

int sendBare(DiPrintChannel* pc, uint8_t type, uint16_t jobId) {
    return sendMessage(pc, type, 0, jobId, 0, nullptr, 0);
}

bool isStep(const DiPrintJob& j, DiPrintJobStep a, DiPrintJobStep b) {
    return j.step == a || j.step == b;
}

/* A job on the connection now open: requested, or being spooled. */
bool inFlight(DiPrintChannel* pc) {
    for (const DiPrintJob& j : pc->jobs)
        if (isStep(j, DI_JOB_REQUESTED, DI_JOB_STARTED)) return true;
    return false;
}

/* Jobs that count as pending for the paused states: queued, requested and
 * not yet started, and held for the resume. */
int pendingJobs(DiPrintChannel* pc) {
    int n = diSOGetPrintJobCount();
    for (const DiPrintJob& j : pc->jobs)
        n += isStep(j, DI_JOB_REQUESTED, DI_JOB_HELD);
    return n;
}

/* A paused state says whether jobs are pending: it follows them as they
 * come and go. */
void followQueue(DiPrintChannel* pc) {
    uint32_t s = pc->state;
    if (s == DI_PRINT_PAUSED || s == DI_PRINT_OFFLINE || s == DI_PRINT_ADMIN_PAUSED ||
        s == DI_PRINT_ADMIN_OFFLINE)
        diPrintSetState(pc, s);
}

/* What names a job in the event log. */
const std::u16string& label(const DiPrintJob& j) {
    return j.title.empty() ? j.name : j.title;
}

void logNotPrinted(const DiPrintJob& j, const std::u16string& why) {
    diLogErrorText((u"Print job not printed, " + why + u": " + label(j)).c_str());
}

/* Closes a job's spool, deleting the file with `remove`. */
void closeSpool(DiPrintChannel* pc, DiPrintJob* j, bool remove) {
    if (j->spool) pc->ops->close(j->spool);
    j->spool = nullptr;
    if (remove && !j->spoolPath.empty()) pc->ops->remove(j->spoolPath);
    j->spoolPath.clear();
}

/* Forgets the current job's title, inflate piece and stream. */
void dropJob(DiPrintChannel* pc) {
    pc->title.clear();
    free(pc->piece);
    pc->piece = nullptr;
    diDEInflateEnd(&pc->ch);
}

/* The job being spooled will not print: its spool goes, the trace and the
 * event log say why, and its record ends (the server's end of it is
 * acknowledged as failed). */
void failJob(DiPrintChannel* pc, const char16_t* why) {
    DiChar msg[128];
    std::u16string line = diLogLoadMessage(256, msg, DI_COUNTOF(msg)) ? msg : u"Print job failed";
    trace(pc, line + u": " + why);
    if (DiPrintJob* cur = diPrintFirstJob(pc, DI_JOB_STARTED)) {
        logNotPrinted(*cur, why);
        diPrintEndJob(pc, cur);
    }
    dropJob(pc);
}

/* A job that left the connection unprinted: one that needs only its first
 * answer is queued again where it was, ahead of the jobs queued after it;
 * one answered already, or started without a request, is logged. */
void handBack(DiPrintChannel* pc, DiPrintJob* j, const char16_t* why) {
    closeSpool(pc, j, true);
    if (!j->answered && !j->name.empty()) {
        j->step = DI_JOB_QUEUED;
        j->title.clear();
        j->offered = false;
        followQueue(pc);
        return;
    }
    /* Another request of it would need a second answer to the server's
     * print request, which the server does not take. */
    logNotPrinted(*j, why);
    diPrintEndJob(pc, j);
}

uint32_t minuteOver(void* arg);
uint32_t silenceOver(void* arg);

/* The waiting job's minute from now. */
void armMinute(DiPrintChannel* pc) {
    if (pc->waitTimer) diTimerRemove(pc->waitTimer);
    pc->waitTimer = diTimerAdd(diPrintHelloWaitMs, minuteOver, pc);
}

void disarmMinute(DiPrintChannel* pc) {
    if (pc->waitTimer) diTimerRemove(pc->waitTimer);
    pc->waitTimer = nullptr;
}

/* The jobs on the connection have what is left of the server's silent
 * minute. The user's pause holds them (the server was asked to stop
 * sending) without restarting the minute: after a resume past it, the
 * connection is given up at once. */
void armSilence(DiPrintChannel* pc) {
    if (pc->silenceTimer) diTimerRemove(pc->silenceTimer);
    pc->silenceTimer = nullptr;
    if (!inFlight(pc) || diPrintUserPaused(pc)) return;
    uint32_t quiet = diDEClock() - pc->quietSince;
    uint32_t left = quiet < diPrintHelloWaitMs ? diPrintHelloWaitMs - quiet : 0;
    pc->silenceTimer = diTimerAdd(left, silenceOver, pc);
}

/* The server spoke: its silence counts from now. */
void serverMoved(DiPrintChannel* pc) {
    pc->quietSince = diDEClock();
    armSilence(pc);
}

/* The connection is given up as closed. */
void giveUpSilent(DiPrintChannel* pc) {
    trace(pc, u"print channel: no message for a minute with a job requested: connection closed");
    diPAIPConnectionLost(pc);
}

/* No hello for the waiting job within its minute. */
uint32_t minuteOver(void* arg) {
    DiPrintChannel* pc = static_cast<DiPrintChannel*>(arg);
    pc->waitTimer = nullptr; /* the record goes with the 0 returned */
    if (DiPrintJob* w = diPrintFirstJob(pc, DI_JOB_WAITING))
        diPAIPDropWaitingJob(pc, w->wait, u"no connection came for it");
    return 0;
}

/* No message within the minute on the connection a job was requested on:
 * it is treated as closed. A login dialog of the next connection holds it
 * (closing would end that one). */
uint32_t silenceOver(void* arg) {
    DiPrintChannel* pc = static_cast<DiPrintChannel*>(arg);
    pc->silenceTimer = nullptr;
    if (!inFlight(pc) || diPrintUserPaused(pc)) return 0;
    if (pc->questions > 0) {
        serverMoved(pc);
        return 0;
    }
    giveUpSilent(pc);
    return 0;
}

void onServerHello(DiPrintChannel* pc, const uint8_t* msg, uint32_t len, uint16_t jobId) {
    DiIOCursor c(msg + DI_PAIP_HEADER, len - DI_PAIP_HEADER);
    uint8_t level = c.u8();
    if (level >= 7) c.u8(); /* read, not used */
    if (!c.ok) {
        diLogErrorText(u"print channel: server hello shorter than its fields ignored");
        return;
    }
    diPAIPSendHello(pc, jobId);
    /* Only on the connection made for it (the server makes another for a
     * job answered after this one was made); a request that cannot be sent
     * leaves the job waiting for the next hello. */
    DiPrintJob* w = diPrintFirstJob(pc, DI_JOB_WAITING);
    if (w && diPAIPConnectionJob(pc) == w->wait && diPAIPSendJobRequest(pc, w, jobId) == 0)
        /* The user's pause keeps its state: a document ending meanwhile is
         * held, not printed. */
        diPrintSetState(pc, diPrintUserPaused(pc) ? DI_PRINT_PAUSED : DI_PRINT_PRINTING);
}

/* The job a start with this title is for. The server starts the jobs
 * requested in the order requested, except one whose start the user's pause
 * answered: that one may come again at any time, or never, and only its
 * title tells it apart. A start repeating the title of the job being
 * spooled starts that one over. None: a document no request of ours asked
 * for. */
DiPrintJob* jobStarted(DiPrintChannel* pc, const std::u16string& title) {
    for (DiPrintJob& j : pc->jobs)
        if (j.step == DI_JOB_REQUESTED && j.offered && j.title == title) return &j;
    DiPrintJob* cur = diPrintFirstJob(pc, DI_JOB_STARTED);
    if (cur && cur->title == title) return cur;
    DiPrintJob* first = nullptr;
    for (DiPrintJob& j : pc->jobs)
        if (j.step == DI_JOB_REQUESTED && !j.offered &&
            (!first || int32_t(j.request - first->request) < 0))
            first = &j;
    return first;
}

void onJobStart(DiPrintChannel* pc, const uint8_t* msg, uint32_t len, uint16_t jobId, uint8_t flags,
                uint32_t value) {
    const uint8_t* p = msg + DI_PAIP_HEADER;
    const uint8_t* end = msg + len;
    bool whole = end - p >= 2;
    const uint8_t* at = p + 2;
    std::u16string title = whole ? takeText(at, end) : std::u16string();
    /* The user's pause holds every start, as does a held document waiting
     * for the resume (a start would take the printer, copies and kind it
     * prints with). The job stays requested, known by its title from now:
     * the server offers it again, or the connection's end hands it back. */
    if (diPrintUserPaused(pc) || pc->state == DI_PRINT_PAUSED || diPrintFirstJob(pc, DI_JOB_HELD)) {
        DiPrintJob* job = whole ? jobStarted(pc, title) : nullptr;
        if (job && job->step == DI_JOB_REQUESTED) {
            job->offered = true;
            job->title = title;
        }
        diPrintPause(&pc->ch);
        /* The start is answered with the pause even with no job pending
         * here: a document the server went on sending would be taken for
         * the one being received. */
        if (pendingJobs(pc) == 0) sendBare(pc, MSG_PAUSE, pc->jobId);
        return;
    }
    if (!whole) {
        diLogErrorText(u"print channel: job start shorter than its fields ignored");
        return;
    }
    /* A start while a job is being spooled moves on from it: the cut-off
     * job is handed back or logged. */
    DiPrintJob* job = jobStarted(pc, title);
    DiPrintJob* cur = diPrintFirstJob(pc, DI_JOB_STARTED);
    if (cur && job != cur) handBack(pc, cur, u"the server started the next job before its end");
    if (!job) {
        pc->jobs.push_back(DiPrintJob());
        job = &pc->jobs.back();
        job->answered = true; /* nothing of ours to answer */
    }
    closeSpool(pc, job, true);
    job->step = DI_JOB_STARTED;
    job->offered = false;
    dropJob(pc);
    pc->printer.clear();
    pc->errorText.clear();
    pc->lastError = 0;
    if (flags & FLAG_ACK) {
        pc->jobId = jobId;
        sendAck(pc, false);
    }
    pc->kind = (flags & FLAG_PDF_SHOW) ? 2 : (flags & FLAG_PDF) ? 1 : 0;
    pc->pdfDialog = (flags & FLAG_PDF_DIALOG) ? 1 : 0;
    pc->jobId = jobId;
    pc->value = value;
    pc->compressed = p[0];
    pc->copies = p[1];
    p = at; /* past the title */
    pc->title = job->title = title;
    pc->attribute = 0;
    if (end - p >= 4) {
        const uint8_t* tail = end - 4;
        pc->attribute = uint32_t(tail[0]) | uint32_t(tail[1]) << 8 | uint32_t(tail[2]) << 16 |
                        uint32_t(tail[3]) << 24;
        if (tail - p > 0) {
            uint8_t printerFlag = *p++;
            if (printerFlag) pc->printer = takeText(p, tail);
        }
    }
    bool memory = true;
    if (pc->compressed) {
        pc->piece = static_cast<uint8_t*>(malloc(DI_PAIP_PIECE));
        memory = pc->piece != nullptr;
    }
    std::u16string path;
    void* f = memory ? pc->ops->open(&path) : nullptr;
    if (!f) {
        trace(pc, u"Can't create spool file: print job failed");
        logNotPrinted(*job, u"its spool file could not be created");
        diPrintEndJob(pc, job);
        dropJob(pc);
        sendBare(pc, MSG_PAUSE, pc->jobId);
        sendBare(pc, MSG_STOP, pc->jobId);
        /* Nothing more goes on the connection stopped: the server closes it,
         * and the jobs behind are answered for the next one. */
        pc->connected = false;
        diPrintSetState(pc, DI_PRINT_OFFLINE);
        if (diSOGetPrintJobCount() > 0) diSOStartNextPrintJob();
        return;
    }
    job->spool = f;
    job->spoolPath = path;
    diPrintSetState(pc, DI_PRINT_PRINTING);
}

/* Inflates the data in pieces, each written to the spool; a stream may end
 * within the data and another begin after it. False on a corrupt stream. */
bool inflateToSpool(DiPrintChannel* pc, void* spool, const uint8_t* p, uint32_t n,
                    const char16_t** why) {
    bool more = false; /* the last piece filled up: output may be pending */
    while (n > 0 || more) {
        if (!pc->ch.inflate && diDEInflateBegin(&pc->ch, DI_DE_OPEN_SIZE, DI_DE_OPEN_SIZE) < 0) {
            *why = u"no memory to inflate";
            return false;
        }
        uint32_t room = DI_PAIP_PIECE, used = n;
        int r = diDEInflateBlockMore(&pc->ch, pc->piece, p, &room, &used, 0);
        if (r < 0) {
            *why = u"the compressed data is corrupt";
            return false;
        }
        if (room && !pc->ops->write(spool, pc->piece, room)) {
            *why = u"the spool file could not be written";
            return false;
        }
        p += used;
        n -= used;
        more = r == 2;
        if (r == 0 && used == 0 && room == 0) break; /* needs more input */
    }
    return true;
}

void onJobData(DiPrintChannel* pc, const uint8_t* msg, uint32_t len, uint8_t flags) {
    const uint8_t* p = msg + DI_PAIP_HEADER;
    uint32_t n = len - DI_PAIP_HEADER;
    /* Data belongs to the job whose spool is open, whatever the state says
     * meanwhile (the user's pause, a status query): a document missing a
     * piece must not print. Any other data is dropped. */
    DiPrintJob* cur = diPrintFirstJob(pc, DI_JOB_STARTED);
    if (cur && cur->spool) {
        const char16_t* why = nullptr;
        bool ok;
        if (pc->compressed)
            ok = inflateToSpool(pc, cur->spool, p, n, &why);
        else if (!(ok = pc->ops->write(cur->spool, p, n)))
            why = u"the spool file could not be written";
        if (!ok) failJob(pc, why);
    }
    if (flags & FLAG_ACK) sendAck(pc, false);
}

/* Prints the job's closed spool as many times as the job asks, unless it
 * failed already, and finishes it: deleted now, or later when a PDF reader
 * still has to read it. True when the job failed; a failed print's text
 * goes to `why`. */
bool finishSpool(DiPrintChannel* pc, DiPrintJob* job, bool failed, std::u16string* why) {
    std::u16string path;
    path.swap(job->spoolPath);
    closeSpool(pc, job, false);
    for (uint32_t i = 0; !failed && i < pc->copies; i++) {
        uint32_t error = 0;
        std::u16string text;
        if (pc->ops->print(pc, path, &error, &text) == 0) continue;
        failed = true;
        pc->lastError = error;
        pc->errorText = text;
        *why = text;
        DiChar msgText[128];
        std::u16string line =
            diLogLoadMessage(256, msgText, DI_COUNTOF(msgText)) ? msgText : u"Print job failed";
        trace(pc, line + u" " + text);
    }
    if (!path.empty()) {
        if (pc->kind == 0 || pc->copies == 0 || failed)
            pc->ops->remove(path);
        else
            diPrintScheduleDelete(pc, path);
    }
    pc->printer.clear();
    pc->errorText.clear();
    return failed;
}

void onJobEnd(DiPrintChannel* pc, uint8_t flags) {
    DiPrintJob* cur = diPrintFirstJob(pc, DI_JOB_STARTED);
    /* The user's pause (state 4 when no other job is queued) does not drop
     * a document the server finished sending: it is held for the resume. */
    bool paused =
        cur && cur->spool && (pc->state == DI_PRINT_PAUSED || pc->state == DI_PRINT_OFFLINE);
    if (pc->state != DI_PRINT_PRINTING && !paused) return;
    /* A stream left unfinished means the document was cut off. */
    if (cur && pc->compressed && pc->ch.inflate) {
        failJob(pc, u"the compressed data ends early");
        cur = nullptr;
    }
    bool failed = !cur || !cur->spool;
    if (paused && !failed) {
        cur->step = DI_JOB_HELD; /* its spool stays open until the resume */
    } else if (cur) {
        std::u16string why;
        failed = finishSpool(pc, cur, failed, &why);
        if (failed) logNotPrinted(*cur, why);
        diPrintEndJob(pc, cur);
    }
    dropJob(pc);
    if (paused) {
        diPrintSetState(pc, DI_PRINT_PAUSED);
    } else {
        /* The channel is free before the next job starts: a start in state
         * 2 would leave that job waiting for an end that never comes. */
        diPrintSetState(pc, DI_PRINT_READY);
        if (diSOGetPrintJobCount() > 0) diSOStartNextPrintJob();
    }
    if (flags & FLAG_ACK) sendAck(pc, failed);
}

void onAdmin(DiPrintChannel* pc, const uint8_t* msg, uint32_t len) {
    if (len < DI_PAIP_HEADER + 1) {
        diLogErrorText(u"print channel: administrator state without its byte ignored");
        return;
    }
    uint8_t what = msg[DI_PAIP_HEADER];
    diPrintSetState(pc, what == 1   ? DI_PRINT_ADMIN_DISABLED
                        : what == 2 ? DI_PRINT_ADMIN_PAUSED
                                    : pc->resumeState);
    /* The server dropped the current job: it ends here, once. */
    if (DiPrintJob* cur = diPrintFirstJob(pc, DI_JOB_STARTED)) {
        logNotPrinted(*cur, u"the administrator stopped printing");
        diPrintEndJob(pc, cur);
    }
    dropJob(pc);
    diPrintGoOnWhenIdle(pc);
}

uint32_t sweepTick(void*) {
    diPrintSweep(nullptr, false);
    return diPrintSweepDelays.periodMs;
}

const DiPrintSpoolOps* s_sweepOps;

/* The next job may start: none prints (the queue itself holds every job
 * while the user's pause does). */
bool queueMayGoOn(const DiPrintChannel* pc) {
    return pc->state != DI_PRINT_PRINTING;
}

} // namespace

DiPrintChannel* diPrintChannelNew(const DiPrintSpoolOps* ops, bool hasDefaultPrinter) {
    DiPrintChannel* pc = new (std::nothrow) DiPrintChannel();
    if (!pc) return nullptr;
    diDEChannelInit(&pc->ch, DI_OBJ_PRINT, 0, 0);
    pc->ch.in.limit = 0;
    pc->ch.out.limit = DI_PAIP_OUT_LIMIT;
    pc->ch.hdr.handler = diPrintChannelEvent;
    pc->state = hasDefaultPrinter ? DI_PRINT_INITIALIZING : DI_PRINT_CANNOT;
    pc->resumeState = hasDefaultPrinter ? DI_PRINT_READY : DI_PRINT_CANNOT;
    pc->helloFlags[0] = pc->helloFlags[1] = pc->helloFlags[2] = 1;
    pc->ops = ops;
    s_sweepOps = ops;
    return pc;
}

void diPrintChannelTeardown(DiPrintChannel* pc) {
    /* A held document is not printed either: the user's pause kept it, and
     * the session's end is no resume. Its end was acknowledged to the
     * server as printed, so only the event log can tell the user. */
    for (DiPrintJob& j : pc->jobs) {
        logNotPrinted(j, j.step == DI_JOB_HELD ? u"printing was paused at the session's end"
                                               : u"the session ended");
        closeSpool(pc, &j, true);
    }
    pc->jobs.clear();
    dropJob(pc);
    pc->state = DI_PRINT_INITIALIZING;
    pc->resumeState = DI_PRINT_READY;
    if (pc->sweepTimer) diTimerRemove(pc->sweepTimer);
    pc->sweepTimer = nullptr;
    disarmMinute(pc);
    if (pc->silenceTimer) diTimerRemove(pc->silenceTimer);
    pc->silenceTimer = nullptr;
    pc->connNamed = false;
    pc->questions = 0;
    /* A resumption still armed would read a freed channel. */
    if (pc->ch.resumeTimer) diTimerRemove(pc->ch.resumeTimer);
    pc->ch.resumeTimer = nullptr;
    pc->title.clear();
    pc->printer.clear();
    pc->printerType.clear();
    pc->urlBase.clear();
    pc->client = DiPrintClient();
    pc->errorText.clear();
    diDEChannelFree(&pc->ch);
}

void diPrintChannelDelete(DiPrintChannel* pc) {
    delete pc;
}

DiPrintJob* diPrintQueueJob(DiPrintChannel* pc, const std::u16string& name,
                            const std::u16string& messageId) {
    pc->jobs.push_back(DiPrintJob());
    DiPrintJob* j = &pc->jobs.back();
    j->name = name;
    j->messageId = messageId;
    return j;
}

DiPrintJob* diPrintFirstJob(DiPrintChannel* pc, DiPrintJobStep step) {
    for (DiPrintJob& j : pc->jobs)
        if (j.step == step) return &j;
    return nullptr;
}

int diPrintQueuedJobs(const DiPrintChannel* pc) {
    int n = 0;
    for (const DiPrintJob& j : pc->jobs)
        n += j.step == DI_JOB_QUEUED;
    return n;
}

void diPrintEndJob(DiPrintChannel* pc, DiPrintJob* job) {
    closeSpool(pc, job, true);
    for (auto i = pc->jobs.begin(); i != pc->jobs.end(); ++i)
        if (&*i == job) {
            pc->jobs.erase(i);
            break;
        }
    followQueue(pc);
}

bool diPrintUserPaused(const DiPrintChannel* pc) {
    return pc->resumeState == DI_PRINT_PAUSED;
}

void diPrintGoOnWhenIdle(DiPrintChannel* pc) {
    if (pc->state == DI_PRINT_PRINTING || pc->state == DI_PRINT_ADMIN_DISABLED ||
        pc->state == DI_PRINT_ADMIN_PAUSED || pc->state == DI_PRINT_ADMIN_OFFLINE ||
        diPrintUserPaused(pc))
        return;
    for (const DiPrintJob& j : pc->jobs)
        if (j.step != DI_JOB_QUEUED) return;
    if (diSOGetPrintJobCount() > 0) diSOStartNextPrintJob();
}

void diPrintSetState(DiPrintChannel* pc, uint32_t state) {
    int jobs = pendingJobs(pc);
    if (state == DI_PRINT_OFFLINE && jobs > 0) state = DI_PRINT_PAUSED;
    if (state == DI_PRINT_ADMIN_OFFLINE && jobs > 0) state = DI_PRINT_ADMIN_PAUSED;
    if (state == DI_PRINT_PAUSED && jobs == 0) state = DI_PRINT_OFFLINE;
    if (state == DI_PRINT_ADMIN_PAUSED && jobs == 0) state = DI_PRINT_ADMIN_OFFLINE;
    pc->state = state;
}

void diPAIPConnectionLost(DiPrintChannel* pc) {
    /* One made for a waiting job that ended before requesting it carried
     * none, and that job will not come. */
    uint32_t job = diPAIPConnectionJob(pc);
    DiPrintJob* w = diPrintFirstJob(pc, DI_JOB_WAITING);
    bool unused = pc->connected && job && w && job == w->wait;
    diPAIPHandBackLost(pc);
    dropJob(pc);
    int jobs = diSOGetPrintJobCount();
    if (!unused && (pc->state == DI_PRINT_PRINTING || pc->state == DI_PRINT_LAUNCHING))
        diPrintSetState(pc, jobs ? DI_PRINT_PAUSED : DI_PRINT_OFFLINE);
    else if (pc->state != DI_PRINT_INITIALIZING)
        diPrintSetState(pc, pc->resumeState);
    sendBare(pc, MSG_STOP, pc->jobId);
    pc->connected = false;
    diDEChannelDisconnected(&pc->ch);
    /* The jobs behind a lost one do not wait for the next print request:
     * the paused state says only what was lost. */
    if (unused)
        diPAIPDropWaitingJob(pc, job, u"its connection failed");
    else if (jobs > 0 && queueMayGoOn(pc))
        diSOStartNextPrintJob();
}

int diPrintChannelEvent(DiObject* obj, DiEvent* ev) {
    DiPrintChannel* pc = reinterpret_cast<DiPrintChannel*>(obj);
    switch (ev->w[0]) {
    case DI_EV_READABLE:
    case DI_EV_CLOSED:
        /* The connection is gone with whatever job it carried. */
        if (diPAIPReadMessages(pc) < 0) diPAIPConnectionLost(pc);
        break;
    case DI_EV_WRITABLE:
        if (pc->ch.socket) diIOFlush(&pc->ch.out, pc->ch.socket);
        break;
    default:
        break;
    }
    return 0;
}

void diPAIPHandleMessage(DiPrintChannel* pc, const uint8_t* msg, uint32_t len) {
    if (len < DI_PAIP_HEADER) {
        diLogErrorText(u"print channel: message shorter than its header ignored");
        return;
    }
    uint8_t flags = msg[3];
    uint16_t jobId = uint16_t(msg[4] | msg[5] << 8);
    uint32_t value =
        uint32_t(msg[6]) | uint32_t(msg[7]) << 8 | uint32_t(msg[8]) << 16 | uint32_t(msg[9]) << 24;
    switch (msg[0]) {
    case MSG_HELLO:
        onServerHello(pc, msg, len, jobId);
        break;
    case MSG_JOB_START:
        onJobStart(pc, msg, len, jobId, flags, value);
        break;
    case MSG_JOB_END:
        onJobEnd(pc, flags);
        break;
    case MSG_JOB_DATA:
        onJobData(pc, msg, len, flags);
        break;
    case MSG_STATUS:
        pc->state = DI_PRINT_INITIALIZING;
        if (flags & FLAG_ACK) sendAck(pc, false);
        diPrintGoOnWhenIdle(pc);
        break;
    case MSG_ACK_REQUEST:
        sendAck(pc, false);
        break;
    case MSG_ADMIN:
        onAdmin(pc, msg, len);
        break;
    default:
        break;
    }
    serverMoved(pc);
}

int diPAIPReadMessages(DiPrintChannel* pc) {
    DiChannel* ch = &pc->ch;
    if (!ch->socket) return -1;
    diDEChannelSliceStart(ch);
    diUIObjectRef(&ch->hdr);
    int result = 0;
    for (;;) {
        const uint8_t* msg = nullptr;
        int n = diIOReadMessage(&ch->in, ch->socket, &msg);
        if (n <= 0) {
            result = n < 0 ? -1 : 0;
            break;
        }
        diPAIPHandleMessage(pc, msg, uint32_t(n));
        diIOReadDone(&ch->in);
        /* A status query ends this event's reading; the messages already
         * received are read when the channel resumes, not left waiting for
         * more bytes from the server. */
        if (pc->state == DI_PRINT_INITIALIZING) {
            diDEChannelYield(ch);
            break;
        }
        if (diDEChannelSliceOver(ch)) break;
    }
    diUIObjectRelease(&ch->hdr);
    return result;
}

std::u16string diPAIPFitList(const std::u16string& head, const std::u16string& list, size_t limit,
                             int* dropped) {
    std::vector<std::u16string> entries;
    size_t at = 0;
    while (at < list.size()) {
        size_t next = list.find(u"pn=", at + 1);
        while (next != std::u16string::npos && list[next - 1] != u'\n')
            next = list.find(u"pn=", next + 1);
        if (next == std::u16string::npos) next = list.size();
        entries.push_back(list.substr(at, next - at));
        at = next;
    }
    *dropped = 0;
    size_t first = 0;
    auto size = [&](size_t from) {
        size_t n = toUtf8(head).size();
        for (size_t i = from; i < entries.size(); i++)
            n += toUtf8(entries[i]).size();
        return n;
    };
    while (first + 1 < entries.size() && size(first) > limit) {
        first++;
        (*dropped)++;
    }
    std::u16string out;
    for (size_t i = first; i < entries.size(); i++)
        out += entries[i];
    return out;
}

int diPAIPSendHello(DiPrintChannel* pc, uint16_t jobId) {
    std::u16string head = u"os=" + pc->client.osWord + u"\npt=" + pc->printerType + u"\n";
    const size_t fixed = DI_PAIP_HEADER + 1 + 3 + 4 + 2;
    size_t room = DI_PAIP_OUT_LIMIT - fixed;
    int dropped = 0;
    std::u16string list = diPAIPFitList(head, pc->client.list, room, &dropped);
    if (dropped) {
        DiChar line[128];
        diFormatPositional(line, DI_COUNTOF(line),
                           u"print channel: %d printers left out of the hello to fit it",
                           {dropped});
        diLogErrorText(line);
        trace(pc, line);
    }
    std::string text = toUtf8(head + list);
    if (text.size() > room) text = toUtf8(head); /* the default entry alone is too long */
    std::vector<uint8_t> body(10 + text.size());
    body[0] = 7;
    body[1] = pc->helloFlags[0], body[2] = pc->helloFlags[1], body[3] = pc->helloFlags[2];
    diIOPut32(&body[4], DI_PAIP_VERSION);
    diIOPut16(&body[8], uint32_t(text.size()));
    if (!text.empty()) memcpy(&body[10], text.data(), text.size());
    return sendMessage(pc, MSG_HELLO, 0, jobId, 0, body.data(), body.size());
}

void diPAIPAwaitConnection(DiPrintChannel* pc, DiPrintJob* job) {
    job->step = DI_JOB_WAITING;
    job->answered = true;
    if (++pc->waits == 0) pc->waits = 1; /* 0 names no job */
    job->wait = pc->waits;
    armMinute(pc);
    followQueue(pc); /* it left the queue */
}

uint32_t diPAIPConnectionStarting(DiPrintChannel* pc) {
    DiPrintJob* w = diPrintFirstJob(pc, DI_JOB_WAITING);
    if (!w) return 0;
    disarmMinute(pc);
    return w->wait;
}

void diPAIPQuestion(DiPrintChannel* pc, bool open) {
    if (open)
        pc->questions++;
    else if (pc->questions > 0)
        pc->questions--;
    DiPrintJob* w = diPrintFirstJob(pc, DI_JOB_WAITING);
    if (!w || diPAIPConnectionJob(pc) != w->wait) return;
    if (pc->questions == 0) {
        if (!open) armMinute(pc);
    } else {
        disarmMinute(pc);
    }
}

void diPAIPConnectionMade(DiPrintChannel* pc, uint32_t job) {
    pc->connJob = job;
    pc->connNamed = true;
    DiPrintJob* w = diPrintFirstJob(pc, DI_JOB_WAITING);
    if (job && w && job == w->wait) armMinute(pc);
}

uint32_t diPAIPConnectionJob(const DiPrintChannel* pc) {
    if (pc->connNamed) return pc->connJob;
    for (const DiPrintJob& j : pc->jobs)
        if (j.step == DI_JOB_WAITING) return j.wait;
    return 0;
}

void diPAIPDropWaitingJob(DiPrintChannel* pc, uint32_t job, const char16_t* why) {
    DiPrintJob* w = diPrintFirstJob(pc, DI_JOB_WAITING);
    if (!job || !w || job != w->wait) return;
    bool itsConnection = pc->connected && diPAIPConnectionJob(pc) == job;
    disarmMinute(pc);
    diLogErrorText((u"Print job not printed, " + std::u16string(why) + u": " + w->name).c_str());
    diPrintEndJob(pc, w);
    /* Its connection came without a hello: the printing state it took
     * would keep every later job queued. One still being set up is closed
     * when it comes. */
    if (itsConnection) {
        if (pc->state == DI_PRINT_PRINTING) diPrintSetState(pc, pc->startState);
        diPAIPSendStop(pc);
        pc->connected = false;
        diDEChannelDisconnected(&pc->ch);
    }
    if (queueMayGoOn(pc) && diSOGetPrintJobCount() > 0) diSOStartNextPrintJob();
}

int diPAIPSendJobRequest(DiPrintChannel* pc, DiPrintJob* job, uint16_t jobId) {
    std::string name = toUtf8(job->name);
    if (sendMessage(pc, MSG_JOB_REQUEST, 0, jobId, 0, reinterpret_cast<const uint8_t*>(name.data()),
                    name.size()) != 0)
        return -1;
    /* The server's silence counts from the first job on the connection;
     * another one asked for meanwhile does not restart it. */
    if (!inFlight(pc)) pc->quietSince = diDEClock();
    job->step = DI_JOB_REQUESTED;
    job->request = ++pc->requests;
    if (!diPrintFirstJob(pc, DI_JOB_WAITING)) disarmMinute(pc);
    armSilence(pc);
    return 0;
}

void diPAIPHandBackLost(DiPrintChannel* pc) {
    /* In the order requested: the first handed back stays first. */
    for (auto i = pc->jobs.begin(); i != pc->jobs.end();) {
        DiPrintJob* j = &*i++;
        if (isStep(*j, DI_JOB_REQUESTED, DI_JOB_STARTED)) handBack(pc, j, u"its connection closed");
    }
}

bool diPAIPJobNameFits(const std::u16string& name) {
    return toUtf8(name).size() <= DI_PAIP_OUT_LIMIT - DI_PAIP_HEADER;
}

int diPAIPSendBare(DiPrintChannel* pc, uint8_t type, uint16_t jobId) {
    return sendBare(pc, type, jobId);
}

int diPAIPSendStop(DiPrintChannel* pc) {
    return sendBare(pc, MSG_STOP, 1);
}

void diPrintPause(DiChannel* ch) {
    if (!ch || ch->hdr.type != DI_OBJ_PRINT) return;
    DiPrintChannel* pc = reinterpret_cast<DiPrintChannel*>(ch);
    pc->resumeState = DI_PRINT_PAUSED;
    armSilence(pc); /* the jobs are held: the silence is not theirs */
    if (pendingJobs(pc) == 0) {
        diPrintSetState(pc, DI_PRINT_OFFLINE);
        return;
    }
    sendBare(pc, MSG_PAUSE, pc->jobId);
    diPrintSetState(pc, DI_PRINT_PAUSED);
}

void diPrintResume(DiChannel* ch) {
    if (!ch || ch->hdr.type != DI_OBJ_PRINT) return;
    DiPrintChannel* pc = reinterpret_cast<DiPrintChannel*>(ch);
    pc->resumeState = DI_PRINT_READY;
    /* A job still being received goes back to printing: the rest of its
     * data is written and its end prints it. */
    DiPrintJob* cur = diPrintFirstJob(pc, DI_JOB_STARTED);
    pc->state = cur ? DI_PRINT_PRINTING : DI_PRINT_READY;
    /* The document held by the pause prints before any later job. */
    if (DiPrintJob* held = diPrintFirstJob(pc, DI_JOB_HELD)) {
        /* Its end was acknowledged as printed when it was held: the server
         * will not report this failure, so the event log does. */
        std::u16string why;
        if (finishSpool(pc, held, false, &why))
            diLogErrorText(
                (u"Print job failed at the resume, " + label(*held) + u": " + why).c_str());
        diPrintEndJob(pc, held);
    }
    /* A connection the server left silent past its minute meanwhile is
     * given up before another job goes on it. */
    armSilence(pc);
    if (inFlight(pc) && pc->questions == 0 && diDEClock() - pc->quietSince >= diPrintHelloWaitMs) {
        diTimerRemove(pc->silenceTimer);
        pc->silenceTimer = nullptr;
        giveUpSilent(pc);
    }
    /* Last: the job it starts sets the printing state. */
    if (queueMayGoOn(pc) && diSOGetPrintJobCount() > 0) diSOStartNextPrintJob();
}

void diPrintScheduleDelete(DiPrintChannel* pc, const std::u16string& path) {
    uint32_t due = diDEClock() + diPrintSweepDelays.dueMs;
    bool placed = false;
    for (PendingDelete& d : s_deletes)
        if (d.path.empty()) {
            d = {due, path};
            placed = true;
            break;
        }
    if (!placed) s_deletes.push_back({due, path});
    if (!pc->sweepTimer) pc->sweepTimer = diTimerAdd(diPrintSweepDelays.periodMs, sweepTick, pc);
}

void diPrintSweep(const DiPrintSpoolOps* ops, bool all) {
    if (!ops) ops = s_sweepOps;
    if (!ops) return;
    uint32_t now = diDEClock();
    for (PendingDelete& d : s_deletes) {
        if (d.path.empty() || !(all || diTimerIsDue(d.due, now))) continue;
        ops->remove(d.path);
        d.path.clear();
    }
}

size_t diPrintPendingDeletes(void) {
    size_t n = 0;
    for (const PendingDelete& d : s_deletes)
        n += !d.path.empty();
    return n;
}
