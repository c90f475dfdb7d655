/* The one timer list of the application thread. */
#ifndef HV_DITIMER_H
#define HV_DITIMER_H

#include "didep.h"

struct DiTimer;

/* Returns the next delay in milliseconds, or 0 to end the timer. */
typedef uint32_t (*DiTimerCallback)(void* arg);

/* Arms a timer due after delayMs: the record (held only to cancel it), or
 * none when memory is short. A callback that returned 0 must not be removed
 * afterwards: its record is gone. */
DiTimer* diTimerAdd(uint32_t delayMs, DiTimerCallback callback, void* arg);
void diTimerRemove(DiTimer* t);
/* Runs the timers due at or before now (u32 ticks). */
void diTimerDispatch(uint32_t now);

#endif
