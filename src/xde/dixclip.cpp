/* The clipboard relay: see dixclip.h. GUI thread only. */
#include "xde/dixclip.h"

#include "core/dilog.h"
#include "core/diutil.h"
#include "xde/dixseamless.h"

#include <stdlib.h>
#include <string.h>

namespace {

/* One display's incoming transfer. `active` from a first chunk to the last
 * chunk; `data` is none when the total was refused or could not be had.
 * `stored` bytes at the front of `data` are the data received in order:
 * a chunk that does not fit is skipped and, since `received` still counts
 * it, so is every later one. */
struct Transfer {
    bool active;
    uint32_t total;
    uint64_t received;
    uint32_t stored;
    uint8_t* data;
    uint32_t capacity; /* bytes allocated at data, charged to s_heldIn */
    bool refused;      /* past a ceiling: the rest of it is dropped */
    DiChar* name;
    uint32_t nameLength;
    uint32_t formatId, ownerId;
    int passOn;
};

/* A request of this display's server that went to another display's
 * server: only an answer from that display, in that format, is forwarded
 * here. The oldest gives way when all slots are taken. */
struct Pending {
    const DiXDisplay* from;
    DiChar* name;
    uint32_t nameLength;
};
enum { kPendingSlots = 8 };

struct Node {
    DiXDisplay* d;
    Transfer in;
    int32_t flag; /* trailing flag of request 63 */
    Pending pending[kPendingSlots];
    uint32_t pendingCount;
    Node* next;
};

Node* s_nodes;
DiXDisplay* s_owner;
const DiXClipService* s_service;
/* What the incoming transfers of all displays hold together. */
uint64_t s_heldIn;

Node* nodeOf(const DiXDisplay* d) {
    for (Node* n = s_nodes; n; n = n->next)
        if (n->d == d) return n;
    return nullptr;
}

void endTransfer(Transfer* t) {
    s_heldIn -= t->capacity;
    free(t->data);
    free(t->name);
    *t = Transfer{};
}

/* Drops what the transfer stored: the rest of it is not kept either. */
bool refuseData(Transfer* t, const char16_t* why) {
    diLogErrorText(why);
    s_heldIn -= t->capacity;
    free(t->data);
    t->data = nullptr;
    t->capacity = 0;
    t->refused = true;
    return false;
}

/* Room for `need` bytes of the transfer (at most its total). Its buffer
 * grows as chunks arrive, never from the total a server announces alone;
 * past the ceiling of all displays' transfers together, it is dropped. */
bool reserveData(Transfer* t, uint64_t need) {
    if (need <= t->capacity && t->data) return true;
    uint64_t want = t->capacity * 2;
    if (want < 65536) want = 65536;
    if (want > t->total) want = t->total;
    if (want < need) want = need;
    if (want == 0) want = 1;
    if (s_heldIn - t->capacity + want > DI_XCLIP_MAX_HELD)
        return refuseData(t, u"The X servers' clipboard data in transfer passed 128 MiB; a "
                             u"transfer is refused.");
    uint8_t* grown = static_cast<uint8_t*>(realloc(t->data, size_t(want)));
    if (!grown) return refuseData(t, u"No memory for the X server's clipboard data.");
    s_heldIn += want - t->capacity;
    t->data = grown;
    t->capacity = uint32_t(want);
    return true;
}

void dropPending(Node* n, uint32_t i) {
    free(n->pending[i].name);
    memmove(&n->pending[i], &n->pending[i + 1], (n->pendingCount - i - 1) * sizeof(Pending));
    n->pendingCount--;
}

/* Forgets the display's own requests and those it was asked to answer. */
void forgetPending(const DiXDisplay* d) {
    for (Node* n = s_nodes; n; n = n->next)
        for (uint32_t i = n->pendingCount; i-- > 0;)
            if (n->d == d || n->pending[i].from == d) dropPending(n, i);
}

void addPending(const DiXDisplay* requester, const DiXDisplay* from, const DiChar* name,
                uint32_t nameLength) {
    Node* n = nodeOf(requester);
    if (!n) return;
    if (n->pendingCount == kPendingSlots) dropPending(n, 0);
    Pending& p = n->pending[n->pendingCount];
    p.name = static_cast<DiChar*>(malloc(size_t(nameLength ? nameLength : 1) * sizeof(DiChar)));
    if (!p.name) return; /* the answer will be dropped */
    if (nameLength) memcpy(p.name, name, size_t(nameLength) * sizeof(DiChar));
    p.nameLength = nameLength;
    p.from = from;
    n->pendingCount++;
}

/* Takes the target's request that this answer from `from` fulfils: false
 * when the target asked `from` for nothing in that format. */
bool takePending(const DiXDisplay* target, const DiXDisplay* from, const DiChar* name,
                 uint32_t nameLength) {
    Node* n = nodeOf(target);
    for (uint32_t i = 0; n && i < n->pendingCount; i++) {
        const Pending& p = n->pending[i];
        if (p.from == from && p.nameLength == nameLength &&
            (!nameLength || memcmp(p.name, name, size_t(nameLength) * sizeof(DiChar)) == 0)) {
            dropPending(n, i);
            return true;
        }
    }
    return false;
}

/* A display that can still talk to its server. */
bool reachable(const DiXDisplay* d) {
    return d->ch.open && !d->ch.stopReading;
}

/* Two displays share a server when both have a name and the names are the
 * same text, all of it: a NUL is a character like any other, so names that
 * differ only after one are two servers. A display without a name shares
 * with none. */
bool sameServer(const DiXDisplay* a, const DiXDisplay* b) {
    if (!a->serverName || !b->serverName) return false;
    return a->serverNameLength == b->serverNameLength &&
           memcmp(a->serverName, b->serverName, size_t(a->serverNameLength) * sizeof(DiChar)) == 0;
}

} // namespace

