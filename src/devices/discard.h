/* Smart-card redirection: the smart-card device class, its per-session
 * state, the NDR codec of the redirected PC/SC calls and their handlers.
 * The PC/SC service is reached only through the function table below, which
 * the Windows layer (ddscard.cpp) fills with winscard and tests fill with a
 * scripted fake.
 *
 * Lifetime: a session is held by its device slot and by every request that
 * runs for it; the last release frees it. Ending a session stops the
 * start-event waits, disconnects its cards, cancels its contexts until no
 * status change of the session is left in the service, and releases them;
 * requests still running then finish against a closed session (a late
 * connect disconnects its card again). */
#ifndef HV_DISCARD_H
#define HV_DISCARD_H

#include "devices/didevice.h"

#include "core/ditimedwait.h"

#include <atomic>

/* A reader state as the PC/SC service takes it; on the 32-bit client this is
 * the service's own 56-byte record and is passed through unchanged. */
struct DiSCardReaderState {
    const void* reader; /* char or UTF-16 text */
    void* userData;
    uint32_t currentState;
    uint32_t eventState;
    uint32_t cbAtr;
    uint8_t atr[36];
};
static_assert(sizeof(void*) != 4 || sizeof(DiSCardReaderState) == 56, "reader state layout");

/* An ATR and its mask for the locate-by-ATR calls (the service's record). */
struct DiSCardAtrMask {
    uint32_t cbAtr;
    uint8_t atr[36];
    uint8_t mask[36];
};

/* The PC/SC service. Results are PC/SC codes (negative on failure);
 * `wide` chooses the UTF-16 form of a call. A list or attribute buffer
 * whose length is DI_SCARD_AUTOALLOCATE is a pointer to where the service
 * stores its own allocation, released with freeMemory. */
struct DiSCardApi {
    int32_t (*establish)(uint32_t scope, uint32_t* context);
    int32_t (*release)(uint32_t context);
    /* Optional (none: the call answers DI_SCARD_F_INTERNAL_ERROR). */
    int32_t (*isValid)(uint32_t context);
    int32_t (*listGroups)(bool wide, uint32_t context, void* buf, uint32_t* chars);
    int32_t (*listReaders)(bool wide, uint32_t context, const void* groups, void* buf,
                           uint32_t* chars);
    /* Reader and group administration: `function` is the request number
     * (20 to 31), `second` none for the one-string calls. */
    int32_t (*admin)(uint32_t function, uint32_t context, const void* first, const void* second);
    int32_t (*locate)(bool wide, uint32_t context, const void* cards, DiSCardReaderState* states,
                      uint32_t count);
    /* Optional. */
    int32_t (*locateByAtr)(bool wide, uint32_t context, const DiSCardAtrMask* masks,
                           uint32_t maskCount, DiSCardReaderState* states, uint32_t count);
    /* Blocks (worker thread) until a change, the timeout or cancel. */
    int32_t (*getStatusChange)(bool wide, uint32_t context, uint32_t timeout,
                               DiSCardReaderState* states, uint32_t count);
    int32_t (*cancel)(uint32_t context);
    int32_t (*connect)(bool wide, uint32_t context, const void* reader, uint32_t share,
                       uint32_t protocols, uint32_t* card, uint32_t* active);
    int32_t (*reconnect)(uint32_t card, uint32_t share, uint32_t protocols, uint32_t init,
                         uint32_t* active);
    int32_t (*disconnect)(uint32_t card, uint32_t disposition);
    int32_t (*beginTransaction)(uint32_t card);
    int32_t (*endTransaction)(uint32_t card, uint32_t disposition);
    int32_t (*status)(bool wide, uint32_t card, void* names, uint32_t* chars, uint32_t* state,
                      uint32_t* protocol, uint8_t* atr, uint32_t* atrLen);
    /* The protocol blocks are the service's: protocol, total length (8 and
     * the extra bytes), then the extra bytes; `recvPci` may be none. */
    int32_t (*transmit)(uint32_t card, const void* sendPci, const uint8_t* send, uint32_t sendLen,
                        void* recvPci, uint8_t* recv, uint32_t* recvLen);
    int32_t (*control)(uint32_t card, uint32_t code, const void* in, uint32_t inLen, void* out,
                       uint32_t outLen, uint32_t* returned);
    int32_t (*getAttrib)(uint32_t card, uint32_t id, void* buf, uint32_t* len);
    int32_t (*setAttrib)(uint32_t card, uint32_t id, const void* buf, uint32_t len);
    int32_t (*freeMemory)(uint32_t context, const void* mem);
    /* The service's start event (all optional together): create returns a
     * record or none; wait blocks (worker) until the service started or the
     * record was stopped; stop releases every waiter and makes later waits
     * return at once; destroy frees a stopped record nobody waits on. */
    void* (*startEventCreate)();
    void (*startEventWait)(void* record);
    void (*startEventStop)(void* record);
    void (*startEventDestroy)(void* record);
};

/* The service in use (start-up or a test sets it); none: no smart cards. */
extern const DiSCardApi* g_diSCardApi;

enum : uint32_t {
    DI_SCARD_AUTOALLOCATE = 0xFFFFFFFF,
    DI_SCARD_F_INTERNAL_ERROR = 0x80100001,
    DI_SCARD_E_INVALID_HANDLE = 0x80100003,
    /* The service cannot take the call now; the caller may try again. */
    DI_SCARD_E_SERVER_TOO_BUSY = 0x80100031,
    DI_STATUS_INVALID_PARAMETER_SC = 0xC0020005, /* malformed call or reply too large */
};

struct DiSCardSession {
    uint32_t contextCount;
    uint32_t contextCapacity;
    uint32_t* contexts;
    uint32_t cardCount;
    uint32_t cardCapacity;
    uint32_t* cards;
    void* startEvent;
    /* Guards both lists, `closed` and `statusWaits`: workers connect and
     * disconnect while the GUI thread ends the session. */
    DiMutex lock;
    bool closed;
    /* Status-change calls inside the service; `waitsEnded` tells when one
     * returns. */
    uint32_t statusWaits;
    DiCondition waitsEnded;
    std::atomic<uint32_t> refs;
};

/* The codec's cursor; `status` is sticky: after the first failure reads give
 * 0 and writes are dropped. */
struct DiSCardStream {
    uint32_t referent;
    uint8_t* start;
    uint8_t* data;
    uint8_t* end;
    uint8_t* position;
    uint32_t status;
};

/* Class operations. */
void diSCardDispatch(DiDeviceClass* cls, DiDeviceRequest* req);
void* diSCardCreateSession(DiDeviceClass* cls);
void diSCardDestroySession(DiDeviceClass* cls, void* session);
void diSCardRunRequest(DiDeviceRequest* req);

/* Codec: opening for decoding checks the two headers, for encoding zeroes
 * the data area; finishing writes the headers and gives the total length. */
uint32_t diSCardDecodeOpen(DiSCardStream* s, const uint8_t* buf, uint32_t len);
uint32_t diSCardEncodeOpen(DiSCardStream* s, uint8_t* buf, uint32_t len);
uint32_t diSCardEncodeFinish(DiSCardStream* s, uint32_t* total);

#endif
