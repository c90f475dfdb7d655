// The print queue and its channel under any order of what the server, its
// connections and the user do. Each step is an opcode byte and an argument
// byte: print requests of two services, the connection's set-up (with its
// certificate wait), start and failed login exchange, the login dialog, the
// server's hello, job start, data, end, status query and administrator
// state, the connection's close, time passing (past the minute), spool and
// print failures, the user's pause and resume, and the session's end (the
// queue and its channel torn down; a new session goes on).
//
// The print service is played as a server would: on a connection that
// started and was not stopped, it sends the jobs asked for in the order
// asked, each under its own title with data marked with that title. A job
// whose start the user's pause answered may be offered again at once,
// later, out of order among the others, or never. (Before its first start
// only the order tells a client which job a start is for, so no first
// start overtakes another.)
//
// After every step:
// - every job the queue took (a name still queued is ignored) is printed
//   once, or named once in the event log, or answered with the print fault,
//   or still has its record; a job whose record went is never seen again;
// - a printed document is the one the server sent for that job, whole and
//   after its end, printed once, and documents print in the order the
//   server ended them;
// - no print request is answered twice, and a job waiting for its
//   connection was answered;
// - while the user's pause holds, no job is answered, spooled or printed;
// - a paused state says jobs are pending exactly when some are queued,
//   requested or held;
// - after a minute of the server's silence (the user's pause and resume do
//   not count), no job waits on the connection in the step it was in, and
//   after a minute with nothing moving no job waits for its connection
//   (unless the pause, the administrator or a login dialog holds it), and
//   queued jobs are not left behind an idle channel.
#include "core/dilog.h"
#include "core/ditimer.h"
#include "devices/diprintq.h"
#include "fakes/chan_fakes.h"
#include "fakes/print_fakes.h"
#include "net/dilaip.h"

#include <stdlib.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

uint32_t g_now;
/* A long day of orders: a few hundred steps. */
const size_t kMaxSteps = 400;
const size_t kMaxJobs = 12;

DiChannel* makeReal(DdSocket* s) {
    DiPrintChannel* pc = diPrintChannelNew(&kFakeSpoolOps, true);
    diChannelAttachConnection(&pc->ch, s);
    return &pc->ch;
}

void destroyReal(DiChannel* ch) {
    diPrintChannelTeardown(reinterpret_cast<DiPrintChannel*>(ch));
    diPrintChannelDelete(reinterpret_cast<DiPrintChannel*>(ch));
}

std::string le16(uint32_t v) {
    return std::string{char(v), char(v >> 8)};
}

std::string message(uint8_t type, uint8_t flags, const std::string& payload) {
    return std::string(1, char(type)) + le16(uint32_t(payload.size() + 7)) + char(flags) + le16(7) +
           std::string(4, '\0') + payload;
}

std::u16string u16(const std::string& s) {
    return std::u16string(s.begin(), s.end()); /* the harness's texts are ASCII */
}

std::string utf8(const std::u16string& s) {
    return std::string(s.begin(), s.end());
}

[[noreturn]] void violated(const char* what) {
    fprintf(stderr, "print orders: %s\n", what);
    abort();
}

/* Each job's step by its number, -1 for none. */
typedef std::vector<int> Steps;

bool isAny(int s, std::initializer_list<DiPrintJobStep> of) {
    return std::find(of.begin(), of.end(), s) != of.end();
}

/* The job's number: its message id is "m" and the number; -1 for none. */
int numberOf(const std::u16string& messageId) {
    if (messageId.size() < 2) return -1;
    int n = 0;
    for (size_t i = 1; i < messageId.size(); i++)
        n = n * 10 + (messageId[i] - u'0');
    return n;
}

