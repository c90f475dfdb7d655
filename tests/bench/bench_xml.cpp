// Parse throughput (bytes_per_second) of our XML parser and of libxml2 on
// the same 1 MB SOAP request body, in one run.
#include "xml/qvlsoap.h"
#include "xml/qvlxmlparser.h"

#include "bench/bench_main.h"

#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include <memory>
#include <string>

namespace {

/* A SOAP request of about 1 MB written by our own writer: typed parameters,
 * escaped strings and string arrays. */
const std::string& SoapBody() {
    static const std::string body = [] {
        CQVLSOAPRequest req("ns1:doLaunch");
        req.AddAttribute("xmlns:ns1", "urn:quorvellan-serveroutpost");
        req.AddAttribute("SOAP-ENV:encodingStyle", QVL_NS_SOAP_ENC);
        std::unique_ptr<CQVLXMLDoc> doc;
        std::string bytes;
        for (int i = 0; bytes.size() < (1u << 20); i++) {
            for (int k = 0; k < 64; k++) {
                req.AddParameter(u"count", i * 64 + k);
                req.AddParameter(u"name", u"app <\"viewer\"> & caf\u00e9 \u65e5\u672c");
                auto* arr = new CQVLNS2Array("item", "xsd:string");
                arr->AddItem(new CQVLXSDString("one"));
                arr->AddItem(new CQVLXSDString("two & three"));
                req.AddParameter(u"list", arr);
            }
            doc.reset(req.ToXMLDoc(QVL_ENC_UTF16));
            CQVLPackBuffer b(QVL_ENC_UTF8, QVL_MODE_MARKUP);
            doc->Pack(&b);
            bytes.assign(reinterpret_cast<const char*>(b.data), b.length);
        }
        return bytes;
    }();
    return body;
}

void BM_OurParser(benchmark::State& state) {
    const std::string& body = SoapBody();
    for (auto _ : state) {
        CQVLParser p(body.data(), body.size());
        std::unique_ptr<CQVLXMLDoc> doc(CQVLXMLParser::ParseDocument(&p));
        if (!doc) state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(doc.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * body.size());
}
BENCHMARK(BM_OurParser)->Unit(benchmark::kMillisecond);

void BM_Libxml2(benchmark::State& state) {
    const std::string& body = SoapBody();
    for (auto _ : state) {
        xmlDocPtr doc = xmlReadMemory(body.data(), static_cast<int>(body.size()), "soap.xml",
                                      nullptr, XML_PARSE_NONET);
        if (!doc) state.SkipWithError("parse failed");
        xmlFreeDoc(doc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * body.size());
}
BENCHMARK(BM_Libxml2)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return hvBenchMain(argc, argv,
                       {{"xml parse of a 1 MB SOAP body (ours/libxml2)", "BM_OurParser",
                         "BM_Libxml2"}});
}
