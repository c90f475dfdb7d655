// Print channel messages from a hostile server, over fake spool files and
// printers. The first byte picks failures and the queued-job count; then each
// record is a 16-bit length and that many bytes of one whole message, or,
// with length 0xFFFF, the user's pause or resume. Once the channel is torn
// down and the deferred deletions swept, no spool file may be left.
#include "fakes/chan_fakes.h"
#include "fakes/print_fakes.h"

#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    fakesReset();
    fakePrintReset();
    g_fakePrint.openFails = data[0] & 1;
    g_fakePrint.writeFails = data[0] & 2;
    g_fakePrint.printFails = data[0] & 4;
    g_fakePrint.jobCount = (data[0] >> 3) & 3;
    g_fakePrint.keepBytes = 1 << 16;
    DiPrintChannel* pc = diPrintChannelNew(&kFakeSpoolOps, !(data[0] & 0x80));
    diChannelAttachConnection(&pc->ch, ddNetSocketCreate());
    diPAIPSendStart(&pc->ch, 1);
    size_t at = 1;
    while (at + 2 <= size) {
        size_t n = size_t(data[at] | data[at + 1] << 8);
        at += 2;
        if (n == 0xFFFF) {
            if (at < size && (data[at++] & 1))
                diPrintResume(&pc->ch);
            else
                diPrintPause(&pc->ch);
            continue;
        }
        if (n > size - at) n = size - at;
        diPAIPHandleMessage(pc, data + at, uint32_t(n));
        at += n;
        g_fakeNet.sent.clear();
    }
    diPrintChannelTeardown(pc);
    diPrintChannelDelete(pc);
    diPrintSweep(&kFakeSpoolOps, true);
    if (!g_fakePrint.files.empty()) abort();
    return 0;
}
