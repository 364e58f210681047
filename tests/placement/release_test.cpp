// A whole release through qelplace's release exports: parts beside the index or downloaded,
// delivered two at a time (again after a dropped connection, or from a mirror), placed as
// one transaction; an index that breaks a rule is refused with its line and nothing is left.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/https_bed.h"
#include "support/placement_bed.h"
#include "support/release.h"

namespace {

struct ReleaseStatus {
    int phase = 0;
    int percent = -1;
    std::wstring text;
};

ReleaseStatus PollRelease(ReleaseJob* job)
{
    ReleaseStatus s;
    wchar_t text[1024] = L"";
    EXPECT_EQ(ReleasePoll(job, &s.phase, &s.percent, text, 1024), 1);
    s.text = text;
    return s;
}

// Polls every few milliseconds until a phase of 5 or more; every status seen goes to seen.
ReleaseStatus WaitRelease(ReleaseJob* job, std::vector<ReleaseStatus>* seen = nullptr, DWORD timeoutMs = 60000)
{
    DWORD start = GetTickCount();
    ReleaseStatus s = PollRelease(job);
    while (s.phase < RELEASE_DONE && GetTickCount() - start < timeoutMs) {
        if (seen != nullptr && (seen->empty() || seen->back().text != s.text || seen->back().phase != s.phase)) {
            seen->push_back(s);
        }
        Sleep(5);
        s = PollRelease(job);
    }
    return s;
}

bool TextSeen(const std::vector<ReleaseStatus>& seen, const std::wstring& text)
{
    for (const ReleaseStatus& s : seen) {
        if (s.text == text) return true;
    }
    return false;
}

int CountOf(const std::string& log, const std::string& what)
{
    int count = 0;
    for (size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) ++count;
    return count;
}

// A release in parts as qelpack lays it out: manifest-00K.ini and a package per part, and
// release.ini naming them.
class Parts : public ::testing::Test {
public:  // the table of broken indexes below reaches in through plain function pointers
    void SetUp() override
    {
        // The first part's package spans several 64 KiB reads: trickled, its downloading lines
        // are seen (Wine's WinHTTP completes a read only when its buffer is full or the body ends).
        parts_.push_back(MakeRelease({TextBytes(40000), RandomBytes(200000, 1)}));
        parts_.push_back(MakeRelease({RandomBytes(50000, 2), "two"}));
        parts_.push_back(MakeRelease({TextBytes(1000)}));
        const wchar_t* names[][2] = {{L"readme.txt", L"bin\\app.exe"}, {L"bin\\data.bin", L"lib\\two.txt"}, {L"last.txt", nullptr}};
        for (size_t k = 0; k < parts_.size(); ++k) {
            for (size_t e = 0; e < parts_[k].contents.size(); ++e) {
                parts_[k].manifest.Set(std::to_wstring(e), L"Name", names[k][e]);
                want_[names[k][e]] = parts_[k].contents[e];
            }
            packageNames_.push_back(PartFile(L"application", k, L".cab"));
        }
        want_[L"bin\\"] = "";
        want_[L"lib\\"] = "";
    }
    static std::wstring PartFile(const std::wstring& stem, size_t k, const std::wstring& ext)
    {
        wchar_t number[8];
        wsprintfW(number, L"-%03u", static_cast<unsigned>(k + 1));
        return stem + number + ext;
    }
    // Writes every part's manifest and package and the index (index changes after the parts).
    void WriteRelease()
    {
        for (size_t k = 0; k < parts_.size(); ++k) {
            ASSERT_TRUE(parts_[k].manifest.Write(dir_ / PartFile(L"manifest", k, L".ini")));
            ASSERT_TRUE(WriteBytes(dir_ / packageNames_[k], parts_[k].cabinet));
            std::wstring section = L"Part" + std::to_wstring(k + 1);
            index_.Set(section, L"Manifest", PartFile(L"manifest", k, L".ini"));
            index_.Set(section, L"Package", packageNames_[k]);
            index_.Set(section, L"Count", parts_[k].manifest.Get(L"Package", L"Count"));
            index_.Set(section, L"Size", parts_[k].manifest.Get(L"Package", L"Size"));
            index_.Set(section, L"Sha256", parts_[k].manifest.Get(L"Package", L"Sha256"));
            index_.Set(section, L"UnpackedSize", parts_[k].manifest.Get(L"Package", L"UnpackedSize"));
        }
        index_.Set(L"Release", L"Format", L"qel-release-1");
        index_.Set(L"Release", L"Target", L"windows-x64");
        index_.Set(L"Release", L"Parts", std::to_wstring(parts_.size()));
    }
    void WriteIndex() { ASSERT_TRUE(index_.Write(dir_ / L"release.ini")); }
    std::wstring Folder() const { return dir_ / L"app"; }
    // Installs the release; the final status.
    ReleaseStatus Install(std::vector<ReleaseStatus>* seen = nullptr, int* closed = nullptr)
    {
        ReleaseJob* job = ReleaseStart((dir_ / L"release.ini").c_str(), L"", Folder().c_str(), L"1.0");
        EXPECT_NE(job, nullptr);
        if (job == nullptr) return {};
        ReleaseStatus end = WaitRelease(job, seen);
        int result = ReleaseClose(job);
        if (closed != nullptr) *closed = result;
        return end;
    }
    // The folder holds the release and its record, nothing else.
    void ExpectInstalled()
    {
        FolderSnapshot got = Snapshot(Folder());
        FolderSnapshot want = want_;
        want[L"qel-install.ini"] = got[L"qel-install.ini"];
        EXPECT_EQ(Difference(got, want), "");
        EXPECT_EQ(RecordValue(ReadRecord(Folder()), L"Install", L"Count"), L"5");
    }
    // A refused or cancelled release: the folder that did not exist before is not there.
    void ExpectNothingLeft() { EXPECT_FALSE(DirExists(Folder())) << Difference(Snapshot(Folder()), {}); }