struct Harness {
    CPrintJobQueue* queue = nullptr;
    DiPrintChannel* pc = nullptr;
    CLog log;
    /* The print service on the connection now open: whether it speaks
     * (started, not stopped or closed), the jobs asked for and not yet
     * started, in order, the titles whose start the pause answered, and
     * the title it is sending. */
    bool live = false;
    std::vector<std::string> asked;
    std::vector<std::string> held;
    std::string sending;
    size_t sentSeen = 0;
    int closesSeen = 0;
    int unasked = 0;
    /* Documents by title: the data sent since its last start, and at its
     * end; the order of the ends; how often each printed. */
    std::map<std::string, std::string> sentData, endedData;
    std::vector<std::string> ended;
    std::map<std::string, int> docPrints;
    long lastPrintedEnd = -1;
    /* Every print request by its number: the jobs the queue took, their
     * name, what ended them, and the answers they had. */
    struct Job {
        bool taken = false;
        std::u16string name;
        std::u16string label; /* what the log names it by: its title, else its name */
        bool gone = false, refused = false;
        int answers = 0;
    };
    std::vector<Job> jobs;
    std::map<std::u16string, int> spoolOwner; /* spool path -> job number */
    std::set<std::u16string> printedPaths;
    size_t printsSeen = 0, logSeen = 0, repliesSeen = 0, faultsSeen = 0;
    int made = 0, questions = 0;
    std::u16string stepTitle; /* the title a start of this step sent */
    bool paused = false;
    /* The server's silence counts from quietSince; the jobs then. */
    uint32_t quietSince = 0;
    Steps quietSteps;

    void open() {
        queue = new CPrintJobQueue();
        g_fakePrint.queue = queue;
        pc = reinterpret_cast<DiPrintChannel*>(queue->channel);
    }

    /* The title and data mark of a job's document: job "…jN#" is "TN#". */
    static std::string titleOf(const std::string& name) {
        size_t j = name.rfind('j');
        return "T" + name.substr(j + 1);
    }
    static std::string titleOf(const std::u16string& name) { return titleOf(utf8(name)); }

    void feed(const std::string& bytes) {
        g_fakeNet.incoming.push_back(bytes);
        for (int i = 0; i < 8 && !g_fakeNet.incoming.empty(); i++) {
            pc->ch.sliceDeadline = 0;
            if (diPAIPReadMessages(pc) < 0) break;
        }
        g_fakeNet.incoming.clear();
    }

    void connectionEnds() {
        live = false;
        asked.clear();
        held.clear();
        sending.clear();
    }

    /* What the client sent: the jobs it asked for, and its stop, after
     * which the service sends nothing more on the connection. */
    bool serverReads(bool* paused) {
        const std::string& s = g_fakeNet.sent;
        bool requested = false;
        while (sentSeen + 10 <= s.size()) {
            size_t len = uint8_t(s[sentSeen + 1]) | uint8_t(s[sentSeen + 2]) << 8;
            uint8_t type = uint8_t(s[sentSeen]);
            if (type == 13 && live) asked.push_back(s.substr(sentSeen + 10, len - 7));
            requested |= type == 13;
            if (type == 9) connectionEnds();
            if (type == 8 && paused) *paused = true;
            sentSeen += len + 3;
        }
        if (g_fakeNet.closes != closesSeen) connectionEnds();
        closesSeen = g_fakeNet.closes;
        return requested;
    }

    void close() {
        g_fakeNet.closed = true;
        DiEvent ev{};
        ev.w[0] = DI_EV_CLOSED;
        diPrintChannelEvent(&pc->ch.hdr, &ev);
        g_fakeNet.closed = false;
        connectionEnds();
    }

    void start(uint8_t arg);
    /* True when the step moved the connection: the server spoke, or a job
     * was asked for on a connection that held none. */
    bool step(uint8_t op, uint8_t arg, bool inFlight);
    /* afterTime: timers ran, or the user resumed (a connection silent past
     * its minute is given up then); afterMinute: a minute passed. */
    void check(bool afterTime, bool afterMinute, const Steps& before);
    void checkPrints();
    Steps steps() const {
        Steps out(jobs.size(), -1);
        for (const DiPrintJob& j : pc->jobs) {
            int n = numberOf(j.messageId);
            if (n >= 0 && size_t(n) < out.size()) out[size_t(n)] = j.step;
        }
        return out;
    }
};

/* A job start: the first job asked for, or (arg bit 1) one the pause held,
 * chosen by the rest of the argument, or (bit 6) the one being sent again;
 * a document nobody asked for only when no job is asked for. */
void Harness::start(uint8_t arg) {
    std::string title;
    if ((arg & 2) && !held.empty()) {
        size_t i = (arg >> 2) % held.size();
        title = held[i];
        held.erase(held.begin() + long(i));
    } else if ((arg & 0x40) && !sending.empty()) {
        title = sending;
    } else if (!asked.empty()) {
        title = titleOf(asked.front());
        asked.erase(asked.begin());
    } else {
        title = "U" + std::to_string(unasked++) + "#";
    }
    stepTitle = u16(title);
    bool pausedBack = false;
    feed(message(2, arg & 1, std::string("\0\1", 2) + title + std::string(1, '\0')));
    serverReads(&pausedBack);
    if (!live) return; /* the start ended the connection (no spool) */
    if (pausedBack) {
        /* A job asked for is held for later; the one being sent, or one
         * nobody asked for, is dropped. */
        if (sending == title)
            sending.clear();
        else if (title[0] == 'T')
            held.push_back(title);
        return;
    }
    sending = title;
    sentData[title].clear();
}

