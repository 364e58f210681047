// Holds files open the way a reader of a live release does (shared for reading only), until its
// standard input closes: lets the packer's tests replace a release while it is being read.
//   holdfile FILE...
#include <windows.h>

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    std::vector<HANDLE> held;
    for (int i = 1; i < argc; ++i) {
        HANDLE file = CreateFileW(argv[i], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            fprintf(stderr, "holdfile: cannot open argument %d (system error %lu)\n", i, GetLastError());
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
