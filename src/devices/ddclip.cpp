/* The clipboard bridge: see ddclip.h. The render runs on the clipboard
 * thread inside WM_RENDERFORMAT while the requesting program holds the
 * clipboard open; the GUI thread prepares the data and the clipboard thread
 * sets it, so only the owner window's thread ever renders. */
#include "devices/ddclip.h"

#include "core/dilog.h"
#include "core/diutil.h"
#include "devices/dddevices.h"
#include "devices/diclip.h"

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

struct Format {
    UINT windowsId;
    uint32_t remoteId;
    std::u16string name;
};

/* Guards everything the two threads share. */
struct Lock {
    CRITICAL_SECTION cs;
    Lock() { InitializeCriticalSection(&cs); }
    void on() { EnterCriticalSection(&cs); }
    void off() { LeaveCriticalSection(&cs); }
};
Lock s_lock;

void* s_owner;       /* the session whose formats are announced */
HWND s_engineWindow; /* receives the render requests; none: no remote selection */
std::vector<Format> s_formats;
volatile LONG s_announcing;
volatile LONG s_progress;
HANDLE s_renderEvent; /* auto-reset: data ready or the render is to end */
int s_renderWait;     /* a render is waiting */
UINT s_renderFormat;
HANDLE s_rendered; /* data for the waiting render, set by the GUI thread */

HANDLE renderEvent() {
    if (!s_renderEvent) s_renderEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return s_renderEvent;
}

UINT windowsFormat(const DiChar* name, uint32_t n) {
    if (UINT f = diClipFormatByName(name, n)) return f;
    std::wstring w(reinterpret_cast<const wchar_t*>(name), n);
    return RegisterClipboardFormatW(w.c_str());
}

HGLOBAL globalCopy(const uint8_t* data, size_t n) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, n ? n : 1);
    if (!h) return nullptr;
    if (void* p = GlobalLock(h)) {
        if (n) memcpy(p, data, n);
        GlobalUnlock(h);
        return h;
    }
    GlobalFree(h);
    return nullptr;
}

/* Empty text for the text formats; nothing for others. */
void renderEmpty(UINT format) {
    static const uint8_t zero[2] = {0, 0};
    if (format == CF_TEXT || format == CF_OEMTEXT || format == CF_UNICODETEXT) {
        HGLOBAL h = globalCopy(zero, format == CF_UNICODETEXT ? 2 : 1);
        if (h && !SetClipboardData(format, h)) GlobalFree(h);
    }
}

/* The server's data in the Windows form of the format (GUI thread). */
HGLOBAL toLocal(UINT format, const uint8_t* data, uint32_t length) {
    DiClipBytes b;
    switch (format) {
    case CF_TEXT:
    case CF_OEMTEXT:
        b = diClipTextToLocal(data, length);
        break;
    case CF_UNICODETEXT:
        b = diClipUnicodeToLocal(data, length);
        break;
    case CF_BITMAP:
    case CF_METAFILEPICT:
    case CF_PALETTE:
    case CF_ENHMETAFILE:
        return nullptr; /* handles, not memory: not carried */
    default: {
        /* The bytes as they are, with one terminating zero. */
        HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, size_t(length) + 1);
        uint8_t* p = h ? static_cast<uint8_t*>(GlobalLock(h)) : nullptr;
        if (!p) {
            if (h) GlobalFree(h);
            return nullptr;
        }
        if (length) memcpy(p, data, length);
        p[length] = 0;
        GlobalUnlock(h);
        return h;
    }
    }
    if (!b.ok) return nullptr;
    HGLOBAL h = globalCopy(b.data, b.length);
    free(b.data);
    return h;
}

bool openClipboard() {
    HWND w = ddClipOwnerWindow();
    /* Another program may hold it open for a moment. */
    for (int i = 0; i < 20; i++) {
        if (OpenClipboard(w)) return true;
        Sleep(5);
    }
    return false;
}

/* Waits for the event while answering messages sent to this thread (the
 * clipboard's own WM_DESTROYCLIPBOARD among them). */
