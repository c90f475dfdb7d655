// Logger: levels, entries, numbering, the two line formats and the global
// functions.
#include "core/dilog.h"
#include "xml/qvlsoap.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>
#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::u16string U16(const DiChar* t) {
    return t ? std::u16string(t) : std::u16string();
}

/* Records the notifications. */
struct RecordingLog : CLog {
    std::vector<std::string> calls;
    void ShowEntry(CLogEntry* e) override {
        calls.push_back("show " + std::to_string(e->sequence));
    }
    void WriteEntry(CLogEntry* e) override {
        calls.push_back("write " + std::to_string(e->sequence));
    }
};

bool TestLoader(uint32_t message, DiChar* buffer, size_t size) {
    const char16_t* text = message == 1   ? u"first"
                           : message == 2 ? u"%2$s likes %1$s"
                           : message == 3 ? u"count %1$d of %2$s"
                                          : nullptr;
    if (!text) return false;
    size_t i = 0;
    for (; text[i] && i + 1 < size; i++)
        buffer[i] = text[i];
    buffer[i] = 0;
    return true;
}

class LogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        diLogSetMessageLoader(TestLoader);
        diLogSet(&log);
    }
    void TearDown() override {
        diLogSet(nullptr);
        diLogSetMessageLoader(nullptr);
    }
    std::vector<std::u16string> Texts() {
        std::vector<std::u16string> v;
        for (auto* n = log.GetEntries()->head; n; n = n->next)
            v.push_back(U16(n->item->text));
        return v;
    }
    RecordingLog log;
};

TEST_F(LogTest, LevelDecidesWhatIsLogged) {
    struct Case {
        uint32_t level;
        size_t logged; // of error, warning, info
    } cases[] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}};
    for (const Case& c : cases) {
        log.entries.Clear();
        log.level = c.level;
        diLogError(1);
        diLogWarning(1);
        diLogInfo(1);
        EXPECT_EQ(log.GetCount(), c.logged) << c.level;
    }
    EXPECT_EQ(CLog().level, 1u); // errors only at construction
}

TEST_F(LogTest, EntriesAreNumberedFromTheCountBeforeAppend) {
    log.level = 3;
    diLogErrorText(u"a");
    diLogWarning(1);
    diLogInfoArgs(2, {u"tea", u"Ann"});
    ASSERT_EQ(log.GetCount(), 3u);
    CLogEntry* third = log.GetEntries()->tail->item;
    EXPECT_EQ(third->sequence, 2u);
    EXPECT_EQ(U16(third->number), u"3");
    EXPECT_EQ(third->level, 3u);
    EXPECT_EQ(Texts(), (std::vector<std::u16string>{u"a", u"first", u"Ann likes tea"}));
    EXPECT_EQ(log.calls, (std::vector<std::string>{"show 0", "write 0", "show 1", "write 1",
                                                   "show 2", "write 2"}));
}

TEST_F(LogTest, MessageTextsAndFallbacks) {
    log.level = 3;
    diLogError(99);               // no such message: empty text
    diLogErrorArgs(3, {7, u"x"}); // numbers and texts by position
    diLogErrorText(nullptr);
    diLogSetMessageLoader(nullptr);
    diLogError(1); // no loader: empty
    EXPECT_EQ(Texts(), (std::vector<std::u16string>{u"", u"count 7 of x", u"", u""}));
}

TEST_F(LogTest, SoapFaultText) {
    log.level = 1;
    CQVLSOAPFault both, code, text, none;
    both.SetFaultCode(u"c");
    both.SetFaultString(u"s");
    code.SetFaultCode(u"c");
    text.SetFaultString(u"s");
    for (CQVLSOAPFault* f : {&both, &code, &text, &none})
        diLogSoapFault(f);
    EXPECT_EQ(Texts(), (std::vector<std::u16string>{u"c: s", u"c", u"s",
                                                    u"SOAP Fault received from server"}));
}

