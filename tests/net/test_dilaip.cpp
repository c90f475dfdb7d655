// Login-dialog frames: encoders byte for byte, the request decoders on
// hostile payloads, and the exchange on a channel over a scripted socket,
// with the dialogs' re-entry cases.
#include "core/ditimer.h"
#include "fakes/chan_fakes.h"
#include "fakes/laip_fakes.h"
#include "net/dilaip.h"
#include "support/split_delivery.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string>

namespace {

std::string le16(uint16_t v) {
    return std::string{char(v & 0xFF), char(v >> 8)};
}
std::string le32(uint32_t v) {
    return std::string{char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)};
}
std::string text(const std::string& utf8) {
    return le32(uint32_t(utf8.size())) + utf8;
}
std::string frame(uint16_t type, const std::string& payload) {
    return "LAIP" + le32(uint32_t(payload.size() + 12)) + le16(type) +
           le16(uint16_t(payload.size())) + payload;
}
std::string take(uint8_t* f, size_t n) {
    std::string s(reinterpret_cast<char*>(f), n);
    free(f);
    return s;
}

TEST(LaipCodec, EncodersByteForByte) {
    uint8_t* f;
    size_t n;
    uint8_t block[64] = {'h', 'i'};
    ASSERT_GT(diLAIPEncodeLaunchRequest(0, 2, u"a", 7, nullptr, block, u"host", u"\u00e9", &f, &n), 0);
    std::string payload = std::string{0, 2} + text("a") + le32(7) + text("") + le32(64) +
                          std::string(reinterpret_cast<char*>(block), 64) + text("host") +
                          text("\xc3\xa9") + le32(0);
    EXPECT_EQ(payload.size(), 94u + 1 + 4 + 2);
    EXPECT_EQ(take(f, n), frame(1, payload));

    // Message 2: the password scrambled ("kelp" becomes four NULs, a byte from
    // 0x80 takes two), the new password plain.
    DiLAIPReply r{};
    r.kind = 2;
    r.save = 1;
    r.user = const_cast<DiChar*>(u"bob");
    r.password = const_cast<DiChar*>(u"kelp\u00e9");
    r.password2 = const_cast<DiChar*>(u"new");
    ASSERT_GT(diLAIPEncodeAnswer(3, &r, &f, &n), 0);
    // 0xC3 ^ '.' = 0xED, 0xA9 ^ 'm' = 0xC4.
    std::string scrambled = std::string(4, '\0') + "\xc3\xad" "\xc3\x84";
    EXPECT_EQ(take(f, n), frame(2, le16(2) + text("bob") + text(scrambled) + "\x01" + text("new")));

    // Message 21: both passwords scrambled, then the domain.
    r.domain = const_cast<DiChar*>(u"D");
    r.password = const_cast<DiChar*>(u"k");
    r.password2 = const_cast<DiChar*>(u"e");
    ASSERT_GT(diLAIPEncodeAnswer(21, &r, &f, &n), 0);
    EXPECT_EQ(take(f, n), frame(21, le16(2) + text("bob") + text(std::string(1, '\0')) + "\x01" +
                                        text("\x0e") + text("D")));
    // The smart-card answer is 39 bytes in all.
    DiLAIPReply card{};
    card.method = 1;
    card.kind = 3;
    ASSERT_EQ(diLAIPEncodeAnswer(21, &card, &f, &n), 39);
    EXPECT_EQ(take(f, n), frame(21, std::string{0, char(0x80)} + std::string(18, '\0') + le16(1) +
                                        le16(0) + le16(1) + "\x03"));
    ASSERT_GT(diLAIPEncodeYesNo(9, 1, &f, &n), 0);
    EXPECT_EQ(take(f, n), frame(8, le16(9) + "\x01"));

    // A payload past 65535 bytes is refused whole.
    std::u16string huge(40000, u'\u00e9');
    r.user = const_cast<DiChar*>(huge.c_str());
    EXPECT_EQ(diLAIPEncodeAnswer(3, &r, &f, &n), -1);
}

