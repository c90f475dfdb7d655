// Stands in for a PDF reader: writes its command line (UTF-16, as the
// system gave it) to the file HV_READER_LOG names, whole or not at all.
#include <windows.h>

#include <string>

int main() {
    wchar_t log[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"HV_READER_LOG", log, MAX_PATH);
    if (!n || n >= MAX_PATH) return 2;
    std::wstring tmp = std::wstring(log) + L".tmp";
    HANDLE f = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 1;
    const wchar_t* line = GetCommandLineW();
    DWORD written = 0;
    WriteFile(f, line, DWORD(wcslen(line) * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(f);
    return MoveFileExW(tmp.c_str(), log, MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
