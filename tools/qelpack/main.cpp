// qelpack: makes and checks releases for qelfetch.
//   qelpack pack SOURCE_DIR OUT_DIR [--url https://...] [--force]
//   qelpack verify MANIFEST PACKAGE
#include <windows.h>

#include <cstdio>
#include <string>

#include "tools/qelpack/pack.h"
#include "tools/qelpack/verify.h"

namespace {

int Usage()
{
    fputs("usage: qelpack pack SOURCE_DIR OUT_DIR [--url https://host/path] [--force]\n"
          "       qelpack verify MANIFEST PACKAGE\n",
          stderr);
    return PackRefused;
}

std::wstring Absolute(const wchar_t* path)
{
    wchar_t full[32768];
    DWORD n = GetFullPathNameW(path, 32768, full, nullptr);
    std::wstring result = n > 0 && n < 32768 ? std::wstring(full, n) : std::wstring(path);
    while (result.size() > 3 && (result.back() == L'\\' || result.back() == L'/')) result.pop_back();
    return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc >= 2 && std::wstring(argv[1]) == L"verify") {
        if (argc != 4) return Usage();
        return VerifyRelease(Absolute(argv[2]), Absolute(argv[3]));
    }
    if (argc < 4 || std::wstring(argv[1]) != L"pack") return Usage();
    PackRequest request;
    request.source = Absolute(argv[2]);
    request.out = Absolute(argv[3]);
    for (int i = 4; i < argc; ++i) {
        std::wstring option = argv[i];
        if (option == L"--force") {
            request.force = true;
        } else if (option == L"--url" && i + 1 < argc) {
            request.url = argv[++i];
        } else {
            return Usage();
        }
    }
    std::string message;
    int code = Pack(request, &message);
    fprintf(code == PackDone ? stdout : stderr, "qelpack: %s\n", message.c_str());
    return code;
}
