/* Serial-port redirection: the device class of one announced port, its port
 * table, the per-session lists of open ports, the request handlers and the
 * per-port read and write queues. The Windows half (ddserial.cpp) opens the
 * port and fills the port operations.
 *
 * Lifetime: a port is held by its slot and by every request that runs on a
 * worker for it (until its completion is back on the GUI thread); a device
 * is held by its list entry and by every port it opened. The last release
 * frees. Closing a port cancels its I/O at once; the handle itself goes with
 * the last holder, so no worker ever waits on freed records. */
#ifndef HV_DISERIAL_H
#define HV_DISERIAL_H

#include "devices/didevice.h"

struct DiSerialPort;
struct DiSerialDevice;

/* Operations on one open port. Results are 0 or a Windows error code. */
struct DiSerialPortOps {
    /* Worker thread: reads up to len bytes, *done the bytes read. */
    uint32_t (*read)(DiSerialPort* p, uint8_t* buf, uint32_t len, uint32_t* done);
    /* Ends the read in progress and drops the input. */
    void (*cancelReads)(DiSerialPort* p);
    /* Worker thread: writes len bytes, *done the bytes written. */
    uint32_t (*write)(DiSerialPort* p, const uint8_t* buf, uint32_t len, uint32_t* done);
    void (*cancelWrites)(DiSerialPort* p);
    /* Worker thread: waits for one of the events of the wait mask. */
    uint32_t (*waitOnMask)(DiSerialPort* p, uint32_t* events);
    /* Ends a wait in progress (the mask is set to itself). */
    void (*cancelWait)(DiSerialPort* p);
    /* GUI thread: the serial driver's function `fn` with its input and
     * output; *returned the output bytes. */
    uint32_t (*control)(DiSerialPort* p, uint32_t fn, const void* in, uint32_t inLen, void* out,
                        uint32_t outLen, uint32_t* returned);
    /* GUI thread: writes one character ahead of the queue on its own
     * record; gives up after a second (1460, timeout). */
    uint32_t (*immediate)(DiSerialPort* p, uint8_t c, uint32_t* written);
    /* Cancels every transfer and wait; the port takes no more work. */
    void (*close)(DiSerialPort* p);
    /* Releases the OS resources and the record (the last holder). */
    void (*free)(DiSerialPort* p);
};

struct DiSerialPort {
    DiDeviceRequest *readHead, *readTail;
    DiDeviceRequest *writeHead, *writeTail;
    const DiSerialPortOps* ops;
    DiSerialDevice* device;
    uint32_t refs;
    uint32_t closed;
    /* A wait on the event mask is on its worker (GUI thread only): the
     * port has one record for it, so a second wait is refused. */
    uint32_t waiting;
};

struct DiSerialDevice {
    DiDeviceClass ops;
    /* Opens the device's port: a record with its operations, or none. */
    DiSerialPort* (*open)(DiSerialDevice* dev);
    uint32_t slotCount;   /* slot 0 is never used */
    DiSerialPort** slots; /* the open ports */
    DiChar* name;         /* the path that is opened */
    uint32_t refs;
};

/* The serial driver's device-control functions the handlers use. */
enum : uint32_t {
    DI_SERIAL_IMMEDIATE_CHAR = 6,
    DI_SERIAL_WAIT_ON_MASK = 18,
    DI_SERIAL_PURGE = 19,
    DI_SERIAL_GET_MODEMSTATUS = 26,
    DI_SERIAL_GET_COMMSTATUS = 27,
    DI_SERIAL_GET_PROPERTIES = 29,
    DI_SERIAL_GET_DTRRTS = 30,
};

enum : uint32_t {
    /* Reads of one port queued at once, the one in progress included: an
     * application keeps one or two reads pending on a port. Only the one in
     * progress holds a buffer. */
    DI_SERIAL_MAX_READS = 32,
    /* Writes of one port queued at once, the one in progress included, and
     * the bytes they hold together. A write holds a copy of its data (up to
     * a request's largest size, which always fits an empty queue); at
     * 115200 baud the byte ceiling is three minutes of output, and an
     * application waits for its writes long before. */
    DI_SERIAL_MAX_WRITES = 32,
    DI_SERIAL_MAX_WRITE_BYTES = 2u << 20,
};

/* A device for the local device name with the class operations, or none. */
DiSerialDevice* diSerialDeviceMake(const DiChar* name, DiSerialPort* (*open)(DiSerialDevice* dev));
/* Drops the list's hold on the device. */
void diSerialFreeDevice(DiSerialDevice* dev);

void diSerialDispatch(DiDeviceClass* cls, DiDeviceRequest* req);
void* diSerialCreateSession(DiDeviceClass* cls);
void diSerialDestroySession(DiDeviceClass* cls, void* session);
void diSerialRunRequest(DiDeviceRequest* req);

/* Windows side. */
DiDeviceClass* ddSerialCreateDevice(const DiChar* name);

#endif
