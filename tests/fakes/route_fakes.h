// Fakes of what routes, the fetch and the login dialogs call outside the
// portable layer: the password-cache settings list, the blocking socket
// calls of the hop chain, message texts, the credentials dialog, the yes/no
// question and the outpost's last error and base routes.
#ifndef HV_TESTS_ROUTE_FAKES_H
#define HV_TESTS_ROUTE_FAKES_H

#include "core/diapp.h"
#include "fakes/chan_fakes.h"
#include "net/diroute.h"

#include <functional>
#include <string>
#include <vector>

struct FakeDialogAnswer {
    bool ok;
    std::u16string user, password;
    bool save;
};

struct FakeRoutes {
    std::vector<std::u16string> cache; // the settings list, item by item
    int cacheWrites = 0;
    bool cacheFull = false;             // writes of the list fail, nothing is written
    std::vector<std::string> connects;  // "host:port" of each direct connect
    int connectFailsAt = -1;            // connect number that fails
    std::vector<std::u16string> errors; // every last error set
    std::vector<FakeDialogAnswer> dialogs;
    std::vector<std::u16string> dialogPrompts; // the route description shown
    std::vector<bool> yesNo;                   // answers, in order
    // Runs while the credentials dialog or a question is open, as the
    // modal loop runs timers and socket notices.
    std::function<void()> whileAsking;
    std::vector<std::u16string> questions;
    int tlsStarts = 0;
    bool tlsFails = true;
    std::function<void()> whileTlsAsks; // inside a TLS start, as a certificate question
    DiRouteChain* baseRoutes = nullptr;
    bool firewallTraversal = false;
    int connectResult = 0; // diNetConnect (the fetch's fake)
    uint32_t connectFlags = 0;
    int connectCalls = 0;
    std::vector<int> notRemembered; // the reason of each "not remembered" notice
};

extern FakeRoutes g_fakeRoutes;
extern DdApp g_fakeApp;

// Clears every fake, the application record included.
void routeFakesReset();

#endif
