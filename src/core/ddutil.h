/* Windows-side text conversions (wchar_t at the boundary) and file streams
 * over the C runtime with wide paths. */
#ifndef HV_DDUTIL_H
#define HV_DDUTIL_H

#include <stdio.h>

#include "dd.h"

/* Latin-1: units above 0xFF become '?'. WideToLatin1 returns the characters
 * converted, Latin1ToWide the bytes written (two per character). A source
 * end of none means up to the NUL. Both stop when the target is full. */
int ddUtilWideToLatin1(char** target, char* targetEnd, const wchar_t** source,
                       const wchar_t* sourceEnd);
int ddUtilLatin1ToWide(wchar_t** target, wchar_t* targetEnd, const char** source,
                       const char* sourceEnd);
/* Lenient UTF-8 conversions; results as diTextToUtf8 and diTextFromUtf8. */
int ddUtilWideToUtf8(char* target, char* targetEnd, const wchar_t** source,
                     const wchar_t* sourceEnd);
int ddUtilUtf8ToWide(wchar_t* target, wchar_t* targetEnd, const char** source,
                     const char* sourceEnd);

/* File streams. Every operation on a stream of none fails harmlessly. */
FILE* ddFileOpen(const wchar_t* path, const wchar_t* mode);
void ddFileClose(FILE* stream);
/* Reads one line of UTF-16 characters: stops after storing a line feed or
 * when size - 1 characters are stored, and terminates the text. Returns none
 * when the end of the file came before any character, else buffer. */
wchar_t* ddFileReadLine(wchar_t* buffer, int size, FILE* stream);
long ddFileTell(FILE* stream);
int ddFileSeek(FILE* stream, long offset, int origin);
size_t ddFileRead(void* buffer, size_t size, size_t count, FILE* stream);
size_t ddFileWrite(const void* buffer, size_t size, size_t count, FILE* stream);
bool ddFileExists(const wchar_t* path);
int ddFileDelete(const wchar_t* path);
int ddFileFlush(FILE* stream);
wint_t ddFilePutChar(wchar_t c, FILE* stream);

#endif
