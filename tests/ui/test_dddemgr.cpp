// The display-engine manager's view: made inside the parent frame's window
// with control id 9, the manager's context attached to it, and gone with the
// manager.
#include <gtest/gtest.h>

#include "ui/dddemgr.h"
#include "ui/ddgdi.h"
#include "ui/diui.h"

namespace {

LRESULT CALLBACK frameProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    return DefWindowProcW(h, m, w, l);
}

struct TestFrame {
    DiFrame frame = {};
    HWND window = nullptr;

    explicit TestFrame(uint32_t mode) {
        static ATOM cls;
        if (!cls) {
            WNDCLASSW wc = {};
            wc.style = CS_OWNDC;
            wc.lpfnWndProc = frameProc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = L"HvDEMgrTestFrame";
            cls = RegisterClassW(&wc);
        }
        window = CreateWindowW(L"HvDEMgrTestFrame", L"frame", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480,
                               nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        diUIFrameInit(&frame, 640, 480);
        frame.mode = mode;
        frame.hdr.gc = ddGDICreateGC();
        ddGDIAttach(frame.hdr.gc, window, GetDC(window));
    }
    ~TestFrame() {
        ddGDIFreeGC(frame.hdr.gc);
        DestroyWindow(window);
    }
};

TEST(DEManager, ViewIsAChildOfTheFrameAndGoesWithTheManager) {
    struct {
        uint32_t mode;
        uint32_t background;
    } cases[] = {{1, 0xFFFFFF}, {2, 0}, {3, 0xFFFFFF}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.mode);
        TestFrame parent(c.mode);
        ASSERT_NE(parent.window, nullptr);
        DdGC* gc = ddGDICreateGC();
        DiDEManager* m = ddDEMgrCreate(&parent.frame.hdr, 300, 200, gc);
        ASSERT_NE(m, nullptr);
        HWND view = ddDEMgrView(m);
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(GetParent(view), parent.window);
        EXPECT_EQ(GetDlgCtrlID(view), DD_DEMGR_VIEW_ID);
        RECT r;
        GetClientRect(view, &r);
        EXPECT_EQ(r.right, 300);
        EXPECT_EQ(r.bottom, 200);
        EXPECT_EQ(ddGDIGetWindow(gc), view);
        EXPECT_NE(ddGDIGetDC(gc), nullptr);
        EXPECT_EQ(m->hdr.parent, &parent.frame.hdr);
        EXPECT_EQ(m->hdr.gc, gc);
        EXPECT_EQ(m->hdr.type, DI_OBJ_DEMANAGER);
        EXPECT_EQ(m->hdr.background, c.background);

        // The last release frees the context first and then the manager: the
        // view must still be found and destroyed.
        diUIObjectRelease(&m->hdr);
        EXPECT_FALSE(IsWindow(view));
        EXPECT_EQ(ddDEMgrView(m), nullptr);
    }
}

TEST(DEManager, ManagerHandedBackWithItsContextLetsGoOfTheView) {
    TestFrame parent(1);
    DdGC* gc = ddGDICreateGC();
    DiDEManager* m = ddDEMgrCreate(&parent.frame.hdr, 100, 100, gc);
    ASSERT_NE(m, nullptr);
    HWND view = ddDEMgrView(m);
    ddDEMgrDestroy(m);
    EXPECT_FALSE(IsWindow(view));
    EXPECT_EQ(ddGDIGetWindow(gc), nullptr);
    ddGDIFreeGC(gc);
    ddDEMgrDestroy(nullptr);
}

} // namespace
