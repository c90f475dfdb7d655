/* A lock and a condition for waits that end after a time. A bounded wait is
 * relative: it never rests on a deadline of the wall clock, which a user or
 * time synchronisation can move, nor on the 32-bit seconds of the prebuilt
 * thread library of the Windows toolchain (its absolute time-outs end in
 * January 2038). On Windows both are the system's own slim lock and
 * condition variable, whose waits take a time-out in milliseconds; natively,
 * the standard ones.
 *
 * DiMutex meets the standard's Lockable requirements, so std::lock_guard and
 * std::unique_lock hold it. Use it, not std::mutex, wherever a thread waits
 * on a DiCondition; std::condition_variable's timed waits and
 * std::this_thread::sleep_for are not used on Windows. */
#ifndef HV_DITIMEDWAIT_H
#define HV_DITIMEDWAIT_H

#include <stdint.h>

#include <mutex>
#ifndef _WIN32
#include <condition_variable>
#endif

class DiMutex {
  public:
    DiMutex() = default;
    DiMutex(const DiMutex&) = delete;
    DiMutex& operator=(const DiMutex&) = delete;
    void lock();
    void unlock();
    bool try_lock();

  private:
    friend class DiCondition;
#ifdef _WIN32
    void* srw = nullptr; /* an SRWLOCK: one pointer, all bits clear when free */
#else
    std::mutex m;
#endif
};

class DiCondition {
  public:
    DiCondition() = default;
    DiCondition(const DiCondition&) = delete;
    DiCondition& operator=(const DiCondition&) = delete;
    void notifyOne();
    void notifyAll();
    /* Waits, with the lock held on entry and on return, until woken. */
    void wait(std::unique_lock<DiMutex>& hold);
    template <class Pred> void wait(std::unique_lock<DiMutex>& hold, Pred done) {
        while (!done())
            wait(hold);
    }
    /* Waits at most `ms` milliseconds, measured on a clock that never goes
     * back, for `done` to hold; returns what it last answered. */
    template <class Pred> bool waitFor(std::unique_lock<DiMutex>& hold, uint32_t ms, Pred done) {
        uint32_t start = clockMs();
        while (!done()) {
            uint32_t spent = clockMs() - start;
            if (spent >= ms) return done();
            waitAtMost(hold, ms - spent);
        }
        return true;
    }

  private:
    /* Waits until woken or for about `ms` milliseconds, whichever comes
     * first; it may also return early. */
    void waitAtMost(std::unique_lock<DiMutex>& hold, uint32_t ms);
    static uint32_t clockMs();
#ifdef _WIN32
    void* cv = nullptr; /* a CONDITION_VARIABLE: one pointer, clear when new */
#else
    std::condition_variable_any c;
#endif
};

/* Sleeps the calling thread for about `ms` milliseconds. */
void diSleepMs(uint32_t ms);

#endif
