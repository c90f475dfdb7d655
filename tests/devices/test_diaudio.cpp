// Audio requests over a scripted output device: short requests, buffers
// completed by the header the device returns, closes that wait for queued
// buffers, session closes and tear-down order.
#include <gtest/gtest.h>

#include "devices/diaudio.h"
#include "fakes/audio_fakes.h"
#include "io_wire.h"

#include <stdlib.h>

using namespace iowire;

namespace {

struct Reply {
    uint16_t stream;
    uint32_t code, value;
    std::string body;
};

std::string format() {
    return le16(1) + le16(1) + le32(22050) + le32(44100) + le16(2) + le16(16) + le16(0);
}
std::string writeReq(uint8_t t8, uint16_t t16, uint32_t t32, const std::string& samples) {
    return std::string(1, char(t8)) + le16(t16) + le32(t32) + le32(uint32_t(samples.size())) +
           samples;
}
std::string done(uint8_t t8, uint16_t t16, uint32_t t32, uint32_t played) {
    return std::string(1, char(t8)) + le16(t16) + le32(t32) + le32(played);
}

class Audio : public ::testing::Test {
  protected:
    void SetUp() override {
        fakesReset();
        fakeAudioReset();
        io = static_cast<DiIOChannel*>(calloc(1, sizeof(DiIOChannel)));
        diDEChannelInit(&io->ch, DI_OBJ_AUDIO, 0, 0);
        ASSERT_TRUE(diAudioChannelInit(io, &g_fakeAudioOps));
        diChannelAttachConnection(&io->ch, ddNetSocketCreate());
    }
    void TearDown() override {
        if (io) destroy();
    }
    void destroy() {
        diAudioChannelTeardown(io);
        diDEChannelFree(&io->ch);
        free(io);
        io = nullptr;
    }
    std::vector<Reply> replies() {
        std::vector<Reply> out;
        for (const Frame& f : sentFrames(g_fakeNet.sent))
            out.push_back({f.stream, rd32(f.data, 12), rd32(f.data, 16), f.data.substr(20)});
        return out;
    }
    // As the channel dispatches: a code without a handler does nothing.
    std::vector<Reply> call(uint32_t code, const std::string& payload, uint16_t stream) {
        if (DiIORequestHandler h = diIOAudioHandlers[code])
            h(io, reinterpret_cast<const uint8_t*>(payload.data()), uint32_t(payload.size()),
              stream);
        return replies();
    }
    // The device finishes the queued header at position i.
    std::vector<Reply> finish(size_t i) {
        void* h = g_fakeAudio.queued.at(i);
        g_fakeAudio.queued.erase(g_fakeAudio.queued.begin() + long(i));
        diAudioBufferDone(io, h);
        return replies();
    }
    DiIOChannel* io = nullptr;
};

TEST_F(Audio, ShortOrFailedRequestsAnswerValueOne) {
    struct Row {
        uint32_t code;
        std::string payload;
        uint16_t stream;
        uint32_t wantCode, wantValue;
        std::string wantBody;
        bool (*setup)();
    } rows[] = {
        {0, le16(9) + le16(5) + "abc", 1, 100, 1, "", nullptr},
        {0, le16(9) + le16(3) + "abc", 1, 100, 0, le16(9) + le16(3) + "abc", nullptr},
        {1, format().substr(0, 15), 1, 101, 1, "", nullptr},
        {1, format(), 2, 101, 1, "", [] { return g_fakeAudio.openFails = true; }},
        {3, writeReq(1, 2, 3, "ab").substr(0, 12), 1, 103, 1, done(1, 2, 3, 0), nullptr},
        {3, writeReq(1, 2, 3, "").substr(0, 9), 1, 103, 1, done(1, 2, 3, 0), nullptr},
        {3, writeReq(4, 5, 6, "abcd"), 9, 103, 1, done(4, 5, 6, 0), nullptr}, // never opened
        {3, writeReq(4, 5, 6, "abcd"), 1, 103, 1, done(4, 5, 6, 0),
         [] { return g_fakeAudio.writeFails = true; }},
        {5, le16(1), 1, 105, 1, "", nullptr},
        {5, le32(7), 9, 105, 1, "", nullptr},
        {5, le32(7), 1, 105, 1, "", [] { return g_fakeAudio.volumeFails = true; }},
        {5, le32(0x8000FFFF), 1, 105, 0, "", nullptr}, // left low word, right high
        {4, le32(7), 1, 0, 0, "", nullptr},             // code 0: no reply at all
        {6, le32(7), 1, 0, 0, "", nullptr},
    };
    for (const Row& r : rows) {
        fakeAudioReset();
        EXPECT_EQ(101u, call(1, format(), 1).at(0).code);
        if (r.setup) r.setup();
        std::vector<Reply> got = call(r.code, r.payload, r.stream);
        ASSERT_EQ(r.wantCode ? 1u : 0u, got.size()) << r.code;
        if (r.wantCode) {
            EXPECT_EQ(r.wantCode, got[0].code) << r.code;
            EXPECT_EQ(r.wantValue, got[0].value) << r.code;
            EXPECT_EQ(r.wantBody, got[0].body) << r.code;
        }
        // A volume the device took is the request's word unchanged.
        if (r.code == 5 && !got[0].value) EXPECT_EQ(rd32(r.payload, 0), g_fakeAudio.volume);
        EXPECT_EQ(0, g_fakeAudio.headersHeld);
        call(2, "", 1);
    }
}

TEST_F(Audio, CompletionsFollowTheHeaderTheDeviceReturns) {
    call(1, format(), 5);
    call(3, writeReq(1, 1, 1, "first"), 5);
    // A second open of the same id: later writes go to the new device.
    call(1, format(), 5);
    call(3, writeReq(2, 2, 2, "second"), 5);
    EXPECT_EQ(2, g_fakeAudio.devicesOpen);
    std::vector<Reply> r = finish(1);
    ASSERT_EQ(1u, r.size());
    EXPECT_EQ(done(2, 2, 2, 6), r[0].body);
    EXPECT_EQ(5u, r[0].stream);
    EXPECT_EQ(1, g_fakeAudio.headersHeld); // the first still plays
    r = finish(0);
    EXPECT_EQ(done(1, 1, 1, 5), r.at(0).body);
    // A header the channel does not hold is ignored.
    int stray = 0;
    diAudioBufferDone(io, &stray);
    EXPECT_TRUE(replies().empty());
}

TEST_F(Audio, CloseWaitsForQueuedBuffers) {
    call(1, format(), 3);
    call(3, writeReq(1, 0, 0, "a"), 3);
    call(3, writeReq(2, 0, 0, "b"), 3);
    std::vector<Reply> r = call(2, "", 3);
    ASSERT_EQ(1u, r.size());
    EXPECT_EQ(102u, r[0].code);
    EXPECT_EQ(0u, r[0].value);
    EXPECT_EQ("", g_fakeAudio.log);
    // A closing stream takes no more writes.
    EXPECT_EQ(1u, call(3, writeReq(3, 0, 0, "c"), 3).at(0).value);
    finish(0);
    EXPECT_EQ(1, g_fakeAudio.devicesOpen);
    finish(0);
    EXPECT_EQ(0, g_fakeAudio.devicesOpen);
    EXPECT_EQ("uuc", g_fakeAudio.log);
    // Nothing queued: closed at once; a refused close answers 1 and keeps it.
    call(1, format(), 4);
    g_fakeAudio.closeFails = true;
    EXPECT_EQ(1u, call(2, "", 4).at(0).value);
    g_fakeAudio.closeFails = false;
    EXPECT_EQ(0u, call(2, "", 4).at(0).value);
    EXPECT_EQ(0, g_fakeAudio.devicesOpen);
    // A deferred close the device refuses is not lost: tear-down closes it.
    call(1, format(), 6);
    call(3, writeReq(0, 0, 0, "a"), 6);
    call(2, "", 6);
    g_fakeAudio.closeFails = true;
    finish(0);
    g_fakeAudio.closeFails = false;
    EXPECT_EQ(1, g_fakeAudio.devicesOpen);
    destroy();
    EXPECT_EQ(0, g_fakeAudio.devicesOpen);
}

TEST_F(Audio, SessionCloseClosesItsStreamWithoutAReply) {
    g_fakeAudio.openFails = true;
    call(1, format(), 7);
    ASSERT_NE(nullptr, io->sessionClose); // set even when the open failed
    g_fakeAudio.openFails = false;
    call(1, format(), 7);
    call(1, format(), 8);
    io->sessionClose(io, 7);
    EXPECT_TRUE(replies().empty());
    EXPECT_EQ(1, g_fakeAudio.devicesOpen);
    EXPECT_EQ(1u, call(3, writeReq(0, 0, 0, "x"), 7).at(0).value);
}

// A server that writes faster than the device plays, or opens without end,
// meets a ceiling: the write or open fails, nothing more is held, and room
// comes back as buffers finish.
TEST_F(Audio, QueueAndStreamsHaveCeilings) {
    call(1, format(), 1);
    const std::string mib(1u << 20, 's');
    for (int i = 0; i < 16; i++)
        ASSERT_TRUE(call(3, writeReq(0, 0, uint32_t(i), mib), 1).empty());
    std::vector<Reply> r = call(3, writeReq(0, 0, 99, "x"), 1);
    ASSERT_EQ(1u, r.size());
    EXPECT_EQ(1u, r[0].value);
    EXPECT_EQ(done(0, 0, 99, 0), r[0].body);
    EXPECT_EQ(16, g_fakeAudio.headersHeld);
    EXPECT_EQ(0u, finish(0).at(0).value);
    EXPECT_TRUE(call(3, writeReq(0, 0, 100, "x"), 1).empty());
    destroy();

    SetUp();
    call(1, format(), 1);
    for (int i = 0; i < 1024; i++)
        call(3, writeReq(0, 0, 0, ""), 1);
    EXPECT_EQ(1u, call(3, writeReq(0, 0, 0, ""), 1).at(0).value);
    EXPECT_EQ(1024, g_fakeAudio.headersHeld);
    for (uint16_t id = 2; id <= 32; id++)
        EXPECT_EQ(0u, call(1, format(), id).at(0).value) << id;
    EXPECT_EQ(1u, call(1, format(), 33).at(0).value);
    EXPECT_EQ(32, g_fakeAudio.devicesOpen);
}

TEST_F(Audio, TearDownStopsDevicesBeforeReleasingHeaders) {
    call(1, format(), 1);
    call(1, format(), 2);
    for (int i = 0; i < 3; i++)
        call(3, writeReq(0, 0, 0, std::string(100, 'x')), uint16_t(1 + i % 2));
    call(2, "", 1); // close-pending with a buffer queued
    destroy();
    EXPECT_EQ("rruuucc", g_fakeAudio.log);
    EXPECT_EQ(0, g_fakeAudio.headersHeld);
    EXPECT_EQ(0, g_fakeAudio.devicesOpen);
}

} // namespace

