// Launches from the server's raw packets on the faked socket and window
// layers: completeness and the kind by placement, start failures, the
// states an engine reports (also from inside its own handler), cancelling,
// local programs, the aged-password resume and the launch-dialog timer.
#include "outpost_fixture.h"

#include "core/dide.h"
#include "net/dilaip.h"
#include "session/dilaunch.h"
#include "ui/diui.h"

#include <algorithm>

using namespace outpost_fixture;

// The listener is opened by the Windows side; these tests never open one.
int32_t diListenerOpen(DiChannel*) {
    return -1;
}

namespace {

std::string launchParams(const std::string& placement = "awtwindow", long port = 5000,
                         const std::string& cookie = "c1") {
    return str("objectclass", "mrkqvlxapplication") + str("mrkqvlapplicationplacement", placement) +
           str("mrkqvlsessionappname", "cn=x") + str("mrkqvlsessionid", "s1") +
           str("mrkqvlsessionowner", "o") + str("mrkqvlsessioncookie", cookie) +
           str("mrkqvlsessionexternaldnsname", "app") + num("mrkqvlsessionport", port);
}

std::string laipEnd(uint16_t code) {
    std::string p = {char(code & 255), char(code >> 8), 0, 0, 0, 0};
    uint32_t total = uint32_t(12 + p.size());
    std::string f = "LAIP";
    for (int i = 0; i < 4; i++)
        f += char((total >> (8 * i)) & 255);
    f += std::string{6, 0, char(p.size()), 0};
    return f + p;
}

int32_t g_engineState = 0;

// An engine that reports a final state from inside its own handler and
// then goes on using its channel, as the X engine's input pump does.
int reportingEngine(DiObject* obj, DiEvent* ev) {
    if (ev->w[0] != DI_EV_READABLE) return 0;
    DiChannel* ch = reinterpret_cast<DiChannel*>(obj);
    diDEReportState(ch, g_engineState, 0);
    diDEChannelDisconnected(ch);
    ch->stopReading = 1;
    return 1;
}

struct Launches : OutpostTest {
    CLaunch* launch() { return so->launches.head ? so->launches.head->item : nullptr; }
    DiChannel* engine() { return launch() ? launch()->GetEngineChannel() : nullptr; }
    void deliver(DiChannel* ch, const std::string& bytes) {
        g_fakeNet.incoming.push_back(bytes);
        DiEvent ev = {};
        ev.w[0] = DI_EV_READABLE;
        diUIDeliverEvent(&ch->hdr, &ev);
    }
    size_t frames() {
        size_t n = 0;
        for (DiFrame* f = diUIFrameListHead(); f; f = f->next)
            n++;
        return n;
    }
    // Frames a failed launch keeps for its error are its user's to close.
    void closeLeftFrames() {
        while (DiFrame* f = diUIFrameListHead())
            diUIDestroyFrame(f);
    }
    void TearDown() override {
        so->Stop();
        closeLeftFrames();
        OutpostTest::TearDown();
    }
};

TEST_F(Launches, StartFailuresEndInStateEightWithTheirMessage) {
    const std::string twoByte = "&#233;"; // one character, two UTF-8 bytes
    std::string cookie32, cookie31 = "a";
    for (int i = 0; i < 32; i++)
        cookie32 += twoByte;
    for (int i = 0; i < 31; i++)
        cookie31 += twoByte;
    struct Row {
        const char* name;
        std::string params;
        int connectResult;
        const char* logged; // none: the launch starts
    } rows[] = {
        {"no object class",
         str("mrkqvlapplicationplacement", "awtwindow") + str("mrkqvlsessionid", "s") +
             str("mrkqvlsessioncookie", "c") + str("mrkqvlsessionexternaldnsname", "h") +
             num("mrkqvlsessionport", 1),
         0, "384 "},
        {"port above 65535", launchParams("awtwindow", 70000), 0, "354 app:70000"},
        {"negative port", launchParams("awtwindow", -5), 0, "354 app:-5"},
        {"connect refused", launchParams(), -1, "354 app:5000"},
        {"cookie of 64 UTF-8 bytes", launchParams("awtwindow", 5000, cookie32), 0, "384 cn=x"},
        {"cookie of 63 UTF-8 bytes", launchParams("awtwindow", 5000, cookie31), 0, nullptr},
        {"frame above 65535 bytes",
         launchParams() + str("mrkqvlsessionpeerdnsname", std::string(70000, 'p')), 0, "384 cn=x"},
        {"highest port", launchParams("awtwindow", 65535), 0, nullptr},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        g_fakeRoutes.connectResult = r.connectResult;
        g_fakeRoutes.connectCalls = 0;
        log.lines.clear();
        arrive(request("requestLaunch", r.params, "7"));
        std::string reply = toServer();
        EXPECT_EQ(count(reply, "<ns1:requestLaunchResponse"), 1u);
        ASSERT_NE(launch(), nullptr);
        DiChannel* ch = engine();
        std::string laip = ch ? g_fakeNet.sentBy[ch->socket] : "";
        if (!r.logged) {
            EXPECT_EQ(launch()->state, DI_LAUNCH_STARTING);
            EXPECT_EQ(laip.compare(0, 4, "LAIP"), 0);
            EXPECT_EQ(count(reply, "Client.Launch.Failed"), 0u);
            so->CancelLaunch(launch());
            toServer();
            continue;
        }
        EXPECT_EQ(log.Count(r.logged), 1u) << log.lines.size();
        EXPECT_EQ(log.Count("386 ", "> 19"), 1u) << "state 8";
        EXPECT_EQ(laip, "") << "a refused launch sends nothing";
        EXPECT_EQ(count(reply, "Client.Launch.Failed"), 1u);
        if (std::string(r.logged).compare(0, 8, "354 app:") == 0 && r.connectResult == 0) {
            EXPECT_EQ(g_fakeRoutes.connectCalls, 0) << "a port out of range is never dialled";
        }
        runTimers();
        EXPECT_EQ(so->launches.count, 0u);
        closeLeftFrames();
        toServer();
    }
}

// Once connected, a window launch shows and raises its frame; a multi-window
// launch leaves its frame hidden and shows the application's own frames.
TEST_F(Launches, ConnectedLaunchesRaiseWhatTheirKindShows) {
    struct Row {
        const char* placement;
        std::vector<std::string> events;
    } rows[] = {
        {"awtwindow", {"show frame", "raise frame"}},
        {"multiplewindows", {"show engine windows"}},
        {"seamlesswindows", {"show engine windows"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.placement);
        arrive(request("requestLaunch", launchParams(r.placement), "7"));
        ASSERT_NE(engine(), nullptr);
        so->events.clear();
        diDEReportState(engine(), DI_LAUNCH_CONNECTED, 0);
        EXPECT_EQ(so->events, r.events);
        so->CancelLaunch(launch());
        toServer();
    }
}

TEST_F(Launches, FinalStatesFromInsideTheEngineHandlerWaitForAZeroTimer) {
    struct Row {
        int32_t state;
        bool showOnError;
        bool frameKept;
    } rows[] = {{6, true, false}, {7, true, false}, {8, false, false}, {8, true, true}};
    g_fakeChannels.handler = reportingEngine;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.state);
        g_engineState = r.state;
        arrive(request("requestLaunch",
                       launchParams() +
                           str("mrkqvllaunchdetailsshowonerror", r.showOnError ? "true" : "false"),
                       "7"));
        ASSERT_NE(engine(), nullptr);
        DiChannel* ch = engine();
        deliver(ch, laipEnd(0)); // the login exchange ends: the engine reads now
        log.lines.clear();
        toServer();
        int freed = g_fakeUI.framesFreed;
        deliver(ch, "x");
        g_fakeNet.incoming.clear(); // the engine read nothing
        EXPECT_EQ(log.Count("386 "), 1u) << "the disconnect's second report is ignored";
        ASSERT_EQ(so->launches.count, 1u) << "not destroyed inside its own handler";
        EXPECT_EQ(count(toServer(), "applicationsEnded"), 0u);
        runTimers();
        EXPECT_EQ(so->launches.count, 0u);
        EXPECT_EQ(g_fakeUI.framesFreed - freed, r.frameKept ? 0 : 1);
        EXPECT_EQ(count(toServer(), "<ns1:applicationsEnded"), 1u);
        closeLeftFrames();
    }
}

