#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "core/diutil.h"

namespace {

using Bytes = std::string;
using Units = std::u16string;

struct ToUtf8Case {
    Units in;
    int mode;
    int result;
    Bytes out;
};

TEST(Utf16ToUtf8, ConvertsAndRejectsBySurrogateRules) {
    const ToUtf8Case cases[] = {
        {u"A\u00e9\u20ac", DI_CONV_STRICT, 6, "A\xC3\xA9\xE2\x82\xAC"},
        {Units{0xD83D, 0xDE00}, DI_CONV_STRICT, 4, "\xF0\x9F\x98\x80"},
        {Units{0xDC00}, DI_CONV_LENIENT, 3, "\xED\xB0\x80"},
        {Units{0xDC00}, DI_CONV_STRICT, DI_CONV_ILLEGAL, ""},
        {Units{0xD800, 'A'}, DI_CONV_LENIENT, 4,
         "\xED\xA0\x80"
         "A"},
        {Units{'x', 0xD800, 'A'}, DI_CONV_STRICT, DI_CONV_ILLEGAL, "x"},
        // A high surrogate that ends the source stands alone in both modes.
        {Units{0xD800}, DI_CONV_STRICT, 3, "\xED\xA0\x80"},
        {Units{0xD800}, DI_CONV_LENIENT, 3, "\xED\xA0\x80"},
        {Units{0xDBFF, 0xDFFF}, DI_CONV_STRICT, 4, "\xF4\x8F\xBF\xBF"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        char buf[16] = {};
        const DiChar* s = c.in.data();
        char* t = buf;
        EXPECT_EQ(c.result,
                  diUtf16ToUtf8(&s, c.in.data() + c.in.size(), &t, buf + sizeof buf, c.mode));
        EXPECT_EQ(c.out, Bytes(buf, t));
    }
}

TEST(Utf16ToUtf8, FullTargetKeepsTheCharacterUnconsumed) {
    const DiChar in[] = u"a\u20ac";
    char buf[3];
    const DiChar* s = in;
    char* t = buf;
    EXPECT_EQ(DI_CONV_TARGET_FULL, diUtf16ToUtf8(&s, nullptr, &t, buf + 3, DI_CONV_LENIENT));
    EXPECT_EQ(in + 1, s);
    EXPECT_EQ(buf + 1, t);
}

struct FromUtf8Case {
    Bytes in;
    int mode;
    int result;
    Units out;
};

TEST(Utf8ToUtf16, ConvertsAndRejectsByLegality) {
    const FromUtf8Case cases[] = {
        {"A\xC3\xA9\xE2\x82\xAC", DI_CONV_STRICT, 6, u"A\u00e9\u20ac"},
        {"\xF0\x9F\x98\x80", DI_CONV_STRICT, 4, Units{0xD83D, 0xDE00}},
        {"\xC0\x80", DI_CONV_LENIENT, DI_CONV_ILLEGAL, u""},
        {"\xE0\x80\x80", DI_CONV_LENIENT, DI_CONV_ILLEGAL, u""},
        {"\xF4\x90\x80\x80", DI_CONV_LENIENT, DI_CONV_ILLEGAL, u""},
        {"\xF5\x80\x80\x80", DI_CONV_LENIENT, DI_CONV_ILLEGAL, u""},
        {"a\x80", DI_CONV_LENIENT, DI_CONV_ILLEGAL, u"a"},
        {"a\xE2\x82", DI_CONV_LENIENT, DI_CONV_SOURCE_SHORT, u"a"},
        {"\xC3\x41", DI_CONV_LENIENT, DI_CONV_ILLEGAL, u""},
        // Encoded surrogates fail the legality check in both modes.
        {"\xED\xA0\x80", DI_CONV_LENIENT, DI_CONV_ILLEGAL, u""},
        {"\xED\xA0\x80", DI_CONV_STRICT, DI_CONV_ILLEGAL, u""},
        {"\xF4\x8F\xBF\xBF", DI_CONV_STRICT, 4, Units{0xDBFF, 0xDFFF}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.in));
        DiChar buf[8] = {};
        const char* s = c.in.data();
        DiChar* t = buf;
        EXPECT_EQ(c.result, diUtf8ToUtf16(&s, c.in.data() + c.in.size(), &t, buf + 8, c.mode));
        EXPECT_EQ(c.out, Units(buf, t));
    }
}

TEST(Utf8ToUtf16, NulEndedSourceStopsAtTheNulEvenInsideASequence) {
    const char in[] = "ab\xE2\x82";
    DiChar buf[8];
    const char* s = in;
    EXPECT_EQ(DI_CONV_SOURCE_SHORT, diTextFromUtf8(buf, buf + 8, &s, nullptr));
    EXPECT_EQ(in + 2, s);
    s = "ok";
    EXPECT_EQ(4, diTextFromUtf8(buf, buf + 8, &s, nullptr));
}

TEST(Utf8ToUtf16, PairNeedsRoomForBothUnits) {
    const char in[] = "\xF0\x9F\x98\x80";
    DiChar buf[1];
    const char* s = in;
    DiChar* t = buf;
    EXPECT_EQ(DI_CONV_TARGET_FULL, diUtf8ToUtf16(&s, nullptr, &t, buf + 1, DI_CONV_LENIENT));
    EXPECT_EQ(in, s);
}

TEST(Utf8IsLegal, FollowsTheSecondByteRanges) {
    struct {
        Bytes seq;
        bool legal;
    } cases[] = {
        {"\x41", true},
        {"\x80", false},
        {"\xC1\xBF", false},
        {"\xC2\x80", true},
        {"\xE0\x9F\xBF", false},
        {"\xE0\xA0\x80", true},
        {"\xED\x9F\xBF", true},
        {"\xED\xA0\x80", false},
        {"\xF0\x8F\xBF\xBF", false},
        {"\xF0\x90\x80\x80", true},
        {"\xF4\x8F\xBF\xBF", true},
        {"\xF4\x90\x80\x80", false},
        {"\xF5\x80\x80\x80", false},
        {"\xE1\x80\xC0", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.seq));
        EXPECT_EQ(c.legal, diUtf8IsLegal(reinterpret_cast<const unsigned char*>(c.seq.data()),
                                         static_cast<int>(c.seq.size())));
    }
}

