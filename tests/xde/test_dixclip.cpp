// The clipboard relay over three displays of the engine: A and C of one
// server, B of another. Requests go in through the wire's handlers; what
// each display's server receives is read from its own socket, and the
// Windows clipboard is a recording service table.
#include "core/diutil.h"
#include "engine_harness.h"
#include "xde/dixclip.h"
#include "xde/dixseamless.h"

#include <gtest/gtest.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/allocator_interface.h>
#define HV_COUNTS_ALLOCATIONS 1
#endif
#endif

#include <stdlib.h>
#include <string.h>

namespace {

struct ClipRecord {
    bool foreign = false;
    std::string localList; // records as listLocalFormats gives them
    uint32_t localCount = 0;
    std::vector<std::string> calls;
    std::vector<std::string> delivered; // putRemoteData payloads
    std::vector<std::vector<std::string>> announced;
    int extends = 0;
};
ClipRecord g_clip;

std::string narrow(const DiChar* s, uint32_t n) {
    std::string out;
    for (uint32_t i = 0; i < n; i++)
        out += char(s[i]);
    return out;
}

const DiXClipService kRecordingService = {
    [](DiXDisplay*) -> int { return g_clip.foreign; },
    [](DiXDisplay*, uint8_t** list, uint32_t* length) -> uint32_t {
        *list = nullptr;
        *length = 0;
        if (!g_clip.localCount) return 0;
        *list = static_cast<uint8_t*>(malloc(g_clip.localList.size()));
        memcpy(*list, g_clip.localList.data(), g_clip.localList.size());
        *length = uint32_t(g_clip.localList.size());
        return g_clip.localCount;
    },
    [](DiXDisplay* d, const uint32_t* ids, const DiChar* const* names, const uint32_t* lengths,
       uint32_t count, int32_t single) {
        std::vector<std::string> v{std::to_string(d->id) + " flag " + std::to_string(single)};
        for (uint32_t i = 0; i < count; i++)
            v.push_back(std::to_string(ids[i]) + " " + narrow(names[i], lengths[i]));
        g_clip.announced.push_back(v);
    },
    [](DiXDisplay*) { g_clip.extends++; },
    [](DiXDisplay* d, const uint8_t* data, uint32_t length, const DiChar* name, uint32_t n) {
        g_clip.calls.push_back("put " + std::to_string(d->id) + " " + narrow(name, n));
        g_clip.delivered.push_back(std::string(reinterpret_cast<const char*>(data), length));
    },
    [](DiXDisplay* d, const DiChar* name, uint32_t n) {
        g_clip.calls.push_back("local " + std::to_string(d->id) + " " + narrow(name, n));
    },
    [](DiXDisplay* d) { g_clip.calls.push_back("release " + std::to_string(d->id)); },
};

struct Display {
    DiXDisplay* d = nullptr;
    DdSocket sock{};
};

class ClipRelay : public ::testing::Test {
  protected:
    Display a, b, c;

    void SetUp() override {
        fakesReset();
        g_rdev = RecordingDevice();
        g_clip = ClipRecord();
        diDEClock = [] { return g_engineNow; };
        diXClipSetService(&kRecordingService);
        open(a, "hostA", "blockA");
        open(b, "hostB", "blockB");
        open(c, "hostA", "blockC");
    }
    void TearDown() override {
        for (Display* x : {&a, &b, &c})
            close(*x);
        diXClipSetService(nullptr);
        EXPECT_EQ(diXClipboardOwner(), nullptr);
    }

