/* The program-wide event log: numbered messages and literal texts with a
 * level, kept as entries in an owning list. The concrete logger (log file,
 * event-log window) derives from CLog and fills the two notifications. */
#ifndef HV_DILOG_H
#define HV_DILOG_H

#include "core/diutil.h"
#include "di.h"
#include "xml/qvlxml.h"

#include <initializer_list>
#include <mutex>
#include <time.h>

class CQVLSOAPFault;

/* Entry levels; a logger level of 0 logs nothing, 3 everything. */
enum { DI_LOG_NONE = 0, DI_LOG_ERROR = 1, DI_LOG_WARNING = 2, DI_LOG_INFO = 3 };

/* A row of a sortable table: its column texts and an order per column. */
class IDiTableRow {
  public:
    virtual ~IDiTableRow() {}
    virtual const DiChar* GetColumnText(int column) = 0;
    virtual int Compare(IDiTableRow* other, int column) = 0;
};

class CLogEntry : public IDiTableRow {
  public:
    uint32_t level;
    uint32_t time;     /* seconds since 1970 */
    uint32_t sequence; /* entries the logger held when this one was made */
    DiChar* text;
    DiChar* timestamp; /* "YYYY/MM/DD hh:mm:ss", local time */
    DiChar* number;    /* sequence + 1, decimal */

    /* The text is kept as one line: C0 controls other than TAB become
     * spaces (server text must not forge entries in the line-per-entry log
     * file), and the value of a "connectiontoken" parameter becomes "***"
     * (the file is readable by other processes). */
    CLogEntry(uint32_t level, uint32_t sequence, const DiChar* text);
    /* With a given time instead of the current one. */
    CLogEntry(uint32_t level, uint32_t sequence, const DiChar* text, uint32_t when);
    ~CLogEntry() override;
    /* False when a text could not be allocated: such an entry is dropped. */
    bool IsValid() const { return text && timestamp && number; }

    /* level name, TAB, timestamp, TAB, text, CR LF. */
    virtual void WriteLine(CQVLPackBuffer* buffer);
    /* The log file's line: level name, TAB, number, TAB, timestamp, TAB,
     * text, CR LF. */
    void WriteFileLine(CQVLPackBuffer* buffer);
    const DiChar* GetColumnText(int column) override;
    int Compare(IDiTableRow* other, int column) override;
    const DiChar* GetLevelName() const;

    static DiChar* FormatNumber(uint32_t sequence);
    static DiChar* FormatTimestamp(uint32_t when);
};

class CLog {
  public:
    DiChar* fileName;
    uint32_t level;
    CQVLList<CLogEntry> entries;
    /* At most this many entries are kept; the oldest leave first while the
     * numbering goes on. */
    uint32_t maxEntries = 50000;

    CLog();
    virtual void WriteEntries(CQVLPackBuffer* buffer);
    virtual ~CLog();
    /* Remembers the event-log window's geometry (concrete logger). */
    virtual void SaveWindowSettings() {}
    /* Shows (true) or hides the event-log window (concrete logger). */
    virtual void ShowWindow(bool) {}
    /* Notifications of a new entry, filled by the concrete logger: show it
     * (event-log window) and write it (log file). They run under the
     * logger's lock, on whichever thread logged. */
    virtual void ShowEntry(CLogEntry*) {}
    virtual void WriteEntry(CLogEntry*) {}
    /* An entry that left the list (the cap); the logger owns it now and may
     * keep it until nothing shows it any more. Runs under the lock. */
    virtual void Retire(CLogEntry* entry) { delete entry; }

    void Destroy();
    void SetFileName(const DiChar* name);
    /* Numbers, keeps and announces under one lock, so entries logged from
     * several threads get each number once, in the order they are kept. */
    void Add(CLogEntry* adopted);
    void AddMessage(uint32_t level, uint32_t message);
    void AddMessageArgs(uint32_t level, uint32_t message, const DiFmtArg* args, size_t count);
    void AddText(uint32_t level, const DiChar* text);
    /* An entry made at `when` (seconds since 1970), numbered now. */
    void AddText(uint32_t level, const DiChar* text, uint32_t when);
    uint32_t GetCount() const { return entries.count; }
    /* The list; hold Lock() while walking it when other threads may log. */
    CQVLList<CLogEntry>* GetEntries() { return &entries; }
    std::unique_lock<std::mutex> Lock() { return std::unique_lock<std::mutex>(mutex); }

  private:
    std::mutex mutex;
    uint32_t nextSequence = 0;
    void AddLocked(CLogEntry* entry);
};

/* Loads message N (the string resource N + 500 of the user's language) into
 * `buffer` of `size` units, NUL-terminated; false when there is none. The
 * Windows layer installs the resource loader; without one every message is
 * empty. */
typedef bool (*DiLogMessageLoader)(uint32_t message, DiChar* buffer, size_t size);
void diLogSetMessageLoader(DiLogMessageLoader loader);
/* Message N through the installed loader; false (and an empty buffer) when
 * there is none. */
bool diLogLoadMessage(uint32_t message, DiChar* buffer, size_t size);

/* The global logger; none until the session subsystem makes one. Setting
 * one hands it what was held for it (below). */
void diLogSet(CLog* log);
/* Start-up calls this before anything can log: from then until the first
 * logger is set, every entry is kept (with its time, at most 256) and goes
 * to that logger, as far as its level takes it, when it is set. */
void diLogHoldUntilSet();
CLog* diLogGet();

void diLogError(uint32_t message);
void diLogWarning(uint32_t message);
void diLogInfo(uint32_t message);
/* The message formatted with its "%1$s"-style markers (at most 1024 units). */
void diLogErrorArgs(uint32_t message, std::initializer_list<DiFmtArg> args);
void diLogWarningArgs(uint32_t message, std::initializer_list<DiFmtArg> args);
void diLogInfoArgs(uint32_t message, std::initializer_list<DiFmtArg> args);
void diLogErrorText(const DiChar* text);
void diLogSoapFault(CQVLSOAPFault* fault);
const DiChar* diLogGetFileName();
const DiChar* diLogLevelName();
void diLogSetLevelByName(const DiChar* text);

/* The local time of `when` (seconds since 1970) as the user's clock shows
 * it. On Windows that is the system's own zone conversion, the one its clock
 * and the system-information report use: the C runtime's reads a TZ
 * variable in its own syntax and takes a zone name (Europe/Berlin) as UTC.
 * Natively, the C library's. False when the time cannot be converted. */
bool ddLogLocalTime(uint32_t when, struct tm* out);

#endif
