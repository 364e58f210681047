// qelpack on Windows: makes and checks releases for qelfetch.
//   qelpack pack SOURCE_DIR OUT_DIR [--url https://...] [--mirror https://.../] [--part-size N] [--force]
//   qelpack picture IN OUT.bmp [--size N] [--accent 0x00BBGGRR] [--invert] | picture --check FILE.bmp
//   qelpack verify RELEASE_INI | MANIFEST PACKAGE
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/qelpack/cli.h"
#include "tools/qelpack/pack.h"
#include "tools/qelpack/picture.h"
#include "tools/qelpack/platform.h"
#include "tools/qelpack/platform_win.h"
#include "tools/qelpack/verify.h"

int wmain(int argc, wchar_t** argv)
{
    // Messages are UTF-8 bytes ending in LF, the same on both systems: no newline translation.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(NarrowPath(argv[i]));
    std::string message;
    int code = PackRefused;
    if (!args.empty() && args[0] == "picture") {
        code = RunPicture(args, &message);
    } else if (!args.empty() && args[0] == "verify") {
        if (args.size() == 3) return VerifyRelease(WidePath(AbsolutePath(args[1])), WidePath(AbsolutePath(args[2])));
        if (args.size() == 2) return VerifyIndex(WidePath(AbsolutePath(args[1])));
        message = UsageText;
    } else if (!args.empty() && args[0] == "check") {
        message = "refused: check is made by the Linux qelpack; use verify here";
    } else {
        PackRequest request;
        code = ParsePackArguments(args, &request, &message);
        if (code == 0) code = Pack(request, &message);
    }
    fprintf(code == 0 ? stdout : stderr, "qelpack: %s\n", message.c_str());
    return code;
}