    void open(Display& x, const char* server, const char* block) {
        x.d = new DiXDisplay{};
        ASSERT_EQ(diXDEInit(x.d, recordingDevice(), nullptr, 64, 48), 0);
        x.sock.handle = 1;
        x.d->ch.socket = &x.sock;
        x.d->ch.open = 1;
        x.d->flags |= DI_XFLAG_CLIP_EX;
        x.d->serverName = diTextFromLatin1Dup(server, strlen(server));
        x.d->serverNameLength = uint32_t(strlen(server));
        x.d->ownerBlockLength = uint32_t(strlen(block));
        x.d->ownerBlock = static_cast<uint8_t*>(malloc(x.d->ownerBlockLength));
        memcpy(x.d->ownerBlock, block, x.d->ownerBlockLength);
    }
    void close(Display& x) {
        if (!x.d) return;
        x.d->ch.socket = nullptr;
        diXDEFree(x.d);
        delete x.d;
        x.d = nullptr;
    }
    // The session start of request 48, naming the server (extended clipboard).
    void startSession(Display& x, const std::string& server) {
        request(
            x, 48,
            Bytes().u16(0).u16(0).u16(64).u16(48).u8(24).u16(4).u16(0).text(server).text("block"));
    }
    void request(Display& x, uint32_t type, const Bytes& bytes) {
        diXAIPHandleRequest(x.d, type, reinterpret_cast<const uint8_t*>(bytes.s.data()),
                            uint32_t(bytes.s.size()));
    }
    // Messages the display's server received since the last call.
    std::vector<SentMessage> got(Display& x) {
        std::vector<SentMessage> out;
        std::string& s = g_fakeNet.sentBy[&x.sock];
        for (size_t at = 0; at + 3 <= s.size();) {
            size_t n = uint8_t(s[at + 1]) | uint8_t(s[at + 2]) << 8;
            out.push_back({uint8_t(s[at]), s.substr(at + 3, n)});
            at += 3 + n;
        }
        s.clear();
        return out;
    }
    // Request 63 with the given (id, name) entries and a trailing flag.
    Bytes formats(const std::vector<std::pair<uint32_t, std::string>>& entries, int flag = -1) {
        Bytes bytes;
        bytes.u16(uint32_t(entries.size()));
        for (auto& e : entries)
            bytes.u32(e.first).text(e.second);
        if (flag >= 0) bytes.u8(uint32_t(flag));
        return bytes;
    }
    // One chunk of request 52 for a display with the extended clipboard.
    Bytes chunk(uint32_t flags, const std::string& data, uint32_t total = 0, uint32_t format = 0,
                uint32_t owner = 0, const std::string& name = "STRING", bool ids = true) {
        Bytes bytes;
        bytes.u8(flags);
        if (flags & 1) {
            bytes.u32(total);
            if (ids) bytes.u32(format).u32(owner);
            bytes.text(name);
        }
        return bytes.text(data);
    }
    // Sends data as request-52 chunks of `piece` bytes.
    void sendData(Display& x, const std::string& data, size_t piece, uint32_t owner,
                  uint32_t extraFlags = 0) {
        for (size_t at = 0; at == 0 || at < data.size(); at += piece) {
            uint32_t flags = extraFlags | (at == 0 ? 1 : 0) | (at + piece >= data.size() ? 2 : 0);
            request(x, 52, chunk(flags, data.substr(at, piece), uint32_t(data.size()), 77, owner));
        }
    }
};

// The data of message-32 chunks joined, with every chunk's flags.
std::string joinChunks(const std::vector<SentMessage>& msgs, std::vector<uint32_t>* flags,
                       uint32_t* format, bool ids = true) {
    std::string data;
    for (const SentMessage& m : msgs) {
        EXPECT_EQ(m.type, 32);
        size_t at = 1;
        flags->push_back(m.u8(0));
        if (m.u8(0) & 1) {
            at = 5;
            if (ids) *format = m.u32(at), at += 4;
            at += 2 + m.u16(at);
        }
        uint32_t n = m.u16(at);
        data += m.payload.substr(at + 2, n);
    }
    return data;
}

std::string patterned(size_t n, uint32_t seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++)
        s[i] = char((i * 131 + seed * 7 + (i >> 9)) & 255);
    return s;
}

