// The channel framework: factory, life events, destroy order, time slices
// with an injected clock, zlib blocks and code-page tables.
#include <gtest/gtest.h>

#include "core/dide.h"
#include "core/ditimer.h"
#include "fakes/chan_fakes.h"

#include <algorithm>
#include <stdlib.h>
#include <string>
#include <vector>
#include <zlib.h>

namespace {

uint32_t g_now;
uint32_t fakeClock() {
    return g_now;
}

std::vector<uint32_t> g_events;
int recordEvents(DiObject*, DiEvent* ev) {
    g_events.push_back(ev->w[0]);
    return 1;
}

struct DiDE : ::testing::Test {
    std::vector<DiChannel*> made;
    void SetUp() override {
        fakesReset();
        g_events.clear();
        g_now = 1000;
        diDEClock = fakeClock;
        g_fakeChannels.handler = recordEvents;
    }
    void TearDown() override {
        for (DiChannel* ch : made)
            diDEDestroyChannel(ch);
        ASSERT_EQ(diDEChannelCount(), 0);
    }
    DiChannel* make(uint32_t type) {
        g_fakeChannels.ctorSucceeds = true;
        DiChannel* ch = diDECreateChannel(nullptr, type, 640, 480);
        if (ch) made.push_back(ch);
        return ch;
    }
    void forget(DiChannel* ch) { made.erase(std::find(made.begin(), made.end(), ch)); }
};

TEST_F(DiDE, FailingConstructorsFreeWhatTheFactoryMade) {
    struct Case {
        uint32_t type;
        bool gc, socket;
        const char* ctor; // constructor called, or "" for none
    } cases[] = {
        {3, true, true, ""},      {5, true, true, "c5"},    {6, true, true, "c6"},
        {11, false, true, "c11"}, {12, false, true, "c12"}, {13, false, true, "c13"},
        {14, false, true, "c14"}, {15, false, true, "c15"}, {16, false, true, "c16"},
        {1, false, false, ""},    {9, false, false, ""},
    };
    for (const Case& c : cases) {
        fakesReset();
        EXPECT_EQ(diDECreateChannel(nullptr, c.type, 1, 2), nullptr) << c.type;
        EXPECT_EQ(g_fakeUI.gcCreated, c.gc ? 1 : 0) << c.type;
        EXPECT_EQ(g_fakeUI.gcFreed, g_fakeUI.gcCreated) << c.type;
        EXPECT_EQ(g_fakeNet.created, c.socket ? 1 : 0) << c.type;
        EXPECT_EQ(g_fakeNet.destroyed, g_fakeNet.created) << c.type;
        std::vector<std::string> want;
        if (*c.ctor) want.push_back(c.ctor);
        EXPECT_EQ(g_fakeChannels.log, want) << c.type;
        EXPECT_EQ(diDEChannelCount(), 0);
    }
}

TEST_F(DiDE, GraphicsOrSocketFailureStopsBeforeTheConstructor) {
    g_fakeUI.gcFails = true;
    EXPECT_EQ(diDECreateChannel(nullptr, 5, 1, 2), nullptr);
    fakesReset();
    g_fakeNet.createFails = true;
    EXPECT_EQ(diDECreateChannel(nullptr, 5, 1, 2), nullptr);
    EXPECT_EQ(g_fakeUI.gcFreed, 1);
    EXPECT_TRUE(g_fakeChannels.log.empty());
}

TEST_F(DiDE, CreatedChannelIsLinkedOwnedAndCounted) {
    DiObject owner;
    diUIObjectInit(&owner, 9, 1, 1);
    g_fakeChannels.ctorSucceeds = true;
    g_fakeUI.codePage = 1250;
    DiChannel* ch = diDECreateChannel(&owner, 5, 640, 480);
    ASSERT_NE(ch, nullptr);
    made.push_back(ch);
    EXPECT_EQ(ch->hdr.parent, &owner);
    EXPECT_EQ(ch->hdr.gc, g_fakeChannels.gcs[0]);
    EXPECT_EQ(ch->socket, g_fakeChannels.sockets[0]);
    EXPECT_EQ(ch->socket->owner, &ch->hdr);
    EXPECT_EQ(ch->codePageKind, 1u);
    EXPECT_EQ(ch->codePageClass, 1u);
    EXPECT_EQ(ch->value1, 640);
    EXPECT_EQ(diDEChannelCount(), 1);
    DiChannel* second = make(14);
    std::vector<DiChannel*> seen;
    diDEForEachChannel(
        [](DiChannel* c, void* a) { static_cast<std::vector<DiChannel*>*>(a)->push_back(c); },
        &seen);
    EXPECT_EQ(seen, (std::vector<DiChannel*>{second, ch})); // most recent first
}

TEST_F(DiDE, LifeEventsFollowTheFlags) {
    DiChannel* ch = make(14);
    ASSERT_NE(ch, nullptr);
    diDEChannelSendActivate(ch); // not open: nothing
    diDEChannelSendClose(ch);    // never opened: nothing
    diDEChannelOpen(ch);
    diDEChannelOpen(ch);           // second open: nothing
    diDEChannelSendDeactivate(ch); // not active: nothing
    diDEChannelSendActivate(ch);
    diDEChannelSendActivate(ch);
    EXPECT_EQ(g_events, (std::vector<uint32_t>{8, 9}));
}

TEST_F(DiDE, OpenCarriesTheClientDescription) {
    static DiEvent seen;
    DiChannel* ch = make(14);
    ch->hdr.handler = [](DiObject*, DiEvent* ev) {
        seen = *ev;
        return 1;
    };
    diDEChannelOpen(ch);
    EXPECT_EQ(seen.w[0], 8u);
    EXPECT_EQ(seen.ptr, &g_fakeUI.clientInfo);
}

TEST_F(DiDE, DestroyDeactivatesClosesThenRunsTheDestroyRoutine) {
    DiChannel* ch = make(16);
    diDEChannelOpen(ch);
    diDEChannelSendActivate(ch);
    g_events.clear();
    forget(ch);
    g_fakeChannels.log.clear();
    EXPECT_EQ(diDEDestroyChannel(ch), 0);
    EXPECT_EQ(g_events, (std::vector<uint32_t>{10, 11}));
    EXPECT_EQ(g_fakeChannels.log, (std::vector<std::string>{"d16"}));
    EXPECT_EQ(g_fakeNet.closes, 1);
    EXPECT_EQ(g_fakeNet.destroyed, 1);
    // A second destroy of the same channel is refused, not a double free.
    EXPECT_EQ(diDEDestroyChannel(ch), 0);
}

TEST_F(DiDE, HandlerDestroyingItsChannelOnCloseIsSafe) {
    static DiChannel* self;
    DiChannel* ch = make(12);
    self = ch;
    forget(ch);
    diDEChannelOpen(ch);
    ch->hdr.handler = [](DiObject*, DiEvent* ev) {
        if (ev->w[0] == DI_EV_CLOSE) {
            EXPECT_EQ(diDEDestroyChannel(self), 0);
        }
        return 1;
    };
    EXPECT_EQ(diDEDestroyChannel(ch), 0);
    EXPECT_EQ(g_fakeChannels.log.back(), "d12"); // destroyed once, after both returned
    EXPECT_EQ(std::count(g_fakeChannels.log.begin(), g_fakeChannels.log.end(), "d12"), 1);
}

TEST_F(DiDE, DestroyHonoursAReferenceHeldElsewhere) {
    DiChannel* ch = make(13);
    ch->hdr.refCount++; // e.g. a launch holding it
    forget(ch);
    diDEDestroyChannel(ch);
    EXPECT_TRUE(g_fakeChannels.log.back() == "c13"); // not destroyed yet
    diUIObjectRelease(&ch->hdr);
    EXPECT_EQ(g_fakeChannels.log.back(), "d13");
}

TEST_F(DiDE, SliceLengthDividesASecondByAllChannels) {
    struct Case {
        int channels;
        uint32_t slice;
    } cases[] = {{1, 1000}, {3, 333}, {4, 250}};
    for (const Case& c : cases) {
        std::vector<DiChannel*> chans;
        for (int i = 0; i < c.channels; i++)
            chans.push_back(make(14));
        DiChannel* ch = chans[0];
        diDEChannelSliceStart(ch);
        EXPECT_EQ(ch->sliceDeadline, g_now + c.slice) << c.channels;
        g_now += c.slice - 1;
        EXPECT_EQ(diDEChannelSliceOver(ch), 0);
        g_now += 1;
        EXPECT_EQ(diDEChannelSliceOver(ch), 1);
        for (DiChannel* x : chans) {
            forget(x);
            diDEDestroyChannel(x);
        }
    }
}

TEST_F(DiDE, SliceDeadlineSurvivesTheTickCountWrapping) {
    DiChannel* ch = make(14);
    g_now = 0xFFFFFF00u;
    diDEChannelSliceStart(ch);
    EXPECT_EQ(ch->sliceDeadline, 0xFFFFFF00u + 1000u); // wrapped past 0
    g_now = 0xFFFFFFF0u;
    EXPECT_EQ(diDEChannelSliceOver(ch), 0);
    g_now = 0x10u;
    EXPECT_EQ(diDEChannelSliceOver(ch), 0);
    g_now = 0xFFFFFF00u + 1000u;
    EXPECT_EQ(diDEChannelSliceOver(ch), 1);
}

TEST_F(DiDE, StopReadingEndsTheSliceAtOnce) {
    DiChannel* ch = make(14);
    diDEChannelSliceStart(ch);
    ch->stopReading = 1;
    EXPECT_EQ(diDEChannelSliceOver(ch), 1);
    EXPECT_EQ(ch->resumeTimer, nullptr);
}

TEST_F(DiDE, YieldArmsOneResumeTimerThatDeliversReadable) {
    DiChannel* ch = make(14);
    diDEChannelSliceStart(ch);
    g_now += 1000;
    g_fakeNet.selects.clear();
    ASSERT_EQ(diDEChannelSliceOver(ch), 1);
    ASSERT_NE(ch->resumeTimer, nullptr);
    DiTimer* first = ch->resumeTimer;
    EXPECT_EQ(diDEChannelSliceOver(ch), 1); // a second yield arms no second timer
    EXPECT_EQ(ch->resumeTimer, first);
    ASSERT_EQ(g_fakeNet.selects.size(), 1u);
    EXPECT_EQ(g_fakeNet.selects[0], std::make_pair(5u, 0u));
    g_now += 9;
    diTimerDispatch(g_now);
    EXPECT_TRUE(g_events.empty());
    g_now += 1;
    diTimerDispatch(g_now);
    EXPECT_EQ(g_events, (std::vector<uint32_t>{0}));
    EXPECT_EQ(ch->resumeTimer, nullptr);
    EXPECT_EQ(ch->sliceDeadline, 0u);
    EXPECT_EQ(g_fakeNet.selects.back(), std::make_pair(5u, 5u));
}

TEST_F(DiDE, ResumeKeepsTheChannelAliveWhileItsHandlerReleasesIt) {
    DiChannel* ch = make(15);
    forget(ch);
    diDEChannelYield(ch);
    static DiChannel* victim;
    victim = ch;
    ch->hdr.handler = [](DiObject* obj, DiEvent*) {
        diDEDestroyChannel(victim);  // drops the factory's reference
        EXPECT_EQ(obj->refCount, 2); // the resume and the delivery hold it
        g_events.push_back(99);
        return 1;
    };
    g_now += 10;
    diTimerDispatch(g_now);
    EXPECT_EQ(g_events, (std::vector<uint32_t>{99}));
    EXPECT_EQ(g_fakeChannels.log.back(), "d15");
}

TEST_F(DiDE, DestroyCancelsTheResumeTimer) {
    DiChannel* ch = make(15);
    diDEChannelYield(ch);
    forget(ch);
    diDEDestroyChannel(ch);
    g_now += 100;
    diTimerDispatch(g_now); // would touch the freed channel
    EXPECT_TRUE(g_events.empty());
}

// A channel type that frees its record itself cancels the resume as well.
TEST_F(DiDE, FreeingAChannelRecordCancelsItsResumeTimer) {
    DiChannel* ch = static_cast<DiChannel*>(calloc(1, sizeof(DiChannel)));
    diDEChannelInit(ch, 15, 0, 0);
    ch->hdr.handler = recordEvents;
    diDEChannelYield(ch);
    diDEChannelFree(ch);
    free(ch);
    g_now += 100;
    diTimerDispatch(g_now); // would touch the freed record
    EXPECT_TRUE(g_events.empty());
}

// zlib blocks. Each case feeds one channel a sequence of blocks with the
// sizes announced for each; the expected result is per block.
std::string deflateWhole(const std::string& in) {
    uLongf n = compressBound(uLong(in.size()));
    std::string out(n, '\0');
    compress2(reinterpret_cast<Bytef*>(&out[0]), &n, reinterpret_cast<const Bytef*>(in.data()),
              uLong(in.size()), 6);
    out.resize(n);
    return out;
}

// Compresses parts as one stream continuing from part to part.
std::vector<std::string> deflateContinuing(const std::vector<std::string>& parts) {
    z_stream z{};
    deflateInit(&z, 6);
    std::vector<std::string> out;
    for (const std::string& p : parts) {
        std::string o(p.size() + 1024, '\0');
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(p.data()));
        z.avail_in = uInt(p.size());
        z.next_out = reinterpret_cast<Bytef*>(&o[0]);
        z.avail_out = uInt(o.size());
        deflate(&z, Z_SYNC_FLUSH);
        o.resize(o.size() - z.avail_out);
        out.push_back(o);
    }
    deflateEnd(&z);
    return out;
}

