/* The device channel (type 16): its list of devices, the per-session device
 * contexts, device requests (their wire form, parsing and replies) and the
 * generic device layer that runs a request at once or on a worker thread of
 * its own and always completes it on the GUI thread. */
#ifndef HV_DIDEVICE_H
#define HV_DIDEVICE_H

#include "devices/diiochan.h"

struct DiDeviceRequest;
struct DiDeviceClass;

/* What a device does; each class fills one table. */
struct DiDeviceClass {
    /* Carries the request out, on whichever thread runs it; ends in
     * diDeviceComplete (now or later). */
    void (*dispatch)(DiDeviceClass* cls, DiDeviceRequest* req);
    /* A context for a new session, or none (the device then ignores it). */
    void* (*createSession)(DiDeviceClass* cls);
    /* Ends a session's context at once; what running requests still use the
     * class keeps alive by reference. */
    void (*destroySession)(DiDeviceClass* cls, void* context);
    /* Chooses how the request runs: diDeviceRunNow, diDeviceRunOnThread, or
     * completes it at once. */
    void (*run)(DiDeviceRequest* req);
};

typedef void (*DiDeviceCompletionFn)(DiDeviceRequest* req, void* arg);

struct DiDeviceCompletion {
    DiDeviceCompletionFn function;
    void* arg;
};

enum : uint32_t {
    DI_DEV_CREATE = 0,
    DI_DEV_CLOSE = 2,
    DI_DEV_READ = 3,
    DI_DEV_WRITE = 4,
    DI_DEV_FLUSH = 9,
    DI_DEV_CONTROL = 14,
    DI_DEV_CLEANUP = 18,
};

enum : uint32_t {
    DI_STATUS_SUCCESS = 0,
    DI_STATUS_PENDING = 0x103,
    DI_STATUS_UNSUCCESSFUL = 0xC0000001,
    DI_STATUS_NOT_IMPLEMENTED = 0xC0000002,
    DI_STATUS_INVALID_HANDLE = 0xC0000008,
    DI_STATUS_INVALID_PARAMETER = 0xC000000D,
    DI_STATUS_INVALID_DEVICE_REQUEST = 0xC0000010,
    DI_STATUS_NO_MEMORY = 0xC0000017,
    DI_STATUS_BUFFER_TOO_SMALL = 0xC0000023,
    DI_STATUS_INSUFFICIENT_RESOURCES = 0xC000009A,
    DI_STATUS_TIMEOUT = 0xC00000B5,
    DI_STATUS_CANCELLED = 0xC0000120,
    DI_STATUS_TOO_MANY_THREADS = 0xC0000129,
};

struct DiDeviceRequest {
    DiDeviceRequest* link; /* request queues of device classes */
    DiDeviceCompletion* completion;
    DiDeviceClass* deviceClass;
    uint32_t DeviceId;
    uint32_t FileId;
    uint32_t CompletionId;
    uint32_t MajorFunction;
    uint32_t MinorFunction;
    void* ownerThread; /* where a worker's completion goes; none on the GUI thread */
    /* The channel's count of requests on workers (GUI thread only); none:
     * the request is not counted. */
    uint32_t* workers;
    /* The class's dispatch, read on the GUI thread when a worker starts: the
     * class table may be freed with the list while the worker runs. */
    void (*workerDispatch)(DiDeviceClass* cls, DiDeviceRequest* req);
    void* sessionContext;
    uint32_t IoStatus;
    /* create */
    uint32_t DesiredAccess;
    uint64_t AllocationSize;
    uint32_t FileAttributes, SharedAccess, CreateDisposition, CreateOptions;
    uint32_t PathLength;
    uint8_t* Path; /* owned */
    /* read and write: Length bytes at Buffer (owned); Length is what was
     * transferred once the request completed. A read's buffer is made when
     * the read starts: one waiting in a queue holds only its request. */
    uint32_t Length;
    uint64_t Offset;
    uint8_t* Buffer;
    uint32_t BufferSize; /* bytes at Buffer */
    /* device control */
    uint32_t IoControlCode;
    uint32_t InputBufferLength;
    uint8_t* InputBuffer; /* owned, none when the length is 0 */
    uint32_t OutputBufferLength;
    uint8_t* OutputBuffer; /* owned, none when the length is 0 */
    uint32_t Returned;     /* output bytes returned */
    uint8_t Information;   /* returned by create */
};

struct DiDevice {
    DiDeviceClass* deviceClass;
    void* sessionContext[256];
    uint16_t classCode; /* 128 the smart-card service record, 512 announced */
    uint8_t deviceType; /* 1 serial port (and the service record), 0x20 smart card */
    uint32_t valueA;    /* 32 */
    uint16_t valueB;    /* 2 */
    uint16_t valueC;    /* 0 */
    uint16_t valueD;    /* 1 */
    uint16_t valueE;    /* 5 */
    uint32_t valueF;    /* 0 */
    DiChar* name;       /* owned; none on the service record */
};

