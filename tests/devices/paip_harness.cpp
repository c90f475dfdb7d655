// The print queue as the outpost makes it, its channel made by the channel
// factory and connected to the print service at 127.0.0.1:PORT once a job
// is queued. It runs the event loop until the service closes the
// connection, then prints the queue's state word, the number of files left
// in the spool folder and how far the working set grew meanwhile:
// "state WORD spools N grew MB". With PAUSEFILE the user pauses printing
// once the job spools (PAUSEFILE is then made, for the service to end the
// job) and resumes once the service has closed.
//
// usage: paip_harness PORT JOBNAME [PAUSEFILE]
#include "core/ddapp.h"
#include "core/dide.h"
#include "harness_loop.h"
#include "devices/dddevices.h"
#include "devices/dipaip.h"
#include "devices/diprintq.h"
#include "net/ddnet.h"
#include "net/dinet.h"
#include "session/diprofile.h"
#include "support/mem_profile_store.h"
#include "support/peer_process.h"

#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>

static int countSpools() {
    wchar_t tmp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, tmp);
    std::wstring pattern = std::wstring(tmp) + L"QVLWinPrint\\QVL*";
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(pattern.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return 0;
    int n = 0;
    do
        n++;
    while (FindNextFileW(h, &fd));
    FindClose(h);
    return n;
}

static const char* s_pauseFile;

static void pauseWhileSpooling(DiChannel* ch) {
    DiPrintChannel* pc = reinterpret_cast<DiPrintChannel*>(ch);
    if (!s_pauseFile || !diPrintFirstJob(pc, DI_JOB_STARTED)) return;
    diPrintPause(ch);
    fclose(fopen(s_pauseFile, "w"));
    s_pauseFile = nullptr;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: paip_harness PORT JOBNAME [PAUSEFILE]\n");
        return 2;
    }
    MSG m;
    PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);
    if (!hvSocketSinkInit()) return 1;
    static CMemProfileStore store;
    g_diProfileStore = &store;
    g_ddApp->hasDefaultPrinter = ddPrintCheckDefault();

    PROCESS_MEMORY_COUNTERS before{};
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
    CPrintJobQueue queue;
    DiChannel* ch = queue.channel;
    if (!ch) return 1;
    wchar_t job[512];
    MultiByteToWideChar(CP_UTF8, 0, argv[2], -1, job, 512);
    queue.AddJob(reinterpret_cast<DiChar*>(job), u"msg-1");
    if (!hvHarnessConnect(ch, argv[1])) return 1;
    diPAIPSendStart(ch, 1);

    s_pauseFile = argc > 3 ? argv[3] : nullptr;
    bool closed = hvHarnessServeUntilClosed(ch, pauseWhileSpooling);
    if (argc > 3) diPrintResume(ch);
    PROCESS_MEMORY_COUNTERS after{};
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
    size_t grew = after.PeakWorkingSetSize > before.WorkingSetSize
                      ? (after.PeakWorkingSetSize - before.WorkingSetSize) >> 20
                      : 0;
    printf("state %ls spools %d grew %u\n", reinterpret_cast<const wchar_t*>(queue.GetStateName()),
           countSpools(), unsigned(grew));
    fflush(stdout);
    return closed ? 0 : 1;
}
