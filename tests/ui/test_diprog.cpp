/* The portable progress window over recording fakes: states and status
 * texts, the details log and its lines, the bar's arithmetic, the view's
 * drawing and the user's cancel. */
#include "prog_fakes.h"

#include "core/dide.h"
#include "ui/diprog.h"

#include <gtest/gtest.h>

#include <string>

using namespace progfake;

namespace {

struct ProgTest : ::testing::Test {
    DiProgress p;
    DiObject* obj = &p.hdr;
    void SetUp() override {
        Reset();
        diProgInit(&p, 200, 40);
    }
    void TearDown() override { diProgFree(&p); }
    std::u16string Status() const { return p.status ? std::u16string(p.status) : u"<none>"; }
    std::u16string Details() const { return p.details ? std::u16string(p.details) : u""; }
};

TEST_F(ProgTest, EveryStateShowsItsMessageAndLogsIt) {
    static const struct {
        int32_t state;
        const char16_t* text;
    } rows[] = {
        {0, u"Disconnected"},
        {1, u"Starting the application..."},
        {2, u"Resuming a suspended session..."},
        {3, u"Starting the application..."},
        {4, u"Waiting for the server to respond..."},
        {5, u"Connected"},
        {6, u"Session suspended."},
        {7, u"Session ended."},
        {9, u"Requesting application server authentication..."},
        {10, u"Connecting to Protocol Engine..."},
        {11, u"Trying again with new information..."},
        {12, u"Waiting for the Helper to connect..."},
        {13, u"About to start the application..."},
    };
    std::u16string log;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.state);
        diProgSetState(obj, row.state, 0);
        EXPECT_EQ(Status(), row.text);
        EXPECT_EQ(p.state, row.state);
        log += std::u16string(row.text) + u"\r\n";
        EXPECT_EQ(Details(), log);
        ASSERT_NE(Last("update"), nullptr);
        EXPECT_EQ(Last("update")->a, row.state);
        EXPECT_EQ(p.flags & DI_PROG_FLAG_FAILED, 0u);
    }
    EXPECT_EQ(Count("showDetails"), 0);
}

TEST_F(ProgTest, StateMessageNumbersAndUnknownStates) {
    const int32_t expected[] = {8, 10, 31, 32, 62, 9, 11, 12, 19, 21, 23, 26, 320, 319};
    for (int32_t s = 0; s < 14; s++)
        EXPECT_EQ(diProgStateMessage(s), expected[s]) << s;
    for (int32_t s : {-1, 14, 15, 1000})
        EXPECT_EQ(diProgStateMessage(s), -1) << s;
    /* An unknown state changes neither text nor log beyond the repeat. */
    diProgSetState(obj, 4, 0);
    diProgSetState(obj, 99, 0);
    EXPECT_EQ(Status(), u"Waiting for the server to respond...");
    EXPECT_EQ(Last("update")->a, 99);
}

TEST_F(ProgTest, FailureWithDetailShowsFormattedTextAndOpensDetailsWhenAsked) {
    static const struct {
        uint32_t autoDetails;
        int32_t state;
        int expand;
    } rows[] = {{1, 14, 1}, {0, 14, 0}, {1, 8, 1}, {0, 8, 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.state * 10 + int(row.autoDetails));
        diProgFree(&p);
        Reset();
        diProgInit(&p, 200, 40);
        SetMessage(257, u"The host could not be found.");
        EXPECT_EQ(diProgSetAutoDetails(obj, row.autoDetails ? 7 : 0), row.autoDetails);
        diProgSetState(obj, 10, 0);
        diProgSetState(obj, row.state, 257);
        EXPECT_EQ(Status(), u"Session failed: The host could not be found.");
        EXPECT_EQ(Count("showDetails"), row.expand);
        EXPECT_NE(p.flags & DI_PROG_FLAG_FAILED, 0u);
        /* State 14 logs the failure; state 8 never logs once failed. */
        std::u16string log = u"Connecting to Protocol Engine...\r\n";
        if (row.state == 14) log += u"Session failed: The host could not be found.\r\n";
        EXPECT_EQ(Details(), log);
    }
}

