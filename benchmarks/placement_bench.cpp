#include "benchmarks/placement_bench.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "placement/place.h"
#include "support/files.h"
#include "support/placement_bed.h"

namespace {

// A release as parts of at most 250 files (a manifest holds 256 at most), each file's staged
// copy written once and moved back after every run: runs differ only in what they time.
struct Bed {
    std::wstring dir;       // scratch\placement-<name>
    std::vector<ReleaseFiles> parts;
    std::vector<std::wstring> manifests;
    std::wstring source;    // where the files wait between runs: source\<part>\000i
    size_t files = 0;
};

std::wstring Index(size_t i)
{
    wchar_t name[8];
    swprintf(name, 8, L"%04u", static_cast<unsigned>(i));
    return name;
}

std::wstring Target(const std::wstring& folder, const ReleaseFile& f) { return folder + L"\\" + f.name; }

bool MakeBed(const std::wstring& scratch, const std::wstring& name, size_t count, size_t size, Bed* bed)
{
    bed->dir = scratch + L"\\placement-" + name;
    RemoveLongTree(bed->dir);
    if (!CreateDirectoryW(bed->dir.c_str(), nullptr)) return false;
    bed->source = bed->dir + L"\\source";
    CreateDirectoryW(bed->source.c_str(), nullptr);
    std::string bytes(size, 'p');
    for (size_t i = 0; i < count; ++i) {
        if (i % 250 == 0) bed->parts.emplace_back();
        // 20 folders, as a real release spreads its files.
        wchar_t file[64];
        swprintf(file, 64, L"folder%02u\\file%05u.dat", static_cast<unsigned>(i % 20), static_cast<unsigned>(i));
        bytes[0] = static_cast<char>(i);
        bed->parts.back().push_back({file, bytes});
    }
    for (size_t p = 0; p < bed->parts.size(); ++p) {
        std::wstring manifest = bed->dir + L"\\part" + std::to_wstring(p) + L".ini";
        if (!WritePartManifest(manifest, bed->parts[p])) return false;
        bed->manifests.push_back(manifest);
        if (!WriteEntryFiles(bed->source + L"\\" + std::to_wstring(p), bed->parts[p])) return false;
    }
    bed->files = count;
    return true;
}

// Moves every part's files from one place to another (untimed set-up between runs).
bool MoveParts(const Bed& bed, const std::vector<std::wstring>& from, const std::vector<std::wstring>& to)
{
    for (size_t p = 0; p < bed.parts.size(); ++p) {
        CreateDirectoryW(to[p].c_str(), nullptr);
        for (size_t i = 0; i < bed.parts[p].size(); ++i) {
            if (!MoveFileExW((from[p] + L"\\" + Index(i)).c_str(), (to[p] + L"\\" + Index(i)).c_str(), 0)) return false;
        }
    }
    return true;
}

std::vector<std::wstring> SourceDirs(const Bed& bed)
{
    std::vector<std::wstring> dirs;
    for (size_t p = 0; p < bed.parts.size(); ++p) dirs.push_back(bed.source + L"\\" + std::to_wstring(p));
    return dirs;
}

// After a run: the placed files go back to the source folders, the install folder goes.
bool TakeBack(const Bed& bed, const std::wstring& folder)
{
    std::vector<std::wstring> sources = SourceDirs(bed);
    for (size_t p = 0; p < bed.parts.size(); ++p) {
        for (size_t i = 0; i < bed.parts[p].size(); ++i) {
            if (!MoveFileExW(Target(folder, bed.parts[p][i]).c_str(), (sources[p] + L"\\" + Index(i)).c_str(), 0)) {
                return false;
            }
        }
    }
    RemoveLongTree(folder);
    return true;
}

// A: qelplace. The job is started and the parts added and delivered (moved into the work
// directories it hands out) before the clock starts, as a delivery precedes placing; timed is
// PlaceCommit to the end of PlaceClose.
double EngineRun(const Bed& bed)
{
    std::wstring folder = bed.dir + L"\\engine";
    PlaceJob* job = PlaceStart(folder.c_str(), L"1");
    if (job == nullptr || WaitPlacePhase(job, PLACE_OPEN).phase != PLACE_OPEN) return -1;
    std::vector<std::wstring> work;
    for (const std::wstring& manifest : bed.manifests) {
        wchar_t dir[1024];
        if (!PlaceAddPart(job, manifest.c_str(), dir, 1024)) {
            PlaceClose(job);
            return -1;
        }
        work.push_back(dir);
    }
    if (!MoveParts(bed, SourceDirs(bed), work)) {
        PlaceClose(job);
        return -1;
    }
    double start = Now();
    PlaceCommit(job);
    int phase = 0, percent = 0;
    wchar_t text[1024];
    do {
        Sleep(1);
        PlacePoll(job, &phase, &percent, text, 1024);
    } while (phase < PLACE_DONE);
    int closed = PlaceClose(job);
    double elapsed = Now() - start;
    if (phase != PLACE_DONE || closed != 1) {
        fprintf(stderr, "bench: placement ended in phase %d (close %d): %ls\n", phase, closed, text);
        return -1;
    }
    return TakeBack(bed, folder) ? elapsed : -1;
}

// B: the plain loop: each folder made, each file moved with MoveFileExW.
double LoopRun(const Bed& bed)
{
    std::wstring folder = bed.dir + L"\\loop";
    std::vector<std::wstring> sources = SourceDirs(bed);
    double start = Now();
    CreateDirectoryW(folder.c_str(), nullptr);
    for (int f = 0; f < 20; ++f) {
        wchar_t sub[32];
        swprintf(sub, 32, L"\\folder%02d", f);
        CreateDirectoryW((folder + sub).c_str(), nullptr);
    }
    for (size_t p = 0; p < bed.parts.size(); ++p) {
        for (size_t i = 0; i < bed.parts[p].size(); ++i) {
            if (!MoveFileExW((sources[p] + L"\\" + Index(i)).c_str(), Target(folder, bed.parts[p][i]).c_str(),
                             MOVEFILE_REPLACE_EXISTING)) {
                return -1;
            }
        }
    }
    double elapsed = Now() - start;
    return TakeBack(bed, folder) ? elapsed : -1;
}

void Measure(const Bed& bed, const std::string& name, const std::string& what, int pairs, std::vector<Figure>* figures)
{
    Figure figure;
    figure.name = name;
    figure.a = "qelplace PlaceCommit to the end of PlaceClose, " + what + " (the job open, the files delivered)";
    figure.b = "MoveFileExW on each file of the same staging into a fresh folder, and CreateDirectoryW for its folders";
    figure.unit = "s";
    figure.target = 1.3;
    figure.note = "one volume; the engine also writes and flushes its journal and the record, and removes its staging";
    MeasurePairs(figure, pairs, [&] { return EngineRun(bed); }, [&] { return LoopRun(bed); });
    figures->push_back(figure);
}

}  // namespace

bool BenchPlacement(const std::wstring& scratch, int pairs, std::vector<Figure>* figures)
{
    bool ok = true;
    {
        Bed small;
        fprintf(stderr, "bench: writing 5,000 small files\n");
        if (MakeBed(scratch, L"small", 5000, 1000, &small)) {
            Measure(small, "place 5,000 small files vs MoveFileExW", "5,000 files of 1 KB in 20 parts", pairs, figures);
        } else {
            ok = false;
        }
        RemoveLongTree(small.dir);
    }
    {
        Bed large;
        fprintf(stderr, "bench: writing a 200 MB release\n");
        if (MakeBed(scratch, L"large", 250, 800000, &large)) {
            Measure(large, "place a 200 MB release vs MoveFileExW", "250 files of 800 KB in one part", pairs, figures);
        } else {
            ok = false;
        }
        RemoveLongTree(large.dir);
    }
    return ok;
}
