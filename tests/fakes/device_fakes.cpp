#include "fakes/device_fakes.h"

#include "core/diapp.h"

#include <mutex>
#include <stdlib.h>
#include <string.h>

FakeThreads g_fakeThreads;
// Workers on real threads (the smart-card lifetime tests) finish at once.
static std::mutex s_completionLock;
FakePortScript g_fakePort;
static DdApp s_app;
DdApp* g_ddApp = &s_app;

void deviceFakesReset() {
    g_fakeThreads = FakeThreads();
    g_fakePort = FakePortScript();
    s_app = DdApp();
    s_app.probeOne = 1;
    diIAIPSetLevel(2);
}

void* ddDeviceCurrentThread(void) {
    if (g_fakeThreads.noHandle) return nullptr;
    std::lock_guard<std::mutex> g(s_completionLock);
    g_fakeThreads.handlesOpen++;
    return &g_fakeThreads;
}

int ddDeviceStartWorker(DiDeviceRequest* req) {
    if (g_fakeThreads.startFails) return 0;
    g_fakeThreads.workers.push_back(req);
    return 1;
}

int ddDeviceQueueCompletion(void*, DiDeviceRequest* req) {
    std::lock_guard<std::mutex> g(s_completionLock);
    if (g_fakeThreads.queueFails) return 0;
    g_fakeThreads.completions.push_back(req);
    return 1;
}

void ddDeviceCloseThread(void* thread) {
    std::lock_guard<std::mutex> g(s_completionLock);
    if (thread) g_fakeThreads.handlesOpen--;
}

bool runOneWorker() {
    if (g_fakeThreads.workers.empty()) return false;
    DiDeviceRequest* r = g_fakeThreads.workers.front();
    g_fakeThreads.workers.pop_front();
    diDeviceWorkerThread(reinterpret_cast<uintptr_t>(r));
    return true;
}

void runCompletions() {
    for (;;) {
        std::unique_lock<std::mutex> g(s_completionLock);
        if (g_fakeThreads.completions.empty()) break;
        DiDeviceRequest* r = g_fakeThreads.completions.front();
        g_fakeThreads.completions.pop_front();
        g.unlock();
        diDeviceCompleteOnOwner(r);
    }
}

void runDeviceThreads() {
    while (!g_fakeThreads.workers.empty() || !g_fakeThreads.completions.empty()) {
        while (runOneWorker()) {
        }
        runCompletions();
    }
}

namespace {

struct FakePort {
    DiSerialPort base;
};

void note(const std::string& s) {
    g_fakePort.log += s + ";";
}

uint32_t fRead(DiSerialPort*, uint8_t* buf, uint32_t len, uint32_t* done) {
    uint32_t n = g_fakePort.input.size() < len ? uint32_t(g_fakePort.input.size()) : len;
    if (n) memcpy(buf, g_fakePort.input.data(), n);
    g_fakePort.input.erase(0, n);
    *done = n;
    note("read");
    return 0;
}
void fCancelReads(DiSerialPort*) {
    note("cancel-reads");
}
uint32_t fWrite(DiSerialPort*, const uint8_t* buf, uint32_t len, uint32_t* done) {
    if (len > g_fakePort.writeLimit) len = g_fakePort.writeLimit;
    g_fakePort.output.append(reinterpret_cast<const char*>(buf), len);
    *done = len;
    note("write");
    return 0;
}
void fCancelWrites(DiSerialPort*) {
    note("cancel-writes");
}
uint32_t fWait(DiSerialPort*, uint32_t* events) {
    *events = 4;
    note("wait");
    return 0;
}
void fCancelWait(DiSerialPort*) {
    note("cancel-wait");
}
uint32_t fControl(DiSerialPort*, uint32_t fn, const void*, uint32_t, void* out, uint32_t outLen,
                  uint32_t* returned) {
    note("ctl" + std::to_string(fn));
    g_fakePort.lastOutLen = outLen;
    if (g_fakePort.controlError) return g_fakePort.controlError;
    if (out) memcpy(out, g_fakePort.driverOut, outLen);
    *returned = outLen;
    return 0;
}
uint32_t fImmediate(DiSerialPort*, uint8_t c, uint32_t* written) {
    note("immediate");
    if (g_fakePort.immediateError) return *written = 0, g_fakePort.immediateError;
    g_fakePort.output.push_back(char(c));
    *written = 1;
    return 0;
}
void fClose(DiSerialPort*) {
    note("close");
}
void fFree(DiSerialPort* p) {
    note("free");
    g_fakePort.freed++;
    free(p);
}

const DiSerialPortOps kOps = {fRead,       fCancelReads, fWrite,     fCancelWrites, fWait,
                              fCancelWait, fControl,     fImmediate, fClose,        fFree};

} // namespace

DiSerialPort* fakePortOpen(DiSerialDevice*) {
    if (g_fakePort.openFails) return nullptr;
    FakePort* p = static_cast<FakePort*>(calloc(1, sizeof(FakePort)));
    p->base.ops = &kOps;
    g_fakePort.opened++;
    note("open");
    return &p->base;
}
