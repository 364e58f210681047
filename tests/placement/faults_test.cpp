// A failed upgrade leaves the previous install byte-identical: a target held without any
// sharing, a folder where a file must go, a file where a folder must go, a cancel at any moment.
// A target held with write sharing is rewritten in place (as a plain installer would); a
// read-only one is replaced; a program running from the folder is replaced under it.
#include <gtest/gtest.h>

#include <string>

#include "support/files.h"
#include "support/placement_bed.h"

namespace {

const ReleaseFiles V1 = {
    {L"app.exe", "program v1"},
    {L"readme.txt", "readme v1"},
    {L"lib\\core.dll", std::string(40000, '1')},
    {L"old\\legacy.dat", "only in v1"},
    {L"tools", "a file in v1, a folder in v2"},
};
const ReleaseFiles V2 = {
    {L"app.exe", "program v2 is longer"},
    {L"readme.txt", "readme v2"},
    {L"lib\\core.dll", std::string(30000, '2')},
    {L"lib\\extra.dll", "new in v2"},
    {L"tools\\tool.exe", "v2 tool"},
};

// The one file left in an install folder's staging.
std::wstring FindBackup(const std::wstring& folder)
{
    for (const auto& [name, bytes] : Snapshot(folder)) {
        if (name.rfind(L".qel-stage\\", 0) == 0 && name.back() != L'\\') return folder + L"\\" + name;
    }
    return L"<none>";
}

class Faults : public ::testing::Test {
protected:
    void SetUp() override
    {
        PlaceOutcome out = InstallFiles(Folder(), L"1", V1, dir_.Path());
        ASSERT_EQ(out.end.phase, PLACE_DONE) << Narrow(out.end.text);
        v1_ = Snapshot(Folder());
    }
    std::wstring Folder() const { return dir_ / L"app"; }
    std::wstring In(const std::wstring& name) const { return Folder() + L"\\" + name; }