TEST_F(ProgTest, FailureKeepsItsTextAndLogsNoMore) {
    diProgSetState(obj, 10, 0);
    diProgSetState(obj, 14, 257); /* unloadable detail: an empty "%s" */
    EXPECT_EQ(Status(), u"Session failed: ");
    diProgSetState(obj, 8, 0);
    diProgSetState(obj, 5, 0);
    diProgSetState(obj, 7, 0);
    EXPECT_EQ(Status(), u"Session failed: ");
    EXPECT_EQ(Details(), u"Connecting to Protocol Engine...\r\nSession failed: \r\n");
    EXPECT_EQ(Last("update")->a, 7);
}

TEST_F(ProgTest, PlainFailureKeepsThePreviousStatus) {
    diProgSetState(obj, 4, 0);
    diProgSetState(obj, 8, 0);
    EXPECT_EQ(Status(), u"Waiting for the server to respond...");
    EXPECT_EQ(Details(), u"Waiting for the server to respond...\r\n");
}

TEST_F(ProgTest, AppendDetailsRejectsBadInputAndKeepsTheCeiling) {
    EXPECT_EQ(diProgAppendDetails(obj, -1, nullptr), -1);
    EXPECT_EQ(diProgAppendDetails(obj, -2, u"x"), -1);
    EXPECT_EQ(diProgAppendDetails(obj, 3, u"abcdef"), 0);
    EXPECT_EQ(diProgAppendDetails(obj, -1, u"whole"), 0);
    EXPECT_EQ(diProgAppendDetails(obj, 0, u"ignored"), 0);
    EXPECT_EQ(Details(), u"abc\r\nwhole\r\n\r\n");
    EXPECT_EQ(Count("refreshDetails"), 3);
    /* Grow past several reallocations, then meet the ceiling. */
    std::u16string big(100000, u'x');
    uint32_t before = 0;
    int accepted = 0;
    while (diProgAppendDetails(obj, -1, big.c_str()) == 0) {
        ASSERT_GT(p.detailsLength, before);
        before = p.detailsLength;
        accepted++;
    }
    EXPECT_EQ(accepted, int(DI_PROG_DETAILS_MAX / 100002));
    EXPECT_LE(p.detailsLength, DI_PROG_DETAILS_MAX);
    EXPECT_EQ(p.details[p.detailsLength], 0);
    EXPECT_EQ(p.detailsLength, before);
}

std::vector<std::u16string> Lines(const std::u16string& text) {
    std::vector<std::u16string> out;
    DiChar line[DI_PROG_LINE_CHARS + 1];
    uint32_t pos = 0, n = 0;
    while (diProgNextLine(text.data(), uint32_t(text.size()), &pos, line, &n)) {
        EXPECT_EQ(line[n], 0);
        out.emplace_back(line, n);
        if (out.size() > 1000) break;
    }
    return out;
}

TEST(ProgLines, BreaksAtEveryLineEndAndAfter253Characters) {
    using V = std::vector<std::u16string>;
    std::u16string l253(253, u'a'), l300(300, u'b');
    static const struct {
        std::u16string text;
        V lines;
    } rows[] = {
        {u"", V{}},
        {u"one", V{u"one"}},
        {u"a\rb\nc\r\nd\n\re", V{u"a", u"b", u"c", u"d", u"e"}},
        {u"a\r\n", V{u"a"}},
        {u"a\n\nb", V{u"a", u"", u"b"}},
        {u"a\r\rb", V{u"a", u"", u"b"}},
        {u"a\r\n\r\nb", V{u"a", u"", u"b"}},
        {std::u16string(u"x\0y\r\n\0", 6), V{u"xy"}},
        {l300 + u"\r\n", V{std::u16string(253, u'b'), std::u16string(47, u'b')}},
        {l253 + u"\r\nz", V{l253, u"z"}},
        {l253 + l253, V{l253, l253}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.text.begin(), row.text.end()).substr(0, 20));
        EXPECT_EQ(Lines(row.text), row.lines);
    }
}

