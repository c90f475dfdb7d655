// A second program that reads the clipboard as any Windows program does:
// clip_reader FORMAT OUT writes the data of the format (up to its
// terminator) to OUT.tmp, then renames it OUT, so that a waiting test sees
// the file only whole. OUT.none when the clipboard has no such data.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    UINT format = UINT(atoi(argv[1]));
    std::string out = argv[2];
    for (int i = 0; i < 200 && !OpenClipboard(nullptr); i++)
        Sleep(10);
    std::string bytes;
    bool got = false;
    if (HANDLE h = GetClipboardData(format)) {
        if (const char* q = static_cast<const char*>(GlobalLock(h))) {
            size_t n = GlobalSize(h), len = 0;
            if (format == CF_UNICODETEXT)
                while (len + 1 < n && (q[len] || q[len + 1]))
                    len += 2;
            else
                while (len < n && q[len])
                    len++;
            bytes.assign(q, len);
            got = true;
            GlobalUnlock(h);
        }
    }
    CloseClipboard();
    std::string tmp = out + ".tmp";
    FILE* f = fopen(tmp.c_str(), "wb");
    if (!f) return 1;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    return MoveFileExA(tmp.c_str(), (got ? out : out + ".none").c_str(), MOVEFILE_REPLACE_EXISTING)
               ? 0
               : 1;
}
