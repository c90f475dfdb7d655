// The XML parser on arbitrary bytes, then the writer over the tree it built
// in every encoding and mode.
#include "xml/qvlxmlparser.h"

#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CQVLParser p(data, size);
    CQVLXMLDoc* doc = CQVLXMLParser::ParseDocument(&p);
    if (!doc) return 0;
    for (int enc = 0; enc <= 3; enc++)
        for (int mode = 0; mode <= 2; mode++) {
            CQVLPackBuffer b(enc, mode);
            doc->Pack(&b);
        }
    free(doc->root->GetText());
    doc->Find("a");
    delete doc;
    return 0;
}
