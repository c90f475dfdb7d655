/* The server's requests about launches, helpers, devices, documents and the
 * profile, the launch bookkeeping of the outpost, the launch-dialog timer,
 * the webserver events kept for helpers, and the flat launch services that
 * engines and the login-dialog exchange reach (see core/disohooks.h). */
#include "core/diapp.h"
#include "core/dide.h"
#include "core/dilog.h"
#include "core/disohooks.h"
#include "core/ditimer.h"
#include "core/diutil.h"
#include "devices/dicdm.h"
#include "devices/didevice.h"
#include "devices/diiochan.h"
#include "net/dihttp.h"
#include "net/dilaip.h"
#include "session/disoaccess.h"
#include "xml/qvlxmlglobals.h"
#include "net/dinet.h"
#include "net/diroute.h"
#include "session/dilaunch.h"
#include "session/diintclient.h"
#include "session/diprofile.h"
#include "session/diso.h"
#include "devices/diprintq.h"
#include "session/diurlparam.h"
#include "session/divaip.h"
#include "ui/diprog.h"
#include "ui/diui.h"

#include <stdlib.h>
#include <string.h>
#include <string>

CPrintJobQueue* (*g_diSOMakePrintQueue)(void);

static const DiChar* orEmpty(const DiChar* s) {
    return s ? s : u"";
}

static void setText(DiChar** slot, const DiChar* text) {
    DiChar* copy = text ? qvlStrDup(text) : nullptr;
    free(*slot);
    *slot = copy;
}

static bool nonEmpty(const DiChar* s) {
    return s && s[0];
}

/* Sends an empty reply of that method and element to the message id. */
static void replyEmpty(CServerOutpost* so, const DiChar* method, const DiChar* element,
                       const DiChar* messageId) {
    CQVLSOAPResponse* r = CServerOutpost::MakeResponse(method, element);
    if (r) so->Send(r, messageId);
    delete r;
}

/* ---- launch bookkeeping ---- */

void CServerOutpost::AddLaunch(CLaunch* launch) {
    launches.Append(launch, true);
}

void CServerOutpost::RemoveLaunch(CLaunch* launch) {
    uint32_t before = launches.count;
    if (!launches.Remove(launch, false)) return;
    if (launch->boxesUp)
        launch->removalHeld = true; /* its box is up: freed when that returned */
    else
        delete launch;
    if (before == 1 && launches.count == 0 && !ending && notifyApplicationsEnded) {
        CQVLSOAPRequest* r = MakeRequest(u"ns1:applicationsEnded");
        if (r) Send(r, nullptr);
        delete r;
    }
    LogStatus();
}

CLaunch* CServerOutpost::FindLaunchById(const DiChar* launchId) {
    for (auto* n = launches.head; n; n = n->next)
        if (n->item->MatchesId(launchId)) return n->item;
    return nullptr;
}

CLaunch* CServerOutpost::FindLaunchByEngine(DiObject* obj) {
    if (!obj) return nullptr;
    for (auto* n = launches.head; n; n = n->next) {
        CLaunch* l = n->item;
        if (!l->frame) continue;
        if (obj == &l->frame->hdr || obj == reinterpret_cast<DiObject*>(l->GetEngineManager()) ||
            obj == reinterpret_cast<DiObject*>(l->GetEngineChannel()))
            return l;
    }
    return nullptr;
}

CLaunch* CServerOutpost::FindLaunchByTransaction(const DiChar* transactionId,
                                                 const DiChar* sessionId) {
    for (auto* n = launches.head; n; n = n->next)
        if (n->item->MatchesTransaction(transactionId, sessionId)) return n->item;
    return nullptr;
}

CLaunch* CServerOutpost::FindLaunchByHelper(CHelperConnection* helper) {
    for (auto* n = launches.head; n; n = n->next)
        if (n->item->GetHelper() == helper) return n->item;
    return nullptr;
}

CLaunchRequest* CServerOutpost::FindLaunchRequestById(const DiChar* requestId) {
    for (auto* n = launchRequests.head; n; n = n->next)
        if (n->item->MatchesId(requestId)) return n->item;
    return nullptr;
}

CLaunchRequest* CServerOutpost::FindLaunchRequestByTransaction(const DiChar* transactionId,
                                                               const DiChar* sessionId) {
    for (auto* n = launchRequests.head; n; n = n->next)
        if (n->item->MatchesTransaction(transactionId, sessionId)) return n->item;
    return nullptr;
}

void CServerOutpost::RemoveLaunchRequest(CLaunchRequest* request) {
    launchRequests.Remove(request, true);
}

