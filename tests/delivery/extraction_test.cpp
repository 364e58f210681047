// Extraction through the exports: members bound to manifest entries, hostile cabinets refused
// with their exact texts, and closing a job removing exactly what extraction created.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/jobs.h"
#include "support/raw_cabinet.h"
#include "support/release.h"

namespace {

const std::wstring RefusedText = L"应用包包含未声明、重复或大小不符的文件。";
const std::wstring IncompleteText = L"应用包解压失败或文件清单不完整。";
const std::wstring NotSingleText = L"应用包必须是完整的单个 CAB 文件。";
const std::wstring DigestText = L"应用包中的文件校验失败。";

// A host's view of one delivery: the package and the manifest side by side in a fresh folder,
// the work directory "work" beside them.
struct Bed {
    TempDir dir;
    std::wstring Package() const { return dir / L"application.cab"; }
    std::wstring ManifestPath() const { return dir / L"manifest.ini"; }
    std::wstring Work() const { return dir / L"work"; }
    std::wstring Member(const wchar_t* name) const { return Work() + L"\\" + name; }

    DeliveryJob* Start(const std::string& package, const Manifest& manifest) const
    {
        if (!WriteBytes(Package(), package) || !manifest.Write(ManifestPath())) return nullptr;
        return PayloadStart(ManifestPath().c_str(), Package().c_str(), Work().c_str());
    }
};

// The manifest of a release with these entry contents, describing another package.
Manifest ManifestFor(const std::vector<std::string>& contents, const std::string& package)
{
    Manifest manifest = MakeRelease(contents).manifest;
    DescribePackage(manifest, package);
    return manifest;
}

std::vector<std::wstring> Sorted(std::vector<std::wstring> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

const std::string A = TextBytes(3000);
const std::string B = RandomBytes(5000, 2);

TEST(Extraction, MembersLandUnderEntryNamesInAnyOrder)
{
    std::vector<std::string> contents = {RandomBytes(40000, 7), TextBytes(120000), "", RandomBytes(1, 9)};
    // Cabinet order 0002, 0000, 0003, 0001; the last split over several data blocks.
    std::string cabinet = MakeCabinet({{"0002", contents[2]}, {"0000", contents[0]}, {"0003", contents[3]},
                                       {"0001", contents[1]}});
    ASSERT_FALSE(cabinet.empty());
    Bed bed;
    DeliveryJob* job = bed.Start(cabinet, ManifestFor(contents, cabinet));
    ASSERT_NE(job, nullptr);
    JobStatus end = WaitForEnd(job);
    EXPECT_EQ(end.phase, PAYLOAD_READY);
    EXPECT_EQ(end.percent, 100);
    EXPECT_EQ(end.text, L"应用文件已准备好。");
    EXPECT_EQ(Sorted(ListDir(bed.Work())), (std::vector<std::wstring>{L"0000", L"0001", L"0002", L"0003"}));
    const wchar_t* names[] = {L"0000", L"0001", L"0002", L"0003"};
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(ReadBytes(bed.Member(names[i])) == contents[i]) << Narrow(names[i]);

    // Closing after ready deletes every extracted file and the directory; the host's package stays.
    EXPECT_EQ(PayloadClose(job), 1);
    EXPECT_FALSE(DirExists(bed.Work()));
    EXPECT_EQ(Sorted(ListDir(bed.dir.Path())), (std::vector<std::wstring>{L"application.cab", L"manifest.ini"}));
}

TEST(Extraction, HandWrittenStoredCabinetExtracts)
{
    // The tests' own writer makes cabinets the decompressor reads; without this the refusals
    // below would prove nothing.
    RawCabinet raw;
    raw.members = {{"0001", B}, {"0000", A}};
    std::string cabinet = WriteRawCabinet(raw);
    Bed bed;
    DeliveryJob* job = bed.Start(cabinet, ManifestFor({A, B}, cabinet));
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(WaitForEnd(job).phase, PAYLOAD_READY);
    EXPECT_TRUE(ReadBytes(bed.Member(L"0000")) == A);
    EXPECT_TRUE(ReadBytes(bed.Member(L"0001")) == B);
    EXPECT_EQ(PayloadClose(job), 1);
}

struct Hostile {
    const char* label;
    RawCabinet cabinet;
    std::vector<std::string> entries;  // contents the manifest declares
    std::wstring text;
    std::vector<std::wstring> extracted;  // member files present when the job has failed
};

RawCabinet Members(std::vector<RawMember> members)
{
    RawCabinet raw;
    raw.members = std::move(members);
    return raw;
}

RawCabinet WithHeader(RawCabinet raw, int countDelta, int lengthDelta, uint16_t flags, uint16_t index)
{
    raw.fileCountDelta = countDelta;
    raw.lengthDelta = lengthDelta;
    raw.flags = flags;
    raw.cabinetIndex = index;
    return raw;
}

std::vector<Hostile> HostileCabinets()
{
    RawCabinet good = Members({{"0000", A}, {"0001", B}});
    std::vector<Hostile> cases = {
        {"name 12", Members({{"12", A}}), {A}, RefusedText, {}},
        {"name 00012", Members({{"00012", A}}), {A}, RefusedText, {}},
        {"name 0012.dat", Members({{"0012.dat", A}}), {A}, RefusedText, {}},
        {"name abcd", Members({{"abcd", A}}), {A}, RefusedText, {}},
        {"name ..\\0000", Members({{"..\\0000", A}}), {A}, RefusedText, {}},
        {"name 0000 in a folder", Members({{"sub\\0000", A}}), {A}, RefusedText, {}},
        {"empty name", Members({{"", A}}), {A}, RefusedText, {}},
        {"index equal to Count", Members({{"0001", A}}), {A}, RefusedText, {}},
        {"index 9999", Members({{"9999", A}}), {A}, RefusedText, {}},
        {"index above Count after a good member", Members({{"0000", A}, {"0002", B}}), {A, B}, RefusedText, {L"0000"}},
        {"same name twice", Members({{"0000", A}, {"0000", A}}), {A, B}, RefusedText, {L"0000"}},
        {"one byte longer than its entry", Members({{"0000", A + "x"}}), {A}, RefusedText, {}},
        {"one byte shorter than its entry", Members({{"0000", A.substr(1)}}), {A}, RefusedText, {}},
        {"run after extraction", Members({{"0000", A, 0x20 | 0x40}}), {A}, RefusedText, {}},
        {"header counts a file fewer", WithHeader(good, -1, 0, 0, 0), {A, B}, IncompleteText, {}},
        {"header counts a file more", WithHeader(good, +1, 0, 0, 0), {A, B}, IncompleteText, {}},
        {"header length one more", WithHeader(good, 0, +1, 0, 0), {A, B}, IncompleteText, {}},
        {"header length one less", WithHeader(good, 0, -1, 0, 0), {A, B}, IncompleteText, {}},
        {"continued from a previous cabinet", WithHeader(good, 0, 0, 0x0001, 0), {A, B}, IncompleteText, {}},
        {"continued in a next cabinet", WithHeader(good, 0, 0, 0x0002, 0), {A, B}, IncompleteText, {}},
        {"middle of a set", WithHeader(good, 0, 0, 0x0003, 1), {A, B}, IncompleteText, {}},
        {"second cabinet of a set", WithHeader(good, 0, 0, 0, 1), {A, B}, IncompleteText, {}},
        {"member continued from before", Members({{"0000", A, 0x20, 0xFFFD}}), {A}, NotSingleText, {}},
        {"member continued both ways", Members({{"0000", A, 0x20, 0xFFFF}}), {A}, NotSingleText, {}},
    };
    return cases;
}

// Runs one package against a manifest and checks the failure text, the member files left in
// the work directory, that nothing appeared beside it, and that closing removes it all.
void ExpectFailure(const std::string& package, const Manifest& manifest, const std::wstring& text,
                   const std::vector<std::wstring>& extracted)
{
    Bed bed;
    DeliveryJob* job = bed.Start(package, manifest);
    ASSERT_NE(job, nullptr);
    JobStatus end = WaitForEnd(job);
    EXPECT_EQ(end.phase, PAYLOAD_FAILED);
    EXPECT_EQ(end.percent, 0);
    EXPECT_EQ(end.text, text);
    EXPECT_EQ(Sorted(ListDir(bed.Work())), extracted);
    EXPECT_EQ(Sorted(ListDir(bed.dir.Path())),
              (std::vector<std::wstring>{L"application.cab", L"manifest.ini", L"work"}));
    EXPECT_EQ(PayloadClose(job), 1);
    EXPECT_FALSE(DirExists(bed.Work()));
}

TEST(Extraction, HostileCabinetsAreRefused)
{
    for (const Hostile& c : HostileCabinets()) {
        SCOPED_TRACE(c.label);
        std::string package = WriteRawCabinet(c.cabinet);
        ExpectFailure(package, ManifestFor(c.entries, package), c.text, c.extracted);
    }
}

TEST(Extraction, FirstOfTwoSameNamesIsExtractedIntact)
{
    std::string package = WriteRawCabinet(Members({{"0000", A}, {"0000", A}}));
    Bed bed;
    DeliveryJob* job = bed.Start(package, ManifestFor({A, B}, package));
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(WaitForEnd(job).text, RefusedText);
    EXPECT_TRUE(ReadBytes(bed.Member(L"0000")) == A);
    EXPECT_EQ(PayloadClose(job), 1);
}

TEST(Extraction, TruncatedCabinetsFail)
{
    RawCabinet raw = Members({{"0000", A}, {"0001", B}});
    std::string whole = WriteRawCabinet(raw);
    size_t filesStart = 36 + 8;
    {
        SCOPED_TRACE("cut in the data, header unchanged");
        std::string cut = whole.substr(0, whole.size() - 100);
        ExpectFailure(cut, ManifestFor({A, B}, cut), IncompleteText, {});
    }
    {
        SCOPED_TRACE("cut in the file table, header length matching");
        std::string cut = whole.substr(0, filesStart + 10);
        PutLe32(cut, CabinetLengthOffset, static_cast<uint32_t>(cut.size()));
        ExpectFailure(cut, ManifestFor({A, B}, cut), IncompleteText, {});
    }
    {
        SCOPED_TRACE("not a cabinet");
        std::string text = TextBytes(500);
        ExpectFailure(text, ManifestFor({A}, text), IncompleteText, {});
    }
    {
        // Cut in the (single) data block with the header patched to the new length: the first
        // member was created and cannot be completed. Which of the two texts appears depends on
        // whether the decompressor still reports the member complete after the read error
        // (Wine does, with the bytes it has).
        SCOPED_TRACE("cut in the data, header length matching");
        std::string cut = whole.substr(0, whole.size() - 100);
        PutLe32(cut, CabinetLengthOffset, static_cast<uint32_t>(cut.size()));
        Bed bed;
        DeliveryJob* job = bed.Start(cut, ManifestFor({A, B}, cut));
        ASSERT_NE(job, nullptr);
        JobStatus end = WaitForEnd(job);
        EXPECT_EQ(end.phase, PAYLOAD_FAILED);
        EXPECT_TRUE(end.text == IncompleteText || end.text == DigestText) << Narrow(end.text);
        EXPECT_EQ(ListDir(bed.Work()), std::vector<std::wstring>{L"0000"});
        EXPECT_EQ(PayloadClose(job), 1);
        EXPECT_FALSE(DirExists(bed.Work()));
    }
}

TEST(Extraction, DigestMismatchKeepsTheFileUntilClose)
{
    std::string forged = B;
    forged[2500] = static_cast<char>(forged[2500] ^ 1);
    std::string package = WriteRawCabinet(Members({{"0000", A}, {"0001", forged}}));
    Bed bed;
    DeliveryJob* job = bed.Start(package, ManifestFor({A, B}, package));
    ASSERT_NE(job, nullptr);
    JobStatus end = WaitForEnd(job);
    EXPECT_EQ(end.phase, PAYLOAD_FAILED);
    EXPECT_EQ(end.text, DigestText);
    EXPECT_TRUE(ReadBytes(bed.Member(L"0001")) == forged);
    EXPECT_TRUE(ReadBytes(bed.Member(L"0000")) == A);
    EXPECT_EQ(PayloadClose(job), 1);
    EXPECT_FALSE(DirExists(bed.Work()));
}

TEST(Extraction, ExistingWorkDirectoryIsRefusedAndKept)
{
    Release release = MakeRelease({A});
    Bed bed;
    ASSERT_TRUE(CreateDirectoryW(bed.Work().c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(bed.Member(L"0000"), std::string("host's own")));
    DeliveryJob* job = bed.Start(release.cabinet, release.manifest);
    ASSERT_NE(job, nullptr);
    JobStatus end = WaitForEnd(job);
    EXPECT_EQ(end.phase, PAYLOAD_FAILED);
    EXPECT_EQ(end.text, L"应用包工作目录无法创建（错误码 183）。");
    EXPECT_EQ(PayloadClose(job), 1);
    EXPECT_EQ(ReadBytes(bed.Member(L"0000")), "host's own");
}

TEST(Extraction, StrangersFileKeepsTheWorkDirectory)
{
    Release release = MakeRelease({A, B});
    Bed bed;
    DeliveryJob* job = bed.Start(release.cabinet, release.manifest);
    ASSERT_NE(job, nullptr);
    ASSERT_EQ(WaitForEnd(job).phase, PAYLOAD_READY);
    ASSERT_TRUE(WriteBytes(bed.Member(L"stranger.txt"), std::string("not the job's")));
    EXPECT_EQ(PayloadClose(job), 0);
    EXPECT_EQ(ListDir(bed.Work()), std::vector<std::wstring>{L"stranger.txt"});
    EXPECT_EQ(ReadBytes(bed.Member(L"stranger.txt")), "not the job's");
}

TEST(Extraction, MemberPathTooLongForItsBuffer)
{
    // A work directory of 1020 units can be created (through the \\?\ form), but its member
    // paths need five units more than the 1024 a path buffer holds.
    Release release = MakeRelease({A});
    Bed bed;
    std::wstring parent = L"\\\\?\\" + bed.dir.Path();
    while (parent.size() + 1 + 200 < 1020 - 1) {
        parent += L"\\" + std::wstring(200, L'd');
        ASSERT_TRUE(CreateDirectoryW(parent.c_str(), nullptr)) << GetLastError();
    }
    std::wstring work = parent + L"\\" + std::wstring(1020 - parent.size() - 1, L'w');
    ASSERT_EQ(work.size(), 1020u);
    ASSERT_TRUE(WriteBytes(bed.Package(), release.cabinet));
    ASSERT_TRUE(release.manifest.Write(bed.ManifestPath()));
    DeliveryJob* job = PayloadStart(bed.ManifestPath().c_str(), bed.Package().c_str(), work.c_str());
    ASSERT_NE(job, nullptr);
    JobStatus end = WaitForEnd(job);
    EXPECT_EQ(end.phase, PAYLOAD_FAILED);
    EXPECT_EQ(end.text, L"应用包工作目录路径过长。");
    EXPECT_TRUE(DirExists(work));
    EXPECT_TRUE(ListDir(work).empty());
    EXPECT_EQ(PayloadClose(job), 1);
    EXPECT_FALSE(DirExists(work));
}

}  // namespace
