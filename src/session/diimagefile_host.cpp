/* Files of the image object on the host build (UTF-8 paths are the
 * system's own). */
#include "session/diximage.h"

#include <unistd.h>

FILE* diImageFileOpen(const std::string& path, const char* mode) {
    return fopen(path.c_str(), mode);
}

std::string diImageFileTempName(const std::string& path) {
    return path + "." + std::to_string(getpid()) + ".new";
}

bool diImageFileSync(FILE* stream) {
    return fflush(stream) == 0 && fsync(fileno(stream)) == 0;
}

bool diImageFileRename(const std::string& from, const std::string& to) {
    return rename(from.c_str(), to.c_str()) == 0;
}

void diImageFileRemove(const std::string& path) {
    remove(path.c_str());
}
