/* The native side of the bounded waits: the standard lock and condition,
 * waited on with a relative time-out of the steady clock. */
#include "core/ditimedwait.h"

#include <chrono>
#include <thread>

void DiMutex::lock() {
    m.lock();
}

void DiMutex::unlock() {
    m.unlock();
}

bool DiMutex::try_lock() {
    return m.try_lock();
}

void DiCondition::notifyOne() {
    c.notify_one();
}

void DiCondition::notifyAll() {
    c.notify_all();
}

void DiCondition::wait(std::unique_lock<DiMutex>& hold) {
    c.wait(hold);
}

void DiCondition::waitAtMost(std::unique_lock<DiMutex>& hold, uint32_t ms) {
    c.wait_for(hold, std::chrono::milliseconds(ms));
}

uint32_t DiCondition::clockMs() {
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void diSleepMs(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
