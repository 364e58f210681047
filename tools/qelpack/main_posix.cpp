// qelpack on Linux: makes and checks releases for qelfetch without Wine.
//   qelpack pack SOURCE_DIR OUT_DIR [--url https://...] [--mirror https://.../] [--part-size N] [--force]
//   qelpack picture IN OUT.bmp [--size N] [--accent 0x00BBGGRR] [--invert] | picture --check FILE.bmp
//   qelpack check RELEASE_INI | MANIFEST PACKAGE
#include <cstdio>
#include <string>
#include <vector>

#include "tools/qelpack/check.h"
#include "tools/qelpack/cli.h"
#include "tools/qelpack/pack.h"
#include "tools/qelpack/picture.h"

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string message;
    int code = PackRefused;
    if (!args.empty() && args[0] == "picture") {
        code = RunPicture(args, &message);
    } else if (!args.empty() && args[0] == "check") {
        if (args.size() == 3) {
            code = CheckRelease(args[1], args[2], &message);
        } else if (args.size() == 2) {
            code = CheckIndex(args[1], &message);
        } else {
            message = UsageText;
        }
    } else if (!args.empty() && args[0] == "verify") {
        message = "refused: verify runs a delivery through qelfetch.dll and is made by the Windows qelpack "
                  "(./qel verify); use check here";
    } else {
        PackRequest request;
        code = ParsePackArguments(args, &request, &message);
        if (code == 0) code = Pack(request, &message);
    }
    fprintf(code == 0 ? stdout : stderr, "qelpack: %s\n", message.c_str());
    return code;
}
