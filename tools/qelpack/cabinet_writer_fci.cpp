// The cabinet on Windows, written by the platform's compressor (Cabinet.dll FCI). FCI only
// passes narrow names to its callbacks, so the writer hands it short tokens and maps them back to
// the wide paths of the sources, the cabinet and FCI's scratch files. Each source is opened
// without following reparse points, checked to be a file on disk inside the source folder, and
// read once by FCI: the read callback hashes and counts the bytes it hands over.
#include "tools/qelpack/cabinet_writer.h"

#include <windows.h>

#include <fcntl.h>

#include <fci.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "tools/qelpack/digest.h"
#include "tools/qelpack/pack.h"
#include "tools/qelpack/platform_win.h"
#include "tools/qelpack/text.h"

namespace {

// Narrow tokens that FCI passes back to the callbacks, mapped to wide paths.
struct Context {
    std::wstring cabinet;
    std::wstring scratchDir;
    std::vector<CabinetMember>* members;
    std::vector<std::wstring> scratch;  // "~N" -> path
    // The source being added: its handle, its running digest, and a refusal or failure seen
    // while opening or reading it.
    INT_PTR current = -1;
    size_t currentIndex = 0;
    std::unique_ptr<Sha256> digest;
    int code = 0;
    std::string reason;
};

constexpr char CabinetToken[] = "out.cab";

bool Resolve(Context* context, const char* token, std::wstring* path)
{
    if (strcmp(token, CabinetToken) == 0) {
        *path = context->cabinet;
        return true;
    }
    unsigned index = 0;
    char kind = 0;
    if (sscanf(token, "%c%u", &kind, &index) != 2) return false;
    if (kind == '#' && index < context->members->size()) {
        *path = WidePath((*context->members)[index].source);
        return true;
    }
    if (kind == '~' && index < context->scratch.size()) {
        *path = context->scratch[index];
        return true;
    }
    return false;
}

INT_PTR OpenPath(const std::wstring& path, int oflag)
{
    DWORD access = (oflag & (_O_WRONLY | _O_RDWR)) ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    if (oflag & _O_CREAT) disposition = (oflag & _O_TRUNC) ? CREATE_ALWAYS : OPEN_ALWAYS;
    HANDLE file = CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<INT_PTR>(file);
}

FNFCIALLOC(Alloc) { return HeapAlloc(GetProcessHeap(), 0, cb); }
FNFCIFREE(Free) { HeapFree(GetProcessHeap(), 0, memory); }

FNFCIOPEN(Open)
{
    auto* context = static_cast<Context*>(pv);
    (void)pmode;
    std::wstring path;
    if (!Resolve(context, pszFile, &path)) {
        *err = ENOENT;
        return -1;
    }
    INT_PTR file = OpenPath(path, oflag);
    if (file == -1) *err = static_cast<int>(GetLastError());
    return file;
}

FNFCIREAD(Read)
{
    auto* context = static_cast<Context*>(pv);
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(hf), memory, cb, &got, nullptr)) {
        *err = static_cast<int>(GetLastError());
        if (hf == context->current) {
            CabinetMember& member = (*context->members)[context->currentIndex];
            context->code = PackFailed;
            context->reason = "cannot read " + member.display + " (system error " + std::to_string(*err) + ")";
        }
        return static_cast<UINT>(-1);
    }
    if (hf == context->current && got > 0) {
        CabinetMember& member = (*context->members)[context->currentIndex];
        member.readBytes += got;
        if (member.readBytes > member.listedSize) {
            // The file grew after it was listed: stop here rather than store more than listed.
            context->code = PackFailed;
            context->reason = member.display + " changed while it was read (listed " + std::to_string(member.listedSize) +
                              " bytes, read more)";
            *err = ERROR_FILE_INVALID;
            return static_cast<UINT>(-1);
        }
        context->digest->Update(memory, got);
    }
    return got;
}

FNFCIWRITE(Write)
{
    (void)pv;
    DWORD put = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(hf), memory, cb, &put, nullptr) || put != cb) {
        *err = static_cast<int>(GetLastError());
        return static_cast<UINT>(-1);
    }
    return put;
}

FNFCICLOSE(Close)
{
    auto* context = static_cast<Context*>(pv);
    if (hf == context->current) context->current = -1;
    if (!CloseHandle(reinterpret_cast<HANDLE>(hf))) {
        *err = static_cast<int>(GetLastError());
        return -1;
    }
    return 0;
}

FNFCISEEK(Seek)
{
    (void)pv;
    LARGE_INTEGER distance, position;
    distance.QuadPart = dist;
    if (!SetFilePointerEx(reinterpret_cast<HANDLE>(hf), distance, &position, static_cast<DWORD>(seektype))) {
        *err = static_cast<int>(GetLastError());
        return -1;
    }
    return static_cast<__LONG32>(position.QuadPart);
}

FNFCIDELETE(Delete)
{
    auto* context = static_cast<Context*>(pv);
    std::wstring path;
    if (!Resolve(context, pszFile, &path) || !DeleteFileW(path.c_str())) {
        *err = static_cast<int>(GetLastError());
        return -1;
    }
    return 0;
}

