/* Serial-port device class (see diserial.h). */
#include "devices/diserial.h"

#include "core/dilog.h"

#include <stdlib.h>
#include <string.h>

namespace {

/* The slots a session opened. */
struct SerialSession {
    uint32_t capacity, count;
    uint32_t* slots;
};

/* Put in front of a request that runs on a worker: it holds the port until
 * the completion is back on the GUI thread, then hands the request on. */
struct SerialCont {
    DiDeviceCompletion base;
    DiDeviceCompletion* saved;
    DiSerialPort* port;
};

enum Action : uint8_t { NONE, CONTROL, NOP, NOT_IMPLEMENTED, SPECIAL };

/* Device-control functions 1-39: the input and output the server must give,
 * the bytes the driver takes or gives, and what is done. */
struct ControlEntry {
    uint8_t in, out, driverOut;
    Action action;
};

const ControlEntry kControls[40] = {
    {0, 0, 0, NONE},            /* 0 */
    {4, 0, 0, CONTROL},         /* 1 SET_BAUD_RATE */
    {8, 0, 0, CONTROL},         /* 2 SET_QUEUE_SIZE */
    {3, 0, 0, CONTROL},         /* 3 SET_LINE_CONTROL */
    {0, 0, 0, CONTROL},         /* 4 SET_BREAK_ON */
    {0, 0, 0, CONTROL},         /* 5 SET_BREAK_OFF */
    {1, 0, 0, SPECIAL},         /* 6 IMMEDIATE_CHAR */
    {20, 0, 0, CONTROL},        /* 7 SET_TIMEOUTS */
    {0, 20, 20, CONTROL},       /* 8 GET_TIMEOUTS */
    {0, 0, 0, CONTROL},         /* 9 SET_DTR */
    {0, 0, 0, CONTROL},         /* 10 CLR_DTR */
    {0, 0, 0, NOP},             /* 11 RESET_DEVICE */
    {0, 0, 0, CONTROL},         /* 12 SET_RTS */
    {0, 0, 0, CONTROL},         /* 13 CLR_RTS */
    {0, 0, 0, CONTROL},         /* 14 SET_XOFF */
    {0, 0, 0, CONTROL},         /* 15 SET_XON */
    {0, 4, 4, CONTROL},         /* 16 GET_WAIT_MASK */
    {4, 0, 0, SPECIAL},         /* 17 SET_WAIT_MASK */
    {0, 4, 4, SPECIAL},         /* 18 WAIT_ON_MASK */
    {4, 0, 0, SPECIAL},         /* 19 PURGE */
    {0, 4, 4, CONTROL},         /* 20 GET_BAUD_RATE */
    {0, 3, 3, CONTROL},         /* 21 GET_LINE_CONTROL */
    {0, 6, 6, CONTROL},         /* 22 GET_CHARS */
    {6, 0, 0, CONTROL},         /* 23 SET_CHARS */
    {0, 16, 16, CONTROL},       /* 24 GET_HANDFLOW */
    {16, 0, 0, CONTROL},        /* 25 SET_HANDFLOW */
    {0, 4, 4, CONTROL},         /* 26 GET_MODEMSTATUS */
    {0, 18, 20, SPECIAL},       /* 27 GET_COMMSTATUS: the driver's record is 20 */
    {9, 0, 0, NOP},             /* 28 XOFF_COUNTER */
    {0, 62, 64, CONTROL},       /* 29 GET_PROPERTIES: the driver's record is 64 */
    {0, 4, 4, SPECIAL},         /* 30 GET_DTRRTS */
    {1, 0, 0, NOP},             /* 31 LSRMST_INSERT */
    {0, 0, 0, NOP},             /* 32 CONFIG_SIZE */
    {0, 0, 0, NOT_IMPLEMENTED}, /* 33 GET_COMMCONFIG */
    {0, 0, 0, NOT_IMPLEMENTED}, /* 34 SET_COMMCONFIG */
    {0, 24, 24, CONTROL},       /* 35 GET_STATS */
    {0, 0, 0, CONTROL},         /* 36 CLEAR_STATS */
    {0, 4, 4, CONTROL},         /* 37 GET_MODEM_CONTROL */
    {4, 0, 0, CONTROL},         /* 38 SET_MODEM_CONTROL */
    {4, 0, 0, NOP},             /* 39 SET_FIFO_CONTROL */
};

const uint32_t ERROR_TIMEOUT_CODE = 1460;

uint32_t winStatus(uint32_t e) {
    if (e == 0) return DI_STATUS_SUCCESS;
    if (e == ERROR_TIMEOUT_CODE) return DI_STATUS_TIMEOUT;
    return 0x80070000u | (e & 0xFFFF);
}

uint32_t functionOf(const DiDeviceRequest* req) {
    return (req->IoControlCode >> 2) & 0xFFF;
}

DiSerialDevice* deviceOf(DiDeviceRequest* req) {
    return reinterpret_cast<DiSerialDevice*>(req->deviceClass);
}

void deviceRelease(DiSerialDevice* dev) {
    if (--dev->refs) return;
    free(dev->slots);
    free(dev->name);
    free(dev);
}

void portHold(DiSerialPort* p) {
    p->refs++;
}

void portRelease(DiSerialPort* p) {
    if (--p->refs) return;
    DiSerialDevice* dev = p->device;
    p->ops->free(p);
    if (dev) deviceRelease(dev);
}

bool sessionHas(const SerialSession* s, uint32_t slot) {
    for (uint32_t i = 0; s && i < s->count; i++)
        if (s->slots[i] == slot) return true;
    return false;
}

/* The port of the request's FileId, when the request's own session opened
 * it: another session's port is not this session's to use. */
DiSerialPort* findPort(DiDeviceRequest* req) {
    DiSerialDevice* dev = deviceOf(req);
    uint32_t slot = req->FileId;
    if (slot == 0 || slot >= dev->slotCount || !dev->slots[slot]) return nullptr;
    if (!sessionHas(static_cast<SerialSession*>(req->sessionContext), slot)) return nullptr;
    return dev->slots[slot];
}

DiDeviceRequest** headOf(DiSerialPort* p, uint32_t major) {
    return major == DI_DEV_READ ? &p->readHead : &p->writeHead;
}

DiDeviceRequest** tailOf(DiSerialPort* p, uint32_t major) {
    return major == DI_DEV_READ ? &p->readTail : &p->writeTail;
}

/* Completes every request queued behind the one in progress. */
void cancelQueued(DiSerialPort* p, uint32_t major) {
    DiDeviceRequest* head = *headOf(p, major);
    if (!head) return;
    DiDeviceRequest* r = head->link;
    head->link = nullptr;
    *tailOf(p, major) = head;
    while (r) {
        DiDeviceRequest* next = r->link;
        r->link = nullptr;
        diDeviceComplete(r, DI_STATUS_CANCELLED);
        r = next;
    }
}

void contDone(DiDeviceRequest* req, void* arg);

/* Runs the request on a worker with the port held: 0, or the status the
 * request is to complete with when it could not start. A request past the
 * channel's workers is refused here, before it holds anything: completed
 * from inside the start, the next head of its queue would start from
 * inside that completion, one frame deeper for every request queued. */
uint32_t startOnWorker(DiSerialPort* p, DiDeviceRequest* req) {
    if (!diDeviceWorkerFree(req)) return DI_STATUS_TOO_MANY_THREADS;
    SerialCont* k = static_cast<SerialCont*>(calloc(1, sizeof(SerialCont)));
    if (!k) return DI_STATUS_NO_MEMORY;
    k->base.function = contDone;
    k->base.arg = k;
    k->saved = req->completion;
    k->port = p;
    portHold(p);
    req->completion = &k->base;
    diDeviceRunOnThread(req);
    return 0;
}

/* Starts the head of a queue; a head that cannot start completes and the
 * next one is tried. */
void startHead(DiSerialPort* p, uint32_t major) {
    DiDeviceRequest** head = headOf(p, major);
    while (*head && !p->closed) {
        DiDeviceRequest* r = *head;
        uint32_t status = startOnWorker(p, r);
        if (!status) return;
        *head = r->link;
        if (!*head) *tailOf(p, major) = nullptr;
        r->link = nullptr;
        diDeviceComplete(r, status);
    }
}

void contDone(DiDeviceRequest* req, void* arg) {
    SerialCont* k = static_cast<SerialCont*>(arg);
    DiSerialPort* p = k->port;
    DiDeviceCompletion* saved = k->saved;
    free(k);
    req->completion = saved;
    uint32_t major = req->MajorFunction;
    if (major == DI_DEV_CONTROL) p->waiting = 0; /* the only control run on a worker */
    bool queued = (major == DI_DEV_READ || major == DI_DEV_WRITE) && *headOf(p, major) == req;
    if (queued) {
        *headOf(p, major) = req->link;
        if (!req->link) *tailOf(p, major) = nullptr;
        req->link = nullptr;
    }
    if (saved && saved->function) saved->function(req, saved->arg);
    if (queued) startHead(p, major);
    portRelease(p);
}

/* True when the request does not fit its queue: the head transfer waits as
 * long as the timeouts and flow control the server set allow, so what may
 * wait behind it is bounded by count and, for writes, by the bytes held.
 * The head may be running on its worker: only a write's buffer size, set
 * when the request was read and never written by the worker, is summed. */
bool queueFull(DiSerialPort* p, const DiDeviceRequest* req) {
    uint32_t major = req->MajorFunction, n = 0;
    uint64_t bytes = req->BufferSize;
    for (const DiDeviceRequest* r = *headOf(p, major); r; r = r->link) {
        n++;
        if (major == DI_DEV_WRITE) bytes += r->BufferSize;
    }
    if (major == DI_DEV_READ) return n >= DI_SERIAL_MAX_READS;
    return n >= DI_SERIAL_MAX_WRITES || bytes > DI_SERIAL_MAX_WRITE_BYTES;
}

void enqueue(DiDeviceRequest* req) {
    DiSerialPort* p = findPort(req);
    if (!p) {
        diDeviceComplete(req, DI_STATUS_INVALID_HANDLE);
        return;
    }
    uint32_t major = req->MajorFunction;
    if (queueFull(p, req)) {
        diLogErrorText(major == DI_DEV_READ ? u"Serial port: too many reads queued; one refused"
                                            : u"Serial port: too many writes queued; one refused");
        diDeviceComplete(req, DI_STATUS_INSUFFICIENT_RESOURCES);
        return;
    }
    req->IoStatus = DI_STATUS_PENDING;
    req->link = nullptr;
    DiDeviceRequest** tail = tailOf(p, major);
    bool wasEmpty = !*headOf(p, major);
    if (*tail)
        (*tail)->link = req;
    else
        *headOf(p, major) = req;
    *tail = req;
    if (wasEmpty) startHead(p, major);
}

/* Closes the port in the slot: cancels what runs and completes what waits,
 * and drops the slot's hold. */
void closeSlot(DiSerialDevice* dev, uint32_t slot) {
    DiSerialPort* p = dev->slots[slot];
    dev->slots[slot] = nullptr;
    if (!p) return;
    p->closed = 1;
    p->ops->close(p);
    cancelQueued(p, DI_DEV_READ);
    cancelQueued(p, DI_DEV_WRITE);
    portRelease(p);
}

void removeFromSession(SerialSession* s, uint32_t slot) {
    for (uint32_t i = 0; s && i < s->count; i++) {
        if (s->slots[i] != slot) continue;
        s->slots[i] = s->slots[--s->count];
        return;
    }
}

void onCreate(DiSerialDevice* dev, DiDeviceRequest* req) {
    SerialSession* s = static_cast<SerialSession*>(req->sessionContext);
    req->FileId = 0;
    DiSerialPort* p = dev->open ? dev->open(dev) : nullptr;
    if (!p) {
        diDeviceComplete(req, DI_STATUS_UNSUCCESSFUL);
        return;
    }
    p->device = nullptr;
    p->refs = 1;
    uint32_t slot = 1;
    while (slot < dev->slotCount && dev->slots[slot])
        slot++;
    bool ok = true;
    if (slot >= dev->slotCount) {
        DiSerialPort** grown = static_cast<DiSerialPort**>(
            realloc(dev->slots, (size_t(dev->slotCount) + 16) * sizeof(DiSerialPort*)));
        if (grown) {
            memset(grown + dev->slotCount, 0, 16 * sizeof(DiSerialPort*));
            dev->slots = grown;
            dev->slotCount += 16;
        } else {
            ok = false;
        }
    }
    if (ok && s && s->count == s->capacity) {
        uint32_t* grown = static_cast<uint32_t*>(
            realloc(s->slots, (size_t(s->capacity) + 16) * sizeof(uint32_t)));
        if (grown) {
            s->slots = grown;
            s->capacity += 16;
        } else {
            ok = false;
        }
    }
    if (!ok || !s) {
        p->closed = 1;
        p->ops->close(p);
        portRelease(p);
        diDeviceComplete(req, DI_STATUS_NO_MEMORY);
        return;
    }
    p->device = dev;
    dev->refs++;
    dev->slots[slot] = p;
    s->slots[s->count++] = slot;
    req->FileId = slot;
    diDeviceComplete(req, DI_STATUS_SUCCESS);
}

void onClose(DiSerialDevice* dev, DiDeviceRequest* req) {
    if (!findPort(req)) {
        diDeviceComplete(req, DI_STATUS_INVALID_HANDLE);
        return;
    }
    removeFromSession(static_cast<SerialSession*>(req->sessionContext), req->FileId);
    closeSlot(dev, req->FileId);
    diDeviceComplete(req, DI_STATUS_SUCCESS);
}

/* Runs on the worker: the port comes from the continuation, never from the
 * slot table, which the GUI thread may change meanwhile. */
void onTransfer(DiDeviceRequest* req) {
    SerialCont* k = static_cast<SerialCont*>(static_cast<void*>(req->completion));
    DiSerialPort* p = k->port;
    uint32_t done = 0, e;
    if (req->MajorFunction == DI_DEV_READ)
        e = p->ops->read(p, req->Buffer, req->Length, &done);
    else
        e = p->ops->write(p, req->Buffer, req->Length, &done);
    req->Length = done <= req->Length ? done : req->Length;
    diDeviceComplete(req, winStatus(e));
}

void onWait(DiDeviceRequest* req) {
    SerialCont* k = static_cast<SerialCont*>(static_cast<void*>(req->completion));
    uint32_t events = 0;
    uint32_t e = k->port->ops->waitOnMask(k->port, &events);
    if (e == 0) {
        for (int i = 0; i < 4; i++)
            req->OutputBuffer[i] = uint8_t(events >> (8 * i));
        req->Returned = 4;
    }
    diDeviceComplete(req, winStatus(e));
}

/* Every queued write's size as sent; the running head's worker overwrites
 * its Length with the bytes done, so that field is not read here. */
uint32_t queuedWriteBytes(const DiSerialPort* p) {
    uint64_t sum = 0;
    for (const DiDeviceRequest* r = p->writeHead; r; r = r->link)
        sum += r->BufferSize;
    return sum > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(sum);
}

void onControl(DiDeviceRequest* req) {
    uint32_t fn = functionOf(req);
    const ControlEntry& c = kControls[fn];
    DiSerialPort* p = findPort(req);
    if (!p) {
        diDeviceComplete(req, DI_STATUS_INVALID_HANDLE);
        return;
    }
    if (req->InputBufferLength < c.in || req->OutputBufferLength < c.out) {
        diDeviceComplete(req, DI_STATUS_BUFFER_TOO_SMALL);
        return;
    }
    if (c.action == NOP || c.action == NOT_IMPLEMENTED) {
        diDeviceComplete(req, c.action == NOP ? DI_STATUS_SUCCESS : DI_STATUS_NOT_IMPLEMENTED);
        return;
    }
    uint8_t out[64] = {};
    uint32_t returned = 0, e = 0;
    switch (fn) {
    case DI_SERIAL_IMMEDIATE_CHAR: {
        uint32_t written = 0;
        e = p->ops->immediate(p, req->InputBuffer[0], &written);
        if (e == 0 && written == 0) {
            diDeviceComplete(req, DI_STATUS_UNSUCCESSFUL);
            return;
        }
        if (e == 0 && req->OutputBufferLength) req->Returned = 1, req->OutputBuffer[0] = 0;
        diDeviceComplete(req, winStatus(e));
        return;
    }
    case 17: /* SET_WAIT_MASK */
        p->ops->cancelWait(p);
        e = p->ops->control(p, fn, req->InputBuffer, 4, nullptr, 0, &returned);
        break;
    case DI_SERIAL_PURGE: {
        e = p->ops->control(p, fn, req->InputBuffer, 4, nullptr, 0, &returned);
        uint32_t mask = uint32_t(req->InputBuffer[0]) | uint32_t(req->InputBuffer[1]) << 8 |
                        uint32_t(req->InputBuffer[2]) << 16 | uint32_t(req->InputBuffer[3]) << 24;
        /* Only the abort bits end transfers; the clear bits drop buffered
         * bytes and leave requests alone. */
        if (mask & 2) {
            p->ops->cancelReads(p);
            cancelQueued(p, DI_DEV_READ);
        }
        if (mask & 1) {
            p->ops->cancelWrites(p);
            cancelQueued(p, DI_DEV_WRITE);
        }
        break;
    }
    case DI_SERIAL_GET_COMMSTATUS:
        e = p->ops->control(p, fn, nullptr, 0, out, c.driverOut, &returned);
        if (e == 0) {
            uint32_t driverOut = uint32_t(out[12]) | uint32_t(out[13]) << 8 |
                                 uint32_t(out[14]) << 16 | uint32_t(out[15]) << 24;
            uint64_t sum = uint64_t(driverOut) + queuedWriteBytes(p);
            diIOPut32(out + 12, sum > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(sum));
        }
        break;
    case DI_SERIAL_GET_DTRRTS:
        e = p->ops->control(p, DI_SERIAL_GET_MODEMSTATUS, nullptr, 0, out, 4, &returned);
        out[0] = uint8_t(out[0] & ~3u);
        break;
    default:
        e = p->ops->control(p, fn, req->InputBuffer, c.in, c.driverOut ? out : nullptr, c.driverOut,
                            &returned);
        break;
    }
    /* A failed call answers its error and no data: the output buffer was
     * never filled. */
    if (e == 0 && c.out) {
        memcpy(req->OutputBuffer, out, c.out);
        req->Returned = c.out;
    }
    diDeviceComplete(req, winStatus(e));
}

} // namespace

