// The terminal engine's Windows drawing operations on a real device
// context (soft-font strips), and its window's paste through the real
// clipboard.
#include <gtest/gtest.h>

#include "devices/ddclip.h"
#include "support/mem_profile_store.h"
#include "support/peer_process.h"
#include "tde/ddtde.h"
#include "ui/ddgdi.h"

#include <map>
#include <stdlib.h>
#include <string>

namespace {

struct MemoryDC {
    HDC dc = CreateCompatibleDC(nullptr);
    uint32_t* px = nullptr;
    HBITMAP bmp;
    DdGC* gc = ddGDICreateGC();
    MemoryDC() {
        BITMAPINFO bi{};
        bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 64, -32, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&px), nullptr, 0);
        SelectObject(dc, bmp);
        PatBlt(dc, 0, 0, 64, 32, BLACKNESS);
        ddGDIAttach(gc, nullptr, dc);
    }
    ~MemoryDC() {
        ddGDIDetach(gc);
        ddGDIFreeGC(gc);
        DeleteDC(dc);
        DeleteObject(bmp);
    }
    uint32_t at(int x, int y) {
        GdiFlush();
        return px[y * 64 + x] & 0xFFFFFF; // 0x00RRGGBB
    }
};

void define(void* strip, uint32_t code, uint8_t row, int height) {
    std::vector<uint8_t> rows(size_t(height), row);
    uint32_t stride = 0;
    uint8_t* bits = diTDGlyphRowsToBits(8, height, rows.data(), &stride);
    g_ddTDOps.putGlyph(strip, 8, 16, code, 8, height, bits);
    free(bits);
}

TEST(DdTDStrips, ARedefinedGlyphReplacesTheOldOneAndHalvesCopyTheirHalf) {
    MemoryDC m;
    void* strip = g_ddTDOps.createStrip(m.gc, 256 * 8, 16);
    ASSERT_NE(strip, nullptr);
    define(strip, 65, 0x01, 16); // leftmost pixel of every row
    define(strip, 65, 0x80, 16); // the same code again: rightmost pixel only
    define(strip, 66, 0xFF, 8);  // 8 rows stretched over the 16 of the cell
    const uint32_t red = 0x0000FF, white = 0xFFFFFF;
    g_ddTDOps.copyGlyph(m.gc, strip, 8, 16, 65, 0, 0, 0, red, white);
    g_ddTDOps.copyGlyph(m.gc, strip, 8, 16, 66, 16, 0, DI_TD_UPPER_HALF, red, white);
    g_ddTDOps.copyGlyph(m.gc, strip, 8, 16, 66, 32, 0, DI_TD_LOWER_HALF, red, white);
    struct Px {
        int x, y;
        uint32_t want;
    };
    const Px table[] = {
        {0, 0, 0xFFFFFF},  {0, 15, 0xFFFFFF}, {7, 0, 0xFF0000}, {7, 15, 0xFF0000}, {3, 8, 0xFFFFFF},
        {16, 0, 0xFF0000}, {23, 7, 0xFF0000}, {16, 8, 0},       {32, 0, 0xFF0000}, {32, 8, 0},
    };
    for (const Px& p : table)
        EXPECT_EQ(m.at(p.x, p.y), p.want) << p.x << "," << p.y;
    g_ddTDOps.freeStrip(strip);
}

// A terminal in a window of its own and without a connection: what it
// would send stays in its output buffer. The window hands its commands to
// the terminal's handler, as the view does.
std::map<HWND, DiChannel*> g_terms;
int g_commands;

