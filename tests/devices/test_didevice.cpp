// The device channel: request parsing, replies, sessions, the worker layer
// and the device list, on the scripted socket and deterministic threads.
#include <gtest/gtest.h>

#include "fakes/device_fakes.h"
#include "io_wire.h"
#include "core/diapp.h"

#include <map>
#include <stdlib.h>

using namespace iowire;

namespace {

// A device that answers reads with 'r' bytes, on a worker when `threaded`.
struct TestClass {
    DiDeviceClass ops;
    bool threaded;
    int sessions;
};

void testDispatch(DiDeviceClass*, DiDeviceRequest* req) {
    if (req->MajorFunction == DI_DEV_READ) memset(req->Buffer, 'r', req->Length);
    if (req->MajorFunction == DI_DEV_CONTROL) req->Returned = 2, memcpy(req->OutputBuffer, "ok", 2);
    if (req->MajorFunction == DI_DEV_CREATE) req->FileId = 7, req->Information = 1;
    diDeviceComplete(req, 0);
}
void* testCreate(DiDeviceClass* cls) {
    reinterpret_cast<TestClass*>(cls)->sessions++;
    return malloc(8);
}
void testDestroy(DiDeviceClass* cls, void* ctx) {
    reinterpret_cast<TestClass*>(cls)->sessions--;
    free(ctx);
}
void testRun(DiDeviceRequest* req) {
    if (reinterpret_cast<TestClass*>(req->deviceClass)->threaded)
        diDeviceRunOnThread(req);
    else
        diDeviceRunNow(req);
}

DiDeviceClass* newTestClass(bool threaded) {
    TestClass* c = static_cast<TestClass*>(calloc(1, sizeof(TestClass)));
    c->ops = {testDispatch, testCreate, testDestroy, testRun};
    c->threaded = threaded;
    return &c->ops;
}

class DeviceChannel : public ::testing::Test {
  protected:
    void SetUp() override {
        fakesReset();
        deviceFakesReset();
        io = newDeviceChannel();
    }
    void TearDown() override {
        if (io) destroyDeviceChannel(io);
        runDeviceThreads();
        EXPECT_EQ(0, g_fakeThreads.handlesOpen);
    }
    void addDevices(int n, bool threaded) {
        for (int i = 0; i < n; i++)
            ASSERT_EQ(1, diDeviceAdd(io, diDeviceMake(newTestClass(threaded), 512, 0x20, u"T")));
    }
    void submit(const std::string& bytes, uint16_t session = 1) {
        diDeviceSubmitRequest(io, reinterpret_cast<const uint8_t*>(bytes.data()),
                              uint32_t(bytes.size()), session);
    }
    // Reply bodies sent so far (header checked: kind 0x20, status at 16).
    std::vector<std::pair<uint32_t, std::string>> replies() {
        std::vector<std::pair<uint32_t, std::string>> out;
        for (const Frame& f : sentFrames(g_fakeNet.sent)) {
            EXPECT_EQ(7, f.type);
            EXPECT_EQ(f.data.size(), rd32(f.data, 0));
            EXPECT_EQ(0x20u, rd32(f.data, 4));
            out.push_back({rd32(f.data, 16), f.data.substr(20)});
        }
        return out;
    }
    DiIOChannel* io = nullptr;
};

TEST(IAIP, ParseChecksEverySizeBeforeUsingIt) {
    deviceFakesReset();
    std::string pad20(20, '\0');
    struct Row {
        const char* what;
        uint16_t level;
        std::string bytes;
        int ok;
        uint32_t length; // Length or OutputBufferLength after the parse
    } rows[] = {
        {"level 2 header only", 2, dev(0, 0, 1, 2, "").substr(0, 20), 0, 0},
        {"level 2 close", 2, dev(0, 0, 1, 2, "x"), 1, 0},
        {"level 1 short", 1, le32(1), 0, 0},
        {"level 1 control", 1, le32(1) + le32(8) + le32(0) + le32(0x310000) + pad20, 1, 8},
        {"write length wraps", 2, dev(0, 1, 1, 4, le32(0xFFFFFFF0) + std::string(44, 'w')), 0, 0},
        {"input length negative", 2,
         dev(0, 1, 1, 14, le32(0) + le32(0x80000000) + le32(0) + pad20 + "abcd"), 0, 0},
        {"control without padding", 2, dev(0, 1, 1, 14, le32(4) + le32(0) + le32(0)), 0, 0},
        {"read capped", 2, dev(0, 1, 1, 3, le32(0xFFFFFFFF) + std::string(8, '\0')), 1, 61432},
        {"output capped", 2, dev(0, 1, 1, 14, le32(70000) + le32(0) + le32(0) + pad20), 1, 61432},
        {"path longer than the bytes", 2, dev(0, 0, 1, 0, std::string(28, '\0') + le32(~0u)), 0, 0},
        {"major 5", 2, dev(0, 0, 1, 5, "x"), 0, 0},
        {"major 19", 2, dev(0, 0, 1, 19, "x"), 0, 0},
        {"level 3", 3, dev(0, 0, 1, 2, "x"), 0, 0},
    };
    for (const Row& r : rows) {
        diIAIPSetLevel(r.level);
        DiDeviceRequest* req = diDeviceRequestAlloc();
        EXPECT_EQ(r.ok, diIAIPParseRequest(req, reinterpret_cast<const uint8_t*>(r.bytes.data()),
                                           uint32_t(r.bytes.size())))
            << r.what;
        if (r.ok) {
            EXPECT_EQ(r.length,
                      req->MajorFunction == DI_DEV_READ ? req->Length : req->OutputBufferLength)
                << r.what;
            if (r.level == 1) {
                EXPECT_EQ(DI_DEV_CONTROL, req->MajorFunction);
            }
        }
        diDeviceRequestFree(req);
    }
    diIAIPSetLevel(2);
}

TEST_F(DeviceChannel, RepliesCarryTheBodyOfTheirMajorFunction) {
    addDevices(1, false);
    diDeviceOpenSession(io, 1);
    struct Row {
        std::string request, body;
    } rows[] = {
        {devCreate(0, 11), le32(11) + le32(0) + le32(7) + "\x01"},
        {dev(0, 7, 12, 2, "x"), le32(12) + le32(0) + std::string(5, '\0')},
        {devRead(0, 7, 13, 3), le32(13) + le32(0) + le32(3) + "rrr"},
        {devWrite(0, 7, 14, "abcd"), le32(14) + le32(0) + le32(4) + std::string(1, '\0')},
        {devControl(0, 7, 15, 1, "in", 8), le32(15) + le32(0) + le32(2) + "ok"},
        {dev(0, 7, 16, 18, "x"), le32(16) + le32(0)},
    };
    for (const Row& r : rows) {
        submit(r.request);
        auto out = replies();
        ASSERT_EQ(1u, out.size());
        EXPECT_EQ(r.body, out[0].second);
    }
}

TEST_F(DeviceChannel, RequestsOutsideAnOpenSessionOrListAreDropped) {
    addDevices(2, false);
    diDeviceOpenSession(io, 1);
    diDeviceOpenSession(io, 255);
    diDeviceOpenSession(io, 256);
    struct Row {
        uint32_t device;
        uint16_t session;
        bool answered;
    } rows[] = {{1, 1, true}, {2, 1, false}, {0, 255, true}, {0, 256, false}, {0, 3, false}};
    for (const Row& r : rows) {
        submit(devRead(r.device, 1, 1, 1), r.session);
        EXPECT_EQ(r.answered, replies().size() == 1) << r.device << " " << r.session;
    }
    diDeviceCloseSession(io, 3); // never opened: nothing happens
    diDeviceCloseSession(io, 1);
    submit(devRead(0, 1, 1, 1), 1);
    EXPECT_TRUE(replies().empty());
}

TEST_F(DeviceChannel, ACompletionAnswersOnlyTheSessionItArrivedIn) {
    addDevices(1, true);
    diDeviceOpenSession(io, 4);
    submit(devRead(0, 1, 77, 2), 4);
    diDeviceCloseSession(io, 4);
    diDeviceOpenSession(io, 4); // the server may reuse CompletionId 77 now
    runDeviceThreads();
    EXPECT_TRUE(replies().empty());
    submit(devRead(0, 1, 78, 2), 4);
    runDeviceThreads();
    auto out = replies();
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(78u, rd32(out[0].second, 0));
}

TEST_F(DeviceChannel, WorkersThatCannotStartAnswerTooManyThreads) {
    addDevices(1, true);
    diDeviceOpenSession(io, 1);
    for (int row = 0; row < 3; row++) {
        g_fakeThreads.noHandle = row == 0;
        g_fakeThreads.startFails = row == 1;
        io->workers = row == 2 ? uint32_t(DI_DEV_MAX_WORKERS) : 0u; // all taken
        submit(devRead(0, 1, 5, 4));
        auto out = replies();
        ASSERT_EQ(1u, out.size());
        EXPECT_EQ(DI_STATUS_TOO_MANY_THREADS, out[0].first);
        EXPECT_EQ(0, g_fakeThreads.handlesOpen);
    }
}

TEST_F(DeviceChannel, DestroyingTheChannelWaitsForRunningRequests) {
    addDevices(1, true);
    diDeviceOpenSession(io, 1);
    submit(devRead(0, 1, 5, 4));
    submit(devRead(0, 1, 6, 4));
    destroyDeviceChannel(io);
    io = nullptr;
    g_fakeNet.sent.clear();
    runDeviceThreads(); // under ASan: the channel is freed by the last completion
    EXPECT_TRUE(g_fakeNet.sent.empty());
}

uint32_t probeResult(const DiChar* name);
std::map<std::u16string, uint32_t> g_probe;
std::vector<std::u16string> g_made;
uint32_t probeResult(const DiChar* name) {
    auto it = g_probe.find(name);
    return it == g_probe.end() ? 2 : it->second;
}
DiDeviceClass* makeSerial(const DiChar* name) {
    g_made.push_back(name);
    if (std::u16string(name) == u"BROKEN") return nullptr;
    return &diSerialDeviceMake(name, fakePortOpen)->ops;
}
DiDeviceClass* makeSCard() {
    DiDeviceClass* c = static_cast<DiDeviceClass*>(calloc(1, sizeof(DiDeviceClass)));
    diSCardRegisterClass(c);
    return c;
}

TEST_F(DeviceChannel, ListIsBuiltFromTheSettingOrTheProbe) {
    std::u16string seventeen;
    for (int i = 0; i < 17; i++)
        seventeen += u"P;";
    struct Row {
        const char16_t* setting;
        std::map<std::u16string, uint32_t> probe;
        bool smartCards, flag;
        std::vector<std::u16string> locals;
        std::vector<std::u16string> announced;
    } rows[] = {
        {u"COM5=COM5",
         {},
         true,
         true,
         {u"COM5"},
         {u"1;32;1;5;0;", u"32;32;1;5;0;2;0;1;SCARD;", u"1;32;1;5;0;2;0;2;COM5;"}},
        {u"LOCALA;LOCALB=NAME",
         {},
         true,
         true,
         {u"LOCALA", u"LOCALB"},
         {u"1;32;1;5;0;", u"32;32;1;5;0;2;0;1;SCARD;", u"1;32;1;5;0;2;0;2;COM1;",
          u"1;32;1;5;0;2;0;3;NAME;"}},
        {u"", {{u"COM2", 0}}, false, true, {u"COM2"}, {u"1;32;1;5;0;2;0;0;COM2;"}},
        // A port in use (access denied) exists; "not found" does not.
        {u"", {{u"COM1", 2}, {u"COM3", 5}}, false, true, {u"COM3"}, {u"1;32;1;5;0;2;0;0;COM3;"}},
        {u"BROKEN;X", {}, false, true, {u"BROKEN", u"X"}, {u"1;32;1;5;0;2;0;0;COM2;"}},
        {u"A;;B", {}, false, true, {u"A"}, {u"1;32;1;5;0;2;0;0;COM1;"}},
        {u"COM5=COM5", {}, true, false, {u"COM5"}, {}},
        {seventeen.c_str(),
         {},
         false,
         true,
         std::vector<std::u16string>(17, u"P"),
         std::vector<std::u16string>()},
    };
    for (const Row& r : rows) {
        DiIOChannel* ch = newDeviceChannel();
        g_probe = r.probe;
        g_made.clear();
        g_ddApp->probeOne = r.flag;
        diDeviceListBuild(ch, r.setting, probeResult, makeSerial,
                          r.smartCards ? makeSCard : nullptr);
        EXPECT_EQ(r.locals, g_made);
        DiDeviceList* list = diDeviceListOf(ch);
        std::vector<std::u16string> got;
        for (uint32_t i = 0; i < list->count; i++) {
            DiChar text[128];
            diDeviceAnnouncement(list->devices[i], i, text, 128);
            got.push_back(text);
        }
        if (r.locals.size() == 17) {
            EXPECT_EQ(16u, got.size());
        } else {
            EXPECT_EQ(r.announced, got);
        }
        destroyDeviceChannel(ch);
    }
}

} // namespace
