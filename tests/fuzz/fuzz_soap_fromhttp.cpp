// SOAP packets read from HTTP packets of arbitrary bytes, then written out
// again as envelopes, HTTP bytes and trace text.
#include "xml/qvlsoap.h"
#include "xml/qvlxmlparser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CQVLParser p(data, size);
    CQVLHTTPPacket* http = CQVLXMLParser::ParseHTTPPacket(&p);
    if (!http) return 0;
    CQVLSOAPPacket* soap = CQVLSOAPPacket::FromHTTP(http);
    delete http;
    if (!soap) return 0;
    CQVLPackBuffer trace(QVL_ENC_UTF8, QVL_MODE_MARKUP);
    soap->Pack(&trace);
    if (soap->IsRequest()) {
        auto* req = static_cast<CQVLSOAPRequest*>(soap);
        for (auto* n = req->parameters.head; n; n = n->next) {
            n->item->GetInt();
            n->item->GetBool();
            n->item->GetString();
            n->item->GetShort();
        }
    }
    CQVLHTTPResponse out;
    out.SetDocument(soap->ToXMLDoc(QVL_ENC_UTF16));
    delete out.Serialize();
    delete soap;
    return 0;
}
