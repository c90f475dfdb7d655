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

/* Takes the Windows clipboard for the owner's formats (remote ids and
 * UTF-16 names; singleText: one "STRING" stands for them all). False when
 * the clipboard could not be opened (the formats are still remembered, so
 * a render can be answered). */
bool ddClipAnnounceRemote(void* owner, HWND engineWindow, const uint32_t* remoteIds,
                          const DiChar* const* names, const uint32_t* nameLengths, uint32_t count,
                          int singleText);
/* The announced format behind a Windows format of the owner: its remote id
 * and name (valid until the next announcement or release). */
bool ddClipFindRemote(void* owner, UINT format, uint32_t* remoteId, const DiChar** name,
                      uint32_t* nameLength);
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

/* Clipboard thread: WM_RENDERFORMAT of the owner window. */
void ddClipRender(UINT format);
/* Clipboard thread stopping: a waiting render ends; the state is cleared. */
void ddClipBridgeStop(void);

#endif
