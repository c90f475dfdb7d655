// An in-memory file layer with Windows error codes behind the drive-mapping
// requests: one drive "T:\", files and directories by lower-cased path,
// handles that count themselves, objects another program holds open, and
// forced errors per call. Every path a call receives is logged.
#ifndef HV_TESTS_CDM_FAKES_H
#define HV_TESTS_CDM_FAKES_H

#include "devices/dicdm.h"

#include <map>
#include <string>
#include <vector>

struct FakeNode {
    bool dir = false;
    std::string data;
    uint32_t attributes = 0x80;
    uint64_t creation = 0, access = 0, write = 0;
    bool heldElsewhere = false; // deleting gives a sharing violation
};

struct FakeFiles {
    std::map<std::u16string, FakeNode> nodes; // key: lower-cased full path
    std::vector<std::u16string> touched;      // every path handed to a call
    std::map<std::string, uint32_t> fail;     // call name -> error to answer
    std::map<std::u16string, int> openOn;     // our handles per path
    int openHandles = 0, openSearches = 0;
    uint64_t sizeBias = 0; // added to every reported size (large files)
};
extern FakeFiles g_fakeFiles;
extern const DiCDMFileOps g_fakeFileOps;

// Empties the tree and adds "t:\".
void fakeFilesReset();
void fakeAddFile(const std::u16string& path, const std::string& data);
void fakeAddDir(const std::u16string& path);
bool fakeExists(const std::u16string& path);

#endif
