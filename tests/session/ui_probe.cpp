// ui_probe, run under Wine beside the client:
//   tip          prints, as UTF-8 lines, the texts the visible tooltip windows
//                show (asked with WM_GETTEXT, which a tooltip answers with the
//                tip it shows; the message crosses processes); exit 1 when
//                none shows a text.
//   ping STOP    sends WM_NULL with a 200 ms limit to the client's main
//                window, again and again until the file STOP exists (at most
//                five minutes); prints how many were answered and missed
//                and the longest answer's time;
//                exit 0 when none was missed, 3 when the window went away.
//   count CLASS  prints how many windows of that class there are, top-level
//                or inside one, shown or hidden.
#include <windows.h>

#include <stdio.h>
#include <string.h>

static BOOL CALLBACK visitTip(HWND w, LPARAM found) {
    wchar_t cls[64];
    if (!IsWindowVisible(w) || !GetClassNameW(w, cls, 64) || lstrcmpiW(cls, L"tooltips_class32"))
        return TRUE;
    wchar_t text[512] = {0};
    DWORD_PTR n = 0;
    if (!SendMessageTimeoutW(w, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                             2000, &n) ||
        !text[0])
        return TRUE;
    char bytes[1600];
    if (WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr) > 0) {
        printf("%s\n", bytes);
        *reinterpret_cast<int*>(found) = 1;
    }
    return TRUE;
}

struct ClassCount {
    wchar_t name[64];
    int count;
};

static BOOL CALLBACK countClass(HWND w, LPARAM arg) {
    ClassCount* c = reinterpret_cast<ClassCount*>(arg);
    wchar_t cls[64];
    if (GetClassNameW(w, cls, 64) && !lstrcmpiW(cls, c->name)) c->count++;
    return TRUE;
}

static BOOL CALLBACK countInTopLevel(HWND w, LPARAM arg) {
    countClass(w, arg);
    EnumChildWindows(w, countClass, arg); /* all descendants */
    return TRUE;
}

static int ping(const char* stop) {
    HWND main = nullptr;
    for (int i = 0; i < 200 && !main; i++) {
        main = FindWindowW(L"QVLFrameClass", nullptr);
        if (!main) Sleep(50);
    }
    if (!main) {
        fprintf(stderr, "no client window\n");
        return 2;
    }
    unsigned answered = 0, missed = 0;
    DWORD start = GetTickCount(), longest = 0;
    while (GetFileAttributesA(stop) == INVALID_FILE_ATTRIBUTES && GetTickCount() - start < 300000) {
        DWORD_PTR r = 0;
        DWORD sent = GetTickCount();
        if (SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, 200, &r)) {
            answered++;
            if (GetTickCount() - sent > longest) longest = GetTickCount() - sent;
        } else if (!IsWindow(main)) {
            printf("answered %u missed %u, then the window went away\n", answered, missed);
            return 3;
        } else {
            missed++;
        }
        Sleep(20);
    }
    printf("answered %u missed %u longest %lu ms\n", answered, missed, longest);
    return missed ? 1 : 0;
}

int main(int argc, char** argv) {
    if (argc > 2 && strcmp(argv[1], "ping") == 0) return ping(argv[2]);
    if (argc > 2 && strcmp(argv[1], "count") == 0) {
        ClassCount c = {};
        MultiByteToWideChar(CP_UTF8, 0, argv[2], -1, c.name, 64);
        EnumWindows(countInTopLevel, reinterpret_cast<LPARAM>(&c));
        printf("%d\n", c.count);
        return 0;
    }
    if (argc > 1 && strcmp(argv[1], "tip") == 0) {
        int found = 0;
        EnumWindows(visitTip, reinterpret_cast<LPARAM>(&found));
        fflush(stdout);
        return found ? 0 : 1;
    }
    return 2;
}