void diXClipSetService(const DiXClipService* service) {
    s_service = service;
}

void diXClipAttach(DiXDisplay* d) {
    if (nodeOf(d)) return;
    Node* n = static_cast<Node*>(calloc(1, sizeof(Node)));
    if (!n) {
        /* The display still works; it only takes no part in the relay. */
        diLogErrorText(u"The clipboard relay has no memory for a display.");
        return;
    }
    n->d = d;
    n->next = s_nodes;
    s_nodes = n;
}

void diXForgetClipboardOwner(DiXDisplay* d) {
    /* Formats of a display that is going can never be rendered. */
    if (s_service && s_service->releaseOwnership) s_service->releaseOwnership(d);
    if (s_owner == d) s_owner = nullptr;
    forgetPending(d);
    for (Node** link = &s_nodes; *link; link = &(*link)->next) {
        Node* n = *link;
        if (n->d != d) continue;
        endTransfer(&n->in);
        *link = n->next;
        free(n);
        return;
    }
}

void diXClipDisplayLost(DiXDisplay* d) {
    if (Node* n = nodeOf(d)) endTransfer(&n->in);
    forgetPending(d);
    if (s_service && s_service->releaseOwnership) s_service->releaseOwnership(d);
    if (s_owner == d) s_owner = nullptr;
}

DiXDisplay* diXFindDisplayById(uint32_t id) {
    if (id == 0) return nullptr;
    for (Node* n = s_nodes; n; n = n->next)
        if (n->d->id == id) return n->d;
    return nullptr;
}

const uint8_t* diXClipboardOwnerBlock(const DiXDisplay* d, uint32_t* length) {
    *length = d && d->ownerBlock ? d->ownerBlockLength : 0;
    return *length ? d->ownerBlock : nullptr;
}

const uint8_t* diXCurrentOwnerBlock(uint32_t* length) {
    return diXClipboardOwnerBlock(s_owner, length);
}

DiXDisplay* diXClipboardOwner(void) {
    return s_owner;
}

void diXAnnounceFormats(DiXDisplay* d, const uint8_t* list, uint32_t listLength, uint32_t count,
                        DiXDisplay* owner) {
    s_owner = owner;
    uint32_t blockLength;
    const uint8_t* block = diXCurrentOwnerBlock(&blockLength);
    if (!(d->flags & DI_XFLAG_CLIP_EX)) {
        if (!owner && reachable(d))
            diXAIPSendSelectionData(d, list, listLength, count, block, blockLength);
        return;
    }
    for (Node* n = s_nodes; n; n = n->next) {
        DiXDisplay* e = n->d;
        if (!reachable(e)) continue;
        if (owner && (e == owner || sameServer(e, owner) || !e->serverName || !owner->serverName))
            continue;
        diXAIPSendSelectionData(e, list, listLength, count, block, blockLength);
    }
}

void diXAnnounceLocalClipboard(DiXDisplay* d, int force) {
    if (!s_service || !s_service->isForeignOwner || !s_service->isForeignOwner(d)) return;
    uint8_t* list = nullptr;
    uint32_t length = 0;
    uint32_t count =
        s_service->listLocalFormats ? s_service->listLocalFormats(d, &list, &length) : 0;
    if (count == 0) {
        free(list);
        list = nullptr;
        length = 0;
    }
    static const uint8_t kString[] = {6, 0, 'S', 'T', 'R', 'I', 'N', 'G'};
    if (count == 0 && force)
        diXAnnounceFormats(d, kString, sizeof kString, 1, nullptr);
    else
        diXAnnounceFormats(d, list, length, count, nullptr);
    free(list);
}

void diXAnswerSelectionRequest(DiXDisplay* d, const DiChar* name, uint32_t nameLength) {
    if ((d->flags & DI_XFLAG_CLIP_EX) && s_owner) {
        if (s_owner != d && reachable(s_owner) && s_owner->serverName && d->serverName &&
            !sameServer(s_owner, d)) {
            addPending(d, s_owner, name, nameLength);
            diXAIPSendClipboardOfferFrom(s_owner, name, nameLength, 0, d);
        } else {
            diXAIPSendClipboardData(d, name, nameLength, nullptr, 0, 0);
        }
        return;
    }
    if (s_service && s_service->sendLocal)
        s_service->sendLocal(d, name, nameLength);
    else
        diXAIPSendClipboardData(d, name, nameLength, nullptr, 0, 0);
}

