// Status text of a whole release: the downloading line over every part, in the form of
// qelfetch's own line ("已下载 812.40 / 3204.77 MB"), and the pause before a new try.
#pragma once
#include <windows.h>

// Bytes received so far, read back from qelfetch's line "已下载 A / B MB" (A in hundredths of a
// megabyte, so within 5,000 bytes). 0 when the line is another one.
int ReadDownloadedBytes(const wchar_t* line, ULONGLONG* bytes);

// "已下载 " done " / " total " MB" into line (1024 units); counts may pass 2^32 (a release's total).
void DownloadLine(wchar_t* line, ULONGLONG done, ULONGLONG total);

// "网络中断，N 秒后重试（第 K 次）…" into line (1024 units).
void RetryLine(wchar_t* line, DWORD seconds, DWORD retry);