TEST_F(Launches, SwitchStateByState) {
    struct Row {
        int32_t state;
        bool final;
        bool shown;     // ready: the frame is shown
        bool frameGone; // destroyed with the launch (state 0 only forgets it)
    } rows[] = {{1, false, false, false}, {4, false, false, false}, {5, false, true, false},
                {12, false, true, false}, {0, true, false, false},  {6, true, false, true},
                {7, true, false, true}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.state);
        arrive(request("requestLaunch", launchParams(), "7"));
        ASSERT_NE(launch(), nullptr);
        so->events.clear();
        int freed = g_fakeUI.framesFreed;
        launch()->SwitchState(r.state);
        EXPECT_EQ(!so->events.empty() && so->events[0] == "show frame", r.shown);
        if (r.final) {
            launch()->SwitchState(5);
            EXPECT_EQ(launch()->state, r.state) << "a final state stays";
        }
        runTimers();
        EXPECT_EQ(so->launches.count, r.final ? 0u : 1u);
        EXPECT_EQ(g_fakeUI.framesFreed - freed, r.frameGone ? 1 : 0);
        if (!r.final) so->CancelLaunch(launch());
        closeLeftFrames();
        toServer();
    }
}

// A launch whose frame goes by another path than its own end (a close, or
// a destruction from outside) leaves the list whatever its state: nothing
// else would show it, and it would count against the cap for good.
TEST_F(Launches, ALaunchWhoseFrameGoesLeavesTheListInAnyState) {
    for (int32_t state : {0, 1, 5, 9, 12}) {
        SCOPED_TRACE(state);
        arrive(request("requestLaunch", launchParams(), "7"));
        ASSERT_NE(launch(), nullptr);
        launch()->state = state;
        toServer();
        diUIDestroyFrame(launch()->frame);
        runTimers();
        EXPECT_EQ(so->launches.count, 0u);
        EXPECT_EQ(count(toServer(), "<ns1:applicationsEnded"), 1u);
    }
}

