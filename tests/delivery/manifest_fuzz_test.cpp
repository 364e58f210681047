// Manifest fuzzing: a valid release manifest, mutated line by line and written in assorted
// encodings, delivered against its intact package. The right end of each run is predicted by
// an oracle of the test's own: it reads the mutated file through the platform's profile
// reader (the same reader, buffers and lengths the delivery uses) and applies the manifest's
// rules to what it reads. A manifest that breaks a rule must end in "应用包发布清单无效。"; one
// that keeps every rule but now describes something else must fail at the stage that sees the
// difference, with that stage's text (a changed Size at verification, a changed entry digest
// at that member's check, ...); one that still describes the release exactly (white space,
// quotes, letter case of keys, comments, duplicates the reader ignores) must end ready with
// the right files. Every run must end within its time, close with 1 and leave only the test's
// own files. Seed: fixed; QEL_FUZZ_SEED overrides it (see fuzz_seed.h).
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_seed.h"
#include "support/files.h"
#include "support/runs.h"

namespace {

constexpr int Runs = 500;
constexpr unsigned FixedSeed = 20240611;

const std::wstring RefusedMember = L"应用包包含未声明、重复或大小不符的文件。";
const std::wstring MemberCheckFailed = L"应用包中的文件校验失败。";
const std::wstring HeaderRefused = L"应用包解压失败或文件清单不完整。";

// ---- The oracle: the manifest's rules over what the profile reader returns ----------------

struct Read {
    DWORD length;
    std::wstring text;
};

Read ReadKey(const std::wstring& path, const std::wstring& section, const wchar_t* key, DWORD capacity)
{
    std::vector<wchar_t> buffer(capacity + 1, 0);
    DWORD length = GetPrivateProfileStringW(section.c_str(), key, L"", buffer.data(), capacity, path.c_str());
    return {length, std::wstring(buffer.data())};
}

// Decimal digits only, 1 to 30 of them (32-unit buffer), value at most 2,000,000,000.
bool Number(const std::wstring& path, const std::wstring& section, const wchar_t* key, unsigned long long* out)
{
    Read r = ReadKey(path, section, key, 32);
    if (r.length < 1 || r.length > 30) return false;
    unsigned long long value = 0;
    for (wchar_t c : r.text) {
        if (c < L'0' || c > L'9') return false;
        value = value * 10 + static_cast<unsigned>(c - L'0');
        if (value > 2000000000ull) return false;
    }
    *out = value;
    return true;
}

// Exactly 64 lowercase hexadecimal digits (66-unit buffer).
bool Digest(const std::wstring& path, const std::wstring& section, std::wstring* out)
{
    Read r = ReadKey(path, section, L"Sha256", 66);
    if (r.length != 64) return false;
    for (wchar_t c : r.text) {
        if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'))) return false;
    }
    *out = r.text;
    return true;
}

struct Described {
    unsigned long long count = 0, size = 0, unpacked = 0;
    std::wstring sha256, url;
    std::vector<unsigned long long> sizes;
    std::vector<std::wstring> digests;
};

bool ReadByRules(const std::wstring& path, Described* d)
{
    const std::wstring package = L"Package";
    Read format = ReadKey(path, package, L"Format", 256);
    if (format.length != 9 || format.text != L"qel-cab-2") return false;
    if (ReadKey(path, package, L"Target", 256).text != L"windows-x64") return false;
    if (!Number(path, package, L"Count", &d->count) || d->count < 1 || d->count > 256) return false;
    if (!Number(path, package, L"Size", &d->size) || d->size == 0) return false;
    if (!Number(path, package, L"UnpackedSize", &d->unpacked)) return false;
    if (!Digest(path, package, &d->sha256)) return false;
    Read url = ReadKey(path, package, L"Url", 2049);
    if (url.length >= 2048) return false;
    d->url = url.text;
    unsigned long long sum = 0;
    for (unsigned i = 0; i < d->count; ++i) {
        std::wstring section = std::to_wstring(i);
        wchar_t tag[8];
        swprintf(tag, 8, L"%04u", i);
        if (ReadKey(path, section, L"Entry", 256).text != tag) return false;
        unsigned long long size = 0;
        std::wstring digest;
        if (!Number(path, section, L"Size", &size) || !Digest(path, section, &digest)) return false;
        Read name = ReadKey(path, section, L"Name", 242);
        if (name.length < 1 || name.length > 240) return false;
        sum += size;
        if (sum > 2000000000ull) return false;
        d->sizes.push_back(size);
        d->digests.push_back(digest);
    }
    return sum == d->unpacked;
}

struct Expected {
    int phase;
    std::wstring text;  // empty with phase failed: any failure (a download was asked for)
};

// The stage that sees the first difference between what the manifest now says and the real
// release decides the end; members are checked in cabinet order, 0000 first.
Expected Predict(const std::wstring& path, const Release& release, unsigned long long freeBytes)
{
    Described d;
    if (!ReadByRules(path, &d)) return {PAYLOAD_FAILED, texts::ManifestInvalid};
    if (!d.url.empty()) return {PAYLOAD_FAILED, L""};
    if (d.unpacked > freeBytes) return {PAYLOAD_FAILED, texts::NoSpace};
    if (d.size != release.cabinet.size()) return {PAYLOAD_FAILED, texts::SizeMismatch};
    if (d.sha256 != Sha256Hex(release.cabinet)) return {PAYLOAD_FAILED, texts::DigestMismatch};
    if (d.count != release.contents.size()) return {PAYLOAD_FAILED, HeaderRefused};
    for (size_t i = 0; i < release.contents.size(); ++i) {
        if (d.sizes[i] != release.contents[i].size()) return {PAYLOAD_FAILED, RefusedMember};
        if (d.digests[i] != Sha256Hex(release.contents[i])) return {PAYLOAD_FAILED, MemberCheckFailed};
    }
    return {PAYLOAD_READY, texts::Ready};
}

// ---- The mutator ------------------------------------------------------------------------------

class Mutator {
public:
    explicit Mutator(unsigned seed) : random_(seed) {}

