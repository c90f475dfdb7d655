/* Numbered messages, message boxes, shell opening and the temporary browser
 * page. */
#include "core/ddmessage.h"

#include "core/ddapp.h"
#include "core/ddevent.h"
#include "core/ditimer.h"
#include "ui/ddui.h"

#include <shellapi.h>
#include <stdlib.h>
#include <wctype.h>

#include <string>

HMODULE g_ddResourceLibrary = nullptr;

int ddLoadMessage(int message, wchar_t* buffer, int size) {
    if (size <= 0) return 0;
    buffer[0] = 0;
    int id = message == 24 && g_ddApp->major4 ? 10 : message + 500;
    int n = g_ddResourceLibrary ? LoadStringW(g_ddResourceLibrary, id, buffer, size) : 0;
    return n > 0 ? n : LoadStringW(g_ddApp->instance, id, buffer, size);
}

int ddMessageBox(HWND window, const wchar_t* text, const wchar_t* caption) {
    wchar_t title[256];
    if (!caption) {
        if (LoadStringW(g_ddApp->instance, 1, title, 256) <= 0) title[0] = 0;
        caption = title;
    }
    /* The flag is a counter so that a box opened from inside another box's
     * modal loop does not release the timers early. */
    g_ddMessageBoxUp++;
    int r = MessageBoxW(window, text, caption, MB_OK | MB_ICONEXCLAMATION);
    g_ddMessageBoxUp--;
    return r;
}

int ddMessageBoxWarnId(HWND window, int stringId) {
    if (stringId == 24 && g_ddApp->major4) stringId = 10;
    wchar_t text[256];
    if (LoadStringW(g_ddApp->instance, stringId, text, 256) <= 0) text[0] = 0;
    return ddMessageBox(window, text, nullptr);
}

