// The clipboard relay end to end: displays made by the factory, fed by the
// fake X-AIP server's clipboard scenarios over loopback, with the real
// clipboard thread. Server texts are read back by another thread of this
// program (as any other Windows program would: through delayed rendering)
// and by xclip on the X side; xclip's own text reaches the server; two
// servers relay through the client; a lost connection empties the
// clipboard at once.
#include <gtest/gtest.h>

#include "devices/ddclip.h"
#include "devices/dddevices.h"
#include "session/ddso.h"
#include "session/diprofile.h"
#include "support/host_command.h"
#include "support/peer_process.h"
#include "ui/ddgdi.h"
#include "xde/ddxclip.h"
#include "xde/ddxde.h"

#include <winspool.h>

#include <fstream>
#include <memory>
#include <sstream>

namespace {

LRESULT CALLBACK viewProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    // What the display's view window does with the bridge's requests.
    if (m == WM_RENDERFORMAT) {
        ddClipRequestRemote(reinterpret_cast<DiObject*>(GetWindowLongPtrW(h, GWLP_USERDATA)),
                            UINT(w));
        return 0;
    }
    return DefWindowProcW(h, m, w, l);
}

std::string utf8(const std::u16string& s) {
    std::wstring w(s.begin(), s.end());
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::u16string crlf(const std::u16string& s) {
    std::u16string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == u'\n' && (i == 0 || s[i - 1] != u'\r')) out += u'\r';
        out += s[i];
    }
    return out;
}

std::string cp1252(const std::u16string& s) {
    std::wstring w(s.begin(), s.end());
    int n = WideCharToMultiByte(1252, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(1252, 0, w.data(), int(w.size()), &out[0], n, nullptr, nullptr);
    return out;
}

// A text of n characters in lines of 70, from the given alphabet.
std::u16string sized(size_t n, const std::u16string& alphabet) {
    std::u16string s;
    s.reserve(n);
    for (size_t i = 0; i < n; i++)
        s += (i % 71 == 70) ? u'\n' : alphabet[(i * 7 + i / 71) % alphabet.size()];
    return s;
}

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// One display with its window, connected to one scenario of the server.
struct Session {
    HWND window = nullptr;
    DiChannel* ch = nullptr;
    Peer peer;
    std::string result;
    bool printSelection = false; // as "Print Session Clipboard" leaves it

    DiXDisplay* d() { return reinterpret_cast<DiXDisplay*>(ch); }

    bool start(const std::string& scenario) {
        window = CreateWindowExW(0, L"HvXClipTest", L"x clip", WS_POPUP, 0, 0, 64, 48, nullptr,
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
        ch = window ? diDECreateChannel(nullptr, DI_OBJ_XDE, 64, 48) : nullptr;
        if (!ch) return false;
        if (printSelection) reinterpret_cast<DdXDisplay*>(ch)->printOnArrival = 1;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&ch->hdr));
        ddGDIAttach(ch->hdr.gc, window, GetDC(window));
        if (!peer.reservePortFile()) return false;
        result = peer.portFile + ".result";
        if (!peer.start("xaip_peer.py serve " + scenario + " --result-file " + result,
                        " --lifetime 120"))
            return false;
        ch->open = 1;
        if (ddNetSocketOpen(ch->socket, 1, 1) != 0) return false;
        if (diNetConnect(ch->socket, u"127.0.0.1", uint16_t(peer.port), 0) != 0) return false;
        ddNetSelectEvents(ch->socket, DD_NET_READ | DD_NET_WRITE | DD_NET_CLOSE,
                          DD_NET_READ | DD_NET_CLOSE);
        hvPumpUntil([&] { return d()->sessionStarted != 0; }, 20000);
        return d()->sessionStarted != 0;
    }
    bool finished() {
        return GetFileAttributesA(("Z:" + result).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    // The server's first line, once it has written it.
    std::string verdict() {
        hvPumpUntil([&] { return finished(); });
        std::ifstream f("Z:" + result);
        std::string line;
        std::getline(f, line);
        return line;
    }
    void event(uint32_t type, uint32_t w1 = 0, uint32_t w2 = 0) {
        DiEvent ev{};
        ev.w[0] = type, ev.w[1] = w1, ev.w[2] = w2;
        ch->hdr.handler(&ch->hdr, &ev);
    }
    void close() {
        if (ch) diDEDestroyChannel(ch);
        ch = nullptr;
        if (window) DestroyWindow(window);
        window = nullptr;
    }
    ~Session() {
        close();
        if (!result.empty()) DeleteFileA(("Z:" + result).c_str());
    }
};

// Reads one format in a second Wine process (clip_reader, beside this
// program) while this thread pumps the messages the render needs.
struct Reader {
    UINT format;
    std::string bytes; // up to the terminator
    bool got = false;

    void run(const std::string& out) {
        char self[MAX_PATH];
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        std::string dir(self);
        dir.resize(dir.find_last_of("\\/") + 1);
        std::string cmd = "\"" + dir + "clip_reader.exe\" " + std::to_string(format) + " Z:" + out;
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &pi))
            return;
        std::string win = "Z:" + out;
        auto exists = [](const std::string& p) {
            return GetFileAttributesA(p.c_str()) != INVALID_FILE_ATTRIBUTES;
        };
        hvPumpUntil([&] { return exists(win) || exists(win + ".none"); });
        WaitForSingleObject(pi.hProcess, 10000);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        got = exists(win);
        bytes = slurp(win);
        DeleteFileA(win.c_str());
        DeleteFileA((win + ".none").c_str());
    }
};