struct DiDEZ : DiDE {
    DiChannel* ch = nullptr;
    void SetUp() override {
        DiDE::SetUp();
        ch = make(14);
    }
    // Inflates one block given in pieces of `split` bytes into room of the
    // announced size: the last block result; out gets the bytes produced.
    int block(const std::string& in, uint32_t announceIn, uint32_t announceOut, std::string* out,
              size_t split = SIZE_MAX) {
        if (diDEInflateBegin(ch, announceIn, announceOut) < 0) return -2;
        out->assign(announceOut + 64, '\0');
        uint32_t produced = 0;
        int r = 0;
        for (size_t at = 0; at < in.size() && r == 0;) {
            uint32_t len = uint32_t(std::min(split, in.size() - at));
            uint32_t room = uint32_t(out->size()) - produced;
            r = diDEInflateBlock(ch, reinterpret_cast<uint8_t*>(&(*out)[produced]),
                                 reinterpret_cast<const uint8_t*>(in.data() + at), &room, &len);
            produced += room;
            at += len;
            if (len == 0 && room == 0 && r == 0) break;
        }
        out->resize(produced);
        return r;
    }
};

TEST_F(DiDEZ, EachBlockAsACompleteStream) {
    std::string a(5000, 'a'), b = "second block";
    std::string za = deflateWhole(a), zb = deflateWhole(b), out;
    EXPECT_EQ(block(za, uint32_t(za.size()), uint32_t(a.size()), &out), 1);
    EXPECT_EQ(out, a);
    EXPECT_EQ(ch->inflate, nullptr); // freed at the stream's end
    EXPECT_EQ(block(zb, uint32_t(zb.size()), uint32_t(b.size()), &out, 3), 1); // split input
    EXPECT_EQ(out, b);
}