TEST_F(Launches, TheFrameShowsTheShortNameFromTheConnectOn) {
    const std::pair<const char*, bool> rows[] = {
        {"awtwindow", true}, {"kiosk", true}, {"multiplewindows", true}, {"localx", false}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.first);
        so->events.clear();
        arrive(request("requestLaunch", launchParams(r.first), "7"));
        ASSERT_NE(launch(), nullptr);
        EXPECT_EQ(launch()->state, DI_LAUNCH_STARTING);
        bool titled =
            std::find(so->events.begin(), so->events.end(), "title x") != so->events.end();
        EXPECT_EQ(titled, r.second);
        so->CancelLaunch(launch());
        closeLeftFrames();
        toServer();
    }
}

// The kind of a launch as the number of its label message (0: none).
uint32_t kindOf(const CLaunch* l) {
    if (dynamic_cast<const CKioskLaunch*>(l)) return 311;
    if (dynamic_cast<const CWindowLaunch*>(l)) return 301;
    if (dynamic_cast<const CMultiWindowLaunch*>(l)) return 302;
    if (dynamic_cast<const CLocalXLaunch*>(l)) return 303;
    if (dynamic_cast<const CBrowserLaunch*>(l)) return 300;
    if (dynamic_cast<const CLocalWindowsLaunch*>(l)) return 318;
    return 0;
}

TEST_F(Launches, CompletenessAndKindByPlacement) {
    CHelperConnection* hosts = new CHelperConnection(nullptr);
    hosts->kind = 0;
    CHelperConnection* none = new CHelperConnection(nullptr);
    none->kind = 2;
    struct Row {
        int32_t placement;
        CHelperConnection* helper;
        uint32_t window;
        bool session, local;
        bool complete;
        uint32_t label; // 0: no launch
    } rows[] = {
        {0, nullptr, 0, true, false, false, 0},  {1, nullptr, 0, true, false, false, 0},
        {1, hosts, 0, true, false, false, 300},  {1, hosts, 77, true, false, true, 300},
        {1, none, 0, true, false, true, 301}, // a helper without in-place: a window
        {2, nullptr, 0, true, false, true, 301}, {2, nullptr, 0, false, false, false, 301},
        {3, nullptr, 0, true, false, true, 302}, {7, nullptr, 0, true, false, true, 302},
        {4, nullptr, 0, true, false, true, 311}, {5, nullptr, 0, true, false, true, 303},
        {6, nullptr, 0, false, true, true, 318}, {6, nullptr, 0, false, false, false, 318},
        {9, nullptr, 0, true, false, true, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.placement) + " " + std::to_string(r.window));
        CLaunchRequest q;
        q.params.placement = r.placement;
        q.SetHelper(r.helper, r.window);
        if (r.session) {
            q.params.sessionId = qvlStrDup(u"s");
            q.params.sessionCookie = qvlStrDup(u"c");
            q.params.externalDnsName = qvlStrDup(u"h");
            q.params.port = 1;
        }
        if (r.local) q.params.url = qvlStrDup(u"probe.exe");
        EXPECT_EQ(q.IsComplete(), r.complete);
        CLaunch* l = diLaunchCreate(&q);
        EXPECT_EQ(kindOf(l), r.label);
        if (l) {
            EXPECT_EQ(l->state, DI_LAUNCH_DISCONNECTED);
        }
        delete l;
    }
    diVAIPDelete(hosts);
    diVAIPDelete(none);
}

