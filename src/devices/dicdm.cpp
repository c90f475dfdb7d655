/* Client drive mapping: request decoding, the path rule, the handle table
 * and error mapping over the file calls of DiCDMFileOps. */
#include "devices/dicdm.h"

#include "core/diutil.h"

#include <stdlib.h>
#include <string.h>

namespace {

enum : uint32_t {
    W_FILE_NOT_FOUND = 2,
    W_PATH_NOT_FOUND = 3,
    W_ACCESS_DENIED = 5,
    W_NO_MORE_FILES = 18,
    W_NOT_READY = 21,
    W_SHARING_VIOLATION = 32,
    W_HANDLE_DISK_FULL = 39,
    W_FILE_EXISTS = 80,
    W_DISK_FULL = 112,
    W_NEGATIVE_SEEK = 131,
    W_DIR_NOT_EMPTY = 145,
    W_ALREADY_EXISTS = 183,
    W_DIRECTORY = 267,
};

enum : uint32_t {
    E_OK = 0,
    E_NOENT = 2,
    E_IO = 5,
    E_BADF = 9,
    E_ACCES = 13,
    E_EXIST = 17,
    E_NOTDIR = 20,
    E_ISDIR = 21,
    E_INVAL = 22,
    E_MFILE = 24,
    E_NOSPC = 28,
};

const uint32_t ATTR_READONLY = 0x1, ATTR_DIRECTORY = 0x10;
const int64_t EPOCH_DIFF = 11644473600LL;

/* The open flags of a file open (the server's POSIX ones). */
enum : uint32_t {
    OPEN_ACCESS = 0x3, /* any of these: write access */
    OPEN_CREATE = 0x40,
    OPEN_EXCLUSIVE = 0x80,
    OPEN_TRUNCATE = 0x200,
    OPEN_APPEND = 0x400,
};

DiCDMState* stateOf(DiIOChannel* io) {
    return static_cast<DiCDMState*>(io->priv);
}

bool notFound(uint32_t w) {
    return w == W_FILE_NOT_FOUND || w == W_PATH_NOT_FOUND || w == W_NOT_READY;
}
bool diskFull(uint32_t w) {
    return w == W_DISK_FULL || w == W_HANDLE_DISK_FULL;
}
bool exists(uint32_t w) {
    return w == W_ALREADY_EXISTS || w == W_FILE_EXISTS;
}

void status(DiIOChannel* io, uint32_t err, uint16_t stream) {
    uint8_t b[4];
    diIOPut32(b, err);
    diIOFileReply(io, 200, 0, 4, b, stream);
}

DiChar lowerAscii(DiChar c) {
    return c >= 'A' && c <= 'Z' ? DiChar(c + 32) : c;
}

bool samePath(const DiChar* a, const DiChar* b) {
    for (; *a && *b; a++, b++)
        if (lowerAscii(*a) != lowerAscii(*b)) return false;
    return *a == *b;
}

size_t textLength(const DiChar* s) {
    size_t n = 0;
    while (s[n])
        n++;
    return n;
}

DiChar* textDup(const DiChar* s) {
    size_t n = textLength(s);
    DiChar* d = static_cast<DiChar*>(malloc((n + 1) * sizeof(DiChar)));
    if (d) memcpy(d, s, (n + 1) * sizeof(DiChar));
    return d;
}

/* Reads a path field; false (answer 13) when it is cut off or refused. */
bool takePath(DiIOChannel* io, DiIOCursor& c, DiChar* out) {
    uint32_t n = c.u32();
    const uint8_t* p = c.bytes(n);
    return p && diCDMCheckPath(stateOf(io), p, n, out) == 0;
}

/* The slot for a request on a file (isDir false) or a directory; none when
 * the number is out of range, the slot free or of the other kind. */
DiCDMSlot* slotFor(DiIOChannel* io, uint32_t n, bool isDir) {
    DiCDMState* st = stateOf(io);
    if (n >= st->slotCount || !st->slots[n].path || st->slots[n].isDir != isDir) return nullptr;
    return &st->slots[n];
}

/* True when a file or search may still be opened: a server that opens
 * without closing meets the ceiling before it exhausts handles or memory. */
bool slotRoom(const DiCDMState* st) {
    if (st->slotCount < DI_CDM_MAX_SLOTS) return true;
    for (uint32_t i = 0; i < st->slotCount; i++)
        if (!st->slots[i].path) return true;
    return false;
}

/* Takes the first free slot for path; -1 when memory runs out or every
 * slot is taken. */
int32_t takeSlot(DiCDMState* st, const DiChar* path, void* handle, bool isDir) {
    uint32_t i = 0;
    while (i < st->slotCount && st->slots[i].path)
        i++;
    if (i == st->slotCount) {
        if (st->slotCount >= DI_CDM_MAX_SLOTS) return -1;
        uint32_t n = st->slotCount + 10 < DI_CDM_MAX_SLOTS ? st->slotCount + 10 : DI_CDM_MAX_SLOTS;
        DiCDMSlot* grown = static_cast<DiCDMSlot*>(realloc(st->slots, n * sizeof(DiCDMSlot)));
        if (!grown) return -1;
        memset(grown + st->slotCount, 0, (n - st->slotCount) * sizeof(DiCDMSlot));
        st->slots = grown;
        st->slotCount = n;
    }
    DiChar* copy = textDup(path);
    if (!copy) return -1;
    st->slots[i] = DiCDMSlot{copy, handle, 0, uint8_t(isDir), 0, 0, nullptr};
    return int32_t(i);
}

void endSearch(DiCDMState* st, DiCDMSlot* s) {
    if (s->handle && s->handle != DI_CDM_NO_HANDLE) st->ops->findClose(s->handle);
    s->handle = DI_CDM_NO_HANDLE;
    free(s->held);
    s->held = nullptr;
}

void freeSlot(DiCDMSlot* s) {
    free(s->path);
    free(s->held);
    memset(s, 0, sizeof *s);
}

/* Closes every file and search the server opened and frees their slots:
 * a handle left open keeps the user's file locked against local programs. */
void closeSlots(DiCDMState* st) {
    for (uint32_t i = 0; i < st->slotCount; i++) {
        DiCDMSlot& s = st->slots[i];
        if (!s.path) continue;
        if (s.isDir)
            endSearch(st, &s);
        else if (s.handle != DI_CDM_NO_HANDLE)
            st->ops->close(s.handle);
        freeSlot(&s);
    }
}

/* Opens a file slot's file again after its handle was let go, at the
 * position it had. When that fails the slot stays without a handle. */
void reopen(DiCDMState* st, DiCDMSlot* s, uint64_t position) {
    void* h = nullptr;
    if (st->ops->open(s->path, s->writable, false, &h)) return;
    s->handle = h;
    st->ops->seek(h, int64_t(position), 0, &position);
}

/* An open file slot holding the path, or none. */
DiCDMSlot* slotHandleFor(DiCDMState* st, const DiChar* path) {
    for (uint32_t i = 0; i < st->slotCount; i++) {
        DiCDMSlot& s = st->slots[i];
        if (s.path && !s.isDir && s.handle != DI_CDM_NO_HANDLE && samePath(s.path, path)) return &s;
    }
    return nullptr;
}

void putStat(uint8_t* p, const DiCDMInfo& in) {
    memset(p, 0, 48);
    diIOPut32(p, uint32_t(in.size)), diIOPut32(p + 4, uint32_t(in.size >> 32));
    diIOPut32(p + 8, in.attributes & ATTR_DIRECTORY ? 16 : 0);
    diIOPut32(p + 12, in.attributes);
    const uint64_t times[3] = {in.write, in.access, in.creation};
    for (int i = 0; i < 3; i++) {
        uint64_t t = uint64_t(diCDMTimeFromFiletime(times[i]));
        diIOPut32(p + 24 + 8 * i, uint32_t(t)), diIOPut32(p + 28 + 8 * i, uint32_t(t >> 32));
    }
}

bool isBareRoot(const DiChar* p) {
    return p[0] && p[1] == ':' && p[2] == '\\' && !p[3];
}

uint32_t statPath(DiCDMState* st, const DiChar* path, DiCDMInfo* info) {
    uint32_t attrs = 0, w = st->ops->getAttributes(path, &attrs);
    if (w) return notFound(w) ? E_NOENT : E_ACCES;
    memset(info, 0, sizeof *info);
    if (st->ops->stat(path, info) == 0) return E_OK;
    if (!isBareRoot(path)) return E_ACCES;
    memset(info, 0, sizeof *info);
    info->attributes = attrs | ATTR_DIRECTORY;
    return E_OK;
}

/* ---- requests ---- */

void putText(uint8_t*& p, const char* s, uint32_t n) {
    diIOPut32(p, n);
    memcpy(p + 4, s, n);
    p += 4 + n;
}

void listDrives(DiIOChannel* io, const uint8_t*, uint32_t, uint16_t stream) {
    DiCDMState* st = stateOf(io);
    char* texts[3] = {};
    size_t size = 4;
    for (int i = 0; i < 3; i++) {
        const DiChar* t = io->texts[i] ? io->texts[i] : u"";
        texts[i] = diTextToUtf8Dup(t, textLength(t));
        size += 4 + (texts[i] ? strlen(texts[i]) : 0);
    }
    size += st->driveCount * (8 + 3);
    uint8_t* out = static_cast<uint8_t*>(calloc(1, size + 1));
    if (out) {
        uint8_t* p = out;
        for (char* t : texts)
            putText(p, t ? t : "", t ? uint32_t(strlen(t)) : 0);
        *p = st->driveCount;
        p += 4;
        for (uint32_t i = 0; i < st->driveCount; i++) {
            diIOPut16(p, st->drives[i].kind);
            diIOPut16(p + 2, 0);
            p += 4;
            char root[3] = {char(st->drives[i].root[0]), ':', '\\'};
            putText(p, root, 3);
        }
        diIOFileReply(io, 100, 0, uint32_t(p - out), out, stream);
    }
    free(out);
    for (char* t : texts)
        free(t);
}

void statReq(DiIOChannel* io, const uint8_t* payload, uint32_t length, uint16_t stream) {
    DiCDMState* st = stateOf(io);
    DiIOCursor c(payload, length);
    uint32_t n = c.u32();
    const uint8_t* p = c.bytes(n);
    uint32_t slotNo = c.u32();
    DiChar path[DI_CDM_PATH_MAX + 1];
    DiCDMInfo info;
    uint32_t err;
    if (!c.ok) {
        err = E_ACCES;
    } else if (n) {
        err = diCDMCheckPath(st, p, n, path);
        if (!err) err = statPath(st, path, &info);
    } else {
        DiCDMSlot* s =
            slotNo < st->slotCount && st->slots[slotNo].path ? &st->slots[slotNo] : nullptr;
        if (!s) {
            err = E_BADF;
        } else if (s->isDir || s->handle == DI_CDM_NO_HANDLE) {
            err = statPath(st, s->path, &info);
        } else {
            memset(&info, 0, sizeof info);
            err = st->ops->info(s->handle, &info) ? E_ACCES : E_OK;
        }
    }
    if (err) return status(io, err, stream);
    uint8_t out[48];
    putStat(out, info);
    diIOFileReply(io, 101, 0, sizeof out, out, stream);
}

void openDir(DiIOChannel* io, const uint8_t* payload, uint32_t length, uint16_t stream) {
    DiCDMState* st = stateOf(io);
    DiIOCursor c(payload, length);
    DiChar path[DI_CDM_PATH_MAX + 1];
    if (!takePath(io, c, path)) return status(io, E_ACCES, stream);
    uint32_t attrs = 0, w = st->ops->getAttributes(path, &attrs);
    if (w) return status(io, notFound(w) ? E_NOENT : E_ACCES, stream);
    if (!(attrs & ATTR_DIRECTORY)) return status(io, E_NOTDIR, stream);
    if (!slotRoom(st)) return status(io, E_MFILE, stream);
    int32_t slot = takeSlot(st, path, nullptr, true);
    if (slot < 0) return status(io, E_ACCES, stream);
    uint8_t out[4];
    diIOPut32(out, uint32_t(slot));
    diIOFileReply(io, 102, 0, 4, out, stream);
}

/* The next entry of the slot's search into e: 0, W_NO_MORE_FILES at the
 * end, or another error when there is no usable search. */
uint32_t nextEntry(DiCDMState* st, DiCDMSlot* s, DiCDMInfo* e) {
    if (s->held) {
        *e = *s->held;
        free(s->held);
        s->held = nullptr;
        return 0;
    }
    if (s->position == 0) {
        endSearch(st, s);
        DiChar pattern[DI_CDM_PATH_MAX + 5];
        size_t n = textLength(s->path);
        memcpy(pattern, s->path, n * sizeof(DiChar));
        const DiChar* tail = n && s->path[n - 1] == '\\' ? u"*.*" : u"\\*.*";
        size_t t = textLength(tail);
        memcpy(pattern + n, tail, (t + 1) * sizeof(DiChar));
        void* h = nullptr;
        uint32_t w = st->ops->findFirst(pattern, &h, e);
        /* An empty search still counts as a search: later reads see its end. */
        s->handle = w == 0 ? h : DI_CDM_NO_HANDLE;
        if (w == W_FILE_NOT_FOUND || w == W_NO_MORE_FILES) {
            s->handle = nullptr;
            s->position = 0;
            return W_NO_MORE_FILES;
        }
        return w;
    }
    if (!s->handle || s->handle == DI_CDM_NO_HANDLE) return W_ACCESS_DENIED;
    return st->ops->findNext(s->handle, e);
}

void readDir(DiIOChannel* io, const uint8_t* payload, uint32_t length, uint16_t stream) {
    DiCDMState* st = stateOf(io);
    DiIOCursor c(payload, length);
    uint32_t slotNo = c.u32(), max = c.u32();
    if (!c.ok) return status(io, E_ACCES, stream);
    DiCDMSlot* s = slotFor(io, slotNo, true);
    if (!s) return status(io, E_BADF, stream);
    if (s->position != 0 && !s->held && (!s->handle || s->handle == DI_CDM_NO_HANDLE))
        return status(io, E_BADF, stream);
    const uint32_t limit = DI_IO_MAX_REPLY - DI_IO_REQ_HEADER;
    uint8_t* out = static_cast<uint8_t*>(malloc(limit + 64)); /* putStat's tail */
    if (!out) return status(io, E_ACCES, stream);
    uint32_t used = 8, count = 0, end = 0;
    DiCDMInfo e;
    while (count < max) {
        uint32_t w = nextEntry(st, s, &e);
        if (w) {
            if (w != W_NO_MORE_FILES && count == 0) {
                free(out);
                return status(io, E_BADF, stream);
            }
            end = 1;
            break;
        }
        char name[260 * 3 + 1];
        const DiChar* src = e.name;
        char* t = name;
        e.name[259] = 0;
        diUtf16ToUtf8(&src, e.name + textLength(e.name), &t, name + sizeof name, DI_CONV_LENIENT);
        uint32_t nameLen = uint32_t(t - name);
        uint32_t need = 48 + nameLen;
        if (used + need > limit) {
            /* Kept for the next read: the position stays at this entry. */
            s->held = static_cast<DiCDMInfo*>(malloc(sizeof e));
            if (s->held) *s->held = e;
            break;
        }
        uint8_t* p = out + used;
        diIOPut32(p, s->position);
        putStat(p + 4, e);
        /* The entry form has no padding: size, flag, attributes, times. */
        memmove(p + 20, p + 28, 24);
        diIOPut32(p + 48 - 4, nameLen);
        memcpy(p + 48, name, nameLen);
        used += need;
        count++;
        s->position++;
    }
    diIOPut32(out, end);
    diIOPut32(out + 4, count);
    diIOFileReply(io, 103, 0, used, out, stream);
    free(out);
}

void seekDir(DiIOChannel* io, const uint8_t* payload, uint32_t length, uint16_t stream) {
    DiCDMState* st = stateOf(io);
    DiIOCursor c(payload, length);
    uint32_t slotNo = c.u32(), index = c.u32();
    if (!c.ok) return status(io, E_ACCES, stream);
    DiCDMSlot* s = slotFor(io, slotNo, true);
    if (!s) return status(io, E_BADF, stream);
    endSearch(st, s);
    s->position = 0;
    DiCDMInfo e;
    /* Entries 0 to index are consumed: the next read returns index + 1. */
    if (nextEntry(st, s, &e) == 0) {
        s->position = 1;
        for (uint32_t i = 0; i < index && st->ops->findNext(s->handle, &e) == 0; i++)
            s->position++;
    }
    status(io, E_OK, stream);
}

void rewindDir(DiIOChannel* io, const uint8_t* payload, uint32_t length, uint16_t stream) {
    DiIOCursor c(payload, length);
    uint32_t slotNo = c.u32();
    if (!c.ok) return status(io, E_ACCES, stream);
    DiCDMSlot* s = slotFor(io, slotNo, true);
    if (!s) return status(io, E_BADF, stream);
    endSearch(stateOf(io), s);
    s->position = 0;
    status(io, E_OK, stream);
}

void closeDir(DiIOChannel* io, const uint8_t* payload, uint32_t length, uint16_t stream) {
    DiIOCursor c(payload, length);
    uint32_t slotNo = c.u32();
    if (!c.ok) return status(io, E_ACCES, stream);
    DiCDMSlot* s = slotFor(io, slotNo, true);
    if (!s) return status(io, E_BADF, stream);
    endSearch(stateOf(io), s);
    freeSlot(s);
    status(io, E_OK, stream);
}

void makeDir(DiIOChannel* io, const uint8_t* payload, uint32_t length, uint16_t stream) {
    DiIOCursor c(payload, length);
    DiChar path[DI_CDM_PATH_MAX + 1];
    if (!takePath(io, c, path)) return status(io, E_ACCES, stream);
    uint32_t w = stateOf(io)->ops->makeDir(path);
    uint32_t err = !w                              ? E_OK
                   : diskFull(w)                   ? E_NOSPC
                   : exists(w) || w == W_DIRECTORY ? E_EXIST
                                                   : E_ACCES;
    status(io, err, stream);
}

void removeDir(DiIOChannel* io, const uint8_t* payload, uint32_t length, uint16_t stream) {
    DiIOCursor c(payload, length);
    DiChar path[DI_CDM_PATH_MAX + 1];
    if (!takePath(io, c, path)) return status(io, E_ACCES, stream);
    uint32_t w = stateOf(io)->ops->removeDir(path);
    uint32_t err = !w                     ? E_OK
                   : notFound(w)          ? E_NOENT
                   : w == W_DIR_NOT_EMPTY ? E_EXIST
                   : w == W_DIRECTORY     ? E_NOTDIR
                                          : E_ACCES;
    status(io, err, stream);
}

void setAttributes(DiIOChannel* io, const uint8_t* payload, uint32_t length, uint16_t stream) {
    DiIOCursor c(payload, length);
    DiChar path[DI_CDM_PATH_MAX + 1];
    if (!takePath(io, c, path)) return status(io, E_ACCES, stream);
    uint32_t attrs = c.u32();
    if (!c.ok) return status(io, E_ACCES, stream);
    uint32_t w = stateOf(io)->ops->setAttributes(path, attrs);
    status(io, !w ? E_OK : notFound(w) ? E_NOENT : E_ACCES, stream);
}

void diskFree(DiIOChannel* io, const uint8_t* payload, uint32_t length, uint16_t stream) {
    DiIOCursor c(payload, length);
    DiChar path[DI_CDM_PATH_MAX + 1];
    uint64_t v[3] = {};
    if (!takePath(io, c, path) || stateOf(io)->ops->diskFree(path, &v[0], &v[1], &v[2]))
        return status(io, E_ACCES, stream);
    uint8_t out[24];
    for (int i = 0; i < 3; i++)
        diIOPut32(out + 8 * i, uint32_t(v[i])), diIOPut32(out + 8 * i + 4, uint32_t(v[i] >> 32));
    diIOFileReply(io, 110, 0, sizeof out, out, stream);
}

void openFile(DiIOChannel* io, const uint8_t* payload, uint32_t length, uint16_t stream) {
    DiCDMState* st = stateOf(io);
    DiIOCursor c(payload, length);
    DiChar path[DI_CDM_PATH_MAX + 1];
    if (!takePath(io, c, path)) return status(io, E_ACCES, stream);
    uint32_t flags = c.u32();
    if (!c.ok) return status(io, E_ACCES, stream);
    uint32_t attrs = 0, aw = st->ops->getAttributes(path, &attrs);
    if (!aw && (attrs & ATTR_DIRECTORY)) return status(io, E_ISDIR, stream);
    bool create = flags & OPEN_CREATE;
    if (!aw && create && (flags & OPEN_EXCLUSIVE)) return status(io, E_EXIST, stream);
    if (aw && notFound(aw) && !create) return status(io, E_NOENT, stream);
    if (!slotRoom(st)) return status(io, E_MFILE, stream); /* before anything is made */
    void* h = nullptr;
    bool forWrite = create || (flags & OPEN_ACCESS);
    uint32_t w = st->ops->open(path, forWrite, create, &h);
    if (w) {
        uint32_t err = notFound(w)   ? E_NOENT
                       : diskFull(w) ? E_NOSPC
                       : exists(w)   ? E_EXIST
                                     : E_ACCES;
        return status(io, err, stream);
    }
    int32_t slot = takeSlot(st, path, h, false);
    if (slot < 0) {
        st->ops->close(h);
        return status(io, E_ACCES, stream);
    }
    DiCDMSlot& s = st->slots[slot];
    s.writable = forWrite;
    s.append = forWrite && (flags & OPEN_APPEND);
    /* Truncated only once the open can succeed: a fresh handle stands at
     * the start, so its end there empties the file. */
    if (forWrite && (flags & OPEN_TRUNCATE) && st->ops->setEnd(h)) {
        st->ops->close(h);
        freeSlot(&s);
        return status(io, E_ACCES, stream);
    }
    uint8_t out[4];
    diIOPut32(out, uint32_t(slot));
    diIOFileReply(io, 111, 0, 4, out, stream);
}

void closeFile(DiIOChannel* io, const uint8_t* payload, uint32_t length, uint16_t stream) {
    DiIOCursor c(payload, length);
    uint32_t slotNo = c.u32();
    if (!c.ok) return status(io, E_ACCES, stream);
    DiCDMSlot* s = slotFor(io, slotNo, false);
    if (!s) return status(io, E_BADF, stream);
    if (s->handle != DI_CDM_NO_HANDLE && stateOf(io)->ops->close(s->handle))
        return status(io, E_BADF, stream);
    freeSlot(s);
    status(io, E_OK, stream);
}

void readFile(DiIOChannel* io, const uint8_t* payload, uint32_t length, uint16_t stream) {
    DiIOCursor c(payload, length);
    uint32_t slotNo = c.u32(), count = c.u32();
    if (!c.ok) return status(io, E_ACCES, stream);
    DiCDMSlot* s = slotFor(io, slotNo, false);
    if (!s || s->handle == DI_CDM_NO_HANDLE) return status(io, E_BADF, stream);
    if (count > DI_CDM_MAX_READ) count = DI_CDM_MAX_READ;
    uint8_t* out = static_cast<uint8_t*>(malloc(4 + size_t(count)));
    if (!out) return status(io, E_IO, stream);
    uint32_t done = 0;
    if (stateOf(io)->ops->read(s->handle, out + 4, count, &done) || done > count) {
        free(out);
        return status(io, E_IO, stream);
    }
    diIOPut32(out, done);
    diIOFileReply(io, 113, 0, 4 + done, out, stream);
    free(out);
}

void writeFile(DiIOChannel* io, const uint8_t* payload, uint32_t length, uint16_t stream) {
    DiIOCursor c(payload, length);
    uint32_t slotNo = c.u32(), count = c.u32();
    const uint8_t* data = c.bytes(count);
    if (!data) return status(io, E_ACCES, stream);
    DiCDMSlot* s = slotFor(io, slotNo, false);
    if (!s || s->handle == DI_CDM_NO_HANDLE) return status(io, E_BADF, stream);
    const DiCDMFileOps* ops = stateOf(io)->ops;
    uint64_t end = 0;
    /* Opened to append: every write lands at the end, wherever the server
     * moved the position, and never over what the file holds. */
    if (s->append && ops->seek(s->handle, 0, 2, &end)) return status(io, E_IO, stream);
    uint32_t done = 0, w = ops->write(s->handle, data, count, &done);
    if (w) return status(io, diskFull(w) ? E_NOSPC : E_IO, stream);
    uint8_t out[4];
    diIOPut32(out, done);
    diIOFileReply(io, 114, 0, 4, out, stream);
}

void deleteFile(DiIOChannel* io, const uint8_t* payload, uint32_t length, uint16_t stream) {
    DiCDMState* st = stateOf(io);
    DiIOCursor c(payload, length);
    DiChar path[DI_CDM_PATH_MAX + 1];
    if (!takePath(io, c, path)) return status(io, E_ACCES, stream);
    uint32_t w = st->ops->remove(path), err = E_ACCES;
    if (!w) {
        err = E_OK;
    } else if (notFound(w)) {
        err = E_NOENT;
    } else if (w == W_ACCESS_DENIED) {
        uint32_t attrs = 0;
        if (!st->ops->getAttributes(path, &attrs) && (attrs & ATTR_READONLY) &&
            !(attrs & ATTR_DIRECTORY) && !st->ops->setAttributes(path, attrs & ~ATTR_READONLY)) {
            if (!st->ops->remove(path))
                err = E_OK;
            else
                st->ops->setAttributes(path, attrs);
        }
    } else if (w == W_SHARING_VIOLATION) {
        /* Our own open handle keeps it: let it go and try again. Held by
         * another program as well, the file stays and the server must learn
         * so; the server's open file then goes on where it stood. */
        if (DiCDMSlot* s = slotHandleFor(st, path)) {
            uint64_t at = 0;
            st->ops->seek(s->handle, 0, 1, &at);
            st->ops->close(s->handle);
            s->handle = DI_CDM_NO_HANDLE;
            if (!st->ops->remove(path))
                err = E_OK;
            else
                reopen(st, s, at);
        }
    }
    status(io, err, stream);
}

void seekFile(DiIOChannel* io, const uint8_t* payload, uint32_t length, uint16_t stream) {
    DiIOCursor c(payload, length);
    uint32_t slotNo = c.u32();
    int64_t offset = int64_t(c.u64());
    uint32_t origin = c.u32();
    if (!c.ok) return status(io, E_ACCES, stream);
    DiCDMSlot* s = slotFor(io, slotNo, false);
    if (!s || s->handle == DI_CDM_NO_HANDLE) return status(io, E_BADF, stream);
    /* A negative offset is fine from the current place or the end as long as
     * the result is not before the start (the file layer refuses that). */
    if (origin > 2 || (origin == 0 && offset < 0)) return status(io, E_INVAL, stream);
    uint64_t pos = 0;
    uint32_t w = stateOf(io)->ops->seek(s->handle, offset, origin, &pos);
    if (w) return status(io, w == W_NEGATIVE_SEEK ? E_INVAL : E_IO, stream);
    uint8_t out[8];
    diIOPut32(out, uint32_t(pos)), diIOPut32(out + 4, uint32_t(pos >> 32));
    diIOFileReply(io, 116, 0, 8, out, stream);
}

/* Opens path for writing; on a sharing violation borrows the handle of our
 * own slot on it. *own tells whether the caller must close it. */
uint32_t openForWrite(DiCDMState* st, const DiChar* path, void** h, bool* own) {
    uint32_t w = st->ops->open(path, true, false, h);
    *own = w == 0;
    if (w == W_SHARING_VIOLATION) {
        if (DiCDMSlot* s = slotHandleFor(st, path)) {
            *h = s->handle;
            return 0;
        }
    }
    return w;
}

void setTimes(DiIOChannel* io, const uint8_t* payload, uint32_t length, uint16_t stream) {
    DiCDMState* st = stateOf(io);
    DiIOCursor c(payload, length);
    DiChar path[DI_CDM_PATH_MAX + 1];
    if (!takePath(io, c, path)) return status(io, E_ACCES, stream);
    int64_t t[3];
    for (int64_t& v : t)
        v = int64_t(c.u64());
    if (!c.ok) return status(io, E_ACCES, stream);
    DiCDMInfo now;
    uint32_t err = statPath(st, path, &now);
    if (err) return status(io, err, stream);
    if (t[0] == diCDMTimeFromFiletime(now.creation) && t[1] == diCDMTimeFromFiletime(now.access) &&
        t[2] == diCDMTimeFromFiletime(now.write))
        return status(io, E_OK, stream);
    uint64_t ft[3];
    for (int i = 0; i < 3; i++)
        if (!diCDMTimeToFiletime(t[i], &ft[i])) return status(io, E_INVAL, stream);
    bool readOnly = now.attributes & ATTR_READONLY;
    if (readOnly && st->ops->setAttributes(path, now.attributes & ~ATTR_READONLY))
        return status(io, E_ACCES, stream);
    void* h = nullptr;
    bool own = false;
    err = openForWrite(st, path, &h, &own) ? E_ACCES : E_OK;
    if (!err && st->ops->setTimes(h, ft[0], ft[1], ft[2])) err = E_ACCES;
    if (own) st->ops->close(h);
    if (readOnly && st->ops->setAttributes(path, now.attributes)) err = E_ACCES;
    status(io, err, stream);
}

void renameReq(DiIOChannel* io, const uint8_t* payload, uint32_t length, uint16_t stream) {
    DiIOCursor c(payload, length);
    DiChar from[DI_CDM_PATH_MAX + 1], to[DI_CDM_PATH_MAX + 1];
    if (!takePath(io, c, from) || !takePath(io, c, to)) return status(io, E_ACCES, stream);
    uint32_t w = stateOf(io)->ops->rename(from, to);
    uint32_t err = !w            ? E_OK
                   : notFound(w) ? E_NOENT
                   : diskFull(w) ? E_NOSPC
                   : exists(w)   ? E_EXIST
                                 : E_ACCES;
    status(io, err, stream);
}

void truncateReq(DiIOChannel* io, const uint8_t* payload, uint32_t length, uint16_t stream) {
    DiCDMState* st = stateOf(io);
    DiIOCursor c(payload, length);
    uint32_t n = c.u32();
    const uint8_t* p = c.bytes(n);
    uint32_t slotNo = c.u32();
    int64_t len = int64_t(c.u64());
    if (!c.ok) return status(io, E_ACCES, stream);
    if (len < 0) return status(io, E_INVAL, stream);
    DiChar path[DI_CDM_PATH_MAX + 1];
    void* h = nullptr;
    bool own = false;
    if (n) {
        if (diCDMCheckPath(st, p, n, path)) return status(io, E_ACCES, stream);
        uint32_t attrs = 0;
        if (!st->ops->getAttributes(path, &attrs) && (attrs & ATTR_DIRECTORY))
            return status(io, E_ISDIR, stream);
        uint32_t w = openForWrite(st, path, &h, &own);
        if (w) return status(io, notFound(w) ? E_NOENT : E_ACCES, stream);
    } else {
        if (slotNo < st->slotCount && st->slots[slotNo].path && st->slots[slotNo].isDir)
            return status(io, E_ISDIR, stream);
        DiCDMSlot* s = slotFor(io, slotNo, false);
        if (!s) return status(io, E_BADF, stream);
        if (s->handle == DI_CDM_NO_HANDLE) return status(io, E_ACCES, stream);
        h = s->handle;
    }
    uint64_t saved = 0, at = 0;
    uint32_t err = E_OK;
    if (st->ops->seek(h, 0, 1, &saved)) {
        err = E_ACCES;
    } else if (uint32_t w = st->ops->seek(h, len, 0, &at)) {
        err = notFound(w) ? E_NOENT : diskFull(w) ? E_NOSPC : E_ACCES;
    } else if (uint32_t w2 = st->ops->setEnd(h)) {
        err = diskFull(w2) ? E_NOSPC : E_ACCES;
    }
    if (own)
        st->ops->close(h);
    else
        st->ops->seek(h, int64_t(saved), 0, &at);
    status(io, err, stream);
}

} // namespace

