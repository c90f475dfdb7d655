// The HTTP packet reader on arbitrary bytes, then the packet written back.
#include "xml/qvlsoap.h"
#include "xml/qvlxmlparser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CQVLParser p(data, size);
    CQVLHTTPPacket* packet = CQVLXMLParser::ParseHTTPPacket(&p);
    if (!packet) return 0;
    packet->GetHeaderValue("GET");
    delete packet->Serialize();
    delete packet;
    return 0;
}
