#include "core/dilog.h"
#include "xml/qvlsoap.h"
#include "xml/qvlxmlglobals.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <string>
#include <vector>

namespace {
const size_t kMessageMax = 1024;

CLog* g_log = nullptr;
DiLogMessageLoader g_loader = nullptr;

const DiChar kEmpty[1] = {0};

bool loadMessage(uint32_t message, DiChar* buffer, size_t size) {
    buffer[0] = 0;
    if (!g_loader || !g_loader(message, buffer, size)) {
        buffer[0] = 0;
        return false;
    }
    buffer[size - 1] = 0;
    return true;
}

DiChar* asciiDup(const char* s) {
    return qvlStrDupAscii(s);
}

/* What start-up logs before the logger exists, kept for it. */
struct Held {
    uint32_t level, time;
    std::u16string text;
};
const size_t kHeldMax = 256;
std::atomic<bool> g_holding{false};
std::mutex g_heldMutex;
std::vector<Held> g_held;

bool allows(uint32_t level) {
    return g_log ? g_log->level >= level : g_holding.load();
}

void addText(uint32_t level, const DiChar* text) {
    if (g_log) {
        g_log->AddText(level, text);
        return;
    }
    std::lock_guard<std::mutex> hold(g_heldMutex);
    if (g_holding && g_held.size() < kHeldMax)
        g_held.push_back(Held{level, static_cast<uint32_t>(::time(nullptr)), text ? text : kEmpty});
}

void formatMessage(uint32_t message, const DiFmtArg* args, size_t count, DiChar* text) {
    DiChar format[kMessageMax];
    text[0] = 0;
    if (loadMessage(message, format, kMessageMax))
        if (diFormatPositional(text, kMessageMax, format, args, count) < 0)
            text[kMessageMax - 1] = 0; /* cut to the limit */
}

void logMessage(uint32_t level, uint32_t message) {
    if (!allows(level)) return;
    DiChar text[kMessageMax];
    loadMessage(message, text, kMessageMax);
    addText(level, text);
}

void logArgs(uint32_t level, uint32_t message, std::initializer_list<DiFmtArg> args) {
    if (!allows(level)) return;
    DiChar text[kMessageMax];
    formatMessage(message, args.begin(), args.size(), text);
    addText(level, text);
}
} // namespace

/* ---- entries ---- */

CLogEntry::CLogEntry(uint32_t lvl, uint32_t seq, const DiChar* t)
    : CLogEntry(lvl, seq, t, static_cast<uint32_t>(::time(nullptr))) {}

/* A copy of `t` as one line with any "connectiontoken" value masked. */
static DiChar* cleanText(const DiChar* t) {
    static const char kKey[] = "connectiontoken=";
    const size_t keyLen = sizeof kKey - 1;
    size_t n = qvlStrLen(t);
    DiChar* out = static_cast<DiChar*>(malloc((n + 1) * sizeof(DiChar)));
    if (!out) return nullptr;
    size_t o = 0;
    for (size_t i = 0; i < n;) {
        bool key = i + keyLen <= n;
        for (size_t k = 0; key && k < keyLen; k++) {
            DiChar c = t[i + k];
            if (c >= 'A' && c <= 'Z') c = DiChar(c + 32);
            key = c == DiChar(kKey[k]);
        }
        if (!key) {
            DiChar c = t[i++];
            out[o++] = c < 0x20 && c != '\t' ? DiChar(' ') : c;
            continue;
        }
        for (size_t k = 0; k < keyLen; k++)
            out[o++] = t[i++];
        size_t end = i;
        while (end < n && t[end] != '&' && t[end] != '"' && t[end] != '\'' && t[end] != '<' &&
               t[end] > 0x20)
            end++;
        /* "***" never outgrows a value of three or more; a shorter one is
         * masked in its own length. */
        for (size_t k = 0; k < 3 && k < end - i; k++)
            out[o++] = '*';
        i = end;
    }
    out[o] = 0;
    return out;
}

CLogEntry::CLogEntry(uint32_t lvl, uint32_t seq, const DiChar* t, uint32_t when)
    : level(lvl), time(when), sequence(seq), text(cleanText(t ? t : kEmpty)),
      timestamp(FormatTimestamp(when)), number(FormatNumber(seq)) {}

CLogEntry::~CLogEntry() {
    free(text);
    free(timestamp);
    free(number);
}

