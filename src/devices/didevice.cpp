/* The device channel, its device list and sessions, device requests and the
 * generic device layer (see didevice.h). */
#include "devices/didevice.h"

#include "core/diapp.h"
#include "core/dilog.h"
#include "core/diutil.h"
#include "devices/diserial.h"

#include <stdlib.h>
#include <string.h>

namespace {

uint16_t s_level = 1;

/* The device channel's completion record: the reply goes to the session in
 * which the request arrived, and only while that session is still the one
 * that was open then. */
struct DevCompletion {
    DiDeviceCompletion base;
    DiIOChannel* channel;
    uint16_t session;
    uint32_t generation;
};

size_t textLength(const DiChar* t) {
    size_t n = 0;
    while (t && t[n])
        n++;
    return n;
}

DiChar* textCopy(const DiChar* t, size_t n) {
    DiChar* copy = static_cast<DiChar*>(malloc((n + 1) * sizeof(DiChar)));
    if (!copy) return nullptr;
    if (n) memcpy(copy, t, n * sizeof(DiChar));
    copy[n] = 0;
    return copy;
}

uint8_t* copyBytes(const uint8_t* p, uint32_t n, bool* ok) {
    if (n == 0) return nullptr;
    uint8_t* copy = static_cast<uint8_t*>(malloc(n));
    if (!copy) {
        *ok = false;
        return nullptr;
    }
    if (p)
        memcpy(copy, p, n);
    else
        memset(copy, 0, n);
    return copy;
}

void requestDone(DiDeviceRequest* req, void* arg) {
    DevCompletion* rec = static_cast<DevCompletion*>(arg);
    DiIOChannel* io = rec->channel;
    uint32_t status = req->IoStatus;
    if (diDeviceChannelRelease(io)) {
        diDeviceRequestFree(req);
        free(rec);
        return;
    }
    DiDeviceList* list = diDeviceListOf(io);
    uint32_t deviceId = req->DeviceId;
    if (!list || deviceId >= list->count) {
        diDeviceRequestFree(req);
        free(rec);
        return;
    }
    uint32_t length = 0;
    uint8_t* body = diIAIPBuildReply(req, &length);
    diDeviceRequestFree(req);
    DiDevice* dev = list->devices[deviceId];
    if (body && rec->session < 256 && dev->sessionContext[rec->session] &&
        list->generation[rec->session] == rec->generation)
        diIAIPSendReply(io, status, length, body, rec->session);
    free(body);
    free(rec);
}

void addOrDiscard(DiIOChannel* io, DiDevice* d) {
    if (!diDeviceAdd(io, d)) diDeviceFree(d);
}

/* Appends "name=name" for every COMn whose open fails with anything but
 * "file not found" (a port in use exists too). */
void probePorts(DiChar* list, size_t size, uint32_t (*probe)(const DiChar*)) {
    size_t used = 0;
    list[0] = 0;
    for (int i = 1; i <= 9; i++) {
        DiChar name[8];
        diFormatPositional(name, DI_COUNTOF(name), u"COM%d", {i});
        if (probe(name) == 2) continue;
        if (used >= 1012) break;
        int n =
            diFormatPositional(list + used, size - used, used ? u";%s=%s" : u"%s=%s", {name, name});
        if (n < 0) break;
        used += size_t(n);
    }
}

} // namespace

/* Channel and list. */

void diDeviceChannelInit(DiIOChannel* io, int32_t v1, int32_t v2) {
    diDEChannelInit(&io->ch, DI_OBJ_DEVLIST, v1, v2);
    diIOChannelInit(io);
    io->compressOn = 1;
    io->sessionOpen = diDeviceOpenSession;
    io->sessionClose = diDeviceCloseSession;
    io->priv = calloc(1, sizeof(DiDeviceList));
    io->pending = 0;
}

DiDeviceList* diDeviceListOf(DiIOChannel* io) {
    return io ? static_cast<DiDeviceList*>(io->priv) : nullptr;
}