TEST_F(Launches, RunsHelperGetsDoLaunchAndItsGoingTakesTheLaunchAlong) {
    CHelperConnection* helper = new CHelperConnection(ddNetSocketCreate());
    helper->helperId = qvlStrDup(u"h1");
    helper->kind = 1; // runs in-place applications itself
    so->helpers.Append(helper, false);
    DdSocket* s = helper->channel->socket;
    deliver(helper->channel,
            request("helperLaunchReady", str("helperrequestid", "r1") + num("window", 0), "3"));
    ASSERT_EQ(so->launchRequests.count, 1u) << "waits for the server's parameters";
    arrive(request("requestLaunch", launchParams("mainbrowser"), "r1"));
    ASSERT_EQ(so->launches.count, 1u);
    EXPECT_TRUE(launch()->IsBrowser());
    std::string sent = g_fakeNet.sentBy[s];
    size_t order[] = {sent.find("<ns1:doLaunch"),       sent.find("transactionid"),
                      sent.find("mrkqvlsessionid"),     sent.find("mrkqvlsessionowner"),
                      sent.find("mrkqvlsessioncookie"), sent.find("mrkqvlsessionexternaldnsname"),
                      sent.find("mrkqvlsessionport"),   sent.find("mrkqvlsessionappname")};
    for (size_t i = 0; i < 8; i++)
        EXPECT_NE(order[i], std::string::npos) << i;
    EXPECT_TRUE(std::is_sorted(std::begin(order), std::end(order))) << sent;
    EXPECT_EQ(sent.find("peerdnsname"), std::string::npos) << "absent texts are left out";
    EXPECT_EQ(count(toServer(), "Client.Launch.Failed"), 0u);
    DiEvent ev = {};
    ev.w[0] = DI_EV_CLOSED;
    diUIDeliverEvent(&helper->channel->hdr, &ev);
    EXPECT_EQ(so->helpers.count, 0u);
    EXPECT_EQ(so->launches.count, 0u) << "no launch keeps pointing at a helper that went";
}

TEST_F(Launches, CancelRenamesOrTakesEverythingAway) {
    arrive(request("requestLaunch", launchParams(), "7"));
    arrive(request("cancelLaunch", str("sessionid", "s1") + str("newsessionid", "s2"), "8"));
    ASSERT_EQ(so->launches.count, 1u) << "renaming cancels nothing";
    EXPECT_EQ(narrow(launch()->params.sessionId), "s2");
    int freed = g_fakeUI.framesFreed;
    arrive(request("cancelLaunch", str("transactionid", "7"), "9"));
    EXPECT_EQ(so->launches.count, 0u);
    EXPECT_EQ(g_fakeUI.framesFreed - freed, 1) << "its frame and progress window go too";
    EXPECT_EQ(log.Count("376 7"), 1u);
    arrive(request("requestLaunch", str("mrkqvlapplicationplacement", "awtwindow"), "10"));
    ASSERT_EQ(so->launchRequests.count, 1u) << "incomplete";
    arrive(request("cancelLaunch", str("transactionid", "10"), "11"));
    EXPECT_EQ(so->launchRequests.count, 0u);
    arrive(request("cancelLaunch", str("transactionid", "nope"), "12"));
    EXPECT_EQ(log.Count("377 nope"), 1u);
}

// Requests that cannot start yet wait, each with its progress window, up to
// the cap; past it a new message id is refused with a fault and a log line
// and makes no window, while one already waiting still takes its parameters.
TEST_F(Launches, WaitingRequestsStopAtTheCapAndTheRestAreRefused) {
    const uint32_t cap = DI_SO_MAX_LAUNCH_REQUESTS;
    for (uint32_t i = 0; i < cap + 50; i++)
        arrive(request("requestLaunch",
                       str("mrkqvlapplicationplacement", "awtwindow") +
                           str("mrkqvlsessionappname", "cn=x"),
                       "m" + std::to_string(i)));
    std::string reply = toServer();
    EXPECT_EQ(so->launchRequests.count, cap);
    EXPECT_EQ(g_fakeUI.progressCreated, int(cap));
    EXPECT_EQ(count(reply, "<ns1:requestLaunchResponse"), size_t(cap));
    EXPECT_EQ(count(reply, "Too many launch requests waiting"), 50u);
    EXPECT_EQ(log.Count("452 cn=x too many"), 50u);
    arrive(request("requestLaunch", launchParams(), "m0"));
    EXPECT_EQ(so->launches.count, 1u);
    EXPECT_EQ(so->launchRequests.count, cap - 1);
}

