#include "fakes/laip_fakes.h"

#include <string>
#include "fakes/chan_fakes.h"

#include "ui/diprog.h"

#include <stdlib.h>
#include <string.h>

FakeLaip g_fakeLaip;

void laipFakesReset() {
    g_fakeLaip = FakeLaip();
}

static DiChar* dup16(const std::u16string& s) {
    DiChar* d = static_cast<DiChar*>(malloc((s.size() + 1) * sizeof(DiChar)));
    memcpy(d, s.c_str(), (s.size() + 1) * sizeof(DiChar));
    return d;
}

static int runDialog(const char* name, DiLAIPDialog* request, DiLAIPReply* reply) {
    g_fakeLaip.calls.push_back(name);
    DiLAIPField* f0 = diLAIPFindField(request, 0);
    g_fakeLaip.lastKind = f0 ? f0->value : 0;
    if (g_fakeLaip.dialogs.empty()) return 0;
    FakeLaipDialog d = g_fakeLaip.dialogs.front();
    g_fakeLaip.dialogs.erase(g_fakeLaip.dialogs.begin());
    if (d.during) d.during();
    if (!d.ok) return 0;
    *reply = d.reply;
    if (reply->method == 0) {
        reply->user = dup16(d.user);
        reply->password = dup16(d.password);
        reply->password2 = dup16(d.password2);
        reply->domain = dup16(d.domain);
    }
    return 1;
}

int ddDlgAuthenticateForObject(DiObject*, DiLAIPDialog* request, DiLAIPReply* reply) {
    return runDialog("auth", request, reply);
}

int ddDlgChangePasswordForObject(DiObject*, DiLAIPDialog* request, DiLAIPReply* reply) {
    return runDialog("change", request, reply);
}

int diIOSendStart(DiChannel*) {
    g_fakeLaip.calls.push_back("io-start");
    return 0;
}
void diIAIPSetLevel(uint16_t level) {
    g_fakeLaip.calls.push_back("iaip-level " + std::to_string(level));
}
int diPAIPSendStart(DiChannel*, int) {
    g_fakeLaip.calls.push_back("print-start");
    return 0;
}
void diPAIPExchangeEnded(DiChannel*, int started) {
    g_fakeLaip.calls.push_back(started ? "print-exchange-end" : "print-exchange-failed");
}
void diPAIPQuestionOpen(DiChannel*, int open) {
    g_fakeLaip.calls.push_back(open ? "print-question" : "print-answered");
}

// The progress window's details come through the channel fakes.
static void keepDetails(const DiChar* text) {
    g_fakeLaip.details.push_back(text ? text : u"");
}
static const bool s_detailsHooked = (g_fakeProgDetails = keepDetails, true);
int diProgSetText(DiProgress*, const DiChar* text) {
    g_fakeLaip.status = text ? text : u"";
    return 0;
}
void diProgSetDuration(DiObject*, uint32_t ms) {
    g_fakeLaip.duration = ms;
}