bool diDeviceChannelRelease(DiIOChannel* io) {
    if (io->pending == 0) {
        free(io);
        return true;
    }
    io->pending--;
    return false;
}

void diDeviceChannelTeardown(DiIOChannel* io) {
    diDeviceChannelFreeDevices(io);
    free(io->priv);
    io->priv = nullptr;
    diIOChannelTeardown(io);
    diDEChannelFree(&io->ch);
}

void diDeviceChannelFreeDevices(DiIOChannel* io) {
    DiDeviceList* list = diDeviceListOf(io);
    if (!list) return;
    for (uint32_t i = 0; i < list->count; i++) {
        DiDevice* d = list->devices[i];
        for (void*& ctx : d->sessionContext) {
            void* c = ctx;
            ctx = nullptr;
            if (c) d->deviceClass->destroySession(d->deviceClass, c);
        }
    }
    for (uint32_t i = 0; i < list->count; i++)
        diDeviceFree(list->devices[i]);
    free(list->devices);
    list->devices = nullptr;
    list->count = 0;
    for (uint32_t& g : list->generation)
        g++;
}

int diDeviceAdd(DiIOChannel* io, DiDevice* device) {
    DiDeviceList* list = diDeviceListOf(io);
    if (!list || !device || !g_ddApp || !g_ddApp->probeOne || list->count >= DI_DEV_MAX) return 0;
    if (!list->devices) {
        list->devices = static_cast<DiDevice**>(calloc(DI_DEV_MAX, sizeof(DiDevice*)));
        if (!list->devices) return 0;
    }
    list->devices[list->count++] = device;
    return 1;
}

DiDevice* diDeviceMake(DiDeviceClass* cls, uint16_t classCode, uint8_t deviceType,
                       const DiChar* name) {
    DiDevice* d = static_cast<DiDevice*>(calloc(1, sizeof(DiDevice)));
    if (!d) return nullptr;
    if (name && !(d->name = textCopy(name, textLength(name)))) {
        free(d);
        return nullptr;
    }
    d->deviceClass = cls;
    d->classCode = classCode;
    d->deviceType = deviceType;
    d->valueA = 32;
    d->valueB = 2;
    d->valueC = 0;
    d->valueD = 1;
    d->valueE = 5;
    d->valueF = 0;
    return d;
}

void diDeviceFree(DiDevice* device) {
    if (!device) return;
    if (device->classCode == 512 && device->deviceType == 1)
        diSerialFreeDevice(reinterpret_cast<DiSerialDevice*>(device->deviceClass));
    else
        free(device->deviceClass);
    free(device->name);
    free(device);
}

/* Sessions. */

void diDeviceOpenSession(DiIOChannel* io, uint16_t session) {
    DiDeviceList* list = diDeviceListOf(io);
    if (!list || session >= 256) return;
    for (uint32_t i = 0; i < list->count; i++) {
        DiDevice* d = list->devices[i];
        if (!d->sessionContext[session])
            d->sessionContext[session] = d->deviceClass->createSession(d->deviceClass);
    }
}

void diDeviceCloseSession(DiIOChannel* io, uint16_t session) {
    DiDeviceList* list = diDeviceListOf(io);
    if (!list || session >= 256) return;
    list->generation[session]++;
    for (uint32_t i = 0; i < list->count; i++) {
        DiDevice* d = list->devices[i];
        void* ctx = d->sessionContext[session];
        d->sessionContext[session] = nullptr;
        if (ctx) d->deviceClass->destroySession(d->deviceClass, ctx);
    }
}

/* Requests. */

void diIAIPHandleRequest(DiIOChannel* io, const uint8_t* payload, uint32_t length,
                         uint16_t stream) {
    diDeviceSubmitRequest(io, payload, length, stream);
}

void diIAIPSetLevel(uint16_t level) {
    s_level = level;
}

