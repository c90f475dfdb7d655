// The terminal window's portable half over the recording canvas: keys
// through the key table, drags and the cells they invert, the text a copy
// takes, and the pieces a paste is sent in.
#include <gtest/gtest.h>

#include "core/ditimer.h"
#include "td_recorder.h"

#include <set>
#include <utility>

namespace {

const int kRows = 10, kCols = 20;

struct Span {
    int row, lo, hi;
};

// Messages of the client stream as (type, payload).
std::vector<std::pair<int, std::string>> messages(const std::string& sent) {
    std::vector<std::pair<int, std::string>> out;
    for (size_t i = 0; i + 3 <= sent.size();) {
        size_t len = uint8_t(sent[i + 1]) | (uint8_t(sent[i + 2]) << 8);
        out.push_back({uint8_t(sent[i]), sent.substr(i + 3, len)});
        i += 3 + len;
    }
    return out;
}

std::string types(const std::string& sent) {
    std::string s;
    for (auto& m : messages(sent))
        s += (s.empty() ? "" : ",") + std::to_string(m.first);
    return s;
}

struct Term : TDRig {
    int cw, ch;
    Term() {
        feed(tdStart(kRows, kCols));
        cw = t->screen.cellWidth;
        ch = t->screen.cellHeight;
        for (int r = 0; r < kRows; r++) {
            // Row r holds r + 3 characters: "a0b", "a1bc", ...
            std::u16string s =
                u"a" + std::u16string(1, char16_t('0' + r)) + std::u16string(size_t(r + 1), u'b');
            if (r > 1) s[2] = u'c';
            diTDWriteText(t.get(), 0, r, s.data(), int32_t(s.size()));
        }
        diTDPaint(t.get());
        sentAndClear();
    }
    int pointer(uint32_t type, int c, int r, uint32_t button = 0, uint32_t mods = 0) {
        DiEvent ev{};
        ev.w[0] = type;
        ev.w[2] = button;
        ev.w[3] = uint32_t(c * cw + cw / 2);
        ev.w[4] = uint32_t(r * ch + ch / 2);
        ev.w[7] = mods;
        return diTDWindowEvent(&t->ch.hdr, &ev);
    }
    int key(uint32_t type, uint32_t vk, uint32_t character) {
        DiEvent ev{};
        ev.w[0] = type;
        ev.w[1] = vk;
        ev.w[2] = character;
        return diTDWindowEvent(&t->ch.hdr, &ev);
    }
    // Press at the first cell, move through the others, release at the last.
    void drag(const std::vector<std::pair<int, int>>& cells, bool block) {
        pointer(DI_EV_BUTTON_PRESS, cells[0].first, cells[0].second, 0, block ? 0x80 : 0);
        for (auto& c : cells)
            pointer(DI_EV_MOTION, c.first, c.second);
        pointer(DI_EV_BUTTON_RELEASE, cells.back().first, cells.back().second);
    }
    std::set<std::pair<int, int>> inverted() const {
        std::set<std::pair<int, int>> out;
        const TDCanvas& c = g_td.canvas;
        for (int r = 0; r < kRows; r++)
            for (int col = 0; col < kCols; col++) {
                size_t at = size_t(r * ch + 1) * size_t(c.width) + size_t(col * cw + 1);
                if (!c.inverted.empty() && c.inverted[at]) out.insert({col, r});
            }
        return out;
    }
};

std::set<std::pair<int, int>> cellsOf(const std::vector<Span>& spans) {
    std::set<std::pair<int, int>> out;
    for (const Span& s : spans)
        for (int c = s.lo; c < s.hi; c++)
            out.insert({c, s.row});
    return out;
}

TEST(TermKeys, KeyTableDecidesTheKeyCodeAndTheCharacterTravelsAsItCame) {
    struct Row {
        uint32_t vk, character, key;
    } rows[] = {
        {45, 0, 0x9B}, // Insert
        {46, 0, 0x7F}, // Delete
        {65, 'a', 0},  // a letter: only its character
        {108, 0, 0},   // separator
        {176, 0, 176}, // kept
        {19, 0, 19},     {20, 0, 20},     {33, 0, 33},   {40, 0, 40},   {96, '0', 96},
        {107, '+', 107}, {109, '-', 109}, {123, 0, 123}, {144, 0, 144}, {145, 0, 145},
        {27, 27, 0},     {13, 13, 0},     {9, 9, 0},     {8, 8, 0},     {16, 0, 0},
        {124, 0, 0},     {0x1A5, 0, 0}, // a code beyond the table
    };
    Term term;
    for (const Row& r : rows) {
        for (uint32_t type : {DI_EV_KEY_PRESS, DI_EV_KEY_RELEASE}) {
            term.key(type, r.vk, r.character);
            auto m = messages(term.sentAndClear());
            ASSERT_EQ(m.size(), 1u) << r.vk;
            EXPECT_EQ(m[0].first, type == DI_EV_KEY_PRESS ? 9 : 15);
            const std::string& p = m[0].second;
            EXPECT_EQ(uint8_t(p[0]) | (uint8_t(p[1]) << 8), r.character) << r.vk;
            EXPECT_EQ(uint8_t(p[2]) | (uint8_t(p[3]) << 8), r.key) << r.vk;
        }
    }
}

TEST(TermKeys, DuringASelectionPressesAreDroppedReleasesGoOutAndEscapeOnlyClears) {
    Term term;
    term.pointer(DI_EV_BUTTON_PRESS, 1, 1);
    term.pointer(DI_EV_MOTION, 4, 1);
    EXPECT_EQ(types(term.sentAndClear()), "7");
    term.key(DI_EV_KEY_PRESS, 65, 'a');
    term.key(DI_EV_KEY_RELEASE, 65, 'a');
    EXPECT_EQ(types(term.sentAndClear()), "15");
    // Escape with the button still held: the selection ends, no key goes out,
    // and the release that follows shows nothing and sends nothing.
    term.key(DI_EV_KEY_PRESS, 27, 27);
    EXPECT_EQ(types(term.sentAndClear()), "2");
    term.pointer(DI_EV_BUTTON_RELEASE, 4, 1);
    term.key(DI_EV_KEY_PRESS, 27, 27);
    EXPECT_EQ(types(term.sentAndClear()), "9");
    EXPECT_TRUE(term.inverted().empty());
    EXPECT_FALSE(term.t->sel.selecting || term.t->sel.shown || term.t->selectionHeld);
}

TEST(TermSelection, DragsInvertExactlyTheirAreaAndCopyItsText) {
    struct Row {
        const char* name;
        bool block;
        std::vector<std::pair<int, int>> path;
        std::vector<Span> area;
        std::u16string text;
    } rows[] = {
        {"one row", false, {{1, 1}, {3, 1}}, {{1, 1, 3}}, u"1b"},
        {"backwards over rows",
         false,
         {{2, 3}, {5, 3}, {1, 1}},
         {{1, 1, 20}, {2, 0, 20}, {3, 0, 2}},
         u"1bb\na2cbb\na3"},
        {"crossing the anchor",
         false,
         {{10, 3}, {2, 5}, {1, 2}},
         {{2, 1, 20}, {3, 0, 10}},
         u"2cbb\na3cbbb"},
        {"ending at column 0", false, {{4, 1}, {0, 3}}, {{1, 4, 20}, {2, 0, 20}}, u"\na2cbb\n"},
        {"block",
         true,
         {{1, 1}, {8, 6}, {3, 4}},
         {{1, 1, 3}, {2, 1, 3}, {3, 1, 3}, {4, 1, 3}},
         u"1b\n2c\n3c\n4c"},
        {"block of no width", true, {{3, 1}, {3, 3}}, {}, u"\n\n"},
        // Past the last row: the row below the grid is empty.
        {"past the last row", false, {{7, 9}, {3, 10}}, {{9, 7, 20}}, u"bbbbb\n"},
        {"block past the last row", true, {{1, 9}, {3, 10}}, {{9, 1, 3}}, u"9c\n"},
    };
    for (const Row& r : rows) {
        Term term;
        term.drag(r.path, r.block);
        EXPECT_EQ(term.inverted(), cellsOf(r.area)) << r.name;
        EXPECT_EQ(diTDSelText(term.t.get()), r.text) << r.name;
        EXPECT_EQ(types(term.sentAndClear()), "7") << r.name;
        // An expose repaints part of the grid: the area shows inverted still,
        // and nothing outside it.
        DiEvent ev{};
        ev.w[0] = DI_EV_EXPOSE;
        ev.w[2] = uint32_t(term.cw * 2);
        ev.w[3] = uint32_t(term.ch);
        ev.w[4] = uint32_t(term.cw * 5);
        ev.w[5] = uint32_t(term.ch * 3);
        diTDWindowEvent(&term.t->ch.hdr, &ev);
        EXPECT_EQ(term.inverted(), cellsOf(r.area)) << r.name;
        term.key(DI_EV_KEY_PRESS, 27, 27);
        EXPECT_TRUE(term.inverted().empty()) << r.name;
        EXPECT_EQ(types(term.sentAndClear()), "2") << r.name;
    }
}

TEST(TermSelection, CopyTextMapsCellsByTheirSlotAndNeverHoldsAZero) {
    Term term;
    const DiChar wide[] = {40, 0x1FF, 32};
    diTDSelectFont(term.t.get(), 2);
    diTDWriteText(term.t.get(), 0, 5, wide, 3); // 0x1FF maps to no character
    diTDSelectFont(term.t.get(), 1);
    const DiChar box[] = {0xC4};
    diTDWriteText(term.t.get(), 3, 5, box, 1); // code page 437's line
    term.drag({{0, 5}, {4, 5}}, false);
    EXPECT_EQ(diTDSelText(term.t.get()), u"\u2660  \u2500");
}

// A cell shows what Copy takes: 8-bit text (row 5) in the code page, 16-bit as it is.
TEST(TermSelection, CellsShowAndCopyOneCharacter) {
    struct Row {
        uint32_t codePage;
        std::string bytes;
        std::u16string shown8, wide;
    } rows[] = {
        {1250, "\xE8\xA5\xB9", u"\u010D\u0104\u0105", u"\u00E8\u00DD\u0105"},
        {5, "\xBF\xE0\xD8", u"\u041F\u0440\u0438", u"\u041F\u00E0\u00D8"},
        {1254, "\xDD\xF0\xFE", u"\u0130\u011F\u015F", u"\u00DD\u00F0\u00FE"},
        {0, "\x80\x81\xE9", u"\u20AC \u00E9", u"\u20AC\u0080\u00E9"},
    };
    for (const Row& r : rows) {
        Term term;
        diDESetCodePageKind(&term.t->ch, r.codePage);
        term.feed(tdMsg(42, std::string("\0\5", 2) + r.bytes));
        diTDWriteText(term.t.get(), 0, 6, r.wide.data(), 3);
        term.drag({{0, 5}, {3, 6}}, true);
        std::u16string shown;
        for (int row : {5, 6})
            for (int c = 0; c < 3; c++) {
                uint64_t px = g_td.canvas.at(c * term.cw, row * term.ch);
                shown += px >> 63 ? char16_t(px >> 24) : u' '; // a space leaves no mark
            }
        EXPECT_EQ(diTDSelText(term.t.get()), r.shown8 + u"\n" + r.wide) << r.codePage;
        EXPECT_EQ(shown, r.shown8 + r.wide) << r.codePage;
    }
}

TEST(TermSelection, EveryEndOfASelectionPairsItsHoldWithOneRelease) {
    struct Row {
        const char* name;
        void (*run)(Term&);
        const char* sent;
    } rows[] = {
        {"click without moving",
         [](Term& t) {
             t.drag({{2, 2}}, false);
         },
         "7,2"},
        {"press after a lost release",
         [](Term& t) {
             t.pointer(DI_EV_BUTTON_PRESS, 1, 1);
             t.pointer(DI_EV_MOTION, 3, 1);
             t.pointer(DI_EV_BUTTON_PRESS, 5, 2);
         },
         "7,2,7"},
        {"press on a shown selection",
         [](Term& t) {
             t.drag({{1, 1}, {3, 1}}, false);
             t.pointer(DI_EV_BUTTON_PRESS, 5, 2);
             t.pointer(DI_EV_BUTTON_RELEASE, 5, 2);
         },
         "7,2,7,2"},
        {"other buttons leave it",
         [](Term& t) {
             t.drag({{1, 1}, {3, 1}}, false);
             t.pointer(DI_EV_BUTTON_PRESS, 5, 2, 1);
             t.pointer(DI_EV_BUTTON_RELEASE, 5, 2, 1);
         },
         "7"},
        {"screen gone",
         [](Term& t) {
             t.drag({{1, 1}, {3, 1}}, false);
             diTDDestroy(t.t.get());
             diTDSelClear(t.t.get());
             diTDSelClear(t.t.get());
         },
         "7,2"},
    };
    for (const Row& r : rows) {
        Term term;
        r.run(term);
        EXPECT_EQ(types(term.sentAndClear()), r.sent) << r.name;
    }
}

TEST(TermSelection, OutputHeldDuringASelectionShowsAtItsClearWithNoFurtherInput) {
    Term term;
    term.drag({{1, 1}, {3, 1}}, false);
    // Output arrives while the selection is shown: nothing reads it.
    g_fakeNet.incoming.push_back(tdMsg(42, std::string("\x00\x07held", 6)));
    DiEvent readable{};
    diTDWindowEvent(&term.t->ch.hdr, &readable);
    EXPECT_EQ(term.t->screen.rowList[7]->chars[0], u'a');
    term.key(DI_EV_KEY_PRESS, 27, 27);
    EXPECT_EQ(term.t->screen.rowList[7]->chars[0], u'h');
    auto& sel = g_fakeNet.selects;
    ASSERT_GE(sel.size(), 2u);
    EXPECT_EQ(sel[sel.size() - 2].second, 0u); // reads off at the press
    EXPECT_NE(sel.back().second, 0u);          // and on again at the clear
}

TEST(TermSelection, PaintingDuringASelectionLeavesNoCellInvertedAfterIt) {
    // Damage the painter still owes at the press (paced output), and text
    // that blinks while the selection is shown.
    Term term;
    const DiChar x[] = {'x', 'y'};
    diTDWriteText(term.t.get(), 1, 1, x, 2);
    diTDSetRendition(term.t.get(), 0x4); // blink
    diTDWriteText(term.t.get(), 1, 2, x, 2);
    diTDSetRendition(term.t.get(), 0);
    term.drag({{0, 1}, {4, 2}}, false);
    diTDPaint(term.t.get());
    for (int i = 1; i <= 3; i++)
        diTimerDispatch(diDEClock() + 600 * uint32_t(i));
    EXPECT_EQ(term.inverted(), cellsOf({{1, 0, 20}, {2, 0, 4}}));
    term.key(DI_EV_KEY_PRESS, 27, 27);
    EXPECT_TRUE(term.inverted().empty());
}

TEST(TermSelection, AutoscrollFollowsThePointerAndStopsWithTheScreen) {
    Term term;
    g_td.viewW = term.cw * 6;
    g_td.viewH = term.ch * 4;
    term.pointer(DI_EV_BUTTON_PRESS, 1, 1);
    ASSERT_NE(term.t->sel.autoscroll, nullptr);
    term.pointer(DI_EV_MOTION, 9, 3); // beyond the right edge, near the bottom
    EXPECT_EQ(g_td.viewX, 2 * term.cw);
    EXPECT_EQ(g_td.viewY, term.ch);
    // The timer repeats the step with the last position while selecting.
    diTimerDispatch(diDEClock() + 1000);
    EXPECT_EQ(g_td.viewX, 4 * term.cw);
    diTDDestroy(term.t.get());
    EXPECT_EQ(term.t->sel.autoscroll, nullptr);
    diTimerDispatch(diDEClock() + 5000);
}

TEST(TermPaste, PiecesEndAfterALineFeedOrAt80AndNeverSplitAPair) {
    struct Row {
        const char* name;
        std::u16string text;
        std::vector<size_t> pieces;
    } rows[] = {
        {"200 plain", std::u16string(200, u'a'), {80, 80, 40}},
        {"two lines", u"ab\ncd", {3, 2}},
        {"line feeds only", u"\n\n", {1, 1}},
        {"exactly 80", std::u16string(80, u'a'), {80}},
        {"feed at 80", std::u16string(79, u'a') + u"\nb", {80, 1}},
        {"feed at 81", std::u16string(80, u'a') + u"\n", {80, 1}},
        {"pair across 80", std::u16string(79, u'a') + u"\U0001F600b", {79, 3}},
        {"pair before 80", std::u16string(78, u'a') + u"\U0001F600b", {80, 1}},
    };
    for (const Row& r : rows) {
        Term term;
        ASSERT_EQ(diTDSendPasted(term.t.get(), r.text.data(), uint32_t(r.text.size())), 0);
        std::u16string joined;
        std::vector<size_t> got;
        for (auto& m : messages(term.sentAndClear())) {
            ASSERT_EQ(m.first, 49) << r.name;
            size_t n = uint8_t(m.second[0]) | (uint8_t(m.second[1]) << 8);
            ASSERT_EQ(m.second.size(), 2 + 2 * n);
            got.push_back(n);
            for (size_t i = 0; i < n; i++)
                joined +=
                    char16_t(uint8_t(m.second[2 + 2 * i]) | (uint8_t(m.second[3 + 2 * i]) << 8));
        }
        EXPECT_EQ(got, r.pieces) << r.name;
        EXPECT_EQ(joined, r.text) << r.name;
    }
}

TEST(TermPaste, TextLongerThanTheGridIsBracketed) {
    Term term;
    std::u16string grid(kRows * kCols, u'x');
    diTDSendPasted(term.t.get(), grid.data(), uint32_t(grid.size()));
    EXPECT_EQ(types(term.sentAndClear()), "49,49,49");
    grid += u"y";
    diTDSendPasted(term.t.get(), grid.data(), uint32_t(grid.size()));
    EXPECT_EQ(types(term.sentAndClear()), "7,49,49,49,2");
}

} // namespace
