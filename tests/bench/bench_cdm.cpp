// Drive mapping throughput: 64 MiB written and read back through the
// channel's write and read requests of 61,440 bytes (request decoding, the
// handle table, the Win32 calls and the replies framed into the output
// buffer) against plain WriteFile and ReadFile loops of the same size on the
// same drive. Rates are MiB/s.
#include "dd.h"

#include "bench/bench_ratio.h"
#include "devices/ddcdm.h"
#include "fakes/chan_fakes.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

namespace {

const uint32_t CHUNK = 61440, TOTAL = 64u << 20, ROUNDS = 3;

double now() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) / double(f.QuadPart);
}

std::string le32(uint32_t v) {
    return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

void call(DiIOChannel* io, uint32_t code, const std::string& p) {
    diIOFileHandlers[code](io, reinterpret_cast<const uint8_t*>(p.data()), uint32_t(p.size()), 1);
    g_fakeNet.sent.clear();
}

// Seconds to write then read TOTAL bytes through the channel.
double throughChannel(DiIOChannel* io, const std::string& path, const std::string& chunk) {
    std::string open = le32(uint32_t(path.size())) + path + le32(0x242) + le32(0);
    double t0 = now();
    call(io, 11, open);
    for (uint32_t at = 0; at < TOTAL; at += CHUNK)
        call(io, 14, le32(0) + le32(CHUNK) + chunk);
    call(io, 16, le32(0) + std::string(8, '\0') + le32(0));
    for (uint32_t at = 0; at < TOTAL; at += CHUNK)
        call(io, 13, le32(0) + le32(CHUNK));
    call(io, 12, le32(0));
    return now() - t0;
}

double plain(const wchar_t* path, const std::string& chunk) {
    std::string buf(CHUNK, '\0');
    double t0 = now();
    HANDLE h = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD n;
    for (uint32_t at = 0; at < TOTAL; at += CHUNK)
        WriteFile(h, chunk.data(), CHUNK, &n, nullptr);
    SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    for (uint32_t at = 0; at < TOTAL; at += CHUNK)
        ReadFile(h, &buf[0], CHUNK, &n, nullptr);
    CloseHandle(h);
    return now() - t0;
}

} // namespace

int main() {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    std::wstring wpath = std::wstring(dir) + L"hv_bench_cdm.bin";
    char path[MAX_PATH * 3];
    WideCharToMultiByte(CP_UTF8, 0, wpath.c_str(), -1, path, sizeof path, nullptr, nullptr);
    DiCDMDrive drive = {1, {DiChar(path[0] & ~0x20), ':', '\\', 0}};
    DiIOChannel* io = static_cast<DiIOChannel*>(calloc(1, sizeof(DiIOChannel)));
    diDEChannelInit(&io->ch, DI_OBJ_CDM, 0, 0);
    if (!diCDMChannelInit(io, &g_ddCDMFileOps, &drive, 1)) return 1;
    diChannelAttachConnection(&io->ch, ddNetSocketCreate());
    std::string chunk(CHUNK, '\0');
    for (uint32_t i = 0; i < CHUNK; i++)
        chunk[i] = char(i * 31);
    double ours = 1e9, anchor = 1e9;
    for (uint32_t r = 0; r < ROUNDS; r++) {
        double a = plain(wpath.c_str(), chunk), o = throughChannel(io, path, chunk);
        anchor = a < anchor ? a : anchor;
        ours = o < ours ? o : ours;
    }
    DeleteFileW(wpath.c_str());
    double mib = 2.0 * TOTAL / (1 << 20);
    hvBenchRatio("drive mapping 64 MiB in 61440-byte requests", mib / ours, mib / anchor, "MiB/s");
    diCDMChannelTeardown(io);
    diDEChannelFree(&io->ch);
    free(io);
    return 0;
}