TEST(LaipCodec, RequestsDecodeAndHostilePayloadsAreRefused) {
    DiLAIPDialog d;
    std::string p20 = le16(2) + text("srv") + text("alice") + "\x01" + "\x01" + text("DOM");
    ASSERT_EQ(diLAIPParseDialog(20, reinterpret_cast<const uint8_t*>(p20.data()), p20.size(), &d), 0);
    ASSERT_EQ(d.fieldCount, 1);
    EXPECT_EQ(d.flags, 0x100);
    EXPECT_EQ(d.fields[0].value, 2);
    EXPECT_EQ(d.fields[0].flags, 31);
    EXPECT_EQ(std::u16string(d.fields[0].label), u"alice");
    EXPECT_EQ(std::u16string(d.fields[0].second), u"DOM");
    EXPECT_EQ(std::u16string(d.host), u"srv");
    diLAIPDialogFree(&d);

    // 23 with a message, fields of kinds 0, 1 and an unknown one skipped.
    std::string p23 = le16(1) + "\x02" + le16(0x100 | 32 | 2 | 1) + text("srv") + text("dflt") +
                      text("Hello") + le16(1) + le16(3) + "xx" + le16(5) + le16(0) + le16(0) +
                      le16(9) + std::string(1, '\0') + "\x02" + text("lbl") + le16(1) + le16(1) + le16(1) +
                      "\x03" + le16(7) + le16(9) + le16(3) + "abc";
    ASSERT_EQ(diLAIPParseDialog(23, reinterpret_cast<const uint8_t*>(p23.data()), p23.size(), &d), 0);
    ASSERT_EQ(d.fieldCount, 4);
    EXPECT_EQ(d.lastMethod, 1);
    EXPECT_EQ(std::u16string(d.message), u"Hello");
    EXPECT_EQ(std::u16string(d.fields[0].label), u"dflt");
    EXPECT_EQ(d.fields[0].flags, 3);
    EXPECT_EQ(std::u16string(diLAIPFindField(&d, 5)->label), u"lbl");
    EXPECT_EQ(diLAIPFindField(&d, 1)->byte, 3);
    DiLAIPDialog* copy = diLAIPDialogCopy(&d);
    diLAIPDialogFree(&d);
    EXPECT_EQ(std::u16string(diLAIPFindField(copy, 5)->label), u"lbl");
    diLAIPDialogFree(copy);
    free(copy);

    // A text past the payload, a field count that would wrap the array.
    std::string longText = le16(1) + le32(1000) + "abc";
    EXPECT_EQ(diLAIPParseDialog(3, reinterpret_cast<const uint8_t*>(longText.data()),
                                longText.size(), &d),
              -1);
    std::string wrap = le16(1) + std::string(1, '\0') + le16(0x100) + text("h") + le16(0) + le16(65535) + "xx";
    EXPECT_EQ(diLAIPParseDialog(23, reinterpret_cast<const uint8_t*>(wrap.data()), wrap.size(), &d),
              -1);
    EXPECT_EQ(diLAIPResultMessage(44), 132);
    EXPECT_EQ(diLAIPResultMessage(45), 131);
    EXPECT_EQ(diLAIPResultMessage(3), 111);
}

std::vector<uint32_t> g_ownEvents;
int ownHandler(DiObject*, DiEvent* ev) {
    g_ownEvents.push_back(ev->w[0]);
    return 1;
}

class Exchange : public ::testing::Test {
  protected:
    DiChannel* ch = nullptr;
    DiDEManager mgr{};
    DiObject progress{};
    uint32_t now = 5000;
    void SetUp() override {
        fakesReset();
        laipFakesReset();
        g_ownEvents.clear();
        diDEClock = [] { return uint32_t(5000); };
        g_fakeChannels.ctorSucceeds = true;
        g_fakeChannels.handler = ownHandler;
        ch = diDECreateChannel(nullptr, DI_OBJ_XDE, 0, 0);
        ASSERT_NE(ch, nullptr);
        ch->in.limit = 16384;
        ch->out.limit = 65538;
        mgr.hdr.type = DI_OBJ_DEMANAGER;
        mgr.progress = &progress;
        ch->hdr.parent = &mgr.hdr;
        ASSERT_EQ(diLAIPSendRequest(ch, 0, 2, nullptr, 0, nullptr, nullptr, u"srv", nullptr), 0);
        g_fakeNet.sent.clear();
    }
    void TearDown() override {
        if (ch) {
            ch->hdr.parent = nullptr;
            diDEDestroyChannel(ch);
        }
    }
    void deliver(uint32_t type = DI_EV_READABLE) {
        DiEvent ev{};
        ev.w[0] = type;
        diUIDeliverEvent(&ch->hdr, &ev);
    }
};

