// The connection list and the poll of TLS-buffered data.
#include <gtest/gtest.h>

#include "fakes/chan_fakes.h"
#include "net/dinet.h"

#include <stdlib.h>
#include <vector>

namespace {

DdSocket* newSocket(uintptr_t handle) {
    DdSocket* s = ddNetSocketCreate();
    s->handle = handle;
    return s;
}

TEST(DiNet, ListLinksAtTheHeadAndFindsByHandle) {
    DdSocket* a = newSocket(10);
    DdSocket* b = newSocket(11);
    a->error = 5;
    EXPECT_EQ(diNetListHead(), b);
    EXPECT_EQ(diNetFindByHandle(10), a);
    EXPECT_EQ(diNetFindByHandle(12), nullptr); // a handle no longer in the list
    EXPECT_EQ(diNetFindByHandle(DD_NET_NO_HANDLE), nullptr);
    ddNetSocketDestroy(b);
    EXPECT_EQ(diNetListHead(), a);
    EXPECT_EQ(a->prev, nullptr);
    ddNetSocketDestroy(a);
    EXPECT_EQ(diNetListHead(), nullptr);
}

TEST(DiNet, InterestAndEventBitsMap) {
    EXPECT_EQ(diNetInterestToFd(1), 1u);
    EXPECT_EQ(diNetInterestToFd(2), 2u);
    EXPECT_EQ(diNetInterestToFd(4), 0x20u);
    EXPECT_EQ(diNetInterestToFd(0x10000), 8u);
    EXPECT_EQ(diNetInterestToFd(5), 0x21u);
    struct Case {
        uint32_t fd;
        int ev;
    } cases[] = {{1, 0}, {2, 1}, {8, 23}, {0x20, 2}, {0x10, -1}, {4, -1}};
    for (const Case& c : cases)
        EXPECT_EQ(diNetFdToEvent(c.fd), c.ev) << c.fd;
}

std::vector<DdSocket*> g_delivered;
DdSocket* g_destroyNext;
void recordDelivery(DdSocket* s) {
    g_delivered.push_back(s);
    s->ready = 0; // the owner read until nothing was left
    if (g_destroyNext) {
        DdSocket* victim = g_destroyNext;
        g_destroyNext = nullptr;
        ddNetSocketDestroy(victim);
    }
}

TEST(DiNet, PollDeliversOnlyToReadersWithBufferedData) {
    DiObject owner;
    diUIObjectInit(&owner, 14, 1, 1);
    DdSocket* a = newSocket(1);
    DdSocket* b = newSocket(2);
    DdSocket* c = newSocket(3);
    for (DdSocket* s : {a, b, c})
        s->owner = &owner;
    a->eventMask = DD_FD_READ, a->ready = 1;
    b->eventMask = DD_FD_WRITE, b->ready = 1; // not reading
    c->eventMask = DD_FD_READ, c->ready = 0;  // nothing buffered
    g_delivered.clear();
    diNetPollPass(recordDelivery);
    EXPECT_EQ(g_delivered, (std::vector<DdSocket*>{a}));
    for (DdSocket* s : {a, b, c})
        ddNetSocketDestroy(s);
}

TEST(DiNet, PollSurvivesAnOwnerDestroyingTheNextSocket) {
    DiObject owner;
    diUIObjectInit(&owner, 14, 1, 1);
    DdSocket* last = newSocket(3);
    DdSocket* middle = newSocket(2);
    DdSocket* first = newSocket(1);
    for (DdSocket* s : {first, middle, last}) {
        s->owner = &owner;
        s->eventMask = DD_FD_READ;
        s->ready = 1;
    }
    g_delivered.clear();
    g_destroyNext = middle; // destroyed while the walk holds it as "next"
    diNetPollPass(recordDelivery);
    EXPECT_EQ(g_delivered, (std::vector<DdSocket*>{first, last}));
    EXPECT_EQ(diNetListHead(), first);
    ddNetSocketDestroy(first);
    ddNetSocketDestroy(last);
}

TEST(DiNet, HeldSocketIsFreedByItsLastRelease) {
    DdSocket* s = newSocket(4);
    diNetHold(s);
    ddNetSocketDestroy(s);
    EXPECT_EQ(s->destroyed, 1u); // still readable: not freed
    ddNetSocketDestroy(s);       // a second destroy returns at once
    diNetRelease(s);             // frees (checked by the sanitizer)
}

} // namespace
