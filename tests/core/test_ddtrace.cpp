// The trace file's bytes, its viewer's pieces, and the temporary browser
// page.
#include <gtest/gtest.h>

#include "core/ddapp.h"
#include "core/ddmessage.h"
#include "core/ddtrace.h"

#include <stdio.h>

#include <string>

namespace {

/* The trace file of this test process alone: parallel tests and clients
 * write KLV.TXT too. */
class PrivateTemp : public ::testing::Environment {
  public:
    void SetUp() override {
        wchar_t base[MAX_PATH];
        GetTempPathW(MAX_PATH, base);
        std::wstring dir = std::wstring(base) + L"hvtrace" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(dir.c_str(), nullptr);
        SetEnvironmentVariableW(L"TMP", dir.c_str());
        SetEnvironmentVariableW(L"TEMP", dir.c_str());
    }
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
