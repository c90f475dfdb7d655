// The device harnesses' connection and event loop: a channel connected to
// its peer on 127.0.0.1, then served as the client's loop serves it until
// the peer closes or two minutes pass.
#pragma once

#include <windows.h>

#include "core/dide.h"
#include "core/ditimer.h"
#include "net/ddnet.h"

#include <stdint.h>
#include <stdlib.h>

inline bool hvHarnessConnect(DiChannel* ch, const char* port) {
    if (ddNetSocketOpen(ch->socket, 1, 1) != 0 ||
        diNetConnect(ch->socket, u"127.0.0.1", uint16_t(atoi(port)), 0) != 0)
        return false;
    ddNetSelectEvents(ch->socket, DD_NET_READ | DD_NET_WRITE | DD_NET_CLOSE,
                      DD_NET_READ | DD_NET_CLOSE);
    return true;
}

// True when the peer closed the connection in time. `each` runs after
// every turn of the loop.
inline bool hvHarnessServeUntilClosed(DiChannel* ch, void (*each)(DiChannel*) = nullptr) {
    MSG m;
    DWORD end = GetTickCount() + 120000;
    while (ddNetIsOpen(ch->socket) && int32_t(GetTickCount() - end) < 0) {
        // Alertable, so that device completions queued by workers run here.
        MsgWaitForMultipleObjectsEx(0, nullptr, 10, QS_ALLINPUT, MWMO_ALERTABLE);
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        diTimerDispatch(diDEClock());
        ddNetPoll();
        if (each) each(ch);
    }
    return !ddNetIsOpen(ch->socket);
}
