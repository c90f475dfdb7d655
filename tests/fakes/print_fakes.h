// Fakes of the print channel's surroundings: spool files kept in memory,
// printers that record what they printed, and the outpost's accessors (a
// job count the test sets, replies and next-job starts counted).
#ifndef HV_TESTS_PRINT_FAKES_H
#define HV_TESTS_PRINT_FAKES_H

#include "devices/dipaip.h"

#include <map>
#include <string>
#include <vector>

class CPrintJobQueue;

struct FakePrint {
    std::map<std::u16string, std::string> files; // spool files on "disk"
    std::vector<std::u16string> removed;
    int opened = 0, openNow = 0; // spools made, spools open now
    bool openFails = false, writeFails = false, printFails = false;
    size_t keepBytes = 1 << 20; // larger spools are counted, not kept
    std::map<std::u16string, uint64_t> sizes;
    uint32_t largestWrite = 0;
    struct Print {
        std::u16string path, printer;
        uint8_t kind;
        std::string content;
    };
    std::vector<Print> prints;
    std::vector<std::u16string> trace;
    // Outpost: the job count the test sets, or the queue's when it sets one
    // (next-job starts then go to it).
    int jobCount = 0, nextStarts = 0;
    CPrintJobQueue* queue = nullptr;
    std::vector<std::u16string> replies;  // job names answered
    std::vector<std::u16string> replyIds; // their message ids
    std::vector<std::u16string> faults;   // message ids answered with the print fault
    DiChannel* printChannel = nullptr;
};

extern FakePrint g_fakePrint;
extern const DiPrintSpoolOps kFakeSpoolOps;
void fakePrintReset();

#endif
