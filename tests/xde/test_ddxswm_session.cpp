// A seamless session of the fake X-AIP server over loopback, looked at from
// a second local process as the shell would: one visible top-level window
// per mapped X window with its UTF-8 title, the window kept off the taskbar
// a tool window; after the display goes, no window is left and every
// window's taskbar button was deleted. Run in the shell's desktop
// (HV_SWM_SHELL set), each mapped window also has its taskbar button, and
// the screen is kept as swm_shell.bmp. A raised window stays below another
// application's window that lies above the display's windows. The taskbar's restore and window-menu
// requests and a changed work area reach the server as properties.
#include <gtest/gtest.h>

#include "support/peer_process.h"
#include "support/zorder.h"
#include "ui/ddgdi.h"
#include "ui/ddui.h"
#include "xde/ddxde.h"
#include "xde/ddxswm.h"

#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<std::pair<HWND, int>> g_taskbar;

void recordTaskbar(HWND h, int show) {
    g_taskbar.push_back({h, show});
}

// Runs the observer on this process, pumping messages meanwhile; returns
// its lines.
std::vector<std::string> observe() {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path(exe);
    path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"swm_observer.exe";
    std::string out = "/tmp/hv_swm_observed_" + std::to_string(GetCurrentProcessId()) + "_" +
                      std::to_string(GetTickCount());
    std::wstring cmd = L"\"" + path + L"\" " + std::to_wstring(GetCurrentProcessId()) + L" Z:" +
                       std::wstring(out.begin(), out.end());
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(path.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return {"no observer"};
    for (;;) {
        DWORD r = MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, 30000, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) break;
        if (r != WAIT_OBJECT_0 + 1) {
            TerminateProcess(pi.hProcess, 99);
            break;
        }
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    std::vector<std::string> lines;
    std::ifstream f("Z:" + out);
    for (std::string line; std::getline(f, line);)
        lines.push_back(line);
    DeleteFileA(("Z:" + out).c_str());
    return lines;
}

// Starts the observer's other application: a window shown on top.
PROCESS_INFORMATION startOnTop(const char* title, int ms) {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path(exe);
    path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"swm_observer.exe";
    std::string t(title);
    std::wstring cmd = L"\"" + path + L"\" top \"" + std::wstring(t.begin(), t.end()) + L"\" " +
                       std::to_wstring(ms);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(path.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return PROCESS_INFORMATION{};
    return pi;
}

// The visible windows' lines ("owned tool title"), sorted.
std::vector<std::string> visible(const std::vector<std::string>& lines) {
    std::vector<std::string> v;
    for (auto& l : lines)
        if (l.rfind("1 ", 0) == 0) v.push_back(l.substr(2));
    std::sort(v.begin(), v.end());
    return v;
}

// The shell's taskbar buttons (BUTTON children of its tray window, each
// with the window's handle as its control id) that are shown.
std::set<HWND> trayButtons(HWND tray) {
    std::set<HWND> v;
    for (HWND b = FindWindowExW(tray, nullptr, L"Button", nullptr); b;
         b = FindWindowExW(tray, b, L"Button", nullptr))
        if (IsWindowVisible(b)) v.insert(reinterpret_cast<HWND>(GetWindowLongPtrW(b, GWLP_ID)));
    return v;
}

// The screen as a 24-bit BMP file.
bool saveScreen(const char* path) {
    int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bm = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(mem, bm);
    BitBlt(mem, 0, 0, w, h, screen, 0, 0, SRCCOPY);
    SelectObject(mem, old);
    BITMAPINFOHEADER bi{};
    bi.biSize = sizeof bi;
    bi.biWidth = w;
    bi.biHeight = h;
    bi.biPlanes = 1;
    bi.biBitCount = 24;
    DWORD stride = DWORD((w * 3 + 3) & ~3), size = stride * DWORD(h);
    std::vector<char> bits(size);
    GetDIBits(mem, bm, 0, UINT(h), bits.data(), reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS);
    DeleteObject(bm);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof bi;
    fh.bfSize = fh.bfOffBits + size;
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(&fh), sizeof fh);
    f.write(reinterpret_cast<const char*>(&bi), sizeof bi);
    f.write(bits.data(), std::streamsize(size));
    return bool(f);
}

LRESULT CALLBACK plainProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    return DefWindowProcW(h, m, w, l);
}

