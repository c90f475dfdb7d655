/* Threads of the core. Workers never touch GUI-side structures: what they
 * produce goes back to the GUI thread as asynchronous procedure calls queued
 * to its handle (ddThreadCurrentHandle), which run the next time that thread
 * waits alertably (inside the event loop's wait). A started thread's heap
 * call block is the only thing handed across, and the thread frees it. */
#ifndef HV_DDTHREAD_H
#define HV_DDTHREAD_H

#include "dd.h"

/* A function taking one word and returning a word. */
typedef uintptr_t (*DdThreadFunc)(uintptr_t arg);

/* Starts a thread running function(argument); returns its handle (close it
 * with ddThreadCloseHandle), or none on failure. stackReserve: the address
 * space its stack reserves (0: the program's default). */
HANDLE ddThreadCreate(DdThreadFunc function, uintptr_t argument, unsigned stackReserve = 0);
/* Thread routine: runs the block, frees it, ends the thread with the result. */
unsigned __stdcall ddThreadStart(void* block);
void ddThreadCloseHandle(HANDLE thread);
/* A real handle of the calling thread, usable from other threads; the
 * pseudo-handle when duplication fails. */
HANDLE ddThreadCurrentHandle();

#endif
