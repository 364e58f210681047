#include "support/unix_links.h"

#include <windows.h>

#include "support/files.h"

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

std::string UnixPath(const std::wstring& path)
{
    using ToUnix = char*(CDECL*)(const wchar_t*);
    auto toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (toUnix == nullptr) return std::string();
    char* unix = toUnix(path.c_str());
    if (unix == nullptr) return std::string();
    std::string result = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

bool RunUnix(const wchar_t* program, const std::string& arguments, const std::wstring& path, bool appears)
{
    wchar_t commandLine[4 * MAX_PATH];
    std::string command;
    command.append(1, '"').append(Narrow(program)).append("\" ").append(arguments);
    if (MultiByteToWideChar(CP_UTF8, 0, command.c_str(), -1, commandLine, 4 * MAX_PATH) == 0) return false;
    std::wstring image = std::wstring(L"Z:") + program;
    for (wchar_t& c : image) c = c == L'/' ? L'\\' : c;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(image.c_str(), commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    auto present = [&] { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; };
    DWORD start = GetTickCount();
    while (present() != appears && GetTickCount() - start < 5000) Sleep(10);
    return present() == appears;
}

bool MakeLink(const std::wstring& target, const std::wstring& link)
{
    std::string unixTarget = UnixPath(target);
    std::string unixLink = UnixPath(link);
    if (unixTarget.empty() || unixLink.empty()) return false;
    return RunUnix(L"/bin/ln", "-s " + Quoted(unixTarget) + " " + Quoted(unixLink), link, true);
}

bool RemoveLink(const std::wstring& link)
{
    std::string unixLink = UnixPath(link);
    if (unixLink.empty()) return false;
    return RunUnix(L"/bin/rm", Quoted(unixLink), link, false);
}
