/* The log file's portable half: every entry's file line goes, in order and
 * whole, to one writer thread that owns the file, so a slow or hung log
 * folder never stalls the thread that logs; rows for the event-log window
 * are handed to the GUI thread in batches. The Windows logger (ddlog.cpp)
 * gives it the file, the wake-up of the GUI thread and the window. */
#ifndef HV_DILOGFILE_H
#define HV_DILOGFILE_H

#include "core/dilog.h"

#include <functional>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

/* Where the writer thread puts the bytes; owned by the writer, deleted on
 * its thread when it ends (which closes the file). */
class DiLogSink {
  public:
    virtual ~DiLogSink() {}
    /* All `size` bytes, or false (disk full, broken pipe...). */
    virtual bool Write(const void* data, size_t size) = 0;
};

class CLogFileCore : public CLog {
  public:
    /* The file stops short of this size with one last line saying so. */
    static constexpr uint64_t kMaxFileBytes = 256ull << 20;
    /* How long destruction waits for the writer before leaving it. */
    static constexpr int kStopWaitMs = 3000;

    CLogFileCore();
    /* No longer the program's logger; the writer gets kStopWaitMs to write
     * what is queued. */
    ~CLogFileCore() override;

    /* Starts the writer thread on `sink` (adopted). `wake` is called from
     * any thread when Drain has work; it must not call back into the
     * logger. */
    void OpenFile(DiLogSink* sink, std::function<void()> wake, uint64_t maxBytes = kMaxFileBytes);
    /* GUI thread: puts the rows logged since the last call into the window
     * (AddRows, RemoveRow) and reports a failed write once as an Error. */
    void Drain();
    /* Waits until every queued byte was handed to the sink, at most `ms`;
     * false on time-out. */
    bool Flush(int ms);

    void ShowEntry(CLogEntry* entry) override;
    void WriteEntry(CLogEntry* entry) override;
    void Retire(CLogEntry* entry) override;

  protected:
    /* GUI thread: the window shows rows from now on; under the lock, every
     * kept entry is given to AddRows and nothing pending is replayed. */
    void StartRows();
    /* Window hooks, GUI thread only. */
    virtual void AddRows(CLogEntry* const*, size_t) {}
    virtual void RemoveRow(CLogEntry*) {}

  private:
    struct Writer;
    std::shared_ptr<Writer> writer;
    std::thread thread;
    std::function<void()> wake;
    /* Entries to show (false) or to take out and delete (true), in order. */
    std::vector<std::pair<CLogEntry*, bool>> pending;
    bool rowsShown = false;
    void QueueRow(CLogEntry* entry, bool retired);
};

#endif
