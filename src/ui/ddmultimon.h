/* Monitor records: the primary screen, the virtual screen and every monitor
 * with its work area, kept in DdApp for frames and X windows to place
 * themselves by. The multi-monitor functions are bound at run time; tests
 * inject their own in place of the system's. */
#ifndef HV_DDMULTIMON_H
#define HV_DDMULTIMON_H

#include "core/ddapp.h"

/* The functions monitor enumeration uses. A missing enumeration or query
 * function means the system has no multi-monitor support. */
struct DdMultiMonApi {
    int(WINAPI* getSystemMetrics)(int index);
    BOOL(WINAPI* enumDisplayMonitors)(HDC dc, LPCRECT clip, MONITORENUMPROC proc, LPARAM data);
    BOOL(WINAPI* getMonitorInfo)(HMONITOR monitor, LPMONITORINFO info);
    /* The system's work area (the primary monitor's), or NULL. */
    BOOL(WINAPI* getWorkArea)(RECT* work);
};

/* Replaces the system's functions (NULL goes back to them). */
void ddMultiMonSetApi(const DdMultiMonApi* api);

int32_t ddMultiMonVirtualWidth();
int32_t ddMultiMonVirtualHeight();
void ddMultiMonPrimaryRect(DdMonitor* record);
void ddMultiMonVirtualRect(DdMonitor* record);
/* Refreshes the monitor count and table, the primary and the virtual-screen
 * records of g_ddApp. */
void ddMultiMonEnumerate();

#endif
