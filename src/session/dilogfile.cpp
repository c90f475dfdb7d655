#include "session/dilogfile.h"

#include <string>

#include "core/ditimedwait.h"

namespace {
const DiChar kCapText[] =
    u"The log file reached its size limit: this entry and later ones are in the event log only.";
const DiChar kFailText[] = u"Writing the log file failed: later entries are in the event log only.";
/* Room kept below the limit for the last line. */
const uint64_t kCapReserve = 1024;
} // namespace

struct CLogFileCore::Writer {
    DiMutex m;
    DiCondition cv;
    std::unique_ptr<DiLogSink> sink;
    std::function<void()> wake;
    std::string queued;    /* bytes not yet handed to the sink */
    uint64_t accepted = 0; /* bytes ever queued */
    uint64_t maxBytes = 0;
    bool writing = false;  /* a Write call is under way */
    bool stopped = false;  /* no more lines are taken */
    bool failed = false;   /* a Write failed */
    bool reported = false; /* the failure was logged */
    bool quit = false;
    bool done = false;

    void Run() {
        std::unique_lock<DiMutex> hold(m);
        for (;;) {
            cv.wait(hold, [&] { return !queued.empty() || quit; });
            if (queued.empty()) break;
            std::string chunk;
            chunk.swap(queued);
            writing = true;
            hold.unlock();
            bool ok = sink->Write(chunk.data(), chunk.size());
            hold.lock();
            writing = false;
            if (!ok && !failed) {
                failed = stopped = true;
                queued.clear();
                if (wake) wake();
            }
            cv.notifyAll();
        }
        /* Closing the file may block as well: not under the lock. */
        std::unique_ptr<DiLogSink> closing(std::move(sink));
        hold.unlock();
        closing.reset();
        hold.lock();
        done = true;
        cv.notifyAll();
    }
};

CLogFileCore::CLogFileCore() {}

CLogFileCore::~CLogFileCore() {
    /* The shut-down path logs after the session is gone: nothing may
     * reach this object once it is being destroyed. */
    if (diLogGet() == this) diLogSet(nullptr);
    if (writer) {
        std::shared_ptr<Writer> w = writer;
        std::unique_lock<DiMutex> hold(w->m);
        w->quit = true;
        w->wake = nullptr;
        w->cv.notifyAll();
        bool ended = w->cv.waitFor(hold, kStopWaitMs, [&] { return w->done; });
        hold.unlock();
        /* A writer stuck in the file system keeps its own reference to the
         * state and ends whenever the write returns. */
        if (ended)
            thread.join();
        else
            thread.detach();
    }
    for (auto& p : pending)
        if (p.second) delete p.first;
}

void CLogFileCore::OpenFile(DiLogSink* sink, std::function<void()> wakeUp, uint64_t maxBytes) {
    auto lock = Lock();
    wake = wakeUp;
    if (writer || !sink) {
        delete sink;
        return;
    }
    std::shared_ptr<Writer> w = std::make_shared<Writer>();
    w->sink.reset(sink);
    w->wake = wakeUp;
    w->maxBytes = maxBytes;
    thread = std::thread([w] { w->Run(); });
    writer = w;
}

void CLogFileCore::WriteEntry(CLogEntry* entry) {
    if (!writer) return;
    CQVLPackBuffer b(QVL_ENC_UTF16, QVL_MODE_MARKUP);
    entry->WriteFileLine(&b);
    if (b.failed) return;
    std::lock_guard<DiMutex> hold(writer->m);
    Writer& w = *writer;
    if (w.stopped) return;
    if (w.accepted + b.length + kCapReserve > w.maxBytes) {
        /* The entry that does not fit is replaced by a line saying why the
         * file ends here; it keeps the entry's number and time. */
        CLogEntry last(DI_LOG_WARNING, entry->sequence, kCapText, entry->time);
        CQVLPackBuffer lb(QVL_ENC_UTF16, QVL_MODE_MARKUP);
        if (last.IsValid()) last.WriteFileLine(&lb);
        w.stopped = true;
        if (lb.failed || w.accepted + lb.length > w.maxBytes) return;
        w.queued.append(reinterpret_cast<const char*>(lb.data), lb.length);
        w.accepted += lb.length;
    } else {
        w.queued.append(reinterpret_cast<const char*>(b.data), b.length);
        w.accepted += b.length;
    }
    w.cv.notifyAll();
}

bool CLogFileCore::Flush(int ms) {
    if (!writer) return true;
    std::unique_lock<DiMutex> hold(writer->m);
    return writer->cv.waitFor(hold, ms > 0 ? uint32_t(ms) : 0u,
                              [&] { return writer->queued.empty() && !writer->writing; });
}

void CLogFileCore::QueueRow(CLogEntry* entry, bool retired) {
    bool first = pending.empty();
    pending.emplace_back(entry, retired);
    if (first && wake) wake();
}

void CLogFileCore::ShowEntry(CLogEntry* entry) {
    if (rowsShown) QueueRow(entry, false);
}

void CLogFileCore::Retire(CLogEntry* entry) {
    /* Until the window shows rows nothing points at the entry. */
    if (rowsShown)
        QueueRow(entry, true);
    else
        delete entry;
}

void CLogFileCore::StartRows() {
    auto lock = Lock();
    for (auto& p : pending)
        if (p.second) delete p.first;
    pending.clear();
    rowsShown = true;
    std::vector<CLogEntry*> all;
    all.reserve(entries.count);
    for (auto* n = entries.head; n; n = n->next)
        all.push_back(n->item);
    AddRows(all.data(), all.size());
}

void CLogFileCore::Drain() {
    std::vector<std::pair<CLogEntry*, bool>> work;
    {
        auto lock = Lock();
        work.swap(pending);
    }
    std::vector<CLogEntry*> batch;
    for (size_t i = 0; i <= work.size(); i++) {
        bool flush = i == work.size() || work[i].second;
        if (flush && !batch.empty()) {
            AddRows(batch.data(), batch.size());
            batch.clear();
        }
        if (i == work.size()) break;
        if (work[i].second) {
            RemoveRow(work[i].first);
            delete work[i].first;
        } else {
            batch.push_back(work[i].first);
        }
    }
    bool report = false;
    if (writer) {
        std::lock_guard<DiMutex> hold(writer->m);
        report = writer->failed && !writer->reported;
        writer->reported = writer->reported || report;
    }
    if (report && level >= DI_LOG_ERROR) AddText(DI_LOG_ERROR, kFailText);
}
