#include "benchmarks/delivery_bench.h"

#include <windows.h>

#include <cstdio>

#include "benchmarks/floor_delivery.h"
#include "delivery/payload.h"
#include "support/files.h"
#include "tools/qelpack/pack.h"
#include "tools/qelpack/platform_win.h"

namespace {

// One incompressible member that fills the package to about 200 MB, and one compressible
// member that costs the decompressor and the hashes work but adds little to the package.
constexpr size_t RandomMember = 199000000;
constexpr size_t TextMember = 40000000;

bool WriteGenerated(const std::wstring& path, size_t size, bool random)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::vector<unsigned> chunk(1 << 18);
    unsigned state = 0x9E3779B9u;
    static const char words[] = "payload delivery verifies every member of the cabinet against its entry. ";
    std::string text;
    while (text.size() < chunk.size() * sizeof(unsigned)) text += words;
    bool ok = true;
    for (size_t done = 0; done < size && ok;) {
        size_t n = chunk.size() * sizeof(unsigned);
        if (n > size - done) n = size - done;
        const void* bytes = text.data();
        if (random) {
            for (unsigned& word : chunk) {  // xorshift32
                state ^= state << 13;
                state ^= state >> 17;
                state ^= state << 5;
                word = state;
            }
            bytes = chunk.data();
        }
        DWORD put = 0;
        ok = WriteFile(file, bytes, static_cast<DWORD>(n), &put, nullptr) && put == n;
        done += n;
    }
    return CloseHandle(file) && ok;
}

std::wstring ProfileText(const std::wstring& manifest, const wchar_t* section, const wchar_t* key)
{
    wchar_t text[256] = L"";
    GetPrivateProfileStringW(section, key, L"", text, 256, manifest.c_str());
    return text;
}

// What the floor needs to know, read back from the manifest the packer wrote.
bool ReadFloorRelease(const std::wstring& manifest, FloorRelease* release)
{
    release->packageSize = _wtoi64(ProfileText(manifest, L"Package", L"Size").c_str());
    if (!DigestFromHex(ProfileText(manifest, L"Package", L"Sha256"), release->packageSha256)) return false;
    int count = _wtoi(ProfileText(manifest, L"Package", L"Count").c_str());
    for (int i = 0; i < count; ++i) {
        std::wstring section = std::to_wstring(i);
        FloorMember member;
        std::wstring entry = ProfileText(manifest, section.c_str(), L"Entry");
        member.name.assign(entry.begin(), entry.end());
        if (!DigestFromHex(ProfileText(manifest, section.c_str(), L"Sha256"), member.sha256)) return false;
        release->members.push_back(member);
    }
    return release->packageSize > 0 && count == 2;
}

struct Bed {
    std::wstring dir, manifest, package, work;
    FloorRelease floor;
};

bool BuildRelease(const std::wstring& scratch, Bed* bed)
{
    bed->dir = scratch + L"\\delivery";
    RemoveTree(bed->dir);
    std::wstring source = bed->dir + L"\\source";
    if (!CreateDirectoryW(bed->dir.c_str(), nullptr) || !CreateDirectoryW(source.c_str(), nullptr)) return false;
    fprintf(stderr, "bench: writing the release (%zu + %zu bytes) and packing it with qelpack's core\n", RandomMember,
            TextMember);
    if (!WriteGenerated(source + L"\\random.bin", RandomMember, true)) return false;
    if (!WriteGenerated(source + L"\\text.txt", TextMember, false)) return false;
    PackRequest request;
    request.source = NarrowPath(source);
    request.out = NarrowPath(bed->dir + L"\\release");
    request.partSize = MaxPartBytes;  // one part: the figure compares one delivery
    std::string message;
    int packed = Pack(request, &message);
    RemoveTree(source);
    fprintf(stderr, "bench: %s\n", message.c_str());
    if (packed != PackDone) return false;
    bed->manifest = bed->dir + L"\\release\\manifest.ini";
    bed->package = bed->dir + L"\\release\\application.cab";
    bed->work = bed->dir + L"\\work";
    return ReadFloorRelease(bed->manifest, &bed->floor);
}

struct Poller {
    DeliveryJob* job;
    LONG polls = 0;
    volatile LONG stop = 0;
};

DWORD WINAPI PollFlatOut(void* argument)
{
    auto* poller = static_cast<Poller*>(argument);
    int phase = 0, percent = 0;
    wchar_t text[1024];
    do {
        PayloadPoll(poller->job, &phase, &percent, text, 1024);
        ++poller->polls;
    } while (phase < PAYLOAD_READY);
    return 0;
}

