// The log file's writer thread and the window's row hand-over: order and
// wholeness under concurrent logging, the entry and byte limits, a failing
// disk, a hung one, and what entries may carry into the line-per-entry file.
#include "session/dilogfile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

/* Collects the bytes; fails every write from `failFrom` on; blocks while
 * `hold` is set. */
struct MemSink : DiLogSink {
    std::shared_ptr<std::string> bytes = std::make_shared<std::string>();
    int writes = 0, failFrom = -1;
    std::mutex* gate = nullptr;
    bool Write(const void* data, size_t size) override {
        if (gate) std::lock_guard<std::mutex> wait(*gate);
        if (failFrom >= 0 && writes++ >= failFrom) return false;
        bytes->append(static_cast<const char*>(data), size);
        return true;
    }
};

std::vector<std::string> Lines(const std::string& utf16) {
    std::vector<std::string> lines;
    std::string cur;
    for (size_t i = 0; i + 1 < utf16.size(); i += 2) {
        EXPECT_EQ(utf16[i + 1], 0) << "non-ASCII unit in the test's text";
        cur += utf16[i];
        if (cur.size() >= 2 && cur.compare(cur.size() - 2, 2, "\r\n") == 0) {
            lines.push_back(cur.substr(0, cur.size() - 2));
            cur.clear();
        }
    }
    EXPECT_EQ(cur, "") << "a line without CR LF";
    return lines;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> f;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
        f.push_back(line.substr(start, tab - start));
    f.push_back(line.substr(start));
    return f;
}