void CServerOutpost::CompleteLaunchRequest(CLaunchRequest* request, const DiChar* messageId) {
    if (!request || !request->IsComplete()) return;
    if (launches.count >= DI_SO_MAX_LAUNCHES) {
        diLogErrorArgs(452, {orEmpty(request->params.appName), u"too many launches running"});
        RemoveLaunchRequest(request);
        SendFault(u"Client.Launch.Failed", u"Too many launches running", messageId);
        return;
    }
    CLaunch* launch = diLaunchCreate(request);
    bool secure = request->params.secure != 0;
    DiObject* progress = launch ? request->TakeProgressWindow() : nullptr;
    RemoveLaunchRequest(request);
    bool started = false;
    if (launch) {
        AddLaunch(launch);
        /* Its certificate questions may cancel it or end the session. */
        BoxScope hold(this, launch);
        started = launch->Start(secure, progress);
        /* A launch that could not start and took no final state itself is
         * failed, so that it leaves the list like any other. */
        if (!started && !launch->finishing) launch->SwitchState(DI_LAUNCH_FAILED);
    }
    if (!started) SendFault(u"Client.Launch.Failed", u"Launch failed", messageId);
}

void CServerOutpost::CancelLaunch(CLaunch* launch) {
    /* Everything the launch shows goes with it, as at the end of a session:
     * a frame or progress window left behind would be dead. */
    launch->finishing = true;
    if (launch->removeTimer) diTimerRemove(launch->removeTimer);
    launch->removeTimer = nullptr;
    launch->DestroyFrame();
    RemoveLaunch(launch);
}

void CServerOutpost::ForgetHelper(CHelperConnection* helper) {
    while (CLaunch* launch = FindLaunchByHelper(helper))
        CancelLaunch(launch);
    for (auto* n = launchRequests.head; n;) {
        CLaunchRequest* r = n->item;
        n = n->next;
        if (r->helper == helper) RemoveLaunchRequest(r);
    }
}

void CServerOutpost::LaunchFailed(CLaunch* launch, int32_t code, const DiChar* text) {
    if (!launch) return;
    const DiChar* name = orEmpty(launch->params.appName);
    if (nonEmpty(text))
        diLogErrorArgs(452, {name, text});
    else
        diLogErrorArgs(453, {name});
    DiDEManager* m = launch->GetEngineManager();
    DiObject* progress = m ? m->progress : nullptr;
    if (progress && nonEmpty(text)) diProgAppendDetails(progress, int32_t(qvlStrLen(text)), text);
    if (launchDialogTimer) {
        CancelLaunchDialogTimer();
        if (progress) ShowObject(progress);
    }
    if (progress) diProgSetState(progress, DI_PROG_FAILED_STATE, code);
    launch->SwitchState(DI_LAUNCH_FAILED);
}

void CServerOutpost::SendDoLaunchResponse(CLaunch* launch) {
    /* The application server's own name when the server gave it, else the
     * name the launch connected to. */
    const DiChar* host = launch->params.launchHostName ? launch->params.launchHostName
                                                       : launch->params.externalDnsName;
    diLogInfoArgs(375, {orEmpty(host)});
    CQVLSOAPResponse* r = MakeResponse(u"ns1:doLaunchResponse", u"qvl:doLaunch");
    if (!r) return;
    CQVLSOAPParameter aged(u"agedpassword", orEmpty(host));
    r->AddReturnParameter(&aged);
    CQVLSOAPParameter transaction(u"transactionid", orEmpty(launch->EffectiveId()));
    r->AddReturnParameter(&transaction);
    if (const DiChar* user = launch->GetPendingUserName()) {
        CQVLSOAPParameter name(u"username", user);
        r->AddReturnParameter(&name);
    }
    Send(r, launch->EffectiveId());
    delete r;
}

/* ---- the launch-dialog timer ---- */

static uint32_t launchDialogFired(void*) {
    if (g_diOutpost) {
        g_diOutpost->launchDialogTimer = nullptr; /* the record goes with the 0 */
        g_diOutpost->LaunchDialogTimerFired();
    }
    return 0;
}

void CServerOutpost::ArmLaunchDialogTimer(CLaunchRequest* request) {
    int32_t after = request->params.showLaunchDialogAfter;
    /* Below 1 the dialog shows at once: the progress window the launch's
     * frame makes is shown as it is made. */
    if (after < 1) return;
    CancelLaunchDialogTimer();
    setText(&launchDialogId, request->EffectiveId());
    launchDialogTimer = diTimerAdd(diSOSecondsToMs(after), launchDialogFired, nullptr);
}

void CServerOutpost::CancelLaunchDialogTimer() {
    if (launchDialogTimer) diTimerRemove(launchDialogTimer);
    launchDialogTimer = nullptr;
    setText(&launchDialogId, nullptr);
}

