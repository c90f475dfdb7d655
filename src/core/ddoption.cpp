/* Options files: read line by line (at most 2047 characters a line). */
#include "core/ddapp.h"

#include <stdio.h>

int ddAppReadOptionsFile(DdApp* app, const DiChar* path) {
    if (!path) return 0;
    FILE* f = _wfopen(ddW(path), L"rt");
    if (!f) return 0;
    wchar_t line[2048];
    while (fgetws(line, 2048, f))
        diAppApplyOptionsLine(app, ddD(line));
    fclose(f);
    return 1;
}
