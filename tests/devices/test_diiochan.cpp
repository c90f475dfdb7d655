// The IO request channel on a scripted socket: hello, reassembly, dispatch
// by kind, acknowledgements and replies.
#include <gtest/gtest.h>

#include "core/ditimer.h"
#include "fakes/device_fakes.h"
#include "io_wire.h"
#include "support/split_delivery.h"

#include <stdlib.h>
#include <zlib.h>

using namespace iowire;

namespace {

struct Seen {
    DiIOChannel* io;
    uint32_t length;
    uint16_t stream;
    std::string payload;
};
std::vector<Seen> g_seen;

void capture(DiIOChannel* io, const uint8_t* payload, uint32_t length, uint16_t stream) {
    g_seen.push_back(
        {io, length, stream, std::string(reinterpret_cast<const char*>(payload), length)});
}

// Answers every captured request with its payload, as a drive handler would.
void echo(DiIOChannel* io, const uint8_t* payload, uint32_t length, uint16_t stream) {
    capture(io, payload, length, stream);
    diIOFileReply(io, 9, 0, length, payload, stream);
}

class IOChannel : public ::testing::Test {
  protected:
    void SetUp() override {
        fakesReset();
        deviceFakesReset();
        g_seen.clear();
        // A still clock: a slow run must not end a read slice half-way.
        savedClock = diDEClock;
        diDEClock = [] { return 1000u; };
        diIOFileHandlers[3] = capture;
        diIOAudioHandlers[3] = capture;
    }
    void TearDown() override {
        for (DiIOChannel* io : made)
            destroy(io);
        diIOFileHandlers[3] = diIOAudioHandlers[3] = nullptr;
        diDEClock = savedClock;
    }
    DiIOChannel* make(uint32_t type) {
        DiIOChannel* io = static_cast<DiIOChannel*>(calloc(1, sizeof(DiIOChannel)));
        diDEChannelInit(&io->ch, type, 0, 0);
        diIOChannelInit(io);
        diChannelAttachConnection(&io->ch, ddNetSocketCreate());
        made.push_back(io);
        return io;
    }
    static void destroy(DiIOChannel* io) {
        diIOChannelTeardown(io);
        diDEChannelFree(&io->ch);
        free(io);
    }
    // Delivers the bytes and reads them; the frames the client sent.
    std::vector<Frame> feed(DiIOChannel* io, const std::string& bytes) {
        g_fakeNet.incoming.push_back(bytes);
        // A socket with bytes left signals readable again: read until empty.
        for (int i = 0; i < 100 && !g_fakeNet.incoming.empty(); i++) {
            io->ch.sliceDeadline = 0;
            EXPECT_EQ(0, diIOReadMessages(io));
        }
        return sentFrames(g_fakeNet.sent);
    }
    std::vector<DiIOChannel*> made;
    uint32_t (*savedClock)() = nullptr;
};

std::string hello(uint8_t count, uint8_t compression, const std::string& more, uint8_t flags = 0) {
    return frame(3, flags, 0, std::string(1, char(count)) + le32(7) + char(compression) + more);
}

TEST_F(IOChannel, HelloSetsOnlyTheFieldsItCarries) {
    struct Row {
        std::string msg;
        uint8_t compressOn;
        uint32_t threshold, keepAliveMs;
        bool answered, acked;
    } rows[] = {
        {hello(5, 1, ""), 1, 256, 0, true, false},
        {hello(9, 0, le32(1000), 1), 0, 1000, 0, true, true},
        {hello(13, 1, le32(300) + le32(30)), 1, 300, 30000, true, false},
        // 4,294,968 s is past what the timer list orders: the longest delay.
        {hello(13, 1, le32(256) + le32(4294968)), 1, 256, 0x7FFFFFFF, true, false},
        // Count 13 but the interval is cut off: only the threshold is read.
        {hello(13, 1, le32(512) + "\x01\x02"), 1, 512, 0, true, false},
        // No compression byte: the hello is ignored.
        {frame(3, 0, 0, std::string(1, '\x05') + le32(7)), 0, 256, 0, false, false},
    };
    for (const Row& r : rows) {
        DiIOChannel* io = make(DI_OBJ_CDM);
        std::vector<Frame> out = feed(io, r.msg);
        EXPECT_EQ(r.compressOn, io->compressOn);
        EXPECT_EQ(r.threshold, io->compressThreshold);
        EXPECT_EQ(r.keepAliveMs, io->keepAliveMs);
        EXPECT_EQ(r.keepAliveMs != 0, io->keepAlive != nullptr);
        size_t want = (r.answered ? 1 : 0) + (r.acked ? 1 : 0);
        ASSERT_EQ(want, out.size());
        if (r.answered) {
            EXPECT_EQ(3, out[0].type);
            EXPECT_EQ(std::string("\x05\x51\x97\x06\x00\x01", 6), out[0].data);
        }
        if (r.acked) {
            EXPECT_EQ(1, out[1].type);
        }
    }
}

TEST_F(IOChannel, KeepAliveRepeatsUntilAHelloStopsIt) {
    DiIOChannel* io = make(DI_OBJ_DEVLIST);
    feed(io, hello(13, 1, le32(256) + le32(2)));
    uint32_t now = diDEClock();
    diTimerDispatch(now + 2000);
    diTimerDispatch(now + 4000);
    std::vector<Frame> out = sentFrames(g_fakeNet.sent);
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ(8, out[1].type);
    feed(io, hello(13, 1, le32(256) + le32(0)));
    EXPECT_EQ(nullptr, io->keepAlive);
    diTimerDispatch(now + 8000);
    EXPECT_TRUE(sentFrames(g_fakeNet.sent).empty());
}

TEST_F(IOChannel, RequestsAreDeliveredOnceAndWhole) {
    std::string payload(40000, '\0');
    for (size_t i = 0; i < payload.size(); i++)
        payload[i] = char(i * 7 + i / 251);
    std::string whole = request(DI_IO_KIND_FILE, 3, payload);
    struct Row {
        std::vector<size_t> cuts; // fragment ends
        bool compress;
    } rows[] = {
        {{whole.size()}, false},
        {{20, 30000, whole.size()}, false},
        {{25000, whole.size()}, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.cuts.size());
        g_seen.clear();
        DiIOChannel* io = make(DI_OBJ_CDM);
        size_t from = 0;
        for (size_t cut : r.cuts) {
            EXPECT_TRUE(g_seen.empty());
            feed(io, data(5, whole.substr(from, cut - from), false, r.compress));
            from = cut;
        }
        ASSERT_EQ(1u, g_seen.size());
        EXPECT_EQ(payload.size(), g_seen[0].length);
        EXPECT_EQ(5, g_seen[0].stream);
        EXPECT_TRUE(g_seen[0].payload == payload);
    }
    SplitReader requests = [this](const SplitPieces& pieces) {
        TearDown();
        made.clear();
        SetUp();
        DiIOChannel* io = make(DI_OBJ_CDM);
        for (const std::string& p : pieces)
            feed(io, p);
        std::string out;
        for (const Seen& seen : g_seen)
            out += std::to_string(seen.stream) + ":" + seen.payload + "|";
        return out + g_fakeNet.sent;
    };
    std::string small = request(DI_IO_KIND_FILE, 3, payload.substr(0, 300));
    expectSameHoweverSplit({{"IO channel",
                             data(5, small.substr(0, 100), false, false) +
                                 data(5, small.substr(100), false, false) + data(6, small),
                             requests}});
    // A header with total 0 or 20 is a whole request with no payload.
    g_seen.clear();
    DiIOChannel* io = make(DI_OBJ_CDM);
    feed(io, data(0, header(0, DI_IO_KIND_FILE, 3)) + data(0, header(20, DI_IO_KIND_FILE, 3)));
    ASSERT_EQ(2u, g_seen.size());
    EXPECT_EQ(0u, g_seen[1].length);
}

TEST_F(IOChannel, ChannelsSharingAStreamIdKeepTheirOwnRequests) {
    DiIOChannel* a = make(DI_OBJ_CDM);
    DiIOChannel* b = make(DI_OBJ_CDM);
    std::string ra = request(DI_IO_KIND_FILE, 3, std::string(3000, 'a'));
    std::string rb = request(DI_IO_KIND_FILE, 3, std::string(5000, 'b'));
    feed(a, data(1, ra.substr(0, 1000)));
    feed(b, data(1, rb.substr(0, 1000)));
    feed(a, data(1, ra.substr(1000)));
    feed(b, data(1, rb.substr(1000)));
    ASSERT_EQ(2u, g_seen.size());
    EXPECT_EQ(a, g_seen[0].io);
    EXPECT_EQ(std::string(3000, 'a'), g_seen[0].payload);
    EXPECT_EQ(b, g_seen[1].io);
    EXPECT_EQ(std::string(5000, 'b'), g_seen[1].payload);
}

// The channel outlives its connection and is connected again by the next
// service request: nothing of the lost connection reaches the next one.
TEST_F(IOChannel, ALostConnectionLeavesNothingToTheNext) {
    static std::vector<uint16_t> closed;
    closed.clear();
    DiIOChannel* io = make(DI_OBJ_CDM);
    io->sessionClose = [](DiIOChannel*, uint16_t s) {
        if (s < 3) closed.push_back(s);
    };
    // The first part of a request, from a deflate stream that goes on.
    std::string part = request(DI_IO_KIND_FILE, 3, std::string(3000, 'a')).substr(0, 1000);
    z_stream z{};
    ASSERT_EQ(Z_OK, deflateInit(&z, 3));
    std::string out(4096, '\0');
    z.next_in = reinterpret_cast<Bytef*>(&part[0]), z.avail_in = uInt(part.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]), z.avail_out = uInt(out.size());
    deflate(&z, Z_SYNC_FLUSH);
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    feed(io, frame(7, 6, 5, le16(uint32_t(part.size())) + out));
    g_fakeNet.closed = true;
    DiEvent ev = {};
    ev.w[0] = DI_EV_CLOSED;
    diIOChannelEvent(&io->ch.hdr, &ev);
    EXPECT_EQ((std::vector<uint16_t>{0, 1, 2}), closed) << "every session ended";
    g_fakeNet.closed = false;
    feed(io, data(5, request(DI_IO_KIND_FILE, 3, "fresh"), false, true));
    ASSERT_EQ(1u, g_seen.size());
    EXPECT_EQ("fresh", g_seen[0].payload);
}