TEST_F(DiDEZ, StreamContinuingFromBlockToBlock) {
    std::vector<std::string> parts = {std::string(3000, 'x'), "middle", std::string(100, 'y')};
    std::vector<std::string> z = deflateContinuing(parts);
    for (size_t i = 0; i < parts.size(); i++) {
        std::string out;
        EXPECT_EQ(block(z[i], uint32_t(z[i].size()), uint32_t(parts[i].size()), &out, 7), 1) << i;
        EXPECT_EQ(out, parts[i]) << i;
        EXPECT_NE(ch->inflate, nullptr); // the stream goes on
    }
    diDEInflateEnd(ch);
    EXPECT_EQ(ch->inflate, nullptr);
}

TEST_F(DiDEZ, BadBlocksAreErrors) {
    std::string a(2000, 'q');
    std::string za = deflateWhole(a), out;
    std::string corrupt = za;
    corrupt[4] ^= 0x5A;
    corrupt[5] ^= 0x33;
    struct Case {
        const char* name;
        std::string in;
        uint32_t announceIn, announceOut;
        int want;
    } cases[] = {
        {"corrupt", corrupt, uint32_t(za.size()), uint32_t(a.size()), -1},
        // The stream ends before the announced sizes: the rest of the block
        // must not be read as new messages.
        {"ends early", za, uint32_t(za.size() + 10), uint32_t(a.size() + 100), -1},
        {"announced too small", za, uint32_t(za.size()), uint32_t(a.size() - 1), -1},
        {"header garbage", std::string("\x00\x01\x02\x03", 4), 4, 10, -1},
    };
    for (Case& c : cases) {
        EXPECT_EQ(block(c.in, c.announceIn, c.announceOut, &out), c.want) << c.name;
        diDEInflateEnd(ch);
    }
}

