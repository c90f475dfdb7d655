/* Threads of the core. Workers never touch GUI-side structures: what they
 * produce goes back to the GUI thread as queued calls, which run the next
 * time that thread waits alertably (inside the event loop's wait). The heap
 * call block is the only thing handed across, and its receiver frees it. */
#ifndef HV_DDTHREAD_H
#define HV_DDTHREAD_H

#include "dd.h"

/* A function taking one word and returning a word. */
typedef uintptr_t (*DdThreadFunc)(uintptr_t arg);

/* Starts a thread running function(argument); returns its handle (close it
 * with ddThreadCloseHandle), or none on failure. */
HANDLE ddThreadCreate(DdThreadFunc function, uintptr_t argument);
/* Thread routine: runs the block, frees it, ends the thread with the result. */
unsigned __stdcall ddThreadStart(void* block);
void ddThreadCloseHandle(HANDLE thread);
/* A real handle of the calling thread, usable from other threads; the
 * pseudo-handle when duplication fails. */
HANDLE ddThreadCurrentHandle();
/* Queues function(argument) to run on thread; 1 when queued, else 0. */
int ddThreadQueueCall(HANDLE thread, DdThreadFunc function, uintptr_t argument);
/* Queued-call routine: runs the block and frees it. */
void CALLBACK ddThreadApcStart(ULONG_PTR block);

#endif
