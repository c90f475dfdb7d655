// A profile store over a file held in memory: what Save wrote, whether the
// file exists or is held by another program, and whether writing and setting
// aside succeed. A second store on the same file reads and writes `of`'s.
#ifndef HV_TEST_MEM_PROFILE_STORE_H
#define HV_TEST_MEM_PROFILE_STORE_H

#include "session/diprofile.h"

#include <string>
#include <vector>

class CMemProfileStore : public CProfileStore {
  public:
    std::string file; // the file's bytes, byte-order mark included
    bool exists = false;
    bool writable = true;
    bool held = false;                   // the file is there but cannot be read
    std::vector<std::string> saved;      // every file written, in order
    std::vector<std::string> asideFiles; // files renamed to .bad
    CMemProfileStore* of = this;         // whose file this store uses

    CMemProfileStore() { filePath[0] = 0; }
    explicit CMemProfileStore(const std::string& bytes) : file(bytes), exists(true) {
        filePath[0] = 0;
    }
    void BuildFilePath() override {}
    FileState ReadFileBytes(std::string* bytes) override {
        const std::string& f = of->file;
        if (held) return kFileHeld;
        if (!of->exists) return kFileMissing;
        *bytes = f.compare(0, 3, "\xEF\xBB\xBF") == 0 ? f.substr(3) : f;
        return kFileRead;
    }
    bool WriteFileBytes(const std::string& bytes) override {
        if (!writable) return false;
        of->file = bytes;
        of->exists = true;
        saved.push_back(bytes);
        return true;
    }
    bool SetAsideBadFile(std::u16string* kept) override {
        if (!writable) return false;
        *kept = u"aside" + std::u16string(1, char16_t(u'0' + asideFiles.size()));
        asideFiles.push_back(of->file);
        of->exists = false;
        return true;
    }
};

#endif
