// Message buffers and AIP framing over a scripted socket.
#include <gtest/gtest.h>

#include "core/diio.h"
#include "core/dilog.h"
#include "core/ditimer.h"
#include "fakes/chan_fakes.h"
#include "support/split_delivery.h"

#include <stdlib.h>
#include <random>
#include <string>
#include <vector>

namespace {

std::string frame(uint8_t type, const std::string& payload) {
    std::string m;
    m += char(type);
    m += char(payload.size() & 0xFF);
    m += char(payload.size() >> 8);
    return m + payload;
}

struct DiIO : ::testing::Test {
    DiBuffer b{};
    DdSocket sock{};
    void SetUp() override {
        fakesReset();
        sock.handle = 1;
    }
    void TearDown() override { diIOBufferFree(&b); }
    int read(std::string* out) {
        const uint8_t* m = nullptr;
        int n = diIOReadMessage(&b, &sock, &m);
        if (n > 0) out->assign(reinterpret_cast<const char*>(m), size_t(n));
        return n;
    }
};

TEST_F(DiIO, WholeMessageIsHandedOutAndPartialOneWaits) {
    b.limit = 16384;
    g_fakeNet.incoming.push_back(std::string("\x05\x03\x00\x61\x62", 5));
    std::string m;
    EXPECT_EQ(read(&m), 0);
    EXPECT_EQ(b.used, 5u); // the partial bytes stay
    g_fakeNet.incoming.push_back("c");
    ASSERT_EQ(read(&m), 6);
    EXPECT_EQ(m, std::string("\x05\x03\x00"
                             "abc",
                             6));
}

TEST_F(DiIO, MessagesComeOutAlikeHoweverTheStreamIsSplit) {
    SplitReader messages = [this](const SplitPieces& pieces) {
        TearDown();
        SetUp();
        b.limit = 300;
        for (const std::string& p : pieces)
            g_fakeNet.incoming.push_back(p);
        std::string out, m;
        for (int n; (n = read(&m)) > 0 || (n == 0 && !g_fakeNet.incoming.empty());)
            if (n > 0) out += m + "|";
        return out;
    };
    expectSameHoweverSplit({{"AIP reassembly",
                             frame(1, "ab") + frame(2, "") + frame(3, std::string(250, 'x')) +
                                 frame(4, "\r\n") + frame(5, std::string(297, 'y')),
                             messages}});
}

TEST_F(DiIO, TwoMessagesFromOneReceiveNeedNoSecondReceive) {
    b.limit = 16384;
    g_fakeNet.incoming.push_back(frame(1, "xy") + frame(2, ""));
    std::string m;
    ASSERT_EQ(read(&m), 5);
    EXPECT_EQ(m, frame(1, "xy"));
    g_fakeNet.recvFails = true; // another receive would now fail
    ASSERT_EQ(read(&m), 3);     // an empty payload is 3 bytes
    EXPECT_EQ(m, frame(2, ""));
}

TEST_F(DiIO, OneByteAtATimeAssemblesTheMessage) {
    b.limit = 0;
    std::string msg = frame(9, std::string(300, 'q'));
    std::string m;
    for (size_t i = 0; i + 1 < msg.size(); i++) {
        g_fakeNet.incoming.push_back(msg.substr(i, 1));
        ASSERT_EQ(read(&m), 0) << i;
    }
    g_fakeNet.incoming.push_back(msg.substr(msg.size() - 1));
    ASSERT_EQ(read(&m), int(msg.size()));
    EXPECT_EQ(m, msg);
}

TEST_F(DiIO, PeerCloseAndSocketErrorAreFailures) {
    struct Case {
        bool closed, fails;
        int want;
    } cases[] = {{true, false, -1}, {false, true, -1}, {false, false, 0}};
    for (const Case& c : cases) {
        SetUp();
        diIOBufferFree(&b);
        b.limit = 16384;
        g_fakeNet.closed = c.closed;
        g_fakeNet.recvFails = c.fails;
        std::string m;
        EXPECT_EQ(read(&m), c.want);
    }
}

TEST_F(DiIO, MessageLongerThanSmallLimitIsAnErrorNotAHang) {
    CLog log;
    diLogSet(&log);
    b.limit = 16384;
    g_fakeNet.incoming.push_back(frame(7, std::string(20000, 'z')));
    std::string m;
    EXPECT_EQ(read(&m), -1);
    EXPECT_EQ(log.GetCount(), 1u); // the reason is logged
    diLogSet(nullptr);
}

TEST_F(DiIO, MessageLongerThanLargeLimitIsAnError) {
    b.limit = 32767;
    g_fakeNet.incoming.push_back(frame(7, std::string(40000, 'z')));
    std::string m;
    EXPECT_EQ(read(&m), -1);
}

TEST_F(DiIO, UnlimitedBufferReceivesSeveralLongestMessagesAtOnceAndGrowsNoFurther) {
    b.limit = 0;
    g_fakeNet.incoming.push_back(std::string(3, '\0'));
    std::string m;
    ASSERT_EQ(read(&m), 3);
    EXPECT_EQ(b.allocated, uint32_t(DI_IO_RECV_ROOM)); // the first fill
    diIOReadDone(&b);
    // Two of the longest messages come in with one receive.
    std::string longest = frame(1, std::string(65535, 'l'));
    g_fakeNet.incoming.push_back(longest + longest);
    ASSERT_EQ(diIOFill(&b, &sock), int(DI_IO_RECV_ROOM));
    // A full buffer without a limit does not grow by filling.
    g_fakeNet.incoming.push_back("more");
    EXPECT_EQ(diIOFill(&b, &sock), 0);
    EXPECT_EQ(b.allocated, uint32_t(DI_IO_RECV_ROOM));
    for (int i = 0; i < 2; i++) {
        ASSERT_EQ(read(&m), int(DI_IO_MAX_MESSAGE));
        EXPECT_EQ(m, longest);
    }
}

TEST_F(DiIO, LargeMessageArrivesWhole) {
    b.limit = 0;
    std::string msg = frame(1, std::string(65535, 'a'));
    for (size_t i = 0; i < msg.size(); i += 1000)
        g_fakeNet.incoming.push_back(msg.substr(i, 1000));
    std::string m;
    int n = 0;
    for (int i = 0; i < 200 && n == 0; i++)
        n = read(&m);
    ASSERT_EQ(n, 65538);
    EXPECT_EQ(m, msg);
    EXPECT_GE(b.allocated, 65538u);
}

TEST_F(DiIO, GrowthRules) {
    // Small limits are allocated whole at once.
    b.limit = 4096;
    ASSERT_EQ(diIOReserve(&b, 10), 0);
    EXPECT_EQ(b.allocated, 4096u);
    // Above a non-zero limit: refused, the buffer as it was.
    uint8_t* before = b.data;
    EXPECT_EQ(diIOReserve(&b, 4097), -1);
    EXPECT_EQ(b.data, before);
    EXPECT_EQ(b.allocated, 4096u);
    diIOBufferFree(&b);
    EXPECT_EQ(b.limit, 4096u); // the limit stays
    // No limit: a request of 0 becomes 16384; requests are taken as asked.
    b.limit = 0;
    ASSERT_EQ(diIOReserve(&b, 0), 0);
    EXPECT_EQ(b.allocated, 16384u);
    ASSERT_EQ(diIOReserve(&b, 20000), 0);
    EXPECT_EQ(b.allocated, 20000u);
    ASSERT_EQ(diIOReserve(&b, 100), 0); // never shrinks
    EXPECT_EQ(b.allocated, 20000u);
}

TEST_F(DiIO, FailedGrowthKeepsTheBufferedBytes) {
    if (sizeof(void*) != 4) GTEST_SKIP() << "only a 32-bit process is sure to fail the allocation";
    b.limit = 0;
    g_fakeNet.incoming.push_back("keep me");
    ASSERT_EQ(diIOFill(&b, &sock), 7);
    EXPECT_EQ(diIOReserve(&b, 0xFFFFFF00u), -1);
    ASSERT_NE(b.data, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b.data), b.used), "keep me");
    EXPECT_EQ(b.allocated, uint32_t(DI_IO_RECV_ROOM));
}