void diXDeliverClipboardData(DiXDisplay* d, const uint8_t* data, uint32_t length, uint32_t formatId,
                             const DiChar* name, uint32_t nameLength, int passOn,
                             uint32_t ownerId) {
    DiXDisplay* target = diXFindDisplayById(ownerId);
    if (target && target != d) {
        /* Another session's server receives only what it asked this
         * display's server for: anything else would let one server push
         * data into another's session. */
        if (!takePending(target, d, name, nameLength)) {
            diLogErrorText(u"X server clipboard data for a display that did not ask for it is "
                           u"dropped.");
            return;
        }
        if (reachable(target))
            diXAIPSendClipboardChunks(target, name, nameLength, data, length, formatId, passOn);
        return;
    }
    if (s_service && s_service->putRemoteData)
        s_service->putRemoteData(d, data, length, name, nameLength);
}

void diXClipboardChunk(DiXDisplay* d, const DiXClipChunk* k) {
    Node* n = nodeOf(d);
    if (!n) return;
    Transfer* t = &n->in;
    if (k->flags & 1) {
        /* A new first chunk ends whatever the last one began. */
        endTransfer(t);
        t->active = true;
        t->passOn = (k->flags & 4) != 0;
        t->total = k->total;
        t->formatId = k->hasIds ? k->formatId : k->total;
        t->ownerId = k->hasIds ? k->ownerId : 0;
        if (k->nameLength) {
            t->name = static_cast<DiChar*>(malloc(size_t(k->nameLength) * sizeof(DiChar)));
            if (t->name) {
                memcpy(t->name, k->name, size_t(k->nameLength) * sizeof(DiChar));
                t->nameLength = k->nameLength;
            }
        }
        if (k->total > DI_XCLIP_MAX_TOTAL) {
            diLogErrorText(u"The X server announced clipboard data above 64 MiB; it is refused.");
            t->refused = true;
        } else {
            reserveData(t, 0);
        }
    } else if (!t->active) {
        /* A chunk after the last one, or with no first: nothing to add to. */
        diLogErrorText(u"A chunk of X server clipboard data outside a transfer is ignored.");
        return;
    }
    if (!t->refused && t->received + k->length <= t->total &&
        reserveData(t, t->received + k->length)) {
        memcpy(t->data + t->received, k->data, k->length);
        t->stored = uint32_t(t->received + k->length);
    }
    t->received += k->length;
    if (k->flags & 2) {
        /* Delivery may reach other displays and the Windows side: the
         * transfer is taken out of the node first. */
        Transfer done = *t;
        *t = Transfer{};
        diXDeliverClipboardData(d, done.data, done.data ? done.stored : 0, done.formatId, done.name,
                                done.nameLength, done.passOn, done.ownerId);
        endTransfer(&done);
    } else if (s_service && s_service->extendWait) {
        s_service->extendWait(d);
    }
}

void diXSelectionTargets(DiXDisplay* d, int32_t declared, int32_t count,
                         const DiXFormatEntry* entries, int32_t flag) {
    Node* node = nodeOf(d);
    if (node) node->flag = flag < 0 ? 0 : flag;
    uint32_t n = count > 0 ? uint32_t(count) : 0;
    /* Relay list: {name length u16, name bytes} per entry. */
    uint64_t listLength = 0;
    for (uint32_t i = 0; i < n; i++)
        listLength += 2 + uint64_t(entries[i].nameLength);
    uint8_t* list = static_cast<uint8_t*>(malloc(size_t(listLength) + 1));
    uint32_t* ids = static_cast<uint32_t*>(calloc(n + 1, sizeof(uint32_t)));
    uint32_t* lengths = static_cast<uint32_t*>(calloc(n + 1, sizeof(uint32_t)));
    DiChar** names = static_cast<DiChar**>(calloc(n + 1, sizeof(DiChar*)));
    bool ok = list && ids && lengths && names;
    uint8_t* p = list;
    for (uint32_t i = 0; ok && i < n; i++) {
        const DiXFormatEntry& e = entries[i];
        *p++ = uint8_t(e.nameLength);
        *p++ = uint8_t(e.nameLength >> 8);
        if (e.nameLength) memcpy(p, e.name, e.nameLength);
        p += e.nameLength;
        ids[i] = e.formatId;
        lengths[i] = e.nameLength;
        names[i] = diTextFromLatin1Dup(reinterpret_cast<const char*>(e.name), e.nameLength);
        if (!names[i]) ok = false;
    }
    if (!ok) {
        diLogErrorText(u"No memory for the X server's clipboard formats; they are not announced.");
    } else {
        if (declared >= 0 && count == declared && s_service && s_service->announceRemote)
            s_service->announceRemote(d, ids, names, lengths, n, node ? node->flag : 0);
        diXAnnounceFormats(d, list, uint32_t(listLength), n, d);
    }
    if (names)
        for (uint32_t i = 0; i < n; i++)
            free(names[i]);
    free(names);
    free(lengths);
    free(ids);
    free(list);
}

void diXRequestSelection(DiXDisplay* d, const DiChar* name, uint32_t length) {
    diXAnswerSelectionRequest(d, name, length);
}
