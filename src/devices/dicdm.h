/* Client drive mapping: the file requests of kind 1 on a channel of type 12,
 * the path rule every request path passes, the open-handle table and the
 * mapping of Windows errors to the error numbers the server expects. The
 * Windows half (ddcdm.cpp) supplies the file calls; tests supply fakes.
 *
 * A path is used only when it names something on a listed drive in the form
 * "X:\..." with no later ":" and no device-name component: no UNC or "\\.\"
 * names, no drive-relative or working-directory paths, no streams, no
 * devices (they would block the GUI thread or reach other hosts). */
#ifndef HV_DICDM_H
#define HV_DICDM_H

#include "devices/diiochan.h"

/* What a stat or a directory search learns of one object. Times are raw
 * FILETIME values (100 ns since 1601). */
struct DiCDMInfo {
    uint64_t size;
    uint32_t attributes;
    uint64_t creation, access, write;
    DiChar name[260]; /* searches only */
};

/* A handle of the file layer; DI_CDM_NO_HANDLE is "none" (Windows'
 * INVALID_HANDLE_VALUE). */
#define DI_CDM_NO_HANDLE reinterpret_cast<void*>(intptr_t(-1))

/* The file calls. Results are 0 or a Windows error code. */
struct DiCDMFileOps {
    uint32_t (*getAttributes)(const DiChar* path, uint32_t* attributes);
    uint32_t (*setAttributes)(const DiChar* path, uint32_t attributes);
    /* Size, attributes and times of a path (opened without access, else
     * searched for). */
    uint32_t (*stat)(const DiChar* path, DiCDMInfo* info);
    /* Opens a file shared for reading and writing: forWrite asks for write
     * access, create opens or creates, else the file must exist. Only disk
     * files are kept: another kind of handle is closed and refused. */
    uint32_t (*open)(const DiChar* path, bool forWrite, bool create, void** handle);
    uint32_t (*info)(void* handle, DiCDMInfo* info);
    uint32_t (*close)(void* handle);
    uint32_t (*read)(void* handle, uint8_t* buf, uint32_t n, uint32_t* done);
    uint32_t (*write)(void* handle, const uint8_t* buf, uint32_t n, uint32_t* done);
    /* Moves by a signed 64-bit offset from origin 0, 1 or 2. */
    uint32_t (*seek)(void* handle, int64_t offset, uint32_t origin, uint64_t* position);
    uint32_t (*setEnd)(void* handle);
    /* Zero leaves that time as it is. */
    uint32_t (*setTimes)(void* handle, uint64_t creation, uint64_t access, uint64_t write);
    uint32_t (*findFirst)(const DiChar* pattern, void** search, DiCDMInfo* entry);
    uint32_t (*findNext)(void* search, DiCDMInfo* entry);
    void (*findClose)(void* search);
    uint32_t (*remove)(const DiChar* path);
    uint32_t (*makeDir)(const DiChar* path);
    uint32_t (*removeDir)(const DiChar* path);
    uint32_t (*rename)(const DiChar* from, const DiChar* to);
    uint32_t (*diskFree)(const DiChar* path, uint64_t* total, uint64_t* free, uint64_t* avail);
};

struct DiCDMDrive {
    uint16_t kind;  /* 1 fixed, 2 removable, 4 CD-ROM, 8 network */
    DiChar root[4]; /* "X:\" */
};

struct DiCDMSlot {
    DiChar* path; /* owned; none = free */
    void* handle; /* file; or search: 0 not read yet, DI_CDM_NO_HANDLE none */
    uint32_t position;
    uint8_t isDir;
    uint8_t writable; /* a file opened with write access */
    uint8_t append;   /* every write goes to the file's end */
    DiCDMInfo* held;  /* a found entry that did not fit the last reply */
};

struct DiCDMState {
    const DiCDMFileOps* ops;
    uint8_t driveCount;
    DiCDMDrive drives[26];
    uint32_t slotCount;
    DiCDMSlot* slots;
};

enum : uint32_t {
    DI_CDM_PATH_MAX = 259,
    /* The most a read returns: its reply (20 header and 4 count bytes in
     * front) fits one frame. */
    DI_CDM_MAX_READ = DI_IO_MAX_REPLY - 24,
    /* Open files and searches a channel holds at most; more answer 24. */
    DI_CDM_MAX_SLOTS = 1024,
};

/* Sets up a channel of type 12 (after the base initialiser) with the file
 * calls, the listed drives and ten free slots; false when out of memory. */
bool diCDMChannelInit(DiIOChannel* io, const DiCDMFileOps* ops, const DiCDMDrive* drives,
                      uint32_t driveCount);
/* Closes every open file and search, frees the slots and the IO channel
 * state. The channel memory stays with the caller. A lost connection closes
 * the files and searches too (the channel stays for the next one). */
void diCDMChannelTeardown(DiIOChannel* io);
/* Fills diIOFileHandlers. */
void diCDMRegisterHandlers(void);

/* The request path (n UTF-8 bytes) in normalised form, checked against the
 * rule above and the listed drives: 0 with out filled (DI_CDM_PATH_MAX + 1
 * units), else the error number to answer (13). */
uint32_t diCDMCheckPath(const DiCDMState* st, const uint8_t* utf8, uint32_t n, DiChar* out);

/* Signed seconds since 1970 of a FILETIME, and back: false when t does not
 * fit one (t = 0 gives 0). */
int64_t diCDMTimeFromFiletime(uint64_t ft);
bool diCDMTimeToFiletime(int64_t t, uint64_t* ft);

#endif
