// The X engine over the recording device, driven by request bytes through
// the wire's handlers, Windows events and a clock that tests step (it
// starts just before the 32-bit millisecond counter wraps).
#ifndef HV_TESTS_ENGINE_HARNESS_H
#define HV_TESTS_ENGINE_HARNESS_H

#include "core/ditimer.h"
#include "fakes/chan_fakes.h"
#include "recording_device.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

extern uint32_t g_engineNow;
extern uint32_t g_engineTick; // added to the clock at every reading
// Local settings the engine reads at initialisation (name to text).
extern std::map<std::u16string, std::u16string> g_engineSettings;

struct Bytes {
    std::string s;
    Bytes& u8(uint32_t v) { s += char(v & 255); return *this; }
    Bytes& u16(uint32_t v) { return u8(v).u8(v >> 8); }
    Bytes& u32(uint32_t v) { return u16(v).u16(v >> 16); }
    Bytes& text(const std::string& t) { u16(uint32_t(t.size())); s += t; return *this; }
    Bytes& raw(const std::string& t) { s += t; return *this; }
};

struct SentMessage {
    int type;
    std::string payload;
    uint32_t u8(size_t i) const { return uint8_t(payload.at(i)); }
    uint32_t u16(size_t i) const { return u8(i) | u8(i + 1) << 8; }
    uint32_t u32(size_t i) const { return u16(i) | u16(i + 2) << 16; }
};

class EngineRig {
public:
    DiXDisplay* d = nullptr;
    DdSocket sock{};

    // A fresh display over the recording device (no session yet).
    void open();
    // Close event, teardown, and the checks every test ends with: every
    // device create matched by its free, no engine timer left.
    void close();
    void request(uint32_t type, const Bytes& b);
    void startSession(uint32_t flags, uint32_t delay, int32_t w, int32_t h, uint32_t depth,
                      uint32_t flags2 = 0);
    void event(uint32_t type, uint32_t w1 = 0, uint32_t w2 = 0, uint32_t w3 = 0,
               uint32_t w4 = 0, uint32_t w5 = 0, uint32_t w6 = 0, uint32_t w7 = 0);
    // Steps the clock by ms, 1 ms at a time, running due timers.
    void advance(uint32_t ms);
    // Client messages sent since the last call.
    std::vector<SentMessage> sent();
    std::vector<int> sentTypes();
};

#endif
