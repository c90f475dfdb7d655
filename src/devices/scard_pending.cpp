/* The smart-card class until smart-card redirection is built: the records
 * are announced and take sessions, and every request is answered as one the
 * device does not handle. */
#include "devices/didevice.h"

namespace {

void dispatchInvalid(DiDeviceClass*, DiDeviceRequest* req) {
    diDeviceInvalidRequest(req);
}

/* A session needs a context, or the device would drop its requests
 * unanswered; the class table itself serves. */
void* createSession(DiDeviceClass* cls) {
    return cls;
}

void destroySession(DiDeviceClass*, void*) {}

} // namespace

void diSCardRegisterClass(DiDeviceClass* cls) {
    cls->dispatch = dispatchInvalid;
    cls->createSession = createSession;
    cls->destroySession = destroySession;
    cls->run = diDeviceRunNow;
}