TEST_F(DiIO, FillDoublesOnlyWhenFullAndStopsAtTheLimit) {
    b.limit = 50000;
    ASSERT_EQ(diIOReserve(&b, 20000), 0);
    g_fakeNet.incoming.push_back(std::string(20000, 'x'));
    ASSERT_EQ(diIOFill(&b, &sock), 20000);
    EXPECT_EQ(b.allocated, 20000u);
    g_fakeNet.incoming.push_back(std::string(30000, 'y'));
    ASSERT_EQ(diIOFill(&b, &sock), 20000); // doubled to 40000
    EXPECT_EQ(b.allocated, 40000u);
    ASSERT_EQ(diIOFill(&b, &sock), 10000); // capped at the limit, not 80000
    EXPECT_EQ(b.allocated, 50000u);
    EXPECT_EQ(diIOFill(&b, &sock), 0); // full at the limit
    EXPECT_EQ(diIOFill(&b, nullptr), -1);
}

TEST_F(DiIO, ZeroLimitRefusesWritesButStillReads) {
    b.limit = 0;
    std::string msg = frame(1, "ab");
    EXPECT_EQ(diIOWriteMessage(&b, &sock, msg.data(), uint32_t(msg.size())), -1);
    EXPECT_EQ(b.used, 0u);
    g_fakeNet.incoming.push_back(msg);
    std::string m;
    EXPECT_EQ(read(&m), 5);
}