bool Harness::step(uint8_t op, uint8_t arg, bool inFlight) {
    bool moved = false;
    switch (op % 17) {
    case 0:
    case 1: { /* a print request: a new job, or the last job's name again */
        /* A user sends a handful of documents at a time. */
        if (pc->jobs.size() >= kMaxJobs) break;
        std::string n = std::to_string(made++);
        std::u16string id = u"m" + u16(n);
        jobs.emplace_back();
        std::u16string name = arg & 1 ? u"http://second/b/_service/" : u"http://first/a/_service/";
        name += u"j" + u16(n) + u"#";
        /* A name queued already is ignored (a name used before would make
         * the log's lines name two jobs). */
        if (op % 17 == 1 && pc->jobs.size() && pc->jobs.back().step == DI_JOB_QUEUED)
            name = pc->jobs.back().name;
        size_t answers = g_fakePrint.replyIds.size() + g_fakePrint.faults.size();
        queue->AddJob(name.c_str(), id.c_str());
        Job& job = jobs.back();
        job.taken = steps().back() >= 0 ||
                    g_fakePrint.replyIds.size() + g_fakePrint.faults.size() > answers;
        if (job.taken) job.name = job.label = name;
        break;
    }
    case 2: { /* doprint: the set-up, a certificate warning maybe, its end */
        uint32_t job = queue->ConnectionStarting();
        diTimerDispatch(g_now += (arg >> 2) * 1000u);
        if (arg & 1)
            queue->ConnectionStarted(job);
        else
            queue->ConnectionFailed(job);
        moved = true;
        break;
    }
    case 3: /* the login exchange ends: started, or refused */
        serverReads(nullptr);
        connectionEnds();
        if (arg & 1) {
            int closes = g_fakeNet.closes;
            live = diPAIPSendStart(&pc->ch, 1) == 0 && g_fakeNet.closes == closes;
        } else {
            diPAIPExchangeEnded(&pc->ch, 0);
        }
        serverReads(nullptr);
        moved = true;
        break;
    case 4: /* a login dialog opens or is answered */
        if ((arg & 1) && questions < 3) {
            questions++;
            diPAIPQuestionOpen(&pc->ch, 1);
        } else if (questions > 0) {
            questions--;
            diPAIPQuestionOpen(&pc->ch, 0);
        }
        moved = true;
        break;
    case 5:
        if (!live) break;
        feed(message(1, 0, std::string(1, char(arg & 7))));
        moved = true;
        break;
    case 6:
        if (!live) break;
        start(arg);
        moved = true;
        break;
    case 7: { /* data of the document being sent, marked with its title */
        if (!live || sending.empty()) break;
        std::string mark = "[" + sending + "]";
        sentData[sending] += mark;
        feed(message(4, arg & 1, mark));
        moved = true;
        break;
    }
    case 8:
        if (!live || sending.empty()) break;
        endedData[sending] = sentData[sending];
        ended.push_back(sending);
        sending.clear();
        feed(message(3, arg & 1, ""));
        moved = true;
        break;
    case 9:
        if (!live) break;
        feed(message(9, arg & 1, ""));
        moved = true;
        break;
    case 10: /* the administrator's state: the document being sent is dropped */
        if (!live) break;
        sending.clear();
        feed(message(12, 0, std::string(1, char(arg % 3))));
        moved = true;
        break;
    case 11:
        close();
        moved = true;
        break;
    case 12: /* time passes with nothing from the server */
        diTimerDispatch(g_now += arg & 1 ? diPrintHelloWaitMs + 1 : (arg >> 1) * 1000u);
        break;
    case 13:
        g_fakePrint.openFails = arg & 1;
        g_fakePrint.writeFails = arg & 2;
        g_fakePrint.printFails = arg & 4;
        break;
    case 14:
        paused = true;
        diPrintPause(&pc->ch);
        break;
    case 15:
        paused = false;
        diPrintResume(&pc->ch);
        break;
    case 16: /* the session ends; the next one begins */
        delete queue;
        g_fakePrint.queue = nullptr;
        connectionEnds();
        paused = false;
        questions = 0;
        open();
        moved = true;
        break;
    }
    bool requested = serverReads(nullptr);
    return moved || (requested && !inFlight);
}