// Complete requests become launches, each with a frame and a socket, only up
// to the cap of live launches; the rest are refused and hold nothing. A
// launch that ends gives its place to the next.
TEST_F(Launches, LiveLaunchesStopAtTheCapAndTheRestAreRefused) {
    const uint32_t cap = DI_SO_MAX_LAUNCHES, sent = 1000;
    int sockets = g_fakeNet.created - g_fakeNet.destroyed;
    for (uint32_t i = 0; i < sent; i++)
        arrive(request("requestLaunch", launchParams(), "m" + std::to_string(i)));
    std::string reply = toServer();
    EXPECT_EQ(so->launches.count, cap);
    EXPECT_EQ(frames(), size_t(cap));
    EXPECT_EQ(g_fakeNet.created - g_fakeNet.destroyed - sockets, int(cap));
    EXPECT_EQ(count(reply, "Too many launches running"), size_t(sent - cap));
    EXPECT_EQ(log.Count("452 cn=x too many launches running"), size_t(sent - cap));
    EXPECT_EQ(so->launchRequests.count, 0u);
    launch()->SwitchState(DI_LAUNCH_ENDED);
    runTimers();
    arrive(request("requestLaunch", launchParams(), "again"));
    EXPECT_EQ(count(toServer(), "Client.Launch.Failed"), 0u);
    EXPECT_EQ(so->launches.count, cap);
}

// A failed launch leaves its frame showing the error for its user to close;
// a server failing launch after launch leaves no more of them than it may
// have launches.
TEST_F(Launches, FailedLaunchesLeaveAtMostTheCapOfErrorFrames) {
    g_fakeRoutes.connectResult = -1;
    for (uint32_t i = 0; i < 3 * DI_SO_MAX_LAUNCHES; i++) {
        arrive(request("requestLaunch", launchParams(), "m" + std::to_string(i)));
        runTimers();
    }
    EXPECT_EQ(count(toServer(), "Client.Launch.Failed"), 3u * DI_SO_MAX_LAUNCHES);
    EXPECT_EQ(so->launches.count, 0u);
    EXPECT_EQ(frames(), size_t(DI_SO_MAX_LAUNCHES));
}

// A local program answers with its status only, then leaves the list as an
// ended (or failed) session: nothing follows a program once it runs. The
// last launch gone tells the server; one beside a running launch does not.
TEST_F(Launches, LocalProgramsAnswerWithTheirStatusAndLeaveTheList) {
    struct Row {
        std::string params;
        bool runs;
        bool besideAnother;
        const char* run;
        const char* status;
        const char* finalState; // the progress text's message number
    } rows[] = {
        {str("locallaunchcommand", "probe.exe") + str("locallauncharguments", "a b") +
             str("url", "other.exe"),
         true, false, "run probe.exe|a b|", "true", "> 12"},
        {str("url", "probe.exe x"), true, true, "run ||probe.exe x", "true", "> 12"},
        {str("url", "missing.exe"), false, false, "run ||missing.exe", "false", "> 19"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.run);
        if (r.besideAnother) arrive(request("requestLaunch", launchParams(), "20"));
        toServer();
        so->runs = r.runs;
        so->events.clear();
        log.lines.clear();
        arrive(request("requestLaunch",
                       str("mrkqvlapplicationplacement", "mrkqvltrylocalwindowsapplication") +
                           r.params,
                       "21"));
        std::string reply = toServer();
        EXPECT_EQ(count(reply, "<ns1:requestLaunchResponse"), 1u) << "only the launch's own answer";
        EXPECT_EQ(count(reply, "Message-Id: 21"), 1u);
        EXPECT_NE(reply.find(r.status), std::string::npos);
        ASSERT_FALSE(so->events.empty());
        EXPECT_EQ(so->events[0], r.run);
        EXPECT_EQ(log.Count("386 ", r.finalState), 1u);
        runTimers();
        EXPECT_EQ(so->launches.count, r.besideAnother ? 1u : 0u);
        EXPECT_EQ(count(toServer(), "<ns1:applicationsEnded"), r.besideAnother ? 0u : 1u);
        if (r.besideAnother) so->CancelLaunch(launch());
        toServer();
    }
}

// Scaling is offered for X engines of scalable launches only; the channel
// does not scale without a scaler.
TEST_F(Launches, ScalableXLaunchesGetAScaler) {
    struct Row {
        const char* objectClass;
        const char* scalable; // none: not sent
        bool scaler;
    } rows[] = {
        {"mrkqvlxapplication", "yes", true},
        {"mrkqvlxapplication", "no", false},
        {"mrkqvlxapplication", nullptr, false},
        {"mrkqvlcharacterapplication", "true", false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.objectClass) + " " + (r.scalable ? r.scalable : "-"));
        std::string params = launchParams();
        params.replace(params.find("mrkqvlxapplication"), 18, r.objectClass);
        if (r.scalable) params += str("mrkqvlscalable", r.scalable);
        so->events.clear();
        arrive(request("requestLaunch", params, "7"));
        ASSERT_NE(engine(), nullptr);
        EXPECT_EQ(std::count(so->events.begin(), so->events.end(), "scaler"), r.scaler ? 1 : 0);
        EXPECT_EQ(engine()->hdr.scalingAllowed, r.scaler ? 1u : 0u);
        so->CancelLaunch(launch());
        toServer();
    }
}