TEST_F(DiIO, WriteOfExactlyTheLimitSucceedsOneMoreIsRefused) {
    b.limit = 100;
    std::string exact(100, 'e'), over(101, 'o');
    EXPECT_EQ(diIOWriteMessage(&b, &sock, over.data(), 101), -1);
    EXPECT_EQ(diIOWriteMessage(&b, &sock, exact.data(), 100), 0);
    EXPECT_EQ(g_fakeNet.sent, exact);
}

TEST_F(DiIO, UnsentRestStaysAndAsksForWriteEvents) {
    b.limit = 1000;
    g_fakeNet.sendRoom = 4;
    std::string msg = frame(3, "hello");
    ASSERT_EQ(diIOWriteMessage(&b, &sock, msg.data(), uint32_t(msg.size())), 0);
    EXPECT_EQ(g_fakeNet.sent, msg.substr(0, 4));
    EXPECT_EQ(b.used, msg.size() - 4);
    ASSERT_FALSE(g_fakeNet.selects.empty());
    EXPECT_EQ(g_fakeNet.selects.back(),
              std::make_pair(uint32_t(DD_NET_WRITE), uint32_t(DD_NET_WRITE)));
    // The writable event drains the rest and stops write events.
    g_fakeNet.sendRoom = SIZE_MAX;
    EXPECT_EQ(diIOFlush(&b, &sock), 0);
    EXPECT_EQ(g_fakeNet.sent, msg);
    EXPECT_EQ(b.used, 0u);
    EXPECT_EQ(g_fakeNet.selects.back(), std::make_pair(uint32_t(DD_NET_WRITE), 0u));
}

// Write events are asked for when bytes start to wait and dropped when they
// are gone, not once a message: each request is a system call.
TEST_F(DiIO, WriteEventsFollowOnlyTheChangesOfWaitingBytes) {
    b.limit = 1000;
    std::string msg = frame(3, "abc");
    const struct {
        size_t room;    // bytes the peer takes before the write
        size_t selects; // requests recorded after it
        uint32_t mask;  // write bit registered after it
    } rows[] = {
        {SIZE_MAX, 0, 0},    {SIZE_MAX, 0, 0}, // taken whole: nothing to ask
        {2, 1, DD_FD_WRITE},                   // a rest waits: asked once
        {0, 1, DD_FD_WRITE},                   // more waits: already asked
        {SIZE_MAX, 2, 0},                      // all gone: dropped once
        {SIZE_MAX, 2, 0},
    };
    for (const auto& r : rows) {
        g_fakeNet.sendRoom = r.room;
        ASSERT_EQ(diIOWriteMessage(&b, &sock, msg.data(), uint32_t(msg.size())), 0);
        EXPECT_EQ(g_fakeNet.selects.size(), r.selects);
        EXPECT_EQ(sock.eventMask & DD_FD_WRITE, r.mask);
    }
    EXPECT_EQ(g_fakeNet.sent, msg + msg + msg + msg + msg + msg);
}

