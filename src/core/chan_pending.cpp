/* Stand-ins for portable services that other parts of the client provide:
 * the timer list, the session layer, the X engine's frame
 * records and the progress window's state. Each is the least its callers
 * here need; the real modules replace this file. */
#include "core/dide.h"
#include "core/ditimer.h"
#include "ui/diprog.h"
#include "ui/diui.h"

#include <stdlib.h>

struct DiTimer {
    DiTimer* next;
    uint32_t due;
    DiTimerCallback callback;
    void* arg;
    uint32_t dead;
};

static DiTimer* s_timers;
static int s_timersRunning;

DiTimer* diTimerAdd(uint32_t delayMs, DiTimerCallback callback, void* arg) {
    DiTimer* t = static_cast<DiTimer*>(calloc(1, sizeof(DiTimer)));
    if (!t) return nullptr;
    t->due = diDEClock() + delayMs;
    t->callback = callback;
    t->arg = arg;
    DiTimer** link = &s_timers;
    while (*link)
        link = &(*link)->next;
    *link = t;
    return t;
}

static void diTimerSweep() {
    for (DiTimer** link = &s_timers; *link;) {
        DiTimer* t = *link;
        if (t->dead) {
            *link = t->next;
            free(t);
        } else {
            link = &t->next;
        }
    }
}

void diTimerRemove(DiTimer* t) {
    if (!t) return;
    t->dead = 1;
    if (!s_timersRunning) diTimerSweep();
}

void diTimerDispatch(uint32_t now) {
    if (s_timersRunning) return;
    s_timersRunning = 1;
    for (DiTimer* t = s_timers; t; t = t->next) {
        if (t->dead || int32_t(now - t->due) < 0) continue;
        uint32_t next = t->callback(t->arg);
        if (next)
            t->due = now + next;
        else
            t->dead = 1;
    }
    s_timersRunning = 0;
    diTimerSweep();
}

void diSOSetLaunchState(DiObject*, int32_t) {}
void diSODisplayObjectClosed(DiObject*) {}
int diSOIsLaunchDialogPending() {
    return 0;
}

void diXDestroyFrameWindow(DiXFrame*) {}

void diProgSetState(DiObject*, int32_t, const DiChar*) {}

#ifdef _WIN32
/* Settings: every setting has its default. */
int32_t ddSettingGetInt(const wchar_t*, int32_t def) { return def; }
#endif
