// The print queue and its channel under any order of what the server, its
// connections and the user do. Each step is an opcode byte and an argument
// byte: print requests of two services, the connection's set-up (with its
// certificate wait), start and failed login exchange, the login dialog, the
// server's hello, job start (of the oldest job it was asked for), data,
// end, status query and administrator state, the connection's close, time
// passing (past the minute), spool failures, and the user's pause and
// resume. After every step:
// - every job the queue took (a name still queued is ignored) is printed
//   once, or named once in the event log, or answered with the print fault,
//   or still has its record; a job whose record went is never seen again,
//   and no spool prints twice;
// - no print request is answered twice, and a job waiting for its
//   connection was answered;
// - while the user's pause holds, no job is answered, spooled or printed;
// - after a minute with nothing moving, no job waits in the step it was in
//   (unless the pause, the administrator or a login dialog holds it), and
//   queued jobs are not left behind an idle channel.
#include "core/dilog.h"
#include "core/ditimer.h"
#include "devices/diprintq.h"
#include "fakes/chan_fakes.h"
#include "fakes/print_fakes.h"
#include "net/dilaip.h"

#include <stdlib.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

uint32_t g_now;

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

std::string utf8(const std::u16string& s) {
    return std::string(s.begin(), s.end()); /* the harness's texts are ASCII */
}

[[noreturn]] void violated(const char* what) {
    fprintf(stderr, "print orders: %s\n", what);
    abort();
}

struct Harness {
    CPrintJobQueue* queue = nullptr;
    DiPrintChannel* pc = nullptr;
    CLog log;
    /* The print service: the jobs asked for on the connection now open, in
     * order, and the one it is sending. */
    std::vector<std::string> asked;
    std::string sending;
    size_t sentSeen = 0;
    /* The jobs the queue took, by message id: their name and what ended
     * them. */
    struct Job {
        std::u16string name;
        std::u16string label; /* what the log names it by: its title, else its name */
        bool gone = false;
    };
    std::map<std::u16string, Job> jobs;
    std::map<std::u16string, std::u16string> spoolOwner; /* spool path -> message id */
    std::set<std::u16string> printedPaths;
    size_t printsSeen = 0, logSeen = 0;
    int made = 0, questions = 0, starts = 0;
    std::u16string stepTitle; /* the title a start of this step sent */
    bool paused = false;

    void feed(const std::string& bytes) {
        g_fakeNet.incoming.push_back(bytes);
        for (int i = 0; i < 8 && !g_fakeNet.incoming.empty(); i++) {
            pc->ch.sliceDeadline = 0;
            if (diPAIPReadMessages(pc) < 0) break;
        }
        g_fakeNet.incoming.clear();
    }

    /* What the client sent: the jobs it asked for. */
    void serverReads() {
        const std::string& s = g_fakeNet.sent;
        while (sentSeen + 10 <= s.size()) {
            size_t len = uint8_t(s[sentSeen + 1]) | uint8_t(s[sentSeen + 2]) << 8;
            if (s[sentSeen] == 13) asked.push_back(s.substr(sentSeen + 10, len - 7));
            sentSeen += len + 3;
        }
    }

    void close() {
        g_fakeNet.closed = true;
        DiEvent ev{};
        ev.w[0] = DI_EV_CLOSED;
        diPrintChannelEvent(&pc->ch.hdr, &ev);
        g_fakeNet.closed = false;
        asked.clear();
        sending.clear();
    }

    void step(uint8_t op, uint8_t arg);
    void check(bool afterSilence, const std::map<std::u16string, DiPrintJobStep>& before);
    std::map<std::u16string, DiPrintJobStep> steps() const {
        std::map<std::u16string, DiPrintJobStep> out;
        for (const DiPrintJob& j : pc->jobs)
            if (!j.messageId.empty()) out[j.messageId] = j.step;
        return out;
    }
};

