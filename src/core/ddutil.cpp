#include "core/ddutil.h"

#include <io.h>
#include <wchar.h>

#include "core/diutil.h"

int ddUtilWideToLatin1(char** target, char* targetEnd, const wchar_t** source,
                       const wchar_t* sourceEnd) {
    const DiChar* s = ddD(*source);
    int n = diTextToLatin1(target, targetEnd, &s, ddD(sourceEnd));
    *source = ddW(s);
    return n;
}

int ddUtilLatin1ToWide(wchar_t** target, wchar_t* targetEnd, const char** source,
                       const char* sourceEnd) {
    DiChar* t = ddD(*target);
    int n = diTextFromLatin1(&t, ddD(targetEnd), source, sourceEnd);
    *target = ddW(t);
    return n;
}

int ddUtilWideToUtf8(char* target, char* targetEnd, const wchar_t** source,
                     const wchar_t* sourceEnd) {
    const DiChar* s = ddD(*source);
    int r = diTextToUtf8(target, targetEnd, &s, ddD(sourceEnd));
    *source = ddW(s);
    return r;
}

int ddUtilUtf8ToWide(wchar_t* target, wchar_t* targetEnd, const char** source,
                     const char* sourceEnd) {
    return diTextFromUtf8(ddD(target), ddD(targetEnd), source, sourceEnd);
}

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

long ddFileTell(FILE* stream) {
    return stream ? ftell(stream) : -1L;
}

int ddFileSeek(FILE* stream, long offset, int origin) {
    return stream ? fseek(stream, offset, origin) : -1;
}

size_t ddFileRead(void* buffer, size_t size, size_t count, FILE* stream) {
    return stream ? fread(buffer, size, count, stream) : 0;
}

size_t ddFileWrite(const void* buffer, size_t size, size_t count, FILE* stream) {
    return stream ? fwrite(buffer, size, count, stream) : 0;
}

bool ddFileExists(const wchar_t* path) {
    return path && _waccess(path, 0) == 0;
}

int ddFileDelete(const wchar_t* path) {
    return path ? _wremove(path) : -1;
}

int ddFileFlush(FILE* stream) {
    return stream ? fflush(stream) : EOF;
}

wint_t ddFilePutChar(wchar_t c, FILE* stream) {
    return stream ? fputwc(c, stream) : WEOF;
}
