/* Files of the image object on Windows: UTF-8 paths become UTF-16 for the
 * wide file functions. */
#include "session/diximage.h"

#include "core/diutil.h"
#include "dd.h"

#include <io.h>
#include <stdlib.h>
#include <string.h>

static std::wstring ddImagePath(const std::string& path) {
    DiChar* w = diTextFromUtf8Dup(path.data(), path.size());
    std::wstring out = w ? std::wstring(ddW(w)) : std::wstring();
    free(w);
    return out;
}

FILE* diImageFileOpen(const std::string& path, const char* mode) {
    std::wstring w = ddImagePath(path);
    std::wstring m(mode, mode + strlen(mode));
    return w.empty() ? nullptr : _wfopen(w.c_str(), m.c_str());
}

/* One temporary per process: two clients may convert the same icon. */
std::string diImageFileTempName(const std::string& path) {
    return path + "." + std::to_string(GetCurrentProcessId()) + ".new";
}

bool diImageFileSync(FILE* stream) {
    return fflush(stream) == 0 && _commit(_fileno(stream)) == 0;
}

bool diImageFileRename(const std::string& from, const std::string& to) {
    std::wstring f = ddImagePath(from), t = ddImagePath(to);
    return !f.empty() && !t.empty() &&
           MoveFileExW(f.c_str(), t.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

void diImageFileRemove(const std::string& path) {
    std::wstring w = ddImagePath(path);
    if (!w.empty()) DeleteFileW(w.c_str());
}
