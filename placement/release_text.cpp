#include "placement/release_text.h"

#include "delivery/wstr.h"
#include "placement/paths.h"

namespace {

constexpr DWORD LineCapacity = 1024;

// Megabytes of 1,000,000 bytes with two decimals, rounded half up, as AppendMegabytes writes
// them, but in 64-bit arithmetic: a release's total is not bound by one part's limit.
void AppendLongMegabytes(wchar_t* line, ULONGLONG bytes)
{
    ULONGLONG hundredths = (bytes + 5000) / 10000;
    AppendDecimal(line, LineCapacity, static_cast<DWORD>(hundredths / 100), 1);
    WStrAppend(line, LineCapacity, L".");
    AppendDecimal(line, LineCapacity, static_cast<DWORD>(hundredths % 100), 2);
}

}  // namespace

int ReadDownloadedBytes(const wchar_t* line, ULONGLONG* bytes)
{
    static const wchar_t head[] = L"已下载 ";
    if (!TextStartsWith(line, head)) return 0;
    const wchar_t* c = line + sizeof(head) / sizeof(head[0]) - 1;
    ULONGLONG whole = 0;
    const wchar_t* start = c;
    for (; *c >= L'0' && *c <= L'9' && c - start < 12; ++c) whole = whole * 10 + static_cast<ULONGLONG>(*c - L'0');
    if (c == start || c[0] != L'.' || c[1] < L'0' || c[1] > L'9' || c[2] < L'0' || c[2] > L'9' || c[3] != L' ') return 0;
    *bytes = whole * 1000000 + static_cast<ULONGLONG>((c[1] - L'0') * 10 + (c[2] - L'0')) * 10000;
    return 1;
}

void DownloadLine(wchar_t* line, ULONGLONG done, ULONGLONG total)
{
    WStrCopy(line, LineCapacity, L"已下载 ");
    AppendLongMegabytes(line, done);
    WStrAppend(line, LineCapacity, L" / ");
    AppendLongMegabytes(line, total);
    WStrAppend(line, LineCapacity, L" MB");
}

void RetryLine(wchar_t* line, DWORD seconds, DWORD retry)
{
    WStrCopy(line, LineCapacity, L"网络中断，");
    AppendDecimal(line, LineCapacity, seconds, 1);
    WStrAppend(line, LineCapacity, L" 秒后重试（第 ");
    AppendDecimal(line, LineCapacity, retry, 1);
    WStrAppend(line, LineCapacity, L" 次）…");
}
