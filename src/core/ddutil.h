/* File streams over the C runtime with wide paths, and the way the user's
 * state files (profile, certificates) are replaced, set aside and shared by
 * the client's copies. */
#ifndef HV_DDUTIL_H
#define HV_DDUTIL_H

#include <stdio.h>

#include <functional>
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

/* Writes the file through a temporary beside it ("<path>.<process id>.new":
 * two clients may save at once), so that a failed write never leaves a cut
 * file behind. The temporary's bytes reach the disk before the rename, and
 * the rename before the call returns: after a power cut the file is the old
 * one or the new one, never an empty one. False leaves the old file as it
 * was. Temporaries of the file that ended processes left behind (a save cut
 * short by a kill, holding a copy of what the file held) are removed. */
bool ddFileReplaceDurably(const wchar_t* path, const std::string& bytes);
/* Whether the process `pid` may have written a file last written at
 * `written`: it runs (or cannot be asked) and started no later. A process
 * that started later only got the id again after the writer ended. */
bool ddProcessMayHaveWritten(DWORD pid, const FILETIME& written);
/* The `length` characters at text as a process id in `base` (10 or 16;
 * digits only, below 2^32), or false. */
bool ddParseProcessId(const wchar_t* text, size_t length, int base, DWORD* pid);
/* "<prefix>.<decimal process id>.new" (any prefix when `prefix` is null):
 * the process id of a temporary of ddFileReplaceDurably, or false. */
bool ddFileTemporaryOwner(const wchar_t* name, const wchar_t* prefix, DWORD* pid);
/* Deletes the files of `folder` matching `pattern` whose owner (the
 * process id that `owner` reads from the name; false: none) can no longer
 * be writing them. */
void ddFileRemoveOrphans(const std::wstring& folder, const wchar_t* pattern,
                         const std::function<bool(const wchar_t* name, DWORD* pid)>& owner);
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