TEST(SeamlessSession, ASecondProcessSeesOneWindowPerMappedXWindow) {
    ASSERT_TRUE(hvSocketSinkInit());
    ASSERT_EQ(1, ddUIInit(nullptr, GetModuleHandleW(nullptr)));
    ddSWMSetTaskbarRecorder(recordTaskbar);
    WNDCLASSW wc{};
    wc.lpfnWndProc = plainProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"HvSWMSessionTest";
    wc.style = CS_OWNDC;
    RegisterClassW(&wc);
    // The display's own view stays hidden: only the X windows show.
    HWND window = CreateWindowExW(0, L"HvSWMSessionTest", L"session", WS_POPUP, 0, 0, 640, 480,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    DiChannel* ch = diDECreateChannel(nullptr, DI_OBJ_XDE, 640, 480);
    ASSERT_NE(ch, nullptr);
    ddGDIAttach(ch->hdr.gc, window, GetDC(window));
    DiXDisplay* d = reinterpret_cast<DiXDisplay*>(ch);

    Peer peer;
    ASSERT_TRUE(peer.reservePortFile());
    std::string result = peer.portFile + ".result";
    ASSERT_TRUE(peer.start("xaip_peer.py serve swm-windows --result-file " + result, ""));
    ch->open = 1;
    ASSERT_EQ(ddNetSocketOpen(ch->socket, 1, 1), 0);
    ASSERT_EQ(diNetConnect(ch->socket, u"127.0.0.1", uint16_t(peer.port), 0), 0);
    ddNetSelectEvents(ch->socket, DD_NET_READ | DD_NET_WRITE | DD_NET_CLOSE,
                      DD_NET_READ | DD_NET_CLOSE);
    std::vector<HWND> frames;
    auto allMapped = [&] {
        frames.clear();
        for (uint32_t id = 1; id <= 4; id++) {
            DiXWindow* w = d->windows[id];
            HWND h =
                w && w->frame ? GetAncestor(ddGDIGetWindow(w->frame->hdr.gc), GA_ROOT) : nullptr;
            if (!h || !IsWindowVisible(h)) return false;
            frames.push_back(h);
        }
        return true;
    };
    hvPumpUntil(allMapped, 30000);
    ASSERT_TRUE(allMapped());
    EXPECT_EQ(d->dev, ddXSWMDeviceVector());
    hvPumpUntil([] { return false; }, 300);

    auto seen = visible(observe());
    EXPECT_EQ(seen, (std::vector<std::string>{"0 0 ", "0 0 Größe ✓ main", "0 0 Größe ✓ transient",
                                              "0 1 Größe ✓ tool"}));
    // In the shell's desktop every mapped window has its button.
    const bool shell = getenv("HV_SWM_SHELL") != nullptr;
    HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
    if (shell) {
        ASSERT_NE(tray, nullptr);
        hvPumpUntil([&] { return trayButtons(tray).size() >= frames.size(); }, 5000);
        std::set<HWND> buttons = trayButtons(tray);
        for (HWND h : frames)
            EXPECT_EQ(buttons.count(h), 1u) << h;
        EXPECT_TRUE(saveScreen("swm_shell.bmp"));
    }

    // Another application's window on top: raising a window of the display,
    // which does not hold the focus, leaves that window above.
    PROCESS_INFORMATION other = startOnTop("hv swm other", 20000);
    ASSERT_NE(other.hProcess, nullptr);
    HWND above = nullptr;
    hvPumpUntil([&] { return (above = FindWindowA(nullptr, "hv swm other")) != nullptr; }, 20000);
    ASSERT_NE(above, nullptr);
    SetWindowPos(above, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    g_ddXFocusedDisplay = nullptr;
    diXRestackWindow(d, 2, 0, 0);
    diXRestackWindow(d, 2, 255, 0);
    std::vector<HWND> order;
    for (HWND h : hvTopLevelOrder())
        if (h == above || std::find(frames.begin(), frames.end(), h) != frames.end())
            order.push_back(h);
    ASSERT_EQ(order.size(), 5u);
    EXPECT_EQ(order[0], above);
    EXPECT_EQ(order[1], frames[1]);
    TerminateProcess(other.hProcess, 0);
    CloseHandle(other.hProcess);
    CloseHandle(other.hThread);

    // The taskbar's restore and window-menu requests, and a new work area.
    SendMessageW(frames[0], WM_SYSCOMMAND, SC_RESTORE, 0);
    SendMessageW(frames[0], 0x0313, 0, MAKELPARAM(30, 40));
    RECT saved{}, smaller;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &saved, 0);
    smaller = saved;
    smaller.bottom -= 48;
    ASSERT_TRUE(SystemParametersInfoW(SPI_SETWORKAREA, 0, &smaller, SPIF_SENDCHANGE));
    char area[64];
    snprintf(area, sizeof area, "1,%ld,%ld,%ld,%ld", long(smaller.left), long(smaller.top),
             long(smaller.right - smaller.left), long(smaller.bottom - smaller.top));
    // The notice the system sends every top-level window (this Wine's
    // SPI_SETWORKAREA does not broadcast it); the frame window waits for the
    // settings to settle before it sends.
    SendMessageW(frames[0], WM_SETTINGCHANGE, SPI_SETWORKAREA, 0);
    hvPumpUntil([] { return false; }, 1500);
    SystemParametersInfoW(SPI_SETWORKAREA, 0, &saved, 0);

    // The connection goes with the windows mapped.
    g_taskbar.clear();
    diDEDestroyChannel(ch);
    for (HWND h : frames)
        EXPECT_FALSE(IsWindow(h));
    std::set<HWND> deleted;
    for (auto& t : g_taskbar)
        if (t.second == 0) deleted.insert(t.first);
    EXPECT_EQ(deleted, std::set<HWND>(frames.begin(), frames.end()));
    EXPECT_TRUE(visible(observe()).empty());
    if (shell) {
        hvPumpUntil([&] { return trayButtons(tray).empty(); }, 5000);
        std::set<HWND> buttons = trayButtons(tray);
        for (HWND h : frames)
            EXPECT_EQ(buttons.count(h), 0u) << h;
    }

    hvPumpUntil(
        [&] { return GetFileAttributesA(("Z:" + result).c_str()) != INVALID_FILE_ATTRIBUTES; });
    std::ifstream f("Z:" + result);
    std::string verdict;
    std::getline(f, verdict);
    EXPECT_EQ(verdict, "ok");
    // Property sets the server read, as "window name value".
    std::vector<std::string> props;
    auto unhex = [](const std::string& h) {
        std::string s;
        for (size_t i = 0; h != "-" && i + 1 < h.size(); i += 2)
            s += char(std::stoi(h.substr(i, 2), nullptr, 16));
        return s;
    };
    for (std::string line; std::getline(f, line);) {
        if (line.rfind("17 ", 0) != 0) continue;
        size_t a = line.find(' ', 3), b = line.find(' ', a + 1);
        props.push_back(unhex(line.substr(3, a - 3)) + " " + unhex(line.substr(a + 1, b - a - 1)) +
                        " " + unhex(line.substr(b + 1)));
    }
    auto has = [&](const std::string& p) {
        return std::find(props.begin(), props.end(), p) != props.end();
    };
    EXPECT_TRUE(has("1 qvl-swm-syscommand 61728"));
    EXPECT_TRUE(has("1 qvl-swm-syscommand 63520,30,40"));
    EXPECT_TRUE(has(std::string(" qvl-swm-clientinfo ") + area));
    f.close();
    DeleteFileA(("Z:" + result).c_str());
    ddSWMSetTaskbarRecorder(nullptr);
    DestroyWindow(window);
}

} // namespace
