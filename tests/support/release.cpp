#include "support/release.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <bcrypt.h>
#include <fci.h>

#include <cstdio>
#include <cstring>

#include "support/files.h"

std::wstring Sha256Hex(const std::string& bytes)
{
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    unsigned char digest[32] = {};
    BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0);
    BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())), static_cast<ULONG>(bytes.size()), 0);
    BCryptFinishHash(hash, digest, 32, 0);
    BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    std::wstring hex;
    for (unsigned char b : digest) {
        hex += L"0123456789abcdef"[b >> 4];
        hex += L"0123456789abcdef"[b & 15];
    }
    return hex;
}

namespace {

// FCI's callbacks over the C runtime's file functions (the test programs link one).
FNFCIALLOC(FciAlloc) { return malloc(cb); }
FNFCIFREE(FciFree) { free(memory); }
FNFCIOPEN(FciOpen)
{
    int fd = _open(pszFile, oflag | _O_BINARY, pmode);
    if (fd == -1) *err = errno;
    return fd;
}
FNFCIREAD(FciRead) { return static_cast<UINT>(_read(static_cast<int>(hf), memory, cb)); }
FNFCIWRITE(FciWrite) { return static_cast<UINT>(_write(static_cast<int>(hf), memory, cb)); }
FNFCICLOSE(FciClose) { return _close(static_cast<int>(hf)); }
FNFCISEEK(FciSeek) { return _lseek(static_cast<int>(hf), dist, seektype); }
FNFCIDELETE(FciDelete) { return remove(pszFile); }
FNFCIGETTEMPFILE(FciTempFile)
{
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    char name[MAX_PATH];
    if (!GetTempFileNameA(dir, "fci", 0, name)) return FALSE;
    DeleteFileA(name);
    if (strlen(name) >= static_cast<size_t>(cbTempName)) return FALSE;
    strcpy(pszTempName, name);
    return TRUE;
}
FNFCIFILEPLACED(FciPlaced) { return 0; }
FNFCIGETNEXTCABINET(FciNextCabinet) { return FALSE; }
FNFCISTATUS(FciStatus) { return 0; }
FNFCIGETOPENINFO(FciOpenInfo)
{
    *pdate = 0x5521;  // a fixed date and time keep cabinets reproducible
    *ptime = 0;
    *pattribs = _A_ARCH;
    return _open(pszName, _O_RDONLY | _O_BINARY);
}

}  // namespace

std::string MakeCabinet(const std::vector<std::pair<std::string, std::string>>& members, bool compress)
{
    TempDir dir;
    std::string folder = Narrow(dir.Path()) + "\\";
    CCAB ccab = {};
    ccab.cb = 0x7FFFFFFF;
    ccab.cbFolderThresh = 0x7FFFFFFF;
    strcpy(ccab.szCabPath, folder.c_str());
    strcpy(ccab.szCab, "application.cab");
    ERF erf = {};
    HFCI fci = FCICreate(&erf, FciPlaced, FciAlloc, FciFree, FciOpen, FciRead, FciWrite, FciClose, FciSeek,
                         FciDelete, FciTempFile, &ccab, nullptr);
    if (fci == nullptr) return {};
    bool ok = true;
    for (size_t i = 0; i < members.size() && ok; ++i) {
        std::wstring source = dir / (L"source" + std::to_wstring(i));
        ok = WriteBytes(source, members[i].second) &&
             FCIAddFile(fci, const_cast<char*>(Narrow(source).c_str()), const_cast<char*>(members[i].first.c_str()),
                        FALSE, FciNextCabinet, FciStatus, FciOpenInfo, compress ? tcompTYPE_MSZIP : tcompTYPE_NONE);
    }
    ok = ok && FCIFlushCabinet(fci, FALSE, FciNextCabinet, FciStatus);
    FCIDestroy(fci);
    return ok ? ReadBytes(dir / L"application.cab") : std::string();
}

void Manifest::Set(const std::wstring& section, const std::wstring& key, const std::wstring& value)
{
    for (Section& s : sections_) {
        if (s.name != section) continue;
        for (auto& kv : s.keys) {
            if (kv.first == key) {
                kv.second = value;
                return;
            }
        }
        s.keys.emplace_back(key, value);
        return;
    }
    sections_.push_back({section, {{key, value}}});
}

void Manifest::Remove(const std::wstring& section, const std::wstring& key)
{
    for (Section& s : sections_) {
        if (s.name != section) continue;
        for (size_t i = 0; i < s.keys.size(); ++i) {
            if (s.keys[i].first == key) s.keys.erase(s.keys.begin() + static_cast<long>(i));
        }
    }
}

void Manifest::RemoveSection(const std::wstring& section)
{
    for (size_t i = 0; i < sections_.size(); ++i) {
        if (sections_[i].name == section) sections_.erase(sections_.begin() + static_cast<long>(i));
    }
}

std::wstring Manifest::Get(const std::wstring& section, const std::wstring& key) const
{
    for (const Section& s : sections_) {
        if (s.name != section) continue;
        for (const auto& kv : s.keys) {
            if (kv.first == key) return kv.second;
        }
    }
    return {};
}

std::wstring Manifest::Text() const
{
    std::wstring text;
    for (const Section& s : sections_) {
        text += L"[" + s.name + L"]\r\n";
        for (const auto& kv : s.keys) text += kv.first + L"=" + kv.second + L"\r\n";
    }
    return text;
}

bool Manifest::Write(const std::wstring& path) const
{
    std::wstring text = L"\xFEFF" + Text();
    return WriteBytes(path, std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t)));
}

void DescribePackage(Manifest& manifest, const std::string& package)
{
    manifest.Set(L"Package", L"Size", std::to_wstring(package.size()));
    manifest.Set(L"Package", L"Sha256", Sha256Hex(package));
}

Release MakeRelease(const std::vector<std::string>& contents, bool compress)
{
    Release release;
    release.contents = contents;
    std::vector<std::pair<std::string, std::string>> members;
    unsigned long long unpacked = 0;
    for (size_t i = 0; i < contents.size(); ++i) {
        char name[8];
        snprintf(name, sizeof name, "%04u", static_cast<unsigned>(i));
        members.emplace_back(name, contents[i]);
        unpacked += contents[i].size();
    }
    release.cabinet = MakeCabinet(members, compress);

    Manifest& m = release.manifest;
    m.Set(L"Package", L"Format", L"qel-cab-2");
    m.Set(L"Package", L"Target", L"windows-x64");
    m.Set(L"Package", L"Count", std::to_wstring(contents.size()));
    DescribePackage(m, release.cabinet);
    m.Set(L"Package", L"UnpackedSize", std::to_wstring(unpacked));
    for (size_t i = 0; i < contents.size(); ++i) {
        wchar_t tag[8];
        swprintf(tag, 8, L"%04u", static_cast<unsigned>(i));
        std::wstring section = std::to_wstring(i);
        m.Set(section, L"Entry", tag);
        m.Set(section, L"Size", std::to_wstring(contents[i].size()));
        m.Set(section, L"Sha256", Sha256Hex(contents[i]));
        m.Set(section, L"Name", L"file" + std::to_wstring(i) + L".bin");
    }
    return release;
}

std::string RandomBytes(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    unsigned state = seed * 2654435761u + 1;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}

std::string TextBytes(size_t size)
{
    static const char words[] = "payload delivery verifies every member of the cabinet against its entry. ";
    std::string bytes;
    bytes.reserve(size);
    while (bytes.size() < size) bytes += words;
    bytes.resize(size);
    return bytes;
}
