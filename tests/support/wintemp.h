// Private temporary folders for Windows tests.
#ifndef HV_TESTS_WINTEMP_H
#define HV_TESTS_WINTEMP_H

#include <windows.h>

#include <stdio.h>

#include <string>

/* Removes a private temporary folder and the files in it. */
inline void removeTree(std::wstring dir) {
    if (!dir.empty() && dir.back() != L'\\') dir += L'\\';
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW((dir + fd.cFileName).c_str());
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    dir.pop_back();
    RemoveDirectoryW(dir.c_str());
}

/* A whole file's bytes, or "<missing>" when it cannot be opened. */
inline std::string readFileBytes(const std::wstring& path) {
    std::string out;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return "<missing>";
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    fclose(f);
    return out;
}

/* Replaces a file by bytes; false when it cannot be written. */
inline bool writeFileBytes(const std::wstring& path, const std::string& bytes) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

#endif