std::string tempName(const char* what) {
    static unsigned serial;
    return "/tmp/hv_xclip_" + std::to_string(GetCurrentProcessId()) + "_" +
           std::to_string(GetTickCount()) + "_" + std::to_string(serial++) + what;
}

// Runs a shell command of the host and pumps until it has ended.
bool runHost(const std::string& command) {
    std::string mark = hvHostStart(command);
    if (mark.empty()) return false;
    hvPumpUntil([&] { return hvHostEnded(mark); });
    return DeleteFileA(mark.c_str()) != 0;
}

void writeText(const std::string& path, const std::u16string& text) {
    std::ofstream f("Z:" + path, std::ios::binary);
    std::string u = utf8(text);
    f.write(u.data(), std::streamsize(u.size()));
}

struct ClipEnv : ::testing::Environment {
    DdApp app{};
    void SetUp() override {
        if (!g_ddApp) g_ddApp = &app;
        ASSERT_TRUE(hvSocketSinkInit());
        WNDCLASSW wc{};
        wc.lpfnWndProc = viewProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"HvXClipTest";
        RegisterClassW(&wc);
        ddXDEInstallHooks();
        ddProfStoreSetPath(L"");
        ddProfStoreCreate();
        diSOSetLocalSetting(u"ClipboardTimeout", u"10");
        ASSERT_TRUE(ddClipStart());
    }
    void TearDown() override {
        ddClipStop();
        ddProfStoreDestroy();
    }
};
const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new ClipEnv);

// The text another program offers on the clipboard now, line ends as "\n".
std::u16string offeredText() {
    std::u16string out;
    if (!OpenClipboard(nullptr)) return out;
    if (HANDLE h = GetClipboardData(CF_UNICODETEXT)) {
        if (const char16_t* p = static_cast<const char16_t*>(GlobalLock(h))) {
            for (size_t i = 0, n = GlobalSize(h) / 2; i < n && p[i]; i++)
                if (p[i] != u'\r') out += p[i];
            GlobalUnlock(h);
        }
    }
    CloseClipboard();
    return out;
}

bool ownedAndOffered(UINT format) {
    return GetClipboardOwner() == ddClipOwnerWindow() && IsClipboardFormatAvailable(format);
}

struct ServerText {
    const char* format;
    const char* label;
    std::u16string text;
};
void PrintTo(const ServerText& t, std::ostream* os) {
    *os << t.format << " " << t.label;
}

std::vector<ServerText> serverTexts() {
    const std::u16string latin = u"caf\u00e9 \u20ac5 na\u00efve \u00df\u00e6\u00fe\n";
    const std::u16string cjk = u"\u4e2d\u6587 \u20ac \u00e9\n\u65e5\u672c\u8a9e";
    std::vector<ServerText> v;
    for (const char* f : {"STRING", "UNICODE"}) {
        const std::u16string& alphabet = f[0] == 'S' ? latin : cjk;
        v.push_back({f, "one", u"x"});
        v.push_back({f, "k16", sized(16384, alphabet)});
        v.push_back({f, "k16plus1", sized(16385, alphabet)});
        v.push_back({f, "m4", sized(4u << 20, alphabet)});
        v.push_back({f, "mixed", alphabet + u"\nend"});
    }
    return v;
}

class ServerTextTest : public ::testing::TestWithParam<ServerText> {};