void Harness::step(uint8_t op, uint8_t arg) {
    switch (op % 16) {
    case 0:
    case 1: { /* a print request: a new job, or the last job's name again */
        std::string n = std::to_string(made++);
        std::u16string id(u"m");
        id += std::u16string(n.begin(), n.end());
        std::u16string name = arg & 1 ? u"http://second/b/_service/" : u"http://first/a/_service/";
        name += u"j" + std::u16string(n.begin(), n.end()) + u"#";
        /* A name queued already is ignored (a name used before would make
         * the log's lines name two jobs). */
        if (op % 16 == 1 && pc->jobs.size() && pc->jobs.back().step == DI_JOB_QUEUED)
            name = pc->jobs.back().name;
        size_t answers = g_fakePrint.replyIds.size() + g_fakePrint.faults.size();
        queue->AddJob(name.c_str(), id.c_str());
        bool taken =
            steps().count(id) || g_fakePrint.replyIds.size() + g_fakePrint.faults.size() > answers;
        if (taken) jobs[id].name = jobs[id].label = name;
        break;
    }
    case 2: { /* doprint: the set-up, a certificate warning maybe, its end */
        uint32_t job = queue->ConnectionStarting();
        diTimerDispatch(g_now += (arg >> 2) * 1000u);
        if (arg & 1)
            queue->ConnectionStarted(job);
        else
            queue->ConnectionFailed(job);
        break;
    }
    case 3: /* the login exchange ends: started, or refused */
        asked.clear();
        sending.clear();
        g_fakeNet.sent.clear();
        sentSeen = 0;
        if (arg & 1)
            diPAIPSendStart(&pc->ch, 1);
        else
            diPAIPExchangeEnded(&pc->ch, 0);
        break;
    case 4: /* a login dialog opens or is answered */
        if ((arg & 1) && questions < 3) {
            questions++;
            diPAIPQuestionOpen(&pc->ch, 1);
        } else if (questions > 0) {
            questions--;
            diPAIPQuestionOpen(&pc->ch, 0);
        }
        break;
    case 5:
        feed(message(1, 0, std::string(1, char(arg & 7))));
        break;
    case 6: { /* the job start of the oldest job asked for (again, when the
               * pause answered it and the server offers it again) */
        std::string name = asked.empty() ? std::string("unasked#") : asked.front();
        if (!asked.empty()) asked.erase(asked.begin());
        sending = name;
        size_t before = g_fakeNet.sent.size();
        std::string title = "T" + std::to_string(starts++) + "#";
        stepTitle = std::u16string(title.begin(), title.end());
        feed(message(2, arg & 1, std::string("\0\1", 2) + title + std::string(1, '\0')));
        bool pausedBack = g_fakeNet.sent.find('\x08', before) != std::string::npos;
        if (pausedBack && (arg & 2) && name != "unasked#") asked.insert(asked.begin(), name);
        break;
    }
    case 7:
        feed(message(4, arg & 1, sending.empty() ? std::string("stray") : sending));
        break;
    case 8:
        feed(message(3, arg & 1, ""));
        sending.clear();
        break;
    case 9:
        feed(message(9, arg & 1, ""));
        break;
    case 10:
        feed(message(12, 0, std::string(1, char(arg % 3))));
        break;
    case 11:
        close();
        break;
    case 12: /* time passes with nothing moving */
        diTimerDispatch(g_now += arg & 1 ? diPrintHelloWaitMs + 1 : (arg >> 1) * 100u);
        break;
    case 13:
        g_fakePrint.openFails = arg & 1;
        g_fakePrint.writeFails = arg & 2;
        break;
    case 14:
        paused = true;
        diPrintPause(&pc->ch);
        break;
    case 15:
        paused = false;
        diPrintResume(&pc->ch);
        break;
    }
    serverReads();
}