void Harness::checkPrints() {
    for (; printsSeen < g_fakePrint.prints.size(); printsSeen++) {
        const FakePrint::Print& p = g_fakePrint.prints[printsSeen];
        if (!printedPaths.insert(p.path).second) violated("a spool printed twice");
        /* The document by its mark, else by the job that printed it. */
        std::string doc;
        if (p.content.size() > 2 && p.content[0] == '[')
            doc = p.content.substr(1, p.content.find(']') - 1);
        auto owner = spoolOwner.find(p.path);
        if (owner != spoolOwner.end() && owner->second >= 0) {
            const Job& job = jobs[size_t(owner->second)];
            std::string its = titleOf(job.name);
            if (doc.empty()) doc = its;
            if (doc != its) {
                fprintf(stderr, "%s printed %s\n", utf8(job.name).c_str(), doc.c_str());
                violated("a job printed another job's document");
            }
        }
        if (doc.empty()) continue;
        auto at = std::find(ended.rbegin(), ended.rend(), doc);
        if (at == ended.rend()) violated("a document printed before the server ended it");
        if (p.content != endedData[doc]) violated("a document printed other than it was sent");
        if (++docPrints[doc] > 1) {
            fprintf(stderr, "document %s\n", doc.c_str());
            violated("a document printed twice");
        }
        long pos = long(ended.rend() - at) - 1;
        if (pos <= lastPrintedEnd) violated("documents printed out of the order they ended");
        lastPrintedEnd = pos;
    }
}