DWORD waitPumping(HANDLE ev, DWORD timeout) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD left = INFINITE;
        if (timeout != INFINITE) {
            DWORD spent = GetTickCount() - start;
            if (spent >= timeout) return WAIT_TIMEOUT;
            left = timeout - spent;
        }
        DWORD r = MsgWaitForMultipleObjects(1, &ev, FALSE, left, QS_SENDMESSAGE);
        if (r != WAIT_OBJECT_0 + 1) return r;
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

} // namespace

bool ddClipAnnounceRemote(void* owner, HWND engineWindow, const uint32_t* remoteIds,
                          const DiChar* const* names, const uint32_t* nameLengths, uint32_t count,
                          int singleText) {
    InterlockedIncrement(&s_announcing);
    bool open = openClipboard();
    std::vector<Format> formats;
    if (singleText) {
        formats.push_back({CF_TEXT, 0, u"STRING"});
    } else {
        for (uint32_t i = 0; i < count; i++) {
            if (diClipNamesLocalFiles(names[i], nameLengths[i])) {
                std::u16string t = u"The X server's clipboard format \"" +
                                   std::u16string(names[i], nameLengths[i]) +
                                   u"\" names local files; it is not offered.";
                diLogErrorText(t.c_str());
                continue;
            }
            formats.push_back({windowsFormat(names[i], nameLengths[i]), remoteIds[i],
                               std::u16string(names[i], nameLengths[i])});
        }
    }
    s_lock.on();
    s_owner = owner;
    s_engineWindow = engineWindow;
    s_formats = formats;
    s_lock.off();
    if (open) {
        EmptyClipboard();
        for (const Format& f : formats)
            if (f.windowsId) SetClipboardData(f.windowsId, nullptr);
        CloseClipboard();
    }
    InterlockedDecrement(&s_announcing);
    return open;
}

bool ddClipFindRemote(void* owner, UINT format, uint32_t* remoteId, const DiChar** name,
                      uint32_t* nameLength) {
    bool found = false;
    s_lock.on();
    if (owner == s_owner)
        for (const Format& f : s_formats)
            if (f.windowsId == format) {
                *remoteId = f.remoteId;
                *name = f.name.data();
                *nameLength = uint32_t(f.name.size());
                found = true;
                break;
            }
    s_lock.off();
    return found;
}

void ddClipEndRender(void) {
    if (HANDLE ev = renderEvent()) SetEvent(ev);
}

void ddClipExtendWait(void) {
    InterlockedIncrement(&s_progress);
}

void ddClipDeliverRemote(void* owner, const uint8_t* data, uint32_t length, const DiChar* name,
                         uint32_t nameLength) {
    s_lock.on();
    bool waiting = s_renderWait > 0 && owner == s_owner;
    s_lock.off();
    if (!waiting) return; /* nobody asked: the data is dropped */
    HGLOBAL h = toLocal(windowsFormat(name, nameLength), data, length);
    s_lock.on();
    if (s_rendered) GlobalFree(s_rendered);
    s_rendered = h;
    s_lock.off();
    ddClipEndRender();
}

void ddClipReleaseOwnership(void* owner) {
    s_lock.on();
    if (!owner || owner != s_owner) {
        s_lock.off();
        return;
    }
    bool waiting = s_renderWait > 0;
    s_owner = nullptr;
    s_engineWindow = nullptr;
    s_formats.clear();
    s_lock.off();
    if (waiting) {
        s_progress = 0;
        ddClipEndRender();
    } else if (GetClipboardOwner() == ddClipOwnerWindow() && ddClipOwnerWindow() &&
               openClipboard()) {
        EmptyClipboard();
        CloseClipboard();
    }
}

bool ddClipIsForeignOwner(void) {
    HWND owner = GetClipboardOwner();
    return owner && owner != ddClipOwnerWindow();
}

