#include "devices/fake_pcsc.h"

#include <condition_variable>
#include <mutex>
#include <stdlib.h>
#include <string.h>

FakePcsc g_pcsc;

namespace {

std::mutex s_mu;
std::condition_variable s_cv;
uint32_t s_next = 0x100;
uint32_t s_insertions = 0;
bool s_connectsOpen = false;
bool s_entriesOpen = false;
std::set<uint32_t> s_cancelled;
std::multiset<uint32_t> s_inside; // contexts of the status changes under way
DiSCardApi s_api;

const char kReadersA[] = "Reader A\0Reader B\0"; // with the final NUL: 19 bytes
const uint8_t kAtr[11] = {0x3B, 0x88, 0x80, 0x01, 0, 0, 0, 0, 0x77, 0x81, 0x80};

typedef std::unique_lock<std::mutex> Lock;

int32_t note(const std::string& call) {
    g_pcsc.log += call + ";";
    if (g_pcsc.failAll) return g_pcsc.failAll;
    std::string name = call.substr(0, call.find('('));
    auto f = g_pcsc.fail.find(name);
    return f == g_pcsc.fail.end() ? 0 : f->second;
}

std::string num(uint32_t v) {
    return std::to_string(v);
}

// Writes the reader list into a buffer of `chars` characters (the whole
// buffer, as a service may), or allocates it.
int32_t putList(bool wide, void* buf, uint32_t* chars) {
    uint32_t n = sizeof(kReadersA);
    g_pcsc.lastChars = *chars;
    if (!buf) {
        *chars = n;
        return 0;
    }
    uint32_t unit = wide ? 2 : 1;
    uint8_t* out;
    if (*chars == DI_SCARD_AUTOALLOCATE) {
        out = static_cast<uint8_t*>(malloc(n * unit));
        *static_cast<void**>(buf) = out;
        g_pcsc.autoAllocated++;
    } else {
        out = static_cast<uint8_t*>(buf);
        memset(out, 0xA5, size_t(*chars) * unit);
        if (*chars < n) return int32_t(0x80100008); // insufficient buffer
    }
    for (uint32_t i = 0; i < n; i++) {
        out[i * unit] = uint8_t(kReadersA[i]);
        if (wide) out[i * unit + 1] = 0;
    }
    *chars = g_pcsc.overstate ? 4096 : n;
    return 0;
}

bool liveContext(uint32_t c) {
    return g_pcsc.contexts.count(c) != 0;
}

int32_t fEstablish(uint32_t scope, uint32_t* context) {
    Lock l(s_mu);
    int32_t rc = note("SCardEstablishContext(" + num(scope) + ")");
    if (rc) return rc;
    *context = s_next++;
    g_pcsc.contexts.insert(*context);
    return 0;
}

int32_t fRelease(uint32_t context) {
    Lock l(s_mu);
    int32_t rc = note("SCardReleaseContext(" + num(context) + ")");
    if (g_pcsc.lateCancel) s_cv.wait(l, [&] { return !s_inside.count(context); });
    if (!g_pcsc.contexts.erase(context)) rc = int32_t(DI_SCARD_E_INVALID_HANDLE);
    s_cancelled.insert(context);
    s_cv.notify_all();
    return rc;
}

int32_t fIsValid(uint32_t context) {
    Lock l(s_mu);
    int32_t rc = note("SCardIsValidContext(" + num(context) + ")");
    return rc ? rc : liveContext(context) ? 0 : int32_t(DI_SCARD_E_INVALID_HANDLE);
}

int32_t fListGroups(bool wide, uint32_t context, void* buf, uint32_t* chars) {
    Lock l(s_mu);
    int32_t rc = note(std::string("SCardListReaderGroups") + (wide ? "W(" : "A(") + num(context) +
                      "," + (buf ? num(*chars) : "null") + ")");
    return rc ? rc : putList(wide, buf, chars);
}

int32_t fListReaders(bool wide, uint32_t context, const void* groups, void* buf, uint32_t* chars) {
    Lock l(s_mu);
    int32_t rc = note(std::string("SCardListReaders") + (wide ? "W(" : "A(") + num(context) + "," +
                      (groups ? "groups," : "") + (buf ? num(*chars) : "null") + ")");
    return rc ? rc : putList(wide, buf, chars);
}

int32_t fAdmin(uint32_t function, uint32_t context, const void* first, const void* second) {
    Lock l(s_mu);
    return note("admin" + num(function) + "(" + num(context) + (first ? ",s" : ",null") +
                (second ? ",s" : "") + ")");
}

void setStates(DiSCardReaderState* states, uint32_t count, uint32_t event) {
    for (uint32_t i = 0; i < count; i++) {
        states[i].eventState = event;
        states[i].cbAtr = sizeof(kAtr);
        memcpy(states[i].atr, kAtr, sizeof(kAtr));
    }
}

int32_t fLocate(bool wide, uint32_t context, const void*, DiSCardReaderState* states,
                uint32_t count) {
    Lock l(s_mu);
    int32_t rc = note(std::string("SCardLocateCards") + (wide ? "W(" : "A(") + num(context) + "," +
                      num(count) + ")");
    if (!rc) setStates(states, count, 0x22);
    return rc;
}

int32_t fLocateByAtr(bool wide, uint32_t context, const DiSCardAtrMask* masks, uint32_t maskCount,
                     DiSCardReaderState* states, uint32_t count) {
    Lock l(s_mu);
    int32_t rc = note(std::string("SCardLocateCardsByATR") + (wide ? "W(" : "A(") + num(context) +
                      "," + num(maskCount) + "," + num(count) + ")");
    uint32_t sum = 0; // the service reads every mask within cbAtr
    for (uint32_t i = 0; i < maskCount; i++)
        for (uint32_t j = 0; j < masks[i].cbAtr; j++)
            sum += masks[i].atr[j] & masks[i].mask[j];
    (void)sum;
    if (!rc) setStates(states, count, 0x22);
    return rc;
}

int32_t fGetStatusChange(bool wide, uint32_t context, uint32_t timeout, DiSCardReaderState* states,
                         uint32_t count) {
    Lock l(s_mu);
    int32_t rc = note(std::string("SCardGetStatusChange") + (wide ? "W(" : "A(") + num(context) +
                      "," + num(timeout) + "," + num(count) + ")");
    if (rc) return rc;
    if (!liveContext(context)) return int32_t(DI_SCARD_E_INVALID_HANDLE);
    for (uint32_t i = 0; i < count; i++) // the service reads every name
        if (wide ? !static_cast<const uint16_t*>(states[i].reader)
                 : !static_cast<const char*>(states[i].reader))
            abort();
    if (g_pcsc.blockStatusChange || (g_pcsc.blockInfinite && timeout == 0xFFFFFFFF)) {
        uint32_t seen = s_insertions;
        auto inside = s_inside.insert(context);
        if (g_pcsc.holdEntry) {
            g_pcsc.held++;
            s_cv.notify_all();
            s_cv.wait(l, [] { return s_entriesOpen; });
            g_pcsc.held--;
        }
        if (g_pcsc.lateCancel) s_cancelled.erase(context); // earlier cancels are lost
        g_pcsc.blocked++;
        s_cv.notify_all();
        s_cv.wait(l, [&] { return s_cancelled.count(context) || s_insertions != seen; });
        g_pcsc.blocked--;
        s_inside.erase(inside);
        s_cv.notify_all();
        if (s_cancelled.count(context)) return int32_t(0x80100002); // cancelled
    }
    setStates(states, count, 0x22);
    return 0;
}

int32_t fCancel(uint32_t context) {
    Lock l(s_mu);
    int32_t rc = note("SCardCancel(" + num(context) + ")");
    s_cancelled.insert(context);
    s_cv.notify_all();
    return rc;
}

int32_t fConnect(bool wide, uint32_t context, const void*, uint32_t share, uint32_t protocols,
                 uint32_t* card, uint32_t* active) {
    Lock l(s_mu);
    int32_t rc = note(std::string("SCardConnect") + (wide ? "W(" : "A(") + num(context) + "," +
                      num(share) + "," + num(protocols) + ")");
    if (g_pcsc.blockConnect) {
        g_pcsc.blocked++;
        s_cv.notify_all();
        s_cv.wait(l, [] { return s_connectsOpen; });
        g_pcsc.blocked--;
    }
    if (rc) return rc;
    *card = s_next++;
    *active = 2;
    g_pcsc.cards.insert(*card);
    return 0;
}

int32_t fReconnect(uint32_t card, uint32_t share, uint32_t protocols, uint32_t init,
                   uint32_t* active) {
    Lock l(s_mu);
    *active = 2;
    int32_t rc = note("SCardReconnect(" + num(card) + "," + num(share) + "," + num(protocols) +
                      "," + num(init) + ")");
    if (rc) g_pcsc.cards.erase(card); // a failed reconnect leaves no handle
    return rc;
}

int32_t fDisconnect(uint32_t card, uint32_t disposition) {
    Lock l(s_mu);
    int32_t rc = note("SCardDisconnect(" + num(card) + "," + num(disposition) + ")");
    if (!g_pcsc.cards.erase(card)) rc = int32_t(DI_SCARD_E_INVALID_HANDLE);
    return rc;
}

int32_t fBegin(uint32_t card) {
    Lock l(s_mu);
    return note("SCardBeginTransaction(" + num(card) + ")");
}

int32_t fEnd(uint32_t card, uint32_t disposition) {
    Lock l(s_mu);
    return note("SCardEndTransaction(" + num(card) + "," + num(disposition) + ")");
}

int32_t fStatus(bool wide, uint32_t card, void* names, uint32_t* chars, uint32_t* state,
                uint32_t* protocol, uint8_t* atr, uint32_t* atrLen) {
    Lock l(s_mu);
    int32_t rc = note(std::string("SCardStatus") + (wide ? "W(" : "A(") + num(card) + "," +
                      (names ? num(*chars) : "null") + "," + num(*atrLen) + ")");
    *state = 6;
    *protocol = 2;
    if (rc) return rc;
    if (atr) {
        memset(atr, 0xA5, *atrLen);
        if (*atrLen < sizeof(kAtr)) return int32_t(0x80100008);
        memcpy(atr, kAtr, sizeof(kAtr));
    }
    *atrLen = g_pcsc.longAtr && atr && *atrLen >= 33 ? 33 : sizeof(kAtr);
    uint32_t want = 10; // "Reader A" and two NULs
    if (names) {
        memset(names, 0xA5, size_t(*chars) * (wide ? 2 : 1));
        if (*chars < want) return int32_t(0x80100008);
        uint8_t* out = static_cast<uint8_t*>(names);
        for (uint32_t i = 0; i < want; i++) {
            if (wide) out[2 * i + 1] = 0;
            out[wide ? 2 * i : i] = uint8_t(kReadersA[i < 8 ? i : 8]);
        }
    }
    *chars = want;
    return 0;
}

int32_t fTransmit(uint32_t card, const void* sendPci, const uint8_t* send, uint32_t sendLen,
                  void* recvPci, uint8_t* recv, uint32_t* recvLen) {
    Lock l(s_mu);
    const uint8_t* p = static_cast<const uint8_t*>(sendPci);
    uint32_t pciLen = uint32_t(p[4]) | uint32_t(p[5]) << 8;
    int32_t rc = note("SCardTransmit(" + num(card) + ",pci" + num(p[0]) + "/" + num(pciLen) + "," +
                      num(sendLen) + "," + (recvPci ? "recvPci," : "") + num(*recvLen) + ")");
    g_pcsc.lastLen = *recvLen;
    uint32_t sum = 0; // reads what it was told it may
    for (uint32_t i = 8; i < pciLen; i++)
        sum += p[i];
    for (uint32_t i = 0; i < sendLen; i++)
        sum += send[i];
    (void)sum;
    if (rc) return rc;
    if (recv) memset(recv, 0xA5, *recvLen);
    uint32_t n = sendLen; // the answer's data bytes
    bool echo = !(sendLen >= 5 && (send[1] == 0xA4 || (sendLen == 5 && send[1] == 0xB0)));
    if (!echo) n = send[1] == 0xA4 ? 0 : send[4] ? send[4] : 256;
    if (!recv || *recvLen < n + 2) return *recvLen = n + 2, int32_t(0x80100008);
    static const char kText[] = "Halvanet smart-card file. ";
    for (uint32_t i = 0; i < n; i++)
        recv[i] = echo ? send[sendLen - 1 - i] : uint8_t(kText[i % (sizeof kText - 1)]);
    recv[n] = 0x90;
    recv[n + 1] = 0x00;
    *recvLen = n + 2;
    return 0;
}

int32_t fControl(uint32_t card, uint32_t code, const void*, uint32_t inLen, void* out,
                 uint32_t outLen, uint32_t* returned) {
    Lock l(s_mu);
    int32_t rc = note("SCardControl(" + num(card) + "," + num(code) + "," + num(inLen) + "," +
                      num(outLen) + ")");
    if (out) memset(out, 0x5A, outLen);
    *returned = outLen < 4 ? outLen : 4;
    return rc;
}

int32_t fGetAttrib(uint32_t card, uint32_t id, void* buf, uint32_t* len) {
    Lock l(s_mu);
    int32_t rc = note("SCardGetAttrib(" + num(card) + "," + num(id) + "," +
                      (buf ? num(*len) : "null") + ")");
    if (rc) return rc;
    if (buf && *len == DI_SCARD_AUTOALLOCATE) {
        uint8_t* a = static_cast<uint8_t*>(malloc(6));
        memcpy(a, "attrib", 6);
        *static_cast<void**>(buf) = a;
        g_pcsc.autoAllocated++;
        *len = 6;
        return 0;
    }
    g_pcsc.lastLen = *len;
    if (buf) memset(buf, 0x5A, *len);
    if (buf && *len < 6) return int32_t(0x80100008);
    if (buf) memcpy(buf, "attrib", 6);
    *len = 6;
    return 0;
}

int32_t fSetAttrib(uint32_t card, uint32_t id, const void*, uint32_t len) {
    Lock l(s_mu);
    return note("SCardSetAttrib(" + num(card) + "," + num(id) + "," + num(len) + ")");
}

int32_t fFreeMemory(uint32_t, const void* mem) {
    Lock l(s_mu);
    note("SCardFreeMemory");
    free(const_cast<void*>(mem));
    g_pcsc.autoAllocated--;
    return 0;
}

struct StartEvent {
    bool stopped = false;
    int waiters = 0;
};

void* fStartCreate() {
    Lock l(s_mu);
    g_pcsc.startEventsLive++;
    return new StartEvent;
}

void fStartWait(void* r) {
    Lock l(s_mu);
    StartEvent* e = static_cast<StartEvent*>(r);
    e->waiters++;
    g_pcsc.blocked++;
    s_cv.notify_all();
    s_cv.wait(l, [e] { return e->stopped; });
    g_pcsc.blocked--;
    e->waiters--;
    s_cv.notify_all();
}

void fStartStop(void* r) {
    Lock l(s_mu);
    StartEvent* e = static_cast<StartEvent*>(r);
    e->stopped = true;
    s_cv.notify_all();
    s_cv.wait(l, [e] { return e->waiters == 0; });
}

void fStartDestroy(void* r) {
    Lock l(s_mu);
    StartEvent* e = static_cast<StartEvent*>(r);
    if (!e->stopped || e->waiters) abort(); // freed under a waiter
    note("SCardReleaseStartedEvent");
    g_pcsc.startEventsLive--;
    delete e;
}

} // namespace