int diIAIPParseRequest(DiDeviceRequest* req, const uint8_t* bytes, uint32_t count) {
    DiIOCursor c(bytes, count);
    if (s_level == 2) {
        if (count < 21) return 0;
        req->DeviceId = c.u32();
        req->FileId = c.u32();
        req->CompletionId = c.u32();
        req->MajorFunction = c.u32();
        req->MinorFunction = c.u32();
    } else if (s_level == 1) {
        if (count < 5) return 0;
        req->CompletionId = c.u32();
        req->MajorFunction = DI_DEV_CONTROL;
    } else {
        return 0;
    }
    bool ok = true;
    switch (req->MajorFunction) {
    case DI_DEV_CREATE: {
        req->DesiredAccess = c.u32();
        req->AllocationSize = c.u64();
        req->FileAttributes = c.u32();
        req->SharedAccess = c.u32();
        req->CreateDisposition = c.u32();
        req->CreateOptions = c.u32();
        req->PathLength = c.u32();
        const uint8_t* path = c.bytes(req->PathLength);
        if (!c.ok) return 0;
        req->Path = copyBytes(path, req->PathLength, &ok);
        return ok;
    }
    case DI_DEV_CLOSE:
    case DI_DEV_FLUSH:
    case DI_DEV_CLEANUP:
        return 1;
    case DI_DEV_READ:
        req->Length = c.u32();
        req->Offset = c.u64();
        if (!c.ok) return 0;
        /* The reply carries the bytes read: it must fit one frame. */
        if (req->Length > DI_IO_MAX_TRANSFER) req->Length = DI_IO_MAX_TRANSFER;
        return 1;
    case DI_DEV_WRITE: {
        req->Length = c.u32();
        req->Offset = c.u64();
        c.bytes(20);
        const uint8_t* data = c.bytes(req->Length);
        if (!c.ok) return 0;
        req->BufferSize = req->Length;
        req->Buffer = copyBytes(data, req->Length, &ok);
        return ok;
    }
    case DI_DEV_CONTROL: {
        req->OutputBufferLength = c.u32();
        req->InputBufferLength = c.u32();
        req->IoControlCode = c.u32();
        c.bytes(20);
        const uint8_t* in = c.bytes(req->InputBufferLength);
        if (!c.ok) return 0;
        if (req->OutputBufferLength > DI_IO_MAX_TRANSFER)
            req->OutputBufferLength = DI_IO_MAX_TRANSFER;
        req->InputBuffer = copyBytes(in, req->InputBufferLength, &ok);
        if (ok) req->OutputBuffer = copyBytes(nullptr, req->OutputBufferLength, &ok);
        return ok;
    }
    default:
        return 0;
    }
}

uint8_t* diIAIPBuildReply(DiDeviceRequest* req, uint32_t* length) {
    uint32_t extra = 0;
    const uint8_t* data = nullptr;
    uint32_t dataLength = 0;
    switch (req->MajorFunction) {
    case DI_DEV_CREATE:
    case DI_DEV_CLOSE:
    case DI_DEV_FLUSH:
    case DI_DEV_WRITE:
        extra = 5;
        break;
    case DI_DEV_READ:
        dataLength = req->Length < req->BufferSize ? req->Length : req->BufferSize;
        data = req->Buffer;
        extra = 4 + dataLength;
        break;
    case DI_DEV_CONTROL:
        dataLength =
            req->Returned < req->OutputBufferLength ? req->Returned : req->OutputBufferLength;
        data = req->OutputBuffer;
        extra = 4 + dataLength;
        break;
    default:
        break;
    }
    uint8_t* body = static_cast<uint8_t*>(calloc(1, 8 + extra));
    if (!body) return nullptr;
    diIOPut32(body, req->CompletionId);
    diIOPut32(body + 4, req->IoStatus);
    switch (req->MajorFunction) {
    case DI_DEV_CREATE:
        diIOPut32(body + 8, req->FileId);
        body[12] = req->Information;
        break;
    case DI_DEV_WRITE:
        diIOPut32(body + 8, req->Length);
        break;
    case DI_DEV_READ:
    case DI_DEV_CONTROL:
        diIOPut32(body + 8, dataLength);
        if (dataLength) memcpy(body + 12, data, dataLength);
        break;
    default:
        break;
    }
    *length = 8 + extra;
    return body;
}

