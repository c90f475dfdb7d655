/* The timer list: records in arming order, walked once per dispatch. */
#include "core/ditimer.h"

static DiTimer* s_head;
static DiTimer* s_tail; /* appending is O(1): the walk is the only O(n) */
static int s_running;

DiTimer* diTimerHead(void) {
    return s_head;
}

void diTimerLink(DiTimer* timer) {
    timer->next = nullptr;
    timer->prev = s_tail;
    if (s_tail)
        s_tail->next = timer;
    else
        s_head = timer;
    s_tail = timer;
}

void diTimerUnlink(DiTimer* timer) {
    if (timer->prev)
        timer->prev->next = timer->next;
    else if (s_head == timer)
        s_head = timer->next;
    if (timer->next)
        timer->next->prev = timer->prev;
    else if (s_tail == timer)
        s_tail = timer->prev;
    timer->next = timer->prev = nullptr;
}

void diTimerSweep(void) {
    DiTimer* t = s_head;
    while (t) {
        DiTimer* next = t->next;
        if (t->dead) {
            diTimerUnlink(t);
            ddTimerFree(t);
        }
        t = next;
    }
}

DiTimer* diTimerAdd(uint32_t delay, DiTimerCallback callback, void* arg) {
    DiTimer* t = ddTimerAlloc(delay);
    if (!t) return nullptr;
    t->due = ddTimerNow() + delay;
    t->callback = callback;
    t->arg = arg;
    t->dead = 0;
    diTimerLink(t);
    return t;
}

void diTimerRemove(DiTimer* timer) {
    if (!timer) return;
    if (s_running) {
        timer->dead = 1;
        return;
    }
    diTimerUnlink(timer);
    ddTimerFree(timer);
}

void diTimerDispatch(uint32_t now) {
    if (s_running) return;
    s_running = 1;
    DiTimer* t = s_head;
    while (t) {
        /* The callback may remove or add records: its successor is taken
         * first, and removed records stay linked (dead) until the sweep. A
         * record appended by the last record's callback waits for the next
         * walk. */
        DiTimer* next = t->next;
        if (!t->dead && diTimerIsDue(t->due, now)) {
            uint32_t again = t->callback(t->arg);
            if (again)
                t->due = now + again;
            else
                t->dead = 1;
        }
        t = next;
    }
    s_running = 0;
    diTimerSweep();
}