    // The last mutated text, before encoding.
    const std::wstring& Text() const { return text_; }

    unsigned Below(unsigned n) { return n == 0 ? 0 : static_cast<unsigned>(random_() % n); }

    // 1 to 3 mutations of the lines, then an encoding. Returns the file's bytes.
    std::string Mutate(std::vector<std::wstring> lines, std::string* log)
    {
        std::ostringstream what;
        std::wstring cut;  // truncation works on the whole text
        bool truncate = false;
        size_t truncateAt = 0;
        int count = 1 + static_cast<int>(Below(3));
        for (int k = 0; k < count && !lines.empty(); ++k) {
            size_t at = Below(static_cast<unsigned>(lines.size()));
            std::wstring& line = lines[at];
            size_t eq = line.find(L'=');
            size_t valueAt = eq == std::wstring::npos ? line.size() : eq + 1;
            switch (Below(14)) {
            case 0:
                what << "delete line " << at << "; ";
                lines.erase(lines.begin() + static_cast<long>(at));
                break;
            case 1: {
                size_t to = Below(static_cast<unsigned>(lines.size() + 1));
                what << "duplicate line " << at << " at " << to << "; ";
                std::wstring copy = line;
                lines.insert(lines.begin() + static_cast<long>(to), copy);
                break;
            }
            case 2:
                truncate = true;
                truncateAt = Below(1000);
                what << "truncate at " << truncateAt << "; ";
                break;
            case 3: {  // another digit or hexadecimal digit in place of one
                std::vector<size_t> digits;
                for (size_t i = valueAt; i < line.size(); ++i) {
                    if (iswxdigit(line[i])) digits.push_back(i);
                }
                if (digits.empty()) break;
                size_t i = digits[Below(static_cast<unsigned>(digits.size()))];
                line[i] = L"0123456789abcdef"[Below(iswdigit(line[i]) ? 10 : 16)];
                what << "digit in line " << at << "; ";
                break;
            }
            case 4:
                line.insert(valueAt, Below(2) ? L"+" : L"-");
                what << "sign in line " << at << "; ";
                break;
            case 5: {
                static const wchar_t* const spaces[] = {L" ", L"\t", L"  ", L"\r\n", L" \t "};
                size_t i = Below(static_cast<unsigned>(line.size() + 1));
                line.insert(i, spaces[Below(5)]);
                what << "white space in line " << at << " at " << i << "; ";
                break;
            }
            case 6: {
                if (line.empty()) break;
                size_t i = Below(static_cast<unsigned>(line.size()));
                wchar_t c = line[i];
                line[i] = iswupper(c) ? towlower(c) : towupper(c);
                what << "case in line " << at << " at " << i << "; ";
                break;
            }
            case 7: {
                static const unsigned lengths[] = {200, 239, 240, 241, 300, 2100, 5000};
                unsigned n = lengths[Below(7)];
                line += std::wstring(n, Below(2) ? L'7' : L'x');
                what << "long value (" << n << ") in line " << at << "; ";
                break;
            }
            case 8: {
                unsigned n = 1 + Below(30);
                line.insert(valueAt, std::wstring(n, L'0'));
                what << n << " leading zeros in line " << at << "; ";
                break;
            }
            case 9: {
                static const wchar_t odd[] = {0xD800, 0xDC00, 0xDBFF, 0xFFFD, 0x00A0, 0x3000, 0xFEFF,
                                              0x4E2D, L';', L'=', L'[', L']', L'"', 0x00E9};
                size_t i = Below(static_cast<unsigned>(line.size() + 1));
                wchar_t c = odd[Below(sizeof odd / sizeof odd[0])];
                line.insert(i, 1, c);
                what << "unit " << std::hex << static_cast<unsigned>(c) << std::dec << " in line " << at << " at " << i
                     << "; ";
                break;
            }
            case 10: {
                size_t other = Below(static_cast<unsigned>(lines.size()));
                std::swap(lines[at], lines[other]);
                what << "swap lines " << at << " and " << other << "; ";
                break;
            }
            case 11:
                line.erase(valueAt);
                what << "empty value in line " << at << "; ";
                break;
            case 12:
                if (eq == std::wstring::npos) break;
                line = line.substr(0, valueAt) + L"\"" + line.substr(valueAt) + L"\"";
                what << "quoted value in line " << at << "; ";
                break;
            default:
                line.insert(0, L";");
                what << "comment out line " << at << "; ";
                break;
            }
        }
        std::wstring text;
        for (const std::wstring& line : lines) text += line + L"\r\n";
        if (truncate) text.resize(truncateAt < text.size() ? truncateAt : text.size());
        std::string bytes = Encode(text, &what);
        *log = what.str();
        text_ = text;
        return bytes;
    }

private:
    static std::string Bytes(const std::wstring& text, bool bigEndian)
    {
        std::string out;
        for (wchar_t c : text) {
            char low = static_cast<char>(c & 0xFF), high = static_cast<char>(c >> 8);
            out += bigEndian ? high : low;
            out += bigEndian ? low : high;
        }
        return out;
    }
    static std::string Narrow(const std::wstring& text, UINT codePage)
    {
        int size = WideCharToMultiByte(codePage, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                       nullptr);
        std::string out(size, '\0');
        WideCharToMultiByte(codePage, 0, text.c_str(), static_cast<int>(text.size()), out.data(), size, nullptr,
                            nullptr);
        return out;
    }
    std::string Encode(const std::wstring& text, std::ostringstream* what)
    {
        unsigned kind = Below(8);
        switch (kind) {
        case 0:
            *what << "UTF-16LE without BOM";
            return Bytes(text, false);
        case 1:
            *what << "UTF-8 with BOM";
            return "\xEF\xBB\xBF" + Narrow(text, CP_UTF8);
        case 2:
            *what << "UTF-8 without BOM";
            return Narrow(text, CP_UTF8);
        case 3:
            *what << "ANSI";
            return Narrow(text, CP_ACP);
        case 4:
            *what << "UTF-16BE with BOM";
            return Bytes(L"\xFEFF" + text, true);
        default:
            *what << "UTF-16LE with BOM";
            return Bytes(L"\xFEFF" + text, false);
        }
    }

