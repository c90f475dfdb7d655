/* The relay's service table over the clipboard bridge: see ddxclip.h. */
#include "xde/ddxclip.h"

#include "devices/ddclip.h"
#include "devices/ddprint.h"
#include "devices/diclip.h"
#include "ui/ddgdi.h"
#include "xde/ddxint.h"
#include "xde/dixclip.h"

#include <stdlib.h>

namespace {

DiXDisplay* displayOf(DiObject* obj) {
    return obj && obj->type == DI_OBJ_XDE ? reinterpret_cast<DiXDisplay*>(obj) : nullptr;
}

int isForeignOwner(DiXDisplay*) {
    return ddClipIsForeignOwner();
}

uint32_t listLocalFormats(DiXDisplay*, uint8_t** list, uint32_t* length) {
    return ddClipListLocalFormats(list, length);
}

void announceRemote(DiXDisplay* d, const uint32_t* ids, const DiChar* const* names,
                    const uint32_t* lengths, uint32_t count, int32_t singleText) {
    /* Render requests go to the display's own view window. */
    HWND view = d->ch.hdr.gc ? ddGDIGetWindow(d->ch.hdr.gc) : nullptr;
    uint32_t& print = ddXDev(d)->printOnArrival;
    ddClipAnnounceRemote(d, view, ids, names, lengths, count, singleText, print != 0);
    if (!print) return;
    /* Printing the selection: its text, 8-bit first. */
    for (UINT f : {CF_TEXT, CF_OEMTEXT, CF_UNICODETEXT})
        if (ddClipRequestByFormat(&d->ch.hdr, f) == 0) return;
    print = 0;
}

void extendWait(DiXDisplay*) {
    ddClipExtendWait();
}

void putRemoteData(DiXDisplay* d, const uint8_t* data, uint32_t length, const DiChar* name,
                   uint32_t nameLength) {
    uint32_t& print = ddXDev(d)->printOnArrival;
    if (print && !ddClipRenderWaiting(d)) {
        UINT f = diClipFormatByName(name, nameLength);
        if (f != CF_TEXT && f != CF_OEMTEXT && f != CF_UNICODETEXT) return;
        print = 0;
        DiClipBytes b = f == CF_UNICODETEXT ? diClipUnicodeToLocal(data, length)
                                            : diClipTextToLocal(data, length);
        if (b.ok && b.length <= 0xFFFFFFFFu) ddPrintText(b.data, uint32_t(b.length), f);
        free(b.data);
        return;
    }
    ddClipDeliverRemote(d, data, length, name, nameLength);
}

void releaseOwnership(DiXDisplay* d) {
    ddClipReleaseOwnership(d);
}

const DiXClipService kService = {
    isForeignOwner, listLocalFormats, announceRemote,   extendWait,
    putRemoteData,  ddClipSendLocal,  releaseOwnership,
};

} // namespace

void ddXClipInstall() {
    diXClipSetService(&kService);
}

void ddClipRequestRemote(DiObject* obj, UINT format) {
    DiXDisplay* d = displayOf(obj);
    uint32_t remoteId = 0;
    const DiChar* name = nullptr;
    uint32_t nameLength = 0;
    if (!d || !ddClipFindRemote(d, format, &remoteId, &name, &nameLength)) {
        ddClipEndRender();
        return;
    }
    diXAIPSendClipboardOffer(d, name, nameLength, remoteId);
}

int ddClipRequestByFormat(DiObject* obj, UINT format) {
    DiXDisplay* d = displayOf(obj);
    uint32_t remoteId = 0;
    const DiChar* name = nullptr;
    uint32_t nameLength = 0;
    if (!d || !ddClipFindRemote(d, format, &remoteId, &name, &nameLength)) return -1;
    diXAIPSendClipboardOffer(d, name, nameLength, remoteId);
    return 0;
}

void ddClipSendLocal(DiXDisplay* d, const DiChar* name, uint32_t nameLength) {
    uint8_t* data = nullptr;
    uint32_t length = 0;
    ddClipGetLocalData(name, nameLength, &data, &length);
    diXAIPSendClipboardData(d, name, nameLength, data, length, 0);
    free(data);
}