DiSerialDevice* diSerialDeviceMake(const DiChar* name, DiSerialPort* (*open)(DiSerialDevice*)) {
    DiSerialDevice* dev = static_cast<DiSerialDevice*>(calloc(1, sizeof(DiSerialDevice)));
    if (!dev) return nullptr;
    size_t n = 0;
    while (name && name[n])
        n++;
    dev->name = static_cast<DiChar*>(malloc((n + 1) * sizeof(DiChar)));
    dev->slots = static_cast<DiSerialPort**>(calloc(16, sizeof(DiSerialPort*)));
    if (!dev->name || !dev->slots) {
        free(dev->name);
        free(dev->slots);
        free(dev);
        return nullptr;
    }
    if (n) memcpy(dev->name, name, n * sizeof(DiChar));
    dev->name[n] = 0;
    dev->slotCount = 16;
    dev->ops.dispatch = diSerialDispatch;
    dev->ops.createSession = diSerialCreateSession;
    dev->ops.destroySession = diSerialDestroySession;
    dev->ops.run = diSerialRunRequest;
    dev->open = open;
    dev->refs = 1;
    return dev;
}

void diSerialFreeDevice(DiSerialDevice* dev) {
    if (!dev) return;
    /* Ports still open close here; holders of the device keep it. */
    for (uint32_t slot = 1; slot < dev->slotCount; slot++)
        if (dev->slots[slot]) closeSlot(dev, slot);
    deviceRelease(dev);
}