TEST(Latin1, UnitsWithoutALatin1FormBecomeQuestionMarks) {
    const DiChar in[] = u"A\u00e9\u0100\u20ac";
    char buf[8] = {};
    char* t = buf;
    const DiChar* s = in;
    EXPECT_EQ(4, diTextToLatin1(&t, buf + sizeof buf, &s, nullptr));
    EXPECT_EQ(Bytes("A\xE9??"), Bytes(buf, t));
}

TEST(Latin1, WideningCountsBytesAndZeroExtends) {
    const char in[] = "a\xE9\xFF";
    DiChar buf[2];
    DiChar* t = buf;
    const char* s = in;
    EXPECT_EQ(4, diTextFromLatin1(&t, buf + 2, &s, nullptr));
    EXPECT_EQ(Units(u"a\u00e9"), Units(buf, t));
    EXPECT_EQ(in + 2, s);
}

TEST(Dup, ResultsAreTerminatedAndSizedForTheWorstCase) {
    const DiChar wide[] = u"\u20ac\u20acx";
    char* u = diTextToUtf8Dup(wide, 3);
    ASSERT_NE(nullptr, u);
    EXPECT_STREQ("\xE2\x82\xAC\xE2\x82\xAC"
                 "x",
                 u);
    free(u);
    DiChar* w = diTextFromUtf8Dup("h\xC3\xA9!", 2); // the count cuts the sequence
    ASSERT_NE(nullptr, w);
    EXPECT_EQ(Units(u"h\uFFFD"), Units(w));
    free(w);
    DiChar* lw = diTextFromLatin1Dup("\xE9", 1);
    ASSERT_NE(nullptr, lw);
    EXPECT_EQ(Units(u"\u00e9"), Units(lw));
    free(lw);
}

// Each byte that starts no legal sequence becomes U+FFFD; the text goes on.
TEST(Dup, BadBytesAreReplacedAndTheRestKept) {
    const std::pair<Bytes, Units> cases[] = {
        {"Jos\xE9 Garc\xED\x61", u"Jos\uFFFD Garc\uFFFDa"},
        {"a\x80\xBF!", u"a\uFFFD\uFFFD!"},
        {"ab\xE2\x82", u"ab\uFFFD\uFFFD"},
        {"\xC0\xAF/", u"\uFFFD\uFFFD/"},
        {"\xED\xA0\x80z", u"\uFFFD\uFFFD\uFFFDz"},
        {"\xF4\x90\x80\x80!", u"\uFFFD\uFFFD\uFFFD\uFFFD!"},
    };
    for (const auto& c : cases) {
        DiChar* w = diTextFromUtf8Dup(c.first.data(), c.first.size());
        ASSERT_NE(nullptr, w);
        EXPECT_EQ(c.second, Units(w)) << testing::PrintToString(c.first);
        free(w);
    }
}

TEST(Dup, SizesThatWouldWrapAreRefused) {
    EXPECT_EQ(nullptr, diTextToUtf8Dup(u"", SIZE_MAX / 3));
    EXPECT_EQ(nullptr, diTextFromUtf8Dup("", SIZE_MAX / 2));
    EXPECT_EQ(nullptr, diTextFromLatin1Dup("", SIZE_MAX / 2));
}