TEST_F(LogTest, LevelWordsAndCommands) {
    struct Case {
        const char16_t* command;
        uint32_t level;
        const char16_t* word;
    } cases[] = {
        {u"logging_all", 3, u"info"},
        {u"logging_off", 0, u"none"},
        {u"logging_errorsandwarningsonly", 2, u"warnings"},
        {u"logging_errorsonly", 1, u"errors"},
        {u"logging_ALL", 1, u"errors"}, // exact match only: unchanged
        {u"", 1, u"errors"},
    };
    for (const Case& c : cases) {
        diLogSetLevelByName(c.command);
        EXPECT_EQ(log.level, c.level) << std::string(c.command, c.command + 0);
        EXPECT_EQ(U16(diLogLevelName()), c.word);
    }
    log.SetFileName(u"C:\\logs\\drx.txt");
    EXPECT_EQ(U16(diLogGetFileName()), u"C:\\logs\\drx.txt");
}

TEST(Log, WithoutLoggerNothingHappens) {
    diLogSet(nullptr);
    diLogError(1);
    diLogErrorText(u"x");
    diLogSoapFault(nullptr);
    diLogSetLevelByName(u"logging_all");
    EXPECT_EQ(diLogGetFileName(), nullptr);
    EXPECT_EQ(U16(diLogLevelName()), u"none");
}

// What start-up logs before the logger exists reaches the first one set,
// in order, with its own time and as far as that logger's level goes; a
// later gap without a logger keeps nothing.
TEST(Log, StartupEntriesWaitForTheFirstLogger) {
    diLogSet(nullptr);
    diLogSetMessageLoader(TestLoader);
    uint32_t before = static_cast<uint32_t>(time(nullptr));
    diLogHoldUntilSet();
    diLogErrorText(u"Certificates: an unreadable hostsvisited was kept as x.bad");
    diLogInfoArgs(3, {7, u"info"});
    diLogWarningArgs(2, {u"tea", u"ann"});
    RecordingLog log;
    log.level = DI_LOG_WARNING;
    diLogSet(&log);
    std::vector<std::u16string> texts;
    for (auto* n = log.GetEntries()->head; n; n = n->next) {
        texts.push_back(U16(n->item->text));
        EXPECT_GE(n->item->time, before);
    }
    EXPECT_EQ(texts, (std::vector<std::u16string>{
                         u"Certificates: an unreadable hostsvisited was kept as x.bad",
                         u"ann likes tea"}));
    EXPECT_EQ(log.calls, (std::vector<std::string>{"show 0", "write 0", "show 1", "write 1"}));
    diLogSet(nullptr);
    diLogErrorText(u"after the logger went");
    RecordingLog next;
    diLogSet(&next);
    EXPECT_EQ(next.GetCount(), 0u);
    diLogSet(nullptr);
    diLogSetMessageLoader(nullptr);
}

std::string Bytes(const CQVLPackBuffer& b) {
    return std::string(reinterpret_cast<const char*>(b.data), b.length);
}

TEST(LogEntry, TwoLineFormats) {
    CLogEntry e(2, 4, u"disk \u00e9", 0);
    std::string ts(e.timestamp, e.timestamp + 19);
    CQVLPackBuffer line(QVL_ENC_UTF8, QVL_MODE_MARKUP);
    e.WriteLine(&line);
    EXPECT_EQ(Bytes(line), "Warning\t" + ts + "\tdisk \xc3\xa9\r\n");
    CQVLPackBuffer file(QVL_ENC_UTF8, QVL_MODE_MARKUP);
    e.WriteFileLine(&file);
    EXPECT_EQ(Bytes(file), "Warning\t5\t" + ts + "\tdisk \xc3\xa9\r\n");
    CLog log;
    log.Add(new CLogEntry(1, 0, u"a", 0));
    log.Add(new CLogEntry(3, 1, u"b", 0));
    CQVLPackBuffer all(QVL_ENC_ANSI7, QVL_MODE_MARKUP);
    log.WriteEntries(&all);
    EXPECT_EQ(Bytes(all), "Error\t" + ts + "\ta\r\nInfo\t" + ts + "\tb\r\n");
}

