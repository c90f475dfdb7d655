// A local program for launches: launch_probe OUT writes its whole command
// line, as UTF-8, into the file OUT (written whole, then renamed, so that a
// reader never sees a part).
#include <windows.h>
#include <shellapi.h>

#include <string>

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2) return 2;
    const wchar_t* line = GetCommandLineW();
    int need = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(need > 0 ? size_t(need - 1) : 0, '\0');
    if (need > 1) WideCharToMultiByte(CP_UTF8, 0, line, -1, &bytes[0], need, nullptr, nullptr);
    std::wstring tmp = std::wstring(argv[1]) + L".tmp";
    HANDLE h = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return MoveFileExW(tmp.c_str(), argv[1], MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