TEST(StrLowerAscii, OnlyAsciiLettersWithinTheCount) {
    DiChar t[] = u"AbZ\u00c9QQ";
    diStrLowerAscii(t, 5);
    EXPECT_EQ(Units(u"abz\u00c9qQ"), Units(t));
}

struct WildCase {
    const DiChar* text;
    const DiChar* pattern;
    DiChar escape;
    bool match;
};

TEST(Wildcard, MatchesWholeTextAgainstWholePattern) {
    const WildCase cases[] = {
        {u"abc", u"a*c", 0, true},
        {u"ac", u"a*c", 0, true},
        {u"ab", u"a*c", 0, false},
        {u"abc", u"a?c", 0, true},
        {u"ac", u"a?c", 0, false},
        {u"a*c", u"a\\*c", u'\\', true},
        {u"abc", u"a\\*c", u'\\', false},
        {u"a\\c", u"a\\\\c", u'\\', true},
        {u"", u"", 0, true},
        {u"x", u"", 0, false},
        {u"", u"*", 0, true},
        {u"a", u"a*", 0, true},
        // A '*' met at the end of the text fails unless the pattern ends.
        {u"a", u"a**", 0, false},
        {u"", u"*a", 0, false},
        {u"ab", u"**", 0, true},
        // An escape that ends the pattern matches only the end of the text.
        {u"ab", u"ab\\", u'\\', true},
        {u"abc", u"ab\\", u'\\', false},
        {u"abc", u"a*\\", u'\\', false},
        {u"abcbd", u"a*b?", 0, true},
        {u"abcbd", u"a*bc", 0, false},
        {u"mississippi", u"m*iss*ppi", 0, true},
        {u"ABC", u"abc", 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(Units(c.pattern)));
        EXPECT_EQ(c.match, diWildcardMatch(c.text, c.pattern, c.escape));
    }
}

TEST(Wildcard, ManyStarsDoNotBacktrackExponentially) {
    Units text(4000, u'a');
    EXPECT_FALSE(diWildcardMatch(text.c_str(), u"*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b", 0));
    EXPECT_TRUE(diWildcardMatch(text.c_str(), u"*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a", 0));
}

TEST(Wildcard, NoCaseAndLists) {
    EXPECT_TRUE(diWildcardMatchNoCase(u"Host1.Example", u"*.EXAMPLE", 0));
    EXPECT_TRUE(diWildcardMatchList(u"HOST1", u"  *.example ,  host1  ", u',', 0));
    EXPECT_TRUE(diWildcardMatchList(u"a.example", u"*.example,host1", u',', 0));
    EXPECT_FALSE(diWildcardMatchList(u"host2", u"*.example,host1", u',', 0));
    EXPECT_FALSE(diWildcardMatchList(u"x", nullptr, u',', 0));
    // Empty items match nothing, not even an empty text.
    EXPECT_FALSE(diWildcardMatchList(u"", u" , ,", u',', 0));
    // Items of 512 units or more are ignored.
    Units item511(510, u'x'), item512(511, u'x');
    Units list = item512 + u"*,other";
    EXPECT_FALSE(diWildcardMatchList((item512 + u"y").c_str(), list.c_str(), u',', 0));
    list = item511 + u"*,other";
    EXPECT_TRUE(diWildcardMatchList((item511 + u"y").c_str(), list.c_str(), u',', 0));
}

struct SplitCase {
    const DiChar* line;
    std::vector<Units> args;
};

std::vector<Units> split(const DiChar* line, size_t* argcOut = nullptr) {
    size_t argc = 0, nchars = 0;
    diSplitCommandLine(line, nullptr, nullptr, &argc, &nchars);
    std::vector<DiChar*> argv(argc + 1, reinterpret_cast<DiChar*>(1));
    std::vector<DiChar> chars(nchars + 1, 0x7777);
    size_t argc2 = 0, nchars2 = 0;
    diSplitCommandLine(line, argv.data(), chars.data(), &argc2, &nchars2);
    EXPECT_EQ(argc, argc2);
    EXPECT_EQ(nchars, nchars2);
    EXPECT_EQ(nullptr, argv[argc - 1]);
    EXPECT_EQ(0x7777, chars[nchars]); // nothing past the counted units
    if (argcOut) *argcOut = argc;
    std::vector<Units> out;
    for (size_t i = 0; i + 1 < argc; i++)
        out.push_back(argv[i]);
    return out;
}