TEST(LogEntry, TimestampShape) {
    // Local time, within a day either side in any time zone; the second one
    // lies past the end of a 32-bit time_t.
    const struct {
        uint32_t when;
        const char16_t* day;
    } cases[] = {{1700000000u, u"2023/11/"}, {2200000000u, u"2039/09/"}};
    for (const auto& c : cases) {
        DiChar* t = CLogEntry::FormatTimestamp(c.when);
        std::u16string s = U16(t);
        free(t);
        ASSERT_EQ(s.size(), 19u);
        for (size_t i = 0; i < s.size(); i++) {
            char16_t want = i == 4 || i == 7     ? u'/'
                            : i == 10            ? u' '
                            : i == 13 || i == 16 ? u':'
                                                 : 0;
            if (want)
                EXPECT_EQ(s[i], want) << i;
            else
                EXPECT_TRUE(s[i] >= u'0' && s[i] <= u'9') << i;
        }
        EXPECT_TRUE(s.substr(0, 8) == c.day) << std::string(s.begin(), s.end());
    }
}

// Run with the wall clock moved (tests/core/clock_shift.sh): an entry made
// now carries the year that clock shows.
TEST(LogEntry, StampsTheYearOfTheClock) {
    const char* year = getenv("HV_CLOCK_YEAR");
    if (!year) GTEST_SKIP() << "runs with the wall clock moved";
    CLogEntry e(1, 0, u"now");
    DiChar* t = CLogEntry::FormatTimestamp(e.time);
    std::u16string s = U16(t);
    free(t);
    EXPECT_EQ(std::string(s.begin(), s.end()).substr(0, 5), std::string(year) + "/");
}

#ifdef _WIN32
// A stamp shows the Windows clock, however TZ names the zone: also run with
// TZ=Europe/Berlin, a zone name the C runtime takes as UTC.
TEST(LogEntry, StampsTheWindowsLocalTime) {
    auto clock = [] {
        SYSTEMTIME st;
        GetLocalTime(&st);
        char s[32];
        snprintf(s, sizeof s, "%04u/%02u/%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay,
                 st.wHour, st.wMinute, st.wSecond);
        return std::string(s);
    };
    std::string before = clock();
    CLogEntry e(1, 0, u"now");
    std::string after = clock();
    std::string stamp(e.timestamp, e.timestamp + 19);
    EXPECT_TRUE(before <= stamp && stamp <= after)
        << "stamp " << stamp << ", clock " << before << " .. " << after;
}
#endif

TEST(LogEntry, ColumnsAndOrdering) {
    CLogEntry a(1, 0, u"b", 100), b(3, 1, u"a", 200), c(7, 2, nullptr, 100);
    EXPECT_EQ(U16(a.GetColumnText(0)), u"Error");
    EXPECT_EQ(U16(b.GetColumnText(0)), u"Info");
    EXPECT_EQ(U16(c.GetColumnText(0)), u"");
    EXPECT_EQ(U16(b.GetColumnText(1)), u"2");
    EXPECT_EQ(U16(a.GetColumnText(3)), u"b");
    EXPECT_EQ(U16(c.GetColumnText(3)), u"");
    EXPECT_EQ(U16(a.GetColumnText(9)), u"");
    EXPECT_LT(a.Compare(&b, 0), 0);
    EXPECT_LT(a.Compare(&b, 1), 0);
    EXPECT_EQ(a.Compare(&b, 2), -1);
    EXPECT_EQ(b.Compare(&a, 2), 1);
    EXPECT_EQ(a.Compare(&c, 2), 0);
    EXPECT_GT(a.Compare(&b, 3), 0);
    EXPECT_EQ(a.Compare(&b, 9), 0);
}

} // namespace
