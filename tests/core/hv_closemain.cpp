// Test helper run under Wine beside the client: "close" waits for the
// client's main frame window and posts WM_CLOSE to it ("close wait": sends
// it, returning once the client handled it); "trace" prints the
// trace file of the temporary folder; "record FILE" stands in for the
// browser.
#include <windows.h>

#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
    if (argc > 1 && strcmp(argv[1], "close") == 0) {
        for (int i = 0; i < 1200; i++) {
            HWND main = FindWindowW(L"QVLFrameClass", nullptr);
            if (main && argc > 2 && strcmp(argv[2], "wait") == 0) {
                LRESULT sent =
                    SendMessageTimeoutW(main, WM_CLOSE, 0, 0, SMTO_NORMAL, 60000, nullptr);
                return sent ? 0 : 1;
            }
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
    if (argc > 2 && strcmp(argv[1], "record") == 0) {
        // Stands in for the browser: keeps a copy of the page it was given
        // in the temporary folder, as "hvrecorded.txt".
        wchar_t out[MAX_PATH + 16];
        GetTempPathW(MAX_PATH, out);
        wcscat(out, L"hvrecorded.tmp");
        FILE* in = fopen(argv[2], "rb");
        FILE* f = _wfopen(out, L"wb");
        if (!in || !f) return 1;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, in)) > 0)
            fwrite(buf, 1, n, f);
        fclose(in);
        fclose(f);
        wchar_t done[MAX_PATH + 16];
        wcscpy(done, out);
        wcscpy(wcsrchr(done, L'.'), L".txt");
        return MoveFileW(out, done) ? 0 : 1;
    }
    return 2;
}
