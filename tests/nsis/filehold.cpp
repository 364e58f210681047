// Holds files open the way the installer tests need, until its standard input closes:
//   filehold MODE FILE...
// MODE: "none" (no sharing at all), "read" (readers only), "write" (readers and writers, no
// delete sharing: a plain installer overwrites such a file in place), "delete" (readers and
// deletion). Prints "held" once every file is open.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        fputs("usage: filehold none|read|write|delete FILE...\n", stderr);
        return 2;
    }
    DWORD share = 0;
    DWORD access = GENERIC_READ;
    if (wcscmp(argv[1], L"read") == 0) {
        share = FILE_SHARE_READ;
    } else if (wcscmp(argv[1], L"write") == 0) {
        share = FILE_SHARE_READ | FILE_SHARE_WRITE;
        access = GENERIC_READ | GENERIC_WRITE;
    } else if (wcscmp(argv[1], L"delete") == 0) {
        share = FILE_SHARE_READ | FILE_SHARE_DELETE;
    } else if (wcscmp(argv[1], L"none") != 0) {
        fputs("filehold: the mode is none, read, write or delete\n", stderr);
        return 2;
    }
    std::vector<HANDLE> held;
    for (int i = 2; i < argc; ++i) {
        HANDLE file = CreateFileW(argv[i], access, share, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            fprintf(stderr, "filehold: cannot open argument %d (system error %lu)\n", i, GetLastError());
            return 1;
        }
        held.push_back(file);
    }
    fputs("held\n", stdout);
    fflush(stdout);
    char buffer[64];
    while (fgets(buffer, sizeof buffer, stdin) != nullptr) {
    }
    for (HANDLE file : held) CloseHandle(file);
    return 0;
}
