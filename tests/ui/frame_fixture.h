// A frame with its manager view and one engine view, over the real window
// classes; the engine records every event it is handed.
#ifndef HV_TESTS_UI_FRAME_FIXTURE_H
#define HV_TESTS_UI_FRAME_FIXTURE_H

#include "core/ddapp.h"
#include "ui/ddui.h"
#include "ui/ddxhooks.h"
#include "core/ddsetting.h"
#include "core/dide.h"
#include "core/ditimer.h"
#include "devices/dipaip.h"
#include "net/ddnet.h"
#include "session/ddso.h"
#include "session/disoaccess.h"
#include "ui/ddcolor.h"
#include "ui/dddlg.h"
#include "ui/ddgdi.h"
#include "ui/ddmultimon.h"
#include "ui/diui.h"
#include "xde/ddxclip.h"

#include <gtest/gtest.h>

#include <vector>

struct RecordedEvent {
    uint32_t w[8];
};

// An engine: a channel record (its display-object header first) and the
// events it received.
struct TestEngine {
    DiChannel ch{};
    DiObject& hdr = ch.hdr;
    std::vector<RecordedEvent> events;
    int (*onEvent)(TestEngine* e, DiEvent* ev) = nullptr;
    void* arg = nullptr;
};

inline int testEngineHandler(DiObject* obj, DiEvent* ev) {
    TestEngine* e = reinterpret_cast<TestEngine*>(obj);
    RecordedEvent r;
    for (int i = 0; i < 8; i++)
        r.w[i] = ev->w[i];
    e->events.push_back(r);
    return e->onEvent ? e->onEvent(e, ev) : 1;
}

// Events of the given types only, in order.
inline std::vector<RecordedEvent> eventsOf(const TestEngine& e, std::vector<uint32_t> types) {
    std::vector<RecordedEvent> out;
    for (const RecordedEvent& r : e.events)
        for (uint32_t t : types)
            if (r.w[0] == t) out.push_back(r);
    return out;
}

// Runs every queued message; returns true when WM_QUIT was seen (and taken).
inline bool pumpMessages(bool translate = false) {
    bool quit = false;
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.message == WM_QUIT) {
            quit = true;
            continue;
        }
        if (translate) TranslateMessage(&m);
        DispatchMessageW(&m);
    }
    return quit;
}

inline void ensureWindowClasses() {
    static bool done = false;
    if (!done) {
        ASSERT_EQ(1, ddUIInit(nullptr, GetModuleHandleW(nullptr)));
        done = true;
    }
}

struct TestFrame {
    DiFrame* frame = nullptr;
    DiDEManager manager{};
    TestEngine engine;

    DdFrame* dd() { return reinterpret_cast<DdFrame*>(frame); }
    HWND window() { return dd()->window; }
    HWND managerView() { return ddGDIGetWindow(manager.hdr.gc); }
    HWND engineView() { return ddGDIGetWindow(engine.hdr.gc); }

    // A frame of `mode` whose engine of `type` has the virtual size vw x vh.
    void create(uint32_t mode, uint32_t type, int32_t vw, int32_t vh) {
        ensureWindowClasses();
        frame = ddUIFrameCreate(mode, ddGDICreateGC());
        ASSERT_NE(nullptr, frame);
        frame->mode = mode;
        diUIObjectInit(&manager.hdr, DI_OBJ_DEMANAGER, 100, 100);
        manager.hdr.parent = &frame->hdr;
        manager.hdr.gc = ddGDICreateGC();
        HWND mv = ddUICreateView(&frame->hdr, DD_VIEW_ID_MANAGER, 100, 100);
        ASSERT_NE(nullptr, mv);
        ddGDIAttach(manager.hdr.gc, mv, GetDC(mv));
        diUIObjectInit(&engine.hdr, type, vw, vh);
        engine.hdr.handler = testEngineHandler;
        engine.hdr.parent = &manager.hdr;
        engine.hdr.gc = ddGDICreateGC();
        HWND ev = ddUICreateView(&manager.hdr, 100, vw, vh);
        ASSERT_NE(nullptr, ev);
        ddGDIAttach(engine.hdr.gc, ev, GetDC(ev));
        manager.channel = &engine.ch;
        frame->manager = &manager;
        diUIFrameListAppend(frame);
        ShowWindow(mv, SW_SHOWNORMAL);
        ShowWindow(ev, SW_SHOWNORMAL);
    }

    void show() {
        ShowWindow(window(), SW_SHOWNORMAL);
        UpdateWindow(window());
        pumpMessages();
    }

    // Takes the frame out of the list and destroys its windows.
    void destroy() {
        if (!frame) return;
        // Views go first so that their own destruction reaches this engine.
        HWND ev = engineView(), mv = managerView();
        engine.hdr.handler = nullptr;
        if (ev) DestroyWindow(ev);
        if (mv) DestroyWindow(mv);
        if (engine.hdr.gc) ddGDIFreeGC(engine.hdr.gc);
        if (manager.hdr.gc) ddGDIFreeGC(manager.hdr.gc);
        engine.hdr.gc = manager.hdr.gc = nullptr;
        frame->manager = nullptr;
        diUIDestroyFrame(frame);
        frame = nullptr;
        pumpMessages();
    }

    ~TestFrame() { destroy(); }
};

inline RECT childRect(HWND child) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// A shown frame whose X engine view has the focus.
const LPARAM kExtended = LPARAM(1) << 24;
const LPARAM kReleased = (LPARAM(1) << 30) | (LPARAM(1) << 31);

inline LPARAM keyLParam(UINT scan, bool up, bool extended = false) {
    return 1 | (LPARAM(scan) << 16) | (extended ? kExtended : 0) | (up ? kReleased : 0);
}

class View : public ::testing::Test {
  protected:
    TestFrame f;
    void SetUp() override {
        f.create(3, DI_OBJ_XDE, 400, 300);
        f.show();
        ddUILayoutFrame(f.frame);
        SetForegroundWindow(f.window());
        SetFocus(f.engineView());
        pumpMessages();
        g_ddUIModMask = 0;
        f.engine.events.clear();
    }
    void post(UINT msg, WPARAM wp, LPARAM lp) { PostMessageW(f.engineView(), msg, wp, lp); }
    // Key events as (type, code) pairs.
    std::vector<std::pair<uint32_t, uint32_t>> keys() {
        std::vector<std::pair<uint32_t, uint32_t>> out;
        for (const RecordedEvent& r : eventsOf(f.engine, {DI_EV_KEY_PRESS, DI_EV_KEY_RELEASE}))
            out.push_back({r.w[0], r.w[1]});
        return out;
    }
};

using Keys = std::vector<std::pair<uint32_t, uint32_t>>;
const uint32_t P = DI_EV_KEY_PRESS, R = DI_EV_KEY_RELEASE;

#endif
