/* Serial ports on Windows: the port object with its handle and its four
 * overlapped records (read, write, wait, other device controls), each with
 * its own auto-reset event, so one read, one write, one wait and the GUI
 * thread's calls can be outstanding on the handle at once. */
#include "dd.h"

#include "devices/diserial.h"

#include <stdlib.h>
#include <winioctl.h>

namespace {

enum { OV_READ, OV_WRITE, OV_WAIT, OV_CONTROL, OV_COUNT };

struct DdSerialPort {
    DiSerialPort base;
    HANDLE handle;
    OVERLAPPED ov[OV_COUNT];
    /* Set by the close before it cancels. A worker may start its transfer
     * only after the close's cancel ran, which then found nothing to end:
     * the worker ends it itself on seeing the mark. */
    volatile LONG closing;
};

DdSerialPort* portOf(DiSerialPort* p) {
    return reinterpret_cast<DdSerialPort*>(p);
}

typedef BOOL(WINAPI* CancelIoExFn)(HANDLE, LPOVERLAPPED);

/* Ends one outstanding operation; without the call (older systems) the
 * purge and mask calls are all there is. */
void cancelRecord(DdSerialPort* p, int which) {
    static CancelIoExFn cancel = reinterpret_cast<CancelIoExFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CancelIoEx")));
    if (cancel) cancel(p->handle, &p->ov[which]);
}

/* Waits for an operation that the call started; 0 or the Windows error. */
uint32_t finish(DdSerialPort* p, int which, BOOL started, DWORD* n) {
    if (!started) {
        DWORD e = GetLastError();
        if (e != ERROR_IO_PENDING) return e ? e : ERROR_GEN_FAILURE;
    }
    /* A full barrier: either the close's cancel saw this operation, or this
     * sees the close's mark. */
    if (which != OV_CONTROL && InterlockedCompareExchange(&p->closing, 0, 0))
        cancelRecord(p, which);
    if (!GetOverlappedResult(p->handle, &p->ov[which], n, TRUE)) {
        DWORD e = GetLastError();
        return e ? e : ERROR_GEN_FAILURE;
    }
    return 0;
}

OVERLAPPED* fresh(DdSerialPort* p, int which) {
    OVERLAPPED* ov = &p->ov[which];
    HANDLE ev = ov->hEvent;
    ZeroMemory(ov, sizeof *ov);
    ov->hEvent = ev;
    ResetEvent(ev);
    return ov;
}

uint32_t portRead(DiSerialPort* port, uint8_t* buf, uint32_t len, uint32_t* done) {
    DdSerialPort* p = portOf(port);
    DWORD n = 0;
    BOOL ok = ReadFile(p->handle, buf, len, &n, fresh(p, OV_READ));
    uint32_t e = finish(p, OV_READ, ok, &n);
    *done = n;
    return e;
}

uint32_t portWrite(DiSerialPort* port, const uint8_t* buf, uint32_t len, uint32_t* done) {
    DdSerialPort* p = portOf(port);
    DWORD n = 0;
    BOOL ok = WriteFile(p->handle, buf, len, &n, fresh(p, OV_WRITE));
    uint32_t e = finish(p, OV_WRITE, ok, &n);
    *done = n;
    return e;
}

DWORD serialCode(uint32_t fn) {
    return CTL_CODE(FILE_DEVICE_SERIAL_PORT, fn, METHOD_BUFFERED, FILE_ANY_ACCESS);
}

uint32_t portWait(DiSerialPort* port, uint32_t* events) {
    DdSerialPort* p = portOf(port);
    DWORD mask = 0, n = 0;
    BOOL ok = DeviceIoControl(p->handle, serialCode(DI_SERIAL_WAIT_ON_MASK), nullptr, 0, &mask,
                              sizeof mask, &n, fresh(p, OV_WAIT));
    uint32_t e = finish(p, OV_WAIT, ok, &n);
    *events = mask;
    return e;
}

void portCancelReads(DiSerialPort* port) {
    DdSerialPort* p = portOf(port);
    PurgeComm(p->handle, PURGE_RXABORT);
    cancelRecord(p, OV_READ);
}

void portCancelWrites(DiSerialPort* port) {
    DdSerialPort* p = portOf(port);
    PurgeComm(p->handle, PURGE_TXABORT);
    cancelRecord(p, OV_WRITE);
}

void portCancelWait(DiSerialPort* port) {
    DdSerialPort* p = portOf(port);
    DWORD mask = 0;
    if (GetCommMask(p->handle, &mask)) SetCommMask(p->handle, mask);
    cancelRecord(p, OV_WAIT);
}

uint32_t portControl(DiSerialPort* port, uint32_t fn, const void* in, uint32_t inLen, void* out,
                     uint32_t outLen, uint32_t* returned) {
    DdSerialPort* p = portOf(port);
    DWORD n = 0;
    BOOL ok = DeviceIoControl(p->handle, serialCode(fn), const_cast<void*>(in), inLen, out, outLen,
                              &n, fresh(p, OV_CONTROL));
    uint32_t e = finish(p, OV_CONTROL, ok, &n);
    *returned = n;
    return e;
}

uint32_t portImmediate(DiSerialPort* port, uint8_t c, uint32_t* written) {
    DdSerialPort* p = portOf(port);
    DWORD n = 0;
    OVERLAPPED* ov = fresh(p, OV_CONTROL);
    BOOL ok = WriteFile(p->handle, &c, 1, &n, ov);
    if (!ok && GetLastError() == ERROR_IO_PENDING &&
        WaitForSingleObject(ov->hEvent, 1000) == WAIT_TIMEOUT) {
        /* Flow control holds the line: the GUI thread does not wait for it. */
        cancelRecord(p, OV_CONTROL);
        GetOverlappedResult(p->handle, ov, &n, TRUE);
        *written = 0;
        return ERROR_TIMEOUT;
    }
    uint32_t e = finish(p, OV_CONTROL, ok, &n);
    *written = n;
    return e;
}

void portClose(DiSerialPort* port) {
    DdSerialPort* p = portOf(port);
    InterlockedExchange(&p->closing, 1);
    portCancelWait(port);
    portCancelReads(port);
    portCancelWrites(port);
    cancelRecord(p, OV_CONTROL);
}

void portFree(DiSerialPort* port) {
    DdSerialPort* p = portOf(port);
    if (p->handle != INVALID_HANDLE_VALUE) CloseHandle(p->handle);
    for (OVERLAPPED& ov : p->ov)
        if (ov.hEvent) CloseHandle(ov.hEvent);
    free(p);
}

const DiSerialPortOps kPortOps = {
    portRead,       portCancelReads, portWrite,     portCancelWrites, portWait,
    portCancelWait, portControl,     portImmediate, portClose,        portFree,
};

DiSerialPort* ddSerialOpenPort(DiSerialDevice* dev) {
    DdSerialPort* p = static_cast<DdSerialPort*>(calloc(1, sizeof(DdSerialPort)));
    if (!p) return nullptr;
    p->base.ops = &kPortOps;
    p->handle =
        CreateFileW(reinterpret_cast<const wchar_t*>(dev->name), GENERIC_READ | GENERIC_WRITE, 0,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    bool ok = p->handle != INVALID_HANDLE_VALUE;
    for (OVERLAPPED& ov : p->ov)
        if (ok && !(ov.hEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr))) ok = false;
    if (!ok) {
        portFree(&p->base);
        return nullptr;
    }
    return &p->base;
}

} // namespace

DiDeviceClass* ddSerialCreateDevice(const DiChar* name) {
    DiSerialDevice* dev = diSerialDeviceMake(name, ddSerialOpenPort);
    return dev ? &dev->ops : nullptr;
}
