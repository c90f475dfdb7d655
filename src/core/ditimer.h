/* The one timer list of the GUI thread. Timers run from the event loop after
 * each batch of messages and from a shared 100 ms Windows timer, so they keep
 * running inside modal loops. A callback returns its next delay in
 * milliseconds, or 0 to end the timer (its record is then gone: never cancel
 * it afterwards). Not thread-safe: GUI thread only. */
#ifndef HV_DITIMER_H
#define HV_DITIMER_H

#include "di.h"

typedef uint32_t (*DiTimerCallback)(void* arg);

struct DiTimer {
    DiTimer* next;
    DiTimer* prev;
    uint32_t due; /* tick count at or after which it runs */
    DiTimerCallback callback;
    void* arg;
    uint32_t dead;       /* removed while the list was being run */
    uint32_t winTimerId; /* own Windows timer, killed on free; 0 here */
};

/* Arms a timer due at now + delay; none when memory is exhausted. */
DiTimer* diTimerAdd(uint32_t delay, DiTimerCallback callback, void* arg);
/* Cancels a timer; none is ignored. Inside a dispatch it is only marked. */
void diTimerRemove(DiTimer* timer);
/* Runs every due timer once with the same now; nested calls return at once. */
void diTimerDispatch(uint32_t now);
void diTimerLink(DiTimer* timer);
void diTimerUnlink(DiTimer* timer);
void diTimerSweep(void);
/* True when `due` is at or before `now`, across the wrap of the 32-bit
 * millisecond counter (due times less than 2^31 ms apart compare right). */
inline bool diTimerIsDue(uint32_t due, uint32_t now) {
    return (int32_t)(now - due) >= 0;
}
/* The list head (for tests and the shared Windows timer). */
DiTimer* diTimerHead(void);

/* Windows layer: allocation of a zeroed record (starting the shared Windows
 * timer when none runs) and its release. */
DiTimer* ddTimerAlloc(uint32_t delay);
void ddTimerFree(DiTimer* timer);
/* Current millisecond tick count. */
uint32_t ddTimerNow(void);

#endif