void fakePcscInstall() {
    s_api = DiSCardApi{fEstablish,  fRelease,     fIsValid,     fListGroups,      fListReaders,
                       fAdmin,      fLocate,      fLocateByAtr, fGetStatusChange, fCancel,
                       fConnect,    fReconnect,   fDisconnect,  fBegin,           fEnd,
                       fStatus,     fTransmit,    fControl,     fGetAttrib,       fSetAttrib,
                       fFreeMemory, fStartCreate, fStartWait,   fStartStop,       fStartDestroy};
    if (g_pcsc.noOptional) s_api.isValid = nullptr, s_api.locateByAtr = nullptr;
    if (g_pcsc.noStartEvent)
        s_api.startEventCreate = nullptr, s_api.startEventWait = nullptr,
        s_api.startEventStop = nullptr, s_api.startEventDestroy = nullptr;
    g_diSCardApi = &s_api;
}

void fakePcscReset() {
    Lock l(s_mu);
    g_pcsc = FakePcsc();
    s_cancelled.clear();
    s_connectsOpen = s_entriesOpen = false;
    s_next = 0x100;
    l.unlock();
    fakePcscInstall();
}

void fakePcscInsert() {
    Lock l(s_mu);
    s_insertions++;
    s_cv.notify_all();
}

void fakePcscReleaseConnects() {
    Lock l(s_mu);
    s_connectsOpen = true;
    s_cv.notify_all();
}

void fakePcscReleaseEntries() {
    Lock l(s_mu);
    s_entriesOpen = true;
    s_cv.notify_all();
}

void fakePcscWaitHeld(int n) {
    Lock l(s_mu);
    s_cv.wait(l, [n] { return g_pcsc.held >= n; });
}

void fakePcscWaitBlocked(int n) {
    Lock l(s_mu);
    s_cv.wait(l, [n] { return g_pcsc.blocked >= n; });
}

void fakePcscLog(const char* call) {
    Lock l(s_mu);
    g_pcsc.log += std::string(call) + ";";
}

std::string fakePcscTakeLog() {
    Lock l(s_mu);
    std::string s = g_pcsc.log;
    g_pcsc.log.clear();
    return s;
}
