// Fakes of the print channel's surroundings (see print_fakes.h).
#include "fakes/print_fakes.h"

#include "devices/diprintq.h"
#include "session/disoaccess.h"

#include <string.h>

FakePrint g_fakePrint;

namespace {

struct OpenFile {
    std::u16string path;
};

void* fakeOpen(std::u16string* path) {
    if (g_fakePrint.openFails) return nullptr;
    *path = u"C:\\temp\\QVLWinPrint\\QVL" +
            std::u16string(1, char16_t(u'A' + g_fakePrint.opened++)) + u".tmp";
    g_fakePrint.files[*path];
    g_fakePrint.sizes[*path] = 0;
    g_fakePrint.openNow++;
    return new OpenFile{*path};
}

bool fakeWrite(void* f, const uint8_t* data, uint32_t n) {
    if (g_fakePrint.writeFails) return false;
    OpenFile* o = static_cast<OpenFile*>(f);
    std::string& s = g_fakePrint.files[o->path];
    if (s.size() + n <= g_fakePrint.keepBytes) s.append(reinterpret_cast<const char*>(data), n);
    g_fakePrint.sizes[o->path] += n;
    if (n > g_fakePrint.largestWrite) g_fakePrint.largestWrite = n;
    return true;
}

void fakeClose(void* f) {
    g_fakePrint.openNow--;
    delete static_cast<OpenFile*>(f);
}

void fakeRemove(const std::u16string& path) {
    g_fakePrint.files.erase(path);
    g_fakePrint.removed.push_back(path);
}

int fakePrintFile(DiPrintChannel* pc, const std::u16string& path, uint32_t* error,
                  std::u16string* text) {
    if (g_fakePrint.printFails) {
        *error = 5;
        *text = u"Access is denied.";
        return -1;
    }
    g_fakePrint.prints.push_back({path, pc->printer, pc->kind, g_fakePrint.files[path]});
    return 0;
}

void fakeTrace(const std::u16string& line) {
    g_fakePrint.trace.push_back(line);
}

} // namespace

const DiPrintSpoolOps kFakeSpoolOps = {fakeOpen,   fakeWrite,     fakeClose,
                                       fakeRemove, fakePrintFile, fakeTrace};

void fakePrintReset() {
    g_fakePrint = FakePrint();
}

// The outpost's accessors, answered by the fake.
DiChannel* diSOGetDriveChannel(void) {
    return nullptr;
}
DiChannel* diSOGetDeviceListChannel(void) {
    return nullptr;
}
DiChannel* diSOGetPrintChannel(void) {
    return g_fakePrint.printChannel;
}
int diSOGetPrintJobCount(void) {
    return g_fakePrint.queue ? g_fakePrint.queue->GetJobCount() : g_fakePrint.jobCount;
}
void diSOStartNextPrintJob(void) {
    g_fakePrint.nextStarts++;
    if (g_fakePrint.queue) g_fakePrint.queue->StartNextJob();
}
void diSOReplyPrint(const DiChar* jobName, const DiChar* messageId) {
    g_fakePrint.replies.push_back(jobName ? jobName : u"");
    g_fakePrint.replyIds.push_back(messageId ? messageId : u"");
}
void diSOFaultPrint(const DiChar* messageId, const DiChar*) {
    g_fakePrint.faults.push_back(messageId ? messageId : u"");
}
void diSODescribePrinterType(DiChannel*) {}
int diSOOpenUrl(const DiChar*) {
    return 0;
}