LRESULT CALLBACK termProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_COMMAND) {
        g_commands++;
        auto it = g_terms.find(hwnd);
        DiEvent ev{};
        ev.w[0] = DI_EV_COMMAND;
        ev.w[1] = LOWORD(wp);
        if (it != g_terms.end()) TerminalEngineEvent(&it->second->hdr, &ev);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

struct Term {
    HWND hwnd;
    DdGC* gc = ddGDICreateGC();
    DiChannel* ch;
    Term() {
        static ATOM cls = [] {
            WNDCLASSW wc{};
            wc.lpfnWndProc = termProc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = L"HvTermTest";
            return RegisterClassW(&wc);
        }();
        (void)cls;
        hwnd = CreateWindowW(L"HvTermTest", L"", WS_OVERLAPPED, 0, 0, 200, 100, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
        ddGDIAttach(gc, hwnd, GetDC(hwnd));
        ch = ddTDECreate(nullptr, 640, 400, gc, nullptr);
        g_terms[hwnd] = ch;
        diTDCreate(dt(), 5, 20, 12, 16, 0, u"", 10, 0);
    }
    ~Term() {
        if (ch) destroy();
        DestroyWindow(hwnd);
        ddGDIFreeGC(gc);
    }
    DiTDisplay* dt() { return reinterpret_cast<DiTDisplay*>(ch); }
    void destroy() {
        ddTDEDestroy(ch);
        ch = nullptr;
        g_terms.erase(hwnd);
    }
    std::string sent() {
        return ch ? std::string(reinterpret_cast<char*>(ch->out.data), ch->out.used) : "";
    }
};

// Message 49 with an ASCII text.
std::string pasteMessage(const std::string& text) {
    size_t n = text.size();
    std::string m{char(49), char(2 + 2 * n), 0, char(n), 0};
    for (char c : text)
        m += std::string{c, 0};
    return m;
}

// The terminal's face draws every character at one width: a fixed-pitch
// face asked for is kept; a proportional one, or a missing one the system
// substitutes (the default "Courier New" where it is not installed), gives
// way to a fixed-pitch face, or cells clip "m" and leave gaps after "l".
TEST(DdTDFont, TheTerminalFaceIsFixedPitch) {
    CMemProfileStore store;
    CProfileStore* saved = g_diProfileStore;
    g_diProfileStore = &store;
    struct Row {
        const char16_t* setting;
        const char16_t* kept; // the face that must stay, or none
    } rows[] = {
        {u"DejaVu Sans Mono", u"DejaVu Sans Mono"},
        {u"DejaVu Sans", nullptr},
        {u"", nullptr},
        {u"No Such Face 42", nullptr},
    };
    HDC dc = CreateCompatibleDC(nullptr);
    for (const Row& r : rows) {
        std::u16string setting(r.setting);
        SCOPED_TRACE(std::string(setting.begin(), setting.end()));
        store.SetLocalSetting(u"termface", r.setting);
        DiChar* face = g_ddTDOps.fontFace(u"termface", 0);
        ASSERT_NE(face, nullptr);
        std::wstring name(reinterpret_cast<const wchar_t*>(face));
        free(face);
        if (r.kept) {
            EXPECT_EQ(name, reinterpret_cast<const wchar_t*>(r.kept));
        }
        HFONT font =
            CreateFontW(-16, 0, 0, 0, 400, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, name.c_str());
        HGDIOBJ old = SelectObject(dc, font);
        SIZE narrow{}, wide{}, mixed{};
        GetTextExtentPoint32W(dc, L"llll", 4, &narrow);
        GetTextExtentPoint32W(dc, L"mmmm", 4, &wide);
        GetTextExtentPoint32W(dc, L"ilmW", 4, &mixed);
        EXPECT_EQ(narrow.cx, wide.cx);
        EXPECT_EQ(mixed.cx, wide.cx);
        EXPECT_GT(wide.cx, 0);
        SelectObject(dc, old);
        DeleteObject(font);
    }
    DeleteDC(dc);
    g_diProfileStore = saved;
}

TEST(DdTermPaste, TextFetchedForAViewReachesThatViewOnlyAndNeverOutlivesIt) {
    struct Row {
        const char* name;
        int deliverTo;    // terminal whose handler also gets command 104 at once (-1 none)
        bool screenGone;  // the fetching terminal's screen goes before 104
        const char* sent; // what the fetching terminal sends
    } rows[] = {
        {"own view", -1, false, "hi"},
        {"another view asks first", 1, false, "hi"},
        {"screen gone", -1, true, nullptr},
    };
    for (const Row& r : rows) {
        Term a, b;
        ASSERT_TRUE(ddClipPutText(a.hwnd, u"hi", 2)) << r.name;
        g_commands = 0;
        ASSERT_TRUE(ddClipFetchTextAsync(a.hwnd)) << r.name;
        if (r.deliverTo == 1) {
            DiEvent ev{};
            ev.w[0] = DI_EV_COMMAND;
            ev.w[1] = kDdClipPasteCommand;
            TerminalEngineEvent(&b.ch->hdr, &ev);
        }
        if (r.screenGone) diTDDestroy(a.dt());
        hvPumpUntil([] { return g_commands > 0; }, 20000);
        EXPECT_EQ(a.sent(), r.sent ? pasteMessage(r.sent) : "") << r.name;
        EXPECT_EQ(b.sent(), "") << r.name;
        std::u16string left;
        EXPECT_FALSE(ddClipTakeText(a.hwnd, &left)) << r.name;
    }
}

} // namespace
