// The bridge's terminal text and its handle forms on the real clipboard:
// copy in both text forms, paste through the worker to the view that asked,
// palettes and metafile pictures made from server bytes and read back, and
// the formats listed for servers.
#include <gtest/gtest.h>

#include "devices/ddclip.h"
#include "devices/dddevices.h"
#include "devices/diclip.h"
#include "support/peer_process.h"

#include <stdlib.h>

#include <string>
#include <vector>

namespace {

LRESULT CALLBACK viewProc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_COMMAND && LOWORD(wp) == kDdClipPasteCommand)
        SetWindowLongPtrW(h, GWLP_USERDATA, GetWindowLongPtrW(h, GWLP_USERDATA) + 1);
    return DefWindowProcW(h, m, wp, lp);
}

// A terminal view: counts the paste commands it receives.
HWND makeView() {
    static bool registered;
    if (!registered) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = viewProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"HvClipTermView";
        registered = RegisterClassW(&wc) != 0;
    }
    return CreateWindowExW(0, L"HvClipTermView", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}
LONG_PTR pastes(HWND view) {
    return GetWindowLongPtrW(view, GWLP_USERDATA);
}

std::string clipBytes(UINT format) {
    std::string out;
    if (!OpenClipboard(nullptr)) return out;
    if (HANDLE h = GetClipboardData(format)) {
        const char* p = static_cast<const char*>(GlobalLock(h));
        if (p) out.assign(p, GlobalSize(h));
        GlobalUnlock(h);
    }
    CloseClipboard();
    return out;
}

std::string u16(const std::u16string& s) {
    return std::string(reinterpret_cast<const char*>(s.data()), s.size() * 2);
}

struct ClipTerm : ::testing::Test {
    HWND view = nullptr;
    void SetUp() override {
        ASSERT_TRUE(ddClipStart());
        view = makeView();
        ASSERT_NE(view, nullptr);
    }
    void TearDown() override {
        DestroyWindow(view);
        ddClipStop();
    }
};

TEST_F(ClipTerm, CopyPutsBothTextFormsInTheSystemCodePage) {
    ASSERT_EQ(GetACP(), 1252u); // LANG is pinned for the test run
    const std::u16string text = u"\u20ac \u2500 caf\u00e9\nend";
    ASSERT_TRUE(ddClipPutText(view, text.data(), uint32_t(text.size())));
    std::string unicode = clipBytes(CF_UNICODETEXT);
    EXPECT_EQ(unicode.substr(0, 2 * 15),
              u16(u"\u20ac \u2500 caf\u00e9\r\nend") + std::string(2, 0));
    // The euro is 0x80 in the code page; U+2500 has no 8-bit form and is
    // replaced, never a zero that ends the text.
    std::string ansi = clipBytes(CF_TEXT);
    ASSERT_GE(ansi.size(), 14u);
    EXPECT_EQ(ansi.substr(0, 2), "\x80 ");
    EXPECT_NE(ansi[2], '\0');
    EXPECT_EQ(ansi.substr(3, 11), std::string(" caf\xe9\r\nend\0", 11));
    EXPECT_TRUE(ddClipHasText(view));
}

TEST_F(ClipTerm, PasteGoesToTheViewThatAskedAndIsBounded) {
    struct Row {
        const char* label;
        std::u16string clip, want;
    } rows[] = {
        {"line ends", u"a\r\nb\nc", u"a\nb\nc"},
        {"long", std::u16string(40000, u'x'), std::u16string(32512, u'x')},
    };
    HWND other = makeView();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.label);
        ASSERT_TRUE(ddClipPutText(view, r.clip.data(), uint32_t(r.clip.size())));
        LONG_PTR before = pastes(view), otherBefore = pastes(other);
        // Paste twice in one view and once in another: each view gets its
        // own text once; nothing is handed twice.
        ASSERT_TRUE(ddClipFetchTextAsync(view));
        ASSERT_TRUE(ddClipFetchTextAsync(view));
        ASSERT_TRUE(ddClipFetchTextAsync(other));
        hvPumpUntil([&] { return pastes(view) >= before + 2 && pastes(other) > otherBefore; });
        std::u16string got, again, theirs;
        EXPECT_TRUE(ddClipTakeText(view, &got));
        EXPECT_TRUE(got == r.want) << got.size();
        EXPECT_FALSE(ddClipTakeText(view, &again));
        EXPECT_TRUE(ddClipTakeText(other, &theirs));
        EXPECT_TRUE(theirs == r.want);
    }
    DestroyWindow(other);
}

// Another program's clipboard text, rendered slowly when asked.
volatile LONG g_renderAsked, g_rendered;
LRESULT CALLBACK slowOwnerProc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
    if (m != WM_RENDERFORMAT) return DefWindowProcW(h, m, wp, lp);
    InterlockedExchange(&g_renderAsked, 1);
    Sleep(700);
    SetClipboardData(CF_UNICODETEXT, GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 4));
    InterlockedExchange(&g_rendered, 1);
    return 0;
}
DWORD WINAPI slowOwner(void* window) {
    HWND h =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    SetWindowLongPtrW(h, GWLP_WNDPROC, LONG_PTR(slowOwnerProc));
    if (OpenClipboard(h)) {
        EmptyClipboard();
        SetClipboardData(CF_UNICODETEXT, nullptr);
        CloseClipboard();
    }
    *static_cast<HWND*>(window) = h;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    return 0;
}

