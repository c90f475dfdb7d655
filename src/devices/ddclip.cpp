/* The clipboard bridge: see ddclip.h. The render runs on the clipboard
 * thread inside WM_RENDERFORMAT while the requesting program holds the
 * clipboard open; the GUI thread prepares the data and the clipboard thread
 * sets it, so only the owner window's thread ever renders. */
#include "devices/ddclip.h"

#include "core/ddthread.h"
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
UINT s_renderedFormat;
/* A display printing its selection: its formats, apart from the clipboard
 * (whose owner and formats stay as they were). */
void* s_printOwner;
std::vector<Format> s_printFormats;

/* Texts a terminal paste fetched, each for the view that asked: the view
 * takes its own on its command 104, or drops it when it closes. */
struct Pasted {
    HWND view;
    std::u16string text;
};
std::vector<Pasted> s_pasted;
/* The paste workers alive, and the bridge's stops so far: a worker keeps
 * the text it fetched only while no stop came since it was started. */
volatile LONG s_pasteWorkers;
uint32_t s_pasteStops;

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

/* Frees data made for the clipboard that the clipboard did not take. */
void freeLocal(UINT format, HANDLE h) {
    if (!h) return;
    if (format == CF_PALETTE) {
        DeleteObject(h);
        return;
    }
    if (format == CF_METAFILEPICT) {
        if (METAFILEPICT* mp = static_cast<METAFILEPICT*>(GlobalLock(h))) {
            DeleteMetaFile(mp->hMF);
            GlobalUnlock(h);
        }
    }
    GlobalFree(h);
}

HANDLE metafileToLocal(const uint8_t* data, uint32_t length) {
    DiClipMetafile m;
    if (!diClipMetafileFromServer(data, length, &m)) return nullptr;
    HMETAFILE mf = SetMetaFileBitsEx(UINT(m.length), m.bits);
    if (!mf) return nullptr;
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, sizeof(METAFILEPICT));
    METAFILEPICT* mp = h ? static_cast<METAFILEPICT*>(GlobalLock(h)) : nullptr;
    if (!mp) {
        if (h) GlobalFree(h);
        DeleteMetaFile(mf);
        return nullptr;
    }
    mp->mm = m.mappingMode, mp->xExt = m.xExt, mp->yExt = m.yExt, mp->hMF = mf;
    GlobalUnlock(h);
    return h;
}

HANDLE paletteToLocal(const uint8_t* data, uint32_t length) {
    const uint8_t* entries;
    uint32_t count;
    if (!diClipPaletteFromServer(data, length, &entries, &count)) return nullptr;
    std::vector<uint8_t> buf(sizeof(LOGPALETTE) + size_t(count) * sizeof(PALETTEENTRY));
    LOGPALETTE* lp = reinterpret_cast<LOGPALETTE*>(buf.data());
    lp->palVersion = 0x300;
    lp->palNumEntries = WORD(count);
    memcpy(lp->palPalEntry, entries, size_t(count) * 4);
    return CreatePalette(lp);
}

/* The local metafile picture played into a new metafile, in server form. */
bool metafileFromLocal(HANDLE h, DiClipBytes* out) {
    const METAFILEPICT* mp = static_cast<const METAFILEPICT*>(GlobalLock(h));
    if (!mp) return false;
    bool ok = false;
    if (GlobalSize(h) >= sizeof(METAFILEPICT)) {
        HDC dc = CreateMetaFileW(nullptr);
        HMETAFILE copy = nullptr;
        if (dc) {
            PlayMetaFile(dc, mp->hMF);
            copy = CloseMetaFile(dc);
        }
        UINT n = copy ? GetMetaFileBitsEx(copy, 0, nullptr) : 0;
        if (n && n <= (64u << 20)) {
            std::vector<uint8_t> bits(n);
            if (GetMetaFileBitsEx(copy, n, bits.data()) == n) {
                *out = diClipMetafileToServer(mp->mm, mp->xExt, mp->yExt, bits.data(), n);
                ok = out->ok;
            }
        }
        if (copy) DeleteMetaFile(copy);
    }
    GlobalUnlock(h);
    return ok;
}

