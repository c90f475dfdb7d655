// The smart-card class on the scripted PC/SC service: reply bytes, a table
// of hostile calls (each answered with a status and without reaching the
// service where it must not), and sessions ended under blocked workers.
#include <gtest/gtest.h>

#include "devices/fake_pcsc.h"
#include "devices/scard_ndr.h"
#include "fakes/device_fakes.h"

#include <algorithm>
#include <thread>

#include "core/ditimedwait.h"

using namespace scardndr;

namespace {

class SCard : public ::testing::Test {
  protected:
    void SetUp() override {
        deviceFakesReset();
        fakePcscReset();
        diSCardRegisterClass(&cls);
        session = static_cast<DiSCardSession*>(cls.createSession(&cls));
        ctx = establish(session);
    }
    void TearDown() override {
        if (session) cls.destroySession(&cls, session);
        runDeviceThreads();
        EXPECT_EQ(0, g_pcsc.autoAllocated);
        EXPECT_EQ(0, g_pcsc.startEventsLive);
        EXPECT_TRUE(g_pcsc.cards.empty());
        EXPECT_TRUE(g_pcsc.contexts.empty());
    }
    uint32_t establish(DiSCardSession* s) {
        Reply r; // runs at once: other sessions' workers stay queued
        submit(cls, s, 5, Ndr().u32(0), 1024, 14, &r);
        return r.ok() ? rd32(r.out, 32) : 0;
    }
    uint32_t connect(DiSCardSession* s, uint32_t context) {
        Reply r = call(cls, s, 43, connectA(context, "Reader A"));
        return r.rc() == 0 ? rd32(r.out, 52) : 0;
    }
    DiDeviceClass cls = {};
    DiSCardSession* session = nullptr;
    uint32_t ctx = 0;
};

TEST_F(SCard, RepliesMatchHandWrittenBytes) {
    fakePcscTakeLog();
    // Establish: ReturnCode 0, cbContext 4, referent 0x00020000, then the
    // deferred array (count 4, the context), padded to 24 data bytes.
    Reply r = call(cls, session, 5, Ndr().u32(2));
    EXPECT_EQ(strip("01100800CCCCCCCC 18000000 00000000"
                    "00000000 04000000 00000200 04000000 01010000 00000000"),
              hex(r.out));
    // An unknown context: Long_Return with the error, 8 data bytes, and the
    // service never asked.
    r = call(cls, session, 42, contextCall(0x999));
    EXPECT_EQ(strip("01100800CCCCCCCC 08000000 00000000 03001080 00000000"), hex(r.out));
    // ListReadersA into 19 bytes: ReturnCode, cBytes 19, referent, count
    // 19, the list, padding to 40.
    r = call(cls, session, 10, listReaders(ctx, false, 19));
    EXPECT_EQ(strip("01100800CCCCCCCC 28000000 00000000"
                    "00000000 13000000 00000200 13000000"
                    "5265616465722041 00 5265616465722042 0000 0000000000"),
              hex(r.out));
    EXPECT_EQ(56u, r.returned);
    EXPECT_EQ("SCardEstablishContext(2);SCardListReadersA(256,19);", fakePcscTakeLog());
}

TEST_F(SCard, ListCallsSizeBuffersAndServiceAllocations) {
    struct Row {
        uint32_t fn;
        bool isNull;
        uint32_t count, outLen;
        uint32_t passed; // characters the service was given (0: size query)
        uint32_t cBytes; // in the reply
        bool carried;
    } rows[] = {
        {10, true, 0, 1024, 0, 19, false},                   // size query
        {11, true, 0, 1024, 0, 38, false},                   // W: bytes
        {11, false, 40, 1024, 20, 38, true},                 // W count halved
        {10, false, 0xFFFFFFFF, 1024, 0xFFFFFFFF, 19, true}, // service-allocated
        {11, false, 0xFFFFFFFF, 1024, 0xFFFFFFFF, 38, true},
        {10, false, 0x7FFFFFFF, 200, 200, 19, true}, // capped to what a reply carries
        {8, false, 19, 1024, 19, 19, true},
    };
    for (const Row& w : rows) {
        SCOPED_TRACE(w.fn);
        Ndr in = w.fn == 8 ? Ndr().ctxHead().u32(w.isNull).u32(w.count).ctxBytes(ctx)
                           : listReaders(ctx, w.fn == 11, w.count, w.isNull);
        Reply r = call(cls, session, w.fn, in, w.outLen);
        ASSERT_EQ(0, r.rc());
        EXPECT_EQ(w.isNull ? 0u : w.passed, w.isNull ? 0u : g_pcsc.lastChars);
        EXPECT_EQ(w.cBytes, rd32(r.out, 20));
        EXPECT_EQ(w.carried ? 0x20000u : 0u, rd32(r.out, 24));
        EXPECT_EQ(w.carried ? w.cBytes : 0u, w.carried ? rd32(r.out, 28) : 0u);
    }
    // A service that claims more than the buffer it was given: nothing is
    // copied from past the buffer.
    g_pcsc.overstate = true;
    EXPECT_EQ(0xC0020005u, call(cls, session, 10, listReaders(ctx, false, 19), 8192).status);
}

// Every row must be answered without touching memory outside the decoded
// copies (ASan) and, where it says so, without reaching the service.
TEST_F(SCard, HostileCallsAreRefused) {
    uint32_t card = connect(session, ctx);
    DiSCardSession* other = static_cast<DiSCardSession*>(cls.createSession(&cls));
    uint32_t otherCtx = establish(other);
    uint32_t otherCard = connect(other, otherCtx);
    std::string named = "Reader A";
    struct Row {
        const char* what;
        uint32_t fn;
        Ndr in;
        uint32_t status, rc;
        bool reachesService;
        uint32_t major = 14, outLen = 1024;
    } rows[] = {
        {"function 64", 64, contextCall(ctx), 0xC0000010, 0, false},
        {"function 12", 12, contextCall(ctx), 0xC0000010, 0, false},
        {"function 60", 60, contextCall(ctx), 0xC0000010, 0, false},
        {"major 3", 6, contextCall(ctx), 0xC0000010, 0, false, 3},
        {"15 bytes", 7, Ndr::raw(std::string(15, '\0')), 0xC0000023, 0, false},
        {"object length past the input", 7,
         Ndr::raw(unhex("01100800CCCCCCCC 20000000 00000000"
                        "04000000 00000200")),
         0xC0000023, 0, false},
        {"output of 15 bytes", 7, contextCall(ctx), 0xC0000023, 0, true, 14, 15},
        {"output too small", 10, listReaders(ctx, false, 19), 0xC0020005, 0, true, 14, 40},
        {"context length 8", 7, Ndr().u32(8).ptr().ctxBytes(ctx), 0xC0020005, 0, false},
        {"context bytes 8", 7, Ndr().ctxHead().align().u32(8).u32(ctx).u32(0), 0xC0020005, 0,
         false},
        {"null context referent", 7, Ndr().u32(4).u32(0).ctxBytes(ctx), 0xC0020005, 0, false},
        {"truncated scope", 5, Ndr::raw(unhex("01100800CCCCCCCC 00000000 00000000 0100")),
         0xC0020005, 0, false},
        {"unterminated string", 20, Ndr().ctxHead().ptr().ctxBytes(ctx).strA("grp", false),
         0xC0020005, 0, false},
        {"unterminated W string", 21, Ndr().ctxHead().ptr().ctxBytes(ctx).strW(u"g", false),
         0xC0020005, 0, false},
        {"groups without two NULs", 10,
         Ndr().ctxHead().u32(4).ptr().u32(0).u32(19).ctxBytes(ctx).array("ab\0c", 4), 0xC0020005, 0,
         false},
        {"groups count disagrees", 10,
         Ndr().ctxHead().u32(8).ptr().u32(0).u32(19).ctxBytes(ctx).array("ab\0\0", 4), 0xC0020005,
         0, false},
        {"reader count wraps a 32-bit size", 40, getStatusChange(ctx, 0x04924925, 0x04924925, 1),
         0xC0020005, 0, false},
        {"12 readers", 40, getStatusChange(ctx, 12, 12, 12), 0xC0020005, 0, false},
        {"cReaders above the array", 40, getStatusChange(ctx, 3, 1, 1), 0xC0020005, 0, false},
        {"state cbAtr 37", 40, getStatusChange(ctx, 1, 1, 1, 37), 0xC0020005, 0, false},
        {"states past the input", 40, getStatusChange(ctx, 2, 2, 1), 0xC0020005, 0, false},
        {"unnamed state", 40, getStatusChange(ctx, 1, 1, 1, 0, false), 0, 0, true},
        {"unrecorded context", 40, getStatusChange(0x999, 1, 1, 1), 0, 0x80100003, false},
        {"other session's context", 11, listReaders(otherCtx, true, 20), 0, 0x80100003, false},
        {"other session's card", 46, Ndr().cardHead().u32(0).cardBytes(otherCtx, otherCard), 0,
         0x80100003, false},
        {"transmit length above the array", 52, transmit(ctx, card, 100, "\x00\xA4", 2, 258),
         0xC0020005, 0, false},
        {"extra bytes above the array", 52,
         Ndr()
             .cardHead()
             .u32(2)
             .u32(8)
             .ptr()
             .u32(0)
             .u32(0)
             .u32(0)
             .u32(1)
             .u32(0)
             .cardBytes(ctx, card)
             .array("abcd", 4),
         0xC0020005, 0, false},
        {"receive length beyond the reply", 52, transmit(ctx, card, 2, "\x00\xA4", 2, 0x7FFFFFF0),
         0, 0, true},
        {"ATR mask cbAtr 37", 58, locateByAtr(ctx, 1, 1, 37), 0xC0020005, 0, false},
        {"mask count above the array", 58, locateByAtr(ctx, 2, 1, 4), 0xC0020005, 0, false},
        {"odd W reader length", 51, Ndr().cardHead().u32(0).u32(21).u32(32).cardBytes(ctx, card),
         0xC0020005, 0, false},
        {"State asks the service's allocation", 49,
         Ndr().cardHead().u32(0).u32(0xFFFFFFFF).cardBytes(ctx, card), 0, 0, true},
        {"attribute of the service's allocation", 54,
         Ndr().cardHead().u32(0x90303).u32(0).u32(0xFFFFFFFF).cardBytes(ctx, card), 0, 0, true},
        {"attribute larger than the reply", 54,
         Ndr().cardHead().u32(0x90303).u32(0).u32(0xFFFFFFF0).cardBytes(ctx, card), 0, 0, true},
        {"control output larger than the reply", 53,
         Ndr().cardHead().u32(1).u32(0).u32(0).u32(0).u32(0x7FFFFFFF).cardBytes(ctx, card), 0, 0,
         true},
    };
    for (Row& w : rows) {
        SCOPED_TRACE(w.what);
        fakePcscTakeLog();
        Reply r = call(cls, session, w.fn, w.in, w.outLen, w.major);
        EXPECT_EQ(w.status, r.status);
        if (w.status) {
            EXPECT_EQ(0u, r.returned);
        } else {
            EXPECT_EQ(w.rc, uint32_t(r.rc()));
        }
        EXPECT_EQ(w.reachesService, !fakePcscTakeLog().empty());
        EXPECT_LE(g_pcsc.lastLen, 1024u);
        g_pcsc.lastLen = 0;
    }
    cls.destroySession(&cls, other);
}

TEST_F(SCard, ErrorsEmptyVariableResultsAndKeepFixedFields) {
    uint32_t card = connect(session, ctx);
    g_pcsc.fail["SCardStatusA"] = int32_t(0x80100069);
    Reply r = call(cls, session, 50, Ndr().cardHead().u32(0).u32(64).u32(32).cardBytes(ctx, card));
    ASSERT_EQ(0u, r.status);
    // ReturnCode, cBytes 0, null names, state 6, protocol 2, 32-byte ATR,
    // cbAtrLen as left.
    EXPECT_EQ(0x80100069u, uint32_t(r.rc()));
    EXPECT_EQ(0u, rd32(r.out, 20));
    EXPECT_EQ(0u, rd32(r.out, 24));
    EXPECT_EQ(6u, rd32(r.out, 28));
    EXPECT_EQ(2u, rd32(r.out, 32));
    EXPECT_EQ(32u, rd32(r.out, 68));
    EXPECT_EQ(72u, r.returned);
    // A 33-byte ATR from the service: the reply's field holds 32.
    g_pcsc.fail.clear();
    g_pcsc.longAtr = true;
    r = call(cls, session, 50, Ndr().cardHead().u32(0).u32(64).u32(36).cardBytes(ctx, card));
    EXPECT_EQ(0, r.rc());
    EXPECT_EQ(32u, rd32(r.out, 68));
}

TEST_F(SCard, CallsReachTheServiceWithTheirArguments) {
    uint32_t card = connect(session, ctx);
    fakePcscTakeLog();
    Reply r = call(cls, session, 52, transmit(ctx, card, 4, "\x00\xB0\x00\x00", 4, 300));
    EXPECT_EQ(0, r.rc());
    EXPECT_EQ(6u, rd32(r.out, 24)); // cbRecvLength: reversed command and 90 00
    EXPECT_EQ(strip("0000B000 9000"), hex(r.out.substr(36, 6))); // reversed, 90 00
    call(cls, session, 50, Ndr().cardHead().u32(0).u32(64).u32(36).cardBytes(ctx, card));
    call(cls, session, 49, Ndr().cardHead().u32(0).u32(0xFFFFFFFF).cardBytes(ctx, card));
    call(cls, session, 45, Ndr().cardHead().u32(2).u32(3).u32(1).cardBytes(ctx, card));
    call(cls, session, 47, Ndr().cardHead().u32(5).cardBytes(ctx, card));
    call(cls, session, 48, Ndr().cardHead().u32(1).cardBytes(ctx, card));
    call(cls, session, 55,
         Ndr().cardHead().u32(7).u32(2).ptr().cardBytes(ctx, card).array("xy", 2));
    call(cls, session, 29, Ndr().ctxHead().ptr().ptr().ctxBytes(ctx).strW(u"R").strW(u"G"));
    call(cls, session, 38, locate(ctx));
    call(cls, session, 7, contextCall(ctx));
    call(cls, session, 46, Ndr().cardHead().u32(1).cardBytes(ctx, card));
    std::string c = std::to_string(card), x = std::to_string(ctx);
    EXPECT_EQ("SCardTransmit(" + c + ",pci2/8,4,300);SCardStatusA(" + c + ",64,36);SCardStatusA(" +
                  c + ",256,36);SCardReconnect(" + c + ",2,3,1);SCardBeginTransaction(" + c +
                  ");SCardEndTransaction(" + c + ",1);SCardSetAttrib(" + c + ",7,2);admin29(" + x +
                  ",s,s);SCardLocateCardsA(" + x + ",1);SCardIsValidContext(" + x +
                  ");SCardDisconnect(" + c + ",1);",
              fakePcscTakeLog());
}

TEST_F(SCard, MissingOptionalEntriesAnswerInternalError) {
    cls.destroySession(&cls, session);
    g_pcsc.noOptional = g_pcsc.noStartEvent = true;
    fakePcscInstall();
    session = static_cast<DiSCardSession*>(cls.createSession(&cls));
    ctx = establish(session);
    EXPECT_EQ(0x80100001u, uint32_t(call(cls, session, 7, contextCall(ctx)).rc()));
    EXPECT_EQ(0x80100001u, uint32_t(call(cls, session, 58, locateByAtr(ctx, 1, 1, 4)).rc()));
    EXPECT_EQ(0x80100001u, uint32_t(call(cls, session, 59, locateByAtr(ctx, 1, 1, 4, true)).rc()));
    // Without a start event the wait answers at once.
    EXPECT_EQ(0, call(cls, session, 56, Ndr()).rc());
    EXPECT_EQ(0, call(cls, session, 57, Ndr()).rc());
}

// 10,000 status changes that would block take the channel's workers up to
// its cap; the rest, and every call that would need a worker meanwhile, are
// answered busy at once without reaching the service, each in the shape of
// the service's own busy answer; a refused reconnect or disconnect leaves
// the card to the session.
TEST_F(SCard, CallsPastTheWorkerCapAnswerBusy) {
    uint32_t card = connect(session, ctx);
    uint32_t workers = 0;
    const int32_t kBusy = int32_t(DI_SCARD_E_SERVER_TOO_BUSY);
    std::vector<Reply> waits(10000);
    fakePcscTakeLog();
    for (Reply& r : waits)
        submit(cls, session, 40, getStatusChange(ctx, 1, 1, 1), 1024, 14, &r, &workers);
    EXPECT_EQ(DI_DEV_MAX_WORKERS, g_fakeThreads.workers.size());
    EXPECT_EQ(waits.size() - DI_DEV_MAX_WORKERS,
              size_t(std::count_if(waits.begin(), waits.end(),
                                   [&](const Reply& r) { return r.ok() && r.rc() == kBusy; })));
    Ndr onCard = Ndr().cardHead().u32(1).cardBytes(ctx, card);
    struct Row {
        uint32_t fn;
        Ndr in;
        bool asTheService; // the service's busy answer has the same length
    } rows[] = {
        {43, connectA(ctx, "Reader A"), true},
        {48, onCard, true},
        {49, Ndr().cardHead().u32(0).u32(36).cardBytes(ctx, card), true},
        {52, transmit(ctx, card, 4, "\x00\xB0\x00\x00", 4, 300), true},
        {55, Ndr().cardHead().u32(7).u32(2).ptr().cardBytes(ctx, card).array("xy", 2), true},
        {56, Ndr(), false},
        {45, Ndr().cardHead().u32(2).u32(3).u32(1).cardBytes(ctx, card), false},
        {46, onCard, false},
    };
    Reply refused[sizeof rows / sizeof rows[0]];
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; i++) {
        SCOPED_TRACE(rows[i].fn);
        submit(cls, session, rows[i].fn, rows[i].in, 1024, 14, &refused[i], &workers);
        ASSERT_TRUE(refused[i].ok());
        EXPECT_EQ(kBusy, refused[i].rc());
    }
    EXPECT_EQ("", fakePcscTakeLog());
    EXPECT_EQ(DI_DEV_MAX_WORKERS, g_fakeThreads.workers.size());
    runDeviceThreads();
    EXPECT_EQ(0u, workers);
    g_pcsc.failAll = kBusy;
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; i++) {
        if (!rows[i].asTheService) continue;
        EXPECT_EQ(call(cls, session, rows[i].fn, rows[i].in).out.size(), refused[i].out.size())
            << rows[i].fn;
    }
    g_pcsc.failAll = 0;
    EXPECT_EQ(0, call(cls, session, 46, onCard).rc());
}