// The box that says the original exchange timed out may end the session
// in its message loop: the end waits until both launches are done with.
TEST_F(Launches, AgedPasswordSessionResumesTheLaunchItStoodFor) {
    so->duringBox = [] { EXPECT_EQ(diSODestroy(), 0); };
    arrive(request("requestLaunch", launchParams(), "7"));
    CLaunch* original = launch();
    DiLAIPDialog d = {};
    original->SetPendingDialog(&d);
    deliver(original->GetEngineChannel(), laipEnd(0)); // its exchange is over
    arrive(request("requestLaunch", launchParams() + str("transactionid", "7"), "8"));
    ASSERT_EQ(so->launches.count, 2u);
    CLaunch* stand = so->launches.tail->item;
    stand->SwitchState(DI_LAUNCH_ENDED);
    runTimers();
    EXPECT_EQ(log.Count("385"), 1u);
    ASSERT_FALSE(so->events.empty());
    EXPECT_EQ(so->events.back(), "held end");
    EXPECT_EQ(so->events.end()[-2], "warning 316") << "the original exchange timed out";
    EXPECT_EQ(original->pendingDialog, nullptr);
    EXPECT_EQ(so->launches.count, 1u);
}

// A launch cancelled under a box or dialog of its own method (the box that
// resumes its login, its certificate question) is freed once that returned.
TEST_F(Launches, LaunchCancelledUnderItsOwnBoxIsFreedAfterIt) {
    arrive(request("requestLaunch", launchParams(), "7"));
    DiLAIPDialog d = {};
    launch()->SetPendingDialog(&d);
    deliver(engine(), laipEnd(0));
    arrive(request("requestLaunch", launchParams() + str("transactionid", "7"), "8"));
    so->duringBox = [this] { arrive(request("cancelLaunch", str("transactionid", "7"), "9")); };
    so->launches.tail->item->SwitchState(DI_LAUNCH_ENDED);
    runTimers();
    EXPECT_EQ(so->events.back(), "warning 316");
    EXPECT_EQ(so->launches.count, 0u);
    g_fakeRoutes.tlsFails = false;
    g_fakeRoutes.whileTlsAsks = [this] { so->CancelLaunch(launch()); };
    arrive(request("requestLaunch", launchParams() + str("mrkqvlsessionsecurity", "ssl"), "10"));
    EXPECT_EQ(g_fakeRoutes.tlsStarts, 1);
    EXPECT_EQ(so->launches.count, 0u);
}

std::vector<std::string> g_details;
void captureDetails(const DiChar* text) {
    g_details.push_back(narrow(text));
}

// A launch its engine reports failed: 452 with the text (453 without), the
// text in the progress details, a dialog still waiting shown at once, and
// state 8 in the progress window and the launch.
TEST_F(Launches, FailureReportedByTheEngine) {
    struct Row {
        const char16_t* text;
        const char* logged;
        bool dialogPending;
    } rows[] = {
        {u"bad password", "452 cn=x bad password", false},
        {u"", "453", false},
        {nullptr, "453", true},
    };
    void (*savedDetails)(const DiChar*) = g_fakeProgDetails;
    g_fakeProgDetails = captureDetails;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.logged);
        std::string params = launchParams();
        if (r.dialogPending) params += num("mrkqvlshowlaunchdialogafter", 30);
        arrive(request("requestLaunch", params, "7"));
        ASSERT_NE(engine(), nullptr);
        EXPECT_EQ(so->launchDialogTimer != nullptr, r.dialogPending);
        so->events.clear();
        g_fakeUI.states.clear();
        g_details.clear();
        log.lines.clear();
        diSOLaunchFailed(engine(), 5, r.text);
        EXPECT_EQ(log.Count(r.logged), 1u);
        EXPECT_EQ(launch()->state, DI_LAUNCH_FAILED);
        EXPECT_EQ(std::count(g_fakeUI.states.begin(), g_fakeUI.states.end(), 8), 1);
        EXPECT_EQ(g_details.size(), r.text && r.text[0] ? 1u : 0u);
        EXPECT_EQ(so->launchDialogTimer, nullptr);
        EXPECT_EQ(std::count(so->events.begin(), so->events.end(), "show progress"),
                  r.dialogPending ? 1 : 0);
        runTimers();
        EXPECT_EQ(so->launches.count, 0u);
        closeLeftFrames();
        toServer();
    }
    g_fakeProgDetails = savedDetails;
}

