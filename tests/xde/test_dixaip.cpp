// The X-AIP input pump and request decoding over the chunking fake socket,
// into the recording operations table: the fake server's seeded runs in
// every block style and chunking, optional fields and short requests,
// acknowledgements, syncs, time slices and the pump's failure paths.
#include <gtest/gtest.h>

#include "core/ditimer.h"
#include "fakes/chan_fakes.h"
#include "support/split_delivery.h"
#include "xaip_recorder.h"

#include <fstream>
#include <random>
#include <sstream>
#include <string.h>
#include <zlib.h>

namespace {

std::string le16(uint32_t v) {
    return std::string{char(v & 255), char((v >> 8) & 255)};
}
std::string msg(uint8_t type, const std::string& payload) {
    return std::string(1, char(type)) + le16(uint32_t(payload.size())) + payload;
}
std::string deflated(const std::string& raw) {
    uLongf n = compressBound(uLong(raw.size()));
    std::string z(n, '\0');
    compress2(reinterpret_cast<Bytef*>(&z[0]), &n, reinterpret_cast<const Bytef*>(raw.data()),
              uLong(raw.size()), 6);
    z.resize(n);
    return z;
}
// raw as one piece of a stream that goes on (a sync flush, no end).
std::string syncFlushed(const std::string& raw) {
    z_stream z{};
    deflateInit(&z, 6);
    std::string in = raw, out(raw.size() + 1024, '\0');
    z.next_in = reinterpret_cast<Bytef*>(&in[0]);
    z.avail_in = uInt(in.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = uInt(out.size());
    deflate(&z, Z_SYNC_FLUSH);
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    return out;
}
// A compressed block holding raw (one zlib stream).
std::string block(const std::string& raw) {
    return msg(0x80, le16(uint32_t(raw.size())) + deflated(raw));
}
std::string hexBytes(const std::string& h) {
    std::string out;
    for (size_t i = 0; i + 1 < h.size(); i += 2) out += char(std::stoi(h.substr(i, 2), nullptr, 16));
    return out;
}

uint32_t g_now;
uint32_t g_tick; // added to the clock at every reading
uint32_t fakeClock() {
    g_now += g_tick;
    return g_now;
}

// The client messages sent so far, by kind.
struct Sent {
    std::vector<std::pair<int, std::string>> all;
    uint64_t acked = 0;
    int acks = 0, syncs = 0;
    std::vector<uint32_t> pings;
};

Sent decodeSent() {
    Sent s;
    const std::string& b = g_fakeNet.sent;
    for (size_t at = 0; at + 3 <= b.size();) {
        int t = uint8_t(b[at]);
        size_t n = uint8_t(b[at + 1]) | uint8_t(b[at + 2]) << 8;
        std::string p = b.substr(at + 3, n);
        s.all.push_back({t, p});
        auto u = [&](size_t i) { return uint32_t(uint8_t(p[i])); };
        if (t == 16) s.acks++, s.acked += u(0) | u(1) << 8 | u(2) << 16 | u(3) << 24;
        if (t == 19) s.syncs++;
        if (t == 31) s.pings.push_back(u(0) | u(1) << 8);
        at += 3 + n;
    }
    return s;
}

struct Wire : ::testing::Test {
    DiXDisplay d{};
    DdSocket sock{};
    uint32_t (*savedClock)() = nullptr;

    void SetUp() override {
        savedClock = diDEClock;
        diDEClock = fakeClock;
        g_now = 5000;
        g_tick = 0;
        reset();
    }
    void reset() {
        fakesReset();
        g_xrec = XRecorder();
        d = DiXDisplay{};
        ASSERT_EQ(diXAIPInit(&d), 0);
        sock = DdSocket{};
        sock.handle = 1;
        d.ch.socket = &sock;
        d.ch.open = 1;
        d.ops = xaipRecordingOps();
    }
    void release() {
        if (d.ch.resumeTimer) diTimerRemove(d.ch.resumeTimer);
        d.ch.resumeTimer = nullptr;
        diXAIPFree(&d);
        diIOBufferFree(&d.ch.in);
        diIOBufferFree(&d.ch.out);
    }
    void TearDown() override {
        release();
        diDEClock = savedClock;
    }
    // One readable event.
    int pump() {
        int r = diXAIPReadInput(&d);
        if (d.ch.resumeTimer) diTimerRemove(d.ch.resumeTimer);
        d.ch.resumeTimer = nullptr;
        d.ch.sliceDeadline = 0;
        return r;
    }
    // Readable events until the socket has nothing more (at most `limit`).
    int pumpAll(int limit = 1000000) {
        int calls = 0;
        do {
            int r = pump();
            if (r < 0) return r;
        } while (!g_fakeNet.incoming.empty() && ++calls < limit);
        return 0;
    }
    void feed(const std::string& bytes) { g_fakeNet.incoming.push_back(bytes); }
    // The fake server's seeded run (prefix.plain, .zblock, .zsync, .txt,
    // .meta) in every style and chunking.
    void seededRuns(const std::string& prefix);
    // One request fed whole and pumped; the recorded line or "" for none.
    std::string one(uint8_t type, const std::string& payload) {
        size_t before = g_xrec.lines.size();
        feed(msg(type, payload));
        EXPECT_EQ(pumpAll(), 0);
        return g_xrec.lines.size() > before ? g_xrec.lines.back() : "";
    }
};

std::string readFile(const std::string& path) {
#ifdef _WIN32
    std::ifstream f("Z:" + path, std::ios::binary);
#else
    std::ifstream f(path, std::ios::binary);
#endif
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> v;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        if (!l.empty()) v.push_back(l);
    return v;
}

TEST_F(Wire, SeededRunsMatchTheTranscriptInEveryStyleAndChunking) {
    seededRuns(HV_XAIP_RUN);
}

// Requests cut below their fixed fields or announcing more text than they
// carry are skipped; the rest of the run is unaffected and all bytes count.
TEST_F(Wire, SeededRunWithShortAndDamagedRequestsSkipsThem) {
    seededRuns(HV_XAIP_RUN "_hostile");
}

void Wire::seededRuns(const std::string& prefix) {
    std::vector<std::string> want = linesOf(readFile(prefix + ".txt"));
    std::istringstream meta(readFile(prefix + ".meta"));
    uint64_t bytes = 0;
    int syncs = 0, pingCount = 0;
    meta >> bytes >> syncs >> pingCount;
    std::vector<uint32_t> pings{};
    pings.resize(size_t(pingCount));
    for (uint32_t& p : pings) meta >> p;
    ASSERT_GT(want.size(), 100u);
    for (const char* style : {".plain", ".zblock", ".zsync"}) {
        std::string stream = readFile(prefix + style);
        ASSERT_FALSE(stream.empty());
        for (int chunking = 0; chunking < 4; chunking++) {
            reset();
            std::mt19937 rng(uint32_t(chunking) * 31 + 7);
            for (size_t at = 0; at < stream.size();) {
                size_t n = chunking == 0 ? stream.size()
                           : chunking == 1 ? 1
                           : chunking == 2 ? 1 + rng() % 7
                                           : 1 + rng() % 40000;
                feed(stream.substr(at, n));
                at += n;
            }
            std::string where = std::string(style) + " chunking " + std::to_string(chunking);
            ASSERT_EQ(pumpAll(), 0) << where;
            ASSERT_EQ(g_xrec.lines.size(), want.size()) << where;
            for (size_t i = 0; i < want.size(); i++)
                ASSERT_EQ(g_xrec.lines[i], want[i]) << where << " line " << i;
            Sent s = decodeSent();
            EXPECT_EQ(s.syncs, syncs) << where;
            EXPECT_EQ(s.pings, pings) << where;
            EXPECT_EQ(s.acked, bytes) << where;
            release();
        }
    }
}

// Optional fields appear at their length thresholds; integers keep their
// sign or zero extension; a request shorter than its fixed fields is skipped.
TEST_F(Wire, FieldsFollowTheRequestLength) {
    struct Case {
        uint8_t type;
        const char* payload; // hex
        const char* line;    // "" when the request is skipped
    } cases[] = {
        {2, "010002000300040008", ""},
        {2, "ffff02000300fcff0801", "PutImage -1 2 3 -4 8 1 -"},
        {9, "0200ffff0080ffffff7f", "PolyRectangle 1 -1 -32768 65535 32767"},
        {7, "0500010002000300", "PolyLine 1 1 2"}, // count past the payload: whole points only
        {7, "fbff0100020003000400", "PolyLine 0"},
        {11, "01", ""},
        {12, "0100020003000400010203000400", "CopyArea 1 2 3 4 1 2 3 4"},
        {12, "010002000300040001020300040005", "CopyArea 1 1282 3 4 1 2 3 4"},
        {15, "07010002000300040005060708", "CreateWindow 7 1 2 3 4 5 6 7 0"},
        {15, "0701000200030004000506070809", "CreateWindow 7 1 2 3 4 5 6 7 0"},
        {15, "070100020003000400050607080a000000", "CreateWindow 7 1 2 3 4 2053 6 7 10"},
        {18, "0101000200030004", ""},
        {18, "0101000200ffff040000", "ConfigureWindow 1 1 2 65535 4 0"},
        {18, "0101000200ffff04000034", "ConfigureWindow 1 1 2 65535 4 0"},
        {18, "0101000200ffff0400003412", "ConfigureWindow 1 1 2 65535 4 4660"},
        {19, "01", ""},
        {19, "0102", "SetDrawable 1 2"},
        {19, "010203", "SetDrawable 1 770"},
        {20, "", ""},
        {20, "ff", "SetForeground 255"},
        {20, "ff01", "SetForeground 511"},
        {20, "ff0102", "SetForeground 131583"},
        {23, "", ""},
        {23, "81", "SetTile 129"},
        {28, "8102", "FreePixmap 641"},
        {24, "810203", "SetStipple 641"},
        {47, "010002000300040001020300040078563412", "CopyPlane 1 2 3 4 1 2 3 4 305419896"},
        {47, "01000200030004000102030004007856341205", "CopyPlane 1 1282 3 4 1 2 3 4 305419896"},
        {48, "010002", ""},
        {48, "01000200", "StartSession 1 2 0 0 8 0 - -"},
        {48, "0100020003000400", "StartSession 1 2 3 4 8 0 - -"},
        {48, "010002000300040018", "StartSession 1 2 3 4 24 0 - -"},
        {48, "0100020003000400100500", "StartSession 1 2 3 4 16 5 - -"},
        {48, "01000200030004001005000000030061c3a9020099aa",
         "StartSession 1 2 3 4 16 5 006100e9 99aa"},
        {48, "01000200030004001005000000040062e92d65020099aa",
         "StartSession 1 2 3 4 16 5 0062fffd002d0065 99aa"},
        {54, "010100020003", ""},
        {54, "01010002000302", "SetWindowIconImage 1 1 2 3 2 - nomask"},
        {67, "010001000100000003000102", ""},
        {67, "01020100010000000200010201000100000200aa", ""},
        {67, "01020100010000000200010201000100010100aa",
         "SetWindowIconImage 1 1 1 0 0 0102 1 1 1 1 aa"},
        {67, "010101000100000002000102", "SetWindowIconImage 1 1 1 0 0 0102 nomask"},
        {49, "0500414243", ""},
        {49, "ffff41", ""},
        {49, "030041e943", "ShowStatusText 004100e90043"},
        {61, "0109020105060000000000000102", ""},
        {61, "010902010506000000ffffff0102030405060708", "CreateCursor 1 9 2 1 5 6 0 16777215 01020304 05060708"},
        {70, "01000000000000400400000000000000000000000000", ""},
        {70, "0100000001000000010000000000000000000000aabbccdd",
         "CreateColorCursor 1 1 1 0 0 aabbccdd"},
        {52, "0004004142", ""},
        {52, "010a00000002004142020031", ""},
        {52, "030a0000000200414202003132", "ClipboardData 3 10 0 0 0 00410042 3132"},
        {59, "00000103003132330000ffff", ""},
        {63, "0300010000000200414202000000ffff", "SelectionTargets 3 1 1 4142 -1"},
        {63, "01000100000002004142" "07", "SelectionTargets 1 1 1 4142 7"},
        {64, "0200", ""},
        {42, "04", "SetGCMode 0"},
        {53, "0103004142", ""},
        {65, "0101", ""},
        {65, "010102", "RestackWindow 1 1 2"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(one(c.type, hexBytes(c.payload)), c.line)
            << "type " << int(c.type) << " payload " << c.payload;
    // Skipped requests still count as dispatched.
    Sent s = decodeSent();
    uint64_t total = 0;
    for (const Case& c : cases) total += 3 + strlen(c.payload) / 2;
    EXPECT_EQ(s.acked, total);
}

// Every request at the length of its fixed fields runs its operation; one
// byte less and it is skipped (each on a heap copy of exactly its length, so
// ASan sees a read past it).
TEST_F(Wire, EveryRequestNeedsItsFixedFields) {
    const std::pair<int, int> minimum[] = {
        {2, 10}, {3, 2},  {5, 4},   {7, 2},  {8, 2},  {9, 2},   {10, 2},  {11, 3},  {12, 14},
        {14, 1}, {15, 12}, {16, 1}, {17, 2}, {18, 9}, {19, 2},  {20, 1},  {21, 1},  {22, 1},
        {23, 1}, {24, 1}, {25, 4},  {26, 1}, {27, 7}, {28, 1},  {29, 1},  {30, 1},  {31, 4},
        {34, 6}, {35, 6}, {36, 1},  {37, 1}, {38, 12}, {39, 10}, {40, 2}, {42, 1},  {47, 18},
        {48, 4}, {49, 2}, {50, 2},  {52, 3}, {53, 3}, {54, 7},  {55, 9},  {56, 3},  {57, 1},
        {58, 16}, {59, 9}, {60, 2}, {61, 12}, {62, 1}, {63, 2}, {64, 2},  {65, 3},  {67, 10},
        {70, 20}};
    for (auto [type, min] : minimum) {
        for (int len : {min - 1, min}) {
            size_t lines = g_xrec.lines.size(), sent = decodeSent().all.size();
            uint8_t* p = static_cast<uint8_t*>(malloc(size_t(len) + 1));
            memset(p, 0, size_t(len) + 1);
            diXAIPHandleRequest(&d, uint32_t(type), p, uint32_t(len));
            free(p);
            size_t effects = g_xrec.lines.size() - lines + decodeSent().all.size() - sent;
            EXPECT_EQ(effects, len < min ? 0u : 1u) << "type " << type << " length " << len;
        }
    }
}

TEST_F(Wire, TitlesAreUtf8OnlyUnderTheDisplayFlag) {
    EXPECT_EQ(one(53, hexBytes("090300c3a961")), "SetWindowTitle 9 00c300a90061");
    d.flags |= DI_XFLAG_UTF8;
    EXPECT_EQ(one(56, hexBytes("090300c3a961")), "SetIconTitle 9 00e90061");
    // An illegal byte, and a sequence cut by the end, each become U+FFFD.
    EXPECT_EQ(one(53, hexBytes("0905004ae92061c3")), "SetWindowTitle 9 004afffd00200061fffd");
    d.flags |= DI_XFLAG_CLIP_EX;
    EXPECT_EQ(one(52, hexBytes("010500000001000000020000000100410100aa")),
              "ClipboardData 1 5 1 1 2 0041 aa");
}

TEST_F(Wire, LargestPayloadIsAssembledAndOneMoreEndsTheConnection) {
    std::string image(16371, 'x');
    std::string ok = msg(2, std::string(10, '\0') + image);
    feed(msg(4, "") + ok.substr(0, 5000));
    feed(ok.substr(5000));
    ASSERT_EQ(pumpAll(), 0);
    ASSERT_EQ(g_xrec.lines.size(), 2u);
    EXPECT_EQ(g_xrec.lines[1].size(), strlen("PutImage 0 0 0 0 0 0 ") + 2 * image.size());
    feed(msg(2, std::string(10, '\0') + image + "y"));
    EXPECT_EQ(pump(), -1);
}

TEST_F(Wire, BrokenBlocksEndTheConnectionPromptly) {
    std::string big = msg(2, std::string(16382, 'z'));
    struct Case {
        const char* what;
        std::string stream;
    } cases[] = {
        {"inflated message too large", block(big)},
        {"inflates past its size", msg(0x80, le16(10) + deflated(std::string(20, 'a')))},
        {"stream ends before its size", msg(0x80, le16(30) + deflated(msg(4, std::string(5, 'a'))))},
        {"input ends before its size", msg(0x80, le16(30) + syncFlushed(msg(4, std::string(5, 'a'))))},
        {"block shorter than its size field", msg(0x80, "\x01") + msg(4, "")},
        {"damaged data", msg(0x80, le16(10) + "garbagegarbage")},
    };
    for (const Case& c : cases) {
        reset();
        feed(c.stream);
        int r = 0;
        for (int i = 0; i < 5 && r == 0; i++) r = pump();
        EXPECT_EQ(r, -1) << c.what;
        release();
    }
    reset();
}

TEST_F(Wire, MessagesSpanBlocksAndStreamsMayContinue) {
    std::string raw = msg(4, "") + msg(16, "\x05") + msg(2, std::string(3000, 'q'));
    // One stream continued across blocks with sync flushes, cut inside
    // messages and ended with the last; then a block with a stream of its own.
    z_stream z{};
    deflateInit(&z, 6);
    std::string stream;
    size_t from = 0;
    for (size_t cut : {size_t(5), size_t(1000), raw.size()}) {
        std::string piece = raw.substr(from, cut - from), out(piece.size() + 1024, '\0');
        z.next_in = reinterpret_cast<Bytef*>(&piece[0]);
        z.avail_in = uInt(piece.size());
        z.next_out = reinterpret_cast<Bytef*>(&out[0]);
        z.avail_out = uInt(out.size());
        deflate(&z, cut == raw.size() ? Z_FINISH : Z_SYNC_FLUSH);
        out.resize(out.size() - z.avail_out);
        stream += msg(0x80, le16(uint32_t(piece.size())) + out);
        from = cut;
    }
    deflateEnd(&z);
    stream += block(msg(45, ""));
    for (size_t i = 0; i < stream.size(); i++) feed(stream.substr(i, 1));
    ASSERT_EQ(pumpAll(), 0);
    ASSERT_EQ(g_xrec.lines.size(), 4u);
    EXPECT_EQ(g_xrec.lines[0], "Bell");
    EXPECT_EQ(g_xrec.lines[1], "DestroyWindow 5");
    EXPECT_EQ(g_xrec.lines[3], "MeasureDrawing");
    EXPECT_EQ(decodeSent().acked, raw.size() + 3);
    SplitReader requests = [this](const SplitPieces& pieces) {
        release();
        reset();
        for (const std::string& p : pieces)
            feed(p);
        EXPECT_EQ(pumpAll(), 0);
        std::string out;
        for (const std::string& line : g_xrec.lines)
            out += line + "|";
        return out + std::to_string(decodeSent().acked); // acks may come in other steps
    };
    expectSameHoweverSplit({{"X", stream, requests}});
}

TEST_F(Wire, SyncIsAnsweredBeforeAssembledMessagesRun) {
    for (const std::string& sync : {msg(43, ""), msg(43, "abcd")}) {
        reset();
        feed(msg(50, le16(0x1234)) + sync + msg(50, le16(7)));
        ASSERT_EQ(pumpAll(), 0);
        Sent s = decodeSent();
        std::vector<int> order;
        for (auto& m : s.all)
            if (m.first != 16) order.push_back(m.first);
        EXPECT_EQ(order, (std::vector<int>{19, 31, 31}));
        EXPECT_EQ(s.pings, (std::vector<uint32_t>{0x1234, 7}));
        EXPECT_EQ(s.acked, 10u); // the sync's bytes are not X-AIP bytes
        release();
    }
    reset();
}

TEST_F(Wire, AfterASyncReadingGoesOnWhileBytesArriveUntilTheDeadline) {
    // Without a sync: one read per readable event.
    feed(msg(4, ""));
    feed(msg(4, ""));
    ASSERT_EQ(pump(), 0);
    EXPECT_EQ(g_xrec.lines.size(), 1u);
    g_fakeNet.incoming.clear();
    // After a sync the pump keeps reading, and returns when nothing more
    // arrives (would block) instead of waiting.
    feed(msg(43, ""));
    for (int i = 0; i < 5; i++) feed(msg(4, ""));
    ASSERT_EQ(pump(), 0);
    EXPECT_EQ(g_xrec.lines.size(), 6u);
    // A server that never stops sending: the 1000 ms end the call.
    g_tick = 40;
    feed(msg(43, ""));
    for (int i = 0; i < 500; i++) feed(msg(4, ""));
    ASSERT_EQ(pump(), 0);
    EXPECT_FALSE(g_fakeNet.incoming.empty());
    EXPECT_LT(g_xrec.lines.size(), 6u + 500u);
}

// Messages read in one go are dispatched whenever the assembly buffer has
// less than 1024 bytes free before the next one: under flag 0x8 each run is
// acknowledged on its own, so the acknowledgements show where runs end.
TEST_F(Wire, OneReadIsDispatchedInRunsAsTheAssemblyFills) {
    std::string many;
    for (int i = 0; i < 4000; i++) many += msg(16, std::string(1, char(i & 0x7F)));
    feed(many + msg(4, "").substr(0, 2));
    ASSERT_EQ(pump(), 0);
    Sent s = decodeSent();
    std::vector<uint32_t> acks;
    for (auto& m : s.all)
        if (m.first == 16)
            acks.push_back(uint8_t(m.second[0]) | uint8_t(m.second[1]) << 8 |
                           uint8_t(m.second[2]) << 16);
    // 3841 messages leave 1020 bytes free; the rest run at the end of the
    // read, and the head cut short counts once it is whole.
    EXPECT_EQ(acks, (std::vector<uint32_t>{3841 * 4, 159 * 4}));
    EXPECT_EQ(g_xrec.lines.size(), 4000u);
    feed(msg(4, "").substr(2));
    ASSERT_EQ(pump(), 0);
    EXPECT_EQ(g_xrec.lines.back(), "Bell");
}

TEST_F(Wire, TimeSliceStopsReadingAndKeepsTheRest) {
    g_tick = 40; // the slice (1000 ms) ends after about 25 clock readings
    std::string many;
    for (int i = 0; i < 3000; i++) many += msg(16, std::string(1, char(i & 0x7F)));
    feed(many);
    ASSERT_EQ(pump(), 0);
    size_t first = g_xrec.lines.size();
    EXPECT_GT(first, 0u);
    EXPECT_LT(first, 3000u);
    g_tick = 0;
    ASSERT_EQ(pumpAll(), 0);
    ASSERT_EQ(pump(), 0);
    EXPECT_EQ(g_xrec.lines.size(), 3000u);
    EXPECT_EQ(g_xrec.lines[2999], "DestroyWindow " + std::to_string(2999 & 0x7F));
}

TEST_F(Wire, AcknowledgementsFollowTheDisplayFlags) {
    // Flag 0x8: every dispatch run is acknowledged.
    one(4, "");
    one(4, "");
    EXPECT_EQ(decodeSent().acks, 2);
    // Flag 0x2: the next acknowledgement clears 0x8; then only counters past
    // 262144 bytes are acknowledged, whole.
    d.flags |= DI_XFLAG_ACK_ONCE;
    one(4, "");
    EXPECT_EQ(decodeSent().acks, 3);
    EXPECT_FALSE(d.flags & DI_XFLAG_ACK_NOW);
    std::string filler = msg(2, std::string(16381, '\0')); // 16384 bytes
    for (int i = 0; i < 16; i++) feed(filler);             // 262144 in all
    ASSERT_EQ(pumpAll(), 0);
    EXPECT_EQ(decodeSent().acks, 3);
    one(4, "");
    Sent s = decodeSent();
    ASSERT_EQ(s.acks, 4);
    EXPECT_EQ(s.acked, 3u * 3 + 262144 + 3);
    // Request 42 with bit 2 sets 0x8 again: its own bytes are acknowledged
    // at once, which under 0x2 ends the at-once acknowledgement again.
    one(42, "\x04");
    EXPECT_EQ(decodeSent().acks, 5);
    EXPECT_FALSE(d.flags & DI_XFLAG_ACK_NOW);
    d.flags &= ~DI_XFLAG_ACK_ONCE;
    one(42, "\x04");
    EXPECT_TRUE(d.flags & DI_XFLAG_ACK_NOW);
    one(4, "");
    s = decodeSent();
    EXPECT_EQ(s.acks, 7);
    EXPECT_EQ(s.acked, 3u * 3 + 262144 + 3 + 4 + 4 + 3);
}

TEST_F(Wire, DueUpdatesAreFlushedEvery27Messages) {
    std::string run;
    for (int i = 0; i < 53; i++) run += msg(4, "");
    feed(run);
    ASSERT_EQ(pumpAll(), 0);
    EXPECT_EQ(g_xrec.flushes, 1);
    feed(msg(4, ""));
    ASSERT_EQ(pumpAll(), 0);
    EXPECT_EQ(g_xrec.flushes, 1);
}

TEST_F(Wire, AHandlerThatClosesTheChannelStopsDispatch) {
    g_xrec.closeOn = "Bell";
    feed(msg(16, "\x01") + msg(4, "") + msg(16, "\x02"));
    EXPECT_EQ(pump(), 0);
    EXPECT_EQ(g_xrec.lines, (std::vector<std::string>{"DestroyWindow 1", "Bell"}));
    // Later events run nothing again.
    feed(msg(16, "\x03"));
    EXPECT_EQ(pump(), 0);
    EXPECT_EQ(g_xrec.lines.size(), 2u);
}

TEST_F(Wire, PeerCloseAfterTheLastBytesIsReportedOnce) {
    feed(msg(16, "\x01") + msg(16, "\x02").substr(0, 2));
    g_fakeNet.closed = true;
    EXPECT_EQ(pump(), 0);
    EXPECT_EQ(pump(), -1);
    EXPECT_EQ(g_xrec.lines, (std::vector<std::string>{"DestroyWindow 1"}));
}

// The login exchange leaves the bytes read with its end in the channel; the
// application closed right after them, and the read that drains them takes
// the end too. No notice of it comes again: that read reports it.
TEST_F(Wire, PeerCloseTakenWithBufferedBytesEndsThatRead) {
    for (const std::string& tail : {std::string(), msg(16, "\x03").substr(0, 2)}) {
        SCOPED_TRACE(tail.size());
        reset();
        std::string bytes = msg(16, "\x01") + msg(16, "\x02") + tail;
        ASSERT_EQ(diIOReserve(&d.ch.in, uint32_t(bytes.size())), 0);
        memcpy(d.ch.in.data, bytes.data(), bytes.size());
        d.ch.in.used = uint32_t(bytes.size());
        g_fakeNet.closed = true;
        EXPECT_EQ(pump(), -1);
        EXPECT_EQ(g_xrec.lines, (std::vector<std::string>{"DestroyWindow 1", "DestroyWindow 2"}));
        release();
    }
    reset();
}

} // namespace
