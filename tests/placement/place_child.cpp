// The host the kill test kills: runs one placement job and ends its own process (as a kill
// would: no clean-up of any kind) at the first poll that shows the placing phase at KILL_AT
// percent or more. The job publishes its progress step by step, so the percentage names a
// point of the run however fast the poll comes round.
//   place_child install FOLDER VERSION MANIFEST SOURCE_DIR KILL_AT
//   place_child remove FOLDER KILL_AT
// The files of the release lie in SOURCE_DIR as 0000, 0001, ... and are copied into the work
// directory the job hands out, as a delivery would. Prints "killed PERCENT PHASE TEXT" or
// "ended PERCENT PHASE TEXT" (the job ended first; the process then ends without closing it).
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "placement/place.h"

namespace {

struct Seen {
    int phase = 0;
    int percent = -1;
    wchar_t text[1024] = {};
};

void Report(const char* what, int count, const Seen& s)
{
    char text[4096];
    WideCharToMultiByte(CP_UTF8, 0, s.text, -1, text, sizeof text, nullptr, nullptr);
    printf("%s %d %d %s\n", what, count, s.phase, text);
    fflush(stdout);
}

int Watch(PlaceJob* job, int killAt)
{
    for (;;) {
        Seen now;
        PlacePoll(job, &now.phase, &now.percent, now.text, 1024);
        if (now.phase == PLACE_PLACING && now.percent >= killAt) {
            Report("killed", now.percent, now);
            TerminateProcess(GetCurrentProcess(), 9);
        }
        if (now.phase >= PLACE_DONE) {
            Report("ended", now.percent, now);
            TerminateProcess(GetCurrentProcess(), 0);
        }
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 7 && wcscmp(argv[1], L"install") == 0) {
        PlaceJob* job = PlaceStart(argv[2], argv[3]);
        if (job == nullptr) return 2;
        int phase = 0, percent = 0;
        wchar_t text[1024];
        do {
            PlacePoll(job, &phase, &percent, text, 1024);
        } while (phase < PLACE_OPEN);
        wchar_t work[1024];
        if (phase != PLACE_OPEN || !PlaceAddPart(job, argv[4], work, 1024)) {
            Seen s;
            PlacePoll(job, &s.phase, &s.percent, s.text, 1024);
            Report("refused", 0, s);
            return 3;
        }
        CreateDirectoryW(work, nullptr);
        for (int i = 0;; ++i) {
            wchar_t from[1024], to[1024];
            swprintf(from, 1024, L"%ls\\%04d", argv[5], i);
            swprintf(to, 1024, L"%ls\\%04d", work, i);
            if (GetFileAttributesW(from) == INVALID_FILE_ATTRIBUTES) break;
            if (!CopyFileW(from, to, TRUE)) return 4;
        }
        if (!PlaceCommit(job)) return 5;
        return Watch(job, _wtoi(argv[6]));
    }
    if (argc == 4 && wcscmp(argv[1], L"remove") == 0) {
        PlaceJob* job = RemoveStart(argv[2]);
        if (job == nullptr) return 2;
        return Watch(job, _wtoi(argv[3]));
    }
    fputs("usage: place_child install FOLDER VERSION MANIFEST SOURCE_DIR KILL_AFTER | remove FOLDER KILL_AFTER\n", stderr);
    return 2;
}
