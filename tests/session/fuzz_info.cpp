// Connection information over a fuzzed printer list and default printer.
#include "session/diinfo.h"
#include "session/diso.h"

#include <stddef.h>
#include <stdint.h>

#include <string>

int32_t diListenerOpen(DiChannel*) {
    return -1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string list;
    for (size_t i = 0; i + 1 < size; i += 2)
        list += char16_t(data[i] | (data[i + 1] << 8));
    static CServerOutpost* so = new CServerOutpost(DiSOOptions());
    DiInfoFacts f;
    f.hasPrintQueue = true;
    f.printerList = list.c_str();
    f.defaultPrinter = list.c_str();
    f.drives = {{list, 1}};
    CConnectionInfo info;
    info.Refresh(so, f);
    CQVLPackBuffer b(QVL_ENC_UTF16, QVL_MODE_MARKUP);
    info.Pack(&b);
    return 0;
}