DiChar* CLogEntry::FormatNumber(uint32_t seq) {
    char s[16];
    snprintf(s, sizeof s, "%d", static_cast<int>(seq + 1));
    return asciiDup(s);
}

DiChar* CLogEntry::FormatTimestamp(uint32_t when) {
    /* Entries come in bursts within one second: convert each second once
     * per thread (local-time conversion is slow on some systems). */
    thread_local uint32_t lastWhen = 0;
    thread_local char last[64] = "";
    if (last[0] && when == lastWhen) return asciiDup(last);
    struct tm tm;
    if (!ddLogLocalTime(when, &tm)) memset(&tm, 0, sizeof tm);
    char s[64];
    snprintf(s, sizeof s, "%04d/%02d/%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
             tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    memcpy(last, s, sizeof last);
    lastWhen = when;
    return asciiDup(s);
}

#ifndef _WIN32
bool ddLogLocalTime(uint32_t when, struct tm* out) {
    time_t t = static_cast<time_t>(when);
    return localtime_r(&t, out) != nullptr;
}
#endif

const DiChar* CLogEntry::GetLevelName() const {
    static const DiChar* const kNames[] = {u"Error", u"Warning", u"Info"};
    return level >= 1 && level <= 3 ? kNames[level - 1] : kEmpty;
}

void CLogEntry::WriteLine(CQVLPackBuffer* b) {
    int enc = b->encoding;
    b->WriteString(enc, GetLevelName());
    b->WriteChar(enc, '\t');
    b->WriteString(enc, timestamp);
    b->WriteChar(enc, '\t');
    b->WriteString(enc, text);
    b->WriteAscii(enc, "\r\n");
}

void CLogEntry::WriteFileLine(CQVLPackBuffer* b) {
    int enc = b->encoding;
    b->WriteString(enc, GetLevelName());
    b->WriteChar(enc, '\t');
    b->WriteString(enc, number);
    b->WriteChar(enc, '\t');
    b->WriteString(enc, timestamp);
    b->WriteChar(enc, '\t');
    b->WriteString(enc, text);
    b->WriteAscii(enc, "\r\n");
}

const DiChar* CLogEntry::GetColumnText(int column) {
    const DiChar* t = column == 0   ? GetLevelName()
                      : column == 1 ? number
                      : column == 2 ? timestamp
                      : column == 3 ? text
                                    : nullptr;
    return t ? t : kEmpty;
}

int CLogEntry::Compare(IDiTableRow* otherRow, int column) {
    CLogEntry* other = static_cast<CLogEntry*>(otherRow);
    switch (column) {
    case 0:
        return static_cast<int>(level) - static_cast<int>(other->level);
    case 1:
        return static_cast<int>(sequence - other->sequence);
    case 2:
        return time < other->time ? -1 : (time > other->time ? 1 : 0);
    case 3:
        return qvlStrCmp(text, other->text);
    }
    return 0;
}

/* ---- the logger ---- */

CLog::CLog() : fileName(qvlStrDup(kEmpty)), level(DI_LOG_ERROR) {}

CLog::~CLog() {
    Destroy();
}

void CLog::Destroy() {
    entries.Clear();
    free(fileName);
    fileName = nullptr;
}

void CLog::WriteEntries(CQVLPackBuffer* buffer) {
    std::lock_guard<std::mutex> hold(mutex);
    for (auto* n = entries.head; n; n = n->next)
        n->item->WriteLine(buffer);
}

void CLog::SetFileName(const DiChar* name) {
    DiChar* copy = qvlStrDup(name ? name : kEmpty);
    if (!copy) return;
    free(fileName);
    fileName = copy;
}

void CLog::Add(CLogEntry* entry) {
    std::lock_guard<std::mutex> hold(mutex);
    AddLocked(entry);
}

void CLog::AddLocked(CLogEntry* entry) {
    if (!entry) return;
    /* Out of memory: the entry is dropped (Append deletes what it could
     * not link). */
    if (!entry->IsValid()) {
        delete entry;
        return;
    }
    if (!entries.Append(entry, true)) return;
    if (entry->sequence >= nextSequence) nextSequence = entry->sequence + 1;
    while (entries.count > maxEntries && entries.head != entries.tail) {
        CLogEntry* oldest = entries.head->item;
        entries.Remove(oldest, false);
        Retire(oldest);
    }
    ShowEntry(entry);
    WriteEntry(entry);
}

void CLog::AddText(uint32_t lvl, const DiChar* text) {
    std::lock_guard<std::mutex> hold(mutex);
    AddLocked(new (std::nothrow) CLogEntry(lvl, nextSequence, text));
}

void CLog::AddText(uint32_t lvl, const DiChar* text, uint32_t when) {
    std::lock_guard<std::mutex> hold(mutex);
    AddLocked(new (std::nothrow) CLogEntry(lvl, nextSequence, text, when));
}

void CLog::AddMessage(uint32_t lvl, uint32_t message) {
    DiChar buf[kMessageMax];
    loadMessage(message, buf, kMessageMax);
    AddText(lvl, buf);
}

void CLog::AddMessageArgs(uint32_t lvl, uint32_t message, const DiFmtArg* args, size_t count) {
    DiChar text[kMessageMax];
    formatMessage(message, args, count, text);
    AddText(lvl, text);
}

/* ---- global functions ---- */

void diLogSetMessageLoader(DiLogMessageLoader loader) {
    g_loader = loader;
}
bool diLogLoadMessage(uint32_t message, DiChar* buffer, size_t size) {
    if (!buffer || size == 0) return false;
    return loadMessage(message, buffer, size);
}
void diLogSet(CLog* log) {
    g_log = log;
    if (!log) return;
    std::vector<Held> held;
    {
        std::lock_guard<std::mutex> hold(g_heldMutex);
        if (!g_holding) return;
        g_holding = false;
        held.swap(g_held);
    }
    for (const Held& h : held)
        if (log->level >= h.level) log->AddText(h.level, h.text.c_str(), h.time);
}

void diLogHoldUntilSet() {
    std::lock_guard<std::mutex> hold(g_heldMutex);
    if (!g_log) g_holding = true;
}
CLog* diLogGet() {
    return g_log;
}

void diLogError(uint32_t m) {
    logMessage(DI_LOG_ERROR, m);
}

void diLogWarning(uint32_t m) {
    logMessage(DI_LOG_WARNING, m);
}

void diLogInfo(uint32_t m) {
    logMessage(DI_LOG_INFO, m);
}

void diLogErrorArgs(uint32_t m, std::initializer_list<DiFmtArg> args) {
    logArgs(DI_LOG_ERROR, m, args);
}

void diLogWarningArgs(uint32_t m, std::initializer_list<DiFmtArg> args) {
    logArgs(DI_LOG_WARNING, m, args);
}

void diLogInfoArgs(uint32_t m, std::initializer_list<DiFmtArg> args) {
    logArgs(DI_LOG_INFO, m, args);
}

void diLogErrorText(const DiChar* text) {
    if (allows(DI_LOG_ERROR)) addText(DI_LOG_ERROR, text);
}

void diLogSoapFault(CQVLSOAPFault* fault) {
    if (!allows(DI_LOG_ERROR)) return;
    const DiChar* code = fault ? fault->faultcode : nullptr;
    const DiChar* str = fault ? fault->faultstring : nullptr;
    if (code && str) {
        CQVLPackBuffer b(QVL_ENC_UTF16, QVL_MODE_MARKUP);
        b.WriteString(QVL_ENC_UTF16, code);
        b.WriteAscii(QVL_ENC_UTF16, ": ");
        b.WriteString(QVL_ENC_UTF16, str);
        if (b.Terminate()) addText(DI_LOG_ERROR, reinterpret_cast<const DiChar*>(b.data));
    } else if (code || str) {
        addText(DI_LOG_ERROR, code ? code : str);
    } else {
        addText(DI_LOG_ERROR, u"SOAP Fault received from server");
    }
}

const DiChar* diLogGetFileName() {
    return g_log ? g_log->fileName : nullptr;
}

const DiChar* diLogLevelName() {
    static const DiChar* const kWords[] = {u"none", u"errors", u"warnings", u"info"};
    uint32_t level = g_log ? g_log->level : static_cast<uint32_t>(DI_LOG_NONE);
    return level <= 3 ? kWords[level] : u"";
}

void diLogSetLevelByName(const DiChar* text) {
    static const char* const kCommands[] = {"logging_off", "logging_errorsonly",
                                            "logging_errorsandwarningsonly", "logging_all"};
    if (!g_log || !text) return;
    for (uint32_t i = 0; i < 4; i++)
        if (qvlStrEqAscii(text, kCommands[i])) g_log->level = i;
}