// The clipboard's stop waits for a paste worker blocked behind that program.
TEST_F(ClipTerm, StopWaitsForAPasteBehindASlowProgram) {
    HWND owner = nullptr;
    HANDLE thread = CreateThread(nullptr, 0, slowOwner, &owner, 0, nullptr);
    hvPumpUntil([&] { return owner != nullptr; });
    ASSERT_TRUE(ddClipFetchTextAsync(view));
    hvPumpUntil([] { return g_renderAsked != 0; });
    ddClipStop();
    EXPECT_EQ(g_rendered, 1);
    PostMessageW(owner, WM_QUIT, 0, 0);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
}

std::string metafileBits() {
    HDC dc = CreateMetaFileW(nullptr);
    MoveToEx(dc, 1, 2, nullptr);
    LineTo(dc, 30, 40);
    Rectangle(dc, 5, 5, 20, 25);
    HMETAFILE mf = CloseMetaFile(dc);
    UINT n = GetMetaFileBitsEx(mf, 0, nullptr);
    std::string bits(n, '\0');
    GetMetaFileBitsEx(mf, n, &bits[0]);
    DeleteMetaFile(mf);
    return bits;
}

TEST_F(ClipTerm, PalettesAndMetafilePicturesRoundTripAndBadOnesAreRefused) {
    const std::string picture = std::string("\x08\0\0\0\x64\0\0\0\xc8\0\0\0", 12) + metafileBits();
    std::string cut = picture;
    cut[12 + 18] = 2; // the first record claims 2 words
    const std::string palette("\x00\x03\x02\x00\x10\x20\x30\x00\xf0\xe0\xd0\x00", 12);
    struct Row {
        const char* label;
        UINT format;
        std::string server;
        bool made;
        std::string back; // what reading it back gives
    } rows[] = {
        {"metafile picture", CF_METAFILEPICT, picture, true, ""},
        {"metafile with a bad record", CF_METAFILEPICT, cut, false, ""},
        {"metafile header only", CF_METAFILEPICT, picture.substr(0, 29), false, ""},
        {"palette", CF_PALETTE, palette, true, palette},
        {"palette without entries", CF_PALETTE, palette.substr(0, 7), false, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.label);
        HANDLE h = ddClipToLocal(r.format, reinterpret_cast<const uint8_t*>(r.server.data()),
                                 uint32_t(r.server.size()));
        ASSERT_EQ(h != nullptr, r.made);
        if (!h) continue;
        // Through the clipboard, as another program would find it.
        ASSERT_TRUE(OpenClipboard(view));
        EmptyClipboard();
        ASSERT_NE(SetClipboardData(r.format, h), nullptr);
        CloseClipboard();
        ASSERT_TRUE(OpenClipboard(view));
        uint8_t* data = nullptr;
        uint32_t length = 0;
        EXPECT_TRUE(ddClipFromLocal(r.format, GetClipboardData(r.format), &data, &length));
        CloseClipboard();
        std::string back(reinterpret_cast<char*>(data), length);
        free(data);
        if (r.format == CF_PALETTE) {
            EXPECT_EQ(back, r.back);
            continue;
        }
        // A metafile comes back replayed: the picture's 12 bytes, bits that
        // hold the drawing's records, and four zero bytes.
        DiClipMetafile m;
        ASSERT_TRUE(back.size() > 16 && back.compare(0, 12, picture, 0, 12) == 0);
        EXPECT_EQ(back.substr(back.size() - 4), std::string(4, '\0'));
        const std::string line("\x05\0\0\0\x13\x02\x28\0\x1e\0", 10); // LineTo 30, 40
        EXPECT_NE(back.find(line), std::string::npos);
        EXPECT_TRUE(diClipMetafileFromServer(reinterpret_cast<const uint8_t*>(back.data()),
                                             back.size() - 4, &m));
    }
}

TEST_F(ClipTerm, ListedFormatsLeaveOutBitmapsAndEnhancedMetafiles) {
    ASSERT_TRUE(OpenClipboard(view));
    EmptyClipboard();
    HDC screen = GetDC(nullptr);
    SetClipboardData(CF_BITMAP, CreateCompatibleBitmap(screen, 4, 4));
    ReleaseDC(nullptr, screen);
    SetClipboardData(CF_ENHMETAFILE,
                     CloseEnhMetaFile(CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr)));
    HGLOBAL t = GlobalAlloc(GMEM_MOVEABLE, 2);
    static_cast<char*>(GlobalLock(t))[0] = 'x';
    GlobalUnlock(t);
    SetClipboardData(CF_TEXT, t);
    CloseClipboard();
    uint8_t* list = nullptr;
    uint32_t length = 0;
    uint32_t count = ddClipListLocalFormats(&list, &length);
    std::string names;
    for (uint32_t at = 0, i = 0; i < count && at + 2 <= length; i++) {
        uint32_t n = list[at] | list[at + 1] << 8;
        names += std::string(reinterpret_cast<char*>(list) + at + 2, n) + ";";
        at += 2 + n;
    }
    free(list);
    EXPECT_NE(names.find("STRING;"), std::string::npos) << names;
    EXPECT_EQ(names.find("CF_BITMAP;"), std::string::npos) << names;
    EXPECT_EQ(names.find("CF_ENHMETAFILE;"), std::string::npos) << names;
}

} // namespace