void Harness::check(bool afterSilence, const std::map<std::u16string, DiPrintJobStep>& before) {
    std::map<std::u16string, DiPrintJobStep> now = steps();
    for (const DiPrintJob& j : pc->jobs) {
        if (j.spool || !j.spoolPath.empty()) spoolOwner[j.spoolPath] = j.messageId;
        if (jobs.count(j.messageId)) jobs[j.messageId].label = j.title.empty() ? j.name : j.title;
    }
    /* Prints of this step, by the job whose spool each was. */
    std::map<std::u16string, int> printed;
    for (; printsSeen < g_fakePrint.prints.size(); printsSeen++) {
        const std::u16string& path = g_fakePrint.prints[printsSeen].path;
        if (!printedPaths.insert(path).second) violated("a spool printed twice");
        printed[spoolOwner[path]]++;
    }
    std::vector<std::u16string> logged;
    int i = 0;
    for (auto* e = log.entries.head; e; e = e->next, i++)
        if (size_t(i) >= logSeen) logged.push_back(e->item->text);
    logSeen = log.GetCount();
    std::map<std::u16string, int> answers;
    for (const std::u16string& id : g_fakePrint.replyIds)
        answers[id]++;
    for (const std::u16string& id : g_fakePrint.faults)
        answers[id]++;
    for (auto& [id, job] : jobs) {
        if (answers[id] > 1) violated("a print request answered twice");
        bool present = now.count(id) != 0;
        if (present && now[id] == DI_JOB_WAITING && answers[id] != 1)
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
        bool refused = false;
        for (const std::u16string& f : g_fakePrint.faults)
            refused |= f == id;
        if (printed[id] + named + refused != 1) {
            fprintf(stderr, "job %s: printed %d, logged %d, refused %d\n", n.c_str(), printed[id],
                    named, int(refused));
            violated("a job ended other than once");
        }
    }
    /* The administrator's states hold printing as the user's pause does. */
    bool admin = pc->state == DI_PRINT_ADMIN_DISABLED || pc->state == DI_PRINT_ADMIN_PAUSED ||
                 pc->state == DI_PRINT_ADMIN_OFFLINE;
    if (!afterSilence || diPrintUserPaused(pc) || questions > 0 || admin) return;
    /* A minute with nothing moving: no job waits where it was. */
    bool busy = false;
    for (const auto& [id, s] : now) {
        if (s == DI_JOB_WAITING || s == DI_JOB_REQUESTED || s == DI_JOB_STARTED) {
            busy = true;
            auto was = before.find(id);
            if (was != before.end() && was->second == s) violated("a job waited past the minute");
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
        CPrintJobQueue q;
        g_fakePrint.queue = &q;
        h.queue = &q;
        h.pc = reinterpret_cast<DiPrintChannel*>(q.channel);
        for (size_t at = 0; at + 2 <= size && at < 2 * 400; at += 2) {
            uint8_t op = data[at], arg = data[at + 1];
            std::map<std::u16string, DiPrintJobStep> before = h.steps();
            size_t replies = g_fakePrint.replyIds.size();
            int opened = g_fakePrint.opened;
            size_t prints = g_fakePrint.prints.size();
            bool pausedBefore = h.paused;
            h.stepTitle.clear();
            h.step(op, arg);
            if (pausedBefore && h.paused &&
                (g_fakePrint.replyIds.size() > replies || g_fakePrint.opened > opened ||
                 g_fakePrint.prints.size() > prints)) {
                fprintf(stderr, "step %zu: replies %zu->%zu spools %d->%d prints %zu->%zu\n",
                        at / 2, replies, g_fakePrint.replyIds.size(), opened, g_fakePrint.opened,
                        prints, g_fakePrint.prints.size());
                violated("a job moved while the user's pause held");
            }
            h.check(op % 16 == 12 && (arg & 1), before);
        }
        g_fakePrint.queue = nullptr;
        diLogSet(nullptr);
    }
    diPrintSweep(&kFakeSpoolOps, true);
    if (!g_fakePrint.files.empty()) violated("a spool file left behind");
    diTimerDispatch(g_now += 1u << 30);
    return 0;
}
