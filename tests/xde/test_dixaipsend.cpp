// Client messages, checked byte for byte by the fake X-AIP server: every
// sender's output is decoded strictly by tests/peers/xaip_peer.py (exact
// lengths, re-encoded to the same bytes) and the decoded values compared.
#include <gtest/gtest.h>

#include "core/dilog.h"
#include "fakes/chan_fakes.h"
#include "xde/dixaip.h"

#include <stdio.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Send : ::testing::Test {
    DiXDisplay d{};
    DdSocket sock{};
    CLog log;
    void SetUp() override {
        fakesReset();
        ASSERT_EQ(diXAIPInit(&d), 0);
        sock.handle = 1;
        d.ch.socket = &sock;
        d.ch.open = 1;
        diLogSet(&log);
    }
    void TearDown() override {
        diLogSet(nullptr);
        diXAIPFree(&d);
        diIOBufferFree(&d.ch.out);
    }
    // What the server decodes from everything sent so far.
    std::vector<std::string> decoded() {
        char path[] = "/tmp/hv_xaip_sent_XXXXXX";
        int fd = mkstemp(path);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(write(fd, g_fakeNet.sent.data(), g_fakeNet.sent.size()),
                  ssize_t(g_fakeNet.sent.size()));
        close(fd);
        std::string cmd = std::string("python3 " HV_PEERS_DIR "/xaip_peer.py decode ") + path;
        FILE* p = popen(cmd.c_str(), "r");
        std::vector<std::string> lines;
        char buf[70000];
        while (p && fgets(buf, sizeof buf, p)) {
            std::string l(buf);
            while (!l.empty() && l.back() == '\n') l.pop_back();
            lines.push_back(l);
        }
        if (p) pclose(p);
        unlink(path);
        g_fakeNet.sent.clear();
        return lines;
    }
};

std::string hexOf(const std::string& s) {
    static const char* d = "0123456789abcdef";
    std::string h;
    for (unsigned char c : s) h += d[c >> 4], h += d[c & 15];
    return h.empty() ? "-" : h;
}

TEST_F(Send, FixedMessagesDecodeStrictly) {
    diXAIPSendButtonPress(&d, 3, 1, -1, 70000);
    diXAIPSendButtonRelease(&d, 3, 2, 10, 20);
    diXAIPSendPointerEvent16(&d, 4, 5, 1, 2);
    diXAIPSendMotion(&d, 9, -2, 300);
    diXAIPSendModifiers(&d, 0x1234);
    diXAIPSendEvent9(&d);
    diXAIPSendEvent10(&d);
    diXAIPSendClose(&d);
    diXAIPSendAck(&d, 0x40001);
    diXAIPSendSyncReply(&d);
    const uint32_t t4[] = {1, 2, 3, 4}, t2[] = {9, 8};
    diXAIPSendTimings(&d, t4, 4);
    diXAIPSendTimings(&d, t2, 2);
    diXAIPSendKeyPress(&d, 65, 0x263A);
    diXAIPSendKeyRelease(&d, 65, 0x263A);
    diXAIPSendFocusIn(&d, 0);
    diXAIPSendFocusOut(&d, 7);
    diXAIPSendScreenInfo(&d, 8192);
    diXAIPSendPingReply(&d, 0xBEEF);
    diXAIPSendWindowState(&d, 1, 2, 2);
    diXAIPSendActivate(&d, 5, -1);
    const int32_t b[4] = {1, 2, 30, 4};
    diXAIPSendWindowCreated(&d, 6, b);
    diXAIPSendWheel(&d, 2, -120, -1, 5, 6);
    std::vector<std::string> want = {
        "3 3 1 65535 4464", "4 3 2 10 20", "30 4 5 1 2", "5 9 65534 300", "9 4660", "11", "12",
        "13", "16 262145", "19 0", "20 1 2 3 4", "20 9 8", "23 65 9786", "24 65 9786", "27 0",
        "28 7", "29 8192 256 1024 16 256 32", "31 48879", "34 1 2 2", "36 5 -1",
        "38 6 1 2 30 4", "40 2 65416 65535 5 6"};
    EXPECT_EQ(decoded(), want);
}

