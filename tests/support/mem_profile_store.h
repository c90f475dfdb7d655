// A profile store over a file held in memory: what Save wrote, whether the
// file exists, and whether writing and setting aside succeed.
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
    std::vector<std::string> saved;      // every file written, in order
    std::vector<std::string> asideFiles; // files renamed to .bad

    CMemProfileStore() { filePath[0] = 0; }
    explicit CMemProfileStore(const std::string& bytes) : file(bytes), exists(true) {
        filePath[0] = 0;
    }
    void BuildFilePath() override {}
    bool ReadFileBytes(std::string* bytes) override {
        if (!exists) return false;
        *bytes = file.compare(0, 3, "\xEF\xBB\xBF") == 0 ? file.substr(3) : file;
        return true;
    }
    bool WriteFileBytes(const std::string& bytes) override {
        if (!writable) return false;
        file = bytes;
        exists = true;
        saved.push_back(bytes);
        return true;
    }
    bool SetAsideBadFile() override {
        if (!writable) return false;
        asideFiles.push_back(file);
        exists = false;
        return true;
    }
    bool FileExists() override { return exists; }
};

#endif