TEST_F(DiDEZ, ShortInputWaitsForMore) {
    std::string a(2000, 'q');
    std::string za = deflateWhole(a), out;
    ASSERT_EQ(diDEInflateBegin(ch, uint32_t(za.size()), uint32_t(a.size())), 0);
    out.assign(a.size(), '\0');
    uint32_t room = uint32_t(out.size()), len = uint32_t(za.size() / 2);
    EXPECT_EQ(diDEInflateBlock(ch, reinterpret_cast<uint8_t*>(&out[0]),
                               reinterpret_cast<const uint8_t*>(za.data()), &room, &len),
              0);
    // No input at all: zlib can make no progress, which is not an error.
    room = uint32_t(out.size()), len = 0;
    EXPECT_EQ(diDEInflateBlock(ch, reinterpret_cast<uint8_t*>(&out[0]),
                               reinterpret_cast<const uint8_t*>(za.data()), &room, &len),
              0);
    EXPECT_EQ(len, 0u);
    diDEInflateEnd(ch);
}

TEST_F(DiDEZ, BlockMoreReportsOutputRoomUsedUp) {
    std::string a(4000, 'r');
    for (size_t i = 0; i < a.size(); i++)
        a[i] = char('a' + (i * 7) % 26);
    std::string za = deflateWhole(a);
    ASSERT_EQ(diDEInflateBegin(ch, uint32_t(za.size()), uint32_t(a.size())), 0);
    std::string out(a.size(), '\0');
    uint32_t produced = 0, room = 1000, len = uint32_t(za.size());
    int r = diDEInflateBlockMore(ch, reinterpret_cast<uint8_t*>(&out[0]),
                                 reinterpret_cast<const uint8_t*>(za.data()), &room, &len, 0);
    EXPECT_EQ(r, 2);
    produced += room;
    while (r == 2) {
        room = std::min<uint32_t>(1000, uint32_t(a.size()) - produced);
        r = diDEInflateBlockMore(ch, reinterpret_cast<uint8_t*>(&out[produced]), nullptr, &room,
                                 &len, 1);
        produced += room;
    }
    EXPECT_EQ(r, 1);
    EXPECT_EQ(out.substr(0, produced), a);
}