int diIAIPSendReply(DiIOChannel* io, uint32_t status, uint32_t length, const uint8_t* body,
                    uint16_t stream) {
    if (length > DI_IO_MAX_REPLY - DI_IO_REQ_HEADER) return -1;
    uint32_t total = length + DI_IO_REQ_HEADER;
    uint8_t* reply = static_cast<uint8_t*>(calloc(1, total));
    if (!reply) return -1;
    diIOPut32(reply, total);
    diIOPut16(reply + 4, DI_IO_KIND_DEVICE);
    diIOPut32(reply + 16, status);
    if (length) memcpy(reply + DI_IO_REQ_HEADER, body, length);
    int r = diIOSendData(io, total, reply, stream);
    free(reply);
    return r;
}

void diDeviceSubmitRequest(DiIOChannel* io, const uint8_t* bytes, uint32_t count,
                           uint16_t session) {
    DiDeviceList* list = diDeviceListOf(io);
    DiDeviceRequest* req = diDeviceRequestAlloc();
    if (!req || !list) {
        diDeviceRequestFree(req);
        return;
    }
    if (!diIAIPParseRequest(req, bytes, count) || req->DeviceId >= list->count || session >= 256) {
        diDeviceRequestFree(req);
        return;
    }
    DiDevice* dev = list->devices[req->DeviceId];
    req->deviceClass = dev->deviceClass;
    req->sessionContext = dev->sessionContext[session];
    DevCompletion* rec = static_cast<DevCompletion*>(calloc(1, sizeof(DevCompletion)));
    if (!req->sessionContext || !rec) {
        free(rec);
        diDeviceRequestFree(req);
        return;
    }
    rec->base.function = requestDone;
    rec->base.arg = rec;
    rec->channel = io;
    rec->session = session;
    rec->generation = list->generation[session];
    req->completion = &rec->base;
    req->workers = &io->workers;
    io->pending++;
    req->deviceClass->run(req);
}

/* Generic device layer. */

DiDeviceRequest* diDeviceRequestAlloc(void) {
    return static_cast<DiDeviceRequest*>(calloc(1, sizeof(DiDeviceRequest)));
}

void diDeviceRequestFree(DiDeviceRequest* req) {
    if (!req) return;
    free(req->Path);
    free(req->Buffer);
    free(req->InputBuffer);
    free(req->OutputBuffer);
    free(req);
}

/* Makes a read's buffer as the read starts; false when there is no memory
 * for it (the request is then complete). */
static bool readyToStart(DiDeviceRequest* req) {
    if (req->MajorFunction != DI_DEV_READ || req->Buffer || !req->Length) return true;
    req->Buffer = static_cast<uint8_t*>(calloc(1, req->Length));
    if (!req->Buffer) {
        diDeviceComplete(req, DI_STATUS_NO_MEMORY);
        return false;
    }
    req->BufferSize = req->Length;
    return true;
}

void diDeviceRunNow(DiDeviceRequest* req) {
    req->ownerThread = nullptr;
    if (readyToStart(req)) req->deviceClass->dispatch(req->deviceClass, req);
}

bool diDeviceWorkerFree(const DiDeviceRequest* req) {
    return !req->workers || *req->workers < DI_DEV_MAX_WORKERS;
}

void diDeviceRunOnThread(DiDeviceRequest* req) {
    req->ownerThread = nullptr;
    if (!diDeviceWorkerFree(req)) {
        diLogErrorText(u"Device request: the channel's workers are all taken; refused");
        diDeviceComplete(req, DI_STATUS_TOO_MANY_THREADS);
        return;
    }
    /* Without a real handle of this thread a worker's completion could not
     * find its way back (a pseudo-handle would name the worker itself). */
    void* owner = ddDeviceCurrentThread();
    if (owner) {
        req->ownerThread = owner;
        req->workerDispatch = req->deviceClass->dispatch;
        if (req->workers) ++*req->workers;
        if (ddDeviceStartWorker(req)) return;
        if (req->workers) --*req->workers;
        req->ownerThread = nullptr;
        ddDeviceCloseThread(owner);
    }
    diDeviceComplete(req, DI_STATUS_TOO_MANY_THREADS);
}

