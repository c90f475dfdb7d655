/* Device probes of start-up and the clipboard thread (the smart-card
 * library: ddscard.h). */
#ifndef HV_DDDEVICES_H
#define HV_DDDEVICES_H

#include "dd.h"
#include "devices/ddscard.h"

/* True when a default printer exists (traced by name). */
bool ddPrintCheckDefault(void);
/* True when at least one wave output device exists. */
bool ddAudioPresent(void);
/* True when the system reports any logical drive. */
bool ddCDMPresent(void);

/* Starts the clipboard thread with its owner window and waits until it
 * runs; reads "ClipboardTimeout" (seconds, default 20, 0 waits for ever).
 * True when the thread runs. */
bool ddClipStart(void);
/* Ends the clipboard thread: its owner window is destroyed on that thread,
 * the thread is waited for and its handles closed. */
void ddClipStop(void);
/* The clipboard owner window (none when the thread does not run). */
HWND ddClipOwnerWindow(void);
/* Puts the bitmap (and the palette, when given) on the Windows clipboard,
 * which then owns them. True on success; on failure the caller keeps and
 * deletes them. */
bool ddClipSetBitmap(HBITMAP bitmap, HPALETTE palette);
/* The clipboard wait in milliseconds (INFINITE for 0 seconds). */
DWORD ddClipTimeout(void);

/* Prints the bitmap (seen through the palette, the default one when none)
 * as one document, "MyDoc", on the default printer in scale mode 0-3 with
 * the custom factors; the outcome's sound follows. 0, or -1 on failure; the
 * caller keeps and deletes bitmap and palette. */
int ddPrintBitmap(HBITMAP bitmap, HPALETTE palette, uint32_t mode, int32_t scaleX, int32_t scaleY,
                  int unused);

#endif
