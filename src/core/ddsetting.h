/* Named settings over the profile store, numbered lists with their legacy
 * registry fallback. Integers are kept as decimal text. */
#ifndef HV_DDSETTING_H
#define HV_DDSETTING_H

#include "dd.h"

/* Text length + 1; the default (cut to the buffer) when absent. */
int ddSettingGetString(const wchar_t* name, const wchar_t* def, wchar_t* buffer, int size);
/* The value read as "%d" (leading digits count: "12abc" is 12); the default
 * when absent or not a number. */
int ddSettingGetInt(const wchar_t* name, int def);
/* Set and saved at once; false when the file was not written. */
bool ddSettingSetString(const wchar_t* name, const wchar_t* text);
bool ddSettingSetInt(const wchar_t* name, int value);
/* name0, name1, ... from the settings up to the first missing one, then the
 * legacy registry entries of the sub-key that are not already among them.
 * Returns the number stored (each a malloc'ed copy). */
int ddSettingReadList(const wchar_t* subKey, const wchar_t* name, wchar_t** array, int count);
/* Writes name0..name(count-1) to the settings (never to the registry) in
 * one save; false when any was refused or the file was not written. A list
 * that was not written waits for the next save with retry, and is taken
 * back out without it. */
bool ddSettingWriteList(const wchar_t* subKey, const wchar_t* name, wchar_t** array, int count,
                        bool retry);
/* Registry keys of the legacy location; none when absent (open only) or
 * when they cannot be made. */
HKEY ddSettingOpenProductKey(HKEY root, bool openOnly);
HKEY ddSettingOpenLegacyKey(const wchar_t* subKey, const wchar_t* name, HKEY root, bool openOnly);

#endif