    TempDir dir_;
    std::vector<Release> parts_;
    std::vector<std::wstring> packageNames_;
    Manifest index_;
    FolderSnapshot want_;
};

TEST_F(Parts, InstalledAsOneReleaseAndUninstalledExactly)
{
    WriteRelease();
    WriteIndex();
    std::vector<ReleaseStatus> seen;
    int closed = -1;
    ReleaseStatus end = Install(&seen, &closed);
    EXPECT_EQ(end.phase, RELEASE_DONE) << Narrow(end.text);
    EXPECT_EQ(end.text, L"安装完成。");
    EXPECT_EQ(end.percent, 100);
    EXPECT_EQ(closed, 1);
    ExpectInstalled();
    int last = 0;
    for (const ReleaseStatus& s : seen) {
        EXPECT_GE(s.percent, s.phase == RELEASE_PLACING ? 90 : 0) << Narrow(s.text);
        EXPECT_LE(s.percent, s.phase == RELEASE_PLACING ? 100 : 90) << Narrow(s.text);
        if (s.phase == RELEASE_DELIVERING) {
            EXPECT_GE(s.percent, last) << "the bar goes back: " << Narrow(s.text);
            last = s.percent;
        }
    }
    PlaceOutcome removed = UninstallFolder(Folder());
    EXPECT_EQ(removed.end.phase, PLACE_DONE) << Narrow(removed.end.text);
    ExpectNothingLeft();
}

TEST_F(Parts, RelativePathsAreFixedAtTheStart)
{
    WriteRelease();
    WriteIndex();
    wchar_t before[1024];
    GetCurrentDirectoryW(1024, before);
    ASSERT_TRUE(SetCurrentDirectoryW(dir_.Path().c_str()));
    ReleaseJob* job = ReleaseStart(L"release.ini", L".", L"app", L"1.0");
    TempDir elsewhere;
    SetCurrentDirectoryW(elsewhere.Path().c_str());
    ASSERT_NE(job, nullptr);
    ReleaseStatus end = WaitRelease(job);
    EXPECT_EQ(ReleaseClose(job), 1);
    SetCurrentDirectoryW(before);
    EXPECT_EQ(end.phase, RELEASE_DONE) << Narrow(end.text);
    ExpectInstalled();
    EXPECT_FALSE(DirExists(elsewhere / L"app"));
}

TEST_F(Parts, ASingleManifestIsAOnePartRelease)
{
    WriteRelease();
    ReleaseJob* job = ReleaseStart((dir_ / PartFile(L"manifest", 1, L".ini")).c_str(), (dir_ / packageNames_[1]).c_str(),
                                   Folder().c_str(), L"1.0");
    ASSERT_NE(job, nullptr);
    ReleaseStatus end = WaitRelease(job);
    EXPECT_EQ(ReleaseClose(job), 1);
    EXPECT_EQ(end.phase, RELEASE_DONE) << Narrow(end.text);
    FolderSnapshot got = Snapshot(Folder());
    EXPECT_EQ(Difference(FilesOf(got), FilesOf({{L"bin\\data.bin", parts_[1].contents[0]}, {L"lib\\two.txt", "two"}})), "");
}

TEST_F(Parts, BadArgumentsStartNothing)
{
    WriteRelease();
    WriteIndex();
    std::wstring index = dir_ / L"release.ini";
    EXPECT_EQ(ReleaseStart(nullptr, L"", Folder().c_str(), L"1"), nullptr);
    EXPECT_EQ(ReleaseStart(index.c_str(), nullptr, Folder().c_str(), L"1"), nullptr);
    EXPECT_EQ(ReleaseStart(index.c_str(), L"", nullptr, L"1"), nullptr);
    EXPECT_EQ(ReleaseStart(index.c_str(), L"", Folder().c_str(), nullptr), nullptr);
    EXPECT_EQ(ReleaseStart(L"", L"", Folder().c_str(), L"1"), nullptr);
    EXPECT_EQ(ReleaseStart((index + L"\r\n").c_str(), L"", Folder().c_str(), L"1"), nullptr);
    EXPECT_EQ(ReleaseStart(index.c_str(), L"", Folder().c_str(), L"1\r\n"), nullptr);
    EXPECT_EQ(ReleaseStart(std::wstring(1100, L'a').c_str(), L"", Folder().c_str(), L"1"), nullptr);
    int phase = 0, percent = 0;
    wchar_t text[8];
    EXPECT_EQ(ReleasePoll(nullptr, &phase, &percent, text, 8), 0);
    EXPECT_EQ(ReleaseCancel(nullptr), 0);
    EXPECT_EQ(ReleaseRetry(nullptr), 0);
    EXPECT_EQ(ReleaseClose(nullptr), 1);
    ExpectNothingLeft();
}

// Each case breaks the index (or a part) one way; the install fails with the line, and the
// folder, which did not exist, is not made.
TEST_F(Parts, ABrokenIndexIsRefusedWithItsLine)
{
    WriteRelease();
    struct Case {
        const char* what;
        void (*breakIt)(Parts* self);
        std::wstring line;
    };
    const std::wstring index = dir_ / L"release.ini";
    const Case cases[] = {
        {"a missing part manifest", [](Parts* self) { DeleteFileW((self->dir_ / L"manifest-002.ini").c_str()); },
         L"发布索引中的文件缺失：" + (dir_ / L"manifest-002.ini")},
        {"a missing package", [](Parts* self) { DeleteFileW((self->dir_ / L"application-003.cab").c_str()); },
         L"发布索引中的文件缺失：" + (dir_ / L"application-003.cab")},
        {"a part listed twice",
         [](Parts* self) {
             self->index_.Set(L"Part3", L"Manifest", L"manifest-001.ini");
         },
         L"发布索引中的分卷重复：manifest-001.ini"},
        {"a package listed twice", [](Parts* self) { self->index_.Set(L"Part2", L"Package", L"APPLICATION-001.cab"); },
         L"发布索引中的分卷重复：APPLICATION-001.cab"},
        {"Parts above the sections", [](Parts* self) { self->index_.Set(L"Release", L"Parts", L"4"); },
         L"发布索引的分卷数与分卷不一致：" + index},
        {"Parts below the sections", [](Parts* self) { self->index_.Set(L"Release", L"Parts", L"2"); },
         L"发布索引的分卷数与分卷不一致：" + index},
        {"a part's digest not its manifest's",
         [](Parts* self) { self->index_.Set(L"Part2", L"Sha256", self->index_.Get(L"Part1", L"Sha256")); },
         L"发布索引与分卷的发布清单不一致：" + (dir_ / L"manifest-002.ini")},
        {"another format", [](Parts* self) { self->index_.Set(L"Release", L"Format", L"qel-release-2"); },
         L"发布索引无效：" + index},
        {"a package in a folder", [](Parts* self) { self->index_.Set(L"Part1", L"Package", L"sub\\application-001.cab"); },
         L"发布索引无效：" + index},
        {"a Name in two parts",
         [](Parts* self) {
             self->parts_[2].manifest.Set(L"0", L"Name", L"BIN\\APP.EXE");
             self->WriteRelease();
         },
         L"发布清单中的文件名重复：BIN\\APP.EXE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Manifest saved = index_;
        std::vector<Release> savedParts = parts_;
        WriteRelease();
        c.breakIt(this);
        WriteIndex();
        ReleaseStatus end = Install();
        EXPECT_EQ(end.phase, RELEASE_FAILED);
        EXPECT_EQ(end.text, c.line) << Narrow(end.text);
        ExpectNothingLeft();
        index_ = saved;
        parts_ = savedParts;
    }
}

TEST_F(Parts, APackageReplacedByAnothersIsRefusedAndNothingPlaced)
{
    WriteRelease();
    WriteIndex();
    ASSERT_TRUE(CreateDirectoryW(Folder().c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(Folder() + L"\\mine.txt", "mine"));
    FolderSnapshot before = Snapshot(Folder());
    ASSERT_TRUE(WriteBytes(dir_ / packageNames_[2], parts_[1].cabinet));
    std::vector<ReleaseStatus> seen;
    ReleaseStatus end = Install(&seen);
    EXPECT_EQ(end.phase, RELEASE_FAILED);
    EXPECT_EQ(end.text, L"应用包大小与发布清单不一致。");
    for (const ReleaseStatus& s : seen) EXPECT_NE(s.phase, RELEASE_WAITING) << "a package beside the index is not tried again";
    EXPECT_EQ(Difference(Snapshot(Folder()), before), "");
}

TEST_F(Parts, APlacingFailureIsRetriedWithTheSameDeliveries)
{
    WriteRelease();
    WriteIndex();
    ASSERT_TRUE(CreateDirectoryW(Folder().c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((Folder() + L"\\last.txt").c_str(), nullptr));
    ReleaseJob* job = ReleaseStart((dir_ / L"release.ini").c_str(), L"", Folder().c_str(), L"1.0");
    ASSERT_NE(job, nullptr);
    ReleaseStatus end = WaitRelease(job);
    EXPECT_EQ(end.phase, RELEASE_PLACING_FAILED) << Narrow(end.text);
    EXPECT_EQ(end.text, L"安装位置已有同名文件夹：" + Folder() + L"\\last.txt");
    EXPECT_EQ(PollRelease(job).phase, RELEASE_PLACING_FAILED) << "it waits for the host";
    ASSERT_TRUE(RemoveDirectoryW((Folder() + L"\\last.txt").c_str()));
    ASSERT_EQ(ReleaseRetry(job), 1);
    EXPECT_EQ(PollRelease(job).phase, RELEASE_PLACING) << "no poll after the retry sees the failure";
    end = WaitRelease(job);
    EXPECT_EQ(end.phase, RELEASE_DONE) << Narrow(end.text);
    EXPECT_EQ(ReleaseRetry(job), 0);
    EXPECT_EQ(ReleaseClose(job), 1);
    ExpectInstalled();
}

TEST_F(Parts, CancelAfterAPlacingFailureLeavesTheFolderAsItWas)
{
    WriteRelease();
    WriteIndex();
    ASSERT_TRUE(CreateDirectoryW(Folder().c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((Folder() + L"\\last.txt").c_str(), nullptr));
    FolderSnapshot before = Snapshot(Folder());
    ReleaseJob* job = ReleaseStart((dir_ / L"release.ini").c_str(), L"", Folder().c_str(), L"1.0");
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(WaitRelease(job).phase, RELEASE_PLACING_FAILED);
    EXPECT_EQ(ReleaseCancel(job), 1);
    EXPECT_EQ(ReleaseRetry(job), 0) << "cancelled";
    // Phase 8 stays until the job has closed its deliveries and the placement job.
    ReleaseStatus end = PollRelease(job);
    for (DWORD start = GetTickCount(); end.phase == RELEASE_PLACING_FAILED && GetTickCount() - start < 10000;) {
        Sleep(5);
        end = PollRelease(job);
    }
    EXPECT_EQ(end.phase, RELEASE_CANCELLED);
    EXPECT_EQ(end.text, L"已取消，安装文件夹保持原样。");
    EXPECT_EQ(ReleaseClose(job), 1);
    EXPECT_EQ(Difference(Snapshot(Folder()), before), "");
}

TEST_F(Parts, CancelAtAnyMomentLeavesNothing)
{
    WriteRelease();
    WriteIndex();
    for (DWORD delay : {0u, 5u, 20u, 60u, 150u}) {
        SCOPED_TRACE(delay);
        ReleaseJob* job = ReleaseStart((dir_ / L"release.ini").c_str(), L"", Folder().c_str(), L"1.0");
        ASSERT_NE(job, nullptr);
        Sleep(delay);
        EXPECT_EQ(ReleaseCancel(job), 1);
        ReleaseStatus end = WaitRelease(job);
        EXPECT_EQ(ReleaseClose(job), 1);
        if (end.phase == RELEASE_DONE) {
            ExpectInstalled();  // the commit point had passed
            UninstallFolder(Folder());
        } else {
            EXPECT_EQ(end.phase, RELEASE_CANCELLED) << Narrow(end.text);
            EXPECT_TRUE(end.text == L"已取消，未开始安装。" || end.text == L"已取消，安装文件夹保持原样。") << Narrow(end.text);
        }
        ExpectNothingLeft();
    }
}

// Downloads from the test bed's HTTPS server.
class Downloaded : public Parts {
protected:
    static void SetUpTestSuite() { found_ = FindHttpsBed(&bed_); }
    void SetUp() override
    {
        ASSERT_TRUE(found_) << "the HTTPS test server is not running (ctest starts it)";
        Parts::SetUp();
        for (size_t k = 0; k < parts_.size(); ++k) {
            served_.emplace_back(new ServedFile(bed_, parts_[k].cabinet));
            ASSERT_TRUE(served_.back()->Ok());
            packageNames_[k] = served_.back()->Name();
        }
    }
    // Every part's Url on the server in mode (one part's in its own mode when part >= 0).
    void UseUrls(const std::wstring& mode, int part = -1, const std::wstring& partMode = L"")
    {
        for (size_t k = 0; k < parts_.size(); ++k) {
            parts_[k].manifest.Set(L"Package", L"Url", bed_.Url(static_cast<int>(k) == part ? partMode : mode, packageNames_[k]));
        }
    }
    void RemovePackages()
    {
        for (const std::wstring& name : packageNames_) DeleteFileW((dir_ / name).c_str());
    }
    // The release written with its packages only on the server and one mirror in mode.
    void WriteServedRelease(const std::wstring& mirrorMode)
    {
        WriteRelease();
        RemovePackages();
        index_.Set(L"Release", L"Mirrors", L"1");
        index_.Set(L"Release", L"Mirror1", bed_.Url(mirrorMode, L""));
        WriteIndex();
    }
    static HttpsBed bed_;
    static bool found_;
    std::vector<std::unique_ptr<ServedFile>> served_;
};
HttpsBed Downloaded::bed_;
bool Downloaded::found_ = false;

TEST_F(Downloaded, ADroppedConnectionIsTriedAgainAfterAPause)
{
    UseUrls(L"normal", 1, L"dropfirst");
    WriteRelease();
    RemovePackages();
    WriteIndex();
    std::vector<ReleaseStatus> seen;
    DWORD start = GetTickCount();
    ReleaseStatus end = Install(&seen);
    DWORD took = GetTickCount() - start;
    EXPECT_EQ(end.phase, RELEASE_DONE) << Narrow(end.text);
    ExpectInstalled();
    EXPECT_TRUE(TextSeen(seen, L"网络中断，1 秒后重试（第 1 次）…"));
    EXPECT_FALSE(TextSeen(seen, L"网络中断，1 秒后重试（第 2 次）…"));
    EXPECT_GE(took, 1000u) << "the pause";
    std::string log = bed_.RequestLog();
    EXPECT_EQ(CountOf(log, "/dropfirst/" + Narrow(packageNames_[1])), 2);
    EXPECT_EQ(CountOf(log, "/normal/" + Narrow(packageNames_[0])), 1);
}

// No pause here: a pause's countdown takes the line while it runs, and would hide the
// downloading lines of the part that goes on in the other lane.
TEST_F(Downloaded, TheDownloadingLineCountsEveryPart)
{
    UseUrls(L"normal");
    // The first part trickled (16 KiB every 20 ms), so that its downloading lines are seen
    // after the other parts are done.
    parts_[0].manifest.Set(L"Package", L"Url", bed_.Url(L"trickle", packageNames_[0]));
    WriteRelease();
    RemovePackages();
    WriteIndex();
    std::vector<ReleaseStatus> seen;
    ReleaseStatus end = Install(&seen);
    EXPECT_EQ(end.phase, RELEASE_DONE) << Narrow(end.text);
    ExpectInstalled();
    ULONGLONG total = 0;
    for (const Release& p : parts_) total += p.cabinet.size();
    wchar_t megabytes[32];
    wsprintfW(megabytes, L" / %u.%02u MB", static_cast<unsigned>((total + 5000) / 10000 / 100),
              static_cast<unsigned>((total + 5000) / 10000 % 100));
    int counted = 0;
    for (const ReleaseStatus& s : seen) {
        if (s.text.rfind(L"已下载 ", 0) == 0) {
            EXPECT_NE(s.text.find(megabytes), std::wstring::npos) << Narrow(s.text);
            ++counted;
        }
    }
    EXPECT_GE(counted, 2) << "the trickled part is seen going on";
}

TEST_F(Downloaded, ADeadFirstAddressGivesWayToTheMirror)
{
    for (size_t k = 0; k < parts_.size(); ++k) {
        parts_[k].manifest.Set(L"Package", L"Url",
                               L"https://127.0.0.1:1/normal/" + packageNames_[k]);
    }
    WriteServedRelease(L"normal");
    std::vector<ReleaseStatus> seen;
    ReleaseStatus end = Install(&seen);
    EXPECT_EQ(end.phase, RELEASE_DONE) << Narrow(end.text);
    ExpectInstalled();
    std::string log = bed_.RequestLog();
    for (const std::wstring& name : packageNames_) EXPECT_EQ(CountOf(log, "/normal/" + Narrow(name)), 1);
}

TEST_F(Downloaded, NotFoundEverywhereFailsAtOnce)
{
    UseUrls(L"status404");
    WriteServedRelease(L"status404");
    std::vector<ReleaseStatus> seen;
    DWORD start = GetTickCount();
    ReleaseStatus end = Install(&seen);
    EXPECT_LT(GetTickCount() - start, 1000u) << "no pause";
    EXPECT_EQ(end.phase, RELEASE_FAILED);
    EXPECT_EQ(end.text, L"服务器未提供应用包（HTTP 404）。");
    for (const ReleaseStatus& s : seen) EXPECT_NE(s.phase, RELEASE_WAITING) << Narrow(s.text);
    // Two parts are on their way at once, and whichever of them meets 404 at both addresses
    // first ends the release (the other's try is closed, perhaps before its mirror is asked).
    // No address is asked twice, and no part after them is asked at all.
    std::string log = bed_.RequestLog();
    EXPECT_EQ(std::max(CountOf(log, Narrow(packageNames_[0])), CountOf(log, Narrow(packageNames_[1]))), 2)
        << "each address once";
    EXPECT_EQ(CountOf(log, Narrow(packageNames_[2])), 0) << "no later part";
    ExpectNothingLeft();
}

TEST_F(Downloaded, APartHeldByItsServerDoesNotHoldUpTheOthers)
{
    UseUrls(L"normal", 0, L"silent");
    WriteRelease();
    RemovePackages();
    WriteIndex();
    ReleaseJob* job = ReleaseStart((dir_ / L"release.ini").c_str(), L"", Folder().c_str(), L"1.0");
    ASSERT_NE(job, nullptr);
    // The server never answers the first part: the second is delivered meanwhile, and the third
    // takes its place.
    const std::string third = "tls GET /normal/" + Narrow(packageNames_[2]);
    DWORD start = GetTickCount();
    while (bed_.RequestLog().find(third) == std::string::npos && GetTickCount() - start < 20000) Sleep(10);
    EXPECT_NE(bed_.RequestLog().find(third), std::string::npos);
    EXPECT_EQ(CountOf(bed_.RequestLog(), "/silent/" + Narrow(packageNames_[0])), 1);
    EXPECT_EQ(PollRelease(job).phase, RELEASE_DELIVERING);
    EXPECT_EQ(ReleaseCancel(job), 1);
    // Wine's WinHTTP ends a request held before its headers only when the server lets go.
    bed_.Release(packageNames_[0]);
    ReleaseStatus end = WaitRelease(job);
    bed_.Unrelease(packageNames_[0]);
    EXPECT_EQ(end.phase, RELEASE_CANCELLED);
    EXPECT_EQ(end.text, L"已取消，未开始安装。");
    EXPECT_EQ(ReleaseClose(job), 1);
    ExpectNothingLeft();
}

TEST_F(Downloaded, ServerErrorsAreTriedThreeTimesThenFail)
{
    UseUrls(L"normal", 0, L"status500");
    WriteRelease();
    RemovePackages();
    WriteIndex();
    std::vector<ReleaseStatus> seen;
    ReleaseStatus end = Install(&seen);
    EXPECT_EQ(end.phase, RELEASE_FAILED);
    EXPECT_EQ(end.text, L"服务器未提供应用包（HTTP 500）。");
    EXPECT_TRUE(TextSeen(seen, L"网络中断，1 秒后重试（第 1 次）…"));
    EXPECT_TRUE(TextSeen(seen, L"网络中断，2 秒后重试（第 2 次）…"));
    EXPECT_TRUE(TextSeen(seen, L"网络中断，1 秒后重试（第 2 次）…")) << "counted down";
    EXPECT_FALSE(TextSeen(seen, L"网络中断，4 秒后重试（第 3 次）…"));
    EXPECT_EQ(CountOf(bed_.RequestLog(), "/status500/" + Narrow(packageNames_[0])), 3);
    ExpectNothingLeft();
}

TEST_F(Downloaded, CancelDuringThePauseIsImmediate)
{
    UseUrls(L"status500");
    WriteRelease();
    RemovePackages();
    WriteIndex();
    ReleaseJob* job = ReleaseStart((dir_ / L"release.ini").c_str(), L"", Folder().c_str(), L"1.0");
    ASSERT_NE(job, nullptr);
    DWORD start = GetTickCount();
    ReleaseStatus s = PollRelease(job);
    while (s.phase != RELEASE_WAITING && s.phase < RELEASE_DONE && GetTickCount() - start < 20000) {
        Sleep(5);
        s = PollRelease(job);
    }
    EXPECT_EQ(s.phase, RELEASE_WAITING) << Narrow(s.text);
    DWORD asked = GetTickCount();
    ReleaseCancel(job);
    ReleaseStatus end = WaitRelease(job);
    EXPECT_LT(GetTickCount() - asked, 500u);
    EXPECT_EQ(end.phase, RELEASE_CANCELLED);
    EXPECT_EQ(end.text, L"已取消，未开始安装。");
    EXPECT_EQ(ReleaseClose(job), 1);
    ExpectNothingLeft();
}

}  // namespace
