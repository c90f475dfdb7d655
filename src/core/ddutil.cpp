#include "core/ddutil.h"

#include <io.h>
#include <wchar.h>

#include "core/diutil.h"

FILE* ddFileOpen(const wchar_t* path, const wchar_t* mode) {
    if (!path || !mode) return nullptr;
    return _wfopen(path, mode);
}

void ddFileClose(FILE* stream) {
    if (stream) fclose(stream);
}

wchar_t* ddFileReadLine(wchar_t* buffer, int size, FILE* stream) {
    if (!buffer || size <= 0 || !stream) return nullptr;
    int n = 0;
    while (n < size - 1) {
        wint_t c = fgetwc(stream);
        if (c == WEOF) break;
        buffer[n++] = static_cast<wchar_t>(c);
        if (c == L'\n') break;
    }
    buffer[n] = 0;
    /* Size 1 reads nothing and gives an empty text, not the end of file. */
    if (n == 0 && size > 1) return nullptr;
    return buffer;
}

bool ddFileExists(const wchar_t* path) {
    return path && _waccess(path, 0) == 0;
}

int ddFileDelete(const wchar_t* path) {
    return path ? _wremove(path) : -1;
}
