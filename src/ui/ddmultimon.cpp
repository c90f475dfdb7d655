/* Monitor records. GUI thread only. */
#include "ui/ddmultimon.h"

#include <stdlib.h>
#include <string.h>

/* More monitors than this are not believed: the table is sized by it. */
static const int kMaxMonitors = 64;

static DdMultiMonApi s_api;
static bool s_bound;

static int WINAPI ddMultiMonSystemMetrics(int index) {
    return GetSystemMetrics(index);
}

static BOOL WINAPI ddMultiMonWorkArea(RECT* work) {
    return SystemParametersInfoW(SPI_GETWORKAREA, 0, work, 0);
}

static void ddMultiMonBind() {
    if (s_bound) return;
    s_bound = true;
    s_api.getSystemMetrics = ddMultiMonSystemMetrics;
    s_api.getWorkArea = ddMultiMonWorkArea;
    HMODULE user = GetModuleHandleW(L"User32");
    if (!user) return;
    s_api.enumDisplayMonitors = reinterpret_cast<decltype(s_api.enumDisplayMonitors)>(
        reinterpret_cast<void*>(GetProcAddress(user, "EnumDisplayMonitors")));
    s_api.getMonitorInfo = reinterpret_cast<decltype(s_api.getMonitorInfo)>(
        reinterpret_cast<void*>(GetProcAddress(user, "GetMonitorInfoW")));
    if (!s_api.enumDisplayMonitors || !s_api.getMonitorInfo) {
        s_api.enumDisplayMonitors = nullptr;
        s_api.getMonitorInfo = nullptr;
    }
}

void ddMultiMonSetApi(const DdMultiMonApi* api) {
    if (api) {
        s_api = *api;
        s_bound = true;
    } else {
        memset(&s_api, 0, sizeof(s_api));
        s_bound = false;
    }
}

static int ddMultiMonMetric(int index) {
    ddMultiMonBind();
    return s_api.getSystemMetrics ? s_api.getSystemMetrics(index) : 0;
}

int32_t ddMultiMonVirtualWidth() {
    int w = ddMultiMonMetric(SM_CXVIRTUALSCREEN);
    return w ? w : ddMultiMonMetric(SM_CXSCREEN);
}

int32_t ddMultiMonVirtualHeight() {
    int h = ddMultiMonMetric(SM_CYVIRTUALSCREEN);
    return h ? h : ddMultiMonMetric(SM_CYSCREEN);
}

void ddMultiMonPrimaryRect(DdMonitor* r) {
    r->x = r->y = 0;
    r->width = ddMultiMonMetric(SM_CXSCREEN);
    r->height = ddMultiMonMetric(SM_CYSCREEN);
    r->workX = r->workY = 0;
    r->workWidth = r->width;
    r->workHeight = r->height;
}

void ddMultiMonVirtualRect(DdMonitor* r) {
    r->x = ddMultiMonMetric(SM_XVIRTUALSCREEN);
    r->y = ddMultiMonMetric(SM_YVIRTUALSCREEN);
    r->width = ddMultiMonVirtualWidth();
    r->height = ddMultiMonVirtualHeight();
    r->workX = r->workY = r->workWidth = r->workHeight = 0;
}

struct DdMultiMonFill {
    DdApp* app;
    int32_t index;
};

static BOOL CALLBACK ddMultiMonFound(HMONITOR monitor, HDC, LPRECT rect, LPARAM data) {
    DdMultiMonFill* fill = reinterpret_cast<DdMultiMonFill*>(data);
    MONITORINFOEXW info;
    memset(&info, 0, sizeof(info));
    info.cbSize = sizeof(info);
    if (!s_api.getMonitorInfo(monitor, &info) || !rect) return TRUE;
    if (fill->index >= fill->app->monitorCount) return TRUE;
    DdMonitor* r = &fill->app->monitors[fill->index++];
    r->x = rect->left;
    r->y = rect->top;
    r->width = rect->right - rect->left;
    r->height = rect->bottom - rect->top;
    RECT work = info.rcWork;
    /* The primary monitor's work area is the system's: some systems leave
     * the monitor record as it was when the work area is set. */
    RECT system;
    if ((info.dwFlags & MONITORINFOF_PRIMARY) && s_api.getWorkArea && s_api.getWorkArea(&system) &&
        system.left >= rect->left && system.top >= rect->top && system.right <= rect->right &&
        system.bottom <= rect->bottom && system.right > system.left && system.bottom > system.top)
        work = system;
    r->workX = work.left;
    r->workY = work.top;
    r->workWidth = work.right - work.left;
    r->workHeight = work.bottom - work.top;
    if (info.dwFlags & MONITORINFOF_PRIMARY) fill->app->primaryMonitor = *r;
    return TRUE;
}

void ddMultiMonEnumerate() {
    ddMultiMonBind();
    DdApp* app = g_ddApp;
    ddMultiMonPrimaryRect(&app->primaryMonitor);
    ddMultiMonVirtualRect(&app->virtualScreen);
    free(app->monitors);
    app->monitors = nullptr;
    app->monitorCount = 0;
    int n = ddMultiMonMetric(SM_CMONITORS);
    if (n <= 0 || !s_api.enumDisplayMonitors || !s_api.getMonitorInfo) return;
    if (n > kMaxMonitors) n = kMaxMonitors;
    app->monitors = static_cast<DdMonitor*>(calloc(n, sizeof(DdMonitor)));
    if (!app->monitors) return;
    app->monitorCount = n;
    DdMultiMonFill fill = {app, 0};
    s_api.enumDisplayMonitors(nullptr, nullptr, ddMultiMonFound, reinterpret_cast<LPARAM>(&fill));
    /* Monitors whose query failed, or that went away since the count was
     * read, leave no empty records behind. */
    app->monitorCount = fill.index;
    if (fill.index == 0) {
        free(app->monitors);
        app->monitors = nullptr;
    }
}
