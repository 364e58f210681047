#include "placement/holders.h"

#include <restartmanager.h>

#include "delivery/wstr.h"

void AppendHolderNames(const wchar_t* path, wchar_t* line, DWORD capacity)
{
    DWORD session = 0;
    wchar_t key[CCH_RM_SESSION_KEY + 1] = {};
    if (RmStartSession(&session, 0, key) != ERROR_SUCCESS) return;
    RM_PROCESS_INFO found[8];
    UINT needed = 0;
    UINT count = 8;
    DWORD reasons = 0;
    LPCWSTR files[] = {path};
    DWORD listed = RmRegisterResources(session, 1, files, 0, nullptr, 0, nullptr);
    if (listed == ERROR_SUCCESS) listed = RmGetList(session, &needed, &count, found, &reasons);
    // More holders than the list takes (ERROR_MORE_DATA) fill nothing: no names then.
    if (listed == ERROR_SUCCESS && count > 0) {
        if (count > 3) count = 3;
        WStrAppend(line, capacity, L"（");
        for (UINT i = 0; i < count; ++i) {
            if (i > 0) WStrAppend(line, capacity, L"、");
            found[i].strAppName[CCH_RM_MAX_APP_NAME] = 0;
            WStrAppend(line, capacity, found[i].strAppName[0] != 0 ? found[i].strAppName : L"?");
        }
        WStrAppend(line, capacity, L"）");
    }
    RmEndSession(session);
}