FNFCIGETTEMPFILE(TempFile)
{
    auto* context = static_cast<Context*>(pv);
    char token[16];
    snprintf(token, sizeof token, "~%u", static_cast<unsigned>(context->scratch.size()));
    if (static_cast<int>(strlen(token)) >= cbTempName) return FALSE;
    context->scratch.push_back(context->scratchDir + L"\\qelpack-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                               std::to_wstring(context->scratch.size()) + L".tmp");
    strcpy(pszTempName, token);
    return TRUE;
}

FNFCIFILEPLACED(Placed) { return 0; }
FNFCIGETNEXTCABINET(NextCabinet) { return FALSE; }
FNFCISTATUS(Status) { return 0; }

FNFCIGETOPENINFO(OpenInfo)
{
    auto* context = static_cast<Context*>(pv);
    std::wstring path;
    if (!Resolve(context, pszName, &path)) {
        *err = ENOENT;
        return -1;
    }
    // A fixed date and time, and the archive attribute only: the same sources give the same
    // cabinet, and no member carries the run-after-extraction bit.
    *pdate = (2020 - 1980) << 9 | 1 << 5 | 1;
    *ptime = 0;
    *pattribs = _A_ARCH;
    CabinetMember& member = (*context->members)[context->currentIndex];
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *err = static_cast<int>(GetLastError());
        context->code = PackFailed;
        context->reason = "cannot open " + member.display + " (system error " + std::to_string(*err) + ")";
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION info;
    wchar_t final[32768];
    DWORD n = 0;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE))) {
        context->code = PackRefused;
        context->reason = "refused " + member.display + ": it is not a regular file; a release holds regular files only";
    } else if ((n = GetFinalPathNameByHandleW(file, final, 32768, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)) == 0 ||
               n >= 32768) {
        context->code = PackFailed;
        context->reason = "cannot tell where " + member.display + " lies (system error " + std::to_string(GetLastError()) + ")";
    } else {
        std::wstring where(final, n);
        if (where.compare(0, 4, L"\\\\?\\") == 0) where.erase(0, 4);
        std::u16string inside(where.begin(), where.end()), root;
        Utf8ToUtf16(member.root + "\\", &root);
        if (FoldCase(inside).compare(0, root.size(), FoldCase(root)) != 0) {
            context->code = PackRefused;
            context->reason = "refused " + member.display + ": it lies outside SOURCE_DIR";
        }
    }
    if (context->code != 0) {
        CloseHandle(file);
        *err = ERROR_ACCESS_DENIED;
        return -1;
    }
    context->current = reinterpret_cast<INT_PTR>(file);
    return context->current;
}

}  // namespace

int WriteCabinet(const std::string& path, const std::string& scratchDir, std::vector<CabinetMember>* members,
                 std::string* error)
{
    Context context;
    context.cabinet = WidePath(path);
    context.scratchDir = WidePath(scratchDir);
    context.members = members;

    CCAB ccab = {};
    ccab.cb = 0x7FFFFFFF;  // one cabinet, one folder: never split
    ccab.cbFolderThresh = 0x7FFFFFFF;
    strcpy(ccab.szCab, CabinetToken);

    ERF erf = {};
    HFCI fci = FCICreate(&erf, Placed, Alloc, Free, Open, Read, Write, Close, Seek, Delete, TempFile, &ccab, &context);
    if (fci == nullptr) {
        *error = "the cabinet compressor could not start (FCI error " + std::to_string(erf.erfOper) + ")";
        return PackFailed;
    }
    int code = 0;
    for (size_t i = 0; i < members->size() && code == 0; ++i) {
        CabinetMember& member = (*members)[i];
        char token[16];
        snprintf(token, sizeof token, "#%u", static_cast<unsigned>(i));
        context.currentIndex = i;
        context.digest.reset(new Sha256);
        member.readBytes = 0;
        if (!context.digest->Ready()) {
            code = PackFailed;
            *error = "the SHA-256 provider is not available";
            break;
        }
        bool added = FCIAddFile(fci, token, const_cast<char*>(member.name.c_str()), FALSE, NextCabinet, Status, OpenInfo,
                                tcompTYPE_MSZIP);
        if (context.code != 0) {
            code = context.code;
            *error = context.reason;
        } else if (!added) {
            code = PackFailed;
            *error = "cannot compress " + member.display + " (FCI error " + std::to_string(erf.erfOper) + ", system error " +
                     std::to_string(erf.erfType) + ")";
        } else if (member.readBytes != member.listedSize) {
            code = PackFailed;
            *error = member.display + " changed while it was read (listed " + std::to_string(member.listedSize) +
                     " bytes, read " + std::to_string(member.readBytes) + ")";
        } else {
            member.sha256 = context.digest->Finish();
            if (member.sha256.empty()) {
                code = PackFailed;
                *error = "cannot hash " + member.display;
            }
        }
    }
    if (code == 0 && !FCIFlushCabinet(fci, FALSE, NextCabinet, Status)) {
        code = PackFailed;
        *error = "cannot write " + Printable(path) + " (FCI error " + std::to_string(erf.erfOper) + ", system error " +
                 std::to_string(erf.erfType) + ")";
    }
    FCIDestroy(fci);
    for (const std::wstring& scratch : context.scratch) DeleteFileW(scratch.c_str());
    return code;
}
