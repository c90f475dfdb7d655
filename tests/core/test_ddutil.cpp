#include <gtest/gtest.h>

#include <string>

#include "core/ddutil.h"

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

} // namespace