void CServerOutpost::LaunchDialogTimerFired() {
    std::u16string requestId = orEmpty(launchDialogId);
    setText(&launchDialogId, nullptr);
    if (CLaunchRequest* r = FindLaunchRequestById(requestId.c_str())) {
        if (r->params.placement != 1) r->ShowProgressWindow();
        return;
    }
    /* The request became a launch meanwhile: its dialog, now the frame's
     * progress window, is shown as the launch's. */
    CLaunch* launch = FindLaunchById(requestId.c_str());
    if (launch && launch->params.placement != 1) launch->ShowProgress(true);
}

/* ---- webserver events for helpers not yet connected ---- */

enum { kEventRoom = 16 };

static void freeEvent(DiSOWebserverEvent* e) {
    free(e->url);
    free(e->frame);
    free(e->helperId);
    *e = DiSOWebserverEvent();
}

bool CServerOutpost::KeepWebserverEvent(const DiChar* url, const DiChar* frame,
                                        const DiChar* helperId) {
    if (!pendingEvents) {
        pendingEvents = new (std::nothrow) DiSOWebserverEvent[kEventRoom];
        if (!pendingEvents) return false;
    }
    if (pendingEventCount == kEventRoom) {
        DiSOWebserverEvent* old = &pendingEvents[0];
        diLogWarningArgs(304, {orEmpty(old->helperId), orEmpty(old->url), orEmpty(old->frame)});
        freeEvent(old);
        memmove(pendingEvents, pendingEvents + 1, (kEventRoom - 1) * sizeof *pendingEvents);
        pendingEvents[kEventRoom - 1] = DiSOWebserverEvent();
        pendingEventCount--;
    }
    DiSOWebserverEvent& e = pendingEvents[pendingEventCount++];
    e.url = url ? qvlStrDup(url) : nullptr;
    e.frame = frame ? qvlStrDup(frame) : nullptr;
    e.helperId = helperId ? qvlStrDup(helperId) : nullptr;
    return true;
}

bool CServerOutpost::DeliverWebserverEvents(CHelperConnection* helper) {
    bool sent = false;
    for (int32_t i = 0; i < pendingEventCount;) {
        DiSOWebserverEvent& e = pendingEvents[i];
        if (!helper->HasId(e.helperId)) {
            i++;
            continue;
        }
        CQVLSOAPRequest* r = MakeRequest(u"ns1:webserver");
        if (r) {
            r->AddParameter(u"url", orEmpty(e.url));
            r->AddParameter(u"frame", orEmpty(e.frame));
            sent = helper->Send(r, nullptr) || sent;
            delete r;
        }
        freeEvent(&e);
        memmove(&pendingEvents[i], &pendingEvents[i + 1],
                size_t(pendingEventCount - i - 1) * sizeof *pendingEvents);
        pendingEvents[--pendingEventCount] = DiSOWebserverEvent();
    }
    return sent;
}

/* ---- device channels ---- */

void CServerOutpost::StartDeviceChannels() {
    if (deviceChannelsStarted) return;
    deviceChannelsStarted = 1;
    if (!printJobs && g_diSOMakePrintQueue) printJobs = g_diSOMakePrintQueue();
    struct {
        DiChannel** slot;
        uint32_t type;
        uint32_t warning;
    } channels[] = {{&driveChannel, DI_OBJ_CDM, 350},
                    {&audioChannel, DI_OBJ_AUDIO, 484},
                    {&deviceListChannel, DI_OBJ_DEVLIST, 487}};
    for (auto& c : channels) {
        if (*c.slot) continue;
        *c.slot = diDECreateChannel(nullptr, c.type, 0, 0);
        if (!*c.slot) diLogWarning(c.warning);
    }
}

/* A device connection: the outpost's channel for a device carried to the
 * server's protocol engine. The channel stays the outpost's: it outlives
 * this object and is destroyed only when the session stops. */
namespace {
struct ServiceConnection {
    DiLaunchParams params;
    DiChannel* channel = nullptr;
    /* The request's webtop session name and common name: with the owner,
     * the texts the drive, audio and device channels answer the server
     * with (the drive list carries them). */
    const DiChar* sessionName = nullptr;
    const DiChar* commonName = nullptr;

    void CopySessionTexts() {
        uint32_t type = channel->hdr.type;
        if (type != DI_OBJ_CDM && type != DI_OBJ_AUDIO && type != DI_OBJ_DEVLIST) return;
        DiIOChannel* io = reinterpret_cast<DiIOChannel*>(channel);
        const DiChar* texts[3] = {sessionName, params.owner, commonName};
        for (int i = 0; i < 3; i++)
            setText(&io->texts[i], texts[i]);
    }