TEST_F(Send, GeometryFormsCarryTheFrameValue) {
    const int32_t prev[4] = {-5, 0, 640, 480}, next[4] = {10, 20, 800, 600},
                  borders[4] = {4, 4, 24, 4};
    diXAIPSendConfigureNotify(&d, 3, prev, next);
    d.frameValue = 0xABCD;
    diXAIPSendConfigureNotifyEx(&d, 3, prev, next, borders);
    EXPECT_EQ(decoded(), (std::vector<std::string>{
                             "35 3 65531 0 640 480 10 20 800 600",
                             "35 3 65531 0 640 480 10 20 800 600 4 4 24 4 43981"}));
}

TEST_F(Send, PropertiesAndClipboardOffers) {
    diXAIPSendProperty(&d, u"12", 2, u"qvl-x", 5, u"", 0);
    diXAIPSendPropertyNotify(&d, u"", 0, u"qvl-swm-focusinfo", 17);
    diXAIPSendClipboardOffer(&d, u"UTF8_STRING", 11, 7);
    DiXDisplay other{};
    other.id = 42;
    uint8_t block[3] = {1, 2, 3};
    other.ownerBlock = block;
    other.ownerBlockLength = 3;
    diXAIPSendClipboardOfferFrom(&d, u"TEXT", 4, 0, &other);
    const uint8_t list[] = {4, 0, 'T', 'E', 'X', 'T', 2, 0, 0xC3, 0xA9};
    diXAIPSendSelectionData(&d, list, sizeof list, 2, block, 3);
    EXPECT_EQ(decoded(), (std::vector<std::string>{
                             "17 3132 71766c2d78 -",
                             "39 - " + hexOf("qvl-swm-focusinfo"),
                             "41 7 " + hexOf("UTF8_STRING") + " 0 -",
                             "41 0 54455854 42 010203",
                             "42 2 54455854 c3a9 010203"}));
}

TEST_F(Send, ClipboardDataIsChunkedAt16384Bytes) {
    std::string data(16385, 'a');
    data[16384] = 'b';
    const uint8_t* p = reinterpret_cast<const uint8_t*>(data.data());
    diXAIPSendClipboardData(&d, u"S", 1, p, 0, 9);
    diXAIPSendClipboardData(&d, u"S", 1, p, 16384, 9);
    diXAIPSendClipboardChunks(&d, u"S", 1, p, 16385, 9, 1);
    std::vector<std::string> got = decoded();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0], "32 3 0 53 0 -");
    EXPECT_EQ(got[1].substr(0, 22), "32 3 16384 53 16384 61");
    EXPECT_EQ(got[2].substr(0, 22), "32 5 16385 53 16384 61");
    EXPECT_EQ(got[3], "32 6 1 62");
    d.flags |= DI_XFLAG_CLIP_EX;
    diXAIPSendClipboardData(&d, u"S", 1, p, 1, 9);
    EXPECT_EQ(decoded(), (std::vector<std::string>{"32 3 1 id=9 53 1 61"}));
}

TEST_F(Send, MessagesPastTheOutputLimitAreRefusedAndLogged) {
    std::u16string name(32760, u'n');
    std::string data(100, 'x');
    diXAIPSendClipboardData(&d, name.data(), uint32_t(name.size()),
                            reinterpret_cast<const uint8_t*>(data.data()), 100, 0);
    std::string list(32764, 'l');
    diXAIPSendSelectionData(&d, reinterpret_cast<const uint8_t*>(list.data()),
                            uint32_t(list.size()), 1, nullptr, 0);
    EXPECT_TRUE(g_fakeNet.sent.empty());
    EXPECT_EQ(log.GetCount(), 2u);
    // 32767 bytes in all is the largest message sent.
    diXAIPSendSelectionData(&d, reinterpret_cast<const uint8_t*>(list.data()),
                            32760, 1, nullptr, 0);
    EXPECT_EQ(g_fakeNet.sent.size(), 32767u);
}