TEST(ProgLines, CountsLinesForTheView) {
    static const struct {
        const char16_t* text;
        int32_t lines;
    } rows[] = {{u"", 1},       {u"a", 1},   {u"a\r\nb", 2}, {u"a\n\rb", 2},
                {u"a\n\nb", 3}, {u"a\r", 2}, {u"\r\r\n", 3}};
    for (const auto& row : rows)
        EXPECT_EQ(diProgCountLines(row.text), row.lines) << row.lines;
}

TEST(ProgBar, PercentIsComputedIn64BitsAndHeldAt100) {
    static const struct {
        uint32_t now, start, duration;
        int32_t percent;
    } rows[] = {
        {0, 0, 1000, 0},
        {250, 0, 1000, 25},
        {999, 0, 1000, 99},
        {1000, 0, 1000, 100},
        {5000, 0, 1000, 100},
        /* A wait of 65,535 s: 60,000,000 * 100 does not fit in 32 bits. */
        {60000000, 0, 65535000, 91},
        {65534999, 0, 65535000, 99},
        /* The tick count wraps between start and now. */
        {100, 0xFFFFFF00u, 1000, 35},
    };
    for (const auto& row : rows)
        EXPECT_EQ(diProgPercent(row.now, row.start, row.duration), row.percent) << row.now;
}

TEST(ProgBar, FillWidthIsFourLessThanTheWidthTimesPercent) {
    static const struct {
        int32_t w, percent, fill;
    } rows[] = {
        {104, 0, 0}, {104, 1, 1}, {104, 50, 50},   {104, 100, 100}, {54, 33, 16},
        {3, 50, 0},  {4, 100, 0}, {104, 150, 100}, {104, -5, 0},    {2000000000, 100, 1999999996}};
    for (const auto& row : rows)
        EXPECT_EQ(diProgFillWidth(row.w, row.percent), row.fill) << row.w << " " << row.percent;
}

TEST_F(ProgTest, DurationRestartsTheBarAndAutoDetailsIsABoolean) {
    diProgSetDuration(obj, 30000);
    EXPECT_EQ(p.duration, 30000u);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].name, "stopTimer");
    EXPECT_EQ(calls[1].name, "startTimer");
    EXPECT_EQ(diProgSetAutoDetails(obj, 0x100), 1u);
    EXPECT_EQ(diProgSetAutoDetails(obj, 0), 0u);
}

struct ProgCancelTest : ProgTest {
    DiDEManager m = {};
    void Adopt(int32_t state) {
        m.hdr.type = DI_OBJ_DEMANAGER;
        m.channel = reinterpret_cast<DiChannel*>(&m); /* never dereferenced here */
        m.progress = obj;
        p.hdr.parent = &m.hdr;
        p.state = state;
        watchedSlot = &m.progress;
    }
};

TEST_F(ProgCancelTest, CancelEndsTheLoginPhaseClearsTheSlotThenReleases) {
    static const struct {
        int32_t state;
        int laip;
    } rows[] = {{1, 1}, {4, 1}, {9, 1}, {14, 1}, {5, 0}, {8, 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.state);
        Reset();
        p.hdr.refCount = 1;
        Adopt(row.state);
        diProgCancel(obj);
        EXPECT_EQ(Count("laipFree"), row.laip);
        EXPECT_EQ(m.progress, nullptr);
        ASSERT_EQ(slotAtRelease.size(), 1u);
        EXPECT_EQ(slotAtRelease[0], nullptr) << "released while the manager still held it";
        ASSERT_EQ(destroyed.size(), 1u);
        EXPECT_EQ(destroyed[0], obj);
        if (row.laip) {
            EXPECT_EQ(calls[0].name, "laipFree");
        }
    }
}

