// The profile file and settings files are read from disk, where anything
// may have been written; logins and imports carry the server's profiles
// text. Input: the file, then (after NUL bytes) the login's and the
// import's profiles texts. Whatever was read, every saved file must read
// back to the same file, and a second store loaded at the start writes its
// own change onto the first one's file.
#include "session/diprofile.h"
#include "session/disettings.h"
#include "support/mem_profile_store.h"

#include <string>
#include <vector>

namespace {

class MemSettingsFile : public CSettingsFile {
  public:
    bool CreateUniqueFile() override { return false; }
    bool Open(const DiChar*) override { return false; }
    bool ReadFileBytes(std::string*) override { return false; }
    bool WriteFileBytes(const std::string&) override { return false; }
};

std::u16string widen(const std::string& bytes) {
    return diProfileFromUtf8(bytes);
}

// Saving again what a saved file reads back as gives the same bytes.
void checkSavedFileReadsBack(CMemProfileStore& store) {
    if (!store.Save()) __builtin_trap();
    CMemProfileStore again(store.file);
    again.Load(u"h:u:Default");
    if (again.badFile || !again.Save() || again.file != store.file) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> parts(3);
    size_t part = 0;
    for (size_t i = 0; i < size; i++) {
        if (data[i] == 0 && part < 2)
            part++;
        else
            parts[part] += static_cast<char>(data[i]);
    }
    {
        CMemProfileStore store(parts[0]), other;
        other.of = &store;
        other.Load(u"h:u:Default");
        g_diProfileStore = &store;
        store.Load(u"h:u:Default");
        DiChar buf[64];
        store.GetProfileValue(u"url", buf, 64, nullptr);
        diSOSetLocalSetting(u"K", u"v < & \"");
        diSOGetLocalSetting(u"k", buf, 64);
        checkSavedFileReadsBack(store);
        store.SaveLogin(u"H", u"u", u"t", u"p", 1, u"http", widen(parts[1]).c_str(), u"c");
        store.ImportProfiles(u"h", u"u", widen(parts[2]).c_str());
        store.SetCertsFile(u"f.pem");
        checkSavedFileReadsBack(store);
        MemSettingsFile settings;
        settings.FillFromProfile(&store, nullptr);
        other.SetLocalSetting(u"w", u"1");
        if (!other.Save()) __builtin_trap();
    }
    MemSettingsFile settings;
    if (settings.ParseBytes(parts[0].data(), parts[0].size())) {
        settings.AddKey(u"server", u"s");
        settings.AddCookie(u"c");
        std::string first = settings.Serialize();
        MemSettingsFile again;
        if (!again.ParseBytes(first.data() + 3, first.size() - 3) || again.Serialize() != first)
            __builtin_trap();
    }
    return 0;
}