int64_t diCDMTimeFromFiletime(uint64_t ft) {
    return int64_t(ft / 10000000u) - EPOCH_DIFF;
}

bool diCDMTimeToFiletime(int64_t t, uint64_t* ft) {
    if (t == 0) {
        *ft = 0;
        return true;
    }
    /* FILETIME values are signed 64-bit on the Windows side. */
    if (t < -EPOCH_DIFF || t > INT64_MAX / 10000000 - EPOCH_DIFF) return false;
    *ft = uint64_t(t + EPOCH_DIFF) * 10000000u;
    return true;
}

uint32_t diCDMCheckPath(const DiCDMState* st, const uint8_t* utf8, uint32_t n, DiChar* out) {
    if (n == 0 || n > DI_CDM_PATH_MAX * 3) return E_ACCES;
    DiChar buf[DI_CDM_PATH_MAX + 2];
    const char* src = reinterpret_cast<const char*>(utf8);
    DiChar* t = buf;
    if (diUtf8ToUtf16(&src, src + n, &t, buf + DI_CDM_PATH_MAX + 1, DI_CONV_STRICT) < 0)
        return E_ACCES;
    size_t len = size_t(t - buf);
    for (size_t i = 0; i < len; i++) {
        if (buf[i] == '/') buf[i] = '\\';
        /* Control characters (NUL included) and wildcards name nothing. */
        if (buf[i] < 0x20 || buf[i] == '*' || buf[i] == '?' || buf[i] == '"' || buf[i] == '<' ||
            buf[i] == '>' || buf[i] == '|')
            return E_ACCES;
    }
    if (len >= 2 && buf[len - 2] == '\\' && buf[len - 1] == '.') len--;
    if (len == 2 && buf[1] == ':') buf[len++] = '\\';
    if (len > DI_CDM_PATH_MAX || len < 3 || buf[1] != ':' || buf[2] != '\\') return E_ACCES;
    buf[len] = 0;
    bool listed = false;
    for (uint32_t i = 0; i < st->driveCount; i++)
        listed |= lowerAscii(st->drives[i].root[0]) == lowerAscii(buf[0]);
    if (!listed) return E_ACCES;
    /* Components: no stream names and no devices, and no "\\" that would make
     * a later part look like a root. */
    size_t start = 3;
    for (size_t i = 3; i <= len; i++) {
        if (i < len && buf[i] == ':') return E_ACCES;
        if (i == len || buf[i] == '\\') {
            if (i == start && i != len) return E_ACCES;
            if (diIsDeviceName(buf + start, i - start)) return E_ACCES;
            start = i + 1;
        }
    }
    memcpy(out, buf, (len + 1) * sizeof(DiChar));
    return E_OK;
}

