// A second local process sending a launch record: copydata_sender HWND SIZE
// TEXT sends SIZE bytes with TEXT at byte 3080 from a window of its own.
// Exit code: 1 refused, 103 when the answer "QVLWebtopLaunch" (wParam 103)
// reached its window, 2 when it did not.
#include <windows.h>
#include <shellapi.h>
#include <wchar.h>

#include <stdlib.h>
#include <string.h>
#include <vector>

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 4) return 10;
    HWND target = reinterpret_cast<HWND>(static_cast<uintptr_t>(_wcstoui64(argv[1], nullptr, 10)));
    size_t size = wcstoul(argv[2], nullptr, 10);
    std::vector<unsigned char> record(size, 0);
    size_t n = wcslen(argv[3]);
    for (size_t i = 0; i < n && 3080 + 2 * i + 1 < size; i++)
        memcpy(&record[3080 + 2 * i], &argv[3][i], 2);
    HWND self = CreateWindowExW(0, L"STATIC", L"sender", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr,
                                nullptr, nullptr);
    UINT answer = RegisterWindowMessageW(L"QVLWebtopLaunch");
    COPYDATASTRUCT cds = {};
    cds.cbData = DWORD(size);
    cds.lpData = record.data();
    if (!SendMessageW(target, WM_COPYDATA, reinterpret_cast<WPARAM>(self),
                      reinterpret_cast<LPARAM>(&cds)))
        return 1;
    MSG m;
    while (PeekMessageW(&m, self, 0, 0, PM_REMOVE))
        if (m.message == answer && m.wParam == 103) return 103;
    return 2;
}
