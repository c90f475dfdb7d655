// A recording operations table for the X-AIP wire: every slot appends one
// line in the text form that tests/peers/xaip_peer.py writes for the
// requests it sends, so a transcript of requests and the recorded operations
// compare line by line. Byte data is lowercase hex ("-" when empty), UTF-16
// texts are hex of their units (4 digits each).
#pragma once

#include "xde/dixaip.h"

#include <string>
#include <vector>

struct XRecorder {
    std::vector<std::string> lines;
    int flushes = 0;
    // Closes the channel when the line about to be recorded starts with it.
    std::string closeOn;
};

extern XRecorder g_xrec;
const DiXRequestOps* xaipRecordingOps();
std::string xaipHex(const uint8_t* p, uint32_t n);
