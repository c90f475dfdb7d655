// Monitor records from injected monitor layouts (the system under Wine shows
// one monitor), and from the system itself.
#include <gtest/gtest.h>

#include "ui/ddmultimon.h"

#include <map>
#include <vector>

namespace {

struct FakeMonitor {
    RECT rect;
    RECT work;
    bool primary;
    bool queryFails;
};

std::vector<FakeMonitor> s_monitors;
std::map<int, int> s_metrics;
RECT s_workArea; /* the system's work area; empty: none */

BOOL WINAPI fakeWorkArea(RECT* work) {
    *work = s_workArea;
    return TRUE;
}

int WINAPI fakeMetrics(int index) {
    auto it = s_metrics.find(index);
    return it == s_metrics.end() ? 0 : it->second;
}

BOOL WINAPI fakeEnum(HDC, LPCRECT, MONITORENUMPROC proc, LPARAM data) {
    for (size_t i = 0; i < s_monitors.size(); i++) {
        RECT r = s_monitors[i].rect;
        if (!proc(reinterpret_cast<HMONITOR>(i + 1), nullptr, &r, data)) return TRUE;
    }
    return TRUE;
}

BOOL WINAPI fakeInfo(HMONITOR h, LPMONITORINFO info) {
    size_t i = reinterpret_cast<size_t>(h) - 1;
    if (i >= s_monitors.size() || s_monitors[i].queryFails || info->cbSize != 104) return FALSE;
    info->rcMonitor = s_monitors[i].rect;
    info->rcWork = s_monitors[i].work;
    info->dwFlags = s_monitors[i].primary ? MONITORINFOF_PRIMARY : 0;
    return TRUE;
}

void expectRecord(const DdMonitor& m, std::vector<int32_t> want) {
    std::vector<int32_t> got = {m.x,     m.y,     m.width,     m.height,
                                m.workX, m.workY, m.workWidth, m.workHeight};
    EXPECT_EQ(got, want);
}

class MultiMonTest : public ::testing::Test {
  protected:
    DdApp app = {};
    DdApp* saved = nullptr;
    void SetUp() override {
        saved = g_ddApp;
        g_ddApp = &app;
        s_metrics = {{SM_CXSCREEN, 1280},        {SM_CYSCREEN, 1024},
                     {SM_XVIRTUALSCREEN, -1024}, {SM_YVIRTUALSCREEN, -200},
                     {SM_CXVIRTUALSCREEN, 3584}, {SM_CYVIRTUALSCREEN, 1224}};
        // Left of the primary, the primary, and one above-right of it.
        s_monitors = {
            {{-1024, 0, 0, 768}, {-1024, 0, 0, 740}, false, false},
            {{0, 0, 1280, 1024}, {0, 30, 1280, 1024}, true, false},
            {{1280, -200, 2560, 824}, {1280, -200, 2560, 824}, false, false},
        };
    }
    void TearDown() override {
        s_workArea = RECT{};
        free(app.monitors);
        g_ddApp = saved;
        ddMultiMonSetApi(nullptr);
    }
    void inject(bool withFunctions = true) {
        DdMultiMonApi api = {fakeMetrics, withFunctions ? fakeEnum : nullptr,
                             withFunctions ? fakeInfo : nullptr,
                             s_workArea.right ? fakeWorkArea : nullptr};
        ddMultiMonSetApi(&api);
    }
};

TEST_F(MultiMonTest, EveryMonitorIsRecordedAndThePrimaryReplacesTheScreenRecord) {
    s_metrics[SM_CMONITORS] = 3;
    inject();
    ddMultiMonEnumerate();
    ASSERT_EQ(app.monitorCount, 3);
    expectRecord(app.monitors[0], {-1024, 0, 1024, 768, -1024, 0, 1024, 740});
    expectRecord(app.monitors[1], {0, 0, 1280, 1024, 0, 30, 1280, 994});
    expectRecord(app.monitors[2], {1280, -200, 1280, 1024, 1280, -200, 1280, 1024});
    expectRecord(app.primaryMonitor, {0, 0, 1280, 1024, 0, 30, 1280, 994});
    expectRecord(app.virtualScreen, {-1024, -200, 3584, 1224, 0, 0, 0, 0});

    // A second enumeration replaces the table.
    s_monitors.pop_back();
    s_metrics[SM_CMONITORS] = 2;
    ddMultiMonEnumerate();
    EXPECT_EQ(app.monitorCount, 2);
}

// The system's work area, once set, is the primary monitor's even where the
// monitor's own record still shows the old one; one lying off the primary
// monitor is not taken.
TEST_F(MultiMonTest, PrimaryWorkAreaFollowsTheSystems) {
    s_metrics[SM_CMONITORS] = 3;
    s_workArea = RECT{0, 0, 1280, 984};
    inject();
    ddMultiMonEnumerate();
    expectRecord(app.primaryMonitor, {0, 0, 1280, 1024, 0, 0, 1280, 984});
    expectRecord(app.monitors[0], {-1024, 0, 1024, 768, -1024, 0, 1024, 740});
    s_workArea = RECT{-100, 0, 1280, 984};
    ddMultiMonEnumerate();
    expectRecord(app.primaryMonitor, {0, 0, 1280, 1024, 0, 30, 1280, 994});
}

TEST_F(MultiMonTest, LayoutsWithoutUsableMonitorInformation) {
    struct {
        const char* what;
        int monitors;
        bool functions;
        int failing;
        int count;
    } cases[] = {
        {"no multi-monitor functions", 3, false, -1, 0},
        {"no monitor count", 0, true, -1, 0},
        {"a failed query is skipped, not left empty", 3, true, 0, 2},
        {"more monitors than counted", 2, true, -1, 2},
        {"every query fails", 3, true, 3, 0},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        s_metrics[SM_CMONITORS] = c.monitors;
        if (c.failing == 3)
            for (auto& m : s_monitors)
                m.queryFails = true;
        else if (c.failing >= 0)
            s_monitors[c.failing].queryFails = true;
        inject(c.functions);
        ddMultiMonEnumerate();
        EXPECT_EQ(app.monitorCount, c.count);
        if (c.count == 0) {
            EXPECT_EQ(app.monitors, nullptr);
        }
        if (c.failing == 0) {
            expectRecord(app.monitors[0], {0, 0, 1280, 1024, 0, 30, 1280, 994});
        }
        if (!c.functions || c.count == 0) {
            expectRecord(app.primaryMonitor, {0, 0, 1280, 1024, 0, 0, 1280, 1024});
        }
        free(app.monitors);
        app.monitors = nullptr;
    }
}

TEST_F(MultiMonTest, VirtualSizeFallsBackToTheScreen) {
    s_metrics[SM_CXVIRTUALSCREEN] = 0;
    s_metrics[SM_CYVIRTUALSCREEN] = 0;
    inject();
    EXPECT_EQ(ddMultiMonVirtualWidth(), 1280);
    EXPECT_EQ(ddMultiMonVirtualHeight(), 1024);
}

TEST_F(MultiMonTest, TheSystemShowsItsScreen) {
    ddMultiMonSetApi(nullptr);
    ddMultiMonEnumerate();
    ASSERT_GE(app.monitorCount, 1);
    EXPECT_EQ(app.primaryMonitor.width, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(app.primaryMonitor.height, GetSystemMetrics(SM_CYSCREEN));
    EXPECT_EQ(app.virtualScreen.width, ddMultiMonVirtualWidth());
}

} // namespace
