// Test helper run under Wine beside the client: "close" waits for the
// client's main frame window and posts WM_CLOSE to it; "trace" prints the
// trace file of the temporary folder.
#include <windows.h>

#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
    if (argc > 1 && strcmp(argv[1], "close") == 0) {
        for (int i = 0; i < 1200; i++) {
            HWND main = FindWindowW(L"QVLFrameClass", nullptr);
            if (main) {
                PostMessageW(main, WM_CLOSE, 0, 0);
                return 0;
            }
            Sleep(50);
        }
        fprintf(stderr, "no client window\n");
        return 1;
    }
    if (argc > 1 && strcmp(argv[1], "trace") == 0) {
        wchar_t path[MAX_PATH + 16];
        GetTempPathW(MAX_PATH, path);
        wcscat(path, L"KLV.TXT");
        FILE* f = _wfopen(path, L"rb");
        if (!f) return 1;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0)
            fwrite(buf, 1, n, stdout);
        fclose(f);
        return 0;
    }
    return 2;
}
