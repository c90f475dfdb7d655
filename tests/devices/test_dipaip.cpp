// The print channel on a scripted socket over fake spool files and printers:
// jobs spooled and printed, the ways a job fails without printing a cut-off
// document, spools that must not stay behind, the hello's printer list, the
// user's pause and the print-job queue.
#include <gtest/gtest.h>

#include "core/dilog.h"
#include "core/ditimer.h"
#include "devices/diprintq.h"
#include "fakes/chan_fakes.h"
#include "fakes/print_fakes.h"
#include "io_wire.h"
#include "net/dilaip.h"
#include "session/dicapability.h"
#include "support/split_delivery.h"

#include <zlib.h>

namespace {

uint32_t g_now = 1000;

std::string le16(uint32_t v) {
    return std::string{char(v), char(v >> 8)};
}
std::string le32(uint32_t v) {
    return le16(v) + le16(v >> 16);
}

std::string msg(uint8_t type, uint8_t flags = 0, const std::string& payload = "",
                uint16_t job = 7) {
    return std::string(1, char(type)) + le16(uint32_t(payload.size() + 7)) + char(flags) +
           le16(job) + le32(0) + payload;
}

std::string deflated(const std::string& raw) {
    uLongf n = compressBound(uLong(raw.size()));
    std::string out(n, '\0');
    compress2(reinterpret_cast<Bytef*>(&out[0]), &n, reinterpret_cast<const Bytef*>(raw.data()),
              uLong(raw.size()), 6);
    out.resize(n);
    return out;
}

// Job start: compressed flag, copies, title, printer (flag and name), attribute.
std::string start(uint8_t flags, bool compressed, uint8_t copies, const std::string& tail = "",
                  const std::string& title = std::string("Doc\0", 4)) {
    return msg(2, flags, std::string{char(compressed), char(copies)} + title + tail);
}

struct PFrame {
    uint8_t type, flags;
    uint16_t job;
    std::string payload;
};

std::vector<PFrame> frames(const std::string& s) {
    std::vector<PFrame> out;
    size_t at = 0;
    while (at + 10 <= s.size()) {
        size_t len = uint8_t(s[at + 1]) | uint8_t(s[at + 2]) << 8;
        out.push_back({uint8_t(s[at]), uint8_t(s[at + 3]),
                       uint16_t(uint8_t(s[at + 4]) | uint8_t(s[at + 5]) << 8),
                       s.substr(at + 10, len - 7)});
        at += len + 3;
    }
    return out;
}

std::string types(const std::vector<PFrame>& fs) {
    std::string t;
    for (const PFrame& f : fs)
        t += std::to_string(f.type) + (f.type == 5 && !f.payload.empty() ? "!" : "") + " ";
    return t;
}

DiChannel* makeReal(DdSocket* s) {
    DiPrintChannel* pc = diPrintChannelNew(&kFakeSpoolOps, true);
    diChannelAttachConnection(&pc->ch, s);
    return &pc->ch;
}
void destroyReal(DiChannel* ch) {
    diPrintChannelTeardown(reinterpret_cast<DiPrintChannel*>(ch));
    diPrintChannelDelete(reinterpret_cast<DiPrintChannel*>(ch));
}

class PrintChannel : public ::testing::Test {
  protected:
    void SetUp() override {
        fakesReset();
        fakePrintReset();
        savedClock = diDEClock;
        diDEClock = [] { return g_now; };
        pc = reinterpret_cast<DiPrintChannel*>(makeReal(ddNetSocketCreate()));
    }
    void TearDown() override {
        if (pc) destroyReal(&pc->ch);
        diPrintSweep(&kFakeSpoolOps, true);
        diDEClock = savedClock;
    }
    // Delivers the bytes and reads them as the socket's events would.
    std::vector<PFrame> feed(const std::string& bytes) {
        g_fakeNet.incoming.push_back(bytes);
        for (int i = 0; i < 100 && !g_fakeNet.incoming.empty(); i++) {
            pc->ch.sliceDeadline = 0;
            diPAIPReadMessages(pc);
        }
        std::vector<PFrame> f = frames(g_fakeNet.sent);
        g_fakeNet.sent.clear();
        return f;
    }
    // Connected, hello exchanged.
    void connect() {
        diPAIPSendStart(&pc->ch, 1);
        feed(msg(1, 0, std::string(1, '\5')));
        g_fakeNet.sent.clear();
    }
    // The channel's start and the server's hello, with what follows it.
    static void startAndHello(DiChannel* ch, std::vector<std::string> then = {}) {
        diPAIPSendStart(ch, 1);
        then.insert(then.begin(), msg(1, 0, "\x07\x01", 4));
        g_fakeNet.incoming.assign(then.begin(), then.end());
        diPAIPReadMessages(reinterpret_cast<DiPrintChannel*>(ch));
    }
    // The server closes the connection.
    static void lose(DiChannel* ch) {
        g_fakeNet.closed = true;
        DiEvent ev{};
        ev.w[0] = DI_EV_CLOSED;
        diPrintChannelEvent(&ch->hdr, &ev);
        g_fakeNet.closed = false;
    }
    DiPrintChannel* pc = nullptr;
    uint32_t (*savedClock)() = nullptr;
};

const std::string kPage = "%!PS\n/Helvetica findfont 24 scalefont setfont\n72 700 moveto "
                          "(Halvanet test page) show showpage\n";

// Whole jobs: what reaches the printer, the acknowledgements and what is
// left on disk, for every way the data may come and every way a job fails.
TEST_F(PrintChannel, JobsFromStartToEnd) {
    std::string z = deflated(kPage);
    std::string twoStreams = deflated("first half|") + deflated("second half");
    struct Row {
        const char* what;
        std::vector<std::string> script;
        bool openFails, writeFails, printFails;
        size_t printed;      // copies printed
        std::string content; // of each
        std::string acks;    // frame types sent, "5!" an ack with status 1
        bool traced256;
        uint32_t state; // after the script
    } rows[] = {
        {"plain data in three messages, two copies",
         {start(1, false, 2), msg(4, 0, kPage.substr(0, 10)), msg(4, 1, kPage.substr(10, 30)),
          msg(4, 0, kPage.substr(40)), msg(3, 1)},
         false,
         false,
         false,
         2,
         kPage,
         "5 5 5 ",
         false,
         1},
        {"deflated data split anywhere",
         {start(0, true, 1), msg(4, 0, z.substr(0, 5)), msg(4, 0, z.substr(5, 20)),
          msg(4, 0, z.substr(25)), msg(3, 1)},
         false,
         false,
         false,
         1,
         kPage,
         "5 ",
         false,
         1},
        {"one stream ends and another follows",
         {start(0, true, 1), msg(4, 0, twoStreams), msg(3, 1)},
         false,
         false,
         false,
         1,
         "first half|second half",
         "5 ",
         false,
         1},
        {"copies 0: spooled, not printed",
         {start(0, false, 0), msg(4, 0, "x"), msg(3, 1)},
         false,
         false,
         false,
         0,
         "",
         "5 ",
         false,
         1},
        {"corrupt deflate fails the job",
         {start(0, true, 1), msg(4, 0, "\x78\x9c\xff\xff garbage"), msg(4, 0, z), msg(3, 1)},
         false,
         false,
         false,
         0,
         "",
         "5! ",
         true,
         1},
        {"deflate cut off before its end fails the job",
         {start(0, true, 1), msg(4, 0, z.substr(0, z.size() / 2)), msg(3, 1)},
         false,
         false,
         false,
         0,
         "",
         "5! ",
         true,
         1},
        {"a failed spool write fails the job",
         {start(0, false, 1), msg(4, 0, kPage), msg(3, 1)},
         false,
         true,
         false,
         0,
         "",
         "5! ",
         true,
         1},
        {"a failed print is acknowledged as failed",
         {start(0, false, 1), msg(4, 0, kPage), msg(3, 1)},
         false,
         false,
         true,
         0,
         "",
         "5! ",
         true,
         1},
        {"no spool: pause and stop",
         {start(1, false, 1), msg(4, 0, kPage), msg(3, 1)},
         true,
         false,
         false,
         0,
         "",
         "5 8 9 ",
         false,
         4},
        {"a job end without a job is no print",
         {msg(3, 1)},
         false,
         false,
         false,
         0,
         "",
         "5! ",
         false,
         1},
        {"data before any job start is dropped",
         {msg(4, 0, z), msg(4, 0, kPage)},
         false,
         false,
         false,
         0,
         "",
         "",
         false,
         2},
        {"administrator state ends the job's spool",
         {start(0, false, 1), msg(4, 0, "part"), msg(12, 0, "\x02"), msg(4, 0, "more"), msg(3, 1)},
         false,
         false,
         false,
         0,
         "",
         "",
         false,
         9},
        {"a second start discards the first job's spool",
         {start(0, false, 1), msg(4, 0, "old job"), start(0, false, 1), msg(4, 0, kPage),
          msg(3, 0)},
         false,
         false,
         false,
         1,
         kPage,
         "",
         false,
         1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        TearDown();
        SetUp();
        connect();
        g_fakePrint.openFails = r.openFails;
        g_fakePrint.writeFails = r.writeFails;
        g_fakePrint.printFails = r.printFails;
        std::string all;
        for (const std::string& m : r.script)
            all += m;
        std::vector<PFrame> sent = feed(all);
        EXPECT_EQ(r.acks, types(sent));
        ASSERT_EQ(r.printed, g_fakePrint.prints.size());
        for (const FakePrint::Print& p : g_fakePrint.prints)
            EXPECT_EQ(r.content, p.content);
        // Whatever happened, no spool stays on disk once the job is over.
        EXPECT_TRUE(g_fakePrint.files.empty());
        bool traced = false;
        for (const std::u16string& t : g_fakePrint.trace)
            traced |= t.find(u"Print job failed") == 0;
        EXPECT_EQ(r.traced256, traced);
        EXPECT_EQ(r.state, pc->state);
    }
    SplitReader job = [this](const SplitPieces& pieces) {
        TearDown();
        SetUp();
        connect();
        std::string out;
        for (const std::string& p : pieces)
            out += types(feed(p));
        for (const FakePrint::Print& p : g_fakePrint.prints)
            out += "|" + p.content;
        return out;
    };
    expectSameHoweverSplit(
        {{"print channel",
          start(0, true, 1) + msg(4, 0, z.substr(0, 5)) + msg(4, 0, z.substr(5)) + msg(3, 1),
          job}});
}

// A deflate bomb is inflated in bounded pieces straight to the spool.
TEST_F(PrintChannel, DeflateBombIsWrittenInBoundedPieces) {
    connect();
    std::string raw(256u << 20, '\0');
    std::string z = deflated(raw);
    raw.clear();
    raw.shrink_to_fit();
    std::string all = start(0, true, 1);
    for (size_t at = 0; at < z.size(); at += 60000)
        all += msg(4, 0, z.substr(at, 60000));
    g_fakePrint.keepBytes = 0;
    feed(all);
    ASSERT_EQ(1u, g_fakePrint.sizes.size());
    EXPECT_EQ(uint64_t(256u << 20), g_fakePrint.sizes.begin()->second);
    EXPECT_LE(g_fakePrint.largestWrite, uint32_t(DI_PAIP_PIECE));
    feed(msg(12, 0, "\x01")); // disabled: the spool goes
    EXPECT_TRUE(g_fakePrint.files.empty());
    EXPECT_EQ(uint32_t(DI_PRINT_ADMIN_DISABLED), pc->state);
}

// Fields end at the message's end when the server leaves out their zero
// byte, and short messages are ignored (ASan catches any read past).
TEST_F(PrintChannel, FieldsBoundedByTheMessage) {
    connect();
    struct Row {
        std::string m;
        std::u16string title, printer;
        uint32_t attribute;
    } rows[] = {
        {start(0, false, 1, "", "unterminated"), u"unterminated", u"", 0},
        {start(0, false, 1, std::string("\x01Lab", 4) + le32(9)), u"Doc", u"Lab", 9},
        {start(0, false, 1, std::string("\x01Lab\0", 5) + le32(3)), u"Doc", u"Lab", 3},
        {start(0, false, 1, std::string("\x00", 1) + le32(4)), u"Doc", u"", 4},
        {start(0, false, 1, le32(5)), u"Doc", u"", 5},
        {start(0, false, 1, std::string("\x01Lab\xE9\0", 6) + le32(6)), u"Doc", u"Lab\uFFFD", 6},
    };
    for (const Row& r : rows) {
        // Heap copies sized exactly: a read past the message is caught.
        std::vector<uint8_t> exact(r.m.begin(), r.m.end());
        diPAIPHandleMessage(pc, exact.data(), uint32_t(exact.size()));
        EXPECT_EQ(r.title, pc->title);
        EXPECT_EQ(r.printer, pc->printer);
        EXPECT_EQ(r.attribute, pc->attribute);
    }
    uint32_t before = pc->state;
    for (const std::string& m :
         {std::string("\x02\x07\x00", 3), msg(2, 0, "\x01"), msg(1), msg(12), msg(4, 1)}) {
        std::vector<uint8_t> exact(m.begin(), m.end());
        diPAIPHandleMessage(pc, exact.data(), uint32_t(exact.size()));
    }
    EXPECT_EQ(before, pc->state);
}

// Messages after a status query are read by the resumed channel, without
// waiting for more bytes from the server.
TEST_F(PrintChannel, MessagesAfterStatusQueryResumeByTimer) {
    connect();
    std::vector<PFrame> sent = feed(msg(9, 1) + msg(10) + msg(10));
    EXPECT_EQ("5 ", types(sent));
    ASSERT_NE(nullptr, pc->ch.resumeTimer);
    // One message per resumption while the state stays 0.
    for (int i = 0; i < 2; i++) {
        g_now += 20;
        diTimerDispatch(g_now);
    }
    EXPECT_EQ("5 5 ", types(frames(g_fakeNet.sent)));
}

// Connection loss mid-job: the spool goes, printing pauses, stop is sent.
TEST_F(PrintChannel, ConnectionLossDropsTheSpool) {
    connect();
    feed(start(0, false, 1) + msg(4, 0, "part"));
    ASSERT_EQ(1u, g_fakePrint.files.size());
    for (int jobs : {0, 2}) {
        g_fakePrint.jobCount = jobs;
        pc->state = DI_PRINT_PRINTING;
        pc->connected = true;
        lose(&pc->ch);
        EXPECT_TRUE(g_fakePrint.files.empty());
        EXPECT_EQ(jobs ? uint32_t(DI_PRINT_PAUSED) : uint32_t(DI_PRINT_OFFLINE), pc->state);
        EXPECT_EQ("9 ", types(frames(g_fakeNet.sent)));
        g_fakeNet.sent.clear();
    }
}

// PDF spools outlive the job by the deletion delay; raw ones go at once.
TEST_F(PrintChannel, PdfSpoolsDeletedLater) {
    connect();
    feed(start(4, false, 1) + msg(4, 0, "%PDF-1.4") + msg(3));
    ASSERT_EQ(1u, g_fakePrint.prints.size());
    EXPECT_EQ(1, g_fakePrint.prints[0].kind);
    EXPECT_EQ(1u, g_fakePrint.files.size());
    EXPECT_EQ(1u, diPrintPendingDeletes());
    g_now += diPrintSweepDelays.periodMs;
    diTimerDispatch(g_now);
    EXPECT_TRUE(g_fakePrint.files.empty());
    EXPECT_EQ(0u, diPrintPendingDeletes());
}

// The hello fits the output buffer: whole entries are dropped from the
// front, the default printer (last) always stays.
TEST_F(PrintChannel, HelloFitsWithManyPrinters) {
    for (int printers : {1, 3, 100}) {
        SCOPED_TRACE(printers);
        std::u16string list = u"pn=@@QVL_PDF@@\ndp=\ndn=\n";
        for (int i = 0; i < printers; i++) {
            std::u16string n = u"Printer number " + std::u16string(1, char16_t(u'A' + i % 26)) +
                               std::u16string(size_t(i / 26 + 1), u'x');
            list += u"pn=" + n + u"\npo=LPT1:\ndp=drv.dll\ndn=Generic Driver " +
                    (i + 1 == printers ? u"DEFAULT" : u"other") + u"\n";
        }
        pc->client.list = list;
        pc->client.osWord = u"Windows2000";
        pc->printerType = u"PCL";
        diPAIPSendHello(pc, 3);
        std::vector<PFrame> f = frames(g_fakeNet.sent);
        g_fakeNet.sent.clear();
        ASSERT_EQ(1u, f.size());
        EXPECT_LE(f[0].payload.size() + 10, size_t(DI_PAIP_OUT_LIMIT));
        std::string text = f[0].payload.substr(10);
        EXPECT_EQ(std::string("os=Windows2000\npt=PCL\n"), text.substr(0, 22));
        EXPECT_NE(std::string::npos, text.find("DEFAULT\n"));
        EXPECT_EQ(text.size() - text.find("DEFAULT\n"), 8u); // the default ends it
        EXPECT_EQ(printers < 100, text.find("@@QVL_PDF@@") != std::string::npos);
    }
}

// The user's pause and resume, with and without queued jobs, and a job
// start while paused that only repeats the pause.
TEST_F(PrintChannel, PauseAndResume) {
    connect();
    g_fakePrint.jobCount = 0;
    diPrintPause(&pc->ch);
    EXPECT_EQ(uint32_t(DI_PRINT_OFFLINE), pc->state);
    // A start is answered with the pause even with no job pending.
    EXPECT_EQ("8 ", types(feed(start(1, false, 1))));
    g_fakePrint.jobCount = 1;
    diPrintPause(&pc->ch);
    EXPECT_EQ(uint32_t(DI_PRINT_PAUSED), pc->state);
    EXPECT_EQ("8 ", types(frames(g_fakeNet.sent)));
    g_fakeNet.sent.clear();
    EXPECT_EQ("8 ", types(feed(start(1, false, 1) + msg(4, 0, "x"))));
    EXPECT_EQ(0, g_fakePrint.opened);
    g_fakeNet.sent.clear();
    diPrintResume(&pc->ch);
    EXPECT_EQ(uint32_t(DI_PRINT_READY), pc->state);
    EXPECT_EQ(1, g_fakePrint.nextStarts);
    // A job spooled and ended while paused, other jobs queued or not, is
    // held as pending and prints at the resume.
    for (int jobs : {1, 0}) {
        g_fakePrint.jobCount = jobs;
        feed(start(0, false, 1));
        diPrintPause(&pc->ch);
        g_fakeNet.sent.clear();
        EXPECT_EQ("5 ", types(feed(msg(4, 0, kPage) + msg(3, 1))));
        EXPECT_EQ(uint32_t(DI_PRINT_PAUSED), pc->state);
        EXPECT_EQ(1, g_fakePrint.openNow) << "a held spool stays open against other sweeps";
        size_t printed = g_fakePrint.prints.size();
        diPrintResume(&pc->ch);
        ASSERT_EQ(printed + 1, g_fakePrint.prints.size());
        EXPECT_EQ(kPage, g_fakePrint.prints.back().content);
        EXPECT_EQ(0, g_fakePrint.openNow);
    }
    // A resume before the end of the job being received prints it whole.
    feed(start(0, false, 1) + msg(4, 0, kPage.substr(0, 9)));
    diPrintPause(&pc->ch);
    diPrintResume(&pc->ch);
    size_t printed = g_fakePrint.prints.size();
    feed(msg(4, 0, kPage.substr(9)) + msg(3, 0));
    ASSERT_EQ(printed + 1, g_fakePrint.prints.size());
    EXPECT_EQ(kPage, g_fakePrint.prints.back().content);
    EXPECT_TRUE(g_fakePrint.files.empty());
    // Data after a status query is the received job's all the same: the
    // resume does not print it cut.
    feed(start(0, false, 1) + msg(4, 0, kPage.substr(0, 9)) + msg(9) + msg(4, 0, kPage.substr(9)));
    diTimerDispatch(g_now += 20); // the reading resumed after the query
    diPrintPause(&pc->ch);
    diPrintResume(&pc->ch);
    feed(msg(3, 0));
    ASSERT_EQ(printed + 2, g_fakePrint.prints.size());
    EXPECT_EQ(kPage, g_fakePrint.prints.back().content);
    // A held job's end went to the server as printed: its print failing at
    // the resume, after the connection closed, is logged naming it.
    CLog log;
    diLogSet(&log);
    feed(start(0, false, 1) + msg(4, 0, kPage));
    diPrintPause(&pc->ch);
    feed(msg(3, 1));
    lose(&pc->ch);
    g_fakePrint.printFails = true;
    diPrintResume(&pc->ch);
    diLogSet(nullptr);
    ASSERT_EQ(1u, log.GetCount());
    EXPECT_EQ(u"Print job failed at the resume, Doc: Access is denied.",
              std::u16string(log.entries.head->item->text));
}

class PrintQueue : public PrintChannel {
  protected:
    void SetUp() override {
        PrintChannel::SetUp();
        g_fakeChannels.printCtor = makeReal;
        g_fakeChannels.printDtor = destroyReal;
    }
};

// Jobs are queued once, answered for the server to connect, and requested
// at once on a channel already connected to the same print service.
TEST_F(PrintQueue, JobsAndRequests) {
    CPrintJobQueue q;
    g_fakePrint.queue = &q;
    ASSERT_NE(nullptr, q.channel);
    DiPrintChannel* qc = reinterpret_cast<DiPrintChannel*>(q.channel);
    EXPECT_EQ(u"initializing", std::u16string(q.GetStateName()));
    q.AddJob(u"http://srv/a/_service/job1", u"m1");
    q.AddJob(u"", u"m2");
    EXPECT_EQ(std::vector<std::u16string>{u"http://srv/a/_service/job1"}, g_fakePrint.replies);
    EXPECT_EQ(u"http://srv/", qc->urlBase);
    // The server connects: start, its hello, our hello and the job request.
    startAndHello(q.channel);
    std::vector<PFrame> f = frames(g_fakeNet.sent);
    g_fakeNet.sent.clear();
    ASSERT_EQ("14 1 13 ", types(f));
    EXPECT_EQ(4, f[2].job);
    EXPECT_EQ("http://srv/a/_service/job1", f[2].payload);
    // Same service, connected, not printing: requested at once.
    qc->state = DI_PRINT_READY;
    q.AddJob(u"http://srv/b/_service/job2", u"m3");
    EXPECT_EQ("13 ", types(frames(g_fakeNet.sent)));
    EXPECT_EQ(u"printing", std::u16string(q.GetStateName()));
    // While printing a job is queued; a duplicate name is not.
    q.AddJob(u"http://srv/b/_service/job3", u"m4");
    q.AddJob(u"http://srv/b/_service/job3", u"m5");
    EXPECT_EQ(1, q.GetJobCount());
    // A job name or a message id one past its cap is refused.
    std::u16string longId(DI_PRINT_MAX_JOB_TEXT + 1, u'7');
    q.AddJob((u"http://srv/b/_service/" + std::u16string(DI_PRINT_MAX_JOB_TEXT, u'x')).c_str(),
             u"m6");
    q.AddJob(u"http://srv/b/_service/job7", longId.c_str());
    EXPECT_EQ((std::vector<std::u16string>{u"m6", longId}), g_fakePrint.faults);
    // Another service's job is requested only on the connection the server
    // makes for it: the one serving job 3 gets the stop alone.
    q.AddJob(u"http://other/c/_service/job8", u"m8");
    g_fakeNet.sent.clear();
    g_fakeNet.incoming = {msg(3), msg(3)};
    diPAIPReadMessages(qc);
    EXPECT_EQ("13 9 ", types(frames(g_fakeNet.sent)));
    g_fakeNet.sent.clear();
    startAndHello(q.channel);
    f = frames(g_fakeNet.sent);
    ASSERT_EQ("14 1 13 ", types(f));
    EXPECT_EQ("http://other/c/_service/job8", f[2].payload);
    CQVLList<CCapability> caps;
    q.AddPrinterCapabilities(&caps, true); // not described: nothing
    EXPECT_EQ(nullptr, caps.head);
    qc->client.description = u"os=Windows2000&driver=x.dll";
    qc->client.defaultName = u"Lab";
    qc->client.list = u"pn=Lab\ndp=x.dll\ndn=X\n";
    q.AddPrinterCapabilities(&caps, false); // no printer: nothing
    EXPECT_EQ(nullptr, caps.head);
    q.AddPrinterCapabilities(&caps, true);
    int n = 0;
    for (auto* i = caps.head; i; i = i->next)
        n++;
    EXPECT_EQ(8, n);
    EXPECT_EQ(u"Lab", q.lastPrinterName);
    EXPECT_EQ(qc->client.list, q.lastPrinterList);
    g_fakePrint.queue = nullptr;
}

// No job is lost: a failed login exchange leaves no printing state behind
// and lets the next job start, a job that waits for its connection is not
// overtaken by the next, a job that ends hands over to the next, the user's
// resume reports the job it starts, and a job that cannot start is answered
// with the print fault.
TEST_F(PrintQueue, EveryJobStartsOrIsAnswered) {
    CPrintJobQueue q;
    g_fakePrint.queue = &q;
    auto job = [](char16_t n) { return u"http://srv/a/_service/job" + std::u16string(1, n); };
    q.AddJob(job('1').c_str(), u"m1");
    q.AddJob(job('2').c_str(), u"m2");
    // Job 1's exchange failed (no start follows): job 2 is answered at
    // once, on a channel that has not yet printed.
    diPAIPExchangeEnded(q.channel, 0);
    EXPECT_EQ((std::vector<std::u16string>{job('1'), job('2')}), g_fakePrint.replies);
    q.AddJob(job('3').c_str(), u"m3"); // waits: job 2 is the one the hello requests
    startAndHello(q.channel, {start(1, false, 1), msg(3, 0)});
    q.AddJob(job('4').c_str(), u"m4"); // queued while job 3 is on the channel
    diPrintPause(q.channel);
    diPrintResume(q.channel);
    EXPECT_EQ(u"printing", std::u16string(q.GetStateName()));
    EXPECT_EQ(0, q.GetJobCount());
    // Jobs 3 and 4 went on job 2's connection, job 4 after the resume:
    // that closing before their starts puts both back before job 5, in
    // order, and job 3 is answered and requested on the next one.
    q.AddJob(job('5').c_str(), u"m5");
    lose(q.channel);
    EXPECT_EQ(job('3'), g_fakePrint.replies.back());
    startAndHello(q.channel);
    EXPECT_EQ(2, q.GetJobCount());
    std::string requested;
    for (const PFrame& f : frames(g_fakeNet.sent))
        if (f.type == 13) requested += f.payload.substr(f.payload.size() - 4) + " ";
    EXPECT_EQ("job2 job3 job4 job3 ", requested);
    g_fakePrint.queue = nullptr;
    g_fakeChannels.printCtor = nullptr;
    CPrintJobQueue none; // its channel could not be made
    none.AddJob(job('4').c_str(), u"m4");
    EXPECT_EQ(std::vector<std::u16string>{u"m4"}, g_fakePrint.faults);
    EXPECT_EQ(0, none.GetJobCount());
}

// A connection that closes takes no job with it unsaid: a job requested on
// it that did not print and needs only its first answer is queued again, in
// the order the jobs were requested, and asked for on the connection made
// for it; one answered already is logged, by its title when known; one that
// printed is neither. Every job ends once, whatever the order of the
// server's messages, the user's pause and the connection's end.
TEST_F(PrintQueue, AJobLostWithItsConnectionIsAskedForAgainOrLogged) {
    auto job = [](char n) { return u"http://srv/a/_service/job" + std::u16string(1, char16_t(n)); };
    const std::string one = start(1, false, 1) + msg(3); // job 1 prints
    auto titled = [](const char* t) {
        return start(0, false, 1, "", std::string(t) + std::string(1, '\0'));
    };
    struct Row {
        const char* what;
        // After job 1's request at the hello, job 2 queued: server messages,
        // or "pause", "resume", "add3" (job 3's print request), "minute"
        // or "half" (that long, half of it, with nothing from the server),
        // "restart" (the next
        // connection starts with no close seen), "refused" (a login exchange
        // ends without the start), "openfail" (no spool file).
        std::vector<std::string> steps;
        std::string answered; // jobs answered, in order
        std::string next;     // requested on the next connection
        size_t printed;
        std::u16string logged;          // in the one error, none when empty
        const char16_t* word = nullptr; // the state word after the steps, when given
    } rows[] = {
        {"requested at the hello, closed before its start", {}, "12", "job2", 0, job('1')},
        {"cut off, requested at the hello",
         {titled("Minutes") + msg(4, 0, "part")},
         "12",
         "job2",
         0,
         u"Minutes"},
        {"cut off, requested on the job before's connection",
         {one + start(0, false, 1) + msg(4, 0, "part")},
         "12",
         "job2",
         1,
         u""},
        {"printed before the close", {one + one}, "1", "", 2, u""},
        {"a start answered with the pause leaves its job requested, the next start takes it",
         {"pause", titled("Agenda"), "resume", titled("Agenda") + msg(3)},
         "12",
         "job2",
         1,
         u""},
        {"the pause holds a job queued while paused, and the server's start, which names its job",
         {"pause", "add3", one},
         "1",
         "",
         0,
         u"Doc"},
        {"the pause holds the queue at a close", {"pause"}, "1", "", 0, job('1')},
        {"a start while a job spools and another is requested moves on, the cut-off one logged",
         {titled("Minutes") + msg(4, 0, "part") + msg(9), "add3", titled("Agenda") + msg(3)},
         "13",
         "job3",
         1,
         u"Minutes"},
        {"a start takes the oldest of the jobs requested",
         {msg(9), "add3", titled("Agenda") + msg(4, 0, "part")},
         "12",
         "job2",
         0,
         u"Agenda"},
        {"a connection started with no close seen hands its jobs back or logs them",
         {"restart", one},
         "12",
         "job2",
         1,
         job('1')},
        {"the administrator's state ends the job being spooled, once; its return starts the "
         "job queued behind it",
         {titled("Budget") + msg(4, 0, "part") + msg(12, 0, "\x02") +
              msg(12, 0, std::string(1, '\0')),
          one},
         "1",
         "",
         1,
         u"Budget"},
        {"a status query on a connection holding no job starts the job queued behind it",
         {"restart", msg(9), one},
         "1",
         "",
         1,
         job('1')},
        {"a login exchange ended without its start, no job on the channel, starts the job queued "
         "behind it",
         {"restart", "refused", one},
         "1",
         "",
         1,
         job('1')},
        {"a connection silent for the minute is closed: a late start takes no job of it, its "
         "document is one of its own",
         {"minute", one},
         "12",
         "job2",
         1,
         job('1')},
        {"a job whose spool file cannot be made is logged by its title, not asked for again",
         {one, "openfail", titled("Report")},
         "1",
         "",
         1,
         u"Report"},
        {"a start answered with the pause names its job: the next job's start is not filed under "
         "it, and it is logged when the server never offers it again",
         {"pause", titled("Agenda"), "resume", titled("Minutes") + msg(4, 0, "m") + msg(3)},
         "1",
         "",
         1,
         u"Agenda"},
        {"a job cut off by a start offered again is asked for again after the jobs asked for "
         "meanwhile, and the server's next start is theirs",
         {"pause", titled("Agenda"), "resume", "pause", "resume", "add3", titled("Minutes"),
          titled("Agenda") + msg(3), titled("Budget") + msg(3)},
         "12",
         "job2",
         2,
         u""},
        {"the user's pause and resume do not restart the server's silent minute",
         {"half", "pause", "resume", "half"},
         "12",
         "job2",
         0,
         job('1'),
         u"offline"},
        {"a resume past the server's silent minute gives the connection up before asking for "
         "another job on it",
         {"pause", "minute", "resume"},
         "12",
         "job2",
         0,
         job('1'),
         u"ready"},
        {"a paused state follows the jobs leaving it: the one answered for its connection is not "
         "pending",
         {"minute"},
         "12",
         "job2",
         0,
         job('1'),
         u"offline"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        TearDown();
        SetUp();
        CPrintJobQueue q;
        g_fakePrint.queue = &q;
        CLog log;
        diLogSet(&log);
        q.AddJob(job('1').c_str(), u"m1");
        startAndHello(q.channel);
        q.AddJob(job('2').c_str(), u"m2");
        for (const std::string& step : r.steps) {
            if (step == "pause") {
                diPrintPause(q.channel);
            } else if (step == "resume") {
                diPrintResume(q.channel);
            } else if (step == "add3") {
                q.AddJob(job('3').c_str(), u"m3");
            } else if (step == "minute") {
                diTimerDispatch(g_now += diPrintHelloWaitMs);
            } else if (step == "half") {
                diTimerDispatch(g_now += diPrintHelloWaitMs / 2);
            } else if (step == "restart") {
                diPAIPSendStart(q.channel, 1);
            } else if (step == "refused") {
                diPAIPExchangeEnded(q.channel, 0);
            } else if (step == "openfail") {
                g_fakePrint.openFails = true;
            } else {
                g_fakeNet.incoming = {step};
                diPAIPReadMessages(reinterpret_cast<DiPrintChannel*>(q.channel));
            }
        }
        if (r.word) EXPECT_EQ(std::u16string(r.word), q.GetStateName());
        lose(q.channel);
        g_fakePrint.openFails = false;
        diLogSet(nullptr);
        std::string answered;
        for (const std::u16string& n : g_fakePrint.replies)
            answered += char(n.back());
        EXPECT_EQ(r.answered, answered);
        EXPECT_EQ(r.logged.empty() ? 0u : 1u, log.GetCount());
        if (log.GetCount() && !r.logged.empty()) {
            EXPECT_NE(std::u16string::npos,
                      std::u16string(log.entries.head->item->text).find(r.logged));
        }
        g_fakeNet.sent.clear();
        startAndHello(q.channel);
        std::string requested;
        for (const PFrame& f : frames(g_fakeNet.sent))
            if (f.type == 13) requested += f.payload.substr(f.payload.size() - 4);
        EXPECT_EQ(r.next, requested);
        EXPECT_EQ(r.printed, g_fakePrint.prints.size());
        g_fakePrint.queue = nullptr;
    }
}

// The session's end prints nothing the user's pause holds (the server was
// told the held document printed, and the user is signing out): every job
// left, held, being received, requested or queued, is named once in the
// event log, and no spool stays behind.
TEST_F(PrintQueue, TheSessionsEndNamesEveryJobLeftOnce) {
    CLog log;
    diLogSet(&log);
    {
        CPrintJobQueue q;
        g_fakePrint.queue = &q;
        q.AddJob(u"http://srv/a/_service/job1", u"m1");
        startAndHello(q.channel,
                      {start(0, false, 1, "", std::string("Agenda\0", 7)) + msg(4, 0, "page")});
        diPrintPause(q.channel);
        q.AddJob(u"http://srv/a/_service/job2", u"m2");
        g_fakeNet.incoming = {msg(3, 1)};
        diPAIPReadMessages(reinterpret_cast<DiPrintChannel*>(q.channel));
        ASSERT_EQ(u"paused", std::u16string(q.GetStateName()));
        g_fakePrint.queue = nullptr;
    }
    diLogSet(nullptr);
    EXPECT_TRUE(g_fakePrint.prints.empty());
    EXPECT_TRUE(g_fakePrint.files.empty());
    std::vector<std::u16string> lines;
    for (auto* e = log.entries.head; e; e = e->next)
        lines.push_back(e->item->text);
    EXPECT_EQ((std::vector<std::u16string>{
                  u"Print job not printed, printing was paused at the session's end: Agenda",
                  u"Print job not printed, the session ended: http://srv/a/_service/job2"}),
              lines);
}

// A job answered for the server to connect is given up, and the next one
// answered, when its connection ends before the hello or none comes in time.
TEST_F(PrintQueue, AJobWhoseConnectionNeverComesIsGivenUp) {
    for (bool connects : {true, false}) {
        SCOPED_TRACE(connects);
        TearDown();
        SetUp();
        CPrintJobQueue q;
        g_fakePrint.queue = &q;
        q.AddJob(u"http://srv/a/_service/job1", u"m1");
        q.AddJob(u"http://srv/a/_service/job2", u"m2");
        if (connects) {
            diPAIPSendStart(q.channel, 1);
            lose(q.channel);
        } else {
            g_now += diPrintHelloWaitMs;
            diTimerDispatch(g_now);
        }
        EXPECT_EQ(2u, g_fakePrint.replies.size());
        g_fakePrint.queue = nullptr;
    }
}

// A wait belongs to its job: its bound runs from the end of its connection's
// set-up (a certificate warning may hold that) and from the answer to a
// login dialog of that connection, a connection without a hello goes with
// its job, and what comes for a job given up is not the next one's.
TEST_F(PrintQueue, AWaitBelongsToItsJob) {
    CPrintJobQueue q;
    g_fakePrint.queue = &q;
    for (const char16_t* n : {u"job1", u"job2", u"job3", u"job4"})
        q.AddJob((u"http://srv/a/_service/" + std::u16string(n)).c_str(), n);
    auto after = [](uint32_t ms) { diTimerDispatch(g_now += ms); };
    uint32_t first = q.ConnectionStarting();
    after(2 * diPrintHelloWaitMs);
    q.ConnectionStarted(first);
    diPAIPSendStart(q.channel, 1);
    after(diPrintHelloWaitMs - 1);
    EXPECT_EQ(1u, g_fakePrint.replies.size()) << "the warning ate the bound";
    int closes = g_fakeNet.closes;
    after(1); // no hello: given up, its connection closed, job 2 answered
    EXPECT_EQ(closes + 1, g_fakeNet.closes);
    EXPECT_EQ(u"initializing", std::u16string(q.GetStateName()));
    q.ConnectionFailed(first); // late: job 2, answered, still waits
    EXPECT_EQ(2u, g_fakePrint.replies.size());
    q.ConnectionStarted(q.ConnectionStarting());
    after(diPrintHelloWaitMs);         // job 2's login outlasts it: job 3 answered
    diPAIPExchangeEnded(q.channel, 0); // job 2's login refused: job 3 waits on
    EXPECT_EQ(3u, g_fakePrint.replies.size());
    q.ConnectionStarted(q.ConnectionStarting());
    after(diPrintHelloWaitMs); // job 3's connection is late: job 4 answered
    g_fakeNet.sent.clear();
    diPAIPSendStart(q.channel, 1);
    EXPECT_EQ("", types(frames(g_fakeNet.sent))) << "closed before its start";
    q.ConnectionStarted(q.ConnectionStarting());
    diPAIPQuestionOpen(q.channel, 1); // a login dialog answered after two minutes
    after(2 * diPrintHelloWaitMs);
    diPAIPQuestionOpen(q.channel, 0);
    after(diPrintHelloWaitMs - 1);
    startAndHello(q.channel);
    std::vector<PFrame> f = frames(g_fakeNet.sent);
    ASSERT_EQ("14 1 13 ", types(f));
    EXPECT_EQ("http://srv/a/_service/job4", f[2].payload);
    // An answer without a question still waiting gives the next job's wait
    // its whole minute from then, not an endless one.
    q.AddJob(u"http://other/b/_service/job5", u"m5");
    q.AddJob(u"http://other/b/_service/job6", u"m6");
    g_fakeNet.incoming = {start(0, false, 1), msg(3)}; // job 4 ends: job 5 answered
    diPAIPReadMessages(reinterpret_cast<DiPrintChannel*>(q.channel));
    q.ConnectionStarted(q.ConnectionStarting());
    diPAIPQuestionOpen(q.channel, 1);
    diPAIPQuestionOpen(q.channel, 0);
    after(diPrintHelloWaitMs);
    EXPECT_EQ(6u, g_fakePrint.replies.size()) << "job 5 still waits";
    g_fakePrint.queue = nullptr;
}

// A server cannot make the queue hold more than its ceilings: long names
// are refused before they are kept or compared, and jobs past the count
// are answered with the print fault.
TEST_F(PrintQueue, JobsStopAtTheCeilings) {
#ifndef HV_COUNTS_ALLOCATIONS
    GTEST_SKIP() << "needs the sanitizer's allocation count";
#endif
    CPrintJobQueue q;
    reinterpret_cast<DiPrintChannel*>(q.channel)->state = DI_PRINT_PRINTING;
    std::u16string longName(200000, u'x');
    size_t before = iowire::heldBytes();
    for (int i = 0; i < 2200; i++) {
        std::string n = std::to_string(i);
        std::u16string name = u"http://srv/a/_service/" + std::u16string(n.begin(), n.end());
        if (i < 200) name = longName.replace(0, n.size(), name.substr(name.size() - n.size()));
        q.AddJob(name.c_str(), u"m");
        ASSERT_LT(iowire::heldBytes() - before, 8u << 20) << "after " << i << " jobs";
    }
    EXPECT_EQ(int(DI_PRINT_MAX_JOBS), q.GetJobCount());
    EXPECT_EQ(2200 - DI_PRINT_MAX_JOBS, g_fakePrint.faults.size());
}

} // namespace
