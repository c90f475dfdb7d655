// A terminal display as the session layer makes it - a frame, its manager
// and the terminal channel in a view of its own - connected to a T-AIP
// server on 127.0.0.1, with the face setting "TermFace" naming DejaVu Sans
// Mono. hvSocketSinkInit and ddUIInit must have run.
#pragma once
#include "core/ddapp.h"
#include "core/dide.h"
#include "net/ddnet.h"
#include "session/diprofile.h"
#include "support/mem_profile_store.h"
#include "ui/ddcolor.h"
#include "ui/ddgdi.h"
#include "ui/diui.h"

#include <stdio.h>

inline DiFrame* hvMakeTerminal(int width, int height, int port) {
    static CMemProfileStore store;
    static bool faceSet = store.SetLocalSetting(u"termface", u"DejaVu Sans Mono");
    (void)faceSet;
    g_diProfileStore = &store;
    HDC screen = GetDC(nullptr);
    g_ddApp->depth = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
    ReleaseDC(nullptr, screen);
    if (!g_ddApp->colorMap) g_ddApp->colorMap = ddColorMapCreate(g_ddApp->depth, -1, -1);
    ddGDILoadCursors();
    // The client description as start-up makes it: the hello carries it.
    if (!g_ddApp->clientInfo.platform) {
        static DiChar platform[] = u"Win32", version[16];
        DWORD v = GetVersion();
        char text[16];
        snprintf(text, sizeof text, "%lu.%lu", v & 0xFF, (v >> 8) & 0xFF);
        for (int i = 0; text[i]; i++)
            version[i] = DiChar(text[i]);
        g_ddApp->clientInfo.platform = platform;
        g_ddApp->clientInfo.osVersion = version;
    }
    DiFrame* frame = diUICreateFrame(3, DI_OBJ_TDE, width, height);
    DiChannel* ch = frame && frame->manager ? frame->manager->channel : nullptr;
    if (!ch) return nullptr;
    HWND view = ddGDIGetWindow(ch->hdr.gc);
    ShowWindow(GetAncestor(view, GA_ROOT), SW_SHOW);
    diDEManagerActivate(frame->manager, 1);
    if (ddNetSocketOpen(ch->socket, 1, 1) != 0 ||
        diNetConnect(ch->socket, u"127.0.0.1", uint16_t(port), 0) != 0)
        return nullptr;
    ddNetSelectEvents(ch->socket, DD_NET_READ | DD_NET_WRITE | DD_NET_CLOSE,
                      DD_NET_READ | DD_NET_CLOSE);
    diDEChannelOpen(ch);
    return frame;
}

// One turn of the application's event loop.
inline void hvPumpOnce() {
    MSG m;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
    diTimerDispatch(diDEClock());
    ddNetPoll();
}
