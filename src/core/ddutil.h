/* File streams over the C runtime with wide paths, and the way the user's
 * state files (profile, certificates) are replaced, set aside and shared by
 * the client's copies. */
#ifndef HV_DDUTIL_H
#define HV_DDUTIL_H

#include <stdio.h>

#include <string>

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

/* Writes the file through a temporary beside it (one per process: two
 * clients may save at once), so that a failed write never leaves a cut file
 * behind. The temporary's bytes reach the disk before the rename, and the
 * rename before the call returns: after a power cut the file is the old one
 * or the new one, never an empty one. False leaves the old file as it was. */
bool ddFileReplaceDurably(const wchar_t* path, const std::string& bytes);
/* Renames the file to a free name beside it (path + ".bad", ".bad1", ...),
 * never over a file set aside earlier: 1 done (`kept` gets the name), 0
 * there is no file, -1 it could not be renamed. */
int ddFileSetAside(const wchar_t* path, std::wstring* kept);
/* The lock that the copies of the client take on a file across a read and
 * the write that follows it: a named mutex of the file's path, waited for
 * `waitMs` (one left by a copy that ended holding it is taken). Null when it
 * could not be had in time; unlock takes null too. */
HANDLE ddFileLock(const wchar_t* path, DWORD waitMs);
void ddFileUnlock(HANDLE lock);

#endif