TEST_F(SCard, FailedReconnectForgetsTheCard) {
    uint32_t card = connect(session, ctx);
    g_pcsc.fail["SCardReconnect"] = int32_t(0x80100069);
    call(cls, session, 45, Ndr().cardHead().u32(2).u32(3).u32(1).cardBytes(ctx, card));
    fakePcscTakeLog();
    cls.destroySession(&cls, session);
    session = nullptr;
    EXPECT_EQ("SCardCancel(" + std::to_string(ctx) + ");SCardReleaseContext(" +
                  std::to_string(ctx) + ");SCardReleaseStartedEvent;",
              fakePcscTakeLog());
}

// Sessions ended while their workers block in a status change, wait for
// the start event (or are about to), or finish a connect: every record is
// freed once, after its last worker, and no card stays connected.
TEST_F(SCard, SessionsEndUnderBlockedWorkers) {
    cls.destroySession(&cls, session);
    session = nullptr;
    g_pcsc.blockStatusChange = g_pcsc.blockConnect = true;
    const int kBatch = 50;
    for (int round = 0; round < 20; round++) {
        std::vector<DiSCardSession*> sessions;
        std::vector<std::thread> threads;
        auto startWorkers = [&] {
            while (!g_fakeThreads.workers.empty()) {
                DiDeviceRequest* q = g_fakeThreads.workers.front();
                g_fakeThreads.workers.pop_front();
                threads.emplace_back(diDeviceWorkerThread, reinterpret_cast<uintptr_t>(q));
            }
        };
        for (int i = 0; i < kBatch; i++) {
            DiSCardSession* s = static_cast<DiSCardSession*>(cls.createSession(&cls));
            uint32_t c = establish(s);
            submit(cls, s, 40, getStatusChange(c, 1, 1, 1));
            submit(cls, s, 43, connectA(c, "Reader A"));
            if (round % 2 == 0) submit(cls, s, 56, Ndr());
            sessions.push_back(s);
        }
        startWorkers();
        fakePcscWaitBlocked(kBatch * (round % 2 == 0 ? 3 : 2));
        if (round % 2) // start-event waits that begin after the session ended
            for (DiSCardSession* s : sessions)
                submit(cls, s, 56, Ndr());
        for (DiSCardSession* s : sessions)
            cls.destroySession(&cls, s);
        startWorkers();
        fakePcscReleaseConnects();
        for (std::thread& t : threads)
            t.join();
        runCompletions();
        ASSERT_TRUE(g_pcsc.cards.empty());
        ASSERT_TRUE(g_pcsc.contexts.empty());
        ASSERT_EQ(0, g_pcsc.startEventsLive);
        ASSERT_EQ(0, g_fakeThreads.handlesOpen);
        fakePcscReset();
        g_pcsc.blockStatusChange = g_pcsc.blockConnect = true;
    }
    fakePcscReset();
}