void* diSerialCreateSession(DiDeviceClass*) {
    SerialSession* s = static_cast<SerialSession*>(calloc(1, sizeof(SerialSession)));
    if (!s) return nullptr;
    s->slots = static_cast<uint32_t*>(calloc(16, sizeof(uint32_t)));
    if (!s->slots) {
        free(s);
        return nullptr;
    }
    s->capacity = 16;
    return s;
}

void diSerialDestroySession(DiDeviceClass* cls, void* context) {
    DiSerialDevice* dev = reinterpret_cast<DiSerialDevice*>(cls);
    SerialSession* s = static_cast<SerialSession*>(context);
    if (!s) return;
    for (uint32_t i = 0; i < s->count; i++)
        if (s->slots[i] < dev->slotCount) closeSlot(dev, s->slots[i]);
    free(s->slots);
    free(s);
}

void diSerialRunRequest(DiDeviceRequest* req) {
    switch (req->MajorFunction) {
    case DI_DEV_CREATE:
    case DI_DEV_CLOSE:
        diDeviceRunNow(req);
        return;
    case DI_DEV_READ:
    case DI_DEV_WRITE:
        enqueue(req);
        return;
    case DI_DEV_CONTROL: {
        uint32_t fn = functionOf(req);
        if (fn == 0 || fn >= 40) break;
        if (fn != DI_SERIAL_WAIT_ON_MASK) {
            diDeviceRunNow(req);
            return;
        }
        DiSerialPort* p = findPort(req);
        if (!p) {
            diDeviceComplete(req, DI_STATUS_INVALID_HANDLE);
        } else if (req->OutputBufferLength < 4) {
            diDeviceComplete(req, DI_STATUS_BUFFER_TOO_SMALL);
        } else if (p->waiting) {
            /* As the serial driver answers a second pending wait. */
            diDeviceComplete(req, DI_STATUS_INVALID_PARAMETER);
        } else {
            req->IoStatus = DI_STATUS_PENDING;
            /* Marked first: a worker that cannot start completes at once. */
            p->waiting = 1;
            uint32_t status = startOnWorker(p, req);
            if (status) {
                p->waiting = 0;
                diDeviceComplete(req, status);
            }
        }
        return;
    }
    case 5:
    case 6:
    case 9:
    case 10:
    case 11:
    case 12:
    case 13:
    case 16:
    case 17:
    case 18:
    case 20:
    case 21:
        diDeviceRunNow(req);
        return;
    default:
        break;
    }
    diDeviceInvalidRequest(req);
}

void diSerialDispatch(DiDeviceClass* cls, DiDeviceRequest* req) {
    DiSerialDevice* dev = reinterpret_cast<DiSerialDevice*>(cls);
    switch (req->MajorFunction) {
    case DI_DEV_CREATE:
        onCreate(dev, req);
        return;
    case DI_DEV_CLOSE:
        onClose(dev, req);
        return;
    case DI_DEV_READ:
    case DI_DEV_WRITE:
        onTransfer(req);
        return;
    case DI_DEV_CONTROL:
        if (functionOf(req) == DI_SERIAL_WAIT_ON_MASK)
            onWait(req);
        else
            onControl(req);
        return;
    default:
        diDeviceInvalidRequest(req);
        return;
    }
}