// A header and a payload go out as one message; their sum is checked without
// wrapping, so a payload near 4 GiB cannot pass as a short message.
TEST_F(DiIO, WritePartsJoinsHeadAndBodyAndChecksTheirSum) {
    b.limit = 100;
    std::string head("\x03\x07\x00", 3), body = "payload";
    EXPECT_EQ(diIOWriteParts(&b, &sock, head.data(), 3, body.data(), uint32_t(body.size())), 0);
    EXPECT_EQ(g_fakeNet.sent, head + body);
    EXPECT_EQ(diIOWriteParts(&b, &sock, head.data(), 3, body.data(), 98), -1);
    EXPECT_EQ(diIOWriteParts(&b, &sock, head.data(), 8, body.data(), 0xFFFFFFFCu), -1);
    EXPECT_EQ(g_fakeNet.sent, head + body);
}

TEST_F(DiIO, FlushFailureStopsWriteEvents) {
    b.limit = 1000;
    g_fakeNet.sendFails = true;
    std::string msg = frame(3, "x");
    EXPECT_EQ(diIOWriteMessage(&b, &sock, msg.data(), uint32_t(msg.size())), 0); // appended
    EXPECT_EQ(diIOFlush(&b, &sock), -1);
    EXPECT_EQ(g_fakeNet.selects.back(), std::make_pair(uint32_t(DD_NET_WRITE), 0u));
}

int g_closedEvents;
int countClosed(DiObject*, DiEvent* ev) {
    g_closedEvents += ev->w[0] == DI_EV_CLOSED;
    return 1;
}

// The peer has stopped reading: its connection is closed, and its owner
// learns it from the event loop, as when the peer drops.
TEST_F(DiIO, WriterToAPeerThatStopsReadingGivesUpAndClosesTheConnection) {
    uint32_t saved = diIOWriteTimeoutMs;
    diIOWriteTimeoutMs = 30;
    CLog log;
    diLogSet(&log);
    DiObject owner{};
    owner.handler = countClosed;
    owner.refCount = 1;
    sock.owner = &owner;
    g_closedEvents = 0;
    b.limit = 100;
    g_fakeNet.sendRoom = 0;
    std::string msg(60, 'm');
    ASSERT_EQ(diIOWriteMessage(&b, &sock, msg.data(), 60), 0);
    EXPECT_EQ(diIOWriteMessage(&b, &sock, msg.data(), 60), -1);
    EXPECT_GT(g_fakeNet.waits, 0); // it waited for writability between attempts
    EXPECT_EQ(log.GetCount(), 1u);
    EXPECT_EQ(b.used, 60u); // nothing of the refused message was appended
    EXPECT_EQ(g_fakeNet.closes, 1);
    EXPECT_EQ(g_closedEvents, 0); // not inside the writer
    diTimerDispatch(ddTimerNow());
    EXPECT_EQ(g_closedEvents, 1);
    diIOWriteTimeoutMs = saved;
    diLogSet(nullptr);
}

TEST_F(DiIO, WriterWaitsForRoomThenAppends) {
    b.limit = 100;
    g_fakeNet.sendRoom = 50;
    std::string msg(60, 'm');
    ASSERT_EQ(diIOWriteMessage(&b, &sock, msg.data(), 60), 0); // 50 sent, 10 left
    g_fakeNet.sendRoom = SIZE_MAX;
    std::string big(95, 'n');
    ASSERT_EQ(diIOWriteMessage(&b, &sock, big.data(), 95), 0); // 10 + 95 > 100: flushes first
    EXPECT_EQ(g_fakeNet.sent.size(), 155u);
}