TEST(SplitCommandLine, FollowsTheRuntimeArgumentRules) {
    const SplitCase cases[] = {
        {u"prog a b", {u"prog", u"a", u"b"}},
        {u"\"C:\\Program Files\\x.exe\" -url  \t x", {u"C:\\Program Files\\x.exe", u"-url", u"x"}},
        {u"prog \"a b\" c", {u"prog", u"a b", u"c"}},
        {u"prog a\\\\\"b c\"", {u"prog", u"a\\b c"}},
        {u"prog a\\\\\\\"b", {u"prog", u"a\\\"b"}},
        {u"prog a\\b\\\\c", {u"prog", u"a\\b\\\\c"}},
        // Two quotes inside quotes: a literal quote, and quoting ends.
        {u"prog \"a\"\"b c\"", {u"prog", u"a\"b", u"c"}},
        {u"prog \"\"", {u"prog", u""}},
        {u"prog", {u"prog"}},
        {u"", {u""}},
        {u"\"unterminated prog", {u"unterminated prog"}},
        {u"p\\\"q r", {u"p\\\"q", u"r"}},
        {u"prog \"open", {u"prog", u"open"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(Units(c.line)));
        EXPECT_EQ(c.args, split(c.line));
    }
}

TEST(SplitCommandLine, CountsIncludeTheClosingEntryAndEveryNul) {
    size_t argc = 0, nchars = 0;
    diSplitCommandLine(u"ab c", nullptr, nullptr, &argc, &nchars);
    EXPECT_EQ(3u, argc);
    EXPECT_EQ(5u, nchars);
}

struct FormatCase {
    const DiChar* format;
    std::vector<DiFmtArg> args;
    const DiChar* out;
};

TEST(FormatPositional, FormatsMarkersAndConversions) {
    const FormatCase cases[] = {
        {u"%2$s likes %1$s", {u"tea", u"Ann"}, u"Ann likes tea"},
        {u"only %1$s here", {u"one"}, u"only one here"},
        {u"only %s here", {u"one"}, u"only one here"},
        // A repeated marker takes its own argument each time.
        {u"%1$s and %1$s", {u"x"}, u"x and x"},
        {u"%2$d-%1$d-%2$d", {1, 2}, u"2-1-2"},
        {u"%d %i %u", {-5, 7, 4294967295u}, u"-5 7 4294967295"},
        {u"%x %X %#x %08X", {255, 255, 255, 0xBEEF}, u"ff FF 0xff 0000BEEF"},
        {u"[%5d][%-5d][%05d][%+d][% d]", {42, 42, -42, 3, 3}, u"[   42][42   ][-0042][+3][ 3]"},
        {u"[%.3d][%.0d]", {7, 0}, u"[007][]"},
        {u"[%6s][%-6s][%.2s]", {u"abc", u"abc", u"abc"}, u"[   abc][abc   ][ab]"},
        {u"%c%c 100%%", {DiChar(u'o'), DiChar(u'k')}, u"ok 100%"},
        {u"%ls %ld %lu", {u"w", 1, 2}, u"w 1 2"},
        {u"%s", {}, u"(null)"},
        {u"%s", {static_cast<const DiChar*>(nullptr)}, u"(null)"},
        {u"%d/%s", {}, u"0/(null)"},
        {u"%3$s", {u"a"}, u"(null)"},
        {u"trailing %", {}, u"trailing "},
        {u"%q", {1}, u"q"},
        // A NUL character never cuts the text short.
        {u"[%c][%2c]", {0, 0}, u"[][  ]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(Units(c.format)));
        DiChar buf[64];
        int n = diFormatPositional(buf, 64, c.format, c.args.data(), c.args.size());
        EXPECT_EQ(Units(c.out), Units(buf));
        EXPECT_EQ(static_cast<int>(Units(c.out).size()), n);
    }
}

TEST(FormatPositional, TruncatesWithinTheSizeAndTerminates) {
    DiChar buf[8];
    for (auto& u : buf)
        u = 0x7777;
    EXPECT_EQ(-1, diFormatPositional(buf, 4, u"%1$s!", {u"abcdef"}));
    EXPECT_EQ(Units(u"abc"), Units(buf));
    EXPECT_EQ(0x7777, buf[4]);
    // Output that fills the size exactly leaves no room for the NUL.
    EXPECT_EQ(-1, diFormatPositional(buf, 4, u"abcd", {}));
    EXPECT_EQ(Units(u"abc"), Units(buf));
    EXPECT_EQ(3, diFormatPositional(buf, 4, u"abc", {}));
    EXPECT_EQ(-1, diFormatPositional(buf, 0, u"", {}));
    EXPECT_EQ(-1, diFormatPositional(buf, 8, u"%999999999d", {1}));
    EXPECT_EQ(Units(u"       "), Units(buf));
}

} // namespace
