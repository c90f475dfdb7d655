// A terminal engine on a scripted socket whose drawing lands on a canvas of
// pixels: fills set colours, text and glyphs leave one marked pixel per
// character (code and colour), scrolls move pixels and poison what they
// uncover. A canvas after incremental painting can be compared with one
// made by a full repaint.
#ifndef HV_TESTS_TD_RECORDER_H
#define HV_TESTS_TD_RECORDER_H

#include "fakes/chan_fakes.h"
#include "tde/ditde.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

struct TDCanvas {
    int32_t width = 0, height = 0;
    std::vector<uint64_t> px;
    std::vector<uint8_t> inverted; // parity per pixel; drawing a pixel clears it
    uint64_t at(int32_t x, int32_t y) const { return px[size_t(y) * size_t(width) + size_t(x)]; }
};

struct TDRecord {
    TDCanvas canvas;
    int textCalls = 0, scrollCalls = 0, fills = 0, beeps = 0;
    int liveStrips = 0, putGlyphs = 0;
    int32_t caretWidth = 0, caretHeight = 0, caretX = -1, caretY = -1;
    bool caretShown = false;
    int32_t fontW = 0, fontH = 0; // zero: metrics follow the requested size
    // The view: the visible part of the object (width 0: all of it shows).
    int32_t viewX = 0, viewY = 0, viewW = 0, viewH = 0;
    std::vector<std::pair<int32_t, int32_t>> scrolledTo; // points asked to be shown
};
extern TDRecord g_td;
extern const DiTDOps g_tdRecordingOps;

// Marks of text and glyphs on the canvas.
uint64_t tdTextMark(uint32_t ch, uint32_t fg);

struct TDRig {
    std::unique_ptr<DiTDisplay> t{new DiTDisplay()};
    DdSocket sock{};
    DiDEManager mgr{};
    DiObject progress{};
    DdGC gc{};
    // An engine of width x height pixels, opened (the hello is in
    // g_fakeNet.sent, cleared by sentAndClear).
    explicit TDRig(int32_t width = 640, int32_t height = 400);
    ~TDRig();
    // Queues the bytes in chunks of `chunk` (0: one) and reads as the client
    // does, running at once the resume a time slice that held bytes back
    // armed, until every chunk is taken; returns the last reader result.
    int feed(const std::string& bytes, size_t chunk = 0);
    int event(uint32_t type, uint32_t w1 = 0, uint32_t w2 = 0, uint32_t w3 = 0);
    std::string sentAndClear();
    // A repaint of the whole grid into a fresh canvas.
    TDCanvas fullRepaint();
};

// Builders of server messages.
std::string tdMsg(uint8_t type, const std::string& payload);
std::string tdStart(int rows, int columns,
                    const std::string& tail = std::string("\0\0\x2c\x01", 4));
std::string tdBlocks(const std::string& plain, size_t blockSize, bool oneStream);

#endif