namespace {

// The formats a scripted device takes: "tag/rate/channels/bits" entries.
struct Accepting {
    std::vector<std::string> take;
    int asked = 0;
};
bool accepts(void* ctx, const DiAudioFormat* f) {
    Accepting* a = static_cast<Accepting*>(ctx);
    a->asked++;
    // A format asked about is whole: block align and rate agree with it.
    EXPECT_EQ(f->channels * f->bits / 8, f->blockAlign);
    EXPECT_EQ(f->blockAlign * f->rate, f->avgBytes);
    std::string key = std::to_string(f->tag) + "/" + std::to_string(f->rate) + "/" +
                      std::to_string(f->channels) + "/" + std::to_string(f->bits);
    for (const std::string& t : a->take)
        if (t == "*" || t == key) return true;
    return false;
}

TEST(AudioProbe, FirstAcceptedPcmRowFromTheTopThenCompanded) {
    struct Row {
        uint32_t caps;
        std::vector<std::string> take;
        const char* want;
    } rows[] = {
        {0xFFF, {"*"}, "1,2,44100,16,1;7,2,8000,8,0;6,2,8000,8,0;"},
        // A row whose bit the device lacks is never asked about.
        {0x7FF, {"*"}, "1,2,44100,8,1;7,2,8000,8,0;6,2,8000,8,0;"},
        {0x041, {"1/22050/1/16", "1/11025/1/8"}, "1,1,22050,16,1;"},
        {0x041, {"1/11025/1/8", "6/8000/2/8"}, "1,1,11025,8,1;6,2,8000,8,0;"},
        {0xFFF, {"1/44100/2/16", "1/11025/1/8"}, "1,2,44100,16,1;"}, // the first one wins
        {0x000, {"*"}, "7,2,8000,8,0;6,2,8000,8,0;"},
        {0xFFF, {}, ""},
    };
    for (const Row& r : rows) {
        Accepting a{r.take};
        DiAudioDeviceRecord rec;
        diAudioProbe(r.caps, accepts, &a, &rec);
        char text[640];
        diAudioRecordText(&rec, text, sizeof text);
        EXPECT_EQ(std::string(r.want), text) << std::hex << r.caps;
        EXPECT_EQ(0x40, rec.kind);
    }
}

TEST_F(Audio, FormatRecordsAreProbedOnceAndBounded) {
    static int probes;
    probes = 0;
    DiAudioOps ops = g_fakeAudioOps;
    ops.reportFormats = [](DiIOChannel* ch) {
        probes++;
        DiAudioDeviceRecord r = {};
        r.kind = 0x40;
        DiAudioFormat f = {1, 2, 44100, 176400, 4, 16};
        int added = 0; // more than a record holds: the rest is refused
        for (int i = 0; i < 12; i++)
            added += diAudioAddFormat(&r, &f, i == 0);
        EXPECT_EQ(10, added);
        EXPECT_EQ(10, r.count);
        for (int i = 0; i < 7; i++)
            EXPECT_EQ(i < 5, diAudioAddCaps(ch, &r));
    };
    static_cast<DiAudioState*>(io->priv)->ops = &ops;
    const DiAudioDeviceRecord* recs = nullptr;
    EXPECT_EQ(5u, diAudioDeviceRecords(io, &recs));
    EXPECT_EQ(5u, diAudioDeviceRecords(io, &recs));
    EXPECT_EQ(1, probes);
    // A name never holds a cut group.
    char small[20];
    diAudioRecordText(&recs[0], small, sizeof small);
    EXPECT_STREQ("1,2,44100,16,1;", small);
}

} // namespace