// The control: a thread that burns a core as the poller does, without touching the job.
DWORD WINAPI SpinBeside(void* argument)
{
    auto* poller = static_cast<Poller*>(argument);
    while (!poller->stop) ++poller->polls;
    return 0;
}

enum class Beside { Nothing, Poller, Spinner };

// One delivery through qelfetch, timed from PayloadStart to the ready phase (closing, which
// deletes the files, is not timed). With flatOut, another thread polls the job without pause
// and the time ends when it sees the end; otherwise this thread looks every 2 ms.
double QelfetchRun(const Bed& bed, Beside beside)
{
    bool flatOut = beside == Beside::Poller;
    double start = Now();
    DeliveryJob* job = PayloadStart(bed.manifest.c_str(), bed.package.c_str(), bed.work.c_str());
    if (job == nullptr) return -1;
    int phase = 0, percent = 0;
    wchar_t text[1024];
    if (flatOut) {
        Poller poller{job};
        HANDLE thread = CreateThread(nullptr, 0, PollFlatOut, &poller, 0, nullptr);
        if (thread == nullptr) {
            PayloadClose(job);
            return -1;
        }
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    } else {
        Poller spinner{job};
        HANDLE thread = nullptr;
        if (beside == Beside::Spinner) thread = CreateThread(nullptr, 0, SpinBeside, &spinner, 0, nullptr);
        do {
            Sleep(2);
            PayloadPoll(job, &phase, &percent, text, 1024);
        } while (phase < PAYLOAD_READY);
        if (thread != nullptr) {
            spinner.stop = 1;
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
        }
    }
    double elapsed = Now() - start;
    PayloadPoll(job, &phase, &percent, text, 1024);
    int closed = PayloadClose(job);
    if (phase != PAYLOAD_READY || closed != 1) {
        fprintf(stderr, "bench: qelfetch run ended in phase %d (close %d)\n", phase, closed);
        return -1;
    }
    return elapsed;
}

double FloorRun(const Bed& bed)
{
    double start = Now();
    bool good = FloorDelivery(bed.package, bed.work, bed.floor);
    double elapsed = Now() - start;
    RemoveTree(bed.work);
    if (!good) fprintf(stderr, "bench: floor run failed\n");
    return good ? elapsed : -1;
}

}  // namespace

bool BenchDelivery(const std::wstring& scratch, int pairs, std::vector<Figure>* figures)
{
    Bed bed;
    if (!BuildRelease(scratch, &bed)) {
        RemoveTree(bed.dir);
        return false;
    }
    char sizes[160];
    snprintf(sizes, sizeof sizes, "package %.1f MB: %zu incompressible + %zu compressible bytes",
             static_cast<double>(bed.floor.packageSize) / 1e6, RandomMember, TextMember);

    Figure floor;
    floor.name = "delivery vs platform floor";
    floor.a = std::string("qelfetch PayloadStart to ready, ") + sizes;
    floor.b = "floor: one SHA-256 pass in 64 KiB reads, FDI with plain callbacks, members hashed and flushed";
    floor.unit = "s";
    floor.target = 1.05;
    MeasurePairs(floor, pairs, [&] { return QelfetchRun(bed, Beside::Nothing); }, [&] { return FloorRun(bed); });
    figures->push_back(floor);

    Figure polled;
    polled.name = "delivery polled flat out";
    polled.a = "qelfetch with another thread calling PayloadPoll in a tight loop";
    polled.b = "qelfetch polled every 2 ms";
    polled.unit = "s";
    polled.target = 1.02;
    MeasurePairs(polled, pairs, [&] { return QelfetchRun(bed, Beside::Poller); }, [&] { return QelfetchRun(bed, Beside::Nothing); });
    figures->push_back(polled);

    // On a machine of two shared cores a thread that never pauses takes a core from everyone;
    // this control tells that cost apart from anything the job's lock adds.
    Figure control;
    control.name = "polled flat out vs spinner";
    control.a = polled.a;
    control.b = "qelfetch with another thread spinning on a counter (no PayloadPoll), polled every 2 ms";
    control.unit = "s";
    control.note = "about 1: a flat-out poller costs the delivery no more than any busy thread";
    MeasurePairs(control, pairs, [&] { return QelfetchRun(bed, Beside::Poller); },
                 [&] { return QelfetchRun(bed, Beside::Spinner); });
    figures->push_back(control);

    RemoveTree(bed.dir);
    return true;
}
