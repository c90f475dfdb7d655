// The logger under Wine: lines per second from diLogInfoArgs into drx.txt
// (every line on the writer thread) against a buffered fwrite loop of the
// same bytes; also the logging thread's cost per line and the time to open
// the event log over 50,000 entries.
#include "bench/bench_ratio.h"
#include "core/ddapp.h"
#include "session/ddlog.h"
#include "session/ddso.h"

#include <stdio.h>

#include <string>

namespace {

const int kLines = 200000;

double now() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) / double(f.QuadPart);
}

bool packetMessage(uint32_t, DiChar* buffer, size_t size) {
    const char16_t text[] = u"Sending SOAP AIP/V request (%1$s) with Message ID %2$s to %3$s";
    size_t i = 0;
    for (; text[i] && i + 1 < size; i++)
        buffer[i] = text[i];
    buffer[i] = 0;
    return true;
}

} // namespace

int main() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring dir = std::wstring(base) + L"hvbenchlog";
    CreateDirectoryW(dir.c_str(), nullptr);
    std::u16string dir16(dir.begin(), dir.end());
    g_ddApp->opt.logDir = const_cast<DiChar*>(dir16.c_str());
    diLogSetMessageLoader(packetMessage);

    CLogFile* log = new CLogFile();
    log->level = DI_LOG_INFO;
    double t0 = now();
    for (int i = 0; i < kLines; i++)
        diLogInfoArgs(470, {u"ns1:getState", i, u"Server"});
    double calls = now() - t0;
    log->Flush(600000);
    double ours = now() - t0;

    /* The same bytes, line by line through stdio's buffer. */
    FILE* f = _wfopen((dir + L"\\anchor.txt").c_str(), L"wb");
    t0 = now();
    for (auto* n = log->GetEntries()->head; n; n = n->next) {
        CQVLPackBuffer b(QVL_ENC_UTF16, QVL_MODE_MARKUP);
        n->item->WriteFileLine(&b);
        fwrite(b.data, 1, b.length, f);
    }
    fclose(f);
    double anchor = now() - t0;
    hvBenchRatio("log/fwrite lines/s", kLines / ours, log->GetCount() / anchor, "lines/s");
    printf("log/gui-thread %.3f us per line\n", calls * 1e6 / kLines);

    log->maxEntries = 50000;
    log->AddText(DI_LOG_INFO, u"trim to the cap");
    t0 = now();
    log->ShowWindow(true);
    printf("log/open-window %.1f ms over %u entries\n", (now() - t0) * 1e3, log->GetCount());
    delete log;
    DeleteFileW((dir + L"\\drx.txt").c_str());
    DeleteFileW((dir + L"\\anchor.txt").c_str());
    RemoveDirectoryW(dir.c_str());
    return 0;
}
