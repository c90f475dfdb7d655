// A scripted PC/SC service for the smart-card handlers: two readers, a card
// that answers any command with its input reversed and 90 00 (but a SELECT
// by name with 90 00 alone, and a 5-byte READ BINARY with as many bytes of
// text as it asks for, 256 for 0), calls logged,
// every result buffer written as far as its size allows (so ASan sees any
// buffer smaller than the size passed with it). Thread-safe: status-change
// calls block, when told (all, or those without a time limit), until
// cancelled, the context released or a card inserted. As the host's service
// does when told (lateCancel), a cancel reaches only a call that already
// blocks, and a release waits until the context's call has returned.
#ifndef HV_TESTS_FAKE_PCSC_H
#define HV_TESTS_FAKE_PCSC_H

#include "devices/discard.h"

#include <map>
#include <set>
#include <string>

struct FakePcsc {
    std::string log;                     // "name(args);" per call
    std::map<std::string, int32_t> fail; // a call's scripted error
    int32_t failAll = 0;                 // every call's error, when not 0
    bool blockStatusChange = false;
    bool blockInfinite = false;         // only calls without a time limit block
    bool blockConnect = false;          // connect waits for releaseConnects()
    bool lateCancel = false;            // see above
    bool holdEntry = false;             // status changes stop before they block
    bool noStartEvent = false;          // the start-event entries are missing
    bool noOptional = false;            // isValid and locateByAtr are missing
    bool longAtr = false;               // status gives a 33-byte ATR
    bool overstate = false;             // lists claim more than the buffer took
    std::set<uint32_t> contexts, cards; // live in the service
    int autoAllocated = 0;              // service allocations not yet freed
    int startEventsLive = 0;
    int blocked = 0;                     // calls now blocked
    int held = 0;                        // status changes held on their way in
    uint32_t lastChars = 0, lastLen = 0; // sizes of the last list / buffer
};

extern FakePcsc g_pcsc;
// Resets the script and installs the fake as the service.
void fakePcscReset();
// Installs it again after the flags changed which entries exist.
void fakePcscInstall();
// Ends every blocked status-change call as a card insertion.
void fakePcscInsert();
void fakePcscReleaseConnects();
// Lets the status changes held on their way in go on (holdEntry).
void fakePcscReleaseEntries();
// Waits until `n` status changes are held on their way in.
void fakePcscWaitHeld(int n);
// Waits until `n` calls are blocked.
void fakePcscWaitBlocked(int n);
// Adds a call to the log (calls the fake does not serve itself).
void fakePcscLog(const char* call);
// The log so far, cleared.
std::string fakePcscTakeLog();

#endif
