// Drive mapping requests over an in-memory file layer: the path rule, short
// requests, error numbers, directory listings bounded by the frame, seeks,
// deletes that meet open handles, and handles closed at tear-down.
#include <gtest/gtest.h>

#include "devices/dicdm.h"
#include "fakes/cdm_fakes.h"
#include "io_wire.h"
#include "support/device_names.h"

#include <stdlib.h>

using namespace iowire;

namespace {

std::string P(const std::string& utf8) {
    return le32(uint32_t(utf8.size())) + utf8;
}
std::string le64(uint64_t v) {
    return le32(uint32_t(v)) + le32(uint32_t(v >> 32));
}

struct Reply {
    uint32_t code = 0;
    std::string body;
    uint32_t status() const { return code == 200 ? rd32(body, 0) : 0xFFFFFFFF; }
};

class Drives : public ::testing::Test {
  protected:
    void SetUp() override {
        fakesReset();
        fakeFilesReset();
        DiCDMDrive t = {1, {'T', ':', '\\', 0}};
        io = static_cast<DiIOChannel*>(calloc(1, sizeof(DiIOChannel)));
        diDEChannelInit(&io->ch, DI_OBJ_CDM, 0, 0);
        ASSERT_TRUE(diCDMChannelInit(io, &g_fakeFileOps, &t, 1));
        diChannelAttachConnection(&io->ch, ddNetSocketCreate());
    }
    void TearDown() override {
        if (io) destroy();
    }
    void destroy() {
        diCDMChannelTeardown(io);
        diDEChannelFree(&io->ch);
        free(io);
        io = nullptr;
    }
    // Runs one request; the replies it sent.
    std::vector<Reply> call(uint32_t code, const std::string& payload) {
        diIOFileHandlers[code](io, reinterpret_cast<const uint8_t*>(payload.data()),
                               uint32_t(payload.size()), 0);
        std::vector<Reply> out;
        for (const Frame& f : sentFrames(g_fakeNet.sent))
            out.push_back({rd32(f.data, 12), f.data.substr(20)});
        return out;
    }
    Reply one(uint32_t code, const std::string& payload) {
        std::vector<Reply> r = call(code, payload);
        EXPECT_EQ(1u, r.size()) << "code " << code;
        return r.empty() ? Reply{} : r[0];
    }
    uint32_t openSlot(const std::string& path, uint32_t flags = 2) {
        Reply r = one(11, P(path) + le32(flags) + le32(0));
        EXPECT_EQ(111u, r.code) << path;
        return rd32(r.body, 0);
    }
    DiIOChannel* io = nullptr;
};

TEST(DrivePaths, OnlyPlainPathsOnListedDrivesPass) {
    DiCDMState st = {};
    st.driveCount = 1;
    st.drives[0] = {1, {'T', ':', '\\', 0}};
    struct Row {
        std::string in;
        std::u16string want; // empty: refused
    } rows[] = {
        {"T:/a/b.txt", u"T:\\a\\b.txt"},
        {"t:", u"t:\\"},
        {"T:/.", u"T:\\"},
        {"T:\\dir\\.", u"T:\\dir\\"},
        {"T:\\com10", u"T:\\com10"},
        {"T:\\console.txt", u"T:\\console.txt"},
        {"T:\\caf\xc3\xa9", u"T:\\caf\u00e9"},
        {"C:\\windows", u""},
        {"\\\\host\\share\\x", u""},
        {"\\\\.\\COM1", u""},
        {"\\\\?\\unix\\etc\\passwd", u""},
        {"T:name", u""},
        {"a\\b", u""},
        {"\\a", u""},
        {"T:\\nul", u""},
        {"T:\\x\\nul.txt", u""},
        {"T:\\com1", u""},
        {"T:\\Con .txt", u""},
        {"T:\\LPT9.log\\y", u""},
        {"T:\\conout$", u""},
        {"T:\\com\xc2\xb9", u""},
        {"T:\\a.txt:s", u""},
        {"T:\\a\\\\b", u""},
        {"T:\\a*.txt", u""},
        {std::string("T:\\a\0b", 6), u""},
        {"T:\\\xc3(", u""},
        {"T:\\\xed\xa0\x80", u""},
        {"T:\\" + std::string(256, 'x'), u"T:\\" + std::u16string(256, u'x')},
        {"T:\\" + std::string(257, 'x'), u""},
        {"", u""},
    };
    for (const Row& r : rows) {
        DiChar out[DI_CDM_PATH_MAX + 1] = {};
        uint32_t err = diCDMCheckPath(&st, reinterpret_cast<const uint8_t*>(r.in.data()),
                                      uint32_t(r.in.size()), out);
        EXPECT_EQ(r.want.empty() ? 13u : 0u, err) << r.in;
        if (!r.want.empty()) {
            EXPECT_EQ(r.want, std::u16string(out)) << r.in;
        }
    }
}

// A device name is refused as any component of a drive path; a name that
// only looks like one is a file.
TEST(DrivePaths, DeviceNamesAreRefusedAsAnyComponent) {
    DiCDMState st = {};
    st.driveCount = 1;
    st.drives[0] = {1, {'T', ':', '\\', 0}};
    auto check = [&](const std::u16string& path) {
        std::string utf8 = deviceNameUtf8(path);
        DiChar out[DI_CDM_PATH_MAX + 1] = {};
        return diCDMCheckPath(&st, reinterpret_cast<const uint8_t*>(utf8.data()),
                              uint32_t(utf8.size()), out);
    };
    for (const std::u16string& name : deviceNames()) {
        EXPECT_EQ(check(u"T:\\" + name), 13u) << deviceNameUtf8(name);
        EXPECT_EQ(check(u"T:\\d\\" + name + u"\\x"), 13u) << deviceNameUtf8(name);
    }
    for (const std::u16string& name : nearDeviceNames())
        EXPECT_EQ(check(u"T:\\d\\" + name + u".gif"), 0u) << deviceNameUtf8(name);
}

TEST(DrivePaths, TimesAreSignedSecondsAndRangeChecked) {
    struct Row {
        int64_t t;
        bool fits;
    } rows[] = {{1, true},
                {-1, true},
                {-11644473600LL, true},
                {-11644473601LL, false},
                {INT64_MAX / 10000000 - 11644473600LL, true},
                {INT64_MAX, false},
                {INT64_MIN, false}};
    for (const Row& r : rows) {
        uint64_t ft = 0;
        EXPECT_EQ(r.fits, diCDMTimeToFiletime(r.t, &ft)) << r.t;
        if (r.fits) {
            EXPECT_EQ(r.t, diCDMTimeFromFiletime(ft)) << r.t;
        }
    }
    uint64_t ft = 1;
    EXPECT_TRUE(diCDMTimeToFiletime(0, &ft));
    EXPECT_EQ(0u, ft);
}

TEST_F(Drives, HostilePathsAreRefusedWithNothingTouched) {
    const std::string bad[] = {"T:\\nul", "\\\\.\\PhysicalDrive0", "\\\\srv\\c$\\x", "T:rel",
                               "C:\\x",   "T:\\a.txt:stream",      "T:\\aux.c\\x"};
    for (const std::string& b : bad) {
        const std::string reqs[][2] = {
            {"1", P(b) + le32(0)},
            {"2", P(b)},
            {"7", P(b) + le32(0)},
            {"8", P(b)},
            {"9", P(b) + le32(0)},
            {"10", P(b)},
            {"11", P(b) + le32(0x42) + le32(0)},
            {"15", P(b)},
            {"17", P(b) + le64(1) + le64(1) + le64(1)},
            {"18", P("T:\\ok") + P(b)},
            {"18", P(b) + P("T:\\ok")},
            {"20", P(b) + le32(0) + le64(0)},
        };
        for (auto& r : reqs) {
            Reply got = one(uint32_t(atoi(r[0].c_str())), r[1]);
            EXPECT_EQ(200u, got.code) << b << " code " << r[0];
            EXPECT_EQ(13u, got.status()) << b << " code " << r[0];
        }
    }
    EXPECT_TRUE(g_fakeFiles.touched.empty());
    EXPECT_EQ(1u, g_fakeFiles.nodes.size());
}

TEST_F(Drives, ShortRequestsAreRefusedNotReadPast) {
    fakeAddFile(u"t:\\f", "data");
    uint32_t slot = openSlot("T:\\f");
    // A path length larger than the request, and fields cut off.
    const std::pair<uint32_t, std::string> rows[] = {
        {1, le32(100) + "T:\\f"},
        {1, P("T:\\f")},
        {2, le32(5) + "T:\\"},
        {3, le32(0)},
        {4, le32(0)},
        {6, ""},
        {7, le32(4)},
        {9, P("T:\\f")},
        {11, P("T:\\f")},
        {12, "\x01"},
        {13, le32(slot)},
        {14, le32(slot) + le32(10) + "short"},
        {16, le32(slot) + le64(0)},
        {17, P("T:\\f") + le64(1)},
        {18, P("T:\\f")},
        {19, ""},
        {20, P("T:\\f") + le32(0)},
    };
    for (auto& r : rows) {
        Reply got = one(r.first, r.second);
        EXPECT_EQ(200u, got.code) << r.first;
        EXPECT_EQ(13u, got.status()) << r.first;
    }
    EXPECT_EQ("data", g_fakeFiles.nodes[u"t:\\f"].data);
}

TEST_F(Drives, WindowsErrorsMapToTheServersNumbers) {
    fakeAddFile(u"t:\\f", "x");
    fakeAddDir(u"t:\\d");
    fakeAddFile(u"t:\\d\\in", "");
    struct Row {
        uint32_t code;
        std::string payload;
        const char* failCall;
        uint32_t winError;
        uint32_t want;
    } rows[] = {
        {7, P("T:\\d") + le32(0), nullptr, 0, 17}, // an existing name (183)
        {7, P("T:\\n") + le32(0), "makeDir", 80, 17},
        {7, P("T:\\n") + le32(0), "makeDir", 112, 28},
        {7, P("T:\\n") + le32(0), "makeDir", 267, 17},
        {7, P("T:\\n") + le32(0), "makeDir", 5, 13},
        {8, P("T:\\d"), nullptr, 0, 17},
        {8, P("T:\\f"), nullptr, 0, 20},
        {8, P("T:\\none"), nullptr, 0, 2},
        {18, P("T:\\f") + P("T:\\d"), nullptr, 0, 17},
        {18, P("T:\\f") + P("T:\\g"), "rename", 80, 17},
        {18, P("T:\\none") + P("T:\\g"), nullptr, 0, 2},
        {18, P("T:\\f") + P("T:\\g"), "rename", 39, 28},
        {15, P("T:\\none"), nullptr, 0, 2},
        {15, P("T:\\d"), nullptr, 0, 13},
        {15, P("T:\\f"), "remove", 21, 2},
        {11, P("T:\\d") + le32(0) + le32(0), nullptr, 0, 21},
        {11, P("T:\\f") + le32(0xC2) + le32(0), nullptr, 0, 17},
        {11, P("T:\\none") + le32(0) + le32(0), nullptr, 0, 2},
        {11, P("T:\\n") + le32(0x42) + le32(0), "open", 112, 28},
        {11, P("T:\\n") + le32(0x42) + le32(0), "open", 1, 13},
        {2, P("T:\\f"), nullptr, 0, 20},
        {2, P("T:\\none"), nullptr, 0, 2},
        {2, P("T:\\d"), "getAttributes", 5, 13},
        {1, P("T:\\none") + le32(0), nullptr, 0, 2},
        {20, P("T:\\d") + le32(0) + le64(0), nullptr, 0, 21},
        {20, P("T:\\f") + le32(0) + le64(uint64_t(-1)), nullptr, 0, 22},
        {9, P("T:\\none") + le32(1), nullptr, 0, 2},
        {10, P("T:\\"), "diskFree", 5, 13},
    };
    for (const Row& r : rows) {
        g_fakeFiles.fail.clear();
        if (r.failCall) g_fakeFiles.fail[r.failCall] = r.winError;
        Reply got = one(r.code, r.payload);
        EXPECT_EQ(r.want, got.status()) << "code " << r.code << " " << r.payload.substr(4);
    }
}

TEST_F(Drives, DeleteMeetingAnOpenHandle) {
    fakeAddFile(u"t:\\mine", "a");
    fakeAddFile(u"t:\\theirs", "b");
    fakeAddFile(u"t:\\ro", "c");
    g_fakeFiles.nodes[u"t:\\theirs"].heldElsewhere = true;
    g_fakeFiles.nodes[u"t:\\ro"].attributes = 1;
    uint32_t slot = openSlot("T:\\MINE");
    // Ours: the slot lets go of the file, which is then deleted.
    EXPECT_EQ(0u, one(15, P("T:\\mine")).status());
    EXPECT_FALSE(fakeExists(u"t:\\mine"));
    EXPECT_EQ(0, g_fakeFiles.openHandles);
    EXPECT_EQ(9u, one(13, le32(slot) + le32(1)).status());
    EXPECT_EQ(0u, one(12, le32(slot)).status());
    // Another program's: the file stays and the server is told.
    EXPECT_EQ(13u, one(15, P("T:\\theirs")).status());
    EXPECT_TRUE(fakeExists(u"t:\\theirs"));
    // Read-only: cleared and deleted.
    EXPECT_EQ(0u, one(15, P("T:\\ro")).status());
    EXPECT_FALSE(fakeExists(u"t:\\ro"));
}

TEST_F(Drives, FilesReadWriteSeekAndTruncate) {
    uint32_t slot = openSlot("T:\\z.zip", 0x42);
    std::string body(100, 'q');
    EXPECT_EQ(le32(100), one(14, le32(slot) + le32(100) + body).body);
    struct Row {
        int64_t offset;
        uint32_t origin;
        uint64_t wantPos; // ~0: error 22
    } rows[] = {{-22, 2, 78},
                {-1, 0, ~0ull},
                {-200, 2, ~0ull},
                {5, 0, 5},
                {-3, 1, 2},
                {0, 3, ~0ull},
                {uint64_t(5) << 32, 0, uint64_t(5) << 32}};
    for (const Row& r : rows) {
        Reply got = one(16, le32(slot) + le64(uint64_t(r.offset)) + le32(r.origin));
        if (r.wantPos == ~0ull) {
            EXPECT_EQ(22u, got.status()) << r.offset;
        } else {
            EXPECT_EQ(116u, got.code) << r.offset;
            EXPECT_EQ(le64(r.wantPos), got.body) << r.offset;
        }
    }
    one(16, le32(slot) + le64(90) + le32(0));
    Reply rd = one(13, le32(slot) + le32(100000));
    EXPECT_EQ(le32(10) + std::string(10, 'q'), rd.body);
    // Truncating by slot keeps the slot's position.
    one(16, le32(slot) + le64(50) + le32(0));
    EXPECT_EQ(0u, one(20, P("") + le32(slot) + le64(20)).status());
    EXPECT_EQ(20u, g_fakeFiles.nodes[u"t:\\z.zip"].data.size());
    EXPECT_EQ(le64(50), one(16, le32(slot) + le64(0) + le32(1)).body);
    // A large read is capped so that its reply fits one frame.
    fakeAddFile(u"t:\\big", std::string(100000, 'b'));
    uint32_t big = openSlot("T:\\big", 0);
    EXPECT_EQ(4u + 61440u, one(13, le32(big) + le32(100000)).body.size());
    // Sizes past 4 GiB.
    g_fakeFiles.sizeBias = 5ull << 30;
    EXPECT_EQ(le64((5ull << 30) + 100000), one(1, P("T:\\big") + le32(0)).body.substr(0, 8));
}

TEST_F(Drives, SlotsOfOneKindRefuseRequestsOfTheOther) {
    fakeAddFile(u"t:\\f", "x");
    uint32_t file = openSlot("T:\\f");
    uint32_t dir = rd32(one(2, P("T:\\")).body, 0);
    const std::pair<uint32_t, std::string> rows[] = {
        {13, le32(dir) + le32(1)},
        {14, le32(dir) + le32(1) + "x"},
        {16, le32(dir) + le64(0) + le32(0)},
        {12, le32(dir)},
        {3, le32(file) + le32(1)},
        {4, le32(file) + le32(0)},
        {6, le32(file)},
        {19, le32(file)},
        {13, le32(99) + le32(1)},
        {3, le32(99) + le32(1)},
    };
    for (auto& r : rows)
        EXPECT_EQ(9u, one(r.first, r.second).status()) << r.first;
    EXPECT_EQ(21u, one(20, P("") + le32(dir) + le64(0)).status());
}

// Opening without closing meets a ceiling before handles run out: 24, and
// nothing is created or opened; a close makes room again.
TEST_F(Drives, OpenFilesAndSearchesHaveACeiling) {
    fakeAddFile(u"t:\\f", "x");
    for (int i = 0; i < 1023; i++)
        openSlot("T:\\f");
    uint32_t dir = rd32(one(2, P("T:\\")).body, 0);
    EXPECT_EQ(24u, one(11, P("T:\\f") + le32(2) + le32(0)).status());
    EXPECT_EQ(24u, one(11, P("T:\\new") + le32(0x42) + le32(0)).status());
    EXPECT_EQ(24u, one(2, P("T:\\")).status());
    EXPECT_EQ(1023, g_fakeFiles.openHandles);
    EXPECT_EQ(0u, g_fakeFiles.nodes.count(u"t:\\new"));
    EXPECT_EQ(0u, one(6, le32(dir)).status());
    EXPECT_EQ(111u, one(11, P("T:\\f") + le32(2) + le32(0)).code);
}

TEST_F(Drives, DirectoryReadsStopBeforeAnEntryThatDoesNotFit) {
    // 300 names of 200 bytes: about 248 bytes an entry, so one reply holds
    // about 247 of them.
    std::vector<std::string> names;
    for (int i = 0; i < 300; i++) {
        char n[8];
        snprintf(n, sizeof n, "%03d", i);
        names.push_back(n + std::string(197, 'n'));
        fakeAddFile(u"t:\\" + std::u16string(names.back().begin(), names.back().end()), "");
    }
    uint32_t dir = rd32(one(2, P("T:\\")).body, 0);
    std::vector<std::string> seen;
    uint32_t end = 0;
    for (int reads = 0; !end && reads < 10; reads++) {
        Reply r = one(3, le32(dir) + le32(100000));
        ASSERT_EQ(103u, r.code);
        ASSERT_LE(r.body.size() + 20, DI_IO_MAX_REPLY);
        end = rd32(r.body, 0);
        size_t at = 8;
        for (uint32_t i = 0; i < rd32(r.body, 4); i++) {
            EXPECT_EQ(seen.size(), rd32(r.body, at));
            uint32_t n = rd32(r.body, at + 44);
            seen.push_back(r.body.substr(at + 48, n));
            at += 48 + n;
        }
        EXPECT_EQ(r.body.size(), at);
    }
    EXPECT_EQ(names, seen);
}

TEST_F(Drives, DirectoryPositionsFollowReadsSeeksAndRewinds) {
    fakeAddDir(u"t:\\d");
    for (char c = 'a'; c <= 'e'; c++)
        fakeAddFile(u"t:\\d\\" + std::u16string(1, char16_t(c)), "");
    uint32_t dir = rd32(one(2, P("T:/d")).body, 0);
    auto names = [&](uint32_t m) {
        Reply r = one(3, le32(dir) + le32(m));
        std::string s = rd32(r.body, 0) ? "|" : "";
        for (size_t at = 8; at < r.body.size(); at += 48 + rd32(r.body, at + 44))
            s += r.body.substr(at + 48, rd32(r.body, at + 44));
        return s;
    };
    EXPECT_EQ("ab", names(2));
    EXPECT_EQ("cd", names(2));
    EXPECT_EQ(0u, one(4, le32(dir) + le32(0)).status());
    EXPECT_EQ("bc", names(2));
    EXPECT_EQ("|de", names(9));
    EXPECT_EQ("|", names(9));
    EXPECT_EQ(0u, one(19, le32(dir)).status());
    EXPECT_EQ("abc", names(3));
    EXPECT_EQ(0u, one(4, le32(dir) + le32(10)).status());
    EXPECT_EQ("|", names(1));
    EXPECT_EQ(0u, one(6, le32(dir)).status());
    EXPECT_EQ(0, g_fakeFiles.openSearches);
}

TEST_F(Drives, TearDownClosesFilesAndSearches) {
    fakeAddFile(u"t:\\a", "1");
    fakeAddFile(u"t:\\b", "2");
    for (int i = 0; i < 12; i++)
        openSlot(i % 2 ? "T:\\a" : "T:\\b");
    uint32_t dir = rd32(one(2, P("T:\\")).body, 0);
    EXPECT_EQ(12u, dir); // the table grew past ten
    one(3, le32(dir) + le32(1));
    EXPECT_EQ(12, g_fakeFiles.openHandles);
    EXPECT_EQ(1, g_fakeFiles.openSearches);
    destroy();
    EXPECT_EQ(0, g_fakeFiles.openHandles);
    EXPECT_EQ(0, g_fakeFiles.openSearches);
}

// An open file keeps its flags whatever comes between its two writes.
TEST_F(Drives, OpenFilesKeepTheirFlagsUntilTheConnectionEnds) {
    enum Between { NOTHING, SEEK_START, DELETE_HELD, DROP, TRUNCATE_FAILS };
    const std::string old = "old content 12345678";
    struct Row {
        uint32_t flags;
        Between between;
        std::string want;
        uint32_t second; // the second write's reply: 1 (written) or the error;
                         // the open's error when it fails
    } rows[] = {
        {0x241, NOTHING, "NEW!", 1},
        {0x200, NOTHING, old, 5}, // no write access: nothing truncated
        {0x441, SEEK_START, old + "NEW!", 1},
        {0x642, SEEK_START, "NEW!", 1},
        {0x002, SEEK_START, "!EW" + old.substr(3), 1},
        {0x002, DELETE_HELD, "NEW!" + old.substr(4), 1}, // another program holds it too
        {0x241, TRUNCATE_FAILS, old, 13},                // the disk refuses the new end
        {0x002, DROP, "NEW" + old.substr(3), 9},         // last: every slot is let go
    };
    uint32_t dir = rd32(one(2, P("T:\\")).body, 0);
    for (const Row& r : rows) {
        std::string name = "t:\\f" + std::to_string(&r - rows);
        std::u16string key(name.begin(), name.end());
        fakeAddFile(key, old);
        if (r.between == TRUNCATE_FAILS) g_fakeFiles.fail["setEnd"] = 112;
        Reply opened = one(11, P(name) + le32(r.flags) + le32(0));
        g_fakeFiles.fail.clear();
        if (opened.code != 111) {
            EXPECT_EQ(r.second, opened.status()) << name;
            EXPECT_EQ(r.want, g_fakeFiles.nodes[key].data) << name;
            continue;
        }
        uint32_t slot = rd32(opened.body, 0);
        one(14, le32(slot) + le32(3) + "NEW");
        if (r.between == SEEK_START) one(16, le32(slot) + le64(0) + le32(0));
        g_fakeFiles.nodes[key].heldElsewhere = r.between == DELETE_HELD;
        if (r.between == DELETE_HELD) one(15, P(name)); // refused: 13
        if (r.between == DROP) diIOChannelConnectionLost(io);
        EXPECT_EQ(le32(r.second), one(14, le32(slot) + le32(1) + "!").body) << name;
        EXPECT_EQ(r.want, g_fakeFiles.nodes[key].data) << name;
    }
    EXPECT_EQ(0, g_fakeFiles.openHandles);
    EXPECT_EQ(9u, one(3, le32(dir) + le32(1)).status());
}

TEST_F(Drives, ListDrivesStatAndSetTimes) {
    io->texts[0] = static_cast<DiChar*>(calloc(4, sizeof(DiChar)));
    io->texts[0][0] = 'h', io->texts[0][1] = 'v';
    EXPECT_EQ(le32(2) + "hv" + le32(0) + le32(0) + std::string("\x01\0\0\0\x01\0\0\0", 8) +
                  P("T:\\"),
              one(0, "").body);
    fakeAddFile(u"t:\\f", "x");
    g_fakeFiles.nodes[u"t:\\f"].attributes = 1;
    EXPECT_EQ(0u, one(17, P("T:\\f") + le64(1000) + le64(uint64_t(-5)) + le64(0)).status());
    Reply st = one(1, P("T:\\f") + le32(0));
    EXPECT_EQ(le64(uint64_t(-11644473600LL)) + le64(uint64_t(-5)) + le64(1000), st.body.substr(24));
    EXPECT_EQ(1u, g_fakeFiles.nodes[u"t:\\f"].attributes); // read-only restored
    EXPECT_EQ(22u, one(17, P("T:\\f") + le64(INT64_MAX) + le64(0) + le64(0)).status());
}

} // namespace
