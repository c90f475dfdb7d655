/* The connection list and the socket operations that need no OS socket. */
#include "net/dinet.h"

#include <stdlib.h>

static DdSocket* s_netHead;

void diNetLink(DdSocket* s) {
    s->error = 0;
    s->prev = nullptr;
    s->next = s_netHead;
    if (s_netHead) s_netHead->prev = s;
    s_netHead = s;
}

void diNetUnlink(DdSocket* s) {
    if (s->prev)
        s->prev->next = s->next;
    else if (s_netHead == s)
        s_netHead = s->next;
    if (s->next) s->next->prev = s->prev;
    s->next = s->prev = nullptr;
}

DdSocket* diNetListHead() {
    return s_netHead;
}

void diNetSetOwner(DdSocket* s, DiObject* owner) {
    if (s) s->owner = owner;
}

DdSocket* diNetFindByHandle(uintptr_t handle) {
    if (handle == DD_NET_NO_HANDLE) return nullptr;
    for (DdSocket* s = s_netHead; s; s = s->next)
        if (s->handle == handle) return s;
    return nullptr;
}

void diNetHold(DdSocket* s) {
    if (s) s->holdCount++;
}

void diNetRelease(DdSocket* s) {
    if (!s || s->holdCount == 0) return;
    if (--s->holdCount == 0 && s->destroyed) free(s);
}

uint32_t diNetInterestToFd(uint32_t interest) {
    uint32_t fd = 0;
    if (interest & DD_NET_READ) fd |= DD_FD_READ;
    if (interest & DD_NET_WRITE) fd |= DD_FD_WRITE;
    if (interest & DD_NET_CLOSE) fd |= DD_FD_CLOSE;
    if (interest & DD_NET_ACCEPT) fd |= DD_FD_ACCEPT;
    return fd;
}

int diNetFdToEvent(uint32_t fdEvent) {
    switch (fdEvent) {
    case DD_FD_READ:
        return DI_EV_READABLE;
    case DD_FD_WRITE:
        return DI_EV_WRITABLE;
    case DD_FD_ACCEPT:
        return DI_EV_ACCEPTED;
    case DD_FD_CLOSE:
        return DI_EV_CLOSED;
    default:
        return -1;
    }
}

void diNetPollPass(void (*deliver)(DdSocket* s)) {
    /* Both the current and the next object are held while the owner runs, so
     * neither can be freed under the walk. When the owner destroyed the next
     * object, its link no longer leads through the list: start again from the
     * head (owners tolerate an extra readable event that would block). A
     * socket's ready bit clears when a read returns nothing, so restarts end. */
    DdSocket* cur = s_netHead;
    diNetHold(cur);
    while (cur) {
        DdSocket* next = cur->next;
        diNetHold(next);
        if (!cur->destroyed && cur->owner && (cur->eventMask & DD_FD_READ) && (cur->ready & 1))
            deliver(cur);
        diNetRelease(cur);
        if (next && next->destroyed) {
            diNetRelease(next);
            next = s_netHead;
            diNetHold(next);
        }
        cur = next;
    }
}