    // Starts the v2 job up to the commit. The caller polls, then closes.
    PlaceJob* CommitV2()
    {
        PlaceJob* job = PlaceStart(Folder().c_str(), L"2");
        if (job == nullptr || WaitPlacePhase(job, PLACE_OPEN).phase != PLACE_OPEN) return job;
        std::wstring manifest = dir_ / L"v2.ini";
        wchar_t work[1024];
        if (!WritePartManifest(manifest, V2) || !PlaceAddPart(job, manifest.c_str(), work, 1024)) return job;
        WriteEntryFiles(work, V2);
        PlaceCommit(job);
        return job;
    }
    void ExpectV1()
    {
        EXPECT_EQ(Difference(Snapshot(Folder()), v1_), "") << "the previous install is not as it was";
    }
    void ExpectV2()
    {
        EXPECT_EQ(Difference(FilesOf(Snapshot(Folder())), Expected(V2)), "");
        EXPECT_EQ(RecordValue(ReadRecord(Folder()), L"Install", L"Version"), L"2");
    }
    TempDir dir_;
    FolderSnapshot v1_;
};

TEST_F(Faults, TargetHeldWithoutAnySharingFailsAndAllowsARetry)
{
    HANDLE held = CreateFileW(In(L"readme.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    PlaceJob* job = CommitV2();
    ASSERT_NE(job, nullptr);
    // Waited for a few seconds first (a scanner lets go), saying so.
    PlaceStatus waiting = WaitPlacePhase(job, PLACE_DONE, 1500);
    EXPECT_EQ(waiting.text, L"正在等待文件释放：" + In(L"readme.txt"));
    PlaceStatus end = WaitPlaceEnd(job);
    ASSERT_EQ(end.phase, PLACE_FAILED);
    // No program names under Wine: the Restart Manager lists none there.
    EXPECT_EQ(end.text.substr(0, end.text.find(L"（")), L"文件正被使用：" + In(L"readme.txt"));
    CloseHandle(held);
    EXPECT_EQ(Difference(WithoutEngine(Snapshot(Folder())), v1_), "");
    // The staged files are given back: the same job may try again once the file is free.
    ASSERT_EQ(PlaceCommit(job), 1);
    end = WaitPlaceEnd(job);
    EXPECT_EQ(end.phase, PLACE_DONE) << Narrow(end.text);
    EXPECT_EQ(PlaceClose(job), 1);
    ExpectV2();
}

TEST_F(Faults, FailedTryIsByteIdentical)
{
    HANDLE held = CreateFileW(In(L"lib\\core.dll").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    PlaceJob* job = CommitV2();
    PlaceStatus end = WaitPlaceEnd(job);
    EXPECT_EQ(end.phase, PLACE_FAILED);
    CloseHandle(held);
    EXPECT_EQ(PlaceClose(job), 1);
    ExpectV1();
}

// The way a plain installer's File command succeeds: write sharing without delete sharing.
TEST_F(Faults, TargetHeldWithWriteSharingIsRewrittenInPlace)
{
    HANDLE held = CreateFileW(In(L"app.exe").c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    PlaceJob* job = CommitV2();
    PlaceStatus end = WaitPlaceEnd(job);
    EXPECT_EQ(end.phase, PLACE_DONE) << Narrow(end.text);
    // The holder sees the new bytes: the same file, rewritten.
    char seen[64] = {};
    DWORD got = 0;
    SetFilePointer(held, 0, nullptr, FILE_BEGIN);
    ReadFile(held, seen, sizeof seen - 1, &got, nullptr);
    EXPECT_STREQ(seen, "program v2 is longer");
    CloseHandle(held);
    EXPECT_EQ(PlaceClose(job), 1);
    ExpectV2();
    // The record's time is the file's, so the next install reads it as unchanged.
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW(In(L"app.exe").c_str(), GetFileExInfoStandard, &data));
    ULONGLONG time = (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    EXPECT_EQ(RecordValue(ReadRecord(Folder()), L"0", L"Time"), std::to_wstring(time));
}

TEST_F(Faults, FolderWhereAFileMustGo)
{
    ASSERT_TRUE(CreateDirectoryW(In(L"lib\\extra.dll").c_str(), nullptr));
    v1_ = Snapshot(Folder());
    PlaceJob* job = CommitV2();
    PlaceStatus end = WaitPlaceEnd(job);
    EXPECT_EQ(end.phase, PLACE_FAILED);
    EXPECT_EQ(end.text, L"安装位置已有同名文件夹：" + In(L"lib\\extra.dll"));
    EXPECT_EQ(Difference(WithoutEngine(Snapshot(Folder())), v1_), "");
    // Once the folder is out of the way, the same job tries again.
    ASSERT_TRUE(RemoveDirectoryW(In(L"lib\\extra.dll").c_str()));
    ASSERT_EQ(PlaceCommit(job), 1);
    end = WaitPlaceEnd(job);
    EXPECT_EQ(end.phase, PLACE_DONE) << Narrow(end.text);
    EXPECT_EQ(PlaceClose(job), 1);
    ExpectV2();
}

TEST_F(Faults, FileWhereAFolderMustGo)
{
    ReleaseFiles v2 = V2;
    v2.push_back({L"mine.txt\\inner.txt", "x"});
    ASSERT_TRUE(WriteBytes(In(L"mine.txt"), "the user's file"));
    v1_ = Snapshot(Folder());
    PlaceOutcome out = InstallFiles(Folder(), L"2", v2, dir_.Path());
    EXPECT_EQ(out.end.phase, PLACE_FAILED);
    EXPECT_EQ(out.end.text, L"安装位置已有同名文件，无法创建文件夹：" + In(L"mine.txt"));
    EXPECT_EQ(out.closed, 1);
    ExpectV1();
}

// A file of v1 where v2 wants a folder ("tools") goes aside first; the upgrade works.
TEST_F(Faults, OldFileWhereANewFolderGoes)
{
    PlaceOutcome out = InstallFiles(Folder(), L"2", V2, dir_.Path());
    EXPECT_EQ(out.end.phase, PLACE_DONE) << Narrow(out.end.text);
    ExpectV2();
}

TEST_F(Faults, ReadOnlyTargetsAreReplacedAndRemoved)
{
    ASSERT_TRUE(SetFileAttributesW(In(L"readme.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesW(In(L"old\\legacy.dat").c_str(), FILE_ATTRIBUTE_READONLY));
    PlaceOutcome out = InstallFiles(Folder(), L"2", V2, dir_.Path());
    EXPECT_EQ(out.end.phase, PLACE_DONE) << Narrow(out.end.text);
    EXPECT_EQ(out.closed, 1);
    ExpectV2();
    EXPECT_FALSE(DirExists(In(L"old")));
}

// Rolled back: a read-only file comes back read-only.
TEST_F(Faults, ReadOnlyTargetComesBackAsItWas)
{
    ASSERT_TRUE(SetFileAttributesW(In(L"readme.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    HANDLE held = CreateFileW(In(L"lib\\core.dll").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    PlaceJob* job = CommitV2();
    EXPECT_EQ(WaitPlaceEnd(job).phase, PLACE_FAILED);
    CloseHandle(held);
    EXPECT_EQ(PlaceClose(job), 1);
    EXPECT_EQ(GetFileAttributesW(In(L"readme.txt").c_str()) & FILE_ATTRIBUTE_READONLY, static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    SetFileAttributesW(In(L"readme.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    ExpectV1();
}

// A cancel while a held file is waited for: nothing has changed yet.
TEST_F(Faults, CancelWhileWaitingForAHeldFile)
{
    HANDLE held = CreateFileW(In(L"readme.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    PlaceJob* job = CommitV2();
    DWORD start = GetTickCount();
    while (PollPlace(job).text.rfind(L"正在等待文件释放", 0) != 0 && GetTickCount() - start < 5000) Sleep(5);
    EXPECT_EQ(PlaceCancel(job), 1);
    PlaceStatus end = WaitPlaceEnd(job);
    EXPECT_LT(GetTickCount() - start, 2500u) << "the wait ends with the cancel";
    EXPECT_EQ(end.phase, PLACE_CANCELLED);
    EXPECT_EQ(end.text, L"已取消，安装文件夹保持原样。");
    EXPECT_EQ(PlaceCommit(job), 0);
    CloseHandle(held);
    EXPECT_EQ(PlaceClose(job), 1);
    ExpectV1();
}

// A cancel at whatever moment it comes leaves exactly the old release (cancelled) or exactly
// the new one (the commit point had passed: done).
TEST_F(Faults, CancelAtAnyMomentLeavesOldOrNew)
{
    // How long a commit takes here, so that the cancels spread over all of it and past it.
    LARGE_INTEGER f, t0, t;
    QueryPerformanceFrequency(&f);
    PlaceJob* probe = CommitV2();
    QueryPerformanceCounter(&t0);
    ASSERT_EQ(WaitPlaceEnd(probe).phase, PLACE_DONE);
    QueryPerformanceCounter(&t);
    LONGLONG whole = (t.QuadPart - t0.QuadPart) * 1000000 / f.QuadPart;
    ASSERT_EQ(PlaceClose(probe), 1);
    ASSERT_EQ(UninstallFolder(Folder()).end.phase, PLACE_DONE);
    ASSERT_EQ(InstallFiles(Folder(), L"1", V1, dir_.Path()).end.phase, PLACE_DONE);
    v1_ = Snapshot(Folder());

    int cancelled = 0;
    int done = 0;
    const int rounds = 24;
    for (int round = 0; round < rounds; ++round) {
        LONGLONG delay = whole * 2 * round / rounds;
        PlaceJob* job = CommitV2();
        ASSERT_NE(job, nullptr);
        // Sleeping leaves the worker the processor on a busy machine; short waits spin.
        if (delay >= 1000) {
            Sleep(static_cast<DWORD>(delay / 1000));
        } else {
            QueryPerformanceCounter(&t0);
            do {
                QueryPerformanceCounter(&t);
            } while ((t.QuadPart - t0.QuadPart) * 1000000 / f.QuadPart < delay);
        }
        PlaceCancel(job);
        PlaceStatus end = WaitPlaceEnd(job);
        EXPECT_EQ(PlaceClose(job), 1);
        if (end.phase == PLACE_CANCELLED) {
            ++cancelled;
            EXPECT_EQ(Difference(Snapshot(Folder()), v1_), "") << "cancelled after " << delay << " us";
        } else {
            ASSERT_EQ(end.phase, PLACE_DONE) << Narrow(end.text);
            ++done;
            EXPECT_EQ(Difference(FilesOf(Snapshot(Folder())), Expected(V2)), "") << "done after " << delay << " us";
            // Back to v1 for the next round.
            ASSERT_EQ(UninstallFolder(Folder()).end.phase, PLACE_DONE);
            ASSERT_EQ(InstallFiles(Folder(), L"1", V1, dir_.Path()).end.phase, PLACE_DONE);
            v1_ = Snapshot(Folder());
        }
    }
    EXPECT_GT(cancelled, 0);
    EXPECT_GT(done, 0) << "no cancel came late enough to find the commit passed (a commit takes " << whole << " us)";
}

// A program running from the install folder is replaced under it (its image can be renamed).
// The program is the test bed's holdfile.exe (linked statically), waiting on its standard input.
TEST_F(Faults, RunningProgramIsReplaced)
{
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring bin = self;
    bin = bin.substr(0, bin.rfind(L'\\'));
    std::string program = ReadBytes(bin + L"\\holdfile.exe");
    ASSERT_FALSE(program.empty());
    ReleaseFiles v1 = {{L"bin\\runner.exe", program}, {L"data.txt", "v1"}};
    ReleaseFiles v2 = {{L"bin\\runner.exe", "a new runner"}, {L"data.txt", "v2"}};
    std::wstring folder = dir_ / L"running";
    ASSERT_EQ(InstallFiles(folder, L"1", v1, dir_.Path()).end.phase, PLACE_DONE);

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &inherit, 0));
    SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);
    std::wstring command = L"\"" + folder + L"\\bin\\runner.exe\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = readEnd;
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi));
    CloseHandle(readEnd);
    Sleep(300);
    ASSERT_EQ(WaitForSingleObject(pi.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the program did not stay";

    PlaceOutcome out = InstallFiles(folder, L"2", v2, dir_.Path());
    EXPECT_EQ(out.end.phase, PLACE_DONE) << Narrow(out.end.text);
    EXPECT_EQ(Difference(WithoutEngine(FilesOf(Snapshot(folder))), Expected(v2)), "");
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the program still runs";
    // The old program's image cannot be deleted while it runs: its backup stays in staging, and
    // the close says so.
    EXPECT_EQ(out.closed, 0);
    EXPECT_EQ(ReadBytes(FindBackup(folder)), program);
    CloseHandle(writeEnd);
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    // The next run of any job removes it.
    PlaceJob* next = PlaceStart(folder.c_str(), L"3");
    ASSERT_EQ(WaitPlacePhase(next, PLACE_OPEN).phase, PLACE_OPEN);
    EXPECT_EQ(PlaceClose(next), 1);
    FolderSnapshot cleaned = Snapshot(folder);
    EXPECT_EQ(cleaned.count(L".qel-stage\\"), 0u) << "the stale staging folder stayed";
    EXPECT_EQ(cleaned.count(L".qel-lock"), 0u);
    EXPECT_EQ(Difference(FilesOf(Snapshot(folder)), Expected(v2)), "");
}

}  // namespace
