/* File access of the certificate stores on the host build (UTF-8 paths are
 * the system's own). */
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

bool diCertFileReplace(const std::string& path, const std::string& bytes) {
    std::string tmp = path + "." + std::to_string(getpid()) + ".new";
    FILE* f = fopen(tmp.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
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
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

int diCertFileSetAside(const std::string& path) {
    if (rename(path.c_str(), (path + ".bad").c_str()) == 0) return 1;
    return errno == ENOENT ? 0 : -1;
}