    bool Start(bool secure) {
        if (!channel || !channel->socket) return false;
        /* A channel still connected from an earlier request learns the end
         * of that connection as its own close first: what the server set up
         * over it ends with it, and its socket is not left open behind the
         * new one (device and print channels alike). */
        if (channel->socket->handle != DD_NET_NO_HANDLE) {
            ddNetSocketClose(channel->socket);
            DiEvent ev = {};
            ev.w[0] = DI_EV_CLOSED;
            diUIDeliverEvent(&channel->hdr, &ev);
        }
        const DiChar* host = orEmpty(params.externalDnsName);
        if (!diSOPortInRange(params.port)) {
            diLogErrorArgs(354, {host, int(params.port)});
            return false;
        }
        uint32_t flags = DI_NET_BASE_ROUTES | (secure ? DI_NET_TARGET_TLS : 0u);
        int r = -1;
        if (ddNetSocketOpen(channel->socket, 1, 1) == 0)
            r = diNetConnect(channel->socket, host, uint16_t(params.port), flags);
        if (r != 0 && r != -9) {
            diLogErrorArgs(354, {host, int(params.port)});
            return false;
        }
        if (r == 0 && secure && ddNetStartTlsClient(channel->socket, 1, host) < 0) {
            diLogErrorArgs(388, {host, int(params.port)});
            return false;
        }
        diIOBufferFree(&channel->in);
        diIOBufferFree(&channel->out);
        CopySessionTexts();
        uint8_t block[64];
        bool ok =
            diLaunchCookieBlock(params.sessionCookie, block) &&
            diLAIPSendRequest(channel, 0, 2, orEmpty(params.sessionId), 0, orEmpty(params.owner),
                              block, host, orEmpty(params.peerDnsName)) >= 0;
        memset(block, 0, sizeof block);
        if (!ok) return false;
        ddNetSelectEvents(channel->socket, DD_NET_READ | DD_NET_WRITE | DD_NET_CLOSE,
                          DD_NET_READ | DD_NET_WRITE | DD_NET_CLOSE);
        return true;
    }
};

struct DeviceRequest {
    uint32_t started, failed;
    const DiChar* faultCode;
    const DiChar* faultText;
};
} // namespace

static void startDevice(CServerOutpost* so, CQVLSOAPRequest* request, const DiChar* messageId,
                        DiChannel* channel, const DeviceRequest& d) {
    ServiceConnection service;
    service.params.Parse(request);
    service.channel = channel;
    service.sessionName = request->GetStringParameter(u"mrkqvlwebtopsessionname");
    service.commonName = request->GetStringParameter(u"cn");
    if (service.Start(service.params.secure != 0)) {
        diLogInfo(d.started);
        return;
    }
    diLogError(d.failed);
    so->SendFault(d.faultCode, d.faultText, messageId);
}

void CServerOutpost::OnDoCdm(CQVLSOAPRequest* request, const DiChar* messageId) {
    startDevice(this, request, messageId, driveChannel,
                {368, 369, u"Client.CDM.Failed", u"Cannot start CDM"});
}

void CServerOutpost::OnDoAudio(CQVLSOAPRequest* request, const DiChar* messageId) {
    startDevice(this, request, messageId, audioChannel,
                {485, 486, u"Client.ADM.Failed", u"Cannot start ADM"});
}

void CServerOutpost::OnDoSCard(CQVLSOAPRequest* request, const DiChar* messageId) {
    /* Smart-card requests speak the first device-request level, the IO
     * requests the second; the level decides how requests are read. */
    diIAIPSetLevel(1);
    startDevice(this, request, messageId, deviceListChannel,
                {488, 489, u"Client.SDM.Failed", u"Cannot start SDM"});
}

void CServerOutpost::OnDoIO(CQVLSOAPRequest* request, const DiChar* messageId) {
    diIAIPSetLevel(2);
    startDevice(this, request, messageId, deviceListChannel,
                {488, 489, u"Client.IO.Failed", u"Cannot start IODM"});
}

void CServerOutpost::OnDoprint(CQVLSOAPRequest* request, const DiChar*) {
    /* Printing starts only with a print queue, which owns its channel; the
     * outpost's own security applies. A failure is not answered: the job
     * waiting for this connection is given up and the next one starts. */
    if (!printJobs) return;
    ServiceConnection service;
    service.params.Parse(request);
    service.channel = diSOGetPrintChannel();
    /* The job's bound runs from the set-up's end: a certificate warning
     * answered after a minute does not give it up. */
    uint32_t job = printJobs->ConnectionStarting();
    bool started = service.Start(secure != 0);
    if (started)
        diLogInfo(382);
    else
        diLogError(383);
    /* The warnings run the message loop, in which the session may end. */
    if (!printJobs) return;
    if (started)
        printJobs->ConnectionStarted(job);
    else
        printJobs->ConnectionFailed(job);
}

