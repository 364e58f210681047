// The helpers of placement_bed.h that call qelplace.dll's exports (a test that loads the DLL
// itself uses only the others, so it does not link the DLL).
#include "support/placement_bed.h"

PlaceStatus PollPlace(PlaceJob* job)
{
    PlaceStatus status;
    wchar_t text[1024] = {};
    PlacePoll(job, &status.phase, &status.percent, text, 1024);
    status.text = text;
    return status;
}

PlaceStatus WaitPlacePhase(PlaceJob* job, int phase, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    PlaceStatus status = PollPlace(job);
    while (status.phase < phase && GetTickCount() - start < timeoutMs) {
        Sleep(1);
        status = PollPlace(job);
    }
    return status;
}

PlaceStatus WaitPlaceEnd(PlaceJob* job, DWORD timeoutMs) { return WaitPlacePhase(job, PLACE_DONE, timeoutMs); }

PlaceOutcome InstallParts(const std::wstring& installDir, const std::wstring& version,
                          const std::vector<ReleaseFiles>& parts, const std::wstring& scratch)
{
    PlaceOutcome outcome;
    PlaceJob* job = PlaceStart(installDir.c_str(), version.c_str());
    if (job == nullptr) return outcome;
    PlaceStatus open = WaitPlacePhase(job, PLACE_OPEN);
    if (open.phase == PLACE_OPEN) {
        for (size_t i = 0; i < parts.size(); ++i) {
            std::wstring manifest = scratch + L"\\part" + std::to_wstring(i) + L".ini";
            wchar_t work[1024] = {};
            if (!WritePartManifest(manifest, parts[i]) || !PlaceAddPart(job, manifest.c_str(), work, 1024)) break;
            WriteEntryFiles(work, parts[i]);
        }
        PlaceCommit(job);
    }
    outcome.end = WaitPlaceEnd(job);
    outcome.closed = PlaceClose(job);
    return outcome;
}

PlaceOutcome InstallFiles(const std::wstring& installDir, const std::wstring& version, const ReleaseFiles& files,
                          const std::wstring& scratch)
{
    return InstallParts(installDir, version, {files}, scratch);
}

PlaceOutcome UninstallFolder(const std::wstring& installDir)
{
    PlaceOutcome outcome;
    PlaceJob* job = RemoveStart(installDir.c_str());
    if (job == nullptr) return outcome;
    outcome.end = WaitPlaceEnd(job);
    outcome.closed = PlaceClose(job);
    return outcome;
}

