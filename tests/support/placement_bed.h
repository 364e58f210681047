// Helpers for driving qelplace.dll's exports from tests: releases written as qelfetch leaves
// them (a manifest and the files 0000, 0001, ... of a work directory), whole installs and
// uninstalls, and snapshots of a folder to compare before and after.
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "placement/place.h"

struct ReleaseFile {
    std::wstring name;
    std::string bytes;
};
using ReleaseFiles = std::vector<ReleaseFile>;

// A manifest for the files (qelfetch's format, UTF-16 with a byte-order mark).
bool WritePartManifest(const std::wstring& path, const ReleaseFiles& files);
// The files as dir\0000, dir\0001, ... (dir is made when missing).
bool WriteEntryFiles(const std::wstring& dir, const ReleaseFiles& files);

struct PlaceStatus {
    int phase = 0;
    int percent = -1;
    std::wstring text;
};

PlaceStatus PollPlace(PlaceJob* job);
// Polls until the job reaches phase 5, 6 or 7 (or the time runs out).
PlaceStatus WaitPlaceEnd(PlaceJob* job, DWORD timeoutMs = 60000);
// Polls until the phase is at least phase (or the time runs out).
PlaceStatus WaitPlacePhase(PlaceJob* job, int phase, DWORD timeoutMs = 60000);

struct PlaceOutcome {
    PlaceStatus end;
    int closed = -1;  // PlaceClose's result
};

// One install job: every part added with PlaceAddPart and its files written into the work
// directory handed out (as a delivery would), committed, waited for and closed. scratch holds
// the manifests. end.phase stays 0 when PlaceStart failed.
PlaceOutcome InstallParts(const std::wstring& installDir, const std::wstring& version,
                          const std::vector<ReleaseFiles>& parts, const std::wstring& scratch);
PlaceOutcome InstallFiles(const std::wstring& installDir, const std::wstring& version, const ReleaseFiles& files,
                          const std::wstring& scratch);
PlaceOutcome UninstallFolder(const std::wstring& installDir);

// Closes a job when the scope ends unless it was closed (a failed assertion returns early, and
// a job left open would hold its folder's lock for the next test).
class ScopedJob {
public:
    explicit ScopedJob(PlaceJob* job) : job_(job) {}
    ~ScopedJob() { Close(); }
    ScopedJob(const ScopedJob&) = delete;
    ScopedJob& operator=(const ScopedJob&) = delete;
    PlaceJob* Get() const { return job_; }
    int Close()
    {
        int result = job_ != nullptr ? PlaceClose(job_) : 1;
        job_ = nullptr;
        return result;
    }

private:
    PlaceJob* job_;
};

// Everything below dir: relative path -> bytes for files, "path\" -> "" for folders, read
// through \\?\ paths (long paths work).
using FolderSnapshot = std::map<std::wstring, std::string>;
FolderSnapshot Snapshot(const std::wstring& dir);
// The snapshot's files only, without the kit's record (what a release put there).
FolderSnapshot FilesOf(const FolderSnapshot& snapshot);
// The snapshot without the engine's own entries (staging, the lock), for a folder while its
// job is still open.
FolderSnapshot WithoutEngine(const FolderSnapshot& snapshot);
// What ReleaseFiles put into a folder, as a snapshot of files only.
FolderSnapshot Expected(const ReleaseFiles& files);

// "" when the snapshots are equal, else the names that differ (with sizes), one per line: a
// failing test prints that instead of every byte.
std::string Difference(const FolderSnapshot& got, const FolderSnapshot& want);

std::wstring LongForm(const std::wstring& path);  // the \\?\ form
void RemoveLongTree(const std::wstring& path);
bool WriteLong(const std::wstring& path, const std::string& bytes);  // makes the parents
std::string ReadLong(const std::wstring& path);
// The record's text (UTF-16 without the byte-order mark); empty when missing or not UTF-16.
std::wstring ReadRecord(const std::wstring& installDir);
std::wstring RecordValue(const std::wstring& record, const std::wstring& section, const std::wstring& key);