void CServerOutpost::OnPrint(CQVLSOAPRequest* request, const DiChar* messageId) {
    const DiChar* job = RequireString(request, u"jobname", messageId);
    /* Jobs are queued by the print queue, which answers them itself. */
    if (!job || !printJobs) return;
    printJobs->AddJob(job, messageId);
}

void CServerOutpost::OnStartCdm(CQVLSOAPRequest*, const DiChar* messageId) {
    /* The drive list comes with the drive-mapping channel; without it the
     * answer holds no drive. */
    CQVLSOAPResponse* r = MakeResponse(u"ns1:startCdmResponse", u"qvl:startCdm");
    if (!r) return;
    const DiCDMDrive* drives = nullptr;
    uint32_t n = driveChannel && g_diSODeviceHooks.listDrives
                     ? g_diSODeviceHooks.listDrives(driveChannel, &drives)
                     : 0;
    for (uint32_t i = 0; i < n; i++) {
        CQVLXMLEmptyTag* drive = new (std::nothrow) CQVLXMLEmptyTag("drive");
        if (!drive) break;
        DiChar kind[4] = {DiChar(u'0' + drives[i].kind % 10), 0};
        drive->AddAttribute(u"letter", drives[i].root);
        drive->AddAttribute(u"type", kind);
        r->AddReturnChild(drive, true);
    }
    Send(r, messageId);
    delete r;
}

/* ---- launches ---- */

/* The request with the message id, updated from the packet, or a new one
 * appended (its dialog timer armed unless it shows in the browser); none,
 * with a fault answered, when DI_SO_MAX_LAUNCH_REQUESTS already wait. */
static CLaunchRequest* requestFor(CServerOutpost* so, CQVLSOAPRequest* packet,
                                  const DiChar* messageId) {
    CLaunchRequest* r = so->FindLaunchRequestById(messageId);
    if (r) {
        DiLaunchParams update(packet);
        r->params.Merge(update);
        return r;
    }
    if (so->launchRequests.count >= DI_SO_MAX_LAUNCH_REQUESTS) {
        const DiChar* name = packet->GetStringParameter(u"mrkqvlsessionappname");
        diLogErrorArgs(452, {orEmpty(name), u"too many launch requests waiting"});
        so->SendFault(u"Client.Launch.Failed", u"Too many launch requests waiting", messageId);
        return nullptr;
    }
    r = new (std::nothrow) CLaunchRequest();
    if (!r) return nullptr;
    r->params.Parse(packet);
    r->SetId(messageId);
    /* Requests for an engine's window show their launch dialog while they
     * wait, at once or when the dialog timer fires; a browser's or a local
     * program's request never has one, nor one of no known placement. */
    int32_t placement = r->params.placement;
    if (placement != 0 && placement != 1 && placement != 6)
        r->CreateProgressWindow(r->params.showLaunchDialogAfter < 1);
    if (placement != 1) so->ArmLaunchDialogTimer(r);
    so->launchRequests.Append(r, true);
    return r;
}

void CServerOutpost::OnRequestLaunch(CQVLSOAPRequest* request, const DiChar* messageId) {
    CLaunchRequest* r = requestFor(this, request, messageId);
    if (!r) return;
    /* A local program answers when it was run, with its status. */
    if (r->params.placement != 6)
        replyEmpty(this, u"ns1:requestLaunchResponse", u"qvl:requestLaunch", messageId);
    CompleteLaunchRequest(r, messageId);
}

void CServerOutpost::OnDoLaunch(CQVLSOAPRequest* request, const DiChar* messageId) {
    DiLaunchParams update(request);
    CLaunchRequest* r =
        update.requestTransactionId ? FindLaunchRequestById(update.requestTransactionId) : nullptr;
    if (r) {
        /* A dialog timer armed for the request follows it to its new id,
         * or its dialog, still hidden, would never show. */
        bool timed = launchDialogId && r->MatchesId(launchDialogId);
        r->params.Merge(update);
        r->SetId(messageId);
        if (timed && r->EffectiveId()) setText(&launchDialogId, r->EffectiveId());
    } else {
        r = requestFor(this, request, messageId);
        if (!r) return;
    }
    CompleteLaunchRequest(r, messageId);
}

