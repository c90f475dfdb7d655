// Private temporary folders for Windows tests.
#ifndef HV_TESTS_WINTEMP_H
#define HV_TESTS_WINTEMP_H

#include <windows.h>

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

#endif