TEST_F(ClipRelay, FormatsReachOtherServersAndRequestsComeBackToTheOwner) {
    request(a, 63, formats({{31, "STRING"}, {40, "UTF8_STRING"}}, 1));
    EXPECT_EQ(diXClipboardOwner(), a.d);
    ASSERT_EQ(g_clip.announced.size(), 1u);
    EXPECT_EQ(g_clip.announced[0], (std::vector<std::string>{std::to_string(a.d->id) + " flag 1",
                                                             "31 STRING", "40 UTF8_STRING"}));
    // B (another server) learns the formats with A's identity; C shares A's
    // server and A owns them: neither hears of them.
    auto toB = got(b);
    ASSERT_EQ(toB.size(), 1u);
    EXPECT_EQ(toB[0].type, 42);
    EXPECT_EQ(toB[0].payload, Bytes().u16(2).text("STRING").text("UTF8_STRING").text("blockA").s);
    EXPECT_TRUE(got(a).empty());
    EXPECT_TRUE(got(c).empty());

    // B's server asks: A's server gets 41 naming B as the requester.
    request(b, 64, Bytes().text("UTF8_STRING"));
    auto toA = got(a);
    ASSERT_EQ(toA.size(), 1u);
    EXPECT_EQ(toA[0].type, 41);
    EXPECT_EQ(toA[0].payload,
              Bytes().u32(0).text("UTF8_STRING").u32(b.d->id).text("blockB").u8(0).u8(0).s);
    EXPECT_TRUE(got(b).empty());

    // C (A's server) and A itself get an empty answer, nothing relayed.
    for (Display* x : {&c, &a}) {
        request(*x, 64, Bytes().text("STRING"));
        auto m = got(*x);
        ASSERT_EQ(m.size(), 1u);
        EXPECT_EQ(m[0].type, 32);
        EXPECT_EQ(m[0].payload, Bytes().u8(3).u32(0).u32(0).text("STRING").u16(0).s);
    }
    EXPECT_TRUE(g_clip.calls.empty());
}

// A server is told apart by the whole of its name as its session start gave
// it: a NUL inside the name is part of it.
TEST_F(ClipRelay, DisplaysShareAServerOnlyByItsWholeName) {
    const std::string ha("h\0a", 3), hb("h\0b", 3);
    struct Row {
        const char* what;
        const std::string &nameA, &nameC;
        bool shared;
    } rows[] = {
        {"names that differ after a NUL", ha, hb, false},
        {"the same name, NUL included", ha, ha, true},
    };
    for (const Row& r : rows) {
        for (Display* x : {&a, &c})
            close(*x);
        open(a, "", "blockA");
        open(c, "", "blockC");
        startSession(a, r.nameA);
        startSession(c, r.nameC);
        ASSERT_TRUE(a.d->flags & DI_XFLAG_CLIP_EX);
        got(c);
        request(a, 63, formats({{31, "STRING"}}));
        auto toC = got(c);
        EXPECT_EQ(toC.size(), r.shared ? 0u : 1u) << r.what;
        got(b);
    }
}

TEST_F(ClipRelay, DataForAnotherDisplayIsRelayedAsPassedOnChunks) {
    request(a, 63, formats({{31, "STRING"}}));
    got(b);
    request(b, 64, Bytes().text("STRING"));
    got(a);
    const std::string text = patterned(40000, 1);
    // A's server answers B's request in chunks of its own size.
    sendData(a, text, 10000, b.d->id, 4);
    std::vector<uint32_t> flags;
    uint32_t format = 0;
    auto toB = got(b);
    ASSERT_EQ(toB.size(), 3u); // 16384-byte chunks
    EXPECT_EQ(toB[0].u32(1), 40000u);
    EXPECT_EQ(joinChunks(toB, &flags, &format), text);
    EXPECT_EQ(flags, (std::vector<uint32_t>{5, 4, 6}));
    EXPECT_EQ(format, 77u);
    EXPECT_TRUE(g_clip.delivered.empty());
    EXPECT_TRUE(got(a).empty());
    EXPECT_TRUE(got(c).empty());
}

// A server's data goes to another display only as the answer to that
// display's outstanding request, to that server, in that format: once.
TEST_F(ClipRelay, DataReachesAnotherDisplayOnlyWhenItAskedForIt) {
    request(a, 63, formats({{31, "STRING"}, {40, "UTF8_STRING"}}));
    request(b, 64, Bytes().text("UTF8_STRING"));
    got(a);
    got(b);
    struct Row {
        const char* what;
        Display* from;
        Display* to;
        const char* format;
        bool relayed;
    } rows[] = {
        {"not asked for in this format", &a, &b, "STRING", false},
        {"from a server B did not ask", &c, &b, "UTF8_STRING", false},
        {"C never asked", &a, &c, "UTF8_STRING", false},
        {"the answer B asked for", &a, &b, "UTF8_STRING", true},
        {"the same answer again", &a, &b, "UTF8_STRING", false},
    };
    for (const Row& r : rows) {
        request(*r.from, 52, chunk(7, "pushed", 6, 1, r.to->d->id, r.format));
        EXPECT_EQ(got(*r.to).size(), r.relayed ? 1u : 0u) << r.what;
    }
    // Neither is the data put on the Windows clipboard instead.
    EXPECT_TRUE(g_clip.delivered.empty());
}

