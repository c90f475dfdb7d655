// The Windows layer of smart-card redirection against the stand-in
// winscard.dll beside this program: the reader probe's scopes, calls through
// the forwarders on real worker threads, and the start-event emulation. The
// second build runs against a stand-in without the five optional entries.
#include <gtest/gtest.h>

#include "core/diapp.h"
#include "devices/ddscard.h"
#include "devices/scard_ndr.h"

using namespace scardndr;

namespace {

#ifdef HV_STANDIN_MINIMAL
const bool kOptional = false;
#else
const bool kOptional = true;
#endif

typedef void(WINAPI* ScriptFn)(const char*);
typedef const char*(WINAPI* LogFn)();
typedef void(WINAPI* StartedFn)();

FARPROC standin(const char* name) {
    return GetProcAddress(GetModuleHandleW(L"winscard.dll"), name);
}

void script(const char* s) {
    reinterpret_cast<ScriptFn>(reinterpret_cast<void*>(standin("HvStandinScript")))(s);
}

std::string takeLog() {
    return reinterpret_cast<LogFn>(reinterpret_cast<void*>(standin("HvStandinTakeLog")))();
}

// Completions of worker requests arrive as APCs of this thread.
void waitFor(const Reply& r) {
    for (int i = 0; !r.done && i < 600; i++)
        SleepEx(100, TRUE);
}

class DdSCard : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(standin("HvStandinScript")) << "the stand-in winscard.dll is not loaded";
        script("");
        ASSERT_EQ(1, ddSCardLoad());
        diSCardRegisterClass(&cls);
        session = static_cast<DiSCardSession*>(cls.createSession(&cls));
        Reply r;
        submit(cls, session, 5, Ndr().u32(0), 1024, 14, &r);
        ctx = rd32(r.out, 32);
    }
    void TearDown() override {
        if (session) cls.destroySession(&cls, session);
        ddSCardUnload();
    }
    Reply run(uint32_t fn, const Ndr& in) {
        Reply r;
        submit(cls, session, fn, in, 1024, 14, &r);
        waitFor(r);
        return r;
    }
    DiDeviceClass cls = {};
    DiSCardSession* session = nullptr;
    uint32_t ctx = 0;
};

TEST_F(DdSCard, ReaderProbeTriesUserScopeThenSystem) {
    struct Row {
        const char* script;
        int present;
    } rows[] = {{"", 1}, {"userempty", 1}, {"nouser", 1}, {"empty", 0}, {"nouser empty", 0}};
    for (const Row& w : rows) {
        SCOPED_TRACE(w.script);
        script(w.script);
        EXPECT_EQ(w.present, ddSCardReadersPresent());
    }
}

TEST_F(DdSCard, CallsReachWinscardWithTheirArguments) {
    takeLog();
    Reply r = run(11, listReaders(ctx, true, 0xFFFFFFFF));
    EXPECT_EQ(38u, rd32(r.out, 20));
    r = run(44, Ndr().ptr().ctxHead().u32(2).u32(3).strW(u"Reader A").ctxBytes(ctx));
    ASSERT_EQ(0, r.rc());
    uint32_t card = rd32(r.out, 52);
    r = run(52, transmit(ctx, card, 4, "\x00\xA4\x04\x00", 4, 258));
    EXPECT_EQ(6u, rd32(r.out, 24));
    run(50, Ndr().cardHead().u32(0).u32(64).u32(32).cardBytes(ctx, card));
    std::string c = std::to_string(card), x = std::to_string(ctx);
    EXPECT_EQ("SCardListReadersW(" + x + ",4294967295);SCardFreeMemory;SCardConnectW(" + x +
                  ",2,3);SCardTransmit(" + c + ",pci2/8,4,258);SCardStatusA(" + c + ",64,32);",
              takeLog());
    cls.destroySession(&cls, session);
    session = nullptr;
    // The service's start event is released first, before the cards.
    EXPECT_EQ(std::string(kOptional ? "SCardReleaseStartedEvent;" : "") + "SCardDisconnect(" + c +
                  ",0);SCardCancel(" + x + ");SCardReleaseContext(" + x + ");",
              takeLog());
}

TEST_F(DdSCard, StartEventWaitsEndWithTheServiceOrTheSession) {
    Reply started;
    submit(cls, session, 56, Ndr(), 1024, 14, &started);
    if (kOptional) {
        EXPECT_FALSE(started.done);
        reinterpret_cast<StartedFn>(reinterpret_cast<void*>(standin("HvStandinServiceStarted")))();
    }
    waitFor(started);
    EXPECT_EQ(0, started.rc());
    // Waits pending (or only about to begin) when the session ends.
    script("");
    Reply pending[3];
    for (Reply& p : pending)
        submit(cls, session, 56, Ndr(), 1024, 14, &p);
    cls.destroySession(&cls, session);
    session = nullptr;
    for (Reply& p : pending) {
        waitFor(p);
        EXPECT_EQ(0, p.rc());
    }
    EXPECT_EQ(kOptional ? "SCardReleaseStartedEvent;SCardCancel(256);SCardReleaseContext(256);"
                        : "SCardCancel(256);SCardReleaseContext(256);",
              takeLog());
}

TEST_F(DdSCard, OptionalEntriesAnswerInternalErrorWhenMissing) {
    uint32_t want = kOptional ? 0 : 0x80100001;
    EXPECT_EQ(want, uint32_t(run(7, contextCall(ctx)).rc()));
    EXPECT_EQ(want, uint32_t(run(58, locateByAtr(ctx, 1, 1, 4)).rc()));
    EXPECT_EQ(want, uint32_t(run(59, locateByAtr(ctx, 1, 1, 4, true)).rc()));
}

} // namespace