    std::mt19937 random_;
    std::wstring text_;
};

std::vector<std::wstring> Lines(const std::wstring& text)
{
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

TEST(ManifestFuzz, EveryRunEndsAsTheRulesPredict)
{
    const unsigned seed = FuzzSeed(FixedSeed, "ManifestFuzz");
    TempDir dir;
    Release release = MakeRelease({TextBytes(5000), RandomBytes(1500, 3), ""});
    ASSERT_FALSE(release.cabinet.empty());
    const std::wstring package = dir / L"application.cab", work = dir / L"work";
    ASSERT_TRUE(WriteBytes(package, release.cabinet));
    ULARGE_INTEGER freeBytes;
    ASSERT_TRUE(GetDiskFreeSpaceExW(dir.Path().c_str(), &freeBytes, nullptr, nullptr));
    const std::vector<std::wstring> lines = Lines(release.manifest.Text());

    Mutator mutator(seed);
    std::map<std::wstring, int> ends;
    for (int run = 0; run < Runs; ++run) {
        std::string log;
        std::string bytes = mutator.Mutate(lines, &log);
        // A name of its own for each run: the profile reader may cache a file it has read.
        const std::wstring manifest = dir / (L"manifest-" + std::to_wstring(run) + L".ini");
        ASSERT_TRUE(WriteBytes(manifest, bytes));
        SCOPED_TRACE("seed " + std::to_string(seed) + ", run " + std::to_string(run) + ": " + log);

        Expected expected = Predict(manifest, release, freeBytes.QuadPart);
        DeliveryJob* job = PayloadStart(manifest.c_str(), package.c_str(), work.c_str());
        ASSERT_NE(job, nullptr);
        JobStatus end = WaitUntil(job, [](const JobStatus& s) { return IsTerminal(s.phase); }, 20000);
        if (!IsTerminal(end.phase)) {
            ADD_FAILURE() << "no end within 20 s: phase " << end.phase << " " << Narrow(end.text);
            PayloadCancel(job);
        }
        bool predicted = end.phase == expected.phase && (expected.text.empty() || end.text == expected.text);
        EXPECT_TRUE(predicted) << "phase " << end.phase << " " << Narrow(end.text) << ", expected phase "
                               << expected.phase << " " << Narrow(expected.text) << "\nmanifest:\n"
                               << Narrow(mutator.Text());
        if (end.phase == PAYLOAD_READY) {
            for (size_t i = 0; i < release.contents.size(); ++i) {
                wchar_t name[8];
                swprintf(name, 8, L"%04u", static_cast<unsigned>(i));
                EXPECT_TRUE(ReadBytes(work + L"\\" + name) == release.contents[i]) << i;
            }
        }
        EXPECT_EQ(PayloadClose(job), 1);
        DeleteFileW(manifest.c_str());
        std::set<std::wstring> names;
        for (const std::wstring& name : ListDir(dir.Path())) names.insert(name);
        EXPECT_EQ(names, std::set<std::wstring>{L"application.cab"});
        ++ends[end.text];
        if (HasFatalFailure()) return;
    }
    // The fuzzer must reach more than the manifest check, or it tests only one rule.
    for (const auto& [text, n] : ends) printf("  %4d  %s\n", n, Narrow(text).c_str());
    EXPECT_GT(ends[texts::Ready], 0);
    EXPECT_GT(ends[texts::ManifestInvalid], 0);
    EXPECT_GT(ends.size(), 3u);
}

}  // namespace
