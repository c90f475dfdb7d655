/* The clipboard relay of the X displays: server clipboard data arriving in
 * chunks (request 52), the server's selection formats (request 63) and its
 * requests for the local clipboard (request 64), and the announcement of the
 * local clipboard (message 42). With the extended clipboard (display flag
 * 0x800) the relay passes selections between the servers of several
 * displays; otherwise it reaches the Windows clipboard through the service
 * table that the Windows side installs.
 *
 * The relay knows every display between its initialisation and its
 * teardown. Each display has its own incoming transfer: chunks of two
 * servers never mix. The clipboard owner display is one for the program. */
#ifndef HV_DIXCLIP_H
#define HV_DIXCLIP_H

#include "xde/dixaip.h"

/* The largest transfer a server may announce; a larger total is refused.
 * All displays' transfers in progress hold at most DI_XCLIP_MAX_HELD
 * together: a transfer that would pass it is dropped (two of the largest
 * fit; a user copies one thing at a time). */
enum : uint32_t { DI_XCLIP_MAX_TOTAL = 64u << 20, DI_XCLIP_MAX_HELD = 128u << 20 };

/* The Windows clipboard as the relay sees it. Every slot may be none: the
 * relay then acts as if no other program owned the clipboard and answers
 * requests for local data with no data. */
struct DiXClipService {
    /* True when a window other than the client's own owns the clipboard. */
    int (*isForeignOwner)(DiXDisplay* d);
    /* The local formats as records {name length u16, UTF-8 name}, newly
     * allocated (released with free) in *list, *length bytes; returns the
     * record count (0: *list is none). */
    uint32_t (*listLocalFormats)(DiXDisplay* d, uint8_t** list, uint32_t* length);
    /* The server's formats take over the Windows clipboard for delayed
     * rendering; singleText: the trailing flag of the announcement. */
    void (*announceRemote)(DiXDisplay* d, const uint32_t* formatIds, const DiChar* const* names,
                           const uint32_t* nameLengths, uint32_t count, int32_t singleText);
    /* More data of a transfer is on its way: a waiting render goes on. */
    void (*extendWait)(DiXDisplay* d);
    /* A transfer is complete: it answers the pending render. */
    void (*putRemoteData)(DiXDisplay* d, const uint8_t* data, uint32_t length, const DiChar* name,
                          uint32_t nameLength);
    /* Answer the server's request for local data (message 32, empty when
     * the clipboard holds none in that format). */
    void (*sendLocal)(DiXDisplay* d, const DiChar* name, uint32_t nameLength);
    /* The display's server no longer owns the selection: its announced
     * formats leave the Windows clipboard and a waiting render ends. */
    void (*releaseOwnership)(DiXDisplay* d);
};

/* Installs the service table (none: the defaults above). */
void diXClipSetService(const DiXClipService* service);

/* The relay learns a new display (its id already given). */
void diXClipAttach(DiXDisplay* d);
/* The display's connection was lost: its server's formats leave the
 * Windows clipboard at once and it stops being the owner. */
void diXClipDisplayLost(DiXDisplay* d);

/* The open display with that id, or none (also for id 0). */
DiXDisplay* diXFindDisplayById(uint32_t id);
/* The display's owner identity block (empty for none). */
const uint8_t* diXClipboardOwnerBlock(const DiXDisplay* d, uint32_t* length);
/* That of the clipboard owner display. */
const uint8_t* diXCurrentOwnerBlock(uint32_t* length);
/* The clipboard owner display, or none when the local clipboard was last
 * announced. */
DiXDisplay* diXClipboardOwner(void);

void diXAnnounceFormats(DiXDisplay* d, const uint8_t* list, uint32_t listLength, uint32_t count,
                        DiXDisplay* owner);
void diXAnswerSelectionRequest(DiXDisplay* d, const DiChar* name, uint32_t nameLength);
void diXDeliverClipboardData(DiXDisplay* d, const uint8_t* data, uint32_t length, uint32_t formatId,
                             const DiChar* name, uint32_t nameLength, int passOn, uint32_t ownerId);

/* The operation slots of requests 52, 63 and 64. */
void diXClipboardChunk(DiXDisplay* d, const DiXClipChunk* chunk);
void diXSelectionTargets(DiXDisplay* d, int32_t declared, int32_t count,
                         const DiXFormatEntry* entries, int32_t flag);
void diXRequestSelection(DiXDisplay* d, const DiChar* name, uint32_t length);

#endif
