// Test-bed tool: starts a program that sees high contrast switched on, waits for it and exits with
// its exit code.
//   contrast_start.exe PROGRAM [ARGUMENT...]
// Wine 8 cannot switch high contrast on (SPI_SETHIGHCONTRAST fails with 1439 and
// SPI_GETHIGHCONTRAST always answers off), so the program's user32.dll is made to answer it: the
// program is started under this tool as its debugger; when user32.dll has been mapped, and before
// anything in the program has looked SystemParametersInfoW up, the export table entry of
// SystemParametersInfoW is pointed at a few bytes of code in the program that answer
// SPI_GETHIGHCONTRAST with HCF_HIGHCONTRASTON and pass every other call to the real function.
// Imports bound afterwards (the program's, qelskin.dll's) and GetProcAddress (NSIS's System
// plug-in) then get that code. The tool detaches at once; the program runs on by itself.
// 32-bit programs only. Exit 3 when the program could not be started or patched.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#if defined(__i386__)
namespace {

// stdcall BOOL SystemParametersInfoW(UINT action, UINT value, void* data, UINT update):
//   if (action == SPI_GETHIGHCONTRAST && data != 0 && data->cbSize == 12) {
//       data->dwFlags = HCF_AVAILABLE | HCF_HIGHCONTRASTON; data->lpszDefaultScheme = 0;
//       return TRUE;
//   }
//   jump to the real function, with the caller's frame untouched.
constexpr unsigned char kAnswer[] = {
    0x8B, 0x44, 0x24, 0x04,              // mov eax, [esp+4]      action
    0x83, 0xF8, 0x42,                    // cmp eax, 42h          SPI_GETHIGHCONTRAST
    0x75, 0x23,                          // jne forward
    0x8B, 0x44, 0x24, 0x0C,              // mov eax, [esp+12]     data
    0x85, 0xC0,                          // test eax, eax
    0x74, 0x1B,                          // jz forward
    0x83, 0x38, 0x0C,                    // cmp dword [eax], 12   cbSize of HIGHCONTRASTW
    0x75, 0x16,                          // jne forward
    0xC7, 0x40, 0x04, 0x03, 0, 0, 0,     // mov dword [eax+4], 3  dwFlags
    0xC7, 0x40, 0x08, 0, 0, 0, 0,        // mov dword [eax+8], 0  lpszDefaultScheme
    0xB8, 0x01, 0, 0, 0,                 // mov eax, 1
    0xC2, 0x10, 0x00,                    // ret 16
    0xB8, 0, 0, 0, 0,                    // forward: mov eax, <real function>
    0xFF, 0xE0,                          // jmp eax
};
constexpr size_t kRealAddressAt = sizeof kAnswer - 6;

// The export table slot of a function in a module mapped at the same address in both processes
// (system DLLs are), found in this process's copy.
DWORD* ExportSlot(HMODULE module, const char* name)
{
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto* exports = reinterpret_cast<IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
    auto* names = reinterpret_cast<DWORD*>(base + exports->AddressOfNames);
    auto* ordinals = reinterpret_cast<WORD*>(base + exports->AddressOfNameOrdinals);
    auto* functions = reinterpret_cast<DWORD*>(base + exports->AddressOfFunctions);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        if (std::strcmp(reinterpret_cast<const char*>(base + names[i]), name) == 0) return functions + ordinals[i];
    }
    return nullptr;
}

bool Patch(HANDLE process, HMODULE user32)
{
    DWORD* slot = ExportSlot(user32, "SystemParametersInfoW");
    if (slot == nullptr) return false;
    auto* base = reinterpret_cast<BYTE*>(user32);
    void* code = VirtualAllocEx(process, nullptr, sizeof kAnswer, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
    if (code == nullptr) return false;
    unsigned char answer[sizeof kAnswer];
    std::memcpy(answer, kAnswer, sizeof answer);
    const DWORD real = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(base + *slot));
    std::memcpy(answer + kRealAddressAt, &real, sizeof real);
    SIZE_T written = 0;
    if (!WriteProcessMemory(process, code, answer, sizeof answer, &written) || written != sizeof answer) return false;
    // Export entries are addresses relative to the module; 32-bit arithmetic wraps around.
    const DWORD relative = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(code)) - static_cast<DWORD>(reinterpret_cast<UINT_PTR>(base));
    DWORD old = 0;
    if (!VirtualProtectEx(process, slot, sizeof relative, PAGE_READWRITE, &old)) return false;
    const bool done = WriteProcessMemory(process, slot, &relative, sizeof relative, &written) && written == sizeof relative;
    VirtualProtectEx(process, slot, sizeof relative, old, &old);
    return done;
}

}  // namespace
#endif

int wmain(int argc, wchar_t** argv)
{
#if !defined(__i386__)
    (void)argc;
    (void)argv;
    std::fprintf(stderr, "contrast_start: 32-bit programs only\n");
    return 3;
#else
    if (argc < 2) return 2;
    // Arguments are passed as they came; only those with a space are quoted (NSIS takes /D=
    // only unquoted).
    std::wstring command;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) command += L' ';
        const bool quoted = std::wcschr(argv[i], L' ') != nullptr || std::wcschr(argv[i], L'\t') != nullptr;
        if (quoted) command += L'"';
        command += argv[i];
        if (quoted) command += L'"';
    }
    HMODULE user32 = LoadLibraryW(L"user32.dll");
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (user32 == nullptr || !CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS,
                                             nullptr, nullptr, &startup, &child)) {
        std::fprintf(stderr, "contrast_start: cannot start the program (%lu)\n", GetLastError());
        return 3;
    }
    bool patched = false, ended = false;
    DEBUG_EVENT event;
    while (!patched && !ended && WaitForDebugEvent(&event, 30000)) {
        DWORD status = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            if (event.u.CreateProcessInfo.hFile != nullptr) CloseHandle(event.u.CreateProcessInfo.hFile);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (event.u.LoadDll.hFile != nullptr) CloseHandle(event.u.LoadDll.hFile);
            if (event.u.LoadDll.lpBaseOfDll == user32) {
                if (!Patch(child.hProcess, user32)) {
                    std::fprintf(stderr, "contrast_start: cannot answer for user32.dll\n");
                    TerminateProcess(child.hProcess, 3);
                }
                patched = true;
            }
            break;
        case EXCEPTION_DEBUG_EVENT:
            if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) status = DBG_EXCEPTION_NOT_HANDLED;
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            ended = true;
            break;
        default:
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
    DebugSetProcessKillOnExit(FALSE);
    DebugActiveProcessStop(child.dwProcessId);
    if (!patched) {
        std::fprintf(stderr, "contrast_start: user32.dll was never mapped\n");
        TerminateProcess(child.hProcess, 3);
    }
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD code = 3;
    GetExitCodeProcess(child.hProcess, &code);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return patched ? static_cast<int>(code) : 3;
#endif
}
