// Fakes of the device layer's Windows side: threads that run when the test
// says so (workers and queued completions in order), the application
// structure's device flags, and a serial port whose operations are recorded
// and answered from a script.
#ifndef HV_TESTS_DEVICE_FAKES_H
#define HV_TESTS_DEVICE_FAKES_H

#include "devices/diserial.h"

#include <deque>
#include <string>
#include <vector>

struct FakeThreads {
    bool noHandle = false;   // the caller has no real handle
    bool startFails = false; // no worker starts
    bool queueFails = false; // a completion cannot be queued
    std::deque<DiDeviceRequest*> workers;
    std::deque<DiDeviceRequest*> completions;
    int handlesOpen = 0;
};
extern FakeThreads g_fakeThreads;

// Runs the started workers, then the queued completions, until none is left.
void runDeviceThreads();
// Runs only the oldest started worker (false when none).
bool runOneWorker();
void runCompletions();

// One scripted port: every call is appended to `log` of the port's record;
// reads take from `input` (all of it, at most the length), writes go to
// `output` (at most `writeLimit` bytes, as a write that timed out);
// `fail` answers the control function's error.
struct FakePortScript {
    std::string input, output, log;
    uint32_t writeLimit = UINT32_MAX;
    uint32_t controlError = 0; // for every control call
    uint32_t immediateError = 0;
    uint8_t driverOut[64] = {};
    uint32_t lastOutLen = 0; // the output size the driver was asked for
    bool openFails = false;
    int opened = 0, freed = 0;
};
extern FakePortScript g_fakePort;

DiSerialPort* fakePortOpen(DiSerialDevice* dev);

// Device flags of the fake application structure (probeOne set).
void deviceFakesReset();

#endif