TEST_F(Exchange, CredentialsThenResultOpenTheChannel) {
    FakeLaipDialog d;
    d.user = u"alice";
    d.password = u"pw";
    g_fakeLaip.dialogs.push_back(d);
    std::string request = frame(3, le16(1) + text("srv") + text("alice") + "\x01");
    std::string status = frame(4, std::string("\x00", 1) + text("Checking"));
    std::string end = frame(6, le16(0) + text(""));
    // Split inside the header, batched with the next frame, and the bytes of
    // the channel's own protocol right behind the end.
    std::string all = status + request + end + "OWN";
    g_fakeNet.incoming = {all.substr(0, 5), all.substr(5, 30), all.substr(35)};
    for (int i = 0; i < 4 && diLAIPActive(ch); ++i) deliver();
    EXPECT_EQ(g_fakeLaip.status, u"Checking");
    EXPECT_EQ(g_fakeLaip.calls, (std::vector<std::string>{"auth", "route", "cancel-timer"}));
    EXPECT_EQ(g_fakeNet.sent, frame(2, le16(1) + text("alice") + text("\x1b\x12") + std::string(1, 0) + text("")));
    EXPECT_FALSE(diLAIPActive(ch));
    EXPECT_EQ(g_ownEvents, std::vector<uint32_t>{DI_EV_OPEN});
    ASSERT_EQ(ch->in.used, 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(ch->in.data), 3), "OWN");
    // No socket notice announces those bytes again: the resume timer hands
    // them to the channel's own handler.
    diTimerDispatch(now + 10);
    EXPECT_EQ(g_ownEvents, (std::vector<uint32_t>{DI_EV_OPEN, DI_EV_READABLE}));
    SplitReader exchange = [&](const SplitPieces& pieces) {
        TearDown();
        SetUp();
        g_fakeLaip.dialogs.push_back(d);
        for (const std::string& p : pieces) {
            g_fakeNet.incoming.push_back(p);
            if (diLAIPActive(ch)) deliver();
        }
        std::string out(g_fakeLaip.status.begin(), g_fakeLaip.status.end());
        for (const std::string& call : g_fakeLaip.calls)
            out += "|" + call;
        return out + "|" + std::to_string(g_ownEvents.size()) + "|" + g_fakeNet.sent;
    };
    expectSameHoweverSplit({{"login dialog", status + request + end, exchange}});
}

TEST_F(Exchange, FailuresQuestionsAndSkippedFrames) {
    std::string bad = frame(4, std::string("\x00", 1) + le32(500) + "short");
    std::string unknown = frame(30, "zz") + frame(11, "");
    std::string end = frame(6, le16(44) + text("eval"));
    g_fakeNet.incoming = {bad + unknown + end};
    deliver();
    EXPECT_EQ(g_fakeLaip.failures, (std::vector<std::pair<int, std::u16string>>{{132, u"eval"}}));
    EXPECT_EQ(g_ownEvents, std::vector<uint32_t>{DI_EV_OPEN});
}

TEST_F(Exchange, TimeOutClosesBeforeOpenAndCancelAfter) {
    std::vector<std::string> order;
    g_fakeNet.incoming = {frame(5, le16(2) + le16(0) + "0000" + text("Wait") + text(""))};
    deliver();
    EXPECT_EQ(g_fakeLaip.duration, 2000u);
    diTimerDispatch(now + 1999);
    EXPECT_TRUE(diLAIPActive(ch));
    diTimerDispatch(now + 2000);
    EXPECT_FALSE(diLAIPActive(ch));
    EXPECT_EQ(g_fakeNet.sent, frame(7, ""));
    EXPECT_EQ(g_ownEvents, std::vector<uint32_t>{DI_EV_OPEN});
}

TEST_F(Exchange, CancelledDialogSendsCloseAfterOpen) {
    FakeLaipDialog d;
    d.ok = 0;
    d.during = [] { EXPECT_TRUE(g_fakeNet.sent.empty()); };
    g_fakeLaip.dialogs.push_back(d);
    g_fakeNet.incoming = {frame(3, le16(1) + text("srv") + text("") + std::string(1, '\0'))};
    deliver();
    EXPECT_EQ(g_fakeNet.sent, frame(7, ""));
    EXPECT_EQ(g_ownEvents, std::vector<uint32_t>{DI_EV_OPEN});
}

