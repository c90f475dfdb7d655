// The terminal screen: colours, character maps, the model's faults and the
// painter's invariant that painted damage equals a full repaint.
#include <gtest/gtest.h>

#include "core/ditimer.h"
#include "td_recorder.h"

#include <random>
#include <stdio.h>
#include <stdlib.h>

namespace {

std::string u8s(std::initializer_list<int> v) {
    std::string s;
    for (int b : v)
        s += char(b);
    return s;
}

std::string text(int col, int row, const std::string& s) {
    return tdMsg(42, u8s({col, row}) + s);
}

TEST(TDColours, EffectiveColoursFollowRenditionAndPalette) {
    TDRig rig;
    rig.feed(tdStart(25, 80));
    const DiTDScreen* s = &rig.t->screen;
    const uint32_t* P = g_diTDDefaultPalette;
    struct Row {
        uint32_t flags, bg, fg, wantBg, wantFg;
    };
    const Row rows[] = {
        {DI_TD_BOLD, P[7], P[9], P[7], P[1]},
        {DI_TD_BOLD, P[7], P[8], P[7], P[0]},
        {DI_TD_BOLD, P[7], P[15], P[7], P[7]},
        {DI_TD_DIM, P[7], P[15], P[7], P[8]},
        {DI_TD_DIM, P[15], P[0], P[8], P[0]},
        {DI_TD_BOLD | DI_TD_DIM, P[7], P[15], P[7], P[7]},
        {DI_TD_REVERSE, P[7], P[4], P[4], P[7]},
        {DI_TD_CONCEALED, P[7], P[4], P[7], P[7]},
        {DI_TD_REVERSE | DI_TD_CONCEALED, P[7], P[4], P[4], P[7]},
        {DI_TD_REVERSE | DI_TD_DIM, P[0], P[15], P[8], P[0]},
    };
    for (const Row& r : rows) {
        DiTDCell c{r.flags, 0, r.bg, r.fg};
        EXPECT_EQ(diTDEffectiveBackground(s, &c), r.wantBg) << r.flags;
        EXPECT_EQ(diTDEffectiveForeground(s, &c), r.wantFg) << r.flags;
    }
    // Each rendition message sets all six flags anew from the wire bits.
    struct Wire {
        uint32_t wire, flags;
    };
    const Wire wires[] = {{1, DI_TD_BOLD},      {2, DI_TD_DIM},       {4, DI_TD_BLINK},
                          {8, DI_TD_UNDERLINE}, {64, DI_TD_REVERSE},  {128, DI_TD_CONCEALED},
                          {0xFFFF0030, 0},      {0x10001, DI_TD_BOLD}};
    for (const Wire& w : wires) {
        rig.feed(tdMsg(31, u8s({int(w.wire & 0xFF), int((w.wire >> 8) & 0xFF),
                                int((w.wire >> 16) & 0xFF), int(w.wire >> 24)})));
        EXPECT_EQ(rig.t->screen.flags, w.flags) << w.wire;
    }
}

// The maps against Python: set 1 against its cp437 codec, set 2 against
// the peer's table.
TEST(TDMaps, CharacterSetsMatchTheReferences) {
#ifdef _WIN32
    GTEST_SKIP() << "the Python references run in the host tree";
#endif
    std::string cmd =
        "python3 -c \"import sys; sys.path.insert(0, '" HV_PEERS_DIR "'); "
        "import taip_peer as p; "
        "print(' '.join('%d' % ord(bytes([c]).decode('cp437')) for c in range(256))); "
        "print(' '.join('%d' % p.SET2[c] for c in range(256)))\"";
    FILE* f = popen(cmd.c_str(), "r");
    ASSERT_NE(f, nullptr);
    for (uint32_t set = 1; set <= 2; set++)
        for (uint32_t c = 0; c < 256; c++) {
            unsigned want = 0;
            ASSERT_EQ(fscanf(f, "%u", &want), 1);
            EXPECT_EQ(unsigned(diTDMapCharacter(set, c)), want) << "set " << set << " code " << c;
        }
    pclose(f);
    EXPECT_EQ(diTDMapCharacter(1, 256), 0);
    EXPECT_EQ(diTDMapCharacter(3, 65), u' ');
}

TEST(TDModel, FaultsOfTheScreenAreMended) {
    // Rows or columns 0 would divide by zero: clamped to one.
    {
        TDRig rig;
        rig.feed(tdStart(0, 0) + text(0, 0, "ab") + tdMsg(22, u8s({0, 0})));
        EXPECT_EQ(rig.t->screen.rows, 1);
        EXPECT_EQ(rig.t->screen.columns, 1);
        EXPECT_GE(rig.t->screen.cellWidth, 1);
        rig.event(DI_EV_EXPOSE, 0, 0, 0); // w[4], w[5] zero: nothing
    }
    // A full-width erase sets every row's erase colour.
    {
        TDRig rig;
        rig.feed(tdStart(25, 80) + tdMsg(17, u8s({4})) + tdMsg(41, u8s({0, 3, 80, 7})));
        for (int y = 0; y < 25; y++)
            EXPECT_EQ(rig.t->screen.rowList[y]->eraseColour,
                      y >= 3 && y < 7 ? g_diTDDefaultPalette[4] : 0u)
                << y;
    }
    // A sideways scroll of part of the rows moves the cells, not the rows.
    {
        TDRig rig;
        rig.feed(tdStart(25, 80) + text(0, 5, "0123456789") + text(0, 6, "abcdefghij") +
                 tdMsg(32, u8s({0xFE, 0xFF, 4, 5, 8, 7})));
        DiTDRow* r4 = rig.t->screen.rowList[4];
        DiTDRow* r5 = rig.t->screen.rowList[5];
        EXPECT_EQ(std::u16string(r4->chars + 2, r4->chars + 6), u"4567");
        EXPECT_EQ(std::u16string(r5->chars, r5->chars + 10), u"01efgh  89");
        EXPECT_EQ(g_td.scrollCalls, 0);
    }
    // Rows 5..9 up by 2: they land on 3..7, 8 and 9 are empty.
    {
        TDRig rig;
        std::string s = tdStart(25, 80);
        for (int y = 3; y < 10; y++)
            s += text(0, y, std::string(1, char('a' + y)));
        rig.feed(s + tdMsg(32, u8s({0, 0xFE, 0, 5, 80, 10})));
        std::string got;
        for (int y = 2; y < 11; y++)
            got += rig.t->screen.rowList[y]->used ? char(rig.t->screen.rowList[y]->chars[0]) : '.';
        EXPECT_EQ(got, ".fghij...");
        // Rows 5..6 up by 4 land on 1..2: rows 3 and 4 between keep theirs.
        rig.feed(tdMsg(32, u8s({0, 0xFC, 0, 5, 80, 7})));
        got.clear();
        for (int y = 0; y < 9; y++)
            got += rig.t->screen.rowList[y]->used ? char(rig.t->screen.rowList[y]->chars[0]) : '.';
        EXPECT_EQ(got, ".hifg..j.");
    }
    // A 255-column grid takes a 255-cell run in one text call.
    {
        TDRig rig(255 * 4, 64);
        rig.feed(tdStart(4, 255) + text(0, 0, std::string(255, 'w')));
        EXPECT_EQ(g_td.textCalls, 1);
        EXPECT_EQ(g_td.canvas.at(254 * 4, 0), tdTextMark('w', 0)); // the last cell's advance
    }
    // Glyph rows above 16 pixels wide: each row at its stride, the rest 0.
    uint32_t stride = 0;
    const uint8_t rows[3] = {0x01, 0x80, 0x0F};
    uint8_t* bits = diTDGlyphRowsToBits(24, 3, rows, &stride);
    ASSERT_NE(bits, nullptr);
    EXPECT_EQ(stride, 4u);
    const uint8_t want[12] = {0x80, 0, 0, 0, 0x01, 0, 0, 0, 0xF0, 0, 0, 0};
    EXPECT_EQ(std::string(bits, bits + 12), std::string(want, want + 12));
    free(bits);
    // Strips at a server-chosen size too large to make draw nothing.
    {
        TDRig rig;
        g_td.fontW = 400;
        rig.feed(tdStart(25, 80) + tdMsg(30, u8s({3, 65, 1, 1, 0xFF})) + tdMsg(24, u8s({3})) +
                 text(0, 0, "A"));
        EXPECT_EQ(g_td.liveStrips, 0);
        EXPECT_EQ(g_td.putGlyphs, 0);
    }
}

TEST(TDCaret, FollowsShapeFocusAndDoubleWidthRows) {
    TDRig rig;
    // Cells of 8 x 16; the start's caret runs from 12/16 to 16/16.
    rig.feed(tdStart(25, 80) + tdMsg(35, u8s({1})) + tdMsg(34, u8s({70, 3})) +
             tdMsg(16, u8s({2, 3})));
    EXPECT_EQ(g_td.caretWidth, 0); // no caret without the focus
    struct Step {
        const char* name;
        std::string msgs;
        uint32_t event;
        int32_t w, h, x, y;
        bool shown;
    };
    const Step steps[] = {
        // The shape's height at focus-in too; on the double-width row twice
        // the cell width and the column cut at half the grid. The width
        // follows the row when the cursor is shown again.
        {"focus in", "", DI_EV_FOCUS_IN, 16, 4, 40 * 16, 3 * 16 + 12, true},
        {"move", tdMsg(34, u8s({5, 7})), 0, 16, 4, 5 * 8, 7 * 16 + 12, true},
        {"shape", tdMsg(33, u8s({0, 8, 0, 0})), 0, 16, 8, 5 * 8, 7 * 16, true},
        {"shown again", tdMsg(35, u8s({1})), 0, 8, 8, 5 * 8, 7 * 16, true},
        {"hidden", tdMsg(35, u8s({0})), 0, 8, 8, 5 * 8, 7 * 16, false},
        {"focus out", "", DI_EV_FOCUS_OUT, 0, 0, 5 * 8, 7 * 16, false},
    };
    for (const Step& st : steps) {
        if (!st.msgs.empty()) rig.feed(st.msgs);
        if (st.event) rig.event(st.event);
        EXPECT_EQ(g_td.caretWidth, st.w) << st.name;
        EXPECT_EQ(g_td.caretHeight, st.h) << st.name;
        EXPECT_EQ(g_td.caretX, st.x) << st.name;
        EXPECT_EQ(g_td.caretY, st.y) << st.name;
        EXPECT_EQ(g_td.caretShown, st.shown) << st.name;
    }
}

// A scrolled view follows the cursor a second after it moves: one scroll for
// several moves, to the cell's far corner on the sides where it lies past
// the offset.
TEST(TDCaret, AScrolledViewFollowsTheCursorOnce) {
    struct Row {
        int32_t scrollX, scrollY;
        std::vector<std::pair<uint8_t, uint8_t>> moves; // column, row
        int32_t x, y;
    } rows[] = {
        {0, 0, {{20, 10}}, 20 * 8 + 7, 10 * 16 + 15},
        {400, 300, {{5, 7}}, 5 * 8, 7 * 16},
        {40, 0, {{1, 1}, {5, 3}}, 5 * 8, 3 * 16 + 15},
    };
    for (const Row& r : rows) {
        TDRig rig;
        rig.feed(tdStart(25, 80));
        DiObject* o = &rig.t->ch.hdr;
        o->width = 80;
        o->height = 64;
        o->scrollX = r.scrollX;
        o->scrollY = r.scrollY;
        for (auto& m : r.moves)
            rig.feed(tdMsg(34, u8s({m.first, m.second})));
        EXPECT_TRUE(g_td.scrolledTo.empty());
        diTimerDispatch(diDEClock() + 1000);
        ASSERT_EQ(g_td.scrolledTo.size(), 1u) << r.x;
        EXPECT_EQ(g_td.scrolledTo[0], std::make_pair(r.x, r.y));
    }
}

// repaint of the model over the whole grid.
TEST(TDPainter, PaintedDamageEqualsAFullRepaint) {
    for (uint32_t seed = 1; seed <= 100; seed++) {
        std::mt19937 rnd(seed);
        auto pick = [&](int n) { return int(rnd() % uint32_t(n)); };
        int rows = 4 + pick(8), cols = 10 + pick(90);
        TDRig rig(cols * 8 + 5, rows * 16 + 3);
        std::string s = tdStart(rows, cols);
        for (int i = 0; i < 120; i++) {
            switch (pick(12)) {
            case 0:
            case 1:
            case 2: {
                std::string t;
                for (int n = pick(30); n >= 0; n--)
                    t += char(pick(4) ? 'a' + pick(26) : pick(256));
                s += text(pick(cols + 3), pick(rows + 1), t);
                break;
            }
            case 3:
                s += tdMsg(pick(2) ? 17 : 19, u8s({pick(20)}));
                break;
            case 4:
                s += tdMsg(31, u8s({pick(256), 0, 0, 0}));
                break;
            case 5:
                s += tdMsg(41, u8s({pick(cols), pick(rows), pick(cols + 2), pick(rows + 1)}));
                break;
            case 6:
                s += tdMsg(41, u8s({0, pick(rows), cols, rows}));
                break;
            case 7: {
                int top = pick(rows);
                int dy = pick(2) ? -1 - pick(2) : 1 + pick(2);
                if (pick(2))
                    s += tdMsg(32, u8s({0, dy & 0xFF, 0, top, cols, rows}));
                else
                    s += tdMsg(32, u8s({(pick(5) - 2) & 0xFF, dy & 0xFF, pick(cols), top,
                                        pick(cols + 1), pick(rows + 1)}));
                break;
            }
            case 8:
                s += tdMsg(48, u8s({pick(20), pick(256), pick(256), pick(256)}));
                break;
            case 9:
                s += tdMsg(16, u8s({pick(2) ? 0 : 1 << pick(4), pick(rows)}));
                break;
            case 10:
                s += tdMsg(24, u8s({pick(3)}));
                break;
            default:
                s += tdMsg(30, u8s({pick(3), 176 + pick(60), 1, 8, 1, 2, 3, 4, 5, 6, 7, 8}));
                break;
            }
        }
        size_t pos = 0;
        while (pos < s.size()) {
            size_t n = 1 + rnd() % 200;
            g_fakeNet.incoming.push_back(s.substr(pos, n));
            pos += n;
        }
        rig.feed("");
        TDCanvas full = rig.fullRepaint();
        int gw = cols * rig.t->screen.cellWidth, gh = rows * rig.t->screen.cellHeight;
        for (int y = 0; y < gh; y++)
            for (int x = 0; x < gw; x++)
                ASSERT_EQ(g_td.canvas.at(x, y), full.at(x, y))
                    << "seed " << seed << " at " << x << "," << y;
    }
}

TEST(TDPainter, RunsDrawTheirAttributesSlotsAndLineSizes) {
    TDRig rig;
    rig.feed(tdStart(25, 80) + tdMsg(19, u8s({1})) + text(0, 0, "ab") +
             tdMsg(31, u8s({128, 0, 0, 0})) + text(2, 0, "cd") + // concealed
             tdMsg(31, u8s({0, 0, 0, 0})) + tdMsg(24, u8s({1})) + text(0, 1, u8s({196, 65})) +
             tdMsg(30, u8s({3, 66, 1, 2, 0xFF, 0xFF})) + tdMsg(24, u8s({3})) + text(0, 2, "BC") +
             tdMsg(16, u8s({2, 3})) + tdMsg(24, u8s({0})) + text(0, 3, std::string(60, 'x')));
    const int cw = rig.t->screen.cellWidth, ch = rig.t->screen.cellHeight;
    EXPECT_EQ(g_td.canvas.at(0, 0), tdTextMark('a', g_diTDDefaultPalette[1]));
    EXPECT_EQ(g_td.canvas.at(cw, 0), tdTextMark('b', g_diTDDefaultPalette[1]));
    EXPECT_EQ(g_td.canvas.at(2 * cw, 0), 0xFFFFFFu); // concealed: background only
    EXPECT_EQ(g_td.canvas.at(cw / 2, ch + ch / 2), g_diTDDefaultPalette[1]); // line 196
    EXPECT_EQ(g_td.canvas.at(cw + 1, ch + 1), 0xFFFFFFu); // 65 undefined in slot 1
    EXPECT_EQ(g_td.canvas.at(0, 2 * ch) >> 62, 3u);       // glyph 'B' copied from its strip
    EXPECT_EQ(g_td.canvas.at(cw, 2 * ch), 0xFFFFFFu);     // 'C' undefined
    // A double-width row is cut at half the columns, each cell twice as wide.
    EXPECT_EQ(rig.t->screen.rowList[3]->used, 40);
    EXPECT_EQ(g_td.canvas.at(2 * cw, 3 * ch), tdTextMark('x', g_diTDDefaultPalette[1]));
}

} // namespace