void CServerOutpost::OnHelperLaunchReady(CHelperConnection* helper, CQVLSOAPRequest* request,
                                         const DiChar*) {
    const DiChar* requestId = request->GetStringParameter(u"helperrequestid");
    int32_t window = request->GetIntParameter(u"window");
    CLaunchRequest* r = FindLaunchRequestById(requestId);
    if (!r && launchRequests.count >= DI_SO_MAX_LAUNCH_REQUESTS) {
        diLogErrorArgs(452, {u"", u"too many launch requests waiting"});
        return;
    }
    if (!r) {
        r = new (std::nothrow) CLaunchRequest();
        if (!r) return;
        r->SetHelper(helper, uint32_t(window));
        r->SetId(requestId);
        if (r->params.placement == 1 && helper->kind != 1) ArmLaunchDialogTimer(r);
        launchRequests.Append(r, true);
    } else {
        r->SetHelper(helper, uint32_t(window));
    }
    CompleteLaunchRequest(r, nullptr);
}

void CServerOutpost::OnHelperAgedPassword(CHelperConnection* helper, const DiChar* messageId) {
    CLaunch* launch = FindLaunchByHelper(helper);
    if (!launch) {
        diLogError(451);
        return;
    }
    /* The request's message id is what the launch keeps: its answer goes
     * there once the aged-password session ends. */
    launch->SetPendingMessageId(messageId);
    SendDoLaunchResponse(launch);
}

void CServerOutpost::OnCancelLaunch(CQVLSOAPRequest* request, const DiChar*) {
    const DiChar* transaction = request->GetStringParameter(u"transactionid");
    const DiChar* session = request->GetStringParameter(u"sessionid");
    if (!transaction && !session) return;
    const DiChar* logged = transaction ? transaction : session;
    if (CLaunch* launch = FindLaunchByTransaction(transaction, session)) {
        if (const DiChar* renamed = request->GetStringParameter(u"newsessionid")) {
            launch->params.ReplaceSessionId(renamed);
            return;
        }
        diLogInfoArgs(376, {logged});
        CancelLaunch(launch);
        return;
    }
    if (CLaunchRequest* r = FindLaunchRequestByTransaction(transaction, session)) {
        if (launchDialogId && r->MatchesId(launchDialogId)) CancelLaunchDialogTimer();
        diLogInfoArgs(376, {logged});
        RemoveLaunchRequest(r);
        return;
    }
    diLogWarningArgs(377, {logged});
}

/* ---- helpers, browser and documents ---- */

void CServerOutpost::OnWebserver(CQVLSOAPRequest* request, const DiChar* messageId) {
    const DiChar* url = RequireString(request, u"url", messageId);
    const DiChar* frame = RequireString(request, u"frame", messageId);
    if (!url) return;
    const DiChar* helperId = request->GetStringParameter(u"helperid");
    if (nonEmpty(helperId)) {
        if (CHelperConnection* helper = FindHelperById(helperId)) {
            diLogInfoArgs(364, {url, orEmpty(frame), helperId});
            helper->Send(request, messageId);
        } else if (KeepWebserverEvent(url, frame, helperId)) {
            diLogInfoArgs(305, {helperId, url, orEmpty(frame)});
        } else {
            diLogWarningArgs(365, {helperId});
            DiChar text[1024];
            diFormatPositional(text, 1024, u"No helper connection with ID %s", {helperId});
            SendFault(u"Client.NoHelperConnection", text, messageId);
        }
        return;
    }
    diLogInfoArgs(364, {url, orEmpty(frame), u"ALL"});
    for (auto* n = helpers.head; n; n = n->next)
        n->item->Send(request, messageId);
}

/* The webtop URL of the session: the login URL, else the profile's "url". */
static bool webtopUrlOf(CServerOutpost* so, DiChar* out, size_t size) {
    const DiChar* url = g_ddApp ? g_ddApp->webtopUrl : nullptr;
    if (!url && g_ddApp) url = g_ddApp->opt.loginUrl;
    if (url) {
        size_t n = qvlStrLen(url);
        if (n >= size) return false;
        memcpy(out, url, (n + 1) * sizeof(DiChar));
        return true;
    }
    return so->ProfileValue(u"url", out, size) && out[0];
}