enum : uint32_t {
    DI_DEV_MAX = 16,
    /* Requests of one channel on workers at once. Each blocking smart-card
     * call and each serial transfer or wait holds one: a session's
     * applications wait on a few readers each and transfer one at a time. */
    DI_DEV_MAX_WORKERS = 64,
};

struct DiDeviceList {
    uint8_t count;
    DiDevice** devices; /* DI_DEV_MAX slots, made on the first add; owned */
    /* Bumped whenever a session opens or closes: a completion answers only
     * the session it was submitted in, never a reopened one. */
    uint32_t generation[256];
};

/* Device channel. */
void diDeviceChannelInit(DiIOChannel* io, int32_t v1, int32_t v2);
/* True when it freed the channel (no request held it). */
bool diDeviceChannelRelease(DiIOChannel* io);
void diDeviceChannelTeardown(DiIOChannel* io);
void diDeviceChannelFreeDevices(DiIOChannel* io);
/* 1 when added (the list then owns the record), 0 when refused. */
int diDeviceAdd(DiIOChannel* io, DiDevice* device);
DiDeviceList* diDeviceListOf(DiIOChannel* io);
/* Frees a record with its class (a serial port's through the serial layer). */
void diDeviceFree(DiDevice* device);
/* A record with the fixed values and an owned copy of the name (none for
 * none); none when out of memory. */
DiDevice* diDeviceMake(DiDeviceClass* cls, uint16_t classCode, uint8_t deviceType,
                       const DiChar* name);

/* Sessions. */
void diDeviceOpenSession(DiIOChannel* io, uint16_t session);
void diDeviceCloseSession(DiIOChannel* io, uint16_t session);

/* Requests. */
void diDeviceSubmitRequest(DiIOChannel* io, const uint8_t* bytes, uint32_t count, uint16_t session);
void diIAIPSetLevel(uint16_t level);
int diIAIPParseRequest(DiDeviceRequest* req, const uint8_t* bytes, uint32_t count);
/* A new reply body (malloc) or none when the request has none. */
uint8_t* diIAIPBuildReply(DiDeviceRequest* req, uint32_t* length);
int diIAIPSendReply(DiIOChannel* io, uint32_t status, uint32_t length, const uint8_t* body,
                    uint16_t stream);

/* Generic device layer. */
DiDeviceRequest* diDeviceRequestAlloc(void);
void diDeviceRequestFree(DiDeviceRequest* req);
void diDeviceRunNow(DiDeviceRequest* req);
/* Runs the request on a worker of its own; without one (the channel's
 * workers are all taken, or none starts) it completes with
 * DI_STATUS_TOO_MANY_THREADS. */
void diDeviceRunOnThread(DiDeviceRequest* req);
/* False when the request's channel has all its workers taken. */
bool diDeviceWorkerFree(const DiDeviceRequest* req);
uintptr_t diDeviceWorkerThread(uintptr_t req);
void diDeviceComplete(DiDeviceRequest* req, uint32_t status);
void diDeviceCompleteOnOwner(DiDeviceRequest* req);
void diDeviceInvalidRequest(DiDeviceRequest* req);

/* The announcement text of a record (see the device list's build): the
 * service record's short form when `index` is 0 and its class code 128, the
 * long form for class code 512; 0 (text empty) for any other record. */
int diDeviceAnnouncement(const DiDevice* device, uint32_t index, DiChar* out, size_t size);

/* Builds the list from the "SerialPorts" text (none or empty: probe COM1 to
 * COM9 with `probe`, which answers the open's error, 0 on success).
 * `makeSerial` makes a port class for a local device name (none: the entry is
 * skipped); `makeSCard` fills a smart-card class table (none: no smart
 * cards). */
void diDeviceListBuild(DiIOChannel* io, const DiChar* serialPorts, uint32_t (*probe)(const DiChar*),
                       DiDeviceClass* (*makeSerial)(const DiChar*), DiDeviceClass* (*makeSCard)());

/* Fills a smart-card class table (each smart-card record owns one). */
void diSCardRegisterClass(DiDeviceClass* cls);

/* Windows side: threads (through the landed thread services), the record's
 * class freeing, and the list build for the outpost's channel. */
void* ddDeviceCurrentThread(void); /* a real handle of the caller, none when there is none */
int ddDeviceStartWorker(DiDeviceRequest* req); /* 1 when diDeviceWorkerThread(req) runs */
/* Queues diDeviceCompleteOnOwner(req) to the thread without allocating: 1
 * when queued. */
int ddDeviceQueueCompletion(void* thread, DiDeviceRequest* req);
void ddDeviceCloseThread(void* thread);
/* Builds the list of the outpost's device channel, or of the given one,
 * from "SerialPorts", the port probe and the smart-card probe. */
void ddDevListBuild(void);
void ddDevListBuildFor(DiIOChannel* io);
/* The outpost's device channel (type 16), or none. */
DiChannel* diSOGetDeviceListChannel(void);

#endif