TEST_F(ProgCancelTest, CancelReleasesOnlyTheManagersReference) {
    Adopt(4);
    p.hdr.refCount = 2; /* another holder */
    diProgCancel(obj);
    EXPECT_EQ(p.hdr.refCount, 1);
    EXPECT_TRUE(destroyed.empty());
    /* A second cancel finds the slot empty and releases nothing more. */
    diProgCancel(obj);
    EXPECT_EQ(p.hdr.refCount, 1);
    EXPECT_EQ(Count("release"), 1);
}

TEST_F(ProgCancelTest, CancelDoesNothingOutsideAManager) {
    DiObject frame = {};
    frame.type = DI_OBJ_FRAME;
    p.hdr.parent = &frame;
    diProgCancel(obj);
    p.hdr.parent = nullptr;
    diProgCancel(obj);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(p.hdr.refCount, 1);
}

TEST_F(ProgTest, ViewDrawsTheFinalTextOnlyInStates7And14) {
    DdGC* gc = reinterpret_cast<DdGC*>(&p); /* opaque to the fakes */
    fontHeight = 15;
    diProgAttach(&p, nullptr, gc, reinterpret_cast<DiGDIFont*>(&p));
    EXPECT_EQ(p.lineHeight, 15);
    p.font = nullptr; /* the fake font needs no release */
    static const struct {
        int32_t state;
        const char16_t* text;
        int drawn;
        int32_t y, h;
    } rows[] = {
        {7, u"Session ended.", 1, 2, 15}, {14, u"a\r\nb", 1, 2, 30},
        {14, u"1\n2\n3", 1, 40 - 45, 45}, /* taller than the view: bottom-aligned */
        {5, u"Connected", 0, 0, 0},       {8, u"Session failed.", 0, 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.state);
        Reset();
        p.state = row.state;
        diProgSetText(&p, nullptr);
        Reset();
        diProgSetText(&p, row.text);
        const Call* fill = Last("fillRect");
        ASSERT_NE(fill, nullptr);
        EXPECT_EQ(fill->a, 4);
        EXPECT_EQ(fill->b, 2 - 8);
        EXPECT_EQ(fill->c, 200);
        EXPECT_EQ(fill->d, 48);
        EXPECT_EQ(Count("drawText"), row.drawn);
        if (row.drawn) {
            EXPECT_EQ(Last("drawText")->a, 4);
            EXPECT_EQ(Last("drawText")->b, row.y);
            EXPECT_EQ(Last("drawText")->c, 200);
            EXPECT_EQ(Last("drawText")->d, row.h);
            EXPECT_EQ(drawnText, row.text);
        }
    }
    p.hdr.gc = nullptr;
}

TEST_F(ProgTest, ExposeRedrawsOnTheLastOneAndSameTextDrawsNothing) {
    p.hdr.gc = reinterpret_cast<DdGC*>(&p);
    diProgSetText(&p, u"x");
    Reset();
    EXPECT_EQ(diProgSetText(&p, u"x"), 0);
    EXPECT_EQ(Count("fillRect"), 0);
    DiEvent ev = {};
    ev.w[0] = DI_EV_EXPOSE;
    ev.w[1] = 2; /* more exposes to come */
    EXPECT_EQ(diProgHandleEvent(obj, &ev), 0);
    ev.w[1] = 0;
    EXPECT_EQ(diProgHandleEvent(obj, &ev), 1);
    EXPECT_EQ(Count("fillRect"), 1);
    ev.w[0] = DI_EV_KEY_PRESS;
    EXPECT_EQ(diProgHandleEvent(obj, &ev), 0);
    p.hdr.gc = nullptr;
    Reset();
    diProgDraw(&p); /* no context: nothing */
    EXPECT_TRUE(calls.empty());
}

} // namespace
