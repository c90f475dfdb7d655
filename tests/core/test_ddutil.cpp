#include <gtest/gtest.h>

#include <string>

#include "core/ddutil.h"
#include "support/wintemp.h"

namespace {

std::wstring tempPath(const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + L"hv" + std::to_wstring(GetCurrentProcessId()) + name;
}

void writeBytes(const std::wstring& path, const std::string& bytes) {
    FILE* f = ddFileOpen(path.c_str(), L"wb");
    ASSERT_NE(nullptr, f);
    EXPECT_EQ(bytes.size(), fwrite(bytes.data(), 1, bytes.size(), f));
    ddFileClose(f);
}

TEST(FileReadLine, LongLinesComeInPiecesAndTheEndIsReportedOnce) {
    std::wstring path = tempPath(L"lines.txt");
    writeBytes(path, "abcdefgh\nxy\r\nlast");
    FILE* f = ddFileOpen(path.c_str(), L"r");
    ASSERT_NE(nullptr, f);
    const wchar_t* expected[] = {L"abc", L"def", L"gh\n", L"xy\n", L"las", L"t"};
    wchar_t buf[4];
    for (const wchar_t* e : expected) {
        ASSERT_EQ(buf, ddFileReadLine(buf, 4, f));
        EXPECT_STREQ(e, buf);
    }
    EXPECT_EQ(nullptr, ddFileReadLine(buf, 4, f));
    EXPECT_EQ(nullptr, ddFileReadLine(buf, 4, f));
    ddFileClose(f);
    EXPECT_EQ(0, ddFileDelete(path.c_str()));
}

TEST(FileReadLine, SizeOneGivesAnEmptyTextAndBadArgumentsGiveNone) {
    std::wstring path = tempPath(L"one.txt");
    writeBytes(path, "q\xC3\xA9\n");
    FILE* f = ddFileOpen(path.c_str(), L"r");
    ASSERT_NE(nullptr, f);
    wchar_t buf[4] = {L'x', L'x'};
    EXPECT_EQ(buf, ddFileReadLine(buf, 1, f));
    EXPECT_STREQ(L"", buf);
    EXPECT_EQ(nullptr, ddFileReadLine(buf, 0, f));
    EXPECT_EQ(nullptr, ddFileReadLine(buf, 4, nullptr));
    // Text mode widens each byte: a two-byte UTF-8 letter reads as two.
    ASSERT_EQ(buf, ddFileReadLine(buf, 4, f));
    EXPECT_STREQ(L"q\u00c3\u00a9", buf);
    ASSERT_EQ(buf, ddFileReadLine(buf, 4, f));
    EXPECT_STREQ(L"\n", buf);
    ddFileClose(f);
    ddFileDelete(path.c_str());
}

TEST(FileStream, ExistenceAndDeletion) {
    std::wstring path = tempPath(L"stream.bin");
    FILE* f = ddFileOpen(path.c_str(), L"w+b");
    ASSERT_NE(nullptr, f);
    EXPECT_TRUE(ddFileExists(path.c_str()));
    EXPECT_EQ(1u, fwrite("A", 1, 1, f));
    ddFileClose(f);
    EXPECT_EQ(0, ddFileDelete(path.c_str()));
    EXPECT_FALSE(ddFileExists(path.c_str()));
    EXPECT_EQ(nullptr, ddFileOpen(path.c_str(), L"rb"));
    ddFileClose(nullptr);
}

// A save removes the temporaries of its file that processes which ended
// left (a kill during a save), and no other file: not one a running
// process may be writing, nor another file's.
TEST(FileReplace, TemporariesOfEndedProcessesGoAtTheNextSave) {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring dir = std::wstring(base) + L"hvrepl" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir.c_str(), nullptr);
    std::wstring path = dir + L"\\profile.xml";
    HeldProcess live, ended;
    ASSERT_NE(live.Id(), 0u);
    ASSERT_NE(ended.Id(), 0u);
    const std::wstring liveId = std::to_wstring(live.Id()), endedId = std::to_wstring(ended.Id());
    struct Row {
        std::wstring name;
        bool kept;
    } rows[] = {
        {L"profile.xml." + endedId + L".new", false},
        {L"profile.xml." + liveId + L".new", true},
        {L"profile.xml." + endedId + L".new.x", true},
        {L"profile.xml.1x.new", true},
        {L"profile.xml.bad", true},
        {L"hostsvisited." + endedId + L".new", true},
    };
    ended.End();
    for (const Row& r : rows)
        ASSERT_TRUE(writeFileAt(dir + L"\\" + r.name, "secret"));
    ASSERT_TRUE(ddFileReplaceDurably(path.c_str(), "new"));
    for (const Row& r : rows)
        EXPECT_EQ(ddFileExists((dir + L"\\" + r.name).c_str()), r.kept) << r.name.c_str();
    // The id was given again after the writer ended: the running process
    // started after the temporary was last written.
    std::wstring reused = dir + L"\\profile.xml." + liveId + L".new";
    ASSERT_TRUE(writeFileAt(reused, "secret", kLongAgo));
    ASSERT_TRUE(ddFileReplaceDurably(path.c_str(), "newer"));
    EXPECT_FALSE(ddFileExists(reused.c_str()));
    EXPECT_EQ(readFileBytes(path), "newer");
    removeTree(dir);
}

} // namespace
