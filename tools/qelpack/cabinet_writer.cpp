#include "tools/qelpack/cabinet_writer.h"

#include <fcntl.h>

#include <fci.h>

#include <cstdio>
#include <cstring>

namespace {

// Narrow tokens that FCI passes back to the callbacks, mapped to wide paths.
struct Context {
    std::wstring cabinet;
    std::wstring scratchDir;
    const std::vector<CabinetMember>* members;
    std::vector<std::wstring> scratch;  // "~N" -> path
    int lastError = 0;
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
        *path = (*context->members)[index].source;
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
    (void)pv;
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(hf), memory, cb, &got, nullptr)) {
        *err = static_cast<int>(GetLastError());
        return static_cast<UINT>(-1);
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
    (void)pv;
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
    INT_PTR file = OpenPath(path, _O_RDONLY);
    if (file == -1) *err = static_cast<int>(GetLastError());
    return file;
}

}  // namespace

bool WriteCabinet(const std::wstring& path, const std::wstring& scratchDir, const std::vector<CabinetMember>& members,
                  bool compress, std::string* error)
{
    Context context;
    context.cabinet = path;
    context.scratchDir = scratchDir;
    context.members = &members;

    CCAB ccab = {};
    ccab.cb = 0x7FFFFFFF;  // one cabinet, one folder: never split
    ccab.cbFolderThresh = 0x7FFFFFFF;
    strcpy(ccab.szCab, CabinetToken);

    ERF erf = {};
    HFCI fci = FCICreate(&erf, Placed, Alloc, Free, Open, Read, Write, Close, Seek, Delete, TempFile, &ccab, &context);
    if (fci == nullptr) {
        *error = "the cabinet compressor could not start (FCI error " + std::to_string(erf.erfOper) + ")";
        return false;
    }
    bool ok = true;
    for (size_t i = 0; i < members.size() && ok; ++i) {
        char token[16];
        snprintf(token, sizeof token, "#%u", static_cast<unsigned>(i));
        ok = FCIAddFile(fci, token, const_cast<char*>(members[i].name.c_str()), FALSE, NextCabinet, Status, OpenInfo,
                        compress ? tcompTYPE_MSZIP : tcompTYPE_NONE);
    }
    ok = ok && FCIFlushCabinet(fci, FALSE, NextCabinet, Status);
    if (!ok) *error = "the cabinet could not be written (FCI error " + std::to_string(erf.erfOper) + ", system error " +
                      std::to_string(erf.erfType) + ")";
    FCIDestroy(fci);
    for (const std::wstring& scratch : context.scratch) DeleteFileW(scratch.c_str());
    return ok;
}
