#include "tools/qelpack/part_options.h"

#include "tools/qelpack/ini_text.h"
#include "tools/qelpack/text.h"

int ParsePartOption(const std::string& option, const std::string& value, PackRequest* request, std::string* message)
{
    if (option == "--mirror") {
        request->mirrors.push_back(value);
        return 0;
    }
    if (request->hasPartSize) {
        *message = "refused: --part-size is given twice";
        return PackRefused;
    }
    unsigned long long bytes = 0;
    if (!IniNumber(value, MaxPartBytes, &bytes) || bytes == 0) {
        *message = "refused: --part-size " + Printable(value) + " is not a number of bytes from 1 to 2000000000";
        return PackRefused;
    }
    request->hasPartSize = true;
    request->partSize = bytes;
    return 0;
}