/* A local palette is a GDI object, not memory: its entries in server form. */
bool paletteFromLocal(HANDLE h, DiClipBytes* out) {
    UINT count = GetPaletteEntries(static_cast<HPALETTE>(h), 0, 0, nullptr);
    if (count == 0 || count > 0xFFFF) return false;
    std::vector<PALETTEENTRY> entries(count);
    if (GetPaletteEntries(static_cast<HPALETTE>(h), 0, count, entries.data()) != count)
        return false;
    *out = diClipPaletteToServer(reinterpret_cast<const uint8_t*>(entries.data()), count);
    return out->ok;
}

} // namespace

/* The server's data in the Windows form of the format (GUI thread). */
HANDLE ddClipToLocal(UINT format, const uint8_t* data, uint32_t length) {
    DiClipBytes b;
    switch (format) {
    case CF_TEXT:
    case CF_OEMTEXT:
        b = diClipTextToLocal(data, length);
        break;
    case CF_UNICODETEXT:
        b = diClipUnicodeToLocal(data, length);
        break;
    case CF_METAFILEPICT:
        return metafileToLocal(data, length);
    case CF_PALETTE:
        return paletteToLocal(data, length);
    case CF_BITMAP:
    case CF_ENHMETAFILE:
        return nullptr; /* handles of this session only: not carried */
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

bool ddClipFromLocal(UINT format, HANDLE h, uint8_t** data, uint32_t* length) {
    *data = nullptr;
    *length = 0;
    DiClipBytes b = {nullptr, 0, false};
    if (format == CF_PALETTE) {
        if (!paletteFromLocal(h, &b)) return false;
    } else if (format == CF_METAFILEPICT) {
        if (!metafileFromLocal(h, &b)) return false;
    } else if (format == CF_BITMAP || format == CF_ENHMETAFILE) {
        return false;
    } else {
        const uint8_t* p = static_cast<const uint8_t*>(GlobalLock(h));
        if (!p) return false;
        size_t n = GlobalSize(h);
        if (format == CF_TEXT || format == CF_OEMTEXT) {
            b = diClipTextFromLocal(p, n);
        } else if (format == CF_UNICODETEXT) {
            b = diClipUnicodeFromLocal(p, n);
        } else {
            b.data = static_cast<uint8_t*>(malloc(n ? n : 1));
            b.ok = b.data != nullptr;
            b.length = b.ok ? n : 0;
            if (b.ok && n) memcpy(b.data, p, n);
        }
        GlobalUnlock(h);
    }
    if (!b.ok || b.length > 0xFFFFFFFFu) {
        free(b.data);
        return false;
    }
    *data = b.data;
    *length = uint32_t(b.length);
    return true;
}

namespace {

bool openClipboard(HWND w = ddClipOwnerWindow()) {
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
                          int singleText, bool forPrinting) {
    InterlockedIncrement(&s_announcing);
    bool open = !forPrinting && openClipboard();
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
    if (forPrinting) {
        /* The clipboard and its engine stay; only this display's list is
         * new (a render for it asks from the new list). */
        s_printOwner = owner;
        s_printFormats = formats;
    } else {
        s_owner = owner;
        s_engineWindow = engineWindow;
        s_formats = formats;
        if (s_printOwner == owner) s_printOwner = nullptr, s_printFormats.clear();
    }
    s_lock.off();
    if (open) {
        EmptyClipboard();
        for (const Format& f : formats)
            if (f.windowsId) SetClipboardData(f.windowsId, nullptr);
        CloseClipboard();
    }
    InterlockedDecrement(&s_announcing);
    return open || forPrinting;
}

bool ddClipFindRemote(void* owner, UINT format, uint32_t* remoteId, const DiChar** name,
                      uint32_t* nameLength) {
    bool found = false;
    s_lock.on();
    const std::vector<Format>* list = owner == s_printOwner ? &s_printFormats
                                      : owner == s_owner    ? &s_formats
                                                            : nullptr;
    if (owner && list)
        for (const Format& f : *list)
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

bool ddClipRenderWaiting(void* owner) {
    s_lock.on();
    bool waiting = s_renderWait > 0 && owner == s_owner;
    s_lock.off();
    return waiting;
}

void ddClipDeliverRemote(void* owner, const uint8_t* data, uint32_t length, const DiChar* name,
                         uint32_t nameLength) {
    if (!ddClipRenderWaiting(owner)) return; /* nobody asked: the data is dropped */
    UINT format = windowsFormat(name, nameLength);
    HANDLE h = ddClipToLocal(format, data, length);
    s_lock.on();
    freeLocal(s_renderedFormat, s_rendered);
    s_rendered = h;
    s_renderedFormat = format;
    s_lock.off();
    ddClipEndRender();
}

void ddClipReleaseOwnership(void* owner) {
    s_lock.on();
    if (owner && owner == s_printOwner) s_printOwner = nullptr, s_printFormats.clear();
    if (!owner || owner != s_owner) {
        s_lock.off();
        return;
    }
    bool waiting = s_renderWait > 0;
    s_owner = nullptr;
    s_engineWindow = nullptr;
    s_formats.clear();
    if (s_printOwner == owner) s_printOwner = nullptr, s_printFormats.clear();
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
        /* Bitmaps and enhanced metafiles have no server form. */
        if (f == CF_BITMAP || f == CF_ENHMETAFILE) continue;
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
    if (!f || f == CF_BITMAP || f == CF_ENHMETAFILE) return false;
    if (!openClipboard()) return false;
    HANDLE h = GetClipboardData(f);
    bool ok = h && ddClipFromLocal(f, h, data, length);
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
    freeLocal(s_renderedFormat, s_rendered);
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
    UINT made = s_renderedFormat;
    s_rendered = nullptr;
    s_renderWait--;
    s_lock.off();
    /* A palette or picture handle answers only its own format. */
    bool handle = made == CF_PALETTE || made == CF_METAFILEPICT || format == CF_PALETTE ||
                  format == CF_METAFILEPICT;
    if (h && made != format && handle) {
        freeLocal(made, h);
        h = nullptr;
    }
    if (!h)
        renderEmpty(format);
    else if (!SetClipboardData(format, h))
        freeLocal(format, h);
}

void ddClipBridgeStop(void) {
    /* The state is cleared before a waiting render is released: a render
     * starting between a release and the clearing would still find the
     * engine, erase the release and wait for the GUI thread, which is in
     * here stopping and reads no posted message. */
    s_lock.on();
    s_owner = nullptr;
    s_engineWindow = nullptr;
    s_formats.clear();
    s_printOwner = nullptr;
    s_printFormats.clear();
    s_pasted.clear();
    s_pasteStops++;
    s_lock.off();
    ddClipEndRender();
    /* A worker blocked behind a program slow to render is waited for a
     * while, not for ever: once it wakes it finds the stop and leaves. */
    DWORD start = GetTickCount();
    while (InterlockedCompareExchange(&s_pasteWorkers, 0, 0) && GetTickCount() - start < 3000)
        Sleep(10);
}

bool ddClipPutText(HWND window, const DiChar* text, uint32_t n) {
    if (n > (64u << 20)) return false;
    DiClipBytes u = diClipUnicodeToLocal(reinterpret_cast<const uint8_t*>(text), size_t(n) * 2);
    if (!u.ok) return false;
    /* The 8-bit copy in the system's code page: a cut to the low 8 bits
     * would turn the euro into another sign and U+2500 into a terminator. */
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(u.data);
    int units = int(u.length / 2);
    int bytes = WideCharToMultiByte(CP_ACP, 0, wide, units, nullptr, 0, nullptr, nullptr);
    HGLOBAL ansi = bytes > 0 ? GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, size_t(bytes)) : nullptr;
    if (char* p = ansi ? static_cast<char*>(GlobalLock(ansi)) : nullptr) {
        WideCharToMultiByte(CP_ACP, 0, wide, units, p, bytes, nullptr, nullptr);
        GlobalUnlock(ansi);
    }
    HGLOBAL unicode = globalCopy(u.data, u.length);
    free(u.data);
    bool ok = false;
    if (unicode && ansi && openClipboard(window)) {
        if (EmptyClipboard()) {
            ok = SetClipboardData(CF_UNICODETEXT, unicode) != nullptr;
            if (ok) unicode = nullptr;
            if (ok && SetClipboardData(CF_TEXT, ansi)) ansi = nullptr;
        }
        CloseClipboard();
    }
    if (unicode) GlobalFree(unicode);
    if (ansi) GlobalFree(ansi);
    return ok;
}

bool ddClipHasText(HWND) {
    return IsClipboardFormatAvailable(CF_UNICODETEXT) || IsClipboardFormatAvailable(CF_TEXT);
}

bool ddClipGetText(HWND window, std::u16string* out) {
    out->clear();
    if (!openClipboard(window)) return false;
    DiClipBytes b = {nullptr, 0, false};
    if (HANDLE h = GetClipboardData(CF_UNICODETEXT)) {
        /* Within the block's size: a block may lack its terminator. */
        if (const char16_t* p = static_cast<const char16_t*>(GlobalLock(h))) {
            b = diClipTerminalText(p, GlobalSize(h) / 2, kDdClipPasteLimit);
            GlobalUnlock(h);
        }
    } else if (HANDLE h = GetClipboardData(CF_TEXT)) {
        if (const char* p = static_cast<const char*>(GlobalLock(h))) {
            size_t size = GlobalSize(h), n = strnlen(p, size);
            if (n > kDdClipPasteLimit * 2) n = kDdClipPasteLimit * 2;
            int units = n ? MultiByteToWideChar(CP_ACP, 0, p, int(n), nullptr, 0) : 0;
            std::u16string wide(size_t(units > 0 ? units : 0), u'\0');
            if (units > 0) MultiByteToWideChar(CP_ACP, 0, p, int(n), ddW(&wide[0]), units);
            b = diClipTerminalText(wide.data(), wide.size(), kDdClipPasteLimit);
            GlobalUnlock(h);
        }
    }
    CloseClipboard();
    if (!b.ok) return false;
    out->assign(reinterpret_cast<const char16_t*>(b.data), b.length / 2);
    free(b.data);
    return true;
}

namespace {

struct PasteJob {
    HWND view;
    uint32_t stops; /* s_pasteStops when it was started */
};

void keepPasted(HWND view, uint32_t stops, std::u16string* text) {
    s_lock.on();
    bool kept = stops == s_pasteStops;
    if (kept) {
        bool found = false;
        for (Pasted& p : s_pasted)
            if (p.view == view) {
                p.text.swap(*text); /* a newer paste of the same view replaces it */
                found = true;
            }
        if (!found) s_pasted.push_back({view, std::move(*text)});
    }
    s_lock.off();
    if (kept && !PostMessageW(view, WM_COMMAND, kDdClipPasteCommand, 0)) ddClipDropText(view);
}

uintptr_t textWorker(uintptr_t arg) {
    PasteJob* job = reinterpret_cast<PasteJob*>(arg);
    std::u16string text;
    if (ddClipGetText(job->view, &text) && !text.empty()) keepPasted(job->view, job->stops, &text);
    free(job);
    InterlockedDecrement(&s_pasteWorkers); /* the last touch of shared state */
    return 0;
}

} // namespace

bool ddClipFetchTextAsync(HWND view) {
    PasteJob* job = static_cast<PasteJob*>(malloc(sizeof(PasteJob)));
    if (!job) return false;
    job->view = view;
    s_lock.on();
    job->stops = s_pasteStops;
    s_lock.off();
    InterlockedIncrement(&s_pasteWorkers);
    HANDLE t = ddThreadCreate(textWorker, reinterpret_cast<uintptr_t>(job));
    if (!t) {
        InterlockedDecrement(&s_pasteWorkers);
        free(job);
        return false;
    }
    ddThreadCloseHandle(t);
    return true;
}

bool ddClipTakeText(HWND view, std::u16string* out) {
    bool found = false;
    s_lock.on();
    for (size_t i = 0; i < s_pasted.size(); i++)
        if (s_pasted[i].view == view) {
            out->swap(s_pasted[i].text);
            s_pasted.erase(s_pasted.begin() + long(i));
            found = true;
            break;
        }
    s_lock.off();
    return found;
}

void ddClipDropText(HWND view) {
    std::u16string dropped;
    ddClipTakeText(view, &dropped);
}
