#include "core/ddthread.h"

#include <process.h>
#include <stdlib.h>

namespace {

struct CallBlock {
    DdThreadFunc function;
    uintptr_t argument;
};

CallBlock* newBlock(DdThreadFunc function, uintptr_t argument) {
    if (!function) return nullptr;
    CallBlock* b = static_cast<CallBlock*>(malloc(sizeof(CallBlock)));
    if (b) {
        b->function = function;
        b->argument = argument;
    }
    return b;
}

/* Runs the block and frees it before returning the result. */
uintptr_t runBlock(void* block) {
    CallBlock* b = static_cast<CallBlock*>(block);
    uintptr_t r = b->function(b->argument);
    free(b);
    return r;
}

} // namespace

HANDLE ddThreadCreate(DdThreadFunc function, uintptr_t argument, unsigned stackReserve) {
    CallBlock* b = newBlock(function, argument);
    if (!b) return nullptr;
    uintptr_t h = _beginthreadex(nullptr, stackReserve, ddThreadStart, b,
                                 stackReserve ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0, nullptr);
    if (!h) {
        /* The thread never started, so the block is still ours. */
        free(b);
        return nullptr;
    }
    return reinterpret_cast<HANDLE>(h);
}

unsigned __stdcall ddThreadStart(void* block) {
    unsigned result = static_cast<unsigned>(runBlock(block));
    _endthreadex(result);
    return result;
}

void ddThreadCloseHandle(HANDLE thread) {
    if (thread) CloseHandle(thread);
}

HANDLE ddThreadCurrentHandle() {
    HANDLE self = GetCurrentThread();
    HANDLE real = nullptr;
    if (DuplicateHandle(GetCurrentProcess(), self, GetCurrentProcess(), &real, 0, FALSE,
                        DUPLICATE_SAME_ACCESS))
        return real;
    return self;
}
