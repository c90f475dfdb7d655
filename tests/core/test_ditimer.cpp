// The timer list on its own: the Windows side (allocation, clock) is
// replaced by a fake clock so that due times and the counter wrap can be
// set exactly.
#include <gtest/gtest.h>

#include "core/ditimer.h"

#include <stdlib.h>

#include <string>
#include <vector>

static uint32_t g_now;
static int g_allocated;

DiTimer* ddTimerAlloc(uint32_t) {
    g_allocated++;
    return static_cast<DiTimer*>(calloc(1, sizeof(DiTimer)));
}

void ddTimerFree(DiTimer* t) {
    g_allocated--;
    free(t);
}

uint32_t ddTimerNow(void) {
    return g_now;
}

namespace {

struct Probe {
    std::string name;
    std::vector<uint32_t> results; // next delay per run; 0 ends
    size_t runs = 0;
    std::vector<std::string>* log = nullptr;
    DiTimer* toRemove = nullptr;
    Probe* toAdd = nullptr;
    uint32_t addDelay = 0;
};

uint32_t probeRun(void* arg) {
    Probe* p = static_cast<Probe*>(arg);
    if (p->log) p->log->push_back(p->name);
    uint32_t r = p->runs < p->results.size() ? p->results[p->runs] : 0;
    p->runs++;
    if (p->toRemove) {
        diTimerRemove(p->toRemove);
        p->toRemove = nullptr;
    }
    if (p->toAdd) {
        diTimerAdd(p->addDelay, probeRun, p->toAdd);
        p->toAdd = nullptr;
    }
    return r;
}

class TimerList : public ::testing::Test {
  protected:
    void TearDown() override {
        while (DiTimer* t = diTimerHead())
            diTimerRemove(t);
        EXPECT_EQ(g_allocated, 0);
    }
    std::vector<std::string> log;
};

TEST_F(TimerList, RunsDueTimersInArmingOrderWithOneNow) {
    g_now = 1000;
    Probe a{"a", {0}}, b{"b", {0}}, c{"c", {0}};
    a.log = b.log = c.log = &log;
    diTimerAdd(50, probeRun, &a);
    diTimerAdd(10, probeRun, &b);
    diTimerAdd(200, probeRun, &c);
    diTimerDispatch(1049);
    EXPECT_EQ(log, (std::vector<std::string>{"b"}));
    diTimerDispatch(1050);
    EXPECT_EQ(log, (std::vector<std::string>{"b", "a"}));
    EXPECT_EQ(c.runs, 0u);
}

TEST_F(TimerList, NonZeroResultRearmsFromNowAndZeroEnds) {
    g_now = 0;
    Probe a{"a", {30, 0}};
    diTimerAdd(0, probeRun, &a);
    diTimerDispatch(5); // runs, due again at 35
    diTimerDispatch(34);
    EXPECT_EQ(a.runs, 1u);
    diTimerDispatch(35); // runs, returns 0: freed at the sweep
    EXPECT_EQ(a.runs, 2u);
    EXPECT_EQ(diTimerHead(), nullptr);
}

TEST_F(TimerList, RemovedDuringWalkDoesNotRunAndIsSwept) {
    g_now = 0;
    Probe a{"a", {0}}, b{"b", {0}};
    a.log = b.log = &log;
    diTimerAdd(0, probeRun, &a);
    a.toRemove = diTimerAdd(0, probeRun, &b);
    diTimerDispatch(0);
    EXPECT_EQ(log, (std::vector<std::string>{"a"}));
    EXPECT_EQ(diTimerHead(), nullptr);
}

TEST_F(TimerList, CallbackRemovingItselfIsOnlyMarked) {
    g_now = 0;
    Probe a{"a", {10}};
    DiTimer* t = diTimerAdd(0, probeRun, &a);
    a.toRemove = t;
    diTimerDispatch(0);
    EXPECT_EQ(diTimerHead(), nullptr);
}

TEST_F(TimerList, AddedByCallbackRunsInSameWalkUnlessAddedByTheLast) {
    g_now = 0;
    Probe first{"first", {0}}, last{"last", {0}}, x{"x", {0}}, y{"y", {0}};
    first.log = last.log = x.log = y.log = &log;
    first.toAdd = &x; // appended after "last": reached in this walk
    diTimerAdd(0, probeRun, &first);
    diTimerAdd(0, probeRun, &last);
    x.toAdd = &y; // added by the then last record: waits for the next walk
    diTimerDispatch(0);
    EXPECT_EQ(log, (std::vector<std::string>{"first", "last", "x"}));
    diTimerDispatch(0);
    EXPECT_EQ(log, (std::vector<std::string>{"first", "last", "x", "y"}));
}

TEST_F(TimerList, NestedDispatchReturnsAtOnce) {
    g_now = 0;
    struct Nest {
        int inner = 0;
    } nest;
    auto cb = [](void* arg) -> uint32_t {
        diTimerDispatch(0); // a modal loop inside a callback
        static_cast<Nest*>(arg)->inner++;
        return 0;
    };
    diTimerAdd(0, cb, &nest);
    diTimerDispatch(0);
    EXPECT_EQ(nest.inner, 1);
}

TEST_F(TimerList, DueTimesCompareAcrossTheCounterWrap) {
    struct Case {
        uint32_t armedAt, delay, now;
        bool runs;
    } cases[] = {
        {0xFFFFFF00u, 0x80, 0xFFFFFF7Fu, false},
        {0xFFFFFF00u, 0x200, 0x00000100u, true}, // due 0x100 after the wrap
        {0xFFFFFF00u, 0x200, 0x000000FFu, false},
        {0xFFFFFFF0u, 0x10, 0x00000000u, true},
        {0x00000010u, 0x10, 0xFFFFFFF0u, false}, // clock far behind: not due
    };
    for (const Case& c : cases) {
        g_now = c.armedAt;
        Probe p{"p", {0}};
        DiTimer* t = diTimerAdd(c.delay, probeRun, &p);
        diTimerDispatch(c.now);
        EXPECT_EQ(p.runs == 1, c.runs)
            << std::hex << c.armedAt << "+" << c.delay << " at " << c.now;
        if (!p.runs) diTimerRemove(t);
    }
}

TEST_F(TimerList, RemovingTheLastRecordKeepsArmingOrder) {
    g_now = 0;
    Probe a{"a", {0}}, b{"b", {0}}, c{"c", {0}};
    a.log = b.log = c.log = &log;
    diTimerAdd(0, probeRun, &a);
    diTimerRemove(diTimerAdd(0, probeRun, &b)); // the tail goes
    diTimerAdd(0, probeRun, &c);
    diTimerDispatch(0);
    EXPECT_EQ(log, (std::vector<std::string>{"a", "c"}));
    diTimerAdd(0, probeRun, &b); // the list emptied: a new head and tail
    diTimerDispatch(0);
    EXPECT_EQ(log, (std::vector<std::string>{"a", "c", "b"}));
}

TEST_F(TimerList, RemoveOutsideWalkFreesAtOnceAndIgnoresNone) {
    g_now = 0;
    Probe a{"a", {0}};
    DiTimer* t = diTimerAdd(100, probeRun, &a);
    EXPECT_EQ(g_allocated, 1);
    diTimerRemove(t);
    diTimerRemove(nullptr);
    EXPECT_EQ(g_allocated, 0);
    EXPECT_EQ(diTimerHead(), nullptr);
}

} // namespace
