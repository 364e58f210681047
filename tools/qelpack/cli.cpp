#include "tools/qelpack/cli.h"

#include "tools/qelpack/part_options.h"
#include "tools/qelpack/text.h"

const char UsageText[] =
    "usage: qelpack pack SOURCE_DIR OUT_DIR [--url https://host/path[/]] [--mirror https://host/path/]... "
    "[--part-size BYTES] [--force] | qelpack verify RELEASE_INI or MANIFEST PACKAGE (Windows) | qelpack check "
    "RELEASE_INI or MANIFEST PACKAGE (Linux) | qelpack picture IN OUT.bmp [--size N] [--accent 0x00BBGGRR] "
    "[--invert] | qelpack picture --check FILE.bmp";

int ParsePackArguments(const std::vector<std::string>& args, PackRequest* request, std::string* message)
{
    if (args.size() < 3 || args[0] != "pack") {
        *message = UsageText;
        return PackRefused;
    }
    request->source = args[1];
    request->out = args[2];
    if (request->source.empty() || request->out.empty()) {
        *message = "refused: SOURCE_DIR and OUT_DIR must not be empty";
        return PackRefused;
    }
    for (size_t i = 3; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (option == "--force") {
            if (request->force) {
                *message = "refused: --force is given twice";
                return PackRefused;
            }
            request->force = true;
        } else if (option == "--url") {
            if (request->hasUrl) {
                *message = "refused: --url is given twice";
                return PackRefused;
            }
            if (i + 1 >= args.size()) {
                *message = "refused: --url needs an address";
                return PackRefused;
            }
            request->hasUrl = true;
            request->url = args[++i];
        } else if (option == "--mirror" || option == "--part-size") {
            if (i + 1 >= args.size()) {
                *message = "refused: " + option + (option == "--mirror" ? " needs an address" : " needs a number of bytes");
                return PackRefused;
            }
            if (int code = ParsePartOption(option, args[++i], request, message)) return code;
        } else {
            *message = "refused: unknown argument " + Printable(option) + "; " + UsageText;
            return PackRefused;
        }
    }
    return 0;
}
