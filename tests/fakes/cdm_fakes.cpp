#include "fakes/cdm_fakes.h"

#include <string.h>

FakeFiles g_fakeFiles;

namespace {

const uint64_t kDiskSize = 1 << 24; // files never grow past this

std::u16string key(const DiChar* p) {
    std::u16string k(p);
    for (char16_t& c : k)
        if (c >= 'A' && c <= 'Z') c = char16_t(c + 32);
    while (k.size() > 3 && k.back() == u'\\')
        k.pop_back();
    return k;
}

std::u16string parentOf(const std::u16string& k) {
    size_t at = k.rfind(u'\\');
    return at <= 2 ? k.substr(0, 3) : k.substr(0, at);
}

// Logs the path and answers a forced error for the call, if any.
uint32_t enter(const char* call, const DiChar* path) {
    if (path) g_fakeFiles.touched.push_back(path);
    auto f = g_fakeFiles.fail.find(call);
    return f == g_fakeFiles.fail.end() ? 0 : f->second;
}

FakeNode* find(const DiChar* path) {
    auto it = g_fakeFiles.nodes.find(key(path));
    return it == g_fakeFiles.nodes.end() ? nullptr : &it->second;
}

struct Handle {
    std::u16string k;
    uint64_t pos;
    bool write;
};
struct Search {
    std::vector<std::u16string> keys;
    size_t next;
};

void fill(const std::u16string& k, const FakeNode& n, DiCDMInfo* info) {
    info->size = n.data.size() + (n.dir ? 0 : g_fakeFiles.sizeBias);
    info->attributes = n.attributes | (n.dir ? 0x10 : 0);
    info->creation = n.creation, info->access = n.access, info->write = n.write;
    std::u16string name = k.size() > 3 ? k.substr(k.rfind(u'\\') + 1) : k;
    memset(info->name, 0, sizeof info->name);
    memcpy(info->name, name.data(), std::min<size_t>(name.size(), 259) * 2);
}

uint32_t getAttributes(const DiChar* path, uint32_t* a) {
    if (uint32_t e = enter("getAttributes", path)) return e;
    FakeNode* n = find(path);
    if (!n) return find(parentOf(key(path)).c_str()) ? 2 : 3;
    *a = n->attributes | (n->dir ? 0x10 : 0);
    return 0;
}
uint32_t setAttributes(const DiChar* path, uint32_t a) {
    if (uint32_t e = enter("setAttributes", path)) return e;
    FakeNode* n = find(path);
    if (!n) return 2;
    n->attributes = a & ~0x10u;
    return 0;
}
uint32_t statPath(const DiChar* path, DiCDMInfo* info) {
    if (uint32_t e = enter("stat", path)) return e;
    FakeNode* n = find(path);
    if (!n) return 2;
    fill(key(path), *n, info);
    return 0;
}
uint32_t openFile(const DiChar* path, bool forWrite, bool create, void** h) {
    if (uint32_t e = enter("open", path)) return e;
    FakeNode* n = find(path);
    if (n && n->dir) return 5;
    if (n && forWrite && (n->attributes & 1)) return 5;
    if (!n) {
        if (!create) return 2;
        FakeNode* parent = find(parentOf(key(path)).c_str());
        if (!parent || !parent->dir) return 3;
        g_fakeFiles.nodes[key(path)] = FakeNode{};
    }
    *h = new Handle{key(path), 0, forWrite};
    g_fakeFiles.openHandles++;
    g_fakeFiles.openOn[key(path)]++;
    return 0;
}
uint32_t handleInfo(void* h, DiCDMInfo* out) {
    Handle* x = static_cast<Handle*>(h);
    auto it = g_fakeFiles.nodes.find(x->k);
    if (it == g_fakeFiles.nodes.end()) return 6;
    fill(x->k, it->second, out);
    return 0;
}
uint32_t closeHandle(void* h) {
    g_fakeFiles.openOn[static_cast<Handle*>(h)->k]--;
    delete static_cast<Handle*>(h);
    g_fakeFiles.openHandles--;
    return 0;
}
uint32_t readFile(void* h, uint8_t* buf, uint32_t n, uint32_t* done) {
    if (uint32_t e = enter("read", nullptr)) return e;
    Handle* x = static_cast<Handle*>(h);
    const std::string& d = g_fakeFiles.nodes[x->k].data;
    uint64_t from = std::min<uint64_t>(x->pos, d.size());
    *done = uint32_t(std::min<uint64_t>(n, d.size() - from));
    memcpy(buf, d.data() + from, *done);
    x->pos += *done;
    return 0;
}
uint32_t writeFile(void* h, const uint8_t* buf, uint32_t n, uint32_t* done) {
    if (uint32_t e = enter("write", nullptr)) return e;
    Handle* x = static_cast<Handle*>(h);
    if (!x->write) return 5;
    if (x->pos + n > kDiskSize) return 112;
    std::string& d = g_fakeFiles.nodes[x->k].data;
    if (d.size() < x->pos + n) d.resize(x->pos + n);
    memcpy(&d[x->pos], buf, n);
    x->pos += n;
    *done = n;
    return 0;
}
uint32_t seekFile(void* h, int64_t off, uint32_t origin, uint64_t* pos) {
    if (uint32_t e = enter("seek", nullptr)) return e;
    Handle* x = static_cast<Handle*>(h);
    int64_t base = origin == 0   ? 0
                   : origin == 1 ? int64_t(x->pos)
                                 : int64_t(g_fakeFiles.nodes[x->k].data.size());
    int64_t to = 0;
    if (__builtin_add_overflow(base, off, &to)) return 87;
    if (to < 0) return 131;
    *pos = x->pos = uint64_t(to);
    return 0;
}
uint32_t setEnd(void* h) {
    if (uint32_t e = enter("setEnd", nullptr)) return e;
    Handle* x = static_cast<Handle*>(h);
    if (x->pos > kDiskSize) return 112;
    g_fakeFiles.nodes[x->k].data.resize(x->pos);
    return 0;
}
uint32_t setTimes(void* h, uint64_t c, uint64_t a, uint64_t w) {
    FakeNode& n = g_fakeFiles.nodes[static_cast<Handle*>(h)->k];
    if (c) n.creation = c;
    if (a) n.access = a;
    if (w) n.write = w;
    return 0;
}
uint32_t findNext(void* s, DiCDMInfo* e) {
    Search* x = static_cast<Search*>(s);
    if (x->next >= x->keys.size()) return 18;
    const std::u16string& k = x->keys[x->next++];
    fill(k, g_fakeFiles.nodes[k], e);
    return 0;
}
uint32_t findFirst(const DiChar* pattern, void** s, DiCDMInfo* e) {
    if (uint32_t er = enter("findFirst", pattern)) return er;
    std::u16string dir = key(pattern);
    dir = parentOf(dir);
    FakeNode* d = find(dir.c_str());
    if (!d || !d->dir) return 3;
    Search* x = new Search{{}, 0};
    for (auto& [k, n] : g_fakeFiles.nodes)
        if (k != dir && parentOf(k) == dir) x->keys.push_back(k);
    if (x->keys.empty()) {
        delete x;
        return 2;
    }
    *s = x;
    g_fakeFiles.openSearches++;
    return findNext(x, e);
}
void findClose(void* s) {
    delete static_cast<Search*>(s);
    g_fakeFiles.openSearches--;
}
uint32_t removeFile(const DiChar* path) {
    if (uint32_t e = enter("remove", path)) return e;
    FakeNode* n = find(path);
    if (!n) return 2;
    if (n->dir || (n->attributes & 1)) return 5;
    if (n->heldElsewhere || g_fakeFiles.openOn[key(path)] > 0) return 32;
    g_fakeFiles.nodes.erase(key(path));
    return 0;
}
uint32_t makeDir(const DiChar* path) {
    if (uint32_t e = enter("makeDir", path)) return e;
    if (find(path)) return 183;
    if (!find(parentOf(key(path)).c_str())) return 3;
    FakeNode n;
    n.dir = true;
    n.attributes = 0;
    g_fakeFiles.nodes[key(path)] = n;
    return 0;
}
uint32_t removeDir(const DiChar* path) {
    if (uint32_t e = enter("removeDir", path)) return e;
    FakeNode* n = find(path);
    if (!n) return 2;
    if (!n->dir) return 267;
    for (auto& kv : g_fakeFiles.nodes)
        if (kv.first != key(path) && parentOf(kv.first) == key(path)) return 145;
    g_fakeFiles.nodes.erase(key(path));
    return 0;
}
uint32_t renameFile(const DiChar* from, const DiChar* to) {
    if (uint32_t e = enter("rename", from)) return e;
    g_fakeFiles.touched.push_back(to);
    FakeNode* n = find(from);
    if (!n) return 2;
    if (find(to)) return 183;
    FakeNode copy = *n;
    g_fakeFiles.nodes.erase(key(from));
    g_fakeFiles.nodes[key(to)] = copy;
    return 0;
}
uint32_t diskFree(const DiChar* path, uint64_t* t, uint64_t* f, uint64_t* a) {
    if (uint32_t e = enter("diskFree", path)) return e;
    *t = 1ull << 40, *f = 1ull << 33, *a = 1ull << 32;
    return 0;
}

} // namespace

const DiCDMFileOps g_fakeFileOps = {
    getAttributes, setAttributes, statPath,  openFile,   handleInfo, closeHandle, readFile,
    writeFile,     seekFile,      setEnd,    setTimes,   findFirst,  findNext,    findClose,
    removeFile,    makeDir,       removeDir, renameFile, diskFree,
};

void fakeFilesReset() {
    g_fakeFiles = FakeFiles{};
    fakeAddDir(u"t:\\");
}
void fakeAddFile(const std::u16string& path, const std::string& data) {
    FakeNode n;
    n.data = data;
    g_fakeFiles.nodes[key(path.c_str())] = n;
}
void fakeAddDir(const std::u16string& path) {
    FakeNode n;
    n.dir = true;
    n.attributes = 0;
    g_fakeFiles.nodes[key(path.c_str())] = n;
}
bool fakeExists(const std::u16string& path) {
    return find(path.c_str()) != nullptr;
}
