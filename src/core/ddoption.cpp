/* Options files: read line by line (at most 2047 characters a line). */
#include "core/ddapp.h"

#include "core/ddutil.h"

/* Set while a file is being applied. "-file" lines are skipped so files do
 * not nest, and an unknown name inside a file is not tried as a file either:
 * a file naming itself ("-x" holding the line "x") would recurse without
 * end. */
static int s_inOptionsFile;

int ddAppReadOptionsFile(DdApp* app, const DiChar* path) {
    if (!path || s_inOptionsFile) return 0;
    FILE* f = ddFileOpen(ddW(path), L"rt");
    if (!f) return 0;
    s_inOptionsFile = 1;
    wchar_t line[2048];
    while (ddFileReadLine(line, 2048, f))
        diAppApplyOptionsLine(app, ddD(line));
    s_inOptionsFile = 0;
    ddFileClose(f);
    return 1;
}