std::u16string U16(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

/* Records the rows the window would show. */
struct RowLog : CLogFileCore {
    std::vector<std::u16string> rows;
    int wakes = 0;
    void AddRows(CLogEntry* const* e, size_t n) override {
        for (size_t i = 0; i < n; i++)
            rows.push_back(e[i]->text);
    }
    void RemoveRow(CLogEntry* e) override {
        for (size_t i = 0; i < rows.size(); i++)
            if (rows[i] == e->text) {
                rows.erase(rows.begin() + i);
                return;
            }
        ADD_FAILURE() << "removed a row never shown";
    }
    void ShowRows() { StartRows(); }
};

TEST(LogFile, ConcurrentLinesAreWholeNumberedOnceAndInOrder) {
    const int kThreads = 8, kLines = 10000;
    auto* log = new CLogFileCore();
    log->level = DI_LOG_INFO;
    auto* sink = new MemSink();
    auto bytes = sink->bytes;
    log->OpenFile(sink, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++)
        threads.emplace_back([=] {
            for (int i = 0; i < kLines; i++)
                log->AddText(DI_LOG_INFO,
                             U16("t" + std::to_string(t) + " " + std::to_string(i)).c_str());
        });
    for (auto& th : threads)
        th.join();
    delete log; /* waits for the writer */
    std::vector<std::string> lines = Lines(*bytes);
    ASSERT_EQ(lines.size(), size_t(kThreads * kLines));
    std::vector<int> next(kThreads, 0);
    for (size_t n = 0; n < lines.size(); n++) {
        std::vector<std::string> f = Fields(lines[n]);
        ASSERT_EQ(f.size(), 4u) << lines[n];
        EXPECT_EQ(f[0], "Info");
        ASSERT_EQ(f[1], std::to_string(n + 1));
        int t = 0, i = 0;
        ASSERT_EQ(sscanf(f[3].c_str(), "t%d %d", &t, &i), 2) << f[3];
        ASSERT_EQ(i, next[t]++) << "thread " << t << " out of order";
    }
}

TEST(LogFile, EntryAndByteLimits) {
    /* The entry cap: the oldest leave, the numbering goes on. */
    {
        CLog log;
        for (uint32_t i = 0; i < log.maxEntries + 10; i++)
            log.AddText(DI_LOG_ERROR, u"x");
        EXPECT_EQ(log.GetCount(), 50000u);
        EXPECT_EQ(log.GetEntries()->head->item->sequence, 10u);
        EXPECT_EQ(log.GetEntries()->tail->item->sequence, 50009u);
    }
    /* The byte cap: whole lines, then one line saying so, never past it. */
    struct Case {
        uint64_t max;
        int entries;
    } cases[] = {{4096, 100}, {1024 + 200, 10}, {1100, 3}};
    for (const Case& c : cases) {
        auto* log = new CLogFileCore();
        auto* sink = new MemSink();
        auto bytes = sink->bytes;
        log->OpenFile(sink, nullptr, c.max);
        for (int i = 0; i < c.entries; i++)
            log->AddText(DI_LOG_ERROR, u"an entry of some length");
        EXPECT_EQ(log->GetCount(), uint32_t(c.entries)) << "the list keeps them all";
        delete log;
        EXPECT_LE(bytes->size(), c.max);
        std::vector<std::string> lines = Lines(*bytes);
        ASSERT_FALSE(lines.empty()) << c.max;
        std::vector<std::string> last = Fields(lines.back());
        EXPECT_EQ(last[0], "Warning") << c.max;
        EXPECT_NE(last[3].find("size limit"), std::string::npos);
        EXPECT_EQ(last[1], std::to_string(lines.size())) << "numbered as the entry it replaces";
    }
}

TEST(LogFile, FailedWriteStopsTheFileWithOneError) {
    RowLog* log = new RowLog();
    std::atomic<int> wakes{0};
    auto* sink = new MemSink();
    sink->failFrom = 1;
    auto bytes = sink->bytes;
    log->OpenFile(sink, [&] { wakes++; });
    log->AddText(DI_LOG_ERROR, u"one");
    ASSERT_TRUE(log->Flush(10000));
    log->AddText(DI_LOG_ERROR, u"two");
    ASSERT_TRUE(log->Flush(10000));
    log->AddText(DI_LOG_ERROR, u"three");
    ASSERT_TRUE(log->Flush(10000));
    EXPECT_GE(wakes.load(), 1);
    log->Drain();
    log->Drain();
    ASSERT_EQ(log->GetCount(), 4u);
    EXPECT_NE(std::u16string(log->GetEntries()->tail->item->text).find(u"failed"),
              std::u16string::npos);
    delete log;
    EXPECT_EQ(Lines(*bytes).size(), 1u);
}

TEST(LogFile, HungFileNeverHoldsLoggingOrDestruction) {
    static std::mutex gate; /* outlives the writer left behind */
    gate.lock();
    auto* log = new CLogFileCore();
    auto* sink = new MemSink();
    sink->gate = &gate;
    log->OpenFile(sink, nullptr);
    for (int i = 0; i < 1000; i++)
        log->AddText(DI_LOG_ERROR, u"queued behind a hung write");
    diLogSet(log);
    delete log; /* gives up on the writer after its wait */
    EXPECT_EQ(diLogGet(), nullptr);
    diLogErrorText(u"after the logger"); /* the shut-down path logs late */
    gate.unlock();
}

TEST(LogFile, WindowRowsFollowTheListAcrossTheCap) {
    RowLog log;
    log.maxEntries = 3;
    log.AddText(DI_LOG_ERROR, u"a");
    log.AddText(DI_LOG_ERROR, u"b");
    log.ShowRows();
    EXPECT_EQ(log.rows, (std::vector<std::u16string>{u"a", u"b"}));
    for (const char16_t* t : {u"c", u"d", u"e", u"f"})
        log.AddText(DI_LOG_ERROR, t);
    log.Drain(); /* deletes the retired entries only now */
    EXPECT_EQ(log.rows, (std::vector<std::u16string>{u"d", u"e", u"f"}));
}

TEST(LogEntry, TextIsOneLineWithoutTheConnectionToken) {
    struct Case {
        const char16_t* in;
        const char16_t* kept;
    } cases[] = {
        {u"forged\r\nError\t1\t2026/01/01 00:00:00\tx",
         u"forged  Error\t1\t2026/01/01 00:00:00\tx"},
        {u"a\x01\x1f\x7f b", u"a  \x7f b"},
        {u"Showing http://h/p?a=1&connectiontoken=SECRET&b=2 in new client browser.",
         u"Showing http://h/p?a=1&connectiontoken=***&b=2 in new client browser."},
        {u"http://h/?soport=5&ConnectionToken=SECRET", u"http://h/?soport=5&ConnectionToken=***"},
        {u"connectiontoken=ab c", u"connectiontoken=** c"},
        {u"connectiontoken=", u"connectiontoken="},
        {u"connectiontoke", u"connectiontoke"},
    };
    for (const Case& c : cases) {
        CLogEntry e(DI_LOG_INFO, 0, c.in);
        EXPECT_EQ(std::u16string(e.text), std::u16string(c.kept));
    }
}

} // namespace
