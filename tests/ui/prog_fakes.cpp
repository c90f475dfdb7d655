/* Recording fakes for the portable progress window's host tests. */
#include "prog_fakes.h"

#include "core/dide.h"
#include "net/dilaip.h"
#include "ui/digdi.h"
#include "ui/diui.h"

#include <map>
#include <string.h>

namespace progfake {

std::vector<Call> calls;
std::vector<DiObject*> destroyed;
std::u16string drawnText;
int32_t fontHeight;
std::vector<DiObject*> slotAtRelease;
DiObject** watchedSlot;
static std::map<int32_t, std::u16string> messages;

void Reset() {
    calls.clear();
    destroyed.clear();
    drawnText.clear();
    fontHeight = 0;
    slotAtRelease.clear();
    watchedSlot = nullptr;
    messages = {
        {8, u"Disconnected"},
        {9, u"Connected"},
        {10, u"Starting the application..."},
        {11, u"Session suspended."},
        {12, u"Session ended."},
        {19, u"Session failed."},
        {21, u"Requesting application server authentication..."},
        {23, u"Connecting to Protocol Engine..."},
        {26, u"Trying again with new information..."},
        {30, u"Session failed: %s"},
        {31, u"Resuming a suspended session..."},
        {32, u"Starting the application..."},
        {62, u"Waiting for the server to respond..."},
        {319, u"About to start the application..."},
        {320, u"Waiting for the Helper to connect..."},
    };
}

int Count(const std::string& name) {
    int n = 0;
    for (const Call& c : calls)
        n += c.name == name;
    return n;
}

const Call* Last(const std::string& name) {
    for (auto it = calls.rbegin(); it != calls.rend(); ++it)
        if (it->name == name) return &*it;
    return nullptr;
}

void SetMessage(int32_t message, const std::u16string& text) {
    messages[message] = text;
}

static void Record(const char* name, int32_t a = 0, int32_t b = 0, int32_t c = 0, int32_t d = 0) {
    calls.push_back({name, a, b, c, d});
}

} // namespace progfake

using namespace progfake;

void diUIObjectInit(DiObject* obj, uint32_t type, int32_t w, int32_t h) {
    memset(obj, 0, sizeof(*obj));
    obj->type = DiObjectType(type);
    obj->width = obj->vwidth = w;
    obj->height = obj->vheight = h;
    obj->background = 0xFFFFFF;
    obj->refCount = 1;
}
void diUIObjectSetParent(DiObject* obj, DiObject* parent, DdGC* gc) {
    obj->parent = parent;
    obj->gc = gc;
}
void diUIObjectRelease(DiObject* obj) {
    Record("release");
    if (watchedSlot) slotAtRelease.push_back(*watchedSlot);
    if (--obj->refCount == 0) destroyed.push_back(obj);
}

void diLAIPFreeDialogState(DiChannel*) {
    Record("laipFree");
}

void ddGDISetFunction(DdGC*, uint32_t f) {
    Record("setFunction", int32_t(f));
}
void ddGDISetForeground(DdGC*, uint32_t c) {
    Record("setForeground", int32_t(c));
}
void ddGDISetBackground(DdGC*, uint32_t c) {
    Record("setBackground", int32_t(c));
}
void ddGDIFillRect(DdGC*, int32_t x, int32_t y, int32_t w, int32_t h) {
    Record("fillRect", x, y, w, h);
}
DiGDIFont* ddGDISelectFont(DdGC*, DiGDIFont*) {
    Record("selectFont");
    return nullptr;
}
int32_t ddProgFontHeight(DdGC*, DiGDIFont*) {
    return fontHeight;
}
void ddGDIDrawText(DdGC*, int32_t x, int32_t y, int32_t w, int32_t h, const DiChar* text,
                   uint32_t) {
    Record("drawText", x, y, w, h);
    drawnText = text;
}
void diGDIReleaseFont(DdGC*, DiGDIFont*) {
    Record("releaseFont");
}

void ddProgUpdate(DiObject*, int32_t state) {
    Record("update", state);
}
void ddProgEnableDetails(DiObject*, int enable) {
    Record("enableDetails", enable);
}
void ddProgShowDetails(DiObject*, int expand) {
    Record("showDetails", expand);
}
int ddProgIsExpanded(DiObject*) {
    return 0;
}
void ddProgStartTimer(DiObject*) {
    Record("startTimer");
}
void ddProgStopTimer(DiObject*) {
    Record("stopTimer");
}
void ddProgRefreshDetails(DiObject*) {
    Record("refreshDetails");
}
int ddProgLoadMessage(int32_t message, DiChar* buffer, int32_t size) {
    auto it = messages.find(message);
    if (it == messages.end() || size <= 0) return 0;
    size_t n = it->second.size() < size_t(size - 1) ? it->second.size() : size_t(size - 1);
    memcpy(buffer, it->second.data(), n * sizeof(DiChar));
    buffer[n] = 0;
    return int(n);
}
