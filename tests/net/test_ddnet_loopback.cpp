// Sockets and channels over loopback against the scripted AIP peer: the
// socket window message reaches the channel through a real message loop,
// the channel reads in time slices resumed by timers, and the framing holds
// under arbitrary chunking, stalls, oversized messages, a peer that stops
// reading and a peer that closes mid-message.
#include <gtest/gtest.h>

#include "core/ddapp.h"
#include "core/dide.h"
#include "core/ditimer.h"
#include "net/ddnet.h"
#include "support/peer_process.h"

#include <stdio.h>
#include <string>
#include <vector>

namespace {

// What the channel's handler saw.
struct Seen {
    uint32_t next = 0;   // expected sequence number
    int bad = 0;         // messages that were not what the peer sent
    int ended = 0;       // the read side failed or the peer closed
    int slicesEnded = 0; // reads stopped by the end of a time slice
    int accepted = 0;
};
Seen g_seen;

// Checks one self-describing message (see aip_peer.py).
bool messageIsIntact(const uint8_t* m, int n, uint32_t seq) {
    uint32_t size = uint32_t(n) - 3;
    if (m[0] != uint8_t(seq) || (m[1] | m[2] << 8) != int(size)) return false;
    const uint8_t* p = m + 3;
    for (uint32_t j = 0; j < size; j++) {
        uint8_t want = uint8_t(seq + j);
        if (j < 4 && size >= 4) want = uint8_t(seq >> (8 * j));
        if (p[j] != want) return false;
    }
    return true;
}

int channelHandler(DiObject* obj, DiEvent* ev) {
    DiChannel* ch = reinterpret_cast<DiChannel*>(obj);
    switch (ev->w[0]) {
    case DI_EV_READABLE:
    case DI_EV_CLOSED:
        if (g_seen.ended) return 1;
        diDEChannelSliceStart(ch);
        for (;;) {
            const uint8_t* m;
            int n = diIOReadMessage(&ch->in, ch->socket, &m);
            if (n < 0) {
                g_seen.ended = 1;
                break;
            }
            if (n == 0) break;
            if (!messageIsIntact(m, n, g_seen.next)) g_seen.bad++;
            g_seen.next++;
            if (diDEChannelSliceOver(ch)) {
                g_seen.slicesEnded++;
                break;
            }
        }
        return 1;
    case DI_EV_WRITABLE:
        diIOFlush(&ch->out, ch->socket);
        return 1;
    case DI_EV_ACCEPTED:
        g_seen.accepted++;
        return 1;
    }
    return 0;
}

struct Loopback : ::testing::Test {
    DiChannel* ch = nullptr;
    static void SetUpTestSuite() { ASSERT_TRUE(hvSocketSinkInit()); }
    void SetUp() override { g_seen = Seen(); }
    void TearDown() override {
        if (ch) diDEDestroyChannel(ch);
        EXPECT_EQ(diDEChannelCount(), 0);
        EXPECT_EQ(diNetListHead(), nullptr); // every socket object is gone
    }
    // A terminal channel connected to the peer, registered for reading.
    void connect(const Peer& peer, uint32_t inLimit) {
        ch = diDECreateChannel(nullptr, DI_OBJ_TDE, 80, 25);
        ASSERT_NE(ch, nullptr);
        ch->hdr.handler = channelHandler;
        ch->in.limit = inLimit;
        ASSERT_EQ(ddNetSocketOpen(ch->socket, 1, 1), 0);
        ASSERT_EQ(diNetConnect(ch->socket, u"127.0.0.1", uint16_t(peer.port), 0), 0);
        ddNetSelectEvents(ch->socket, DD_NET_READ | DD_NET_WRITE | DD_NET_CLOSE,
                          DD_NET_READ | DD_NET_CLOSE);
    }
};

// A clock that advances 7 ms whenever it is read, so that read slices end
// every so many messages however fast the machine is.
uint32_t g_steppingNow;
uint32_t steppingClock() {
    return g_steppingNow += 7;
}

TEST_F(Loopback, TenThousandMessagesInRandomChunkingsArriveIntactAndInOrder) {
    Peer peer;
    ASSERT_TRUE(peer.start("aip_peer.py stream --count 10000 --seed 7"));
    connect(peer, 0);
    uint32_t (*saved)() = diDEClock;
    diDEClock = steppingClock;
    hvPumpUntil([] { return g_seen.ended != 0; });
    diDEClock = saved;
    EXPECT_EQ(g_seen.next, 10000u);
    EXPECT_EQ(g_seen.bad, 0);
    EXPECT_GT(g_seen.slicesEnded, 0); // reading went on through resume timers
}

TEST_F(Loopback, TwoMessagesInOneSegmentAndOneByteAtATime) {
    Peer peer;
    ASSERT_TRUE(peer.start("aip_peer.py pair"));
    connect(peer, 16384);
    hvPumpUntil([] { return g_seen.ended != 0; });
    EXPECT_EQ(g_seen.next, 3u);
    EXPECT_EQ(g_seen.bad, 0);
}

TEST_F(Loopback, OversizedMessageEndsTheChannelWithAnError) {
    Peer peer;
    ASSERT_TRUE(peer.start("aip_peer.py oversize --size 20000"));
    connect(peer, 16384);
    hvPumpUntil([] { return g_seen.ended != 0; });
    EXPECT_EQ(g_seen.ended, 1); // not a silent hang with the peer still connected
    EXPECT_EQ(g_seen.next, 0u);
}

TEST_F(Loopback, CloseMidMessageEndsTheChannelCleanly) {
    Peer peer;
    ASSERT_TRUE(peer.start("aip_peer.py midclose --count 5"));
    connect(peer, 16384);
    hvPumpUntil([] { return g_seen.ended != 0; });
    EXPECT_EQ(g_seen.next, 5u); // the whole ones, and nothing of the half
    EXPECT_EQ(g_seen.bad, 0);
}

int g_ticks;
uint32_t countTick(void*) {
    g_ticks++;
    return 20;
}

TEST_F(Loopback, WriterToAPeerThatStopsReadingFailsWhileTimersRun) {
    Peer peer;
    ASSERT_TRUE(peer.start("aip_peer.py noread --hold 6 --rcvbuf 4096"));
    connect(peer, 16384);
    ch->out.limit = 65538;
    uint32_t saved = diIOWriteTimeoutMs;
    diIOWriteTimeoutMs = 1500;
    DiTimer* t = diTimerAdd(20, countTick, nullptr);
    std::string msg(60000, 'w');
    msg[0] = 1, msg[1] = char((60000 - 3) & 0xFF), msg[2] = char((60000 - 3) >> 8);
    int r = 0, writes = 0;
    while (r == 0 && writes < 100000) {
        g_ticks = 0;
        r = diIOWriteMessage(&ch->out, ch->socket, msg.data(), uint32_t(msg.size()));
        writes++;
    }
    EXPECT_EQ(r, -1);
    EXPECT_GT(g_ticks, 0); // timers ran while the failing write waited
    diTimerRemove(t);
    diIOWriteTimeoutMs = saved;
}

// What a timer does to the channel of a writer that waits for room.
struct WaitingWriter {
    DiChannel* victim = nullptr;
    DiChannel* other = nullptr; // made right after the victim is gone
    const Peer* otherPeer = nullptr;
    int nestedResult = 1;
};
WaitingWriter g_ww;

uint32_t destroyTheWaitingChannel(void*) {
    diDEDestroyChannel(g_ww.victim);
    g_ww.victim = nullptr;
    // A new channel made at once is where freed memory is handed out again:
    // a writer still using the old buffer and socket would write into it.
    g_ww.other = diDECreateChannel(nullptr, DI_OBJ_TDE, 80, 25);
    if (g_ww.other && ddNetSocketOpen(g_ww.other->socket, 1, 1) == 0 &&
        diNetConnect(g_ww.other->socket, u"127.0.0.1", uint16_t(g_ww.otherPeer->port), 0) == 0)
        g_ww.other->out.limit = 65538;
    return 0;
}

TEST_F(Loopback, TimerThatDestroysTheChannelEndsTheWaitingWriter) {
    Peer stalled, reader;
    ASSERT_TRUE(stalled.start("aip_peer.py noread --hold 6 --rcvbuf 4096"));
    ASSERT_TRUE(reader.start("aip_peer.py sink"));
    connect(stalled, 16384);
    ch->out.limit = 65538;
    uint32_t saved = diIOWriteTimeoutMs;
    diIOWriteTimeoutMs = 8000;
    g_ww = WaitingWriter();
    g_ww.victim = ch;
    g_ww.otherPeer = &reader;
    diTimerAdd(100, destroyTheWaitingChannel, nullptr);
    DiChannel* mine = ch;
    ch = nullptr; // the timer destroys it
    int r = 0;
    std::string msg(60000, 'w');
    msg[0] = 1, msg[1] = char((60000 - 3) & 0xFF), msg[2] = char((60000 - 3) >> 8);
    for (int writes = 0; r == 0 && writes < 1000 && g_ww.victim; writes++)
        r = diIOWriteMessage(&mine->out, mine->socket, msg.data(), uint32_t(msg.size()));
    EXPECT_EQ(r, -1);
    EXPECT_EQ(g_ww.victim, nullptr); // the wait ran the timer
    ASSERT_NE(g_ww.other, nullptr);
    EXPECT_EQ(g_ww.other->out.used, 0u); // nothing went into the new channel
    ch = g_ww.other;
    diIOWriteTimeoutMs = saved;
}

uint32_t writeToTheWaitingChannel(void*) {
    static const uint8_t kMsg[] = {2, 1, 0, 'x'};
    g_ww.nestedResult = diIOWriteMessage(&g_ww.victim->out, g_ww.victim->socket, kMsg, 4);
    return 0;
}

TEST_F(Loopback, TimerThatWritesToTheWaitingChannelIsRefused) {
    // The peer starts reading after a while: the waiting write then goes
    // through, and the timer's write must not have gone ahead of it.
    Peer slow;
    ASSERT_TRUE(slow.start("aip_peer.py sink --delay 1 --rcvbuf 4096"));
    connect(slow, 16384);
    ch->out.limit = 65538;
    uint32_t saved = diIOWriteTimeoutMs;
    diIOWriteTimeoutMs = 20000;
    g_ww = WaitingWriter();
    g_ww.victim = ch;
    diTimerAdd(100, writeToTheWaitingChannel, nullptr);
    std::string msg(60000, 'w');
    msg[0] = 1, msg[1] = char((60000 - 3) & 0xFF), msg[2] = char((60000 - 3) >> 8);
    int r = 0;
    for (int writes = 0; r == 0 && writes < 1000 && g_ww.nestedResult == 1; writes++)
        r = diIOWriteMessage(&ch->out, ch->socket, msg.data(), uint32_t(msg.size()));
    EXPECT_EQ(g_ww.nestedResult, -1);
    EXPECT_EQ(r, 0); // the waiting write itself went through
    diIOWriteTimeoutMs = saved;
}

TEST_F(Loopback, ListenerOnLoopbackAcceptsAndReportsThePeer) {
    ch = diDECreateChannel(nullptr, DI_OBJ_TDE, 80, 25);
    ASSERT_NE(ch, nullptr);
    ch->hdr.handler = channelHandler;
    DdSocket* listener = ch->socket;
    ASSERT_EQ(ddNetSocketOpen(listener, 1, 0), 0);
    int port = ddNetListenLocal(listener, 0);
    ASSERT_GT(port, 0);
    ddNetSelectEvents(listener, DD_NET_ACCEPT, DD_NET_ACCEPT);
    DdSocket* client = ddNetSocketCreate();
    ASSERT_EQ(ddNetSocketOpen(client, 1, 0), 0);
    ASSERT_EQ(ddNetConnectDirect(client, u"127.0.0.1", uint16_t(port)), 0);
    hvPumpUntil([] { return g_seen.accepted != 0; }, 10000);
    EXPECT_EQ(g_seen.accepted, 1);
    uint32_t peerAddr = 0;
    DdSocket* accepted = ddNetAccept(listener, &peerAddr);
    ASSERT_NE(accepted, nullptr);
    EXPECT_EQ(peerAddr, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(ddNetFindOwnerBySocket(SOCKET(accepted->handle)), nullptr); // owner not set yet
    EXPECT_EQ(ddNetFindOwnerBySocket(SOCKET(listener->handle)), &ch->hdr);
    EXPECT_TRUE(ddNetIsLocalAddress(peerAddr));
    ddNetSocketDestroy(accepted);
    ddNetSocketDestroy(client);
}

// Whether this thread's queue holds a socket notice for the handle.
bool noticeQueuedFor(uintptr_t handle) {
    std::vector<MSG> seen;
    MSG m;
    bool found = false;
    UINT wm = g_ddApp->winsockMessage;
    while (PeekMessageW(&m, nullptr, wm, wm, PM_REMOVE)) {
        found = found || uintptr_t(m.wParam) == handle;
        seen.push_back(m);
    }
    for (const MSG& k : seen) PostMessageW(k.hwnd, k.message, k.wParam, k.lParam);
    return found;
}

// Notices queued before a close must not reach whatever socket later gets
// the same handle value; other sockets' notices stay queued.
TEST_F(Loopback, ClosingASocketDropsItsQueuedNoticesOnly) {
    DdSocket* a = ddNetSocketCreate();
    DdSocket* b = ddNetSocketCreate();
    ASSERT_EQ(ddNetSocketOpen(a, 1, 0), 0);
    ASSERT_EQ(ddNetSocketOpen(b, 1, 0), 0);
    int portA = ddNetListenLocal(a, 0), portB = ddNetListenLocal(b, 0);
    ASSERT_GT(portA, 0);
    ASSERT_GT(portB, 0);
    ddNetSelectEvents(a, DD_NET_ACCEPT, DD_NET_ACCEPT);
    ddNetSelectEvents(b, DD_NET_ACCEPT, DD_NET_ACCEPT);
    DdSocket* ca = ddNetSocketCreate();
    DdSocket* cb = ddNetSocketCreate();
    ASSERT_EQ(ddNetSocketOpen(ca, 1, 0), 0);
    ASSERT_EQ(ddNetSocketOpen(cb, 1, 0), 0);
    ASSERT_EQ(ddNetConnectDirect(ca, u"127.0.0.1", uint16_t(portA)), 0);
    ASSERT_EQ(ddNetConnectDirect(cb, u"127.0.0.1", uint16_t(portB)), 0);
    uintptr_t ha = a->handle, hb = b->handle;
    // Wait, without dispatching, until both accept notices are queued.
    for (int i = 0; i < 500 && !(noticeQueuedFor(ha) && noticeQueuedFor(hb)); i++) Sleep(10);
    ASSERT_TRUE(noticeQueuedFor(ha));
    ASSERT_TRUE(noticeQueuedFor(hb));
    EXPECT_EQ(ddNetSocketClose(a), 0);
    EXPECT_FALSE(noticeQueuedFor(ha));
    EXPECT_TRUE(noticeQueuedFor(hb));
    for (DdSocket* s : {a, b, ca, cb}) ddNetSocketDestroy(s);
    EXPECT_FALSE(noticeQueuedFor(hb));
}

TEST_F(Loopback, SocketWithoutConnectionRefusesQuietly) {
    DdSocket* s = ddNetSocketCreate();
    ddNetSelectEvents(s, DD_NET_READ, DD_NET_READ);
    EXPECT_EQ(s->eventMask, 0u);
    EXPECT_EQ(ddNetSocketClose(s), 0);
    EXPECT_EQ(ddNetSocketClose(nullptr), -1);
    DiChar unknown[] = u"no-such-host.invalid";
    ASSERT_EQ(ddNetSocketOpen(s, 1, 0), 0);
    EXPECT_EQ(ddNetConnectDirect(s, unknown, 1), -1);
    EXPECT_EQ(s->error, DD_NET_ERR_HOST);
    // During a TLS handshake a receive would block; raw bytes are never read.
    int marker;
    s->tls = &marker;
    s->handshake = &marker;
    char buf[4];
    EXPECT_EQ(ddNetRecv(s, buf, sizeof buf), -1);
    EXPECT_EQ(s->error, DD_NET_ERR_WOULD_BLOCK);
    s->handshake = nullptr;
    s->tls = nullptr; // the marker is no session to shut down
    ddNetSocketDestroy(s);
}

} // namespace