void Harness::check(bool afterTime, bool afterMinute, const Steps& before) {
    Steps now = steps();
    /* Prints of this step, by the job whose spool each was. */
    std::vector<int> printed(jobs.size());
    for (size_t i = printsSeen; i < g_fakePrint.prints.size(); i++) {
        auto owner = spoolOwner.find(g_fakePrint.prints[i].path);
        if (owner != spoolOwner.end() && owner->second >= 0) printed[size_t(owner->second)]++;
    }
    checkPrints();
    for (const DiPrintJob& j : pc->jobs) {
        int n = numberOf(j.messageId);
        if (j.spool || !j.spoolPath.empty()) spoolOwner[j.spoolPath] = n;
        if (n >= 0 && jobs[size_t(n)].taken)
            jobs[size_t(n)].label = j.title.empty() ? j.name : j.title;
    }
    std::vector<std::u16string> logged;
    int i = 0;
    for (auto* e = log.entries.head; e; e = e->next, i++)
        if (size_t(i) >= logSeen) logged.push_back(e->item->text);
    logSeen = log.GetCount();
    for (; repliesSeen < g_fakePrint.replyIds.size(); repliesSeen++)
        jobs[size_t(numberOf(g_fakePrint.replyIds[repliesSeen]))].answers++;
    for (; faultsSeen < g_fakePrint.faults.size(); faultsSeen++) {
        Job& job = jobs[size_t(numberOf(g_fakePrint.faults[faultsSeen]))];
        job.answers++;
        job.refused = true;
    }
    for (size_t id = 0; id < jobs.size(); id++) {
        Job& job = jobs[id];
        if (!job.taken) continue;
        if (job.answers > 1) violated("a print request answered twice");
        bool present = now[id] >= 0;
        if (now[id] == DI_JOB_WAITING && job.answers != 1)
            violated("a job waits for a connection unanswered");
        if (job.gone) {
            if (present || printed[id]) violated("a job came back after its end");
            continue;
        }
        if (present) continue;
        job.gone = true;
        /* Its end, once: printed, named in the log, or refused. */
        std::string n = utf8(job.name);
        /* Named by the label it had, or else by the title this step's
         * start gave it. Both at once is not one job logged twice: a start
         * can cut off the job being spooled (logged by its title) and then
         * fail its own spool (logged by the new title), two jobs ending in
         * one step, each named once. */
        int named = 0, namedNew = 0;
        for (const std::u16string& text : logged) {
            named += text.find(job.label) != std::u16string::npos;
            namedNew += !stepTitle.empty() && text.find(stepTitle) != std::u16string::npos;
        }
        if (named == 0) named = namedNew;
        if (printed[id] + named + job.refused != 1) {
            fprintf(stderr, "job %s: printed %d, logged %d, refused %d\n", n.c_str(), printed[id],
                    named, int(job.refused));
            violated("a job ended other than once");
        }
    }
    /* The state word against the records. */
    int pending = 0;
    for (const DiPrintJob& j : pc->jobs)
        pending += isAny(j.step, {DI_JOB_QUEUED, DI_JOB_REQUESTED, DI_JOB_HELD});
    uint32_t s = pc->state;
    if ((s == DI_PRINT_PAUSED || s == DI_PRINT_ADMIN_PAUSED) && pending == 0)
        violated("a paused state says jobs are pending with none");
    if ((s == DI_PRINT_OFFLINE || s == DI_PRINT_ADMIN_OFFLINE) && pending > 0)
        violated("a paused state says no job is pending with some");
    /* The administrator's states hold printing as the user's pause does. */
    bool admin =
        s == DI_PRINT_ADMIN_DISABLED || s == DI_PRINT_ADMIN_PAUSED || s == DI_PRINT_ADMIN_OFFLINE;
    if (!afterTime || diPrintUserPaused(pc) || questions > 0 || admin) return;
    /* The server silent for a minute: no job on the connection is where it
     * was when the silence began. */
    if (g_now - quietSince > diPrintHelloWaitMs) {
        for (size_t id = 0; id < quietSteps.size(); id++)
            if (isAny(quietSteps[id], {DI_JOB_REQUESTED, DI_JOB_STARTED}) &&
                now[id] == quietSteps[id])
                violated("a job stayed on a connection silent past the minute");
    }
    if (!afterMinute) return;
    /* A minute with nothing moving: no job waits where it was. */
    bool busy = false;
    for (size_t id = 0; id < now.size(); id++) {
        if (isAny(now[id], {DI_JOB_WAITING, DI_JOB_REQUESTED, DI_JOB_STARTED})) {
            busy = true;
            if (id < before.size() && before[id] == now[id])
                violated("a job waited past the minute");
        }
    }
    if (!busy && !diPrintFirstJob(pc, DI_JOB_HELD) && queue->GetJobCount() > 0 &&
        pc->state != DI_PRINT_PRINTING)
        violated("queued jobs left behind an idle channel");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fakesReset();
    fakePrintReset();
    g_now = 1000;
    diDEClock = [] { return g_now; };
    g_fakeChannels.printCtor = makeReal;
    g_fakeChannels.printDtor = destroyReal;
    {
        Harness h;
        diLogSet(&h.log);
        h.open();
        h.quietSince = g_now;
        for (size_t at = 0; at + 2 <= size && at < 2 * kMaxSteps; at += 2) {
            uint8_t op = data[at], arg = data[at + 1];
            Steps before = h.steps();
            bool inFlight = false;
            for (int st : before)
                inFlight |= isAny(st, {DI_JOB_REQUESTED, DI_JOB_STARTED});
            size_t replies = g_fakePrint.replyIds.size();
            int opened = g_fakePrint.opened;
            size_t prints = g_fakePrint.prints.size();
            bool pausedBefore = h.paused;
            h.stepTitle.clear();
            bool moved = h.step(op, arg, inFlight);
            if (pausedBefore && h.paused &&
                (g_fakePrint.replyIds.size() > replies || g_fakePrint.opened > opened ||
                 g_fakePrint.prints.size() > prints)) {
                fprintf(stderr, "step %zu: replies %zu->%zu spools %d->%d prints %zu->%zu\n",
                        at / 2, replies, g_fakePrint.replyIds.size(), opened, g_fakePrint.opened,
                        prints, g_fakePrint.prints.size());
                violated("a job moved while the user's pause held");
            }
            h.check(op % 17 == 12 || op % 17 == 15, op % 17 == 12 && (arg & 1), before);
            if (moved) {
                h.quietSince = g_now;
                h.quietSteps = h.steps();
            }
        }
        /* The day ends with the session. */
        Steps before = h.steps();
        h.step(16, 0, false);
        h.check(false, false, before);
        delete h.queue;
        g_fakePrint.queue = nullptr;
        diLogSet(nullptr);
    }
    diPrintSweep(&kFakeSpoolOps, true);
    if (!g_fakePrint.files.empty()) violated("a spool file left behind");
    diTimerDispatch(g_now += 1u << 30);
    return 0;
}