bool diCDMChannelInit(DiIOChannel* io, const DiCDMFileOps* ops, const DiCDMDrive* drives,
                      uint32_t driveCount) {
    diIOChannelInit(io);
    DiCDMState* st = static_cast<DiCDMState*>(calloc(1, sizeof(DiCDMState)));
    DiCDMSlot* slots = static_cast<DiCDMSlot*>(calloc(10, sizeof(DiCDMSlot)));
    if (!st || !slots) {
        free(st);
        free(slots);
        return false;
    }
    st->ops = ops;
    st->driveCount = uint8_t(driveCount > 26 ? 26 : driveCount);
    memcpy(st->drives, drives, st->driveCount * sizeof(DiCDMDrive));
    st->slots = slots;
    st->slotCount = 10;
    io->priv = st;
    io->connectionEnded = [](DiIOChannel* ch) {
        if (DiCDMState* cs = stateOf(ch)) closeSlots(cs);
    };
    diCDMRegisterHandlers();
    return true;
}

void diCDMChannelTeardown(DiIOChannel* io) {
    DiCDMState* st = stateOf(io);
    if (st) {
        closeSlots(st);
        free(st->slots);
        free(st);
    }
    io->priv = nullptr;
    io->connectionEnded = nullptr;
    diIOChannelTeardown(io);
}

void diCDMRegisterHandlers(void) {
    static const DiIORequestHandler table[21] = {
        listDrives, statReq,    openDir,       readDir,  seekDir,   nullptr,   closeDir,
        makeDir,    removeDir,  setAttributes, diskFree, openFile,  closeFile, readFile,
        writeFile,  deleteFile, seekFile,      setTimes, renameReq, rewindDir, truncateReq};
    for (uint32_t i = 0; i < DI_COUNTOF(table); i++)
        diIOFileHandlers[i] = table[i];
}
