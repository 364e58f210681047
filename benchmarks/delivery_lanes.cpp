// delivery_lanes.exe LANES SCRATCH MANIFEST PACKAGE [MANIFEST PACKAGE ...]: delivers the parts
// through qelfetch.dll in one process, LANES of them at a time in the order given, each into its
// own work directory below SCRATCH, and prints the time in milliseconds from the first start to
// the last part ready. The installer benchmark runs it with one and with two lanes on the same
// parts, alternately, for the figure behind the release job's two parts at a time.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "delivery/payload.h"

namespace {

constexpr int MaxLanes = 8;

struct Lane {
    DeliveryJob* job = nullptr;
    int part = -1;
};

bool WorkDir(const wchar_t* scratch, int part, wchar_t* out, size_t capacity)
{
    return std::swprintf(out, capacity, L"%ls\\part%d", scratch, part) > 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 5 || (argc - 3) % 2 != 0) return 2;
    const int lanes = static_cast<int>(std::wcstol(argv[1], nullptr, 10));
    const wchar_t* scratch = argv[2];
    const int parts = (argc - 3) / 2;
    if (lanes < 1 || lanes > MaxLanes || parts > 64) return 2;

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    Lane lane[MaxLanes];
    DeliveryJob* ready[64] = {};
    int next = 0;
    int done = 0;
    bool ok = true;
    while (ok && done < parts) {
        for (int k = 0; k < lanes && ok; ++k) {
            if (lane[k].job == nullptr && next < parts) {
                wchar_t work[MAX_PATH];
                ok = WorkDir(scratch, next, work, MAX_PATH);
                lane[k].part = next;
                lane[k].job = ok ? PayloadStart(argv[3 + 2 * next], argv[4 + 2 * next], work) : nullptr;
                ok = lane[k].job != nullptr;
                ++next;
            }
            if (lane[k].job == nullptr) continue;
            int phase = 0;
            int percent = 0;
            wchar_t text[1024];
            PayloadPoll(lane[k].job, &phase, &percent, text, 1024);
            if (phase == PAYLOAD_READY) {
                ready[lane[k].part] = lane[k].job;
                lane[k].job = nullptr;
                ++done;
            } else if (phase > PAYLOAD_READY) {
                std::fwprintf(stderr, L"delivery_lanes: part %d: phase %d\n", lane[k].part, phase);
                ok = false;
            }
        }
        // The release job's own poll period.
        if (ok && done < parts) Sleep(30);
    }
    QueryPerformanceCounter(&end);
    for (Lane& l : lane) {
        if (l.job != nullptr) PayloadClose(l.job);
    }
    for (DeliveryJob* job : ready) {
        if (job != nullptr) PayloadClose(job);
    }
    if (!ok) return 1;
    std::printf("%.3f\n", static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart));
    return 0;
}
