// The command-line pass, options files on disk, the OS code and the
// language choice.
#include <gtest/gtest.h>

#include "core/ddapp.h"

#include <stdio.h>

#include <string>
#include <vector>

namespace {

std::wstring w(const DiChar* s) {
    return s ? std::wstring(ddW(s)) : L"<none>";
}

class CommandLine : public ::testing::Test {
  protected:
    void SetUp() override {
        memset(&app, 0, sizeof app);
        app.opt.startImmediately = 1;
    }
    void parse(std::vector<std::wstring> args) {
        std::vector<wchar_t*> argv;
        for (auto& a : args)
            argv.push_back(&a[0]);
        ddAppParseCommandLine(&app, static_cast<int>(argv.size()), argv.data());
    }
    DdApp app;
};

TEST_F(CommandLine, ValuesPairWithTheNextArgument) {
    parse({L"C:\\prog.exe", L"-url", L"http://h/", L"-nofork", L"-username", L"jo"});
    EXPECT_EQ(w(app.opt.programPath), L"C:\\prog.exe");
    EXPECT_EQ(w(app.url), L"http://h/");
    EXPECT_EQ(w(app.user), L"jo");
    EXPECT_EQ(app.noFork, 1u);
}

TEST_F(CommandLine, TheNextArgumentIsSkippedEvenWhenRefused) {
    // "-password -url": the password refuses "-url" (and asks for a
    // password); "-url" is skipped, so "http://h/" is an unknown name.
    parse({L"p", L"-password", L"-url", L"http://h/"});
    EXPECT_EQ(app.opt.setPassword, 1u);
    EXPECT_EQ(app.password, nullptr);
    EXPECT_EQ(app.url, nullptr);
    // An empty application name is refused; the empty text is skipped.
    parse({L"p", L"-application", L"", L"-nofork"});
    EXPECT_EQ(app.opt.objectName, nullptr);
    EXPECT_EQ(app.noFork, 1u);
    // A value that looks like an option is still the value.
    parse({L"p", L"-username", L"-login"});
    EXPECT_EQ(w(app.user), L"-login");
    EXPECT_EQ(app.login, 0u);
}

TEST_F(CommandLine, AnAcceptedFlagIsNeverPaired) {
    parse({L"p", L"-login", L"-secure", L"-url"});
    EXPECT_EQ(app.login, 1u);
    EXPECT_EQ(app.opt.secure, 1u);
    EXPECT_EQ(app.url, nullptr); // last argument, no value
}

TEST_F(CommandLine, UnknownWithValueSwallowsTheValue) {
    parse({L"p", L"-colour", L"-nofork", L"-login"});
    EXPECT_EQ(app.noFork, 0u);
    EXPECT_EQ(app.login, 1u);
}

class OptionsFile : public CommandLine {
  protected:
    std::wstring write(const std::string& bytes) {
        wchar_t dir[MAX_PATH], name[MAX_PATH];
        GetTempPathW(MAX_PATH, dir);
        GetTempFileNameW(dir, L"opt", 0, name);
        FILE* f = _wfopen(name, L"wb");
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
        files.push_back(name);
        return name;
    }
    void TearDown() override {
        for (auto& f : files)
            DeleteFileW(f.c_str());
    }
    std::vector<std::wstring> files;
};

TEST_F(OptionsFile, LinesApplyAndNestedFilesAreIgnored) {
    std::wstring inner = write("url=http://inner/\r\n");
    std::string outer = "url=http://a/?x=1\r\n\r\nusername jo\r\nnofork\r\n"
                        "file=" +
                        std::string(inner.begin(), inner.end()) +
                        "\r\n"
                        "port:8080   \r\nmystery value\r\n";
    std::wstring path = write(outer.c_str());
    parse({L"p", L"-file", path});
    EXPECT_EQ(w(app.url), L"http://a/?x=1");
    EXPECT_EQ(w(app.user), L"jo");
    EXPECT_EQ(app.noFork, 1u);
    EXPECT_EQ(app.opt.port, 8080u);
}

TEST_F(OptionsFile, AnUnknownArgumentNamesAFile) {
    std::wstring path = write("showwebtop\n");
    parse({L"p", path, L"-nofork"});
    EXPECT_EQ(app.opt.windowMode, 1u);
    EXPECT_EQ(app.noFork, 1u); // the file was accepted: -nofork is not its value
    parse({L"p", L"C:\\no\\such\\file.txt", L"-login"});
    EXPECT_EQ(app.login, 0u); // refused, so "-login" became its (ignored) value
}

TEST_F(OptionsFile, AFileNamingItselfDoesNotRecurse) {
    // Line "loop" in the file "-loop": an unknown name, which outside a
    // file would be read as the file "-loop" again.
    wchar_t cwd[MAX_PATH], dir[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, cwd);
    GetTempPathW(MAX_PATH, dir);
    SetCurrentDirectoryW(dir);
    std::string name = "loop" + std::to_string(GetCurrentProcessId());
    std::wstring wname(name.begin(), name.end());
    std::wstring self = std::wstring(dir) + L"-" + wname;
    FILE* f = _wfopen(self.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    fputs((name + "\nnofork\n").c_str(), f);
    fclose(f);
    files.push_back(self);
    parse({L"p", L"-" + wname});
    SetCurrentDirectoryW(cwd);
    EXPECT_EQ(app.noFork, 1u);
}

TEST_F(OptionsFile, LongLinesArriveInPieces) {
    std::string line = "url=http://x/" + std::string(3000, 'a') + "\n";
    std::wstring path = write(line.c_str());
    parse({L"p", L"-file", path});
    ASSERT_NE(app.url, nullptr);
    EXPECT_EQ(wcslen(ddW(app.url)), 2047u - 4u);
}

// A byte-order mark chooses the encoding: UTF-16LE ("Unicode") or UTF-8.
TEST_F(OptionsFile, AByteOrderMarkChoosesTheEncoding) {
    std::u16string text = u"username=Jos\u00e9\r\nnofork\r\nurl=http://h\u00f6st/\u4e2d\r\nport 99";
    std::string utf16 = "\xFF\xFE";
    for (char16_t c : text)
        utf16 += std::string{char(c), char(c >> 8)};
    for (const std::string& bytes :
         {utf16, std::string("\xEF\xBB\xBFusername=Jos\xC3\xA9\r\nnofork\r\nurl=http://h\xC3\xB6st/"
                             "\xE4\xB8\xAD\r\nport 99")}) {
        SetUp();
        parse({L"p", L"-file", write(bytes)});
        EXPECT_EQ(w(app.user), L"Jos\u00e9");
        EXPECT_EQ(app.noFork, 1u);
        EXPECT_EQ(w(app.url), L"http://h\u00f6st/\u4e2d");
        EXPECT_EQ(app.opt.port, 99u);
    }
    // Past the first MiB nothing is read.
    SetUp();
    parse({L"p", L"-file",
           write("\xEF\xBB\xBFnofork\n" + std::string(1 << 20, ' ') + "\nusername=late\n")});
    EXPECT_EQ(app.noFork, 1u);
    EXPECT_EQ(w(app.user), L"<none>");
}

TEST(OsCode, FromThePlatformVersionWord) {
    struct Case {
        bool nine;
        unsigned major, minor;
        uint16_t code;
    } cases[] = {
        {true, 3, 10, 512},  {true, 4, 0, 513},  {true, 4, 10, 514}, {true, 4, 90, 515},
        {true, 4, 20, 512},  {false, 5, 0, 518}, {false, 5, 1, 519}, {false, 5, 2, 520},
        {false, 6, 0, 521},  {false, 6, 1, 519}, {false, 5, 3, 518}, {false, 4, 0, 517},
        {false, 10, 0, 523},
    };
    for (const Case& c : cases) {
        DWORD v = c.major | (c.minor << 8) | (c.nine ? 0x80000000u : 0);
        EXPECT_EQ(ddAppOsCode(v), c.code) << c.major << "." << c.minor;
    }
}

TEST(PreferredLanguage, CaseSensitivePrefixesInListOrder) {
    struct Case {
        const wchar_t* value;
        LCID lcid;
    } cases[] = {
        {L"en", 0x409}, {L"english", 0x409}, {L"fr-FR", 0x40C}, {L"ja", 0x411},
        {L"ko", 0x412}, {L"zh_TW", 0x404},   {L"zh-tw", 0x404}, {L"zh-TW", 0x804},
        {L"zh", 0x804}, {L"EN", 0},          {L"de", 0},        {L"e", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ddAppLanguageLocale(c.value), c.lcid)
            << std::string(c.value, c.value + wcslen(c.value));
    EXPECT_EQ(ddAppLanguageLocale(nullptr), 0u);
}

} // namespace