TEST_F(Send, ConnectMessageInEveryBlockCombination) {
    DiClientInfo info{};
    info.platform = const_cast<DiChar*>(u"Win32");
    info.osVersion = const_cast<DiChar*>(u"6.1");
    info.platform2 = const_cast<DiChar*>(u"W");
    info.osVersion2 = const_cast<DiChar*>(u"");
    info.processor = const_cast<DiChar*>(u"x86");
    DdTimeZoneInfo tz{};
    tz.flags = 7;
    tz.bias = -60;
    tz.standardName = const_cast<char*>("Mitteleurop\xc3\xa4ische Zeit");
    tz.daylightOffset = -60;
    tz.daylightName = const_cast<char*>("Sommerzeit");
    tz.daylightDate = {0, 3, 0, 5, 2, 0, 0, 0};
    tz.standardDate = {0, 10, 0, 5, 3, 0, 0, 0};
    DdTimeZoneInfo tz0{};
    tz0.bias = 0;
    tz0.standardName = const_cast<char*>("UTC");
    DdKeyboardInfo kb{};
    kb.flags = DD_KB_LANG_ID | DD_KB_IME | DD_KB_LAYOUT;
    kb.langId = 0x0411;
    // A system IME name: its length is the UTF-8 byte count (9) of a
    // three-unit text; only the text and its terminator give bytes.
    kb.ime = const_cast<DiChar*>(u"\u65e5\u672c\u8a9e");
    kb.imeLength = 9;
    kb.layout = const_cast<DiChar*>(u"00000411");
    kb.layoutLength = 8;
    std::string head = "10 3 " + hexOf("Win32") + " " + hexOf("6.1") + " " + hexOf("W") + " - " +
                       hexOf("x86") + " cmap=0 feat=63415 1024x768 blocks=";
    diXAIPSendHello(&d, &info, 1024, 768, nullptr, nullptr);
    info.osCode = 2, info.osMajor = 6, info.osMinor = 1;
    diXAIPSendHello(&d, &info, 1024, 768, &tz0, nullptr);
    diXAIPSendHello(&d, &info, 1024, 768, &tz, &kb);
    kb.flags = DD_KB_LANG_TEXT;
    kb.langText = const_cast<DiChar*>(u"ja-JP");
    kb.langLength = 5;
    d.engineFlags = 5;
    diXAIPSendHello(&d, &info, 1024, 768, nullptr, &kb);
    EXPECT_EQ(decoded(),
              (std::vector<std::string>{
                  head + "0 flags 7",
                  head + "17 os 2 6 1 tz 0 0 UTC flags 7",
                  head + "49 os 2 6 1 tz 7 -60 Mitteleurop\\xe4ische Zeit dl -60 Sommerzeit "
                         "std 0,10,0,5,3,0 dst 0,3,0,5,2,0 kb 22 1104 ime e52c9e000000000000 "
                         "layout 3030303030343131 flags 7",
                  head + "48 os 2 6 1 kb 1 6a612d4a50 flags 5"}));
}

TEST_F(Send, ConnectMessageCarriesExactlyTheBlocksAnnounced) {
    DiClientInfo info{};
    info.platform = info.osVersion = info.platform2 = info.osVersion2 = info.processor =
        const_cast<DiChar*>(u"x");
    DdTimeZoneInfo tz{};
    tz.flags = 3; // dates defined, standard time now
    tz.standardName = const_cast<char*>("S");
    tz.daylightName = const_cast<char*>("D");
    DdKeyboardInfo kb{};
    kb.flags = DD_KB_LANG_ID;
    for (int mask = 0; mask < 8; mask++) {
        info.osCode = mask & 1 ? 2 : 0;
        diXAIPSendHello(&d, &info, 1, 1, mask & 2 ? &tz : nullptr, mask & 4 ? &kb : nullptr);
        std::vector<std::string> got = decoded();
        ASSERT_EQ(got.size(), 1u) << mask;
        int blocks = (mask & 1 ? 0x10 : 0) | (mask & 2 ? 0x01 : 0) | (mask & 4 ? 0x20 : 0);
        const std::string& l = got[0];
        EXPECT_NE(l.find("blocks=" + std::to_string(blocks) + " "), std::string::npos) << l;
        EXPECT_EQ(l.find(" os ") != std::string::npos, (mask & 1) != 0) << l;
        EXPECT_EQ(l.find(" tz 3 ") != std::string::npos, (mask & 2) != 0) << l;
        EXPECT_EQ(l.find(" std 0,0,0,0,0,0 dst ") != std::string::npos, (mask & 2) != 0) << l;
        EXPECT_EQ(l.find(" kb 2 ") != std::string::npos, (mask & 4) != 0) << l;
    }
}

} // namespace