// A helper that runs the application asks for the aged-password handler: the
// server gets doLaunchResponse under the launch's id; when the stand-in
// session ends, the helper gets its answer under its own request's id.
TEST_F(Launches, AgedPasswordOfAHelperThatRunsTheApplication) {
    CHelperConnection* helper = new CHelperConnection(ddNetSocketCreate());
    helper->kind = 1;
    so->helpers.Append(helper, false);
    CHelperConnection* other = new CHelperConnection(ddNetSocketCreate());
    other->kind = 1;
    so->helpers.Append(other, false);
    deliver(helper->channel,
            request("helperLaunchReady", str("helperrequestid", "r1") + num("window", 0), "3"));
    arrive(request("requestLaunch", launchParams("mainbrowser"), "r1"));
    ASSERT_EQ(so->launches.count, 1u);
    toServer();
    deliver(other->channel, request("helperAgedPassword", str("text", "x"), "50"));
    EXPECT_EQ(log.Count("451"), 1u) << "no launch of that helper";
    EXPECT_EQ(toServer(), "");
    deliver(helper->channel, request("helperAgedPassword", str("text", "x"), "51"));
    std::string reply = toServer();
    EXPECT_EQ(count(reply, "<ns1:doLaunchResponse"), 1u);
    EXPECT_EQ(count(reply, "Message-Id: r1"), 1u);
    EXPECT_EQ(count(reply, "&gt;r1&lt;/transactionid&gt;"), 1u) << reply;
    g_fakeNet.sentBy[helper->channel->socket].clear();
    arrive(request("requestLaunch", launchParams() + str("transactionid", "r1"), "52"));
    ASSERT_EQ(so->launches.count, 2u);
    so->launches.tail->item->SwitchState(DI_LAUNCH_ENDED);
    runTimers();
    std::string toHelper = g_fakeNet.sentBy[helper->channel->socket];
    EXPECT_EQ(count(toHelper, "<ns1:helperAgedPasswordResponse"), 1u) << toHelper;
    EXPECT_EQ(count(toHelper, "Message-Id: 51"), 1u);
}

// The server hears of the last launch's end only in a live session that
// asked to be told.
TEST_F(Launches, ApplicationsEndedOnlyForTheLastLaunchOfALiveSession) {
    struct Row {
        int launches;
        bool ending, notify;
        size_t sent;
    } rows[] = {{1, false, true, 1}, {2, false, true, 1}, {1, true, true, 0}, {1, false, false, 0}};
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.launches) + (r.ending ? " ending" : "") +
                     (r.notify ? "" : " not told"));
        so->ending = r.ending;
        so->notifyApplicationsEnded = r.notify;
        for (int i = 0; i < r.launches; i++)
            arrive(request("requestLaunch", launchParams(), std::to_string(70 + i)));
        ASSERT_EQ(so->launches.count, uint32_t(r.launches));
        toServer();
        while (launch())
            so->CancelLaunch(launch());
        EXPECT_EQ(count(toServer(), "<ns1:applicationsEnded"), r.sent);
    }
}

// A request for an engine's window shows its launch dialog while it waits:
// at once, or when the dialog timer fires; none for a browser, a local
// program, no placement, or with "-noprogress".
TEST_F(Launches, WaitingRequestsShowTheirLaunchDialog) {
    struct Row {
        const char* placement; // none: not sent
        long after;
        bool noProgress;
        bool made, shownAtOnce;
    } rows[] = {
        {"awtwindow", 0, false, true, true},
        {"kiosk", 5, false, true, false},
        {"mainbrowser", 0, false, false, false},
        {"mrkqvltrylocalwindowsapplication", 0, false, false, false},
        {nullptr, 0, false, false, false},
        {"awtwindow", 0, true, false, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.placement ? r.placement : "-") + " " + std::to_string(r.after));
        g_fakeUI.noProgress = r.noProgress;
        int made = g_fakeUI.progressCreated, gone = g_fakeUI.progressDestroyed;
        so->events.clear();
        g_fakeUI.states.clear();
        // No session yet: the request waits.
        std::string params = r.placement ? str("mrkqvlapplicationplacement", r.placement) : "";
        arrive(request("requestLaunch", params + num("mrkqvlshowlaunchdialogafter", r.after), "7"));
        ASSERT_EQ(so->launchRequests.count, 1u);
        CLaunchRequest* q = so->launchRequests.head->item;
        EXPECT_EQ(g_fakeUI.progressCreated - made, r.made ? 1 : 0);
        EXPECT_EQ(q->progressWindow != nullptr, r.made);
        auto shown = [&] {
            return std::count(so->events.begin(), so->events.end(), "show progress");
        };
        EXPECT_EQ(shown(), r.shownAtOnce ? 1 : 0);
        runTimers(uint32_t(r.after) * 1000);
        EXPECT_EQ(shown(), r.made ? 1 : 0) << "shown by the dialog timer";
        EXPECT_EQ(std::count(g_fakeUI.states.begin(), g_fakeUI.states.end(), 13), r.made ? 1 : 0);
        arrive(request("cancelLaunch", str("transactionid", "7"), "8"));
        EXPECT_EQ(g_fakeUI.progressDestroyed - gone, r.made ? 1 : 0) << "goes with the request";
        g_fakeUI.noProgress = false;
    }
}

