/* The terminal window under Windows: the popup menu (Copy, Paste), copy to
 * the clipboard and paste from it through the clipboard bridge, around the
 * portable handling of keys, selection and expose. */
#include "devices/ddclip.h"
#include "resources/ddres.h"
#include "tde/ddtde.h"
#include "ui/ddgdi.h"

#include <string>

namespace {

enum : uint32_t { kCmdCopy = 102, kCmdPaste = 103, kCursorWait = 3, kCursorNormal = 0 };
enum : UINT { kStrCopy = 564, kStrPaste = 565 };

HWND viewOf(DiObject* obj) {
    HWND w = ddGDIGetWindow(obj->gc);
    return w ? w : reinterpret_cast<DdTDisplay*>(obj)->view;
}

/* The menu's choice comes back to the view as a command message, so a
 * terminal that went away while the menu was open gets nothing. */
void popupMenu(DiObject* obj, int32_t x, int32_t y) {
    DiTDisplay* t = reinterpret_cast<DiTDisplay*>(obj);
    HWND view = viewOf(obj);
    HMENU menu = view ? CreatePopupMenu() : nullptr;
    if (!menu) return;
    DiChar copy[64] = u"Copy", paste[64] = u"Paste";
    ddResLoadString(kStrCopy, copy, 64);
    ddResLoadString(kStrPaste, paste, 64);
    AppendMenuW(menu, MF_STRING | (t->sel.shown ? MF_ENABLED : MF_GRAYED), kCmdCopy, ddW(copy));
    AppendMenuW(menu, MF_STRING | (ddClipHasText(view) ? MF_ENABLED : MF_GRAYED), kCmdPaste,
                ddW(paste));
    /* Event positions carry the scroll offset; the screen does not. */
    POINT p = {x - obj->scrollX, y - obj->scrollY};
    ClientToScreen(view, &p);
    UINT cmd = UINT(TrackPopupMenu(
        menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY, p.x,
        p.y, 0, view, nullptr));
    DestroyMenu(menu);
    if (cmd) PostMessageW(view, WM_COMMAND, cmd, 0);
}

void copySelection(DiTDisplay* t, HWND view) {
    std::u16string text = diTDSelText(t);
    if (!text.empty()) ddClipPutText(view, text.data(), uint32_t(text.size()));
    diTDSelClear(t);
}

void pasteReady(DiTDisplay* t, HWND view) {
    /* The text is this view's alone; taking it frees it on every path. */
    std::u16string text;
    if (!ddClipTakeText(view, &text) || !t->screen.exists) return;
    diTDSelClear(t);
    if (text.empty()) return;
    DdGC* gc = t->ch.hdr.gc;
    bool slow = diTDPasteIsLong(t, uint32_t(text.size())) && gc;
    if (slow) ddGDISetCursor(gc, kCursorWait);
    diTDSendPasted(t, text.data(), uint32_t(text.size()));
    if (slow) ddGDISetCursor(gc, kCursorNormal);
}

void command(DiObject* obj, uint32_t id) {
    DiTDisplay* t = reinterpret_cast<DiTDisplay*>(obj);
    HWND view = viewOf(obj);
    if (id == kDdClipPasteCommand) {
        pasteReady(t, view);
        return;
    }
    if (!t->screen.exists) return;
    if (id == kCmdCopy)
        copySelection(t, view);
    else if (id == kCmdPaste && view)
        ddClipFetchTextAsync(view);
}

} // namespace

int TerminalEngineEvent(DiObject* obj, DiEvent* ev) {
    switch (ev->w[0]) {
    case DI_EV_BUTTON_RELEASE:
        if (ev->w[2] != 2) break;
        popupMenu(obj, int32_t(ev->w[3]), int32_t(ev->w[4]));
        return 1; /* the screen may be gone after the menu's loop */
    case DI_EV_COMMAND:
        command(obj, ev->w[1]);
        return diTDEHandleEvent(obj, ev);
    default:
        break;
    }
    return diTDWindowEvent(obj, ev);
}
