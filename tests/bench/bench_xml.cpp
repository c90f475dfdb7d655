// Parse throughput (bytes_per_second) of our XML parser and of libxml2 on
// the same 1 MB SOAP request body, in one run; and the profile file's save
// that merges onto another copy's save, next to the same save without one;
// a server's profile update next to parsing its text.
#include "session/diprofile.h"
#include "support/mem_profile_store.h"
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

/* The profiles text of a login or an update: count profiles of 20 keys. */
std::u16string ProfilesText(int count, const char16_t* value) {
    std::u16string profiles;
    for (int p = 0; p < count; p++) {
        std::string name = "p" + std::to_string(p);
        profiles += u"<profile name=\"" + std::u16string(name.begin(), name.end()) + u"\">";
        for (int k = 0; k < 20; k++) {
            std::u16string key = u"key" + std::u16string(1, u'a' + k);
            profiles += u"<" + key + u">" + value + key + u"</" + key + u">";
        }
        profiles += u"</profile>";
    }
    return profiles;
}

/* A login that brings 200 profiles of 20 keys each, saved by a copy of the
 * client: with merge set, after another copy saved a setting meanwhile. */
void ProfileSave(benchmark::State& state, bool merge) {
    std::u16string profiles = ProfilesText(200, u"value of ");
    size_t bytes = 0;
    std::unique_ptr<CMemProfileStore> other, ours;
    for (auto _ : state) {
        state.PauseTiming();
        ours.reset(); /* the stores' own end is not the save's cost */
        other.reset(new CMemProfileStore());
        other->Load(nullptr);
        ours.reset(new CMemProfileStore());
        ours->of = other.get();
        ours->Load(nullptr);
        if (merge && !(other->SetLocalSetting(u"width", u"640") && other->Save()))
            state.SkipWithError("the other copy's save failed");
        ours->SaveLogin(u"h", u"u", u"token", nullptr, 0, nullptr, profiles.c_str(), u"cookie");
        state.ResumeTiming();
        if (!ours->Save()) state.SkipWithError("save failed");
        bytes += other->file.size();
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
void BM_ProfileMergingSave(benchmark::State& state) {
    ProfileSave(state, true);
}
BENCHMARK(BM_ProfileMergingSave)->Unit(benchmark::kMillisecond);
void BM_ProfileSave(benchmark::State& state) {
    ProfileSave(state, false);
}
BENCHMARK(BM_ProfileSave)->Unit(benchmark::kMillisecond);

/* A server's update of as many profiles as the store holds, each merging
 * into its stored one, next to parsing the same text alone. */
void BM_ProfileImport(benchmark::State& state) {
    int count = static_cast<int>(state.range(0));
    std::u16string stored = ProfilesText(count, u"old ");
    std::u16string update = ProfilesText(count, u"new ");
    std::unique_ptr<CMemProfileStore> store;
    for (auto _ : state) {
        state.PauseTiming();
        store.reset(new CMemProfileStore());
        store->Load(nullptr);
        store->SaveLogin(u"h", u"u", u"token", nullptr, 0, nullptr, stored.c_str(), u"cookie");
        state.ResumeTiming();
        store->ImportProfiles(u"h", u"u", update.c_str());
        benchmark::DoNotOptimize(store->document);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            diProfileToUtf8(update.c_str()).size());
}
BENCHMARK(BM_ProfileImport)->Arg(250)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);

void BM_ProfileParse(benchmark::State& state) {
    std::u16string update = ProfilesText(static_cast<int>(state.range(0)), u"new ");
    size_t bytes = 0;
    for (auto _ : state) {
        std::string text = "<root>" + diProfileToUtf8(update.c_str()) + "</root>";
        std::unique_ptr<CQVLXMLDoc> doc(diProfParseDocument(text.data(), text.size()));
        if (!doc) state.SkipWithError("parse failed");
        bytes += text.size() - 13;
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_ProfileParse)->Arg(250)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return hvBenchMain(
        argc, argv,
        {{"xml parse of a 1 MB SOAP body (ours/libxml2)", "BM_OurParser", "BM_Libxml2"},
         {"profile save merging 200 profiles (merge/plain)", "BM_ProfileMergingSave",
          "BM_ProfileSave"},
         {"profile update of 4000 profiles (import/parse)", "BM_ProfileImport/4000",
          "BM_ProfileParse/4000"}});
}
