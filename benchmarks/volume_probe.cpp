// volume_probe.exe COUNT FILE: asks COUNT times for FILE's information through an open handle
// (GetFileInformationByHandle, which includes the volume's serial number) and prints the time
// in milliseconds. The installer benchmark uses it to price the volume queries that Wine sends
// to its mount-manager process, which Windows answers inside the file system.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) return 2;
    long count = std::wcstol(argv[1], nullptr, 10);
    HANDLE file = CreateFileW(argv[2], FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (count <= 0 || file == INVALID_HANDLE_VALUE) return 1;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    bool ok = true;
    for (long i = 0; i < count && ok; ++i) {
        BY_HANDLE_FILE_INFORMATION info;
        ok = GetFileInformationByHandle(file, &info) != 0;
    }
    QueryPerformanceCounter(&end);
    CloseHandle(file);
    if (!ok) return 1;
    std::printf("%.3f\n", static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart));
    return 0;
}