TEST_F(DiDEZ, ChannelDestructionFreesUnfinishedStreams) {
    // The leak checker of the host build fails this test if a stream is lost.
    ASSERT_EQ(diDEInflateBegin(ch, 100, 100), 0);
    ASSERT_EQ(diDEDeflateBegin(ch), 0);
    forget(ch);
    diDEDestroyChannel(ch);
}

TEST(DiDECodePage, KindsFollowTheCodePage) {
    struct Case {
        uint32_t cp, kind, cls;
    } cases[] = {{1250, 1, 1}, {1254, 6, 1}, {2, 2, 1},   {5, 4, 1}, {7, 5, 1},
                 {9, 3, 1},    {1252, 0, 2}, {932, 0, 2}, {0, 0, 2}};
    DiChannel ch{};
    for (const Case& c : cases) {
        diDESetCodePageKind(&ch, c.cp);
        EXPECT_EQ(ch.codePageKind, c.kind) << c.cp;
        EXPECT_EQ(ch.codePageClass, c.cls) << c.cp;
    }
}

// Python's codecs, kinds 0-6; -1 where the codec has no character.
const int32_t kPython[7][128] = {
#include "core/codepage_expect.inc"
};

TEST(DiDECodePage, TablesMatchPythonCodecsExceptTheDeliberateDeviations) {
    auto expected = [](uint32_t kind, uint32_t b) -> uint32_t {
        int32_t py = kPython[kind][b - 0x80];
        bool iso = kind >= 2 && kind <= 5;
        if (iso && b < 0xA0) return 0x20; // C1 controls
        if (kind == 5) {
            switch (b) {
            case 0xA1:
                return 0x02BD;
            case 0xA2:
                return 0x02BC;
            case 0xA4:
                return 0x00A4;
            case 0xA5:
                return 0x00A5;
            case 0xAA:
                return 0x00AA;
            case 0xAE:
                return 0x00AE;
            case 0xD2:
                return 0x00D2;
            case 0xFF:
                return 0x03CF;
            }
        }
        if (py < 0) return kind == 6 ? 0x20 : 0;
        return uint32_t(py);
    };
    DiChannel ch{};
    for (uint32_t kind = 0; kind < 7; kind++) {
        ch.codePageKind = kind;
        for (uint32_t b = 0x80; b < 0x100; b++)
            EXPECT_EQ(diDECharToUnicode(&ch, b), expected(kind, b)) << kind << " " << b;
    }
    // The mended entries.
    ch.codePageKind = 1;
    EXPECT_EQ(diDECharToUnicode(&ch, 0xEF), 0x010Fu);
    ch.codePageKind = 2;
    EXPECT_EQ(diDECharToUnicode(&ch, 0xEF), 0x010Fu);
    ch.codePageKind = 4;
    EXPECT_EQ(diDECharToUnicode(&ch, 0xD0), 0x0430u);
    EXPECT_EQ(diDECharToUnicode(&ch, 0xFD), 0x00A7u);
}

TEST(DiDECodePage, CodesOutsideTheUpperHalfAreUnchanged) {
    DiChannel ch{};
    for (uint32_t kind = 0; kind < 7; kind++) {
        ch.codePageKind = kind;
        for (uint32_t code : {0x00u, 0x41u, 0x7Fu, 0x100u, 0x20ACu, 0xFFFFu})
            EXPECT_EQ(diDECharToUnicode(&ch, code), code) << kind;
    }
    ch.codePageKind = 0;
    EXPECT_EQ(diDECharToUnicode(&ch, 0x80), 0x20ACu);
}

} // namespace
