// Cabinet fuzzing: valid cabinets (MSZIP and stored ones from the platform's compressor, and
// one from the tests' own writer) with byte and structure mutations: header counts, offsets
// and flags, folder offsets, block counts and compression types, member sizes, offsets,
// folders, attributes and names, data block sizes and bytes, truncation and trailing junk.
// The manifest describes each mutated cabinet's size and digest, so every package passes
// verification and reaches the decompressor. Every run must end in time in ready with the
// right files or in one of extraction's failure texts, write nothing but entry files in the
// work directory, close with 1 and leave only the test's own files. Seed: fixed;
// QEL_FUZZ_SEED overrides it (see fuzz_seed.h).
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_seed.h"
#include "support/files.h"
#include "support/raw_cabinet.h"
#include "support/runs.h"

namespace {

constexpr int Runs = 500;
constexpr unsigned FixedSeed = 7031;

const std::set<std::wstring> ExtractionFailures = {
    L"应用包解压失败或文件清单不完整。", L"应用包包含未声明、重复或大小不符的文件。", L"应用包中的文件校验失败。",
    L"应用包必须是完整的单个 CAB 文件。"};

uint32_t Le(const std::string& b, size_t at, int bytes)
{
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(at + i < b.size() ? b[at + i] : 0);
    return v;
}

void Put(std::string& b, size_t at, int bytes, uint32_t v)
{
    for (int i = 0; i < bytes && at + i < b.size(); ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Where the structures of a cabinet without reserved fields lie.
struct Layout {
    size_t folders = 36;  // CFFOLDER records (8 bytes each)
    std::vector<size_t> files;   // CFFILE records
    std::vector<size_t> blocks;  // CFDATA headers of the first folder
};

Layout Parse(const std::string& cab)
{
    Layout l;
    size_t at = Le(cab, 16, 4);
    for (unsigned i = 0; i < Le(cab, 28, 2) && at + 16 < cab.size(); ++i) {
        l.files.push_back(at);
        at += 16;
        while (at < cab.size() && cab[at] != 0) ++at;
        ++at;
    }
    at = Le(cab, l.folders, 4);
    for (unsigned i = 0; i < Le(cab, l.folders + 4, 2) && at + 8 <= cab.size(); ++i) {
        l.blocks.push_back(at);
        at += 8 + Le(cab, at + 4, 2);
    }
    return l;
}

class Mutator {
public:
    explicit Mutator(unsigned seed) : random_(seed) {}
    unsigned Below(unsigned n) { return n == 0 ? 0 : static_cast<unsigned>(random_() % n); }
    uint32_t Any() { return static_cast<uint32_t>(random_()); }

    // A value near old, or one of the edges, or anything.
    uint32_t Near(uint32_t old, uint32_t max)
    {
        switch (Below(5)) {
        case 0: return old + 1 + Below(4);
        case 1: return old - 1 - Below(4);
        case 2: return 0;
        case 3: return max;
        default: return Any() & max;
        }
    }

    std::string Mutate(std::string cab, std::string* log)
    {
        std::ostringstream what;
        int count = 1 + static_cast<int>(Below(2));
        for (int k = 0; k < count; ++k) {
            Layout l = Parse(cab);
            size_t file = l.files.empty() ? 0 : l.files[Below(static_cast<unsigned>(l.files.size()))];
            size_t block = l.blocks.empty() ? 0 : l.blocks[Below(static_cast<unsigned>(l.blocks.size()))];
            unsigned kind = Below(19);
            if ((kind >= 9 && kind <= 13 && l.files.empty()) || ((kind == 14 || kind == 15) && l.blocks.empty())) kind = 0;
            switch (kind) {
            case 0: {
                unsigned n = 1 + Below(8);
                for (unsigned i = 0; i < n; ++i) cab[Below(static_cast<unsigned>(cab.size()))] ^= static_cast<char>(1 << Below(8));
                what << "flip " << n << " bits; ";
                break;
            }
            case 1: Put(cab, 28, 2, Near(Le(cab, 28, 2), 0xFFFF)); what << "header file count; "; break;
            case 2: Put(cab, 26, 2, Near(Le(cab, 26, 2), 0xFFFF)); what << "header folder count; "; break;
            case 3: Put(cab, 16, 4, Near(Le(cab, 16, 4), 0xFFFFFFFF)); what << "header file offset; "; break;
            case 4: Put(cab, 8, 4, Near(Le(cab, 8, 4), 0xFFFFFFFF)); what << "header length; "; break;
            case 5: Put(cab, 30, 2, 1u << Below(3) | (Below(2) ? Any() & 0xFFFF : 0)); what << "header flags; "; break;
            case 6: Put(cab, l.folders, 4, Near(Le(cab, l.folders, 4), 0xFFFFFFFF)); what << "folder data offset; "; break;
            case 7: Put(cab, l.folders + 4, 2, Near(Le(cab, l.folders + 4, 2), 0xFFFF)); what << "folder block count; "; break;
            case 8: {
                static const uint32_t types[] = {0, 1, 2, 3, 0x1503, 0x0F03, 0xFFFF, 4};
                Put(cab, l.folders + 6, 2, types[Below(8)]);
                what << "folder compression; ";
                break;
            }
            case 9: Put(cab, file, 4, Near(Le(cab, file, 4), 0xFFFFFFFF)); what << "member size; "; break;
            case 10: Put(cab, file + 4, 4, Near(Le(cab, file + 4, 4), 0xFFFFFFFF)); what << "member offset; "; break;
            case 11: {
                static const uint32_t folders[] = {1, 0xFFFD, 0xFFFE, 0xFFFF, 2};
                Put(cab, file + 8, 2, folders[Below(5)]);
                what << "member folder; ";
                break;
            }
            case 12: {
                static const uint32_t attribs[] = {0x40, 0x80, 0x01, 0x10, 0x0180, 0xFFFF};
                Put(cab, file + 14, 2, Below(2) ? attribs[Below(6)] : Any() & 0xFFFF);
                what << "member attributes; ";
                break;
            }
            case 13: {
                static const char chars[] = {'/', '\\', '.', ':', '\0', '9', '5', '\xE4', '*', 'a'};
                size_t at = file + 16 + Below(5);
                if (at < cab.size()) cab[at] = chars[Below(sizeof chars)];
                what << "member name; ";
                break;
            }
            case 14: {
                size_t at = block + 4 + 2 * Below(2);
                Put(cab, at, 2, Near(Le(cab, at, 2), 0xFFFF));
                what << "block size; ";
                break;
            }
            case 15: {
                size_t start = block + 8, size = Le(cab, block + 4, 2);
                unsigned n = 1 + Below(4);
                for (unsigned i = 0; i < n && size > 0 && start < cab.size(); ++i) {
                    size_t at = start + Below(static_cast<unsigned>(size));
                    if (at < cab.size()) cab[at] = static_cast<char>(Any());
                }
                what << "block bytes; ";
                break;
            }
            case 16: {
                cab.resize(1 + Below(static_cast<unsigned>(cab.size() - 1)));
                what << "truncate to " << cab.size() << "; ";
                break;
            }
            case 17: {
                unsigned n = 1 + Below(100);
                for (unsigned i = 0; i < n; ++i) cab += static_cast<char>(Any());
                what << "append " << n << " bytes; ";
                break;
            }
            default: {  // one member takes another's name
                if (l.files.size() < 2) break;
                size_t other = l.files[Below(static_cast<unsigned>(l.files.size()))];
                for (int i = 0; i < 4 && other + 16 + i < cab.size() && file + 16 + i < cab.size(); ++i) {
                    cab[file + 16 + i] = cab[other + 16 + i];
                }
                what << "member renamed like another; ";
                break;
            }
            }
        }
        *log = what.str();
        return cab;
    }

private:
    std::mt19937 random_;
};

std::set<std::wstring> Names(const std::wstring& dir)
{
    std::set<std::wstring> names;
    for (const std::wstring& name : ListDir(dir)) names.insert(name);
    return names;
}

TEST(CabinetFuzz, EveryRunEndsInReadyOrAnExtractionFailure)
{
    const unsigned seed = FuzzSeed(FixedSeed, "CabinetFuzz");
    TempDir dir;
    std::vector<std::string> contents = {TextBytes(40000), RandomBytes(3000, 9), ""};
    contents[0][7] = 'Q';
    Release compressed = MakeRelease(contents, true);
    Release stored = MakeRelease(contents, false);
    RawCabinet raw;
    for (size_t i = 0; i < contents.size(); ++i) raw.members.push_back({"000" + std::to_string(i), contents[i]});
    const std::string bases[] = {compressed.cabinet, stored.cabinet, WriteRawCabinet(raw)};
    for (const std::string& base : bases) ASSERT_FALSE(base.empty());

    const std::wstring manifest = dir / L"manifest.ini", package = dir / L"application.cab", work = dir / L"work";
    const std::set<std::wstring> ours = {L"manifest.ini", L"application.cab"};
    const std::set<std::wstring> entries = {L"0000", L"0001", L"0002"};
    Mutator mutator(seed);
    std::map<std::wstring, int> ends;
    for (int run = 0; run < Runs; ++run) {
        std::string log;
        const unsigned base = mutator.Below(3);
        std::string cabinet = mutator.Mutate(bases[base], &log);
        SCOPED_TRACE("seed " + std::to_string(seed) + ", run " + std::to_string(run) + ", base " +
                     std::to_string(base) + ": " + log);
        Manifest m = compressed.manifest;
        DescribePackage(m, cabinet);
        ASSERT_TRUE(WriteBytes(package, cabinet));
        ASSERT_TRUE(m.Write(manifest));

        DeliveryJob* job = PayloadStart(manifest.c_str(), package.c_str(), work.c_str());
        ASSERT_NE(job, nullptr);
        JobStatus end = WaitUntil(job, [](const JobStatus& s) { return IsTerminal(s.phase); }, 20000);
        if (!IsTerminal(end.phase)) {
            ADD_FAILURE() << "no end within 20 s: phase " << end.phase << " " << Narrow(end.text);
            PayloadCancel(job);
        }
        if (end.phase == PAYLOAD_READY) {
            EXPECT_EQ(Names(work), entries);
            for (size_t i = 0; i < contents.size(); ++i) {
                EXPECT_TRUE(ReadBytes(work + L"\\000" + std::to_wstring(i)) == contents[i]) << i;
            }
        } else {
            EXPECT_EQ(end.phase, PAYLOAD_FAILED);
            EXPECT_EQ(ExtractionFailures.count(end.text), 1u) << Narrow(end.text);
            for (const std::wstring& name : Names(work)) EXPECT_EQ(entries.count(name), 1u) << Narrow(name);
        }
        std::set<std::wstring> before = Names(dir.Path());
        before.erase(L"work");
        EXPECT_EQ(before, ours);
        EXPECT_EQ(PayloadClose(job), 1);
        EXPECT_EQ(Names(dir.Path()), ours);
        ++ends[end.text];
        if (HasFatalFailure()) return;
    }
    for (const auto& [text, n] : ends) printf("  %4d  %s\n", n, Narrow(text).c_str());
    EXPECT_GT(ends[texts::Ready], 0);
    EXPECT_GT(ends.size(), 3u);
}

}  // namespace