uint32_t ddClipListLocalFormats(uint8_t** list, uint32_t* length) {
    *list = nullptr;
    *length = 0;
    if (!openClipboard()) return 0;
    std::string out;
    uint32_t count = 0;
    for (UINT f = EnumClipboardFormats(0); f; f = EnumClipboardFormats(f)) {
        std::string utf8;
        if (const char* fixed = diClipFormatName(f)) {
            utf8 = fixed;
        } else {
            wchar_t w[256];
            int n = GetClipboardFormatNameW(f, w, 256);
            if (n <= 0) continue; /* a predefined format without a name */
            char buf[256 * 3];
            const DiChar* s = ddD(w);
            char* t = buf;
            diUtf16ToUtf8(&s, s + n, &t, buf + sizeof buf, DI_CONV_LENIENT);
            utf8.assign(buf, size_t(t - buf));
        }
        out += char(utf8.size() & 255);
        out += char(utf8.size() >> 8);
        out += utf8;
        count++;
    }
    CloseClipboard();
    if (!count) return 0;
    *list = static_cast<uint8_t*>(malloc(out.size()));
    if (!*list) return 0;
    memcpy(*list, out.data(), out.size());
    *length = uint32_t(out.size());
    return count;
}

bool ddClipGetLocalData(const DiChar* name, uint32_t nameLength, uint8_t** data, uint32_t* length) {
    *data = nullptr;
    *length = 0;
    if (!ddClipIsForeignOwner()) return false;
    UINT f = windowsFormat(name, nameLength);
    if (!f || f == CF_BITMAP || f == CF_METAFILEPICT || f == CF_PALETTE || f == CF_ENHMETAFILE)
        return false;
    if (!openClipboard()) return false;
    bool ok = false;
    HANDLE h = GetClipboardData(f);
    const uint8_t* p = h ? static_cast<const uint8_t*>(GlobalLock(h)) : nullptr;
    if (p) {
        size_t n = GlobalSize(h);
        DiClipBytes b;
        if (f == CF_TEXT || f == CF_OEMTEXT) {
            b = diClipTextFromLocal(p, n);
        } else if (f == CF_UNICODETEXT) {
            b = diClipUnicodeFromLocal(p, n);
        } else {
            b.data = static_cast<uint8_t*>(malloc(n ? n : 1));
            b.ok = b.data != nullptr;
            b.length = b.ok ? n : 0;
            if (b.ok && n) memcpy(b.data, p, n);
        }
        GlobalUnlock(h);
        if (b.ok && b.length <= 0xFFFFFFFFu) {
            *data = b.data;
            *length = uint32_t(b.length);
            ok = true;
        } else {
            free(b.data);
        }
    }
    CloseClipboard();
    return ok;
}

void ddClipRender(UINT format) {
    /* An announcement in progress finishes first (at most a second). */
    DWORD start = GetTickCount();
    while (s_announcing && GetTickCount() - start < 1000)
        Sleep(1);
    HANDLE ev = renderEvent();
    s_lock.on();
    HWND engine = s_announcing ? nullptr : s_engineWindow;
    if (!engine || !ev) {
        s_lock.off();
        renderEmpty(format);
        return;
    }
    s_renderWait++;
    s_renderFormat = format;
    s_progress = 0;
    if (s_rendered) GlobalFree(s_rendered);
    s_rendered = nullptr;
    ResetEvent(ev);
    s_lock.off();
    if (PostMessageW(engine, WM_RENDERFORMAT, format, 0)) {
        DWORD timeout = ddClipTimeout();
        for (;;) {
            if (waitPumping(ev, timeout) != WAIT_TIMEOUT) break;
            /* Chunks arrived meanwhile: wait again. */
            if (InterlockedExchange(&s_progress, 0) == 0) break;
        }
    }
    s_lock.on();
    HANDLE h = s_rendered;
    s_rendered = nullptr;
    s_renderWait--;
    s_lock.off();
    if (!h)
        renderEmpty(format);
    else if (!SetClipboardData(format, h))
        GlobalFree(h);
}

void ddClipBridgeStop(void) {
    ddClipEndRender();
    s_lock.on();
    s_owner = nullptr;
    s_engineWindow = nullptr;
    s_formats.clear();
    s_lock.off();
}