void CServerOutpost::OnRestartEvent(CQVLSOAPRequest* request, const DiChar* messageId) {
    const DiChar* token = RequireString(request, u"connectiontoken", messageId);
    if (!token) return;
    CHelperConnection* helper = FindHelperById(restartData.helperId);
    if (helper && restartData.url) {
        /* The token comes from the server and ends up in a script the
         * helper's page runs, or in a query: it is escaped for each. */
        /* `logged` is the text with the token's value as "***": the log file
         * is readable by other processes, and a script's argument is not a
         * "connectiontoken=" parameter the logger would find and mask. */
        std::u16string text, logged;
        DiChar port[16];
        diFormatPositional(port, 16, u"%d", {int(listeningPort)});
        const DiChar* url = restartData.url;
        if (qvlStrLen(url) >= 11 && memcmp(url, u"javascript:", 11 * sizeof(DiChar)) == 0) {
            DiChar* js = diLaunchJsToken(token);
            DiChar* ip = diLaunchJsToken(orEmpty(localHost));
            text = std::u16string(url) + u"(" + port + u", \"" + orEmpty(ip) + u"\", \"";
            logged = text + u"***\");";
            text += std::u16string(orEmpty(js)) + u"\");";
            free(js);
            free(ip);
        } else {
            DiChar* q = diLaunchUrlToken(token);
            DiChar* ip = diLaunchUrlToken(orEmpty(localHost));
            bool hasQuery = false;
            for (const DiChar* p = url; *p; p++)
                hasQuery = hasQuery || *p == '?';
            text = std::u16string(url) + (hasQuery ? u"&" : u"?") + u"soport=" + port +
                   u"&clientip=" + orEmpty(ip) + u"&connectiontoken=";
            logged = text + u"***";
            text += orEmpty(q);
            free(q);
            free(ip);
        }
        diLogInfoArgs(364,
                      {logged.c_str(), orEmpty(restartData.frame), orEmpty(restartData.helperId)});
        CQVLSOAPRequest* r = MakeRequest(u"ns1:webserver");
        if (!r) return;
        r->AddParameter(u"url", text.c_str());
        r->AddParameter(u"frame", orEmpty(restartData.frame));
        helper->Send(r, nullptr);
        delete r;
        return;
    }
    /* A session that came through the browser can only be restarted by its
     * helper; one the integrated client signed in restarts through the web
     * service. */
    if (browserStart) {
        diLogWarningArgs(365, {orEmpty(restartData.helperId)});
        DiChar text[1024];
        diFormatPositional(text, 1024, u"No helper connection with ID %s",
                           {orEmpty(restartData.helperId)});
        SendFault(u"Client.NoHelperConnection", text, messageId);
        return;
    }
    if (diSOIntegratedClientIsActive() && g_diIntegratedClient->Restart(token)) return;
    if (g_ddApp) g_ddApp->proxyFailed = 0;
    ReportConnectFailure();
}

void CServerOutpost::OnReconnectData(CQVLSOAPRequest* request, const DiChar* messageId) {
    const DiChar* cookie = RequireString(request, u"connectioncookie", messageId);
    if (!cookie) return;
    replyEmpty(this, u"ns1:reconnectDataResponse", u"qvl:reconnectData", messageId);
    diLogInfoArgs(405, {connectionCookie ? u"(expired)" : u"N/A", u"new one"});
    setText(&connectionCookie, cookie);
    if (g_diIntegratedClient) g_diIntegratedClient->OnReconnectData();
}

/* Only a web address goes to the browser opener: it may hand the text to
 * the shell, which runs a local program or one on a share as readily as it
 * opens a page. Logs 406 when the browser was opened, else error 407. */
static void showInBrowser(CServerOutpost* so, const DiChar* url) {
    if (diHTTPIsWebAddress(url) && so->OpenBrowser(url))
        diLogInfoArgs(406, {url});
    else
        diLogErrorArgs(407, {url});
}

void CServerOutpost::OnDocument(CQVLSOAPRequest* request, const DiChar* messageId) {
    const DiChar* url = RequireString(request, u"url", messageId);
    if (url) showInBrowser(this, url);
}

void CServerOutpost::OnToken(CQVLSOAPRequest* request, const DiChar* messageId) {
    const DiChar* token = RequireString(request, u"connectiontoken", messageId);
    if (token) {
        DiChar url[512];
        if (!webtopUrlOf(this, url, 512)) {
            diLogError(449);
        } else {
            DiChar* value = diLaunchUrlToken(token);
            DiChar port[16];
            diFormatPositional(port, 16, u"%d", {int(listeningPort)});
            const DiChar* language = g_ddApp ? g_ddApp->opt.preferredLanguage : nullptr;
            bool fits = value && AddUrlParameter(u"connectiontoken", value, url, 512) &&
                        AddUrlParameter(u"drxport", port, url, 512) &&
                        (!language || AddUrlParameter(u"langSelected", language, url, 512));
            free(value);
            if (fits)
                showInBrowser(this, url);
            else
                diLogErrorArgs(407, {url});
        }
    }
    SetUIComponent(u"_root", u"enabled");
}

void CServerOutpost::OnSetuicomponent(CQVLSOAPRequest* request, const DiChar* messageId) {
    const DiChar* component = RequireString(request, u"component", messageId);
    const DiChar* state = RequireString(request, u"state", messageId);
    if (component && state) SetUIComponent(component, state);
}

void CServerOutpost::OnTriggeruicomponent(CQVLSOAPRequest* request, const DiChar* messageId) {
    const DiChar* component = RequireString(request, u"component", messageId);
    if (component) TriggerUIComponent(component);
}

/* ---- the profile ---- */

