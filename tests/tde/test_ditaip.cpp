// The T-AIP reader, dispatcher and handlers over a scripted socket, with the
// screen drawing onto the recording canvas.
#include <gtest/gtest.h>

#include "core/dilog.h"
#include "core/ditimer.h"
#include "support/split_delivery.h"
#include "td_recorder.h"

#include <random>
#include <stdio.h>

namespace {

std::string u8s(std::initializer_list<int> v) {
    std::string s;
    for (int b : v)
        s += char(b);
    return s;
}

std::string text(int col, int row, const std::string& s) {
    return tdMsg(42, u8s({col, row}) + s);
}

// A row the screen does not have reads as a marker that no text matches, so
// that a failed expectation shows itself instead of ending the program.
std::string rowText(DiTDisplay* t, int row) {
    const DiTDScreen& sc = t->screen;
    if (!sc.rowList || row < 0 || row >= sc.rows || !sc.rowList[row])
        return "<no row " + std::to_string(row) + ">";
    std::string s;
    DiTDRow* r = sc.rowList[row];
    for (int c = 0; c < r->used; c++)
        s += char(r->chars[c]);
    return s;
}

int countType(const std::string& sent, uint8_t type) {
    int n = 0;
    for (size_t i = 0; i + 3 <= sent.size();) {
        size_t len = uint8_t(sent[i + 1]) | (uint8_t(sent[i + 2]) << 8);
        if (uint8_t(sent[i]) == type) n++;
        i += 3 + len;
    }
    return n;
}

int timers() {
    int n = 0;
    for (DiTimer* t = diTimerHead(); t; t = t->next)
        n += !t->dead;
    return n;
}

const std::string kPing = tdMsg(51, "");

// One stream that touches every kind of message the reader must frame.
std::string sampleStream() {
    return tdStart(25, 80) + text(0, 0, "hello") + tdMsg(46, "") + tdMsg(17, u8s({4})) +
           text(3, 1, "xyz") + tdMsg(32, u8s({0, 0xFF, 0, 1, 80, 25})) +
           tdMsg(43, u8s({3, 0}) + "dbg") + tdMsg(7, "ignored") + kPing +
           tdMsg(50, u8s({0, 2, 'W', 0, 'i', 0})) + kPing;
}

TEST(TAIPReader, SplitAnywhereOrByteByByteGivesTheSameResultPlainAndInBothBlockStyles) {
    // The rows the stream leaves and what the engine answered.
    SplitReader read = [](const SplitPieces& pieces) {
        TDRig rig;
        rig.sentAndClear();
        for (const std::string& p : pieces)
            g_fakeNet.incoming.push_back(p);
        EXPECT_EQ(rig.feed(""), 0);
        return rowText(rig.t.get(), 0) + "|" + rowText(rig.t.get(), 1) + "|" +
               rowText(rig.t.get(), 2) + "|" + rig.sentAndClear();
    };
    std::string plain = sampleStream();
    std::string whole = read({plain});
    // The scroll moved row 1 onto row 0.
    EXPECT_EQ(whole.substr(0, 10), "   xyz||Wi");
    EXPECT_EQ(countType(whole.substr(11), 52), 2);
    for (bool oneStream : {true, false})
        EXPECT_EQ(read({tdBlocks(plain, 37, oneStream)}), whole);
    {   // Time slices that run out every few messages (a loaded machine).
        uint32_t (*saved)() = diDEClock;
        diDEClock = [] { static uint32_t now; return now += 300; };
        EXPECT_EQ(read({plain}), whole);
        EXPECT_EQ(read({tdBlocks(plain, 37, false)}), whole);
        diDEClock = saved;
    }
    expectSameHoweverSplit({{"terminal, plain", plain, read},
                            {"terminal, one stream", tdBlocks(plain, 37, true), read},
                            {"terminal, blocks", tdBlocks(plain, 37, false), read}});
}

TEST(TAIPReader, AcknowledgesEvery4096CountedBytesBeforeTheNextMessage) {
    struct Row {
        const char* name;
        int filler;      // payload bytes of one type-46 message
        int messages;    // how many of them
        bool compressed; // inside blocks (heads of 0x80 never count)
        int acks;        // 44s before the ping is answered
    };
    // 4093 + 3 = 4096 counted: the ping after it causes one ack.
    const Row rows[] = {
        {"exactly 4096", 4093, 1, false, 1},
        {"one short", 4092, 1, false, 0},
        {"8192 in two", 4093, 2, false, 2},
        {"inflated bytes count", 4093, 2, true, 2},
        {"unknown types do not count", -4093, 1, false, 0},
    };
    for (const Row& r : rows) {
        TDRig rig;
        std::string s = tdStart(25, 80);
        int counted = int(s.size());
        // Pad the start so the counted total before the filler is 4096k.
        std::string pad = tdMsg(46, std::string(4096 - counted - 3, 'p'));
        s += pad;
        rig.feed(s);
        rig.sentAndClear();
        std::string body;
        for (int i = 0; i < r.messages; i++)
            body += r.filler > 0 ? tdMsg(46, std::string(r.filler, 'f'))
                                 : tdMsg(7, std::string(-r.filler, 'f'));
        body += kPing;
        rig.feed(r.compressed ? tdBlocks(body, 3000, true) : body);
        std::string sent = rig.sentAndClear();
        // The acknowledgement for the padding came before the first filler.
        EXPECT_EQ(countType(sent, 44), r.acks + 1) << r.name;
        EXPECT_EQ(sent.substr(sent.size() - 3), u8s({52, 0, 0})) << r.name;
    }
}

TEST(TAIPSession, StartReadsOptionalFieldsAndReplacesAnEarlierStart) {
    struct Row {
        const char* name;
        std::string tail;
        uint32_t flags, keepAlive;
    };
    const Row rows[] = {
        {"both absent", "", 0, 300000},
        {"flags only", u8s({2, 0}), 2, 300000},
        {"no keep-alive", u8s({0, 0, 0, 0}), 0, 0},
        {"negative reads unsigned", u8s({0, 0, 0xFF, 0xFF}), 0, 65535000},
        {"one second", u8s({0, 0, 1, 0}), 0, 1000},
    };
    for (const Row& r : rows) {
        TDRig rig;
        int before = timers();
        rig.feed(tdStart(24, 80, r.tail));
        EXPECT_EQ(rig.t->sessionFlags, r.flags) << r.name;
        EXPECT_EQ(rig.t->keepAliveMs, r.keepAlive) << r.name;
        EXPECT_EQ(rig.t->keepAliveTimer != nullptr, r.keepAlive != 0) << r.name;
        EXPECT_EQ(g_fakeUI.states, std::vector<int32_t>{5}) << r.name;
        // A second start keeps one keep-alive timer and one blink timer.
        rig.feed(tdStart(10, 40, r.tail));
        EXPECT_EQ(timers() - before, (r.keepAlive ? 1 : 0) + 1) << r.name;
        EXPECT_EQ(rig.t->screen.rows, 10);
    }
    // Every timer went with its engines: running them now touches nothing.
    diTimerDispatch(diDEClock() + 100000000);
    EXPECT_EQ(timers(), 0);
}

// Message 9 ("Connected") as each language of the resources carries it.
const char16_t* g_connected = u"";
bool connectedLoader(uint32_t message, DiChar* buf, size_t size) {
    size_t n = 0;
    for (; message == 9 && g_connected[n] && n + 1 < size; n++)
        buf[n] = g_connected[n];
    buf[n] = 0;
    return message == 9;
}

TEST(TAIPSession, StartTitlesTheEngineConnectedInTheUsersLanguage) {
    diLogSetMessageLoader(connectedLoader);
    for (const char16_t* text : {u"Connected", u"Connect\u00e9", u"\u63a5\u7d9a\u3055\u308c\u307e\u3057\u305f",
                                 u"\uc5f0\uacb0\ub428", u"\u5df2\u8fde\u63a5", u"\u5df2\u9023\u7dda"}) {
        g_connected = text;
        TDRig rig;
        rig.feed(tdStart(24, 80));
        ASSERT_NE(rig.t->ch.hdr.title, nullptr);
        EXPECT_EQ(std::u16string(rig.t->ch.hdr.title), text);
    }
    diLogSetMessageLoader(nullptr);
}

TEST(TAIPSession, EndStopsDispatchAndReportsItsStatus) {
    for (int status : {0, 1}) {
        TDRig rig;
        rig.feed(tdStart(25, 80));
        rig.sentAndClear();
        rig.feed(kPing + tdMsg(5, u8s({status})) + kPing + text(0, 0, "late"));
        EXPECT_EQ(countType(rig.sentAndClear(), 52), 1);
        EXPECT_EQ(g_fakeUI.states.back(), status ? 7 : 6);
        EXPECT_EQ(rowText(rig.t.get(), 0), "");
    }
    {   // Read with the close once the slice ran out: the end still counts.
        uint32_t (*saved)() = diDEClock;
        diDEClock = [] { static uint32_t now; return now += 60000; };
        TDRig late;
        late.feed(tdStart(25, 80) + text(0, 0, "bye") + tdMsg(5, u8s({1})));
        g_fakeNet.closed = true;
        late.event(DI_EV_CLOSED);
        diDEClock = saved;
        EXPECT_EQ(g_fakeUI.states, (std::vector<int32_t>{5, 7}));
        EXPECT_EQ(rowText(late.t.get(), 0), "bye");
    }
    // A failed connection is state 6 only while the session is active.
    TDRig rig;
    g_fakeNet.closed = true;
    rig.event(DI_EV_READABLE);
    EXPECT_EQ(g_fakeUI.states, std::vector<int32_t>{6});
    rig.event(DI_EV_READABLE);
    EXPECT_EQ(g_fakeUI.states.size(), 1u);
}

TEST(TAIPClient, HelloKeysAndReplies) {
    TDRig rig;
    // hello 1, "Win32", "6.1", class 2 (default code page), hello 1.
    EXPECT_EQ(rig.sentAndClear(),
              u8s({4, 18, 0, 1, 0, 5, 0}) + "Win32" + u8s({3, 0}) + "6.1" + u8s({2, 0, 1, 0}));
    struct Key {
        uint32_t type, key, ch, mods;
        std::string wire;
    };
    // The character goes out as it came, even under an 8-bit code page.
    rig.t->ch.codePageKind = 5;
    const Key keys[] = {
        {DI_EV_KEY_PRESS, 0, 0xE4, 0, u8s({9, 5, 0, 0xE4, 0, 0, 0, 0})},
        {DI_EV_KEY_RELEASE, 0, 0xE4, 0, u8s({15, 5, 0, 0xE4, 0, 0, 0, 0})},
        {DI_EV_KEY_PRESS, 0x9B, 0, 0x80, u8s({9, 5, 0, 0, 0, 0x9B, 0, 1})},
        {DI_EV_KEY_PRESS, 65, 'a', 0x100 | 0x200 | 0x8, u8s({9, 5, 0, 'a', 0, 65, 0, 0xE})},
        {DI_EV_KEY_PRESS, 66, 'b', 0x40 | 0x3, u8s({9, 5, 0, 'b', 0, 66, 0, 3})},
    };
    for (const Key& k : keys) {
        rig.event(k.type, k.key, k.ch, k.mods);
        EXPECT_EQ(rig.sentAndClear(), k.wire);
    }
    rig.event(DI_EV_ACTIVATE);
    rig.event(DI_EV_DEACTIVATE);
    rig.event(DI_EV_WINDOW_CLOSED); // session flag 2 not set: nothing
    EXPECT_EQ(rig.sentAndClear(), u8s({2, 0, 0, 7, 0, 0}));
    rig.feed(tdStart(25, 80, u8s({2, 0})) + tdMsg(22, u8s({30, 90})));
    rig.event(DI_EV_WINDOW_CLOSED);
    EXPECT_EQ(rig.sentAndClear(), u8s({10, 0, 0, 53, 0, 0}));
    rig.event(DI_EV_CLOSE);
    EXPECT_EQ(rig.sentAndClear(), u8s({3, 2, 0, 0, 0}));
    EXPECT_FALSE(rig.t->screen.exists);
}

// Hostile or broken input: each row is survived, consumed and counted, and
// a ping after it is still answered.
TEST(TAIPFaults, ShortAndMisplacedMessagesAreIgnoredButConsumed) {
    struct Row {
        const char* name;
        bool started;
        std::string msg;
    };
    const Row rows[] = {
        {"short glyph", true, tdMsg(30, u8s({1, 65}))},
        {"short scroll", true, tdMsg(32, u8s({0, 1, 0}))},
        {"short move", true, tdMsg(34, u8s({1}))},
        {"short palette", true, tdMsg(48, u8s({1, 2}))},
        {"debug count negative", true, tdMsg(43, u8s({0xFF, 0xFF, 'a'}))},
        {"debug count overruns", true, tdMsg(43, u8s({9, 0, 'a'}))},
        {"debug count zero", true, tdMsg(43, u8s({0, 0}))},
        {"short start", false, tdMsg(6, u8s({0, 0, 0, 0, 25}))},
        {"start text overruns", false, tdMsg(6, u8s({0, 0, 0, 0, 25, 80, 0x40, 0}))},
        {"text before start", false, text(0, 0, "x")},
        {"scroll before start", false, tdMsg(32, u8s({0, 1, 0, 0, 80, 25}))},
        {"erase before start", false, tdMsg(41, u8s({0, 0, 80, 25}))},
        {"glyph before start", false, tdMsg(30, u8s({1, 65, 1, 1, 0xFF}))},
        {"glyph rows missing", true, tdMsg(30, u8s({1, 65, 1, 8, 1, 2, 3}))},
        {"wide text odd length", true, tdMsg(50, u8s({0, 0, 'a', 0, 'b'}))},
        {"text past the row", true, text(250, 24, std::string(200, 'z'))},
        {"text below the grid", true, text(0, 200, "z")},
        {"erase outside", true, tdMsg(41, u8s({200, 20, 255, 255}))},
        {"scroll outside", true, tdMsg(32, u8s({0x80, 0x7F, 0, 0, 255, 255}))},
        {"scroll inverted", true, tdMsg(32, u8s({1, 1, 9, 9, 2, 2}))},
        {"line flags below grid", true, tdMsg(16, u8s({2, 99}))},
        {"text after close", true, text(0, 0, "x")},
        {"scroll after close", true, tdMsg(32, u8s({0, 1, 0, 0, 80, 25}))},
    };
    for (const Row& r : rows) {
        TDRig rig;
        if (r.started) rig.feed(tdStart(25, 80));
        bool closed = std::string(r.name).find("after close") != std::string::npos;
        if (closed) rig.event(DI_EV_CLOSE);
        rig.sentAndClear();
        EXPECT_EQ(rig.feed(r.msg + kPing), 0) << r.name;
        EXPECT_EQ(rig.sentAndClear(), u8s({52, 0, 0})) << r.name;
        EXPECT_EQ(g_td.putGlyphs, 0) << r.name;
        int64_t counted = int64_t(r.msg.size()) + 3;
        if (r.started) counted += int64_t(tdStart(25, 80).size());
        EXPECT_EQ(rig.t->ackCounter, counted) << r.name;
        if (!r.started || closed) {
            EXPECT_FALSE(rig.t->screen.exists) << r.name;
        }
    }
}

TEST(TAIPFaults, ReaderFailsInsteadOfSpinning) {
    std::string big16381 = tdMsg(46, std::string(16381, 'a'));
    std::string big16382 = tdMsg(46, std::string(16382, 'a'));
    // Inflated content that declares a message longer than the buffer.
    std::string huge = u8s({46, 0xF0, 0x7F}) + std::string(16000, 'h');
    std::string shortBlock = u8s({0x80, 1, 0, 0});
    std::string early = tdBlocks(text(0, 0, "abcdef"), 100, false);
    early[3] = char(early[3] + 5); // announces five more inflated bytes than it holds
    std::string past = tdBlocks(text(0, 0, "abcdef"), 100, false);
    past[3] = char(past[3] - 2); // inflates two bytes past its size
    struct Row {
        const char* name;
        std::string wire;
        int result;
    };
    const Row rows[] = {
        {"payload 16381 fits", big16381 + kPing, 0},
        {"payload 16382 refused", big16382, -1},
        {"16381 in one block stream", tdBlocks(big16381, 4000, true), 0},
        {"inflated message past the buffer", tdBlocks(huge, 5000, true), -1},
        {"block length below 2", shortBlock, -1},
        {"block ends early", early + kPing, -1},
        {"block inflates past its size", past + kPing, -1},
        {"garbage block", u8s({0x80, 6, 0, 9, 0, 1, 2, 3, 4}), -1},
    };
    for (const Row& r : rows) {
        for (size_t chunk : {size_t(0), size_t(7)}) {
            TDRig rig;
            rig.feed(tdStart(25, 80));
            EXPECT_EQ(rig.feed(r.wire, chunk), r.result) << r.name << " chunk " << chunk;
        }
    }
    // Through the event handler a failure closes the session once.
    TDRig rig;
    rig.feed(tdStart(25, 80));
    g_fakeNet.incoming.push_back(big16382);
    rig.event(DI_EV_READABLE);
    EXPECT_EQ(g_fakeUI.states, (std::vector<int32_t>{5, 6}));
    EXPECT_EQ(rig.t->sessionActive, 0u);
    EXPECT_EQ(rig.t->assembly.data, nullptr);
}

} // namespace