TEST_F(Exchange, EndsDuringTheDialogWaitForItAndSuppressTheAnswer) {
    // The wait's timer expires while the dialog is open: no answer, the
    // time-out is carried out once the dialog returns.
    FakeLaipDialog d;
    d.user = u"u";
    d.password = u"p";
    d.during = [this] {
        diTimerDispatch(now + 1000);
        deliver(); // the next frame waits
        EXPECT_TRUE(diLAIPActive(ch));
    };
    g_fakeLaip.dialogs.push_back(d);
    g_fakeNet.incoming = {frame(5, le16(1) + le16(0) + "0000" + text("W") + text("")) +
                          frame(3, le16(1) + text("srv") + text("") + std::string(1, '\0')) +
                          frame(4, std::string("\x00", 1) + text("late"))};
    deliver();
    EXPECT_FALSE(diLAIPActive(ch));
    EXPECT_EQ(g_fakeNet.sent, frame(7, ""));
    EXPECT_EQ(g_ownEvents, std::vector<uint32_t>{DI_EV_OPEN});
    EXPECT_EQ(g_fakeLaip.status, u"W"); // "late" was never read as a login frame
}

TEST_F(Exchange, ProgressCancelDuringTheDialog) {
    FakeLaipDialog d;
    d.user = u"u";
    d.during = [this] { diLAIPFreeDialogState(ch); };
    g_fakeLaip.dialogs.push_back(d);
    g_fakeNet.incoming = {frame(3, le16(1) + text("srv") + text("") + std::string(1, '\0'))};
    deliver();
    EXPECT_FALSE(diLAIPActive(ch));
    EXPECT_TRUE(g_fakeNet.sent.empty());
    EXPECT_EQ(ch->hdr.handler, ownHandler);
}

TEST_F(Exchange, ChannelDestroyedDuringTheDialog) {
    FakeLaipDialog d;
    d.user = u"u";
    d.during = [this] {
        ch->hdr.parent = nullptr;
        diDEDestroyChannel(ch);
    };
    g_fakeLaip.dialogs.push_back(d);
    g_fakeNet.incoming = {frame(3, le16(1) + text("srv") + text("") + std::string(1, '\0'))};
    DiChannel* held = ch;
    diUIObjectRef(&held->hdr);
    deliver();
    EXPECT_FALSE(diLAIPActive(held));
    EXPECT_TRUE(g_fakeNet.sent.empty());
    ch = nullptr;
    diUIObjectRelease(&held->hdr);
}

TEST_F(Exchange, FrameAboveTheInputLimitClosesTheChannel) {
    g_fakeNet.incoming = {"LAIP" + le32(0) + le16(4) + le16(20000)};
    EXPECT_EQ(diLAIPReceive(ch), -1);
    EXPECT_FALSE(diLAIPActive(ch));
    EXPECT_GE(g_fakeNet.closes, 1);
}

// Result 0 starts a device channel's own protocol; whatever the result, a
// print channel's exchange leaves it printing. A print channel learns when
// a login dialog of its exchange opens and is answered.
TEST_F(Exchange, ResultZeroStartsDeviceChannels) {
    TearDown();
    const std::string dialog = frame(3, le16(1) + text("srv") + text("") + std::string(1, '\0'));
    struct Row {
        uint32_t type;
        uint16_t result;
        std::vector<std::string> calls;
        bool asks = false;
    } rows[] = {
        {DI_OBJ_PRINT, 0, {"print-exchange-end", "print-start"}},
        {DI_OBJ_PRINT, 4, {"print-exchange-failed"}},
        {DI_OBJ_PRINT,
         0,
         {"print-question", "auth", "print-answered", "route", "print-exchange-end", "print-start"},
         true},
        {DI_OBJ_AUDIO, 0, {"io-start"}},
        {DI_OBJ_AUDIO, 4, {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.type) + " " + std::to_string(r.result));
        fakesReset();
        laipFakesReset();
        g_fakeChannels.ctorSucceeds = true;
        g_fakeChannels.handler = ownHandler;
        ch = diDECreateChannel(nullptr, r.type, 0, 0);
        ASSERT_NE(ch, nullptr);
        ch->out.limit = 1024;
        diLAIPSendRequest(ch, 0, 2, nullptr, 0, nullptr, nullptr, nullptr, nullptr);
        g_fakeLaip.dialogs.resize(r.asks);
        g_fakeNet.incoming = {(r.asks ? dialog : "") + frame(6, le16(r.result) + text(""))};
        deliver();
        EXPECT_EQ(g_fakeLaip.calls, r.calls);
        diDEDestroyChannel(ch);
    }
    ch = nullptr;
}

} // namespace