TEST_P(ServerTextTest, ReachesWindowsProgramsAndXClients) {
    const ServerText& t = GetParam();
    const bool unicode = t.format[0] == 'U';
    const UINT format = unicode ? CF_UNICODETEXT : CF_TEXT;
    std::string file = tempName(".txt");
    writeText(file, t.text);
    Session s;
    ASSERT_TRUE(s.start(std::string("clip-serve --format ") + t.format + " --text-file " + file));
    hvPumpUntil([&] { return ownedAndOffered(format); }, 20000);
    ASSERT_TRUE(ownedAndOffered(format));

    Reader r;
    r.format = format;
    r.run(tempName(".read"));
    ASSERT_TRUE(r.got);
    if (unicode) {
        std::u16string want = crlf(t.text);
        EXPECT_EQ(r.bytes.size(), want.size() * 2);
        EXPECT_TRUE(r.bytes ==
                    std::string(reinterpret_cast<const char*>(want.data()), want.size() * 2));
    } else {
        std::string want = cp1252(crlf(t.text));
        EXPECT_EQ(r.bytes.size(), want.size());
        EXPECT_TRUE(r.bytes == want);
    }

    // The X side reads the same text through Wine's selection.
    std::string out = tempName(".out");
    ASSERT_TRUE(runHost("xclip -o -selection clipboard > " + out + " 2>/dev/null"));
    std::string got = slurp("Z:" + out);
    DeleteFileA(("Z:" + out).c_str());
    std::string want = utf8(t.text);
    EXPECT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want) << got.substr(0, 40);

    s.close();
    EXPECT_EQ(s.verdict(), "ok");
    DeleteFileA(("Z:" + file).c_str());
}

INSTANTIATE_TEST_SUITE_P(Texts, ServerTextTest, ::testing::ValuesIn(serverTexts()),
                         [](const ::testing::TestParamInfo<ServerText>& i) {
                             return std::string(i.param.format) + "_" + i.param.label;
                         });

struct LocalText {
    const char* format;
    const char* label;
    std::u16string text;
};
void PrintTo(const LocalText& t, std::ostream* os) {
    *os << t.format << " " << t.label;
}

class LocalTextTest : public ::testing::TestWithParam<LocalText> {};

