/* The Windows side of the bounded waits: a slim reader/writer lock taken
 * exclusively, a condition variable whose sleep takes a relative time-out in
 * milliseconds, and the tick count as the clock that never goes back. Built
 * into the portable core library of the Windows tree in place of
 * ditimedwait.cpp, so that every portable module that waits links it. */
#include "core/ditimedwait.h"

#include <windows.h>

static_assert(sizeof(SRWLOCK) == sizeof(void*), "an SRWLOCK is one pointer");
static_assert(sizeof(CONDITION_VARIABLE) == sizeof(void*), "a CONDITION_VARIABLE is one pointer");

static PSRWLOCK srwOf(void** p) {
    return reinterpret_cast<PSRWLOCK>(p);
}

static PCONDITION_VARIABLE cvOf(void** p) {
    return reinterpret_cast<PCONDITION_VARIABLE>(p);
}

void DiMutex::lock() {
    AcquireSRWLockExclusive(srwOf(&srw));
}

void DiMutex::unlock() {
    ReleaseSRWLockExclusive(srwOf(&srw));
}

bool DiMutex::try_lock() {
    return TryAcquireSRWLockExclusive(srwOf(&srw)) != 0;
}

void DiCondition::notifyOne() {
    WakeConditionVariable(cvOf(&cv));
}

void DiCondition::notifyAll() {
    WakeAllConditionVariable(cvOf(&cv));
}

void DiCondition::wait(std::unique_lock<DiMutex>& hold) {
    SleepConditionVariableSRW(cvOf(&cv), srwOf(&hold.mutex()->srw), INFINITE, 0);
}

void DiCondition::waitAtMost(std::unique_lock<DiMutex>& hold, uint32_t ms) {
    /* INFINITE is all bits set: a wait that long is one tick shorter. */
    SleepConditionVariableSRW(cvOf(&cv), srwOf(&hold.mutex()->srw), ms == INFINITE ? ms - 1 : ms,
                              0);
}

uint32_t DiCondition::clockMs() {
    return GetTickCount();
}

void diSleepMs(uint32_t ms) {
    Sleep(ms);
}
