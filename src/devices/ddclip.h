/* The clipboard bridge between the Windows clipboard and a session: the
 * server's formats announced for delayed rendering, the render wait on the
 * clipboard thread, and the local clipboard listed and read for the server.
 *
 * The session side is named by an opaque owner (its display) and the
 * window that receives WM_RENDERFORMAT on the GUI thread when Windows wants
 * one of the announced formats; that window's procedure asks the server
 * (or ends the render with ddClipEndRender), and the data comes back
 * through ddClipExtendWait and ddClipDeliverRemote. Everything but
 * ddClipRender runs on the GUI thread. */
#ifndef HV_DDCLIP_H
#define HV_DDCLIP_H

#include "dd.h"

#include <string>

/* Takes the Windows clipboard for the owner's formats (remote ids and
 * UTF-16 names; singleText: one "STRING" stands for them all). False when
 * the clipboard could not be opened (the formats are still remembered, so
 * a render can be answered). forPrinting: the formats are only remembered
 * for the owner, to be asked for and printed; the clipboard, its owner and
 * its formats stay. */
bool ddClipAnnounceRemote(void* owner, HWND engineWindow, const uint32_t* remoteIds,
                          const DiChar* const* names, const uint32_t* nameLengths, uint32_t count,
                          int singleText, bool forPrinting = false);
/* The announced format behind a Windows format of the owner: its remote id
 * and name (valid until the next announcement or release). */
bool ddClipFindRemote(void* owner, UINT format, uint32_t* remoteId, const DiChar** name,
                      uint32_t* nameLength);
/* True while a render waits for the owner's data. */
bool ddClipRenderWaiting(void* owner);
/* Ends a waiting render without data. */
void ddClipEndRender(void);
/* More data is coming: a waiting render goes on waiting. */
void ddClipExtendWait(void);
/* The whole data of the owner's transfer: completes a waiting render. */
void ddClipDeliverRemote(void* owner, const uint8_t* data, uint32_t length, const DiChar* name,
                         uint32_t nameLength);
/* The owner's server gave up its selection: a waiting render ends empty,
 * else the formats leave the clipboard; the owner is forgotten. Nothing
 * for an owner that is not the current one. */
void ddClipReleaseOwnership(void* owner);
/* True when a window other than the bridge's own owns the clipboard. */
bool ddClipIsForeignOwner(void);
/* The local formats as records {name length u16, UTF-8 name} (malloc'd,
 * none for 0); returns their number. */
uint32_t ddClipListLocalFormats(uint8_t** list, uint32_t* length);
/* The local data of a named format in its server form (malloc'd); false
 * when there is none, also while the bridge itself owns the clipboard. */
bool ddClipGetLocalData(const DiChar* name, uint32_t nameLength, uint8_t** data, uint32_t* length);

/* Server data in the Windows form of a format (text, metafile picture,
 * palette, or the bytes with a terminator); none when it cannot be made. */
HANDLE ddClipToLocal(UINT format, const uint8_t* data, uint32_t length);
/* Local clipboard data of a format in server form (malloc'd); false when
 * it has none (bitmaps and enhanced metafiles never have one). */
bool ddClipFromLocal(UINT format, HANDLE h, uint8_t** data, uint32_t* length);

/* Terminal text. A terminal copies with ddClipPutText; it pastes by
 * starting ddClipFetchTextAsync, whose worker reads the clipboard (a
 * render of remote data needs the GUI thread free) and posts
 * WM_COMMAND kDdClipPasteCommand to the view; the view then takes its own
 * text with ddClipTakeText, and drops any that is left when it closes. */
enum : uint32_t { kDdClipPasteCommand = 104, kDdClipPasteLimit = 32512 };
/* Replaces the clipboard with the text as CF_UNICODETEXT and, in the
 * system's code page, CF_TEXT; LF becomes CR LF. */
bool ddClipPutText(HWND window, const DiChar* text, uint32_t n);
/* True when the clipboard offers text. */
bool ddClipHasText(HWND window);
/* The clipboard's text for a paste: CF_UNICODETEXT, else CF_TEXT; CR
 * before LF dropped; at most kDdClipPasteLimit units. */
bool ddClipGetText(HWND window, std::u16string* out);
bool ddClipFetchTextAsync(HWND view);
bool ddClipTakeText(HWND view, std::u16string* out);
void ddClipDropText(HWND view);

/* Clipboard thread: WM_RENDERFORMAT of the owner window. */
void ddClipRender(UINT format);
/* Clipboard thread stopping: a waiting render ends; the state is cleared. */
void ddClipBridgeStop(void);

#endif
