// A full install volume: drive Q:, a private 8 MB tmpfs that a ctest fixture mounts (as root;
// skipped otherwise). Whatever runs out of room (the copy of a host's part, the journal, the
// record, a rewrite in place, two parts of a release delivered side by side), the previous
// install is left byte-identical.
#include <gtest/gtest.h>

#include <string>

#include "support/files.h"
#include "support/placement_bed.h"
#include "support/release.h"

namespace {

const std::wstring Folder = L"Q:\\fulldisk-app";
const std::wstring Filler = L"Q:\\filler";

const ReleaseFiles V1 = {{L"app.exe", "v1"}, {L"data\\small.dat", "small v1"}};

ULONGLONG FreeBytes()
{
    ULARGE_INTEGER available = {};
    GetDiskFreeSpaceExW(L"Q:\\", &available, nullptr, nullptr);
    return available.QuadPart;
}

// Fills Q: until only about keep bytes are free.
bool Fill(ULONGLONG keep)
{
    HANDLE file = CreateFileW(Filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string chunk(65536, 'f');
    while (FreeBytes() > keep + chunk.size()) {
        DWORD put = 0;
        if (!WriteFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &put, nullptr) || put == 0) break;
    }
    std::string rest(4096, 'f');
    while (FreeBytes() > keep + 4096) {
        DWORD put = 0;
        if (!WriteFile(file, rest.data(), 4096, &put, nullptr) || put == 0) break;
    }
    CloseHandle(file);
    return true;
}

class FullDisk : public ::testing::Test {
protected:
    void SetUp() override
    {
        ULARGE_INTEGER available = {}, total = {};
        if (!GetDiskFreeSpaceExW(L"Q:\\", &available, &total, nullptr) || total.QuadPart != 8 * 1024 * 1024) {
            GTEST_SKIP() << "no private 8 MB drive Q: (the tmpfs fixture needs root)";
        }
        RemoveLongTree(Folder);
        DeleteFileW(Filler.c_str());
        ASSERT_EQ(InstallFiles(Folder, L"1", V1, dir_.Path()).end.phase, PLACE_DONE);
        v1_ = Snapshot(Folder);
    }
    void TearDown() override
    {
        DeleteFileW(Filler.c_str());
        RemoveLongTree(Folder);
    }
    void ExpectV1() { EXPECT_EQ(Difference(Snapshot(Folder), v1_), ""); }
    TempDir dir_;
    FolderSnapshot v1_;
};

// Copies from a host's folder on C: do not fit: refused before the first byte is copied.
TEST_F(FullDisk, CopiesThatDoNotFit)
{
    ReleaseFiles v2 = {{L"app.exe", std::string(3 << 20, '2')}, {L"data\\small.dat", "small v2"}};
    ASSERT_TRUE(WritePartManifest(dir_ / L"v2.ini", v2));
    ASSERT_TRUE(WriteEntryFiles(dir_ / L"work", v2));
    ASSERT_TRUE(Fill(1 << 20));
    ScopedJob scoped(PlaceStart(Folder.c_str(), L"2"));
    PlaceJob* job = scoped.Get();
    ASSERT_EQ(WaitPlacePhase(job, PLACE_OPEN).phase, PLACE_OPEN);
    ASSERT_EQ(PlaceAddFiles(job, (dir_ / L"v2.ini").c_str(), (dir_ / L"work").c_str()), 1);
    ASSERT_EQ(PlaceCommit(job), 1);
    PlaceStatus end = WaitPlaceEnd(job);
    EXPECT_EQ(end.phase, PLACE_FAILED);
    EXPECT_EQ(end.text, L"安装文件夹所在磁盘的可用空间不足：" + Folder);
    EXPECT_EQ(scoped.Close(), 1);
    ExpectV1();
}

// Delivered into staging (the disk held that much), then nothing is left for the journal or
// the record.
TEST_F(FullDisk, NoRoomForTheJournalOrTheRecord)
{
    ReleaseFiles v2 = {{L"app.exe", "v2"}, {L"data\\small.dat", "small v2"}, {L"data\\more.dat", std::string(20000, 'm')}};
    ScopedJob scoped(PlaceStart(Folder.c_str(), L"2"));
    PlaceJob* job = scoped.Get();
    ASSERT_EQ(WaitPlacePhase(job, PLACE_OPEN).phase, PLACE_OPEN);
    ASSERT_TRUE(WritePartManifest(dir_ / L"v2.ini", v2));
    wchar_t work[1024];
    ASSERT_EQ(PlaceAddPart(job, (dir_ / L"v2.ini").c_str(), work, 1024), 1);
    ASSERT_TRUE(WriteEntryFiles(work, v2));
    ASSERT_TRUE(Fill(0));
    ASSERT_EQ(PlaceCommit(job), 1) << Narrow(PollPlace(job).text);
    PlaceStatus end = WaitPlaceEnd(job);
    EXPECT_EQ(end.phase, PLACE_FAILED);
    EXPECT_EQ(end.text.rfind(L"磁盘空间不足，无法写入：" + Folder + L"\\.qel-stage\\", 0), 0u) << Narrow(end.text);
    EXPECT_EQ(Difference(WithoutEngine(Snapshot(Folder)), v1_), "");
    // Room again: the same job tries again and succeeds.
    ASSERT_TRUE(DeleteFileW(Filler.c_str()));
    ASSERT_EQ(PlaceCommit(job), 1);
    end = WaitPlaceEnd(job);
    EXPECT_EQ(end.phase, PLACE_DONE) << Narrow(end.text);
    EXPECT_EQ(scoped.Close(), 1);
    EXPECT_EQ(Difference(FilesOf(Snapshot(Folder)), Expected(v2)), "");
}

// A target held with write sharing is rewritten in place; the new bytes do not fit. The
// rewrite is undone from its backup copy: the holder sees the old bytes again.
TEST_F(FullDisk, ARewriteInPlaceThatRunsOutOfRoom)
{
    ReleaseFiles v2 = {{L"app.exe", "v2"}, {L"data\\small.dat", std::string(2 << 20, 's')}};
    ScopedJob scoped(PlaceStart(Folder.c_str(), L"2"));
    PlaceJob* job = scoped.Get();
    ASSERT_EQ(WaitPlacePhase(job, PLACE_OPEN).phase, PLACE_OPEN);
    ASSERT_TRUE(WritePartManifest(dir_ / L"v2.ini", v2));
    wchar_t work[1024];
    ASSERT_EQ(PlaceAddPart(job, (dir_ / L"v2.ini").c_str(), work, 1024), 1);
    ASSERT_TRUE(WriteEntryFiles(work, v2));
    ASSERT_TRUE(Fill(1 << 20));
    HANDLE held = CreateFileW((Folder + L"\\data\\small.dat").c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ASSERT_EQ(PlaceCommit(job), 1);
    PlaceStatus end = WaitPlaceEnd(job);
    EXPECT_EQ(end.phase, PLACE_FAILED);
    EXPECT_EQ(end.text, L"磁盘空间不足，无法写入：" + Folder + L"\\data\\small.dat");
    CloseHandle(held);
    EXPECT_EQ(scoped.Close(), 1);
    ExpectV1();
}

// Two parts that each fit the volume but not both: delivered side by side, both may pass their
// free-space test and one then runs out of room while it writes. The release fails as a whole,
// and the folder and the volume's free space are as they were.
TEST_F(FullDisk, APartedReleaseThatFitsOnlyPartByPart)
{
    const ULONGLONG free = FreeBytes();
    Manifest index;
    for (int k = 1; k <= 2; ++k) {
        const std::wstring n = std::to_wstring(k);
        Release part = MakeRelease({RandomBytes(static_cast<size_t>(free * 6 / 10), 30 + k)}, false);
        part.manifest.Set(L"0", L"Name", L"big" + n + L".bin");
        ASSERT_TRUE(part.manifest.Write(dir_ / (L"manifest-" + n + L".ini")));
        ASSERT_TRUE(WriteBytes(dir_ / (L"application-" + n + L".cab"), part.cabinet));
        const std::wstring section = L"Part" + n;
        index.Set(section, L"Manifest", L"manifest-" + n + L".ini");
        index.Set(section, L"Package", L"application-" + n + L".cab");
        for (const wchar_t* key : {L"Count", L"Size", L"Sha256", L"UnpackedSize"}) {
            index.Set(section, key, part.manifest.Get(L"Package", key));
        }
    }
    index.Set(L"Release", L"Format", L"qel-release-1");
    index.Set(L"Release", L"Target", L"windows-x64");
    index.Set(L"Release", L"Parts", L"2");
    ASSERT_TRUE(index.Write(dir_ / L"release.ini"));

    ReleaseJob* job = ReleaseStart((dir_ / L"release.ini").c_str(), L"", Folder.c_str(), L"2");
    ASSERT_NE(job, nullptr);
    int phase = 0;
    int percent = 0;
    wchar_t text[1024] = L"";
    DWORD start = GetTickCount();
    do {
        Sleep(10);
        ReleasePoll(job, &phase, &percent, text, 1024);
    } while (phase < RELEASE_DONE && GetTickCount() - start < 60000);
    EXPECT_EQ(ReleaseClose(job), 1);
    EXPECT_EQ(phase, RELEASE_FAILED) << Narrow(text);
    const std::wstring line = text;
    EXPECT_TRUE(line == L"应用包工作磁盘的可用空间不足。" || line == L"应用包解压失败或文件清单不完整。") << Narrow(text);
    ExpectV1();
    EXPECT_EQ(FreeBytes(), free);
}

}  // namespace