// The host's service loses a cancel that comes before the call waits, and
// its release waits for the call: a session ended while its status change
// is still on the way in must cancel it once it waits, or the end blocks.
TEST_F(SCard, SessionEndCancelsAStatusChangeStillOnItsWayIn) {
    g_pcsc.blockStatusChange = g_pcsc.lateCancel = g_pcsc.holdEntry = true;
    Reply r;
    submit(cls, session, 40, getStatusChange(ctx, 1, 1, 1), 1024, 14, &r);
    ASSERT_EQ(1u, g_fakeThreads.workers.size());
    std::thread worker(diDeviceWorkerThread, reinterpret_cast<uintptr_t>(g_fakeThreads.workers[0]));
    g_fakeThreads.workers.clear();
    fakePcscWaitHeld(1);
    DiMutex m;
    DiCondition c;
    bool finished = false;
    std::thread ender([&] {
        cls.destroySession(&cls, session);
        std::lock_guard<DiMutex> g(m);
        finished = true;
        c.notifyAll();
    });
    while (fakePcscTakeLog().find("SCardCancel") == std::string::npos)
        diSleepMs(1);
    fakePcscReleaseEntries();
    bool done;
    {
        std::unique_lock<DiMutex> g(m);
        done = c.waitFor(g, 10000, [&] { return finished; });
    }
    EXPECT_TRUE(done) << "the session's end waits behind a status change never cancelled";
    if (!done) fakePcscInsert();
    ender.join();
    worker.join();
    session = nullptr;
    runCompletions();
    EXPECT_EQ(uint32_t(0x80100002), uint32_t(r.rc()));
}

} // namespace