TEST_F(DiIO, MessageIsDiscardedByReadDone) {
    b.limit = 1000;
    g_fakeNet.incoming.push_back(frame(1, "a") + frame(2, "b"));
    std::string m;
    ASSERT_EQ(read(&m), 4);
    diIOReadDone(&b);
    EXPECT_EQ(b.used, 4u);
    EXPECT_EQ(b.consumed, 0u);
    ASSERT_EQ(read(&m), 4);
    EXPECT_EQ(m, frame(2, "b"));
}

// Random message sizes in random receive pieces, read with the buffer's
// front moving and its bytes moved back only now and then, with receives
// between messages: every message comes out whole and in order, and the
// block never exceeds the limit.
TEST_F(DiIO, RandomStreamsComeOutWholeAndInOrder) {
    for (uint32_t limit : {0u, 4096u, 16384u, 65538u}) {
        for (unsigned seed = 1; seed <= 20; seed++) {
            SCOPED_TRACE(testing::Message() << "limit " << limit << " seed " << seed);
            SetUp();
            diIOBufferFree(&b);
            b.limit = limit;
            std::mt19937 rng(seed);
            uint32_t most = limit ? limit - 3 : 65535;
            std::vector<std::string> sent;
            std::string stream;
            for (int i = 0; i < 300; i++) {
                uint32_t len = rng() % 4 ? rng() % 40 : rng() % (most + 1);
                sent.push_back(frame(uint8_t(i), std::string(len, char('a' + i % 26))));
                stream += sent.back();
            }
            for (size_t at = 0; at < stream.size();) {
                size_t n = 1 + rng() % (rng() % 2 ? 9 : 70000);
                g_fakeNet.incoming.push_back(stream.substr(at, n));
                at += n;
            }
            size_t got = 0;
            while (got < sent.size()) {
                std::string m;
                int n = read(&m);
                ASSERT_GE(n, 0);
                if (n == 0) {
                    ASSERT_FALSE(g_fakeNet.incoming.empty()) << "stuck at message " << got;
                    continue;
                }
                ASSERT_EQ(m, sent[got]) << "message " << got;
                if (rng() % 3 == 0) diIOFill(&b, &sock);
                if (rng() % 2) diIOReadDone(&b);
                got++;
                if (limit) {
                    ASSERT_LE(uint32_t(b.data - b.base) + b.allocated, limit);
                }
            }
        }
    }
}

// Writes against a peer that takes a random number of bytes at each send:
// the bytes on the wire are the messages in order, nothing lost or doubled.
TEST_F(DiIO, RandomPartialSendsKeepTheStreamInOrder) {
    for (unsigned seed = 1; seed <= 20; seed++) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        SetUp();
        diIOBufferFree(&b);
        b.limit = 65538;
        std::mt19937 rng(seed);
        std::string want;
        for (int i = 0; i < 400; i++) {
            std::string msg = frame(uint8_t(i), std::string(rng() % 3 ? rng() % 30 : rng() % 30000,
                                                            char('A' + i % 26)));
            g_fakeNet.sendRoom = rng() % 4 ? rng() % 20000 : SIZE_MAX;
            if (b.used + msg.size() > b.limit) g_fakeNet.sendRoom = SIZE_MAX;
            ASSERT_EQ(diIOWriteMessage(&b, &sock, msg.data(), uint32_t(msg.size())), 0);
            want += msg;
            if (rng() % 5 == 0) {
                ASSERT_EQ(diIOFlush(&b, &sock), 0);
            }
        }
        g_fakeNet.sendRoom = SIZE_MAX;
        ASSERT_EQ(diIOFlush(&b, &sock), 0);
        EXPECT_EQ(b.used, 0u);
        ASSERT_EQ(g_fakeNet.sent.size(), want.size());
        EXPECT_TRUE(g_fakeNet.sent == want);
    }
}

} // namespace