uintptr_t diDeviceWorkerThread(uintptr_t arg) {
    DiDeviceRequest* req = reinterpret_cast<DiDeviceRequest*>(arg);
    /* The completion may free the request before dispatch returns. */
    void* owner = req->ownerThread;
    if (readyToStart(req)) req->workerDispatch(req->deviceClass, req);
    ddDeviceCloseThread(owner);
    return 0;
}

void diDeviceComplete(DiDeviceRequest* req, uint32_t status) {
    req->IoStatus = status;
    DiDeviceCompletion* c = req->completion;
    if (!c || !c->function) return;
    if (!req->ownerThread) {
        c->function(req, c->arg);
        return;
    }
    if (!ddDeviceQueueCompletion(req->ownerThread, req))
        diLogErrorText(u"Device request: its completion could not reach the GUI thread");
}

void diDeviceCompleteOnOwner(DiDeviceRequest* req) {
    req->ownerThread = nullptr;
    /* Back on the GUI thread, before the completion may free the channel. */
    if (req->workers) --*req->workers;
    req->workers = nullptr;
    DiDeviceCompletion* c = req->completion;
    if (c && c->function) c->function(req, c->arg);
}

void diDeviceInvalidRequest(DiDeviceRequest* req) {
    diDeviceComplete(req, DI_STATUS_INVALID_DEVICE_REQUEST);
}

/* List building. */

void diDeviceListBuild(DiIOChannel* io, const DiChar* serialPorts, uint32_t (*probe)(const DiChar*),
                       DiDeviceClass* (*makeSerial)(const DiChar*), DiDeviceClass* (*makeSCard)()) {
    DiDeviceList* target = diDeviceListOf(io);
    /* Built once: a second build would announce every device twice. */
    if (!g_ddApp || !target || target->count) return;
    if (makeSCard) {
        /* The service record, then the card device. */
        for (int i = 0; i < 2; i++) {
            DiDeviceClass* cls = makeSCard();
            DiDevice* d =
                cls ? diDeviceMake(cls, i ? 512 : 128, i ? 0x20 : 1, i ? u"SCARD" : nullptr)
                    : nullptr;
            if (d)
                addOrDiscard(io, d);
            else
                free(cls);
        }
    }
    DiChar list[1024];
    size_t n = textLength(serialPorts);
    if (n == 0) {
        if (probe)
            probePorts(list, DI_COUNTOF(list), probe);
        else
            list[0] = 0;
    } else {
        if (n >= DI_COUNTOF(list)) n = DI_COUNTOF(list) - 1;
        memcpy(list, serialPorts, n * sizeof(DiChar));
        list[n] = 0;
    }
    DiChar* entry = list;
    for (int position = 1; *entry && *entry != u';'; position++) {
        DiChar* end = entry;
        while (*end && *end != u';')
            end++;
        bool last = !*end;
        *end = 0;
        DiChar* eq = entry;
        while (*eq && *eq != u'=')
            eq++;
        DiChar announced[16];
        const DiChar* name = announced;
        if (*eq) {
            *eq = 0;
            name = eq + 1;
        } else {
            diFormatPositional(announced, DI_COUNTOF(announced), u"COM%d", {position});
        }
        DiDeviceClass* cls = makeSerial ? makeSerial(entry) : nullptr;
        if (cls) {
            DiDevice* d = diDeviceMake(cls, 512, 1, name);
            if (!d)
                diSerialFreeDevice(reinterpret_cast<DiSerialDevice*>(cls));
            else
                addOrDiscard(io, d);
        }
        if (last) break;
        entry = end + 1;
    }
}
