/* File streams over the C runtime with wide paths. */
#ifndef HV_DDUTIL_H
#define HV_DDUTIL_H

#include <stdio.h>

#include "dd.h"

/* File streams. Every operation on a stream of none fails harmlessly. */
FILE* ddFileOpen(const wchar_t* path, const wchar_t* mode);
void ddFileClose(FILE* stream);
/* Reads one line of UTF-16 characters: stops after storing a line feed or
 * when size - 1 characters are stored, and terminates the text. Returns none
 * when the end of the file came before any character, else buffer. */
wchar_t* ddFileReadLine(wchar_t* buffer, int size, FILE* stream);
bool ddFileExists(const wchar_t* path);
int ddFileDelete(const wchar_t* path);

#endif