TEST_P(LocalTextTest, XClipTextReachesTheServerOnFocusIn) {
    const LocalText& t = GetParam();
    std::string file = tempName(".txt");
    writeText(file, t.text);
    Session s;
    ASSERT_TRUE(s.start(std::string("clip-local --format ") + t.format + " --text-file " + file));
    ASSERT_TRUE(runHost("xclip -i -selection clipboard < " + file + " >/dev/null 2>&1"));
    // The X selection reaches the Windows clipboard a moment later: until
    // then it still offers the text of the case before.
    hvPumpUntil([&] { return ddClipIsForeignOwner() && offeredText() == t.text; }, 20000);
    ASSERT_TRUE(ddClipIsForeignOwner());
    ASSERT_TRUE(offeredText() == t.text);
    s.event(12); // focus in: the local clipboard is announced
    EXPECT_EQ(s.verdict(), "ok");
    DeleteFileA(("Z:" + file).c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LocalTextTest,
    ::testing::Values(LocalText{"STRING", "latin", u"caf\u00e9 \u20ac5\nna\u00efve"},
                      LocalText{"UNICODE", "cjk", u"\u4e2d\u6587 \u20ac\n\u65e5\u672c"},
                      LocalText{"UNICODE", "k16plus1", sized(16385, u"ab\u00e9\u4e2d")},
                      LocalText{"STRING", "m4", sized(4u << 20, u"abcdef\u00e9")}),
    [](const ::testing::TestParamInfo<LocalText>& i) {
        return std::string(i.param.format) + "_" + i.param.label;
    });

TEST(ClipRelayWine, TwoServersRelayThroughTheClientAndTheThirdHearsNothing) {
    std::string file = tempName(".txt");
    const std::u16string text = sized(40000, u"relay \u00e9\u20ac");
    writeText(file, text);
    const std::string common = " --flags2 4 --text-file " + file;
    Session a, b, c;
    ASSERT_TRUE(a.start("clip-owner --name srvA --block A --peer-block B" + common));
    ASSERT_TRUE(b.start("clip-asker --name srvB --block B --peer-block A" + common));
    ASSERT_TRUE(c.start("clip-quiet --name srvA --block C" + common));
    ASSERT_TRUE(a.d()->flags & DI_XFLAG_CLIP_EX);
    a.event(3, 'A', 'a'); // the owner's server announces at its first key
    EXPECT_EQ(b.verdict(), "ok");
    c.close();
    a.close();
    EXPECT_EQ(a.verdict(), "ok");
    EXPECT_EQ(c.verdict(), "ok");
    DeleteFileA(("Z:" + file).c_str());
}

// Formats naming local files never reach the desktop, whatever their case;
// the server's other formats are offered as ever.
TEST(ClipRelayWine, FormatsNamingLocalFilesAreNotOffered) {
    const std::vector<std::u16string> names = {
        u"STRING",   u"CF_HDROP",           u"FileNameW",
        u"filename", u"Shell IDList Array", u"FileGroupDescriptorW",
        u"x-custom"};
    std::vector<const DiChar*> ptrs;
    std::vector<uint32_t> ids, lengths;
    for (const std::u16string& n : names) {
        ptrs.push_back(n.c_str());
        ids.push_back(uint32_t(ids.size() + 1));
        lengths.push_back(uint32_t(n.size()));
    }
    int owner = 0;
    ASSERT_TRUE(ddClipAnnounceRemote(&owner, nullptr, ids.data(), ptrs.data(), lengths.data(),
                                     uint32_t(names.size()), 0));
    EXPECT_TRUE(IsClipboardFormatAvailable(CF_TEXT));
    EXPECT_TRUE(IsClipboardFormatAvailable(RegisterClipboardFormatW(L"x-custom")));
    EXPECT_FALSE(IsClipboardFormatAvailable(CF_HDROP));
    for (const wchar_t* f :
         {L"FileNameW", L"FileName", L"Shell IDList Array", L"FileGroupDescriptorW"})
        EXPECT_FALSE(IsClipboardFormatAvailable(RegisterClipboardFormatW(f))) << f;
    ddClipReleaseOwnership(&owner);
}

TEST(ClipRelayWine, LostConnectionEmptiesTheClipboardAtOnce) {
    Session s;
    ASSERT_TRUE(s.start("clip-drop"));
    hvPumpUntil([&] { return ownedAndOffered(CF_TEXT); }, 20000);
    ASSERT_TRUE(ownedAndOffered(CF_TEXT));
    s.event(3, 'A', 'a'); // the server then drops the connection
    hvPumpUntil([&] { return s.d()->ch.stopReading != 0; }, 20000);
    ASSERT_NE(s.d()->ch.stopReading, 0u);
    // No wait for a render timeout: nothing is offered any more.
    EXPECT_FALSE(IsClipboardFormatAvailable(CF_TEXT));
    EXPECT_EQ(CountClipboardFormats(), 0);
}

// The server's selection printed on the default printer instead of being
// copied: tests/devices/print-local.sh names the printer and reads the page
// back. The clipboard keeps what it held.
class ClipPrint : public ::testing::TestWithParam<const char*> {};

TEST_P(ClipPrint, SessionSelectionPrintsItsLinesAndLeavesTheClipboard) {
    wchar_t printer[128] = {};
    if (!GetEnvironmentVariableW(L"HV_TEST_PRINTER", printer, 128))
        GTEST_SKIP() << "no test printer";
    DWORD needed = 0, count = 0;
    EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, nullptr, 0, &needed, &count);
    ASSERT_TRUE(SetDefaultPrinterW(printer));
    const std::u16string local = u"local text";
    ASSERT_TRUE(ddClipPutText(g_ddApp->mainWindow, local.data(), uint32_t(local.size())));

    std::string file = tempName(".txt");
    // LONG: more lines than a page holds, each of which must be printed.
    const bool lng = std::string(GetParam()) == "LONG";
    std::u16string text =
        u"Printed from the session\nsecond line \u00e9 \u20ac\n\nafter an empty line";
    if (lng) {
        text.clear();
        for (int i = 1; i <= 150; i++)
            text += u"line " + std::u16string(1, char16_t(u'0' + i / 100)) +
                    char16_t(u'0' + i / 10 % 10) + char16_t(u'0' + i % 10) + u"\n";
    }
    writeText(file, text);
    Session s;
    s.printSelection = true;
    ASSERT_TRUE(s.start(std::string("clip-serve --format ") + (lng ? "STRING" : GetParam()) +
                        " --text-file " + file));
    DdXDisplay* x = reinterpret_cast<DdXDisplay*>(s.ch);
    hvPumpUntil([&] { return x->printOnArrival == 0; }, 30000);
    EXPECT_EQ(x->printOnArrival, 0u);
    EXPECT_EQ(ddClipRequestByFormat(&s.ch->hdr, CF_DIB), -1); // never announced
    EXPECT_EQ(GetClipboardOwner(), g_ddApp->mainWindow);
    std::u16string still;
    EXPECT_TRUE(ddClipGetText(g_ddApp->mainWindow, &still));
    EXPECT_TRUE(still == local);
    s.close();
    EXPECT_EQ(s.verdict(), "ok");
    DeleteFileA(("Z:" + file).c_str());
}

INSTANTIATE_TEST_SUITE_P(Formats, ClipPrint, ::testing::Values("STRING", "UNICODE", "LONG"),
                         [](const ::testing::TestParamInfo<const char*>& i) {
                             return std::string(i.param);
                         });

} // namespace