TEST_F(ClipRelay, InterleavedTransfersOfTwoServersStayApart) {
    const std::string one = patterned(30000, 2), two = patterned(20001, 3);
    request(a, 52, chunk(1, one.substr(0, 15000), 30000, 5, 0, "STRING"));
    request(b, 52, chunk(1, two.substr(0, 10000), 20001, 6, 0, "UNICODE"));
    request(a, 52, chunk(0, one.substr(15000, 10000)));
    request(b, 52, chunk(2, two.substr(10000)));
    request(a, 52, chunk(2, one.substr(25000)));
    ASSERT_EQ(g_clip.calls.size(), 2u);
    EXPECT_EQ(g_clip.calls[0], "put " + std::to_string(b.d->id) + " UNICODE");
    EXPECT_EQ(g_clip.calls[1], "put " + std::to_string(a.d->id) + " STRING");
    // All of each, as received (the total is not what is delivered).
    EXPECT_EQ(g_clip.delivered[0], two);
    EXPECT_EQ(g_clip.delivered[1], one);
    EXPECT_EQ(g_clip.extends, 3);
    // A one-chunk transfer is delivered at once.
    request(c, 52, chunk(3, "x", 1));
    EXPECT_EQ(g_clip.delivered.back(), "x");
}

TEST_F(ClipRelay, DamagedAndStrayChunksNeverCorruptOrOverrun) {
    // A new first chunk drops the half-done transfer (no leak, no mix).
    request(a, 52, chunk(1, "stale-", 100));
    request(a, 52, chunk(1, "fresh", 10));
    request(a, 52, chunk(2, "-data"));
    ASSERT_EQ(g_clip.delivered.size(), 1u);
    EXPECT_EQ(g_clip.delivered[0], "fresh-data");

    // A chunk after the last one, or before any first (here: after a first
    // chunk dropped for its negative name length), is ignored.
    int extends = g_clip.extends;
    request(b, 52, Bytes().u8(1).u32(4).u32(0).u32(0).u16(0x8000).raw("ab"));
    request(a, 52, chunk(0, "late"));
    request(a, 52, chunk(2, "late"));
    request(b, 52, chunk(2, "orphan"));
    EXPECT_EQ(g_clip.delivered.size(), 1u);
    EXPECT_EQ(g_clip.extends, extends);

    // Chunks past the total are skipped, never appended: what fits in
    // order is delivered.
    request(a, 52, chunk(1, "12345", 8));
    request(a, 52, chunk(0, "6789")); // 9 > 8: skipped, and so is the rest
    request(a, 52, chunk(2, "0"));
    EXPECT_EQ(g_clip.delivered.back(), "12345");

    // A negative chunk length drops the request; the transfer goes on.
    request(a, 52, chunk(1, "ab", 4));
    request(a, 52, Bytes().u8(0).u16(0xFFFF).raw("zz"));
    request(a, 52, chunk(0, "cd"));
    request(a, 52, chunk(2, ""));
    EXPECT_EQ(g_clip.delivered.back(), "abcd");

    // A total above the cap is refused: nothing stored, an empty answer at
    // the end so that a waiting render does not hang.
    request(b, 52, chunk(1, "huge", DI_XCLIP_MAX_TOTAL + 1));
    request(b, 52, chunk(2, "more"));
    EXPECT_EQ(g_clip.delivered.back(), "");
    EXPECT_EQ(g_clip.delivered.size(), 4u);
}

