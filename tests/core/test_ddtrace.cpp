// The trace file's bytes, its viewer's pieces, and the temporary browser
// page.
#include <gtest/gtest.h>

#include "support/wintemp.h"

#include "core/ddapp.h"
#include "core/ddmessage.h"
#include "core/ddtrace.h"
#include "core/ditimer.h"

#include <stdio.h>

#include <string>
#include <vector>

namespace {

/* The trace file of this test process alone: parallel tests and clients
 * write KLV.TXT too. */
class PrivateTemp : public ::testing::Environment {
  public:
    void SetUp() override {
        wchar_t base[MAX_PATH];
        GetTempPathW(MAX_PATH, base);
        dir = std::wstring(base) + L"hvtrace" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(dir.c_str(), nullptr);
        SetEnvironmentVariableW(L"TMP", dir.c_str());
        SetEnvironmentVariableW(L"TEMP", dir.c_str());
    }
    void TearDown() override { removeTree(dir); }
    std::wstring dir;
};
::testing::Environment* const g_privateTemp = ::testing::AddGlobalTestEnvironment(new PrivateTemp);

std::string fileBytes(const wchar_t* path) {
    std::string out;
    FILE* f = _wfopen(path, L"rb");
    if (!f) return "<missing>";
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    fclose(f);
    return out;
}

TEST(TraceFile, IsKlvTxtInTheTemporaryFolderCreatedEmpty) {
    ddTraceLogOpen();
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    EXPECT_EQ(std::wstring(ddTraceLogPath()), std::wstring(dir) + L"KLV.TXT");
    EXPECT_NE(wcsstr(dir, L"hvtrace"), nullptr);
    ddTraceLogWrite(u"left over\r\n");
    ddTraceLogOpen();
    EXPECT_EQ(fileBytes(ddTraceLogPath()), "");
    ddTraceLogClose();
}

TEST(TraceFile, EverythingWrittenIsUtf8) {
    ddTraceLogOpen();
    ddTraceLogWrite(u"caf\u00e9 \u4e2d\r\n");
    ddTraceLogWrite(u"\U0001F600\r\n");
    EXPECT_EQ(fileBytes(ddTraceLogPath()), "caf\xC3\xA9 \xE4\xB8\xAD\r\n\xF0\x9F\x98\x80\r\n");
    ddTraceLogClose();
    ddTraceLogWrite(u"after close\r\n"); // not written: the path is gone
    ddTraceLogOpen();
    EXPECT_EQ(fileBytes(ddTraceLogPath()), "");
    ddTraceLogClose();
}

TEST(TraceFile, ViewerNeverSplitsACharacterAcrossPieces) {
    // Characters of 2, 3 and 4 bytes placed at every offset around the
    // 63-byte piece boundary.
    for (const char16_t* ch : {u"\u00e9", u"\u4e2d", u"\U0001F600"}) {
        for (int pad = 55; pad < 66; pad++) {
            ddTraceLogOpen();
            std::u16string text = std::u16string(pad, u'a') + ch + u"z" + ch + u"\r\n";
            ddTraceLogWrite(text.c_str());
            std::u16string seen;
            ddTraceLogShowTo(
                [](const DiChar* t, void* ctx) {
                    *static_cast<std::u16string*>(ctx) += t;
                    for (const DiChar* p = t; *p; p++)
                        EXPECT_NE(*p, 0xFFFD); // no character was cut
                },
                &seen);
            EXPECT_EQ(seen, text) << "pad " << pad;
            ddTraceLogClose();
        }
    }
}

TEST(TraceFile, NumberedLinesAreFormattedUtf8WithCrLf) {
    g_ddApp->instance = GetModuleHandleW(nullptr);
    ddTraceLogOpen();
    ddTraceLogPrintf(1, {u"tea", u"Ann"});
    ddTraceLogPrintf(2, {u"\u4e2d"});
    ddTraceLogPrintf(99, {u"no such message"}); // nothing written
    EXPECT_EQ(fileBytes(ddTraceLogPath()), "Ann likes tea\r\ncaf\xC3\xA9 \xE4\xB8\xAD\r\n");
    // A line takes at most 1024 bytes: it is cut at a character boundary,
    // and its CR LF is never what gets cut.
    std::string han;
    for (int i = 0; i < 340; i++)
        han += "\xE4\xB8\xAD";
    struct Case {
        std::u16string text;
        std::string line;
    } cases[] = {
        {std::u16string(1022, u'a') + u"\U0001F600", std::string(1022, 'a')},
        {std::u16string(1023, u'b'), std::string(1022, 'b')},
        {std::u16string(5000, u'c'), std::string(1022, 'c')},
        {std::u16string(340, u'\u4e2d') + u"ddd", han + "dd"}, // 1020 + 2 bytes fit
    };
    for (const Case& c : cases) {
        ddTraceLogOpen();
        ddTraceLogPrintf(3, {c.text.c_str()});
        EXPECT_EQ(fileBytes(ddTraceLogPath()), c.line + "\r\n") << c.text.size();
    }
    ddTraceLogClose();
}

TEST(Messages, MessageNIsStringNPlus500And24MayBeString10) {
    g_ddApp->instance = GetModuleHandleW(nullptr);
    wchar_t buf[64];
    EXPECT_GT(ddLoadMessage(1, buf, 64), 0);
    EXPECT_STREQ(buf, L"%2$s likes %1$s");
    g_ddApp->major4 = 1;
    ddLoadMessage(24, buf, 64);
    EXPECT_STREQ(buf, L"string ten");
    g_ddApp->major4 = 0;
    ddLoadMessage(24, buf, 64);
    EXPECT_STREQ(buf, L"string five hundred twenty-four");
    EXPECT_EQ(ddLoadMessage(77, buf, 64), 0);
    EXPECT_STREQ(buf, L"");
}

TEST(TempPage, EscapesMarkupAndRefusesLineBreaks) {
    struct Case {
        const wchar_t* url;
        bool ok;
        const char* page;
    } cases[] = {
        {L"http://h/a?b=1&c=2", true,
         "<TITLE> </TITLE>\r\n<META HTTP-EQUIV=\"Refresh\" "
         "CONTENT=\"0;URL=http://h/a?b=1&amp;c=2\">\r\n"},
        {L"http://h/\"><script>x</script>", true,
         "<TITLE> </TITLE>\r\n<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0;URL=http://h/&quot;&gt;"
         "&lt;script&gt;x&lt;/script&gt;\">\r\n"},
        {L"http://h/\u00e9", true,
         "<TITLE> </TITLE>\r\n<META HTTP-EQUIV=\"Refresh\" "
         "CONTENT=\"0;URL=http://h/\xC3\xA9\">\r\n"},
        {L"http://h/\r\nX: y", false, ""},
        {L"http://h/\n", false, ""},
    };
    for (const Case& c : cases) {
        std::string page;
        EXPECT_EQ(ddTempPageText(c.url, &page), c.ok);
        if (c.ok) {
            EXPECT_EQ(page, c.page);
        }
    }
}

std::vector<std::wstring> tempFiles(const wchar_t* pattern) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    std::vector<std::wstring> out;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((std::wstring(dir) + pattern).c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do
            out.push_back(std::wstring(dir) + fd.cFileName);
        while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    return out;
}

/* Makes the test helper the program that opens .htm files (Wine's shell
 * reads the classes root only), and puts the old association back. */
struct HtmlOpener {
    std::wstring old;
    HtmlOpener() {
        wchar_t buf[256];
        LONG size = sizeof buf;
        if (RegQueryValueW(HKEY_CLASSES_ROOT, L".htm", buf, &size) == ERROR_SUCCESS) old = buf;
        std::string exe = HV_HELPER_EXE;
        std::wstring path = L"Z:" + std::wstring(exe.begin(), exe.end());
        for (wchar_t& c : path)
            if (c == L'/') c = L'\\';
        set(L".htm", L"HvTestPage");
        set(L"HvTestPage\\shell\\open\\command", L"\"" + path + L"\" record \"%1\"");
    }
    ~HtmlOpener() {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, L"HvTestPage");
        if (old.empty())
            RegDeleteTreeW(HKEY_CLASSES_ROOT, L".htm");
        else
            set(L".htm", old);
    }
    static void set(const wchar_t* key, const std::wstring& value) {
        HKEY k;
        RegCreateKeyExW(HKEY_CLASSES_ROOT, key, 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr);
        RegSetValueExW(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(k);
    }
};

TEST(TempPage, OpensARedirectPageAndDeletesItWhenItsTimerRuns) {
    HtmlOpener opener;
    g_ddApp->mainWindow = nullptr;
    g_ddApp->win9x4 = 0;
    // A copy left by an earlier run would stand for this run's browser.
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    std::wstring seen = std::wstring(dir) + L"hvrecorded.txt";
    DeleteFileW(seen.c_str());
    DWORD opened = GetTickCount();
    ASSERT_EQ(ddOpenUrlInBrowser(L"http://h/?a=1&b=\"x\""), 0);
    std::vector<std::wstring> pages = tempFiles(L"QVL*.htm");
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_TRUE(tempFiles(L"QVL*.tmp").empty()); // the placeholder is gone

    // The browser got the page; the shell starts it asynchronously, and on
    // a fresh prefix that takes long: wait until its copy can be read,
    // answering messages meanwhile (a program being started may broadcast
    // to every window). The copy appears whole, under its name, while the
    // recorder still holds it open for a moment, and a reader is refused.
    std::string copy;
    DWORD start = GetTickCount();
    while ((copy = fileBytes(seen.c_str())) == "<missing>" && GetTickCount() - start < 240000) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&m);
    }
    EXPECT_EQ(copy, "<TITLE> </TITLE>\r\n<META HTTP-EQUIV=\"Refresh\" "
                    "CONTENT=\"0;URL=http://h/?a=1&amp;b=&quot;x&quot;\">\r\n");

    // 60 s after the opening its timer deletes it. Counted from the opening,
    // not from the end of the wait: a browser slow to start must not carry
    // the check past the deletion.
    diTimerDispatch(opened + 59000);
    EXPECT_EQ(tempFiles(L"QVL*.htm").size(), 1u);
    diTimerDispatch(GetTickCount() + 60000);
    EXPECT_TRUE(tempFiles(L"QVL*.htm").empty());
    EXPECT_EQ(diTimerHead(), nullptr);
    DeleteFileW(seen.c_str());
}

TEST(TempPage, RefusedUrlLeavesNoFileBehind) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    auto count = [&]() {
        WIN32_FIND_DATAW fd;
        int n = 0;
        HANDLE h = FindFirstFileW((std::wstring(dir) + L"QVL*").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do
                n++;
            while (FindNextFileW(h, &fd));
            FindClose(h);
        }
        return n;
    };
    int before = count();
    EXPECT_EQ(ddOpenUrlInBrowser(L"http://h/\r\n"), -1);
    EXPECT_EQ(count(), before);
}

} // namespace
