/* Options files: read line by line (at most 2047 characters a line). A file
 * that begins with a UTF-16LE or UTF-8 byte-order mark (as editors save
 * "Unicode" text) is read in that encoding; any other file as text, each
 * byte one character. */
#include "core/ddapp.h"

#include "core/ddutil.h"
#include "core/dilog.h"
#include "core/diutil.h"

#include <stdlib.h>

#include <string>

/* Set while a file is being applied. "-file" lines are skipped so files do
 * not nest, and an unknown name inside a file is not tried as a file either:
 * a file naming itself ("-x" holding the line "x") would recurse without
 * end. */
static int s_inOptionsFile;

namespace {

const int kLine = 2048;
/* An options file holds a few lines: past this the rest is not read. */
const size_t kMarkedFileCap = 1 << 20;

/* The text after a byte-order mark; false when the stream begins with
 * neither mark (the file is then read again, as text). Bytes that do not
 * decode become U+FFFD, an odd last byte of UTF-16 too. */
bool readMarked(FILE* f, std::u16string* text) {
    unsigned char head[3] = {};
    size_t got = fread(head, 1, 3, f);
    size_t mark = got >= 2 && head[0] == 0xFF && head[1] == 0xFE                      ? 2
                  : got == 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF ? 3
                                                                                      : 0;
    if (!mark) return false;
    std::string bytes(reinterpret_cast<char*>(head) + mark, got - mark);
    char chunk[4096];
    size_t n;
    while (bytes.size() <= kMarkedFileCap && (n = fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.append(chunk, n);
    if (bytes.size() > kMarkedFileCap) {
        diLogErrorText(u"Options file longer than 1 MiB: only its first MiB is read.");
        bytes.resize(kMarkedFileCap);
    }
    if (mark == 2) {
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            text->push_back(char16_t(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8));
        if (bytes.size() % 2) text->push_back(u'\uFFFD');
    } else if (DiChar* t = diTextFromUtf8Dup(bytes.data(), bytes.size())) {
        /* The result is zero-filled: a NUL inside ends only its own line,
         * as it does in a file read as text. */
        size_t len = bytes.size();
        while (len && !t[len - 1])
            len--;
        text->assign(t, len);
        free(t);
    }
    return true;
}

} // namespace

int ddAppReadOptionsFile(DdApp* app, const DiChar* path) {
    if (!path || s_inOptionsFile) return 0;
    FILE* f = ddFileOpen(ddW(path), L"rb");
    if (!f) return 0;
    std::u16string text;
    bool marked = readMarked(f, &text);
    if (!marked) {
        ddFileClose(f);
        f = ddFileOpen(ddW(path), L"rt");
        if (!f) return 0;
    }
    s_inOptionsFile = 1;
    wchar_t line[kLine];
    if (marked) {
        /* Lines as the stream reader cuts them: after a line feed, or in
         * pieces of kLine - 1 characters. */
        for (size_t at = 0; at < text.size();) {
            size_t k = 0;
            while (at < text.size() && k < size_t(kLine - 1))
                if ((line[k++] = wchar_t(text[at++])) == L'\n') break;
            line[k] = 0;
            diAppApplyOptionsLine(app, ddD(line));
        }
    } else {
        while (ddFileReadLine(line, kLine, f))
            diAppApplyOptionsLine(app, ddD(line));
    }
    s_inOptionsFile = 0;
    ddFileClose(f);
    return 1;
}
