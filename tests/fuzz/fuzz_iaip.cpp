// Device requests as the server sends them, at both protocol levels: the
// parse must read only bytes that are there, and a parsed request's reply
// must carry no more than its buffers hold.
#include "devices/didevice.h"

#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    diIAIPSetLevel(uint16_t(data[0] % 3 + 1));
    DiDeviceRequest* req = diDeviceRequestAlloc();
    if (diIAIPParseRequest(req, data + 1, uint32_t(size - 1))) {
        // A device may leave any lengths within what it was given.
        req->Returned = req->OutputBufferLength;
        uint32_t len = 0;
        uint8_t* body = diIAIPBuildReply(req, &len);
        if (body && len > DI_IO_MAX_REPLY - DI_IO_REQ_HEADER) abort();
        free(body);
    }
    diDeviceRequestFree(req);
    diIAIPSetLevel(1);
    return 0;
}
