// A device vector for engine tests: it logs every call as one line, fails
// any slot on request and draws for real through src/fb, as the Windows
// side will: pixmaps, GCs and glyphs are frame-buffer records, the root
// window owns one pixel buffer every window shares, and a separate
// "screen" changes only through slot-16 paints.
#ifndef HV_TESTS_RECORDING_DEVICE_H
#define HV_TESTS_RECORDING_DEVICE_H

#include "xde/dixde.h"

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

struct RecordingDevice {
    std::vector<std::string> log;
    bool record = true; // false: no log lines (benchmarks)
    std::set<std::string> fail; // slot numbers ("4") or extras ("frame") that fail
    int probeAnswer = 1;        // slot 31
    int32_t borders[4] = {4, 4, 24, 4};
    uint32_t frameStyle = 0; // the Windows style new frames get
    uint32_t addDamageFlags = 0; // validation adds these for windows (1: update area)
    std::function<void()> onPaint;
    // Runs inside slots 18, 19 and 30, as window messages do on Windows.
    std::function<void(int slot, DiXWindow* w)> onSlot;
    // Records made and not yet freed, by kind ("pixmap", "frame", ...).
    std::map<const void*, std::string> live;
    int paints = 0;
    uint32_t cursorBytesSum = 0; // of the bits slot 27 read
    // The screen: root-sized, the root buffer's layout.
    std::vector<uint8_t> screen;
    FbBuffer root{};
    std::vector<std::u16string> urls, launches, sounds;
    std::vector<std::string> plugin;
    int32_t pluginResult = 7;

    // Lines of the log that start with prefix.
    std::vector<std::string> with(const std::string& prefix) const;
    // Log lines kept since the mark, and a new mark.
    size_t mark() const { return log.size(); }
    std::vector<std::string> since(size_t mark) const;
    // True when the screen's pixels equal the root buffer's.
    bool screenMatchesBuffer() const;
    // The screen as an RGB PNG (depth 8 through the display's colormap).
    bool writeScreenPng(const std::string& path, const DiXDisplay* d) const;
};

extern RecordingDevice g_rdev;
const DdXDeviceVector* recordingDevice();

#endif
