/* Access to the client's own resources in the user's language. */
#ifndef HV_DDRES_H
#define HV_DDRES_H

#include "dd.h"

/* The module that holds the resources: the application's instance, or the
 * program itself before start-up has recorded it. */
HINSTANCE ddResModule();

/* Makes `language` the language of this thread's resources: string tables,
 * dialogs and menus are then taken in it (both calls are needed, as newer
 * Windows reads the UI language and Wine the thread locale). */
void ddResSelectLanguage(LANGID language);

/* The "-resource" library: searched before the program for every string,
 * message and icon while it is set (none: the program only). */
void ddResSetLibrary(HMODULE library);
/* Icon `id` at the given size (shared: never destroyed by the caller). */
HICON ddResLoadIcon(int id, int width, int height);

/* Copies string resource `id` into out (size units, NUL-terminated,
 * truncated to fit). Returns its length, or 0 when the string is missing or
 * empty (out then holds an empty text). */
int ddResLoadString(UINT id, DiChar* out, int size);

/* Loads message n (string resource n + 500; message 24 is string 10 on
 * systems of major version 4 or later). Same result as ddResLoadString. */
int ddResLoadMessage(int n, DiChar* out, int size);

#endif