// A transfer holds what has arrived, not what its server announced, and the
// transfers of all displays stop at one ceiling together: the one that
// would pass it is answered empty, the others are whole.
TEST_F(ClipRelay, TransfersHoldWhatArrivedAndAllDisplaysStopAtOneCeiling) {
#ifdef HV_COUNTS_ALLOCATIONS
    size_t before = __sanitizer_get_current_allocated_bytes();
#endif
    for (Display* x : {&c, &a, &b})
        request(*x, 52, chunk(1, "abcd", DI_XCLIP_MAX_TOTAL));
#ifdef HV_COUNTS_ALLOCATIONS
    EXPECT_LT(__sanitizer_get_current_allocated_bytes() - before, size_t(1) << 20);
#endif
    const std::string piece = patterned(16384, 1);
    for (Display* x : {&a, &b})
        for (uint32_t sent = 4; sent + piece.size() <= DI_XCLIP_MAX_TOTAL; sent += piece.size())
            request(*x, 52, chunk(0, piece));
    for (Display* x : {&a, &b, &c})
        request(*x, 52, chunk(2, ""));
    ASSERT_EQ(g_clip.delivered.size(), 3u);
    EXPECT_EQ(g_clip.delivered[0].size(), DI_XCLIP_MAX_TOTAL - 16384 + 4);
    EXPECT_EQ(g_clip.delivered[1].size(), 0u) << "the transfer past the ceiling";
    EXPECT_EQ(g_clip.delivered[2], "abcd");
}

TEST_F(ClipRelay, LocalClipboardAnnouncementsAndRequests) {
    // Not owned by another program: focus-in announces nothing.
    diXAnnounceLocalClipboard(a.d, 1);
    EXPECT_TRUE(got(a).empty());
    // Owned elsewhere with nothing listed: forced gives one "STRING" to
    // every display (no owner display).
    g_clip.foreign = true;
    diXAnnounceLocalClipboard(a.d, 1);
    for (Display* x : {&a, &b, &c}) {
        auto m = got(*x);
        ASSERT_EQ(m.size(), 1u);
        EXPECT_EQ(m[0].payload, Bytes().u16(1).text("STRING").u16(0).s);
    }
    // Without the extended clipboard only the display itself hears of it,
    // with the listed formats.
    b.d->flags &= ~DI_XFLAG_CLIP_EX;
    g_clip.localList = Bytes().text("UNICODE").text("CF_DIB").s;
    g_clip.localCount = 2;
    diXAnnounceLocalClipboard(b.d, 0);
    EXPECT_TRUE(got(a).empty());
    auto m = got(b);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].payload, Bytes().u16(2).text("UNICODE").text("CF_DIB").u16(0).s);
    // With no owner display, requests go to the Windows clipboard.
    request(b, 64, Bytes().text("UNICODE"));
    request(a, 64, Bytes().text("STRING"));
    EXPECT_EQ(g_clip.calls,
              (std::vector<std::string>{"local " + std::to_string(b.d->id) + " UNICODE",
                                        "local " + std::to_string(a.d->id) + " STRING"}));
}

TEST_F(ClipRelay, LostOrFreedOwnerReleasesItsFormatsAtOnce) {
    request(a, 63, formats({{31, "STRING"}}));
    got(b);
    // A's connection is lost: the Windows clipboard lets go of its formats
    // now, and B's requests no longer go to A.
    a.d->ch.stopReading = 1;
    DiEvent ev{};
    ev.w[0] = 2;
    diXDEHandleEvent(&a.d->ch.hdr, &ev);
    EXPECT_EQ(g_clip.calls, (std::vector<std::string>{"release " + std::to_string(a.d->id)}));
    EXPECT_EQ(diXClipboardOwner(), nullptr);
    request(b, 64, Bytes().text("STRING"));
    EXPECT_TRUE(got(a).empty());
    EXPECT_EQ(g_clip.calls.back(), "local " + std::to_string(b.d->id) + " STRING");

    // A freed owner is forgotten; its id then names no display.
    request(b, 63, formats({{31, "STRING"}}));
    EXPECT_EQ(diXClipboardOwner(), b.d);
    uint32_t id = b.d->id;
    close(b);
    EXPECT_EQ(diXClipboardOwner(), nullptr);
    EXPECT_EQ(diXFindDisplayById(id), nullptr);
    EXPECT_EQ(diXFindDisplayById(0), nullptr);
    // Data naming the freed display as its owner stays on this side.
    request(c, 52, chunk(3, "q", 1, 9, id));
    EXPECT_EQ(g_clip.delivered.back(), "q");
}

} // namespace
