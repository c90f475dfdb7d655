/* Shared declarations of the portable layer: the records that every
 * subsystem passes around. Functions live in per-module headers. */
#ifndef HV_DI_H
#define HV_DI_H

#include "didep.h"

struct DdGC;        /* graphics context wrapper (Windows layer) */
struct DiScaler;    /* display scaler installed on an object */
struct DiChannel;   /* channel object */
struct DiRoute;     /* route hop */
struct DdColorMap;  /* device colour map */

/* Type of a display object, window object or channel. */
enum DiObjectType : uint32_t {
    DI_OBJ_FRAME = 1,
    DI_OBJ_XDE = 5,
    DI_OBJ_TDE = 6,
    DI_OBJ_PROGRESS = 7,
    DI_OBJ_DEMANAGER = 9,
    DI_OBJ_PRINT = 11,
    DI_OBJ_CDM = 12,
    DI_OBJ_LISTENER = 13,
    DI_OBJ_SOAP = 14,
    DI_OBJ_AUDIO = 15,
    DI_OBJ_DEVLIST = 16,
};

/* Event types delivered to display objects. */
enum DiEventType : uint32_t {
    DI_EV_READABLE = 0,
    DI_EV_WRITABLE = 1,
    DI_EV_CLOSED = 2,
    DI_EV_KEY_PRESS = 3,
    DI_EV_KEY_RELEASE = 4,
    DI_EV_MOTION = 5,
    DI_EV_BUTTON_PRESS = 6,
    DI_EV_BUTTON_RELEASE = 7,
    DI_EV_OPEN = 8,
    DI_EV_ACTIVATE = 9,
    DI_EV_DEACTIVATE = 10,
    DI_EV_CLOSE = 11,
    DI_EV_FOCUS_IN = 12,
    DI_EV_FOCUS_OUT = 13,
    DI_EV_EXPOSE = 14,
    DI_EV_GEOMETRY = 15,
    DI_EV_DOUBLE_CLICK = 16,
    DI_EV_COMMAND = 17,
    DI_EV_WINDOW_CLOSED = 18,
    DI_EV_WHEEL = 19,
    DI_EV_RESTACK = 22,
    DI_EV_ACCEPTED = 23,
};

/* An event: eight 32-bit words, cleared by the sender before filling.
 * Word 0 is the type; the meaning of the others depends on it. A word that
 * carries a pointer (the open event's client description) uses `ptr`. */
struct DiEvent {
    uint32_t w[8];
    void* ptr;
};

struct DiObject;
typedef int (*DiEventHandler)(DiObject* obj, DiEvent* ev);

/* The header of every display object, window object and channel. */
struct DiObject {
    DiObject* parent;
    DiEventHandler handler;   /* non-zero when it handled the event */
    DdGC* gc;                 /* owned */
    uint32_t background;      /* 0x00BBGGRR */
    DiObjectType type;
    int32_t width, height;
    int32_t vwidth, vheight;  /* scrollable size */
    int32_t scrollX, scrollY;
    int32_t refCount;
    DiChar* title;            /* owned */
    int32_t scrollStepX, scrollStepY;
    uint32_t scalingAllowed;
    DiScaler* scaler;         /* owned */
};

/* The client description handed to every channel with its open event. */
struct DiClientInfo {
    uint16_t osCode;
    uint16_t osMajor;
    uint16_t osMinor;
    DiChar* platform;       /* "Win32" */
    DiChar* osVersion;      /* "%d.%d" */
    DiChar* platform2;
    DiChar* osVersion2;
    DiChar* processor;      /* "x86", "mips", "alpha", "PowerPC", "Unknown" */
    DiChar* clientVersion;  /* "4.31.953" */
    uint32_t value8192;
};

#endif
