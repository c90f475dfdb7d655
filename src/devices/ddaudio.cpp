/* Audio output's Windows side: waveOut on the wave mapper and finished
 * buffers reported to a hidden window (the channel factory's constructor
 * and destroy routine are in ddaudiochan.cpp). */
#include "dd.h"

#include "core/diapp.h"
#include "devices/ddaudio.h"
#include "devices/diaudio.h"

#include <mmsystem.h>
#include <stdlib.h>

namespace {

const wchar_t kClass[] = L"QVLAudioWin";

LRESULT CALLBACK windowProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == MM_WOM_DONE) {
        /* The channel is detached from the window before tear-down, so a
         * late message finds nothing. */
        DiIOChannel* io = reinterpret_cast<DiIOChannel*>(GetWindowLongPtrW(w, GWLP_USERDATA));
        if (io) diAudioBufferDone(io, reinterpret_cast<const void*>(lp));
        return 0;
    }
    return DefWindowProcW(w, msg, wp, lp);
}

uint32_t open(DiIOChannel* io, const DiAudioFormat* f, void** device) {
    WAVEOUTCAPSW caps;
    if (waveOutGetDevCapsW(WAVE_MAPPER, &caps, sizeof caps) != MMSYSERR_NOERROR) return 1;
    WAVEFORMATEX fx = {};
    fx.wFormatTag = f->tag, fx.nChannels = f->channels, fx.nSamplesPerSec = f->rate;
    fx.nAvgBytesPerSec = f->avgBytes, fx.nBlockAlign = f->blockAlign, fx.wBitsPerSample = f->bits;
    fx.cbSize = 0;
    HWAVEOUT h = nullptr;
    DWORD flags = CALLBACK_WINDOW | (caps.dwSupport & WAVECAPS_SYNC ? WAVE_ALLOWSYNC : 0);
    HWND w = reinterpret_cast<DdAudioChannel*>(io)->window;
    if (waveOutOpen(&h, WAVE_MAPPER, &fx, reinterpret_cast<DWORD_PTR>(w),
                    reinterpret_cast<DWORD_PTR>(io), flags) != MMSYSERR_NOERROR)
        return 1;
    *device = h;
    return 0;
}

uint32_t write(void* device, DiAudioBuffer* b) {
    WAVEHDR* h = static_cast<WAVEHDR*>(calloc(1, sizeof(WAVEHDR)));
    if (!h) return 1;
    HWAVEOUT dev = static_cast<HWAVEOUT>(device);
    h->lpData = reinterpret_cast<LPSTR>(b->data);
    h->dwBufferLength = b->length;
    h->dwUser = b->stream;
    h->dwLoops = 1;
    if (waveOutPrepareHeader(dev, h, sizeof *h) != MMSYSERR_NOERROR) {
        free(h);
        return 1;
    }
    b->header = h; /* before the write: the device may finish it at once */
    if (waveOutWrite(dev, h, sizeof *h) != MMSYSERR_NOERROR) {
        waveOutUnprepareHeader(dev, h, sizeof *h);
        free(h);
        b->header = nullptr;
        return 1;
    }
    return 0;
}

void unprepare(void* device, DiAudioBuffer* b) {
    WAVEHDR* h = static_cast<WAVEHDR*>(b->header);
    if (!h) return;
    waveOutUnprepareHeader(static_cast<HWAVEOUT>(device), h, sizeof *h);
    free(h);
    b->header = nullptr;
}

void reset(void* device) {
    waveOutReset(static_cast<HWAVEOUT>(device));
}

uint32_t closeDevice(void* device) {
    return waveOutClose(static_cast<HWAVEOUT>(device)) == MMSYSERR_NOERROR ? 0 : 1;
}

uint32_t setVolume(void* device, uint32_t volume) {
    return waveOutSetVolume(static_cast<HWAVEOUT>(device), volume) == MMSYSERR_NOERROR ? 0 : 1;
}

struct ProbeQuery {
    DWORD flags;
};

bool acceptsFormat(void* ctx, const DiAudioFormat* f) {
    WAVEFORMATEX fx = {};
    fx.wFormatTag = f->tag, fx.nChannels = f->channels, fx.nSamplesPerSec = f->rate;
    fx.nAvgBytesPerSec = f->avgBytes, fx.nBlockAlign = f->blockAlign, fx.wBitsPerSample = f->bits;
    DWORD flags = static_cast<ProbeQuery*>(ctx)->flags;
    return waveOutOpen(nullptr, WAVE_MAPPER, &fx, 0, 0, flags) == MMSYSERR_NOERROR;
}

/* Asks the wave mapper which formats it takes. The record is kept only when
 * start-up found an output device at all. */
void ddAudioReportFormats(DiIOChannel* io) {
    WAVEOUTCAPSW caps;
    if (waveOutGetDevCapsW(WAVE_MAPPER, &caps, sizeof caps) != MMSYSERR_NOERROR) return;
    ProbeQuery q = {WAVE_FORMAT_QUERY | (caps.dwSupport & WAVECAPS_SYNC ? WAVE_ALLOWSYNC : 0u)};
    DiAudioDeviceRecord r;
    diAudioProbe(caps.dwFormats, acceptsFormat, &q, &r);
    if (g_ddApp && g_ddApp->hasAudio) diAudioAddCaps(io, &r);
}

const DiAudioOps kOps = {open,        write,     unprepare,           reset,
                         closeDevice, setVolume, ddAudioReportFormats};

} // namespace

bool ddAudioChannelSetUp(DdAudioChannel* a) {
    HINSTANCE inst = GetModuleHandleW(nullptr);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = inst;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = kClass;
    RegisterClassW(&wc); /* fails harmlessly when already registered */
    a->window = CreateWindowW(kClass, L"QVLAudio", 0, 0, 0, 0, 0, nullptr, nullptr, inst, nullptr);
    if (!a->window || !diAudioChannelInit(&a->io, &kOps)) {
        if (a->window) DestroyWindow(a->window);
        a->window = nullptr;
        return false;
    }
    SetWindowLongPtrW(a->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&a->io));
    return true;
}

void ddAudioChannelTearDown(DdAudioChannel* a) {
    SetWindowLongPtrW(a->window, GWLP_USERDATA, 0);
    diAudioChannelTeardown(&a->io);
    DestroyWindow(a->window);
    a->window = nullptr;
}
