// Fakes of the Windows side that the portable channel, buffer and display
// object code calls: a scripted socket, graphics contexts that record what
// was drawn, windowless frames and managers, and channel constructors that
// fail or succeed on request.
#ifndef HV_TESTS_CHAN_FAKES_H
#define HV_TESTS_CHAN_FAKES_H

#include "core/dide.h"
#include "net/dinet.h"
#include "ui/diui.h"

#include <deque>
#include <map>
#include <string>
#include <vector>

struct DdGC {
    uint32_t function = 0;
    uint32_t foreground = 0;
    std::vector<std::vector<int32_t>> fills;
};

// The scripted peer behind every fake socket: recv hands out the chunks of
// `incoming` one by one (a chunk larger than the room is split); an empty
// queue would block, or reports the close when `closed`.
struct FakeNet {
    std::deque<std::string> incoming;
    size_t offset = 0; // bytes of the front chunk already handed out
    bool closed = false;
    bool recvFails = false;
    std::string sent;
    // The same bytes by socket; a destroyed socket's stay until its address
    // is given to a new socket.
    std::map<const DdSocket*, std::string> sentBy;
    // false: sent bytes are copied into a scratch block, as a kernel takes
    // them, and only counted in sentCount (benchmarks).
    bool keepSent = true;
    size_t sentCount = 0;
    char sink[65536];
    size_t sendRoom = SIZE_MAX; // bytes the peer takes before it stops reading
    bool sendFails = false;
    int waits = 0;
    std::vector<std::pair<uint32_t, uint32_t>> selects; // (which, values)
    int created = 0, destroyed = 0, closes = 0;
    bool createFails = false;
};

// Where the progress window's detail lines go (none: dropped); kept across
// fakesReset so that other fakes can take them.
extern void (*g_fakeProgDetails)(const DiChar* text);

struct FakeUI {
    int gcCreated = 0, gcFreed = 0;
    bool gcFails = false;
    bool frameFails = false, managerFails = false;
    int progressCreated = 0, progressDestroyed = 0;
    DdGC* gcAtDestroy = nullptr; // the progress object's context when its routine ran
    bool progressFails = false;
    int managersDestroyed = 0, framesFreed = 0;
    int scrollRangeUpdates = 0, scrollPosUpdates = 0;
    std::vector<std::pair<DiObject*, int>> shows;
    bool noProgress = false;
    uint32_t codePage = 1252;
    DiClientInfo clientInfo{};
    DiObject* forgottenRoot = nullptr;
    std::vector<int32_t> states; // launch states given to progress windows
    std::vector<int32_t> details; // the detail message of each of those states
    // What the last shown progress window was told of its details.
    int detailsShown = -1, detailsEnabled = -1;
    uint32_t autoDetails = 2;
};

// Channel constructors: when `ctorSucceeds`, the type's constructor makes a
// bare channel with the given handler; the log records constructions and
// destroy routines as "c<type>" and "d<type>".
struct FakeChannels {
    bool ctorSucceeds = false;
    DiEventHandler handler = nullptr;
    uint32_t bufferLimit = 0; // when set, the buffers' limits of a made channel
    std::vector<std::string> log;
    std::vector<DdGC*> gcs;
    std::vector<DdSocket*> sockets;
    // When set, type 14 is made and destroyed by the real V-AIP channel.
    DiChannel* (*soapCtor)(DdSocket* s) = nullptr;
    void (*soapDtor)(DiChannel* ch) = nullptr;
    // When set, type 11 is made and destroyed by these.
    DiChannel* (*printCtor)(DdSocket* s) = nullptr;
    void (*printDtor)(DiChannel* ch) = nullptr;
};

extern FakeNet g_fakeNet;
extern FakeUI g_fakeUI;
extern FakeChannels g_fakeChannels;

// Clears every fake (and frees nothing that a test still owns).
void fakesReset();

#endif
