/* File access of the certificate stores on the host build (UTF-8 paths are
 * the system's own). The host build runs one copy of the cache at a time:
 * the file lock is Windows'. */
#include "net/dicertcache.h"

#include <errno.h>
#include <stdio.h>
#include <unistd.h>

bool diCertFileRead(const std::string& path, std::string* bytes, size_t limit) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    bytes->clear();
    char buf[8192];
    size_t n;
    bool ok = true;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) {
        if (bytes->size() + n > limit) {
            ok = false;
            break;
        }
        bytes->append(buf, n);
    }
    if (ferror(f)) ok = false;
    fclose(f);
    return ok;
}

/* The bytes reach the disk before the caller is told they did. A file that
 * cannot be synchronised (a device) has nothing to flush. */
static bool synced(FILE* f) {
    return fflush(f) == 0 && (fsync(fileno(f)) == 0 || errno == EINVAL);
}

bool diCertFileReplace(const std::string& path, const std::string& bytes) {
    std::string tmp = path + "." + std::to_string(getpid()) + ".new";
    FILE* f = fopen(tmp.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && synced(f);
    ok = fclose(f) == 0 && ok;
    if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
        remove(tmp.c_str());
        return false;
    }
    return true;
}

bool diCertFileAppend(const std::string& path, const std::string& bytes) {
    FILE* f = fopen(path.c_str(), "ab");
    if (!f) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && synced(f);
    return fclose(f) == 0 && ok;
}

int diCertFileSetAside(const std::string& path, std::string* kept) {
    /* A link fails where a file is, a rename would replace it. */
    for (int i = 0; i < 100; i++) {
        std::string name = path + ".bad" + (i ? std::to_string(i) : std::string());
        if (link(path.c_str(), name.c_str()) == 0) {
            unlink(path.c_str());
            if (kept) *kept = name;
            return 1;
        }
        if (errno == ENOENT) return 0;
        if (errno != EEXIST) return -1;
    }
    return -1;
}

void* diCertFileLock(const std::string&) {
    return nullptr;
}

void diCertFileUnlock(void*) {}