bool ddAskYesNoHwnd(HWND window, const wchar_t* text, const wchar_t* caption) {
    wchar_t title[256];
    if (!caption) {
        if (LoadStringW(g_ddApp->instance, 1, title, 256) <= 0) title[0] = 0;
        caption = title;
    }
    return MessageBoxW(window, text, caption, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

int ddMessageBoxInfoHwnd(HWND window, const wchar_t* text, const wchar_t* caption) {
    wchar_t title[256];
    if (!caption) {
        if (LoadStringW(g_ddApp->instance, 1, title, 256) <= 0) title[0] = 0;
        caption = title;
    }
    return MessageBoxW(window, text, caption, MB_OK | MB_ICONINFORMATION);
}

int ddShellOpen(HWND window, const wchar_t* file, const wchar_t* parameters, int show) {
    HINSTANCE r = ShellExecuteW(window, L"open", file, parameters, nullptr, show);
    return reinterpret_cast<INT_PTR>(r) <= 32 ? -1 : 0;
}

int ddShellOpenDefault(const wchar_t* file, const wchar_t* parameters, int) {
    return ddShellOpen(g_ddApp->mainWindow, file, parameters, SW_SHOWNORMAL);
}

int ddShellRun(int mode, const wchar_t* text, int show) {
    if (mode == 0) return ddOpenUrlInBrowser(text);
    if (mode != 1) return show;
    /* The first word is the program; the rest, as written, its parameters. */
    std::wstring line = text ? text : L"";
    size_t start = line.find_first_not_of(L" \t");
    if (start == std::wstring::npos) return -1;
    size_t end;
    if (line[start] == L'"') {
        end = line.find(L'"', start + 1);
        end = end == std::wstring::npos ? line.size() : end + 1;
    } else {
        end = line.find_first_of(L" \t", start);
        if (end == std::wstring::npos) end = line.size();
    }
    std::wstring program = line.substr(start, end - start);
    if (program.size() >= 2 && program.front() == L'"' && program.back() == L'"')
        program = program.substr(1, program.size() - 2);
    size_t rest = line.find_first_not_of(L" \t", end);
    std::wstring params = rest == std::wstring::npos ? L"" : line.substr(rest);
    return ddShellOpen(g_ddApp->mainWindow, program.c_str(),
                       params.empty() ? nullptr : params.c_str(), show);
}

bool ddTempPageText(const wchar_t* url, std::string* out) {
    std::wstring escaped;
    for (const wchar_t* p = url; *p; p++) {
        switch (*p) {
        case L'\r':
        case L'\n':
            return false;
        case L'&':
            escaped += L"&amp;";
            break;
        case L'"':
            escaped += L"&quot;";
            break;
        case L'<':
            escaped += L"&lt;";
            break;
        case L'>':
            escaped += L"&gt;";
            break;
        default:
            escaped += *p;
        }
    }
    std::wstring page =
        L"<TITLE> </TITLE>\r\n<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0;URL=" + escaped + L"\">\r\n";
    int need = WideCharToMultiByte(CP_UTF8, 0, page.c_str(), static_cast<int>(page.size()), nullptr,
                                   0, nullptr, nullptr);
    out->assign(need > 0 ? need : 0, '\0');
    if (need > 0)
        WideCharToMultiByte(CP_UTF8, 0, page.c_str(), static_cast<int>(page.size()), &(*out)[0],
                            need, nullptr, nullptr);
    return true;
}

uint32_t ddDeleteTempPage(void* path) {
    DeleteFileW(static_cast<wchar_t*>(path));
    free(path);
    return 0;
}

/* The names GetTempFileNameW gives with the "QVL" prefix (up to four hex
 * digits), the extension changed to ".htm". */
static bool ddIsTempPageName(const wchar_t* name) {
    size_t n = wcslen(name);
    if (n < 8 || n > 11 || _wcsnicmp(name, L"QVL", 3) != 0 || _wcsicmp(name + n - 4, L".htm") != 0)
        return false;
    for (size_t i = 3; i < n - 4; i++)
        if (!iswxdigit(name[i])) return false;
    return true;
}

void ddDeleteStaleTempPages(void) {
    wchar_t folder[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, folder);
    if (n == 0 || n > MAX_PATH) return;
    std::wstring dir(folder, n);
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((dir + L"QVL*.htm").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    auto ticks = [](const FILETIME& t) {
        return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    const uint64_t minute = 60ull * 10000000; /* the deletion timer's minute, in 100 ns */
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            ddIsTempPageName(found.cFileName) &&
            ticks(found.ftLastWriteTime) + minute <= ticks(now))
            DeleteFileW((dir + found.cFileName).c_str());
    } while (FindNextFileW(h, &found));
    FindClose(h);
}

int ddOpenUrlInBrowser(const wchar_t* url) {
    if (!url) return -1;
    if (g_ddApp->win9x4) return ddShellOpen(nullptr, url, nullptr, SW_SHOWNORMAL);
    std::string page;
    if (!ddTempPageText(url, &page)) return -1;
    wchar_t folder[MAX_PATH + 1], name[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, folder);
    if (n == 0 || n > MAX_PATH || !GetTempFileNameW(folder, L"QVL", 0, name)) return -1;
    /* GetTempFileNameW created an empty placeholder under the .tmp name:
     * remove it; the page itself is created new, never over an existing
     * file. */
    DeleteFileW(name);
    wchar_t* dot = wcsrchr(name, L'.');
    if (!dot || wcslen(name) - (dot - name) < 4) return -1;
    wcscpy(dot, L".htm");
    HANDLE f =
        CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return -1;
    DWORD put = 0;
    bool ok = WriteFile(f, page.data(), static_cast<DWORD>(page.size()), &put, nullptr) &&
              put == page.size();
    CloseHandle(f);
    if (!ok || ddShellOpen(g_ddApp->mainWindow, name, nullptr, SW_SHOWNORMAL) != 0) {
        DeleteFileW(name);
        return -1;
    }
    wchar_t* copy = _wcsdup(name);
    if (!copy || !diTimerAdd(60000, ddDeleteTempPage, copy)) {
        free(copy);
    }
    return 0;
}