void CServerOutpost::OnAutomaticLogin(CQVLSOAPRequest* request, const DiChar*) {
    CProfileStore* store = g_diProfileStore;
    if (!store) return;
    const DiChar* token = request->GetStringParameter(u"token");
    const DiChar* clientId = request->GetStringParameter(u"drxclientid");
    const DiChar* profiles = request->GetStringParameter(u"profiles");
    const DiChar* cookie = g_diIntegratedClient && !g_diIntegratedClient->sessionCookie.empty()
                               ? g_diIntegratedClient->sessionCookie.c_str()
                               : nullptr;
    store->SaveLogin(orEmpty(server), u"", token, proxyHost, proxyPort, proxyType, profiles,
                     cookie);
    ReadProfile();
    if (clientId) store->SetLocalSetting(u"drxclientid", clientId);
    store->Save();
    if (profiles && g_diIntegratedClient) g_diIntegratedClient->ReadProfileSettings();
}

void CServerOutpost::OnProfileUpdate(CQVLSOAPRequest* request, const DiChar*) {
    const DiChar* profiles = request->GetStringParameter(u"profiles");
    CProfileStore* store = g_diProfileStore;
    if (!nonEmpty(profiles) || !store) return;
    DiChar before[512], after[512];
    bool had = ProfileValue(u"pdfviewer", before, 512);
    store->ImportProfiles(orEmpty(server), u"", profiles);
    ReadProfile();
    store->Save();
    if (g_diIntegratedClient) g_diIntegratedClient->ReadProfileSettings();
    bool has = ProfileValue(u"pdfviewer", after, 512);
    if (had != has || (has && !qvlStrEq(before, after))) PdfViewerChanged();
}

void CServerOutpost::OnNotifyApplicationsEnded(CQVLSOAPRequest* request, const DiChar*) {
    notifyApplicationsEnded = request->GetBoolParameter(u"notify") ? 1 : 0;
}

/* ---- the flat launch services ---- */

static CLaunch* launchOf(DiObject* obj) {
    return g_diOutpost ? g_diOutpost->FindLaunchByEngine(obj) : nullptr;
}

static void hookSetLaunchState(DiObject* obj, int32_t state) {
    if (CLaunch* l = launchOf(obj)) l->SwitchState(state);
}

static void hookDisplayObjectClosed(DiObject* obj) {
    CLaunch* l = launchOf(obj);
    if (!l) return;
    /* The frame is already on its way out: the launch forgets it and ends
     * in whatever state it was, since nothing is left to show it (a launch
     * left listed would count against the cap for good). */
    l->frame = nullptr;
    l->SwitchState(DI_LAUNCH_SUSPENDED);
}

static int hookLaunchDialogPending(void) {
    return g_diOutpost && g_diOutpost->launchDialogTimer ? 1 : 0;
}

static const DiChar* hookLaunchBaseUrl(DiObject* obj) {
    CLaunch* l = launchOf(obj);
    return l ? l->params.baseUrl : nullptr;
}

static void hookSetLaunchRoute(DiChannel* ch, const DiLAIPDialog* dialog) {
    if (CLaunch* l = launchOf(&ch->hdr)) l->SetPendingDialog(dialog);
}

static void hookContinueLaunchOnRoute(DiChannel* ch, const DiLAIPDialog* dialog) {
    CLaunch* l = launchOf(&ch->hdr);
    if (!l) return;
    l->SetPendingDialog(dialog);
    g_diOutpost->SendDoLaunchResponse(l);
}

static void hookLaunchFailed(DiChannel* ch, int message, const DiChar* text) {
    if (CLaunch* l = launchOf(&ch->hdr)) g_diOutpost->LaunchFailed(l, message, text);
}

static void hookCancelLaunchDialogTimer(void) {
    if (g_diOutpost) g_diOutpost->CancelLaunchDialogTimer();
}

static void hookFitLaunchFrame(DiObject* obj) {
    if (CLaunch* l = launchOf(obj)) l->FitFrame();
}

void diSOInstallLaunchHooks(bool on) {
    DiSOLaunchHooks h{};
    if (on) {
        h.setLaunchState = hookSetLaunchState;
        h.displayObjectClosed = hookDisplayObjectClosed;
        h.isLaunchDialogPending = hookLaunchDialogPending;
        h.getLaunchBaseUrl = hookLaunchBaseUrl;
        h.setLaunchRoute = hookSetLaunchRoute;
        h.continueLaunchOnRoute = hookContinueLaunchOnRoute;
        h.launchFailed = hookLaunchFailed;
        h.cancelLaunchDialogTimer = hookCancelLaunchDialogTimer;
        h.fitLaunchFrame = hookFitLaunchFrame;
    }
    g_diSOLaunchHooks = h;
}