// The launch takes the request's dialog as its frame's progress window, and
// releases it when it cannot (the frame made its own, or never came); a
// dialog timer still pending shows it once the request became the launch.
TEST_F(Launches, TheLaunchTakesTheRequestsDialog) {
    struct Row {
        const char* name;
        bool frameMakesItsOwn;
        std::string objectClass;
        long after; // the dialog timer, which follows the request to its launch
        bool taken;
    } rows[] = {
        {"taken", false, str("objectclass", "mrkqvlxapplication"), 0, true},
        {"taken, shown later", false, str("objectclass", "mrkqvlxapplication"), 5, true},
        {"the frame made its own", true, str("objectclass", "mrkqvlxapplication"), 0, false},
        {"no object class: no frame", false, "", 0, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        arrive(request("requestLaunch",
                       str("mrkqvlapplicationplacement", "awtwindow") +
                           num("mrkqvlshowlaunchdialogafter", r.after) +
                           str("mrkqvllaunchdetailsinitialstate", "hidden") +
                           str("mrkqvllaunchdetailsshowonerror", "true"),
                       "7"));
        ASSERT_EQ(so->launchRequests.count, 1u);
        DiObject* dialog = so->launchRequests.head->item->progressWindow;
        ASSERT_NE(dialog, nullptr);
        int gone = g_fakeUI.progressDestroyed;
        g_fakeUI.noProgress = !r.frameMakesItsOwn; // as the start sets "-noprogress"
        std::string session = str("mrkqvlsessionid", "s1") + str("mrkqvlsessioncookie", "c1") +
                              str("mrkqvlsessionexternaldnsname", "app") +
                              num("mrkqvlsessionport", 5000) +
                              str("mrkqvlapplicationplacement", "awtwindow");
        arrive(
            request("doLaunch", session + r.objectClass + str("requesttransactionid", "7"), "9"));
        g_fakeUI.noProgress = false;
        ASSERT_EQ(so->launches.count, 1u);
        DiDEManager* m = launch()->GetEngineManager();
        EXPECT_EQ(m && m->progress == dialog, r.taken);
        if (r.taken) {
            EXPECT_EQ(dialog->parent, &m->hdr);
        }
        EXPECT_EQ(g_fakeUI.progressDestroyed - gone, r.taken ? 0 : 1);
        if (r.after) {
            // Shown as the launch's: starting, details as the request asked.
            so->events.clear();
            g_fakeUI.states.clear();
            g_fakeUI.detailsShown = g_fakeUI.detailsEnabled = -1;
            g_fakeUI.autoDetails = 2;
            runTimers(uint32_t(r.after) * 1000);
            EXPECT_EQ(std::count(so->events.begin(), so->events.end(), "show progress"), 1);
            EXPECT_EQ(g_fakeUI.states, std::vector<int32_t>{1});
            EXPECT_EQ(g_fakeUI.detailsShown, 0);
            EXPECT_EQ(g_fakeUI.detailsEnabled, 1);
            EXPECT_EQ(g_fakeUI.autoDetails, 1u);
        }
        so->CancelLaunch(launch());
        closeLeftFrames();
        toServer();
    }
}

TEST_F(Launches, DialogTimerSecondsAreCappedNotWrapped) {
    // 4295 s would wrap a 32-bit millisecond count to about 32 ms.
    arrive(request("requestLaunch",
                   str("mrkqvlapplicationplacement", "awtwindow") +
                       num("mrkqvlshowlaunchdialogafter", 4295),
                   "7"));
    ASSERT_NE(so->launchDialogTimer, nullptr);
    EXPECT_EQ(so->launchDialogTimer->due - clockNow(), 4295000u);
    arrive(request("requestLaunch",
                   str("mrkqvlapplicationplacement", "awtwindow") +
                       num("mrkqvlshowlaunchdialogafter", 2147484),
                   "8"));
    EXPECT_EQ(so->launchDialogTimer->due - clockNow(), 0x7fffffffu);
    runTimers(100000);
    EXPECT_NE(so->launchDialogTimer, nullptr) << "still pending";
    so->CancelLaunchDialogTimer();
}

} // namespace
