/* Trace file. Written line by line with open-append-close, so that a crash
 * loses nothing and other processes can read it at any time. */
#include "core/ddtrace.h"

#include "core/ddmessage.h"
#include "ui/dddlg.h"

#include <stdio.h>

#include <string>

static wchar_t s_path[MAX_PATH + 16];

const wchar_t* ddTraceLogPath(void) {
    return s_path;
}

void ddTraceLogOpen(void) {
    wchar_t folder[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, folder);
    s_path[0] = 0;
    if (n == 0 || n > MAX_PATH) return;
    _snwprintf(s_path, DI_COUNTOF(s_path) - 1, L"%lsKLV.TXT", folder);
    s_path[DI_COUNTOF(s_path) - 1] = 0;
    HANDLE f = CreateFileW(s_path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
}

void ddTraceLogClose(void) {
    s_path[0] = 0;
}

static void ddTraceAppend(const char* bytes, int length) {
    if (!s_path[0] || length <= 0) return;
    HANDLE f = CreateFileW(s_path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD put;
    WriteFile(f, bytes, static_cast<DWORD>(length), &put, nullptr);
    CloseHandle(f);
}

/* UTF-16 to UTF-8, at most `limit` bytes, never ending inside a character. */
static std::string ddTraceUtf8(const wchar_t* text, int units, int limit) {
    std::string out;
    int need = WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr, nullptr);
    if (need <= 0) return out;
    out.resize(need);
    WideCharToMultiByte(CP_UTF8, 0, text, units, &out[0], need, nullptr, nullptr);
    if (static_cast<int>(out.size()) > limit) {
        size_t cut = limit;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80)
            cut--;
        out.resize(cut);
    }
    return out;
}

void ddTraceLogPrintf(int message, std::initializer_list<DiFmtArg> args) {
    wchar_t format[2048];
    if (ddLoadMessage(message, format, 2048) <= 0) return;
    wchar_t line[1023 + 1];
    /* At most 1023 characters; a longer text is cut, not dropped, and never
     * between the two halves of a surrogate pair. */
    int n = diFormatPositional(ddD(line), 1024, ddD(format), args.begin(), args.size());
    if (n < 0) n = static_cast<int>(wcslen(line));
    if (n > 0 && line[n - 1] >= 0xD800 && line[n - 1] < 0xDC00) n--;
    /* The line end always fits: the text gets 1022 of the 1024 bytes, cut
     * at a character boundary, and CR LF follows. */
    std::string bytes = ddTraceUtf8(line, n, 1022) + "\r\n";
    ddTraceAppend(bytes.data(), static_cast<int>(bytes.size()));
    line[n] = 0;
    ddDlgConsoleAppend((std::wstring(line) + L"\r\n").c_str());
}

void ddTraceLogWrite(const DiChar* text) {
    if (!text) return;
    int units = static_cast<int>(wcslen(ddW(text)));
    std::string bytes = ddTraceUtf8(ddW(text), units, 0x7FFFFFFF);
    ddTraceAppend(bytes.data(), static_cast<int>(bytes.size()));
    ddDlgConsoleAppend(ddW(text));
}

/* Length of the longest prefix of p[0..n) that ends on a character
 * boundary: a lead byte whose sequence is not complete is left over. */
static size_t ddTraceWholePrefix(const unsigned char* p, size_t n) {
    size_t i = n;
    size_t back = 0;
    while (i > 0 && back < 4 && (p[i - 1] & 0xC0) == 0x80) {
        i--;
        back++;
    }
    if (i == 0) return n;
    unsigned char lead = p[i - 1];
    size_t len = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return len > back + 1 ? i - 1 : n;
}

void ddTraceLogShowTo(void (*sink)(const DiChar* text, void* ctx), void* ctx) {
    if (!s_path[0]) return;
    HANDLE f = CreateFileW(s_path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    /* 63-byte pieces; a character cut at the end of a piece is carried over
     * to the front of the next one (at most 3 bytes). */
    unsigned char buf[63 + 3];
    size_t carry = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(f, buf + carry, 63, &got, nullptr)) break;
        size_t have = carry + got;
        if (have == 0) break;
        size_t whole = got == 0 ? have : ddTraceWholePrefix(buf, have);
        if (whole > 0) {
            wchar_t wide[64 + 3 + 1];
            int n = MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<char*>(buf),
                                        static_cast<int>(whole), wide, 64 + 3);
            wide[n > 0 ? n : 0] = 0;
            sink(ddD(wide), ctx);
        }
        carry = have - whole;
        memmove(buf, buf + whole, carry);
        if (got == 0) break;
    }
    CloseHandle(f);
}
