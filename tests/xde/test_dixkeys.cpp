// Key translation: which keys travel as codes and which as characters, the
// right-hand folding, the euro sign, the yen key, the Shift-only look-up and
// the keyboard mode from the locale and the environment.
#include <gtest/gtest.h>

#include "xde/dixkeys.h"

#include <string>
#include <vector>

namespace {

struct FakeWindows {
    int answers = 1;   // what ToAscii returns
    uint32_t made = 0; // the character it makes
    uint32_t locale = 1033;
    bool kanaVariable = false;
    std::vector<std::string> calls;
};

DiXKeyLookup lookupOf(FakeWindows* w) {
    DiXKeyLookup l{};
    l.ctx = w;
    l.shiftedChar = [](void* ctx, uint32_t vk, int shift, uint32_t* ch) {
        auto* f = static_cast<FakeWindows*>(ctx);
        f->calls.push_back("toascii " + std::to_string(vk) + (shift ? " shift" : ""));
        *ch = f->made;
        return f->answers;
    };
    l.threadLocale = [](void* ctx) { return static_cast<FakeWindows*>(ctx)->locale; };
    l.envDefined = [](void* ctx, const char* name) {
        auto* f = static_cast<FakeWindows*>(ctx);
        f->calls.push_back(std::string("env ") + name);
        return int(f->kanaVariable);
    };
    return l;
}

DiEvent key(uint32_t type, uint32_t vk, uint32_t ch, uint32_t mods = 0, uint32_t suppress = 0) {
    DiEvent ev = {};
    ev.w[0] = type;
    ev.w[1] = vk;
    ev.w[2] = ch;
    ev.w[3] = mods;
    ev.w[4] = suppress;
    return ev;
}

TEST(XKeys, CodesAndCharactersAsTheServerExpectsThem) {
    const struct {
        const char* name;
        uint32_t vk, ch, flags, wantCode, wantCh;
    } cases[] = {
        {"space keeps its character", 32, 32, 0, 32, 32},
        {"Return travels without one", 13, 13, 0, 10, 0},
        {"keypad Enter folds but keeps it", 176, 13, 0, 10, 13},
        {"keypad Enter kept apart", 176, 13, DI_XKEYS_KEEP_RIGHT, 176, 13},
        {"a letter travels as its character", 65, 'a', 0, 0, 'a'},
        {"a letter without one as its code", 65, 0, 0, 65, 0},
        {"Ctrl+digit", 50, 0, 0, 50, 0},
        {"Windows key drops its character", 91, 'x', 0, 91, 0},
        {"Delete", 46, 0, 0, 127, 0},
        {"F1", 112, 0, 0, 112, 0},
        {"left Shift", 160, 0, DI_XKEYS_KEEP_RIGHT, 16, 0},
        {"right Shift folds", 161, 0, 0, 16, 0},
        {"right Shift kept", 161, 0, DI_XKEYS_KEEP_RIGHT, 161, 0},
        {"right Ctrl folds", 163, 0, 0, 17, 0},
        {"right Alt folds", 165, 0, 0, 18, 0},
        {"right Alt kept", 165, 0, DI_XKEYS_KEEP_RIGHT, 165, 0},
        {"left Alt", 164, 0, 0, 18, 0},
        {"quote key without character", 222, 0, 0, 192, 0},
        {"quote key with one", 222, '\'', 0, 0, '\''},
        {"ANSI euro", 69, 128, 0, 8364, 0},
        {"UTF-16 euro is the same key", 69, 0x20AC, 0, 8364, 0},
        {"AltGr @ stays a character", 81, '@', 0, 0, '@'},
    };
    FakeWindows w;
    DiXKeyLookup l = lookupOf(&w);
    for (auto c : cases) {
        for (uint32_t type : {uint32_t(DI_EV_KEY_PRESS), uint32_t(DI_EV_KEY_RELEASE)}) {
            DiEvent ev = key(type, c.vk, c.ch);
            diXKeyTranslate(&ev, DI_XKEYS_MODE_PLAIN, c.flags, &l);
            EXPECT_EQ(c.wantCode, ev.w[1]) << c.name << " type " << type;
            EXPECT_EQ(c.wantCh, ev.w[2]) << c.name << " type " << type;
        }
    }
    EXPECT_TRUE(w.calls.empty()) << "every case has a code or a character";
}

TEST(XKeys, UnknownKeyAsksWindowsOnPressesOnly) {
    FakeWindows w;
    w.made = 0x7FFF003A; // only the low 16 bits are the character
    DiXKeyLookup l = lookupOf(&w);
    DiEvent ev = key(DI_EV_KEY_PRESS, 186, 0, 1 | 4);
    diXKeyTranslate(&ev, DI_XKEYS_MODE_PLAIN, 0, &l);
    EXPECT_EQ(0u, ev.w[1]);
    EXPECT_EQ(0x3Au, ev.w[2]);
    EXPECT_EQ(std::vector<std::string>{"toascii 186 shift"}, w.calls);

    // Without Shift in the modifier word the look-up holds no Shift.
    w.calls.clear();
    ev = key(DI_EV_KEY_PRESS, 186, 0, 4);
    diXKeyTranslate(&ev, DI_XKEYS_MODE_PLAIN, 0, &l);
    EXPECT_EQ(std::vector<std::string>{"toascii 186"}, w.calls);

    // Not on release, not when the view suppresses it.
    w.calls.clear();
    ev = key(DI_EV_KEY_RELEASE, 186, 0, 1);
    diXKeyTranslate(&ev, DI_XKEYS_MODE_PLAIN, 0, &l);
    EXPECT_EQ(0u, ev.w[2]);
    ev = key(DI_EV_KEY_PRESS, 186, 0, 1, 1);
    diXKeyTranslate(&ev, DI_XKEYS_MODE_PLAIN, 0, &l);
    EXPECT_EQ(0u, ev.w[2]);
    EXPECT_TRUE(w.calls.empty());

    // A dead key (-1) or two characters give none.
    for (int answer : {-1, 0, 2}) {
        w.answers = answer;
        ev = key(DI_EV_KEY_PRESS, 186, 0);
        diXKeyTranslate(&ev, DI_XKEYS_MODE_PLAIN, 0, &l);
        EXPECT_EQ(0u, ev.w[2]) << answer;
        EXPECT_EQ(0u, ev.w[1]) << answer;
    }

    // Other events pass untouched.
    ev = key(DI_EV_KEY_PRESS, 186, 0);
    ev.w[0] = DI_EV_MOTION;
    diXKeyTranslate(&ev, DI_XKEYS_MODE_PLAIN, 0, &l);
    EXPECT_EQ(186u, ev.w[1]);
}

TEST(XKeys, YenKeyOnlyWithKanaHandling) {
    FakeWindows w;
    DiXKeyLookup l = lookupOf(&w);
    for (int mode : {DI_XKEYS_MODE_PLAIN, DI_XKEYS_MODE_JAPANESE, DI_XKEYS_MODE_KANA}) {
        DiEvent ev = key(DI_EV_KEY_PRESS, 220, '\\');
        diXKeyTranslate(&ev, mode, 0, &l);
        EXPECT_EQ(0u, ev.w[1]) << mode;
        EXPECT_EQ(mode == DI_XKEYS_MODE_KANA ? 165u : uint32_t('\\'), ev.w[2]) << mode;
    }
    // Another character on that key, or the backslash on another key, stays.
    DiEvent ev = key(DI_EV_KEY_PRESS, 220, '|');
    diXKeyTranslate(&ev, DI_XKEYS_MODE_KANA, 0, &l);
    EXPECT_EQ(uint32_t('|'), ev.w[2]);
    ev = key(DI_EV_KEY_PRESS, 226, '\\');
    diXKeyTranslate(&ev, DI_XKEYS_MODE_KANA, 0, &l);
    EXPECT_EQ(uint32_t('\\'), ev.w[2]);
}

TEST(XKeys, KeyboardModeFromLocaleAndEnvironment) {
    const struct {
        uint32_t locale;
        bool variable;
        int want;
    } cases[] = {{1033, true, DI_XKEYS_MODE_PLAIN},
                 {1041, false, DI_XKEYS_MODE_JAPANESE},
                 {1041, true, DI_XKEYS_MODE_KANA}};
    for (auto c : cases) {
        FakeWindows w;
        w.locale = c.locale;
        w.kanaVariable = c.variable;
        DiXKeyLookup l = lookupOf(&w);
        int stored = 0;
        EXPECT_EQ(c.want, diXKanaMode(&stored, &l)) << c.locale;
        // Computed once: later changes are not seen.
        w.locale = 1041;
        w.kanaVariable = !c.variable;
        EXPECT_EQ(c.want, diXKanaMode(&stored, &l)) << c.locale;
        if (c.locale == 1041) {
            EXPECT_EQ("env QUORVELLAN_KEYBOARD_KANA", w.calls.front());
        }
    }

    // A locale of 0 computes nothing; the next call tries again.
    FakeWindows w;
    w.locale = 0;
    DiXKeyLookup l = lookupOf(&w);
    int stored = 0;
    EXPECT_EQ(0, diXKanaMode(&stored, &l));
    EXPECT_EQ(0, stored);
    w.locale = 1041;
    EXPECT_EQ(DI_XKEYS_MODE_JAPANESE, diXKanaMode(&stored, &l));
}

} // namespace
