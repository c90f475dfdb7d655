// The visited-hosts reader on arbitrary bytes; then a host with markup
// characters is added and the document must read back with it.
#include "net/dicertcache.h"
#include "xml/qvlxml.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CQVLXMLDoc* doc = diCertHostsParse(reinterpret_cast<const char*>(data), size);
    if (!doc) return 0;
    static const char kHost[] = "a&b<c>\"d'.test";
    static const std::string kPrint = "00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF";
    diCertHostsLookup(doc, "x.test", kPrint);
    bool held = diCertHostsAdd(doc, kHost, kPrint) >= 0; // refused past the bounds
    std::string text = diCertHostsSerialize(doc);
    delete doc;
    CQVLXMLDoc* again = diCertHostsParse(text.data(), text.size());
    if (!again || (held && diCertHostsLookup(again, kHost, kPrint) != 1)) __builtin_trap();
    delete again;
    return 0;
}