TEST_F(IOChannel, HostileFragmentsAreDroppedAndTheStreamRecovers) {
    std::string good = request(DI_IO_KIND_FILE, 3, "fine");
    struct Row {
        const char* what;
        std::string bytes;
        bool failureReply;
    } rows[] = {
        {"first fragment shorter than a header", data(2, std::string(10, 'x')), false},
        {"total between 1 and 19", data(2, header(5, 1, 3) + "abc"), false},
        {"total above the cap", data(2, header(2u << 20, 1, 3) + "abc"), false},
        {"body longer than its total", data(2, header(24, 1, 3) + "abcdefgh"), false},
        {"continuation longer than missing",
         data(2, header(30, 1, 3) + "12345") + data(2, std::string(20, 'y')), false},
        {"message shorter than its header", std::string("\x07\x03\x00\x04\x00\x00", 6), false},
        {"compressed data that do not inflate",
         frame(7, 6, 2, le16(100) + std::string("\x78\x9c\xff\xff\xff", 5)), true},
        {"a fragment that does not inflate inside a request",
         data(2, header(40, 1, 3) + "12345") + frame(7, 6, 2, le16(9) + "\x78\x9c\xff"), true},
        {"raw length larger than the inflated data",
         frame(7, 6, 2, le16(200) + deflated(std::string(50, 'z'))), true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        g_seen.clear();
        DiIOChannel* io = make(DI_OBJ_CDM);
        std::vector<Frame> out = feed(io, r.bytes);
        EXPECT_TRUE(g_seen.empty());
        ASSERT_EQ(r.failureReply ? 1u : 0u, out.size());
        if (r.failureReply) {
            EXPECT_EQ(0, out[0].flags & 2);
            EXPECT_EQ(header(24, 1, 200) + le32(5), out[0].data);
        }
        feed(io, data(2, good));
        ASSERT_EQ(1u, g_seen.size());
        EXPECT_EQ("fine", g_seen[0].payload);
    }
}

// Requests begun and never finished cost the oldest of them, each with its
// failure reply, never more memory: first headers that announce the largest
// request, then bodies that fill more than the channel's byte budget.
TEST_F(IOChannel, UnfinishedRequestsAreCappedPerChannel) {
#ifndef HV_COUNTS_ALLOCATIONS
    GTEST_SKIP() << "needs the sanitizer's allocation count";
#endif
    DiIOChannel* io = make(DI_OBJ_CDM);
    size_t before = heldBytes();
    const uint32_t kHeaders = 100000, kBatch = 1000;
    uint32_t failures = 0;
    for (uint32_t i = 0; i < kHeaders; i += kBatch) {
        std::string batch;
        for (uint32_t j = i; j < i + kBatch; j++)
            batch += data(uint16_t(j % 0xFFFF + 1), header(DI_IO_MAX_REQUEST, 1, 3));
        g_fakeNet.sentBy.clear();
        for (const Frame& f : feed(io, batch)) {
            ASSERT_EQ(header(24, 1, 200) + le32(5), f.data);
            ASSERT_EQ((failures++ % 0xFFFF) + 1, f.stream) << "the oldest goes first";
        }
        ASSERT_LT(heldBytes() - before, 4u << 20) << "after " << i + kBatch << " headers";
    }
    EXPECT_EQ(kHeaders - DI_IO_MAX_STREAMS, failures);
    feed(io, data(1, request(DI_IO_KIND_FILE, 3, "answered")));
    ASSERT_EQ(1u, g_seen.size());
    EXPECT_EQ("answered", g_seen[0].payload);

    // Ten streams with all but the last byte of the largest request: the
    // ninth passes the budget and ends the first, the tenth the second.
    DiIOChannel* full = make(DI_OBJ_CDM);
    std::string body(DI_IO_MAX_REQUEST - DI_IO_REQ_HEADER, 'b');
    std::string whole = header(DI_IO_MAX_REQUEST, 1, 3) + body;
    std::vector<uint16_t> ended;
    ended.reserve(16);
    before = heldBytes();
    for (uint16_t s = 1; s <= 10; s++)
        for (size_t at = 0; at + 1 < whole.size(); at += 60000)
            for (const Frame& f :
                 feed(full,
                      data(s, whole.substr(at, std::min<size_t>(60000, whole.size() - 1 - at)))))
                ended.push_back(f.stream);
    EXPECT_EQ((std::vector<uint16_t>{1, 2}), ended);
    EXPECT_LE(heldBytes() - before, size_t(DI_IO_MAX_HELD) + 65536);
    g_seen.clear();
    feed(full, data(10, "b"));
    ASSERT_EQ(1u, g_seen.size());
    EXPECT_TRUE(g_seen[0].payload == body);
}

TEST_F(IOChannel, EachTypeTakesOnlyItsOwnKind) {
    struct Row {
        uint32_t type, kind;
        bool delivered;
    } rows[] = {
        {DI_OBJ_CDM, DI_IO_KIND_FILE, true},      {DI_OBJ_CDM, DI_IO_KIND_AUDIO, false},
        {DI_OBJ_AUDIO, DI_IO_KIND_AUDIO, true},   {DI_OBJ_AUDIO, DI_IO_KIND_FILE, false},
        {DI_OBJ_DEVLIST, DI_IO_KIND_FILE, false}, {DI_OBJ_CDM, 0x40, false},
    };
    for (const Row& r : rows) {
        g_seen.clear();
        feed(make(r.type), data(1, request(r.kind, 3, "x")));
        EXPECT_EQ(r.delivered, g_seen.size() == 1) << r.type << " " << r.kind;
    }
}

TEST_F(IOChannel, AcknowledgementGoesBeforeTheReply) {
    diIOFileHandlers[4] = echo;
    DiIOChannel* io = make(DI_OBJ_CDM);
    std::vector<Frame> out = feed(io, data(3, request(DI_IO_KIND_FILE, 4, "ping"), true));
    diIOFileHandlers[4] = nullptr;
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ(1, out[0].type);
    EXPECT_EQ(7, out[1].type);
    EXPECT_EQ(3, out[1].stream);
    EXPECT_EQ(header(24, 1, 9) + "ping", out[1].data);
}

TEST_F(IOChannel, RepliesAreDeflatedOnlyWhenThatPays) {
    std::string noise(70000, '\0');
    uint32_t x = 1;
    for (char& c : noise)
        c = char((x = x * 1103515245 + 12345) >> 16);
    struct Row {
        uint8_t on;
        uint32_t threshold, length;
        int compressible; // 0 noise, 1 one letter, 2 1,000 noise bytes first
        int result;
        bool deflatedOnWire;
    } rows[] = {
        {1, 256, 256, true, 0, false},
        {1, 256, 257, true, 0, true},
        {1, 256, 257, false, 0, false},
        {0, 256, 4000, true, 0, false},
        {1, 0x80000000, 100, true, 0, true}, // the threshold compares signed
        {1, 256, 61464, false, 0, false},
        {1, 256, 61465, false, -1, false}, // cannot be framed
        {1, 256, 65000, true, 0, true},
        {1, 256, 40000, 2, 0, true}, // a noisy head that still shrinks
    };
    for (const Row& r : rows) {
        DiIOChannel* io = make(DI_OBJ_DEVLIST);
        io->compressOn = r.on;
        io->compressThreshold = r.threshold;
        std::string reply = r.compressible ? std::string(r.length, 'q') : noise.substr(0, r.length);
        if (r.compressible == 2) reply = noise.substr(0, 1000) + reply.substr(1000);
        EXPECT_EQ(r.result,
                  diIOSendData(io, r.length, reinterpret_cast<const uint8_t*>(reply.data()), 6));
        std::vector<Frame> out = sentFrames(g_fakeNet.sent);
        ASSERT_EQ(r.result == 0 ? 1u : 0u, out.size()) << r.length;
        if (out.empty()) continue;
        EXPECT_EQ(r.deflatedOnWire, (out[0].flags & 2) != 0) << r.length;
        EXPECT_TRUE(out[0].data == reply);
    }
}

// The compressor stays with the channel from reply to reply: each deflated
// reply must still be a stream of its own, also after a head that did not
// shrink or a deflate that ran out of room and left its stream unfinished.
TEST_F(IOChannel, SuccessiveRepliesOnOneChannelEachInflateAlone) {
    std::string noise(63000, '\0');
    uint32_t x = 7;
    for (char& c : noise)
        c = char((x = x * 1103515245 + 12345) >> 16);
    const std::string text(20000, 't');
    const struct {
        std::string reply;
        int result;
        bool deflated;
    } rows[] = {
        {text, 0, true},
        {noise.substr(0, 30000), 0, false}, // the head does not shrink
        {text.substr(0, 3000), 0, true},
        // The head shrinks, the whole outgrows the room: the stream stops
        // midway, and the raw reply is too long to frame.
        {text.substr(0, 2048) + noise, -1, false},
        {text.substr(0, 9000), 0, true},
        {noise.substr(0, 1000) + text, 0, true},
    };
    DiIOChannel* io = make(DI_OBJ_DEVLIST);
    io->compressOn = 1;
    for (const auto& r : rows) {
        g_fakeNet.sent.clear();
        ASSERT_EQ(r.result, diIOSendData(io, uint32_t(r.reply.size()),
                                         reinterpret_cast<const uint8_t*>(r.reply.data()), 2));
        std::vector<Frame> out = sentFrames(g_fakeNet.sent);
        ASSERT_EQ(r.result == 0 ? 1u : 0u, out.size()) << r.reply.size();
        if (out.empty()) continue;
        EXPECT_EQ(r.deflated, (out[0].flags & 2) != 0) << r.reply.size();
        EXPECT_TRUE(out[0].data == r.reply) << r.reply.size();
    }
}

} // namespace
